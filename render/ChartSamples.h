#pragma once

#include <cstdint>
#include <limits>

namespace zelmora {

// What the charts draw, one sample a step; plain values with no Qt, so the batch program's core
// collects them and the drawing code reads them.

// The yellow market after a step.
struct MarketSample {
  std::int32_t step = 0;
  double customers = 0;
  double bidPrice = 0;
};

// The segregation measures at a recorded step.
struct SegregationSample {
  std::int32_t step = 0;
  double percentSimilar = std::numeric_limits<double>::quiet_NaN();
  double meanClusterSize = std::numeric_limits<double>::quiet_NaN();
  double unsatisfiedShare = std::numeric_limits<double>::quiet_NaN();  // 0..1
};

}  // namespace zelmora
