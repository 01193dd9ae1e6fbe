#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <memory>

#include "RChart.h"
#include "tests/ui/ErrorBoxes.h"
#include "ui/Application.h"
#include "ui/DrawingImage.h"
#include "ui/MainWindow.h"

namespace zelmora {
namespace {

using testing::ErrorBoxes;

void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

TEST(MainWindow, StartsWithItsControlsAndLabels) {
  TForm1 form;
  EXPECT_EQ(form.windowTitle(), "Zelmora");
  EXPECT_EQ(form.lbl_Steps->text(), "lbl_Steps");
  EXPECT_EQ(form.Lbl_ProdKost->text(), "100");
  EXPECT_EQ(form.Lbl_FahrtKost->text(), "1");
  EXPECT_EQ(form.Lbl_Skalen->text(), "1");
  EXPECT_EQ(form.Lbl_B->text(), "3/8");
  EXPECT_EQ(form.Lbl_P->text(), QLocale().toString(37.5));
  EXPECT_EQ(form.Edit_anzAg->text(), "800");
  EXPECT_EQ(form.B_setup->text(), "new Setup");
  EXPECT_EQ(form.B_stop->text(), "start / stop");
  EXPECT_EQ(form.B_oneStep->text(), "one step");
  EXPECT_EQ(form.Button2->text(), "gray cells");
  EXPECT_EQ(form.GroupBox3->title(), "Economies of Scale : Parameters");
  EXPECT_EQ(form.GroupBox1->title(), "Segregation : Parameters");
  EXPECT_TRUE(form.Cb_segregat->isChecked());
  EXPECT_TRUE(form.Cb_toCenters->isChecked());
  EXPECT_TRUE(form.Cb_showCatch->isChecked());
  EXPECT_FALSE(form.Cb_locP->isChecked());
  EXPECT_EQ(form.ZeichenPanel->geometry(), QRect(8, 9, 404, 404));
  EXPECT_EQ(form.DrawingImage->geometry(), QRect(0, 0, 404, 404));
  EXPECT_EQ(form.RChart1->geometry(), QRect(8, 424, 777, 265));
  EXPECT_EQ(form.SB_Skalen->geometry(), QRect(148, 84, 197, 15));
  EXPECT_EQ(form.TrB_thresh->maximum(), 8);
  EXPECT_TRUE(form.Timer1->isActive());
  EXPECT_EQ(form.Timer1->interval(), 1);
  EXPECT_EQ(form.Timer1->timerType(), Qt::PreciseTimer);
  EXPECT_EQ(form.GetWorld().GridCols, 40);
  EXPECT_EQ(form.GetWorld().Agents.size(), 800u);
  EXPECT_EQ(form.RChart1->Scale1X()->RangeHigh(), 500.0);
  EXPECT_EQ(form.RChart1->Scale1Y()->RangeLow(), -10.0);
  EXPECT_EQ(form.RChart1->Scale1Y()->RangeHigh(), 200.0);
}

TEST(MainWindow, ControlsWriteOnlyTheirLabelsAndTheModelReadsThem) {
  TForm1 form;
  form.Timer1->stop();
  form.SB_Skalen->setValue(0);
  EXPECT_EQ(form.Lbl_Skalen->text(), QLocale().toString(0.9));
  form.SB_Skalen->setValue(1);
  EXPECT_EQ(form.Lbl_Skalen->text(), QLocale().toString(0.901));
  form.SB_Skalen->setValue(400);
  EXPECT_EQ(form.Lbl_Skalen->text(), QLocale().toString(1.3));
  form.SB_FahrtKost->setValue(1);
  EXPECT_EQ(form.Lbl_FahrtKost->text(), QLocale().toString(0.02));
  form.SB_FahrtKost->setValue(100);
  EXPECT_EQ(form.Lbl_FahrtKost->text(), "2");
  form.TrB_thresh->setValue(0);
  EXPECT_EQ(form.Lbl_B->text(), "0/8");
  EXPECT_EQ(form.Lbl_P->text(), "0");
  form.TrB_thresh->setValue(8);
  EXPECT_EQ(form.Lbl_B->text(), "8/8");
  EXPECT_EQ(form.Lbl_P->text(), "100");
  form.SB_ProdKost->setValue(500);
  EXPECT_EQ(form.Lbl_ProdKost->text(), "500");
  EXPECT_EQ(form.lbl_Steps->text(), "lbl_Steps");  // nothing ran

  // The next step reads them: threshold 100 leaves nobody satisfied, so the step after that
  // sees every agent jump.
  Click(form.B_oneStep);
  Click(form.B_oneStep);
  EXPECT_EQ(form.GetWorld().MovedCount, 800);
  TCell& market = form.GetWorld().MarketCell(0);
  if (market.customers > 1) {
    const double expected = market.customers / std::exp(1.3 * std::log(double(market.customers))) * 500;
    form.GetWorld().ComputeUnitCosts();
    EXPECT_DOUBLE_EQ(market.unitCost, expected);
  }
}

TEST(MainWindow, ADecimalCommaLocaleReadsBackWhatItWrote) {
  const QLocale saved;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  {
    TForm1 form;
    form.Timer1->stop();
    EXPECT_EQ(form.Lbl_P->text(), "37,5");
    form.SB_Skalen->setValue(1);
    EXPECT_EQ(form.Lbl_Skalen->text(), "0,901");
    form.SB_FahrtKost->setValue(1);
    form.TrB_thresh->setValue(3);
    form.B_oneStepClick();
    form.B_oneStepClick();
    // Threshold 37.5 rather than 37 or 375: some agents satisfied, some not.
    EXPECT_GT(form.GetWorld().SatisfiedCount, 0);
    EXPECT_GT(form.GetWorld().MovedCount, 0);
    form.GetWorld().MarketCell(3).customers = 1000;
    form.GetWorld().ComputeUnitCosts();
    EXPECT_DOUBLE_EQ(form.GetWorld().MarketCell(3).unitCost,
                     1000.0 / std::exp(0.901 * std::log(1000.0)) * 100.0);
  }
  QLocale::setDefault(saved);
}

TEST(MainWindow, RunsByItselfAndCountsSteps) {
  TForm1 form;
  EXPECT_EQ(form.lbl_Steps->text(), "lbl_Steps");
  QTest::qWait(50);
  const int steps = form.lbl_Steps->text().toInt();
  EXPECT_GT(steps, 0);
  EXPECT_EQ(steps, form.GetWorld().StepCount);
}

TEST(MainWindow, OneStepStopsTheRunAndStartStopResumes) {
  TForm1 form;
  QTest::qWait(20);
  Click(form.B_oneStep);
  EXPECT_FALSE(form.Timer1->isActive());
  const int after = form.GetWorld().StepCount;
  EXPECT_EQ(form.lbl_Steps->text().toInt(), after);
  QTest::qWait(30);
  EXPECT_EQ(form.GetWorld().StepCount, after);  // stopped
  Click(form.B_oneStep);
  EXPECT_EQ(form.GetWorld().StepCount, after + 1);  // exactly one more while stopped
  Click(form.B_stop);
  EXPECT_TRUE(form.Timer1->isActive());
  QTest::qWait(30);
  EXPECT_GT(form.GetWorld().StepCount, after + 1);
  Click(form.B_stop);
  EXPECT_FALSE(form.Timer1->isActive());
}

TEST(MainWindow, NewSetupDuringARunStartsAgainFromOne) {
  TForm1 form;
  form.Timer1->stop();
  for (int i = 0; i < 600; ++i) form.SimulationStep();  // past the first sweep
  ASSERT_EQ(form.GetWorld().SweepCount, 1);
  form.Timer1->start();
  Click(form.B_setup);
  EXPECT_TRUE(form.Timer1->isActive());  // the run goes on
  EXPECT_EQ(form.GetWorld().StepCount, 0);
  EXPECT_EQ(form.GetWorld().SweepCount, 0);
  EXPECT_EQ(form.lbl_Steps->text(), "600");  // until the next step
  EXPECT_EQ(form.RChart1->ItemCount(), 1);  // emptied, pen at the origin
  const double lastBid = form.GetWorld().LastBidPrice;
  form.Timer1->stop();
  Click(form.B_oneStep);
  EXPECT_EQ(form.lbl_Steps->text(), "1");
  EXPECT_EQ(form.GetWorld().MovedCount, 0);  // placement left everybody satisfied
  const ChartItem& red = form.RChart1->Item(1);
  const ChartItem& green = form.RChart1->Item(2);
  EXPECT_EQ(red.x1, 0.0);
  EXPECT_EQ(red.y1, 0.0);
  EXPECT_EQ(green.y1, lastBid);  // the bid price carries over from the old run
}

class RefusedAgentCount : public ::testing::TestWithParam<const char*> {};

TEST_P(RefusedAgentCount, ShowsAnErrorBoxAndLeavesNoAgents) {
  ErrorBoxes boxes;
  TForm1 form;
  QTest::qWait(10);
  form.GetWorld().SweepCount = 3;
  form.RChart1->Scale1Y()->SetRangeHigh(400);
  const bool running = form.Timer1->isActive();
  form.Edit_anzAg->setText(GetParam());
  Click(form.B_setup);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].first, "Zelmora");
  const QString text = QString::fromUtf8(GetParam());
  if (text == "abc") {
    EXPECT_EQ(boxes.shown[0].second, "'abc' is not a valid integer value.");
  } else {
    EXPECT_TRUE(boxes.shown[0].second.contains("2000"));
    EXPECT_TRUE(boxes.shown[0].second.contains("1600"));
    EXPECT_TRUE(boxes.shown[0].second.endsWith("."));
  }
  EXPECT_EQ(form.Timer1->isActive(), running);  // the timer is not touched
  EXPECT_TRUE(form.GetWorld().Agents.empty());
  EXPECT_EQ(form.GetWorld().StepCount, 0);
  EXPECT_EQ(form.GetWorld().SweepCount, 3);
  EXPECT_EQ(form.RChart1->Scale1Y()->RangeHigh(), 200.0);
  EXPECT_EQ(form.RChart1->ItemCount(), 1);
  // The run goes on over the empty world.
  QTest::qWait(20);
  EXPECT_GT(form.GetWorld().StepCount, 0);
  form.Edit_anzAg->setText("300");
  Click(form.B_setup);
  EXPECT_EQ(form.GetWorld().Agents.size(), 300u);
  EXPECT_EQ(boxes.shown.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Texts, RefusedAgentCount, ::testing::Values("abc", "2000"));

TEST(MainWindow, GrayCellsShowsOnlyAtTheNextStep) {
  TForm1 form;
  form.Timer1->stop();
  form.Cb_showCatch->setChecked(false);
  form.Cb_locP->setChecked(true);
  form.B_oneStepClick();
  form.Cb_locP->setChecked(false);
  Canvas& canvas = form.DrawingImage->GetCanvas();
  // Find an empty cell and look at its fill.
  const World& w = form.GetWorld();
  int col = 0, row = 0;
  while (w.grid.At(col, row).occupied || w.grid.At(col, row).isMarket) {
    if (++col == 40) { col = 0; ++row; }
  }
  const TColor before = canvas.Pixel(col * 10 + 5, row * 10 + 5);
  const int g = static_cast<int>(static_cast<std::uint32_t>(w.grid.At(col, row).grey) & 0xFF);
  EXPECT_EQ(before, RGBColor(g, g, g));
  Click(form.Button2);
  EXPECT_EQ(canvas.Pixel(col * 10 + 5, row * 10 + 5), before);  // nothing drawn yet
  form.B_oneStepClick();
  if (!w.grid.At(col, row).occupied) {
    EXPECT_EQ(canvas.Pixel(col * 10 + 5, row * 10 + 5), RGBColor(180, 180, 180));
  }
}

TEST(MainWindow, DrawsEveryAgentOnItsCell) {
  TForm1 form;
  form.Timer1->stop();
  for (int i = 0; i < 20; ++i) form.B_oneStepClick();
  const Canvas& canvas = form.DrawingImage->GetCanvas();
  const World& w = form.GetWorld();
  for (const TAgent& a : w.Agents) {
    ASSERT_EQ(canvas.Pixel(a.PositionX(), a.PositionY()), a.colour ? RGBColor(255, 255, 255) : RGBColor(0, 0, 0));
  }
  // An empty, non-market cell shows its catchment colour at its centre: no stale disc.
  int checked = 0;
  for (int row = 0; row < 40; ++row) {
    for (int col = 0; col < 40; ++col) {
      const TCell& cell = w.grid.At(col, row);
      if (cell.occupied) continue;
      ++checked;
      const TColor centre = canvas.Pixel(col * 10 + 5, row * 10 + 5);
      ASSERT_NE(centre, RGBColor(0, 0, 0)) << col << "," << row;
      ASSERT_NE(centre, RGBColor(255, 255, 255)) << col << "," << row;
    }
  }
  EXPECT_EQ(checked, 800);
}

}  // namespace
}  // namespace zelmora
