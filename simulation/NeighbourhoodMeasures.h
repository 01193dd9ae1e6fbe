#pragma once

#include <cstdint>
#include <vector>

#include "simulation/ModelShape.h"

namespace zelmora {

// The occupancy's measures in any shape's neighbourhood (its radius, with or without the torus),
// counted afresh from the occupancy (a byte per cell, row-major: 0 free, 1 + the colour of its
// agent). The measure of shapes IncrementalMeasures does not serve: it keeps nothing between calls
// but its buffers.
class NeighbourhoodMeasures {
 public:
  struct Result {
    std::int64_t counted = 0;      // agents with at least one occupied neighbour
    double likeShares = 0.0;       // the sum of their like / neighbours
    std::int64_t unsatisfied = 0;  // agents the segregation rule leaves unsatisfied
    std::int64_t clusters = 0;     // groups of same-colour agents joined through neighbourhoods
  };
  Result Measure(const std::uint8_t* occupancy, std::int32_t cols, std::int32_t rows, const ModelShape& shape,
                 double thresholdPercent);

 private:
  std::int32_t Find(std::int32_t k);
  std::vector<std::int32_t> parent_;
};

}  // namespace zelmora
