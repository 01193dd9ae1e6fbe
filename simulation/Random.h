#pragma once

#include <cstdint>

namespace zelmora {

// Uniform integers in [0, n) from a small, fast 64-bit generator. Bounded draws use the
// multiply-and-reject method, so no value is favoured as plain modulo would favour it.
class Random {
 public:
  void Seed(std::uint64_t seed) { state_ = seed; }

  std::uint64_t Next() {
    state_ += 0xa0761d6478bd642fULL;
    const unsigned __int128 t = static_cast<unsigned __int128>(state_) * (state_ ^ 0xe7037ed1a0b428dbULL);
    return static_cast<std::uint64_t>(t >> 64) ^ static_cast<std::uint64_t>(t);
  }

  // The generator as a number, for loops that keep it in a register: Next() adds Increment to
  // the state and returns Output of the sum, and Seed(State()) puts a generator back.
  static constexpr std::uint64_t Increment = 0xa0761d6478bd642fULL;
  static std::uint64_t Output(std::uint64_t state) {
#if defined(__x86_64__) && defined(__GNUC__)
    // The same product in one instruction: GCC may take the halves of a 128-bit product through
    // memory, a store and a load in the middle of every draw.
    std::uint64_t low = state, high;
    asm("mulq %2" : "+a"(low), "=d"(high) : "r"(state ^ 0xe7037ed1a0b428dbULL) : "cc");
    return high ^ low;
#else
    const unsigned __int128 t = static_cast<unsigned __int128>(state) * (state ^ 0xe7037ed1a0b428dbULL);
    return static_cast<std::uint64_t>(t >> 64) ^ static_cast<std::uint64_t>(t);
#endif
  }
  std::uint64_t State() const { return state_; }

  // Two draws in [0, n) from one 64-bit output, the first from its upper half. The same
  // uniformity as two calls of Below; n must be at least 1.
  void BelowTwice(std::uint32_t n, std::uint32_t& first, std::uint32_t& second) {
    const std::uint64_t x = Next();
    first = Below32(static_cast<std::uint32_t>(x >> 32), n);
    second = Below32(static_cast<std::uint32_t>(x), n);
  }

  // n must be at least 1.
  std::uint32_t Below(std::uint32_t n) {
    unsigned __int128 m = static_cast<unsigned __int128>(Next()) * n;
    std::uint64_t low = static_cast<std::uint64_t>(m);
    if (low < n) {
      const std::uint64_t threshold = (0 - static_cast<std::uint64_t>(n)) % n;
      while (low < threshold) {
        m = static_cast<unsigned __int128>(Next()) * n;
        low = static_cast<std::uint64_t>(m);
      }
    }
    return static_cast<std::uint32_t>(m >> 64);
  }

 private:
  // Maps 32 random bits to [0, n), drawing afresh in the rare rejected case.
  std::uint32_t Below32(std::uint32_t bits, std::uint32_t n) {
    std::uint64_t m = std::uint64_t(bits) * n;
    std::uint32_t low = static_cast<std::uint32_t>(m);
    if (low < n) {
      const std::uint32_t threshold = (0u - n) % n;
      while (low < threshold) {
        m = std::uint64_t(static_cast<std::uint32_t>(Next() >> 32)) * n;
        low = static_cast<std::uint32_t>(m);
      }
    }
    return static_cast<std::uint32_t>(m >> 32);
  }

  std::uint64_t state_ = 0;
};

}  // namespace zelmora
