#include <gtest/gtest.h>

#include "RChart.h"
#include "simulation/World.h"
#include "render/ChartFeed.h"

namespace zelmora {
namespace {

// A World with no agents whose yellow market gets its values by hand, feeding the window's chart.
struct Feed : WorldView {
  ModelSettings settings;
  TRChart chart;
  World world{settings, *this};
  void FeedChart(const ChartPoint& point) override { zelmora::FeedChart(chart, point); }
  bool DrawsCells() const override { return false; }
  Feed() {
    settings.agentCount = "0";
    world.SizeGrid(404, 404);
    world.CreateGrid();
    chart.WindowCreated();
    chart.SetBounds(8, 424, 777, 265);
    SetUpChart(chart);
    SetChartRanges(chart);
    chart.ClearGraphics();
    chart.MovePen(0, 0);
  }
  TCell& Market() { return world.MarketCell(YellowMarket); }
  void Step(int customers, double bidPrice) {
    Market().customers = customers;
    Market().unitCost = bidPrice;
    world.StepCount += 1;
    world.FeedChart();
  }
  const ChartItem& Last(int back) { return chart.Item(chart.ItemCount() - 1 - back); }
};

TEST(FeedChart, FirstStepDrawsFromTheOriginAndFromTheLastBidPrice) {
  Feed f;
  f.world.LastBidPrice = 42.0;
  f.Step(17, 88.5);
  ASSERT_EQ(f.chart.ItemCount(), 3);  // the pen move and two lines
  const ChartItem& red = f.Last(1);
  const ChartItem& green = f.Last(0);
  EXPECT_EQ(red.colour, RGBColor(255, 0, 0));
  EXPECT_EQ(red.x1, 0.0);
  EXPECT_EQ(red.y1, 0.0);
  EXPECT_EQ(red.x2, 1.0);
  EXPECT_EQ(red.y2, 17.0);
  EXPECT_EQ(green.colour, RGBColor(0, 128, 0));
  EXPECT_EQ(green.x1, 0.0);
  EXPECT_EQ(green.y1, 42.0);
  EXPECT_EQ(green.x2, 1.0);
  EXPECT_EQ(green.y2, 88.5);
  EXPECT_EQ(red.layer, 1);
  EXPECT_EQ(f.world.LastCustomers, 17.0);
  EXPECT_EQ(f.world.LastBidPrice, 88.5);
}

TEST(FeedChart, SweepsOf499Steps) {
  Feed f;
  const auto xAt = [&](int step) {
    while (f.world.StepCount < step) f.Step(f.world.StepCount % 50, 100.0);
    return f.Last(0).x2;
  };
  EXPECT_EQ(xAt(1), 1.0);
  EXPECT_EQ(xAt(498), 498.0);
  EXPECT_EQ(f.chart.ItemCount(), 1 + 2 * 498);
  EXPECT_EQ(xAt(499), 0.0);
  EXPECT_EQ(f.Last(0).x1, -1.0);
  EXPECT_EQ(f.world.SweepCount, 1);
  EXPECT_EQ(f.chart.ItemCount(), 3);  // emptied, then pen move and two lines
  EXPECT_EQ(f.Last(1).y1, 497 % 50);  // the new sweep starts at the previous values
  EXPECT_EQ(xAt(997), 498.0);
  EXPECT_EQ(f.chart.ItemCount(), 999);  // a full sweep: one allocation of 1000 slots
  EXPECT_EQ(f.chart.ItemCapacity(), 1000);
  EXPECT_EQ(xAt(998), 0.0);
  EXPECT_EQ(f.world.SweepCount, 2);
  EXPECT_EQ(xAt(1497), 0.0);
  EXPECT_EQ(f.world.SweepCount, 3);
}

TEST(FeedChart, RaisesTheRangeBeforeAddingCustomersFirst) {
  Feed f;
  f.Step(230, 90.0);
  EXPECT_EQ(f.chart.Scale1Y()->RangeHigh(), 280.0);
  Feed g;
  g.Step(10, 260.5);
  EXPECT_EQ(g.chart.Scale1Y()->RangeHigh(), 310.5);
  Feed h;
  h.Step(200, 200.0);  // equal to the top: no raise
  EXPECT_EQ(h.chart.Scale1Y()->RangeHigh(), 200.0);
  // Customers raise first; then a bid price above the raised range raises it again.
  Feed k;
  k.Step(300, 400.0);
  EXPECT_EQ(k.chart.Scale1Y()->RangeHigh(), 450.0);
  EXPECT_EQ(k.chart.Scale1Y()->RangeLow(), -10.0);
  // A new sweep puts the range back to 200.
  while (k.world.StepCount < 499) k.Step(5, 100.0);
  EXPECT_EQ(k.chart.Scale1Y()->RangeHigh(), 200.0);
}

TEST(FeedChart, ARaiseRepaintsTheChartAtOnce) {
  Feed f;
  f.Step(5, 100.0);
  const int paints = f.chart.PaintCount();
  f.Step(5, 100.0);  // the layer selection repaints once
  EXPECT_EQ(f.chart.PaintCount(), paints + 1);
  f.Step(500, 100.0);  // and the raise once more
  EXPECT_EQ(f.chart.PaintCount(), paints + 3);
}

}  // namespace
}  // namespace zelmora
