#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <thread>

#include "RChart.h"
#include "render/CellDrawing.h"
#include "render/ChartFeed.h"
#include "render/ChartPictures.h"
#include "render/GridPicture.h"
#include "simulation/World.h"
#include "ui/DrawingImage.h"
#include "ui/MainWindow.h"

namespace zelmora {
namespace {

// The window, stopped, with seeded setups so every run of a test is the same run.
struct Window {
  TForm1 form;
  explicit Window(const char* agents, std::uint64_t seed = 7) {
    form.Timer1->stop();
    form.GetWorld().SetSeedSource([seed]() mutable { return seed++; });
    form.Edit_anzAg->setText(agents);
    form.B_setupClick();
  }
  World& world() { return form.GetWorld(); }
  // The grid's part of the drawing surface, from the canvas itself (not the screen).
  QImage GridRegion() {
    return form.DrawingImage->GetCanvas().Image().copy(0, 0, world().GridCols * 10, world().GridRows * 10);
  }
};

TEST(SnapshotPixelsPerCell, TenUpTo4000PixelsASideThenOne) {
  const struct {
    std::int32_t cols, rows;
    int expected;
  } cases[] = {{10, 10, 10},  {40, 40, 10},   {400, 400, 10}, {401, 400, 1},
               {400, 401, 1}, {10, 4000, 1}, {1000, 1000, 1}, {std::numeric_limits<std::int32_t>::max(), 10, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(SnapshotPixelsPerCell(c.cols, c.rows), c.expected) << c.cols << " x " << c.rows;
  }
}

TEST(GridPicture, EqualsTheWindowsDrawingImageAfterEachStep) {
  Window w("800");
  ASSERT_EQ(DrawGridPicture(w.world(), true), w.GridRegion());  // right after the setup
  // Catchment shown, then hidden with the price scape, then hidden with its last grey levels.
  const struct {
    bool catchment, priceScape;
  } views[] = {{true, false}, {false, true}, {false, false}, {true, true}};
  for (const auto& v : views) {
    w.form.Cb_showCatch->setChecked(v.catchment);
    w.form.Cb_locP->setChecked(v.priceScape);
    for (int i = 0; i < 3; ++i) {
      w.form.B_oneStepClick();
      const QImage picture = DrawGridPicture(w.world(), v.catchment);
      ASSERT_EQ(picture.size(), QSize(400, 400));
      ASSERT_EQ(picture, w.GridRegion()) << "catchment " << v.catchment << ", price scape "
                                         << v.priceScape << ", step " << w.world().StepCount;
    }
  }
}

TEST(GridPicture, OnePixelPerCellIsTheFillMarketRedOrTheAgentsColour) {
  testing::internal::Random random(5);
  ModelSettings settings;
  settings.agentCount = "3000";
  World world(settings);
  std::uint64_t seed = 11;
  world.SetSeedSource([&seed]() { return seed++; });
  world.SizeGrid(401 * World::CellPitch, 12 * World::CellPitch);
  world.CreateGrid();
  world.CreateAgents();
  world.SimulationStep();
  for (TCell& cell : world.grid.Cells()) cell.grey = std::int32_t(random.Generate(600)) - 100;
  for (const bool catchment : {true, false}) {
    const QImage picture = DrawGridPicture(world, catchment);
    ASSERT_EQ(picture.size(), QSize(401, 12));
    int markets = 0, agents = 0;
    for (std::int32_t row = 0; row < 12; ++row) {
      for (std::int32_t col = 0; col < 401; ++col) {
        const TCell& cell = world.grid.At(col, row);
        TColor expected = catchment ? CatchmentColours[std::size_t(cell.catchment)] : GreyLevel(cell.grey);
        if (cell.isMarket) expected = RGBColor(255, 0, 0), ++markets;
        if (cell.occupied) expected = cell.State() ? RGBColor(255, 255, 255) : RGBColor(0, 0, 0), ++agents;
        ASSERT_EQ(FromQRgb(picture.pixel(col, row)), expected) << col << "," << row;
      }
    }
    EXPECT_GT(markets, 0);
    EXPECT_EQ(agents, 3000);
  }
}

TEST(GridPicture, DrawsTheSamePictureOnWorkerThreads) {
  Window w("800");
  w.form.B_oneStepClick();
  const QImage expected = DrawGridPicture(w.world(), true);
  QImage pictures[2];
  {
    std::jthread first([&] { pictures[0] = DrawGridPicture(w.world(), true); });
    std::jthread second([&] { pictures[1] = DrawGridPicture(w.world(), true); });
  }
  EXPECT_EQ(pictures[0], expected);
  EXPECT_EQ(pictures[1], expected);
}

// The window's chart as its next repaint shows it: items added by the last step included.
QImage WindowChart(TForm1& form) {
  form.RChart1->PaintChart();
  return form.RChart1->PresentedImage();
}

TEST(WindowChart, EqualsTheWindowsChartAcrossASweepBoundary) {
  Window w("150");
  w.form.SB_ProdKost->setValue(250);  // bid prices above 200 raise the range in every sweep
  w.form.RChart1->WindowCreated();    // what showing the window does
  ChartSweep sweep;
  for (const int until : {1, 2, 498, 499, 505, 997, 998, 1003}) {
    while (w.world().StepCount < until) {
      w.form.B_oneStepClick();
      const TCell& market = w.world().MarketCell(YellowMarket);
      sweep.Add(w.world().StepCount, market.customers, market.unitCost);
    }
    const QImage ours = DrawWindowChart(sweep.Points());
    ASSERT_EQ(ours.size(), QSize(777, 265));
    ASSERT_EQ(ours, WindowChart(w.form)) << "after step " << until;
    ASSERT_GT(w.form.RChart1->Scale1Y()->RangeHigh(), 250.0);
  }
}

// Random lines with gaps, on one or both axes, drawn one after the other on one chart: every
// segment lies within the data area, and the step axis spans the run.
TEST(RunChart, AxesHoldEveryPointOfTheRun) {
  testing::internal::Random random(17);
  TRChart chart;
  for (int trial = 0; trial < 40; ++trial) {
    const double first = double(random.Generate(1000));
    const int count = 2 + int(random.Generate(300));
    const double scale = trial % 2 ? 1e6 : 3.0;
    std::vector<RunPoint> lines[3];
    for (int i = 0; i < count; ++i) {
      for (auto& line : lines) {
        const double value = (double(random.Generate(2001)) - 600.0) / 1000.0 * scale;
        line.push_back({first + 3.0 * i, random.Generate(20) == 0 ? std::nan("") : value});
      }
    }
    const double last = first + 3.0 * (count - 1);
    const std::optional<std::pair<double, double>> fixed =
        trial % 3 ? std::nullopt : std::optional(std::pair(-0.6 * scale, 1.4 * scale));
    PlotRunChart(chart,
                 {{&lines[0], RGBColor(255, 0, 0), 1, "a"},
                  {&lines[1], RGBColor(0, 0, 255), trial % 2 ? 1 : 2, "b"},
                  {&lines[2], RGBColor(0, 128, 0), 2, "c"}},
                 first, last, fixed, "%");
    EXPECT_EQ(chart.Scale1X()->RangeLow(), first);
    EXPECT_EQ(chart.Scale1X()->RangeHigh(), last);
    ASSERT_GT(chart.ItemCount(), 0);
    const QRect area(chart.LRim(), chart.TRim(), chart.ChartWidth() - chart.LRim() - chart.RRim() + 1,
                     chart.ChartHeight() - chart.TRim() - chart.BRim() + 1);
    for (const ChartItem& item : chart.Items()) {
      ASSERT_TRUE(area.contains(chart.DataToPixel(item.layer, item.x1, item.y1)));
      ASSERT_TRUE(area.contains(chart.DataToPixel(item.layer, item.x2, item.y2)));
    }
  }
}

// Each entry of the legend is written in its line's colour, in the band above the data area
// (between the axes, whose labels may reach into it).
TEST(RunChart, LegendEntriesTakeTheirLinesColours) {
  const std::vector<RunPoint> none;
  const QImage legend = DrawSegregationRunChart(none, none, none, 0, 100).copy(50, 0, 690, 24);
  for (const TColor colour : {RGBColor(255, 0, 0), RGBColor(0, 0, 255), RGBColor(0, 128, 0)}) {
    int n = 0;
    for (int y = 0; y < legend.height(); ++y) {
      for (int x = 0; x < legend.width(); ++x) n += FromQRgb(legend.pixel(x, y)) == colour;
    }
    EXPECT_GT(n, 20) << std::hex << colour;
  }
}

// A chart used for one picture after another (a worker's charts of several runs) draws each as a
// chart of its own would, whatever the picture before it was.
TEST(RunChart, EachPictureIsTheOneAFreshChartDraws) {
  std::vector<RunPoint> a, b, c;
  for (int step = 1; step <= 30; ++step) {
    a.push_back({double(step), 50.0 + step});
    b.push_back({double(step), 1.5 * step});
    c.push_back({double(step), 100.0 - step});
  }
  using Picture = QImage (*)(RunChartPictures&, const std::vector<RunPoint>&, const std::vector<RunPoint>&,
                             const std::vector<RunPoint>&);
  const Picture kPictures[] = {
      [](RunChartPictures& p, auto& x, auto& y, auto&) { return p.Market(x, y, 0, 30); },
      [](RunChartPictures& p, auto&, auto&, auto&) { return p.NoMarket(0, 30); },
      [](RunChartPictures& p, auto& x, auto& y, auto& z) { return p.Segregation(x, y, z, 0, 30); },
  };
  for (std::size_t before = 0; before < std::size(kPictures); ++before) {
    for (std::size_t now = 0; now < std::size(kPictures); ++now) {
      RunChartPictures used, fresh;
      kPictures[before](used, c, b, a);
      const QImage again = kPictures[now](used, a, b, c).copy();
      EXPECT_EQ(again, kPictures[now](fresh, a, b, c)) << "picture " << now << " after picture " << before;
    }
  }
}

}  // namespace
}  // namespace zelmora
