#pragma once

#include <cstdint>

#include "simulation/Cell.h"

namespace zelmora {

// The shape of the model: what a variant of it may change. Every World has the window's shape
// today; each accelerator says which shapes its fast phase serves (`Handles`), and for any other
// the phase runs its plain version, so a variant needs that rule and the plain phase, nothing on
// the World.
struct ModelShape {
  std::int32_t radius = 1;              // neighbours within this many cells: (2r + 1)^2 - 1 of them
  std::int32_t markets = MarketCount;
  std::int32_t windowHalfWidth = 10;    // a candidate's offsets run from -w to w - 1
  bool torus = true;                    // the grid wraps round at its edges
  bool relocateAnywhere = false;        // an unsatisfied agent tries any cell, not its window
};

}  // namespace zelmora
