#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "simulation/Agent.h"
#include "simulation/Cell.h"
#include "simulation/DistanceTable.h"
#include "simulation/LargePageAllocator.h"
#include "simulation/ModelShape.h"
#include "simulation/Places.h"

namespace zelmora {

// A delivered price is taken only below it.
inline constexpr double PriceCeiling = 9999.0;
// Above this many cells the fast phases fetch what they will read ahead of their turn (the fast
// LookForCenters draws the tries of later agents ahead, the evaluation lists a row's cells
// first); on smaller grids all they read stays in cache, and they make each agent's tries as cheap
// as they can instead.
inline constexpr std::size_t DrawAheadCells = std::size_t(1) << 17;

// The cells, indexed grid[col][row]. They lie in one block, row after row, so that the phases'
// row-by-row sweeps read memory in order and a search window stays in a few cache lines.
class TGrid {
 public:
  using CellVector = std::vector<TCell, LargePageAllocator<TCell>>;

  class Column {
   public:
    Column(TCell* top, std::int32_t stride) : top_(top), stride_(stride) {}
    TCell& operator[](std::int32_t row) const { return top_[std::ptrdiff_t(row) * stride_]; }

   private:
    TCell* top_;
    std::int32_t stride_;
  };

  Column operator[](std::int32_t col) { return Column(cells_.data() + col, cols_); }
  TCell& At(std::int32_t col, std::int32_t row) { return cells_[std::size_t(row) * cols_ + col]; }
  const TCell& At(std::int32_t col, std::int32_t row) const {
    return cells_[std::size_t(row) * cols_ + col];
  }
  std::int32_t Cols() const { return cols_; }
  std::int32_t Rows() const { return rows_; }
  bool HasCells() const { return !cells_.empty(); }
  CellVector& Cells() { return cells_; }
  const CellVector& Cells() const { return cells_; }

  // Sizes the grid without creating cells; CreateCells fills it row by row.
  void Size(std::int32_t cols, std::int32_t rows);
  void CreateCells();

 private:
  std::int32_t cols_ = 0;
  std::int32_t rows_ = 0;
  CellVector cells_;
};

// The model's state as the accelerators see it: the cells, the agents, the markets, the shape
// and the reset's distances. Below the World and the accelerators both: the World holds it and
// the accelerators read it, so neither needs the other's header to check or serve it.
struct ModelState {
  const TGrid& grid;
  const std::vector<TAgent>& agents;
  const std::array<MarketPosition, MarketCount>& markets;
  const ModelShape& shape;
  const DistanceTable& distances;
  std::int32_t Cols() const { return grid.Cols(); }
  std::int32_t Rows() const { return grid.Rows(); }
};

}  // namespace zelmora
