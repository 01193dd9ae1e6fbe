#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
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

TEST(MarketChart, EqualsTheWindowsChartAcrossASweepBoundary) {
  Window w("150");
  w.form.SB_ProdKost->setValue(250);  // bid prices above 200 raise the range in every sweep
  w.form.RChart1->WindowCreated();    // what showing the window does
  std::vector<MarketSample> samples;
  for (const int until : {1, 2, 498, 499, 505, 997, 998, 1003}) {
    while (w.world().StepCount < until) {
      w.form.B_oneStepClick();
      const TCell& market = w.world().MarketCell(PlottedMarket);
      samples.push_back({w.world().StepCount, double(market.customers), market.unitCost});
    }
    const QImage ours = DrawMarketChart(samples);
    ASSERT_EQ(ours.size(), QSize(777, 265));
    ASSERT_EQ(ours, WindowChart(w.form)) << "after step " << until;
    // The last two sweeps' samples are all the picture needs.
    const std::size_t kept = std::min<std::size_t>(samples.size(), 2 * SweepLength);
    ASSERT_EQ(DrawMarketChart({samples.end() - std::ptrdiff_t(kept), samples.end()}), ours) << "after step " << until;
    ASSERT_GT(w.form.RChart1->Scale1Y()->RangeHigh(), 250.0);
  }
}

TEST(SegregationChart, DrawsEachSeriesInItsColourAndLeavesNaNOut) {
  std::vector<SegregationSample> samples;
  for (int step = 0; step <= 200; step += 10) {
    samples.push_back({step, 50.0 + step / 10.0, 2.0 + step / 20.0, std::nan("")});
  }
  const QImage image = DrawSegregationChart(samples);
  ASSERT_EQ(image.size(), QSize(800, 360));
  const auto count = [&](TColor colour) {
    int n = 0;
    for (int y = 24; y < 360 - 44; ++y) {
      for (int x = 50; x < 800 - 60; ++x) n += FromQRgb(image.pixel(x, y)) == colour;
    }
    return n;
  };
  EXPECT_GT(count(RGBColor(255, 0, 0)), 600);  // a line across the data area
  EXPECT_GT(count(RGBColor(0, 128, 0)), 600);
  EXPECT_EQ(count(RGBColor(0, 0, 255)), 0);  // every share is NaN
  EXPECT_EQ(DrawSegregationChart({}).size(), QSize(800, 360));
}

}  // namespace
}  // namespace zelmora
