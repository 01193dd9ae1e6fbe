#include "simulation/ChartPoint.h"

#include <limits>

namespace zelmora {
namespace {

// Saturates like the step count, which the sweeps can only outgrow while that holds.
void CountSweep(ChartPoint& point) {
  point.newSweep = true;
  if (point.sweep < std::numeric_limits<std::int32_t>::max()) point.sweep += 1;
}

}  // namespace

ChartPoint NextChartPoint(const ChartPoint& previous, std::int32_t stepCount, double customers,
                          double bidPrice) {
  ChartPoint point;
  point.step = stepCount;
  point.sweep = previous.sweep;
  point.customers = customers;
  point.bidPrice = bidPrice;
  point.lastCustomers = previous.customers;
  point.lastBidPrice = previous.bidPrice;
  if (stepCount != previous.step) {
    if (stepCount % SweepLength == 0) CountSweep(point);
    point.x = std::int64_t(stepCount) - std::int64_t(SweepLength) * point.sweep;
  } else {
    point.x = previous.x + 1;
    if (point.x < 0 || point.x >= SweepLength) {
      CountSweep(point);
      point.x = 0;
    }
  }
  return point;
}

void ChartSweep::Add(std::int32_t stepCount, double customers, double bidPrice) {
  last_ = NextChartPoint(last_, stepCount, customers, bidPrice);
  if (last_.newSweep) points_.clear();
  points_.push_back(last_);
}

}  // namespace zelmora
