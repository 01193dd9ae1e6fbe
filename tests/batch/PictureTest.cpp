// The program's pictures against the window itself, run with the same seeds.
#include <gtest/gtest.h>

#include <QImage>
#include <QSlider>
#include <QTimer>

#include "RChart.h"
#include "Subprocess.h"
#include "sweep/RunPlan.h"
#include "render/ChartPictures.h"
#include "simulation/World.h"
#include "ui/DrawingImage.h"
#include "ui/MainWindow.h"

namespace zelmora::testing {
namespace {

TEST(Pictures, SnapshotsAndChartAreWhatTheWindowShowsForTheSameRun) {
  TempDir dir;
  const Outcome outcome = RunProgram(ZELMORA_BATCH_PROGRAM,
                                     {"--out", "p.csv", "--seed", "11", "--steps", "6", "--snapshot-at", "0,6",
                                      "--quiet", "--set", "threshold=3,4", "--jobs", "2", "--charts", "on"},
                                     dir.path());
  ASSERT_EQ(outcome.status, 0) << outcome.err;

  // Run 1 in the window: its setup reseeds from the run's stream as the program's World does.
  TForm1 form;
  form.Timer1->stop();
  form.TrB_thresh->setValue(4);
  form.GetWorld().SetSeedSource(sweep::SeedStream(sweep::RunSeed(11, 1)));
  form.B_setupClick();
  form.RChart1->WindowCreated();
  World& world = form.GetWorld();
  const auto grid = [&] {
    return form.DrawingImage->GetCanvas().Image().copy(0, 0, world.GridCols * 10, world.GridRows * 10);
  };
  const auto png = [&](const std::string& name) {
    return QImage(QString::fromStdString(dir / name)).convertToFormat(grid().format());
  };
  EXPECT_EQ(png("p.run1.step0.png"), grid());
  // The market chart shows every step of the run, as the window's model went through them.
  std::vector<RunPoint> customers, bidPrice;
  for (int k = 0; k < 6; ++k) {
    form.B_oneStepClick();
    const TCell& market = world.MarketCell(YellowMarket);
    customers.push_back({double(world.StepCount), double(market.customers)});
    bidPrice.push_back({double(world.StepCount), market.unitCost});
  }
  EXPECT_EQ(png("p.run1.step6.png"), grid());
  const QImage chart = DrawMarketRunChart(customers, bidPrice, 1, 6);
  EXPECT_EQ(QImage(QString::fromStdString(dir / "p.run1.chart.png")).convertToFormat(chart.format()), chart);
  EXPECT_FALSE(QImage(QString::fromStdString(dir / "p.run1.segregation.png")).isNull());
}

}  // namespace
}  // namespace zelmora::testing
