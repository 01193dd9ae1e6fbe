#pragma once

#include <cstddef>
#include <cstdint>

// How the fast relocation phases read a candidate of the search window straight from the
// generator's output (Random::Output), as Random::BelowTwice(20) draws it where it does not
// reject: a draw's bounded value is the bits from 30 on of the product of its half by 5, and it
// is rejected exactly where the low 30 bits of that product are below 4.
namespace zelmora::detail {

// The candidate of the window tables colAt and rowAt (OccupancyCopy::ColAt, RowStartAt, from the
// agent's place) that the output x draws: column from its upper half, row from its lower.
inline std::size_t DrawnCell(std::uint64_t x, const std::size_t* colAt, const std::size_t* rowAt) {
  return rowAt[((x & 0xffffffffu) * 5) >> 30] + colAt[((x >> 32) * 5) >> 30];
}

// Negative where either draw whose products by 5 are c5 and r5 may be rejected: where the low 30
// bits of the two, ANDed, are below 4.
inline std::uint64_t NearRejection(std::uint64_t c5, std::uint64_t r5) { return ((c5 & r5) & 0x3fffffffu) - 4; }

// The same mark from the output x alone, for draws whose cells are not needed, in fewer steps:
// x * 5 holds the row's product in its low half, and the column's in its high half plus at most
// 4 carried over, so the column's low 30 bits below 4 show there as below 8 (more false alarms).
inline std::uint64_t NearRejection(std::uint64_t x) {
  const std::uint64_t z = x * 5;
  return ((z & (z >> 32)) & 0x3fffffffu) - 8;
}

}  // namespace zelmora::detail
