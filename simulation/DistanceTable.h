#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "simulation/Cell.h"
#include "simulation/LargePageAllocator.h"
#include "simulation/Places.h"

namespace zelmora {

// The Euclidean distance of two cells, computed in long double and rounded once; never wrapped.
double GridDistance(std::int32_t col1, std::int32_t row1, std::int32_t col2, std::int32_t row2);

// The reset's distances. A cell's distance to a market depends on the two differences of their
// places alone, so one table of a grid's size serves every market and setup: row dr holds the
// distances from the origin to (dc - cols + 1, dr), and row |r - mr| from column cols - 1 - mc on
// gives the distances of row r to a market at (mc, mr), as GridDistance gives them.
// Current: once made for the grid's size (Make), for good. The reset writes the cells'
// distances from it; pricing reads it instead of three lines of every cell while the cells hold
// what it gives (KeptPrices).
class DistanceTable {
 public:
  // Made once per grid size; another size makes it again.
  void Make(std::int32_t cols, std::int32_t rows);
  bool Fits(std::int32_t cols, std::int32_t rows) const {
    return cols == cols_ && rows == rows_ && !table_.empty();
  }

  // distance[m][col] is the distance of cell (col, row) to market m.
  void Row(std::int32_t row, const std::array<MarketPosition, MarketCount>& markets,
           std::array<const double*, MarketCount>& distance) const {
    const std::size_t cols = std::size_t(cols_);
    const std::size_t width = 2 * cols - 1;
    for (std::size_t m = 0; m < MarketCount; ++m) {
      const std::size_t dr = std::size_t(std::abs(row - markets[m].row));
      distance[m] = &table_[dr * width + cols - 1 - std::size_t(markets[m].col)];
    }
  }

  // Whether every market stands on the grid, so that Row can serve it.
  bool Serves(const std::array<MarketPosition, MarketCount>& markets) const;

 private:
  std::int32_t cols_ = 0, rows_ = 0;
  std::vector<double, LargePageAllocator<double>> table_;
};

}  // namespace zelmora
