#include "simulation/ModelShape.h"

#include <stdexcept>
#include <string>

namespace zelmora {

void CheckShape(const ModelShape& shape, std::int32_t cols, std::int32_t rows) {
  if (shape.markets < 0 || shape.markets > MarketCount) {
    throw std::invalid_argument("markets must be 0 to " + std::to_string(MarketCount) + ", not " +
                                std::to_string(shape.markets));
  }
  if (shape.radius < 1 || shape.radius > MaxRadius) {
    throw std::invalid_argument("radius must be 1 to " + std::to_string(MaxRadius) + ", not " +
                                std::to_string(shape.radius));
  }
  // A neighbourhood wider than a side would meet a cell twice on the torus.
  const std::int64_t side = 2 * std::int64_t(shape.radius) + 1;
  if (side > cols || side > rows) {
    throw std::invalid_argument("radius " + std::to_string(shape.radius) + " needs " + std::to_string(side) +
                                " cells a side; the grid is " + std::to_string(cols) + " x " +
                                std::to_string(rows));
  }
  if (shape.windowHalfWidth < 1 || shape.windowHalfWidth > MaxWindowHalfWidth) {
    throw std::invalid_argument("search_window must be 1 to " + std::to_string(MaxWindowHalfWidth) + ", not " +
                                std::to_string(shape.windowHalfWidth));
  }
}

}  // namespace zelmora
