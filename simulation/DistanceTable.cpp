#include "simulation/DistanceTable.h"

#include <cmath>

namespace zelmora {

double GridDistance(std::int32_t col1, std::int32_t row1, std::int32_t col2, std::int32_t row2) {
  const long double dc = static_cast<long double>(col1) - col2;
  const long double dr = static_cast<long double>(row1) - row2;
  return static_cast<double>(std::sqrt(dc * dc + dr * dr));
}

void DistanceTable::Make(std::int32_t cols, std::int32_t rows) {
  if (Fits(cols, rows)) return;
  cols_ = cols;
  rows_ = rows;
  const std::size_t width = 2 * std::size_t(cols) - 1;
  table_.resize(std::size_t(rows) * width);
  for (std::int32_t dr = 0; dr < rows; ++dr) {
    double* row = &table_[std::size_t(dr) * width + std::size_t(cols - 1)];
    for (std::int32_t dc = 0; dc < cols; ++dc) row[dc] = row[-dc] = GridDistance(0, 0, dc, dr);
  }
}

bool DistanceTable::Serves(const std::array<MarketPosition, MarketCount>& markets) const {
  for (const MarketPosition& m : markets) {
    if (m.col < 0 || m.col >= cols_ || m.row < 0 || m.row >= rows_) return false;
  }
  return !table_.empty();
}

}  // namespace zelmora
