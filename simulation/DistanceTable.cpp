#include "simulation/DistanceTable.h"

#include "simulation/World.h"

namespace zelmora {

void DistanceTable::Make(std::int32_t cols, std::int32_t rows) {
  if (Fits(cols, rows)) return;
  cols_ = cols;
  rows_ = rows;
  const std::size_t width = 2 * std::size_t(cols) - 1;
  table_.resize(std::size_t(rows) * width);
  for (std::int32_t dr = 0; dr < rows; ++dr) {
    double* row = &table_[std::size_t(dr) * width + std::size_t(cols - 1)];
    for (std::int32_t dc = 0; dc < cols; ++dc) row[dc] = row[-dc] = World::GridDistance(0, 0, dc, dr);
  }
}

bool DistanceTable::Serves(const std::array<MarketPosition, MarketCount>& markets) const {
  for (const MarketPosition& m : markets) {
    if (m.col < 0 || m.col >= cols_ || m.row < 0 || m.row >= rows_) return false;
  }
  return !table_.empty();
}

}  // namespace zelmora
