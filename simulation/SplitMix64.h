#pragma once

#include <cstdint>

namespace zelmora {

// SplitMix64's output function: a bijective mix of 64 bits.
constexpr std::uint64_t Mix64(std::uint64_t x) {
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// SplitMix64's increment: the golden ratio in 64 bits.
inline constexpr std::uint64_t GoldenGamma = 0x9e3779b97f4a7c15ULL;

// One step of SplitMix64 from `state`: the next output of the stream that stands at `state`.
constexpr std::uint64_t SplitMix64(std::uint64_t state) { return Mix64(state + GoldenGamma); }

}  // namespace zelmora
