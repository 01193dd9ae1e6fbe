#pragma once

#include <cstdint>

#include "simulation/Cell.h"

namespace zelmora {

// The shape of the model: what a variant of it may change. A World takes it from its inputs at
// every setup (ModelInputs::Structure; the window's is the default); each accelerator says which
// shapes its fast phase serves (`Handles`), and for any other the phase runs its plain version.
struct ModelShape {
  std::int32_t radius = 1;              // neighbours within this many cells: (2r + 1)^2 - 1 of them
  std::int32_t markets = MarketCount;   // markets 0 .. markets - 1 exist
  std::int32_t windowHalfWidth = 10;    // a candidate's offsets run from -w to w - 1
  bool torus = true;                    // the grid wraps round at its edges
  bool relocateAnywhere = false;        // an unsatisfied agent draws any free cell, not its window

  bool operator==(const ModelShape&) const = default;
};

// The search window of the window's own shape, on the torus: the fast phases' tables and blocks
// (OccupancyCopy::ColAt, FreePrices' blocks) are made for it; any other window draws its tries
// one after another.
inline constexpr bool WindowOfTen(const ModelShape& shape) { return shape.windowHalfWidth == 10 && shape.torus; }

inline constexpr std::int32_t MaxRadius = 5;
inline constexpr std::int32_t MaxWindowHalfWidth = 20;

// Throws std::invalid_argument, naming the parameter ("markets", "radius", "search_window"), for
// a shape a World of cols x rows cells cannot run: markets outside 0..10, a radius outside 1..5 or
// whose neighbourhood (2r + 1 cells a side) is wider than the grid, a half-width outside 1..20.
void CheckShape(const ModelShape& shape, std::int32_t cols, std::int32_t rows);

// Calls visit(c, r) for every cell of the shape's neighbourhood of (col, row) on a cols x rows
// grid, the cell itself left out: wrapped on the torus (2r + 1 is at most a side, so one add or
// subtract wraps and no cell comes twice), cut at the edges of a bounded grid.
template <class Visit>
void ForEachNeighbour(const ModelShape& shape, std::int32_t cols, std::int32_t rows, std::int32_t col,
                      std::int32_t row, Visit visit) {
  const std::int32_t r = shape.radius;
  for (std::int32_t dr = -r; dr <= r; ++dr) {
    for (std::int32_t dc = -r; dc <= r; ++dc) {
      if (dr == 0 && dc == 0) continue;
      std::int32_t c = col + dc, n = row + dr;
      if (shape.torus) {
        c += cols * ((c < 0) - (c >= cols));
        n += rows * ((n < 0) - (n >= rows));
      } else if (c < 0 || c >= cols || n < 0 || n >= rows) {
        continue;
      }
      visit(c, n);
    }
  }
}

}  // namespace zelmora
