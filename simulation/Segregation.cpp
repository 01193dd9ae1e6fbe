// The segregation phase as written: every occupied cell counts its neighbours (eight at the
// default radius) and sets its agent's flag. The reference for the fast phase in SegregationFast.cpp.
#include "simulation/ModelMath.h"
#include "simulation/World.h"

namespace zelmora {

void World::CountNeighbours(std::int32_t col, std::int32_t row) {
  InvalidateCopies();  // the counts written here are not in the fast phases' copy
  TCell& cell = grid.At(col, row);
  cell.sameNeighbours = 0;
  cell.otherNeighbours = 0;
  const std::int32_t r = shape_.radius;
  for (std::int32_t dr = -r; dr <= r; ++dr) {
    for (std::int32_t dc = -r; dc <= r; ++dc) {
      std::int32_t c = col + dc;
      std::int32_t n = row + dr;
      if (shape_.torus) {
        WrapToTorus(c, n);  // a radius is at most a side less one: one add or subtract
      } else if (c < 0 || c >= GridCols || n < 0 || n >= GridRows) {
        continue;  // a bounded grid's neighbourhood ends at its edge
      }
      const TCell& neighbour = grid.At(c, n);
      if (!neighbour.occupied) continue;
      if (neighbour.State() == cell.State()) {
        cell.sameNeighbours += 1;
      } else {
        cell.otherNeighbours += 1;
      }
    }
  }
  cell.sameNeighbours -= 1;  // the cell itself was counted as a like neighbour
}

void World::EvaluateSegregationPlain() {
  const double threshold = inputs_->ThresholdPercent();
  for (std::int32_t row = 0; row < GridRows; ++row) {
    for (std::int32_t col = 0; col < GridCols; ++col) {
      TCell& cell = grid.At(col, row);
      if (!cell.occupied) continue;
      CountNeighbours(col, row);
      Agents[std::size_t(cell.occupant)].satisfied =
          detail::IsSatisfied(cell.sameNeighbours, cell.otherNeighbours, threshold);
    }
  }
}

}  // namespace zelmora
