#pragma once

#include <cstdint>
#include <vector>

namespace zelmora {

// The market the window's chart follows, whose catchment is drawn yellow.
inline constexpr int YellowMarket = 2;
// The chart starts a new sweep every SweepLength steps.
inline constexpr std::int32_t SweepLength = 499;

// One step's point of the chart of the yellow market, as the model computes it for the view. The
// view draws it and keeps nothing of the model's.
struct ChartPoint {
  std::int32_t step = 0;     // StepCount after the step
  std::int32_t sweep = 0;    // sweeps started after the first one (SweepCount)
  bool newSweep = false;     // the chart starts again before this point: emptied, range reset
  std::int64_t x = 0;        // the point's place in its sweep; its two segments start at x - 1
  double customers = 0;      // the yellow market after the step
  double bidPrice = 0;
  double lastCustomers = 0;  // the previous point's values, where the segments start
  double lastBidPrice = 0;
};

// The point after a step, from the one before it (all zero right after a setup, but for the bid
// price, which a setup keeps). A sweep starts where the step count is a multiple of SweepLength.
// A count that no longer moves (it holds at its maximum) marks no multiples: the point then moves
// on from the previous one, and a sweep starts where it would leave 0 .. SweepLength - 1. So a
// sweep never holds more than SweepLength points, whatever the count does.
ChartPoint NextChartPoint(const ChartPoint& previous, std::int32_t stepCount, double customers,
                          double bidPrice);

// The points of the chart's current sweep, made as a World makes them from a fresh setup: what
// the window's chart holds after the last step. At most SweepLength points.
class ChartSweep {
 public:
  ChartSweep() { points_.reserve(SweepLength); }
  // After every step, in order: the step count and the yellow market's values.
  void Add(std::int32_t stepCount, double customers, double bidPrice);
  const std::vector<ChartPoint>& Points() const { return points_; }

 private:
  ChartPoint last_;
  std::vector<ChartPoint> points_;
};

}  // namespace zelmora
