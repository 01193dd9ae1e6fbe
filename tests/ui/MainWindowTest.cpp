#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>

#include "RChart.h"
#include "tests/ui/ErrorBoxes.h"
#include "ui/Application.h"
#include "ui/DrawingImage.h"
#include "ui/MainWindow.h"
#include "ui/ParameterText.h"

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
  EXPECT_EQ(form.DrawingImage->geometry(), QRect(1, 1, 402, 402));  // inside the border
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

// The panel's single border stays visible around the image: the image lies inside it, and the
// panel's outermost ring of pixels is the border's colour.
TEST(MainWindow, TheDrawingImageLiesInsideThePanelsBorder) {
  TForm1 form;
  form.Timer1->stop();
  const QRect inside = form.ZeichenPanel->contentsRect();
  EXPECT_EQ(inside, QRect(1, 1, 402, 402));
  EXPECT_EQ(form.DrawingImage->geometry(), inside);
  EXPECT_EQ(form.DrawingImage->GetCanvas().Width(), 402);
  const QImage panel = form.ZeichenPanel->grab().toImage();
  ASSERT_EQ(panel.size(), QSize(404, 404));
  const QRgb border = form.ZeichenPanel->palette().color(QPalette::WindowText).rgb();
  for (int i = 0; i < 404; ++i) {
    for (const QPoint p : {QPoint(i, 0), QPoint(i, 403), QPoint(0, i), QPoint(403, i)}) {
      ASSERT_EQ(panel.pixel(p), border) << p.x() << "," << p.y();
    }
  }
  // The grid starts right inside the border: the image's first pixel is the panel's (1, 1).
  const QImage& image = form.DrawingImage->GetCanvas().Image();
  for (const QPoint p : {QPoint(0, 0), QPoint(5, 5), QPoint(399, 399), QPoint(200, 37)}) {
    EXPECT_EQ(panel.pixel(p + QPoint(1, 1)) | 0xff000000u, image.pixel(p) | 0xff000000u);
  }
}

// Tab visits every control in the window's order and comes round again; a focused scroll bar or
// the track bar answers the arrow keys with its small change and Page Up / Page Down with its
// large one, and rewrites its label as a mouse change does.
TEST(MainWindow, TheKeyboardReachesAndMovesEveryControl) {
  TForm1 form;
  form.Timer1->stop();
  form.show();
  QApplication::setActiveWindow(&form);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  const std::vector<QWidget*> order = {
      form.B_setup,     form.B_stop,       form.Edit_anzAg,    form.B_oneStep, form.SB_ProdKost,
      form.SB_FahrtKost, form.SB_Skalen,   form.Cb_segregat,   form.Cb_toCenters,
      form.Cb_showCatch, form.Cb_locP,     form.Button2,       form.TrB_thresh};
  form.B_setup->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.B_setup->hasFocus(); }, 10000));
  for (std::size_t i = 1; i <= order.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* expected = order[i % order.size()];
    ASSERT_EQ(QApplication::focusWidget(), expected)
        << "step " << i << ": " << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "none");
  }

  const struct {
    QAbstractSlider* control;
    QLabel* label;
    int small, large;
    QString (*text)(int, const QLocale&);
  } controls[] = {
      {form.SB_ProdKost, form.Lbl_ProdKost, 1, 10, ProductionCostText},
      {form.SB_FahrtKost, form.Lbl_FahrtKost, 1, 5, TravelCostText},
      {form.SB_Skalen, form.Lbl_Skalen, 1, 5, ReturnsToScaleText},
      {form.TrB_thresh, form.Lbl_P, 1, 1, ThresholdPercentText},
  };
  // Towards the maximum: Right, Down, Page Down; towards the minimum: Left, Up, Page Up.
  const std::pair<Qt::Key, int> keys[] = {{Qt::Key_Right, 1},      {Qt::Key_Left, -1},
                                          {Qt::Key_Down, 1},       {Qt::Key_Up, -1},
                                          {Qt::Key_PageDown, 10},  {Qt::Key_PageUp, -10}};
  for (const auto& c : controls) {
    c.control->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(c.control->hasFocus());
    for (const auto& [key, sign] : keys) {
      const int before = c.control->value();
      QTest::keyClick(c.control, key);
      const int step = std::abs(sign) == 1 ? c.small : c.large;
      EXPECT_EQ(c.control->value(), before + (sign > 0 ? step : -step)) << c.label->text().toStdString();
      EXPECT_EQ(c.label->text(), c.text(c.control->value(), QLocale()));
    }
    QTest::keyClick(c.control, Qt::Key_End);
    EXPECT_EQ(c.label->text(), c.text(c.control->maximum(), QLocale()));
    QTest::keyClick(c.control, Qt::Key_Home);
    EXPECT_EQ(c.label->text(), c.text(c.control->minimum(), QLocale()));
  }
  EXPECT_EQ(form.Lbl_B->text(), ThresholdFractionText(form.TrB_thresh->value()));
  EXPECT_EQ(form.lbl_Steps->text(), "lbl_Steps");  // keys only rewrite labels
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

// The timer's ticks are awaited as conditions with a generous deadline, never for a fixed time.
bool StepsReach(TForm1& form, int count) {
  return QTest::qWaitFor([&] { return form.GetWorld().StepCount >= count; }, 20000);
}

// Handles whatever events are due, timer ticks included, without waiting for new ones.
void HandlePendingEvents() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

TEST(MainWindow, RunsByItselfAndCountsSteps) {
  TForm1 form;
  EXPECT_EQ(form.lbl_Steps->text(), "lbl_Steps");
  ASSERT_TRUE(StepsReach(form, 3));
  const int steps = form.lbl_Steps->text().toInt();
  EXPECT_GE(steps, 3);
  EXPECT_EQ(steps, form.GetWorld().StepCount);
}

TEST(MainWindow, OneStepStopsTheRunAndStartStopResumes) {
  TForm1 form;
  ASSERT_TRUE(StepsReach(form, 2));
  Click(form.B_oneStep);
  EXPECT_FALSE(form.Timer1->isActive());
  const int after = form.GetWorld().StepCount;
  EXPECT_EQ(form.lbl_Steps->text().toInt(), after);
  HandlePendingEvents();
  EXPECT_EQ(form.GetWorld().StepCount, after);  // stopped: no tick comes
  Click(form.B_oneStep);
  EXPECT_EQ(form.GetWorld().StepCount, after + 1);  // exactly one more while stopped
  Click(form.B_stop);
  EXPECT_TRUE(form.Timer1->isActive());
  EXPECT_TRUE(StepsReach(form, after + 3));
  Click(form.B_stop);
  EXPECT_FALSE(form.Timer1->isActive());
  const int stopped = form.GetWorld().StepCount;
  HandlePendingEvents();
  EXPECT_EQ(form.GetWorld().StepCount, stopped);
}

// A window left running until its step count holds at the maximum: the chart still starts a new
// sweep every 499 steps, so it never holds more than a full sweep and its points stay in range.
TEST(MainWindow, ChartStaysBoundedOnceTheStepCountHolds) {
  constexpr std::int32_t max = std::numeric_limits<std::int32_t>::max();
  for (const std::int32_t start : {max - 300, max}) {
    TForm1 form;
    form.Timer1->stop();
    form.GetWorld().StepCount = start;
    form.GetWorld().SweepCount = start / 499;
    for (int i = 0; i < 1100; ++i) {
      form.SimulationStep();
      ASSERT_LE(form.RChart1->ItemCount(), 1 + 2 * 499) << start << " + " << i;
      const ChartItem& last = form.RChart1->Item(form.RChart1->ItemCount() - 1);
      ASSERT_GE(last.x2, 0.0);
      ASSERT_LE(last.x2, 498.0);
    }
    EXPECT_EQ(form.lbl_Steps->text(), QString::number(max));
  }
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
  ASSERT_TRUE(StepsReach(form, 1));
  form.GetWorld().SweepCount = 3;
  form.RChart1->Scale1Y()->SetRangeHigh(400);
  const bool running = form.Timer1->isActive();
  form.Edit_anzAg->setText(GetParam());
  Click(form.B_setup);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].first, "Zelmora");
  const QString text = QString::fromUtf8(GetParam());
  if (text != "2000") {
    EXPECT_EQ(boxes.shown[0].second, "'" + text + "' is not a valid integer value.");
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
  EXPECT_TRUE(StepsReach(form, 2));
  form.Edit_anzAg->setText("300");
  Click(form.B_setup);
  EXPECT_EQ(form.GetWorld().Agents.size(), 300u);
  EXPECT_EQ(boxes.shown.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Texts, RefusedAgentCount, ::testing::Values("abc", "2000", "<b>7</b>"));

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
