// EvaluateSegregation at the cost of what changed. A cell's counts depend only on who stands in
// its 3 x 3 block, and its agent's flag only on the counts and the threshold. So with the
// threshold as at the last evaluation, only the blocks around cells whose occupant changed since
// (MoveAgent notes them) are counted again; every other cell and agent would be given the values
// they hold already. Counting reads the one-byte-per-cell copy of the occupancy, and a cell or
// agent is written only where its value differs, so the lines of the big cell array are touched
// only where something changed.
#include <array>
#include <bit>

#include "simulation/ModelMath.h"
#include "simulation/World.h"

namespace zelmora {

void World::EvaluateCell(std::size_t k, std::int32_t col, std::int32_t row, const bool* satisfiedBy) {
  const std::uint8_t self = cellState_[k];
  std::int32_t occupied = 0;
  std::int32_t like = 0;
  const auto count = [&](std::uint8_t s) {
    occupied += s != 0;
    like += s == self;
  };
  if (col > 0 && col < GridCols - 1 && row > 0 && row < GridRows - 1) {
    // Away from the edges the block needs no wrapping: the cells lie at fixed offsets.
    const std::uint8_t* above = &cellState_[k - std::size_t(GridCols)];
    const std::uint8_t* here = &cellState_[k];
    const std::uint8_t* below = &cellState_[k + std::size_t(GridCols)];
    for (int dc = -1; dc <= 1; ++dc) {
      count(above[dc]);
      count(here[dc]);
      count(below[dc]);
    }
  } else {
    for (std::int32_t dr = -1; dr <= 1; ++dr) {
      for (std::int32_t dc = -1; dc <= 1; ++dc) {
        std::int32_t c = col + dc;
        std::int32_t r = row + dr;
        WrapToTorus(c, r);
        count(cellState_[CellIndex(c, r)]);
      }
    }
  }
  const std::int32_t same = like - 1;  // the cell itself was counted as a like neighbour
  const std::int32_t other = occupied - like;
  const std::uint8_t counts = std::uint8_t(same | other << 4);
  if (counts_[k] != counts) {
    TCell& cell = grid.Cells()[k];
    cell.sameNeighbours = same;
    cell.otherNeighbours = other;
    counts_[k] = counts;
  }
  const std::size_t agent = std::size_t(occupantOf_[k]);
  const bool satisfied = satisfiedBy[same * 9 + other];
  const std::uint64_t bit = std::uint64_t(1) << (agent % 64);
  const bool wasSatisfied = (unsatisfied_[agent / 64] & bit) == 0;
  if (satisfied != wasSatisfied) {
    Agents[agent].satisfied = satisfied;
    unsatisfied_[agent / 64] ^= bit;
  }
}

void World::EvaluateSegregationFast() {
  const double threshold = inputs_->ThresholdPercent();
  // The rule for every pair of counts, worked out once with the plain arithmetic.
  std::array<bool, 81> satisfiedBy;
  for (std::int32_t same = 0; same <= 8; ++same) {
    for (std::int32_t other = 0; other <= 8; ++other) {
      satisfiedBy[std::size_t(same * 9 + other)] = detail::IsSatisfied(same, other, threshold);
    }
  }
  const bool all = evaluateAll_ || std::bit_cast<std::uint64_t>(threshold) !=
                                       std::bit_cast<std::uint64_t>(evaluatedThreshold_);
  if (all) {
    for (std::int32_t row = 0; row < GridRows; ++row) {
      for (std::int32_t col = 0; col < GridCols; ++col) {
        const std::size_t k = CellIndex(col, row);
        if (cellState_[k] != 0) EvaluateCell(k, col, row, satisfiedBy.data());
      }
    }
  } else {
    // Each changed cell marks its block once; then the marked occupied cells are evaluated.
    block_.clear();
    for (const std::uint32_t k : changed_) {
      const std::int32_t col = std::int32_t(k % std::uint32_t(GridCols));
      const std::int32_t row = std::int32_t(k / std::uint32_t(GridCols));
      for (std::int32_t dr = -1; dr <= 1; ++dr) {
        for (std::int32_t dc = -1; dc <= 1; ++dc) {
          std::int32_t c = col + dc;
          std::int32_t r = row + dr;
          WrapToTorus(c, r);
          const std::size_t n = CellIndex(c, r);
          if (marked_[n]) continue;
          marked_[n] = 1;
          block_.push_back(std::uint32_t(n));
        }
      }
    }
    for (const std::uint32_t k : block_) {
      marked_[k] = 0;
      if (cellState_[k] == 0) continue;
      EvaluateCell(k, std::int32_t(k % std::uint32_t(GridCols)),
                   std::int32_t(k / std::uint32_t(GridCols)), satisfiedBy.data());
    }
  }
  changed_.clear();
  evaluateAll_ = false;
  evaluatedThreshold_ = threshold;
}

}  // namespace zelmora
