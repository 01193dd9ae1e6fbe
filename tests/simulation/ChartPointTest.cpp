#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "simulation/World.h"

namespace zelmora {
namespace {

struct Points : WorldView {
  std::vector<ChartPoint> got;
  void FeedChart(const ChartPoint& point) override { got.push_back(point); }
  bool DrawsCells() const override { return false; }
};

// Runs that reached a count near its maximum (with the sweeps such a run counted) go on past it.
// While the count moves, a sweep starts at its multiples of 499, as ever; once it holds, the
// points move on by themselves. Either way no sweep holds more than 499 points.
TEST(ChartPoint, SweepsStayBoundedAtAndPastTheCountsMaximum) {
  constexpr std::int32_t max = std::numeric_limits<std::int32_t>::max();
  for (const std::int32_t start : {0, 997, max - 1000, max - 499, max - 222, max - 221, max - 1, max}) {
    Points view;
    ModelSettings settings;
    settings.agentCount = "30";
    World world(settings, view);
    world.SizeGrid(100, 100);
    world.CreateGrid();
    world.CreateAgents();
    world.StepCount = start;
    world.SweepCount = start / SweepLength;
    ChartSweep sweep;
    ChartPoint before;
    for (int i = 0; i < 1300; ++i) {
      world.SimulationStep();
      const ChartPoint& p = view.got.back();
      sweep.Add(p.step, p.customers, p.bidPrice);
      SCOPED_TRACE(::testing::Message() << "from " << start << ", step " << i);
      ASSERT_EQ(p.lastCustomers, before.customers);
      ASSERT_EQ(p.lastBidPrice, before.bidPrice);
      if (i > 0 && p.step == before.step) {
        ASSERT_EQ(p.newSweep, before.x + 1 >= SweepLength);
        ASSERT_EQ(p.x, p.newSweep ? 0 : before.x + 1);
      } else {
        ASSERT_EQ(p.newSweep, p.step % SweepLength == 0);
        ASSERT_EQ(p.x, std::int64_t(p.step) - std::int64_t(SweepLength) * p.sweep);
      }
      ASSERT_EQ(p.sweep, world.SweepCount);
      ASSERT_GE(p.x, 0);
      ASSERT_LT(p.x, SweepLength);
      ASSERT_LE(sweep.Points().size(), std::size_t(SweepLength));
      before = p;
    }
  }
}

}  // namespace
}  // namespace zelmora
