// The segregation phase as written: every occupied cell counts its neighbours (eight at the
// default radius) and sets its agent's flag. The reference for the fast phase in SegregationFast.cpp.
#include <cstdint>
#include <limits>
#include <vector>

#include "simulation/ModelMath.h"
#include "simulation/World.h"

namespace zelmora {

namespace {

// What a neighbour is to the count: its State where occupied, kFree (like no State) where free.
constexpr std::int64_t kFree = std::numeric_limits<std::int64_t>::min();

// The like and the other occupied cells of the shape's neighbourhood of (col, row); `at(c, r)`
// says what cell (c, r) is.
template <class At>
void CountAround(const ModelShape& shape, std::int32_t cols, std::int32_t rows, std::int32_t col, std::int32_t row,
                 std::int64_t own, At at, std::int32_t& same, std::int32_t& other) {
  same = 0;
  other = 0;
  ForEachNeighbour(shape, cols, rows, col, row, [&](std::int32_t c, std::int32_t n) {
    const std::int64_t neighbour = at(c, n);
    if (neighbour != kFree) (neighbour == own ? same : other) += 1;
  });
}

// A cell as the counts see it, read from the grid.
auto SeenOn(const TGrid& grid) {
  return [&grid](std::int32_t c, std::int32_t r) {
    const TCell& neighbour = grid.At(c, r);
    return neighbour.occupied ? std::int64_t(neighbour.State()) : kFree;
  };
}

}  // namespace

void World::CountNeighbours(std::int32_t col, std::int32_t row) {
  InvalidateCopies();  // the counts written here are not in the fast phases' copy
  TCell& cell = grid.At(col, row);
  CountAround(shape_, GridCols, GridRows, col, row, cell.State(), SeenOn(grid), cell.sameNeighbours,
              cell.otherNeighbours);
}

void World::EvaluateSegregationPlain() {
  InvalidateCopies();  // the counts written here are not in the fast phases' copy
  const double threshold = inputs_->ThresholdPercent();
  const auto evaluate = [&](auto at) {
    for (std::int32_t row = 0; row < GridRows; ++row) {
      for (std::int32_t col = 0; col < GridCols; ++col) {
        TCell& cell = grid.At(col, row);
        if (!cell.occupied) continue;
        CountAround(shape_, GridCols, GridRows, col, row, cell.State(), at, cell.sameNeighbours, cell.otherNeighbours);
        Agents[std::size_t(cell.occupant)].satisfied =
            detail::IsSatisfied(cell.sameNeighbours, cell.otherNeighbours, threshold);
      }
    }
  };
  if (shape_.radius == 1) {
    evaluate(SeenOn(grid));
    return;
  }
  // Wider neighbourhoods count from the cells' colours in a row of their own: (2r + 1)^2 numbers
  // close together rather than as many whole cells.
  std::vector<std::int64_t> seen(grid.Cells().size());
  const auto onGrid = SeenOn(grid);
  for (std::int32_t row = 0; row < GridRows; ++row) {
    for (std::int32_t col = 0; col < GridCols; ++col) seen[CellIndex(col, row)] = onGrid(col, row);
  }
  evaluate([&](std::int32_t c, std::int32_t r) { return seen[CellIndex(c, r)]; });
}

// The fast phase is the accelerator's own (SegregationFast.cpp).
void World::EvaluateSegregationFast() { counts_.Evaluate(inputs_->ThresholdPercent(), copies_, grid, Agents); }

}  // namespace zelmora
