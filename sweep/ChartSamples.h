#pragma once

#include <cstdint>
#include <limits>

// What the charts of a run are drawn from. No Qt here: the runner makes these.

namespace zelmora {

// The yellow market after a step.
struct MarketSample {
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

// A point of a line drawn over a run; a NaN value breaks the line there.
struct RunPoint {
  double step = 0;
  double value = 0;
};

}  // namespace zelmora
