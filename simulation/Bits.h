#pragma once

#include <cstdint>

// Counting set bits in a few inline operations: without a popcount instruction in the baseline
// instruction set, std::popcount is a library call, too dear in the fast phases' loops.
namespace zelmora::detail {

inline constexpr std::uint64_t kEveryByte = 0x0101010101010101u;

// Per byte of x, its set bits.
constexpr std::uint64_t ByteOnes(std::uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555u;
  x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
  return (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
}

constexpr int Ones(std::uint64_t x) { return int((ByteOnes(x) * kEveryByte) >> 56); }

static_assert(Ones(0) == 0 && Ones(~std::uint64_t(0)) == 64 && Ones(0x8000000000000001u) == 2 &&
              Ones(0x0123456789ABCDEFu) == 32 && Ones(0xFFu << 20) == 8);

}  // namespace zelmora::detail
