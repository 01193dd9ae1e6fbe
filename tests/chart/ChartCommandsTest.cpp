#include "ProgramChart.h"

#include <QtCore/qtestsupport_core.h>
#include <QtWidgets/qtestsupport_widgets.h>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <string>

namespace zelmora {
namespace {

using testing::MakeProgramChart;

TEST(ChartMapping, ProgramSettingsColumnsAndRows) {
  auto chart = MakeProgramChart();
  EXPECT_EQ(chart->DataImage().Width(), 708);  // data area 707 x 205 plus the frame
  EXPECT_EQ(chart->DataImage().Height(), 206);
  const double xs[] = {0, 1, 100, 498, 500, -1};
  const int columns[] = {50, 51, 191, 754, 757, 49};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(chart->DataToPixel(1, xs[i], 0).x(), columns[i]) << xs[i];
  const double ys[] = {-10, 0, 50, 100, 200, 230};
  const int rows[] = {225, 215, 166, 118, 20, -9};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(chart->DataToPixel(1, 0, ys[i]).y(), rows[i]) << ys[i];
  // Layer numbers out of range count as the nearest layer.
  EXPECT_EQ(chart->DataToPixel(0, 100, 50), chart->DataToPixel(1, 100, 50));
  EXPECT_EQ(chart->DataToPixel(7, 1, 1), chart->DataToPixel(2, 1, 1));
  // Extremes are limited, never undefined.
  EXPECT_EQ(chart->DataToPixel(1, 1e300, -1e300), QPoint(2147483647, 2147483647));
}

TEST(ChartMapping, ReversedAndRaisedRanges) {
  auto chart = MakeProgramChart();
  chart->Scale1Y()->SetRangeHigh(280);
  EXPECT_EQ(chart->DataToPixel(1, 0, 280).y(), 20);
  EXPECT_EQ(chart->DataToPixel(1, 0, -10).y(), 225);
  chart->Scale1X()->SetRangeLow(600);
  EXPECT_EQ(chart->Scale1X()->RangeLow(), 600);
  EXPECT_EQ(chart->DataToPixel(1, 600, 0).x(), 50);
  EXPECT_EQ(chart->DataToPixel(1, 500, 0).x(), 757);  // higher values to the left
}

TEST(ChartMapping, NoDataAreaMapsToTheMiddle) {
  auto chart = MakeProgramChart();
  chart->SetLRim(757);  // width 777 - 757 - 20 = 0
  EXPECT_EQ(chart->DataToPixel(1, 0, 0).x(), 388);  // 388.5, half to even
  EXPECT_EQ(chart->DataToPixel(1, 1e9, 0).x(), 388);
  EXPECT_EQ(chart->DataToPixel(1, 0, 0).y(), 215);
}

TEST(ChartMapping, LogarithmicAxes) {
  auto chart = MakeProgramChart();
  chart->Scale1X()->SetRangeLow(1);
  chart->Scale1X()->SetRangeHigh(1000);
  chart->Scale1X()->SetLogarithmic(true);
  ASSERT_TRUE(chart->Scale1X()->Logarithmic());
  EXPECT_EQ(chart->DataToPixel(1, 1, 0).x(), 50);
  EXPECT_EQ(chart->DataToPixel(1, 10, 0).x(), 286);  // 50 + 707 / 3
  EXPECT_EQ(chart->DataToPixel(1, 1000, 0).x(), 757);
  EXPECT_EQ(chart->DataToPixel(1, 0, 0).x(), 0);  // no logarithm: the control's edge
  chart->Scale1X()->SetRangeLow(2000);            // reversed
  EXPECT_EQ(chart->DataToPixel(1, -5, 0).x(), 777);
  chart->Scale1Y()->SetRangeLow(0.5);
  chart->Scale1Y()->SetRangeHigh(5000);
  chart->Scale1Y()->SetLogarithmic(true);
  EXPECT_EQ(chart->DataToPixel(1, 10, 0).y(), 265);  // the bottom edge
  EXPECT_EQ(chart->DataToPixel(1, 10, 5000).y(), 20);
  // Log axes draw their decades; items below the floor still draw.
  chart->AddLine(1, 1e-200, 100, 50);
  chart->PaintChart();
  // 0.5 .. 5000: 1, 10, 100, 1000 and the other multiples 0.5 .. 5000 between.
  const TScale* y = chart->ScaleY(1);
  EXPECT_EQ(y->NumTicks(), 5 + 9 + 9 + 9 + 5);
  EXPECT_DOUBLE_EQ(y->Tick(1), 0.5);
  EXPECT_DOUBLE_EQ(y->Tick(6), 1);
  EXPECT_DOUBLE_EQ(y->Tick(y->NumTicks()), 5000);
}

TEST(ChartStore, GrowsByAllocSizeAndIgnoresBadSizes) {
  auto chart = MakeProgramChart();
  EXPECT_EQ(chart->ItemCapacity(), 0);
  chart->MovePen(0, 0);
  EXPECT_EQ(chart->ItemCapacity(), 1000);
  for (int i = 1; i < 1000; ++i) chart->AddLine(i - 1, 0, i, 0);
  EXPECT_EQ(chart->ItemCount(), 1000);
  EXPECT_EQ(chart->ItemCapacity(), 1000);
  chart->AddLine(0, 0, 1, 1);  // the 1001st
  EXPECT_EQ(chart->ItemCapacity(), 2000);
  chart->SetAllocSize(0);
  EXPECT_EQ(chart->AllocSize(), 1000);
  chart->SetAllocSize(2000000);
  EXPECT_EQ(chart->AllocSize(), 1000);
  while (chart->ItemCount() < 2001) chart->MovePen(1, 1);
  EXPECT_EQ(chart->ItemCapacity(), 3000);
  // Items keep their order and values across the growth.
  EXPECT_EQ(chart->Item(999).x2, 999);
  EXPECT_EQ(chart->Item(1000).y2, 1);
}

TEST(ChartStore, ClearGraphicsEmptiesAndAllocatesAnew) {
  auto chart = MakeProgramChart();
  for (int i = 0; i < 1500; ++i) chart->MovePen(i, i);
  chart->SetAllocSize(300);
  chart->SetDataColor(255);
  chart->ClearGraphics();
  EXPECT_EQ(chart->ItemCount(), 0);
  EXPECT_EQ(chart->ItemCapacity(), 0);
  EXPECT_EQ(chart->DataColor(), 255u);  // settings stay
  chart->AddLine(1, 2, 3, 4);
  EXPECT_EQ(chart->ItemCapacity(), 300);
}

TEST(ChartStore, ItemsRecordTheCurrentSettings) {
  auto chart = MakeProgramChart();
  chart->SetDataColor(32768);
  chart->SetLineWidth(3);
  chart->SetPenStyle(PenStyle::Dot);
  chart->SetClassDefault(7);
  chart->SetClassDefault(255);  // ignored
  chart->SelectLayer(2);
  chart->AddLine(1.5, -2, 3, 4e9);
  chart->SelectLayer(3);  // ignored: stays on layer 2
  chart->MovePen(8, 9);
  const ChartItem& line = chart->Item(0);
  EXPECT_EQ(line.kind, kindLine);
  EXPECT_EQ(line.x1, 1.5);
  EXPECT_EQ(line.y1, -2);
  EXPECT_EQ(line.x2, 3);
  EXPECT_EQ(line.y2, 4e9);
  EXPECT_EQ(line.colour, 32768u);
  EXPECT_EQ(line.lineWidth, 3);
  EXPECT_EQ(line.penStyle, static_cast<int>(PenStyle::Dot));
  EXPECT_EQ(line.itemClass, 7);
  EXPECT_EQ(line.layer, 2);
  const ChartItem& move = chart->Item(1);
  EXPECT_EQ(move.kind, kindMovePen);
  EXPECT_EQ(move.x1, 8);
  EXPECT_EQ(move.y1, 9);
  EXPECT_EQ(move.layer, 2);
}

TEST(ChartRepaint, SelectLayerRepaintsOnlyValidLayersWithAutoRedraw) {
  auto chart = MakeProgramChart();
  const int base = chart->PaintCount();
  chart->SelectLayer(1);  // already 1: repaints again
  EXPECT_EQ(chart->PaintCount(), base + 1);
  for (int bad : {3, 0, -1}) {
    chart->SelectLayer(bad);
    EXPECT_EQ(chart->CurrentLayer(), 1);
  }
  EXPECT_EQ(chart->PaintCount(), base + 1);
  chart->AddLine(0, 0, 1, 1);
  EXPECT_EQ(chart->Item(0).layer, 1);
  chart->SetAutoRedraw(false);
  chart->SelectLayer(2);
  EXPECT_EQ(chart->CurrentLayer(), 2);
  EXPECT_EQ(chart->PaintCount(), base + 1);
}

TEST(ChartRepaint, RangeChangesAlwaysRepaintItemsNever) {
  auto chart = MakeProgramChart();
  chart->SetAutoRedraw(false);
  int base = chart->PaintCount();
  chart->Scale1Y()->SetRangeHigh(280);
  EXPECT_EQ(chart->PaintCount(), base + 1);
  chart->Scale2X()->SetRangeLow(-3);  // a hidden scale too
  EXPECT_EQ(chart->PaintCount(), base + 2);
  base = chart->PaintCount();
  const int presented = chart->PresentCount();
  chart->MovePen(0, 0);
  chart->AddLine(0, 0, 1, 100);
  chart->SetDataColor(255);
  chart->SetAllocSize(10);
  chart->SetLineWidth(2);
  EXPECT_EQ(chart->PaintCount(), base);
  EXPECT_EQ(chart->PresentCount(), presented);
}

TEST(ChartRepaint, SettersRepaintOnlyWithAutoRedraw) {
  auto chart = MakeProgramChart();
  int base = chart->PaintCount();
  chart->SetCaption(QStringLiteral("c"));
  chart->SetChartColor(colors::kWhite);
  chart->SetRRim(20);
  chart->SetBounds(0, 0, 777, 265);
  chart->CrossHair1()->SetColor(255);
  EXPECT_EQ(chart->PaintCount(), base + 5);
  chart->SetAutoRedraw(false);
  base = chart->PaintCount();
  chart->SetCaption(QStringLiteral("d"));
  chart->SetTRim(20);
  chart->SetBounds(0, 0, 777, 265);
  chart->CrossHair2()->SetMode(TCrossHairMode::chOff);
  EXPECT_EQ(chart->PaintCount(), base);
}

TEST(ChartRepaint, ClearGraphicsLeavesTheWindowAlone) {
  auto chart = MakeProgramChart();
  chart->MovePen(0, 0);
  chart->AddLine(0, 0, 250, 100);
  chart->PaintChart();
  const QImage shown = chart->PresentedImage().copy();
  const int presented = chart->PresentCount();
  const int painted = chart->PaintCount();
  chart->ClearGraphics();
  EXPECT_EQ(chart->PresentCount(), presented);
  EXPECT_EQ(chart->PaintCount(), painted);
  EXPECT_EQ(chart->PresentedImage(), shown);
}

TEST(ChartRepaint, RefreshChartRedrawsTheDataAreaOrEverything) {
  auto chart = MakeProgramChart();
  chart->PaintChart();
  const QImage control = chart->ControlImage().Image().copy();
  int painted = chart->PaintCount();
  int presented = chart->PresentCount();
  chart->MovePen(0, 0);
  chart->SetDataColor(255);
  chart->AddLine(250, 0, 250, 200);
  chart->RefreshChart();  // AutoRedraw: data area only
  EXPECT_EQ(chart->PaintCount(), painted);
  EXPECT_EQ(chart->PresentCount(), presented + 1);
  EXPECT_EQ(chart->ControlImage().Image(), control);  // keeps its older data area
  const QPoint mid = chart->DataToPixel(1, 250, 100);
  EXPECT_EQ(FromQRgb(chart->PresentedImage().pixel(mid)), 255u);

  chart->SetAutoRedraw(false);
  painted = chart->PaintCount();
  chart->RefreshChart();
  EXPECT_EQ(chart->PaintCount(), painted + 1);
  EXPECT_EQ(FromQRgb(chart->ControlImage().Image().pixel(mid)), 255u);

  // Hidden: nothing at all.
  chart->setVisible(false);
  painted = chart->PaintCount();
  presented = chart->PresentCount();
  chart->RefreshChart();
  chart->PaintChart();
  EXPECT_EQ(chart->PaintCount(), painted);
  EXPECT_EQ(chart->PresentCount(), presented);
}

TEST(ChartLifecycle, PaintSuspendedUntilTheWindowExists) {
  auto chart = MakeProgramChart(/*windowCreated=*/false);
  EXPECT_TRUE(chart->PaintSuspended());
  chart->SelectLayer(1);
  chart->PaintChart();
  EXPECT_EQ(chart->PaintCount(), 0);
  // The program refreshes before its window is shown: DataImage only.
  chart->MovePen(0, 0);
  chart->SetDataColor(255);
  chart->AddLine(250, 0, 250, 200);  // column 404
  chart->RefreshChart();
  EXPECT_EQ(chart->PresentCount(), 0);
  EXPECT_EQ(chart->DataImage().Pixel(404 - 50, 100), 255u);
  chart->WindowCreated();
  EXPECT_FALSE(chart->PaintSuspended());
  EXPECT_EQ(chart->PaintCount(), 0);  // cleared without painting
}

TEST(ChartLifecycle, LoadingHoldsPaintingAndTheLogarithmicCheck) {
  auto chart = MakeProgramChart();
  const int base = chart->PaintCount();
  chart->BeginLoading();
  chart->Scale1X()->SetLogarithmic(true);  // taken as stored: range 0..500
  chart->Scale1X()->SetLogarithmic(false);
  chart->Scale1Y()->SetRangeHigh(300);
  chart->SelectLayer(1);
  EXPECT_EQ(chart->PaintCount(), base);
  EXPECT_EQ(chart->DataToPixel(1, 0, 300).y(), -78);  // still -10..200: 215.24 - 292.86
  chart->Loaded();
  EXPECT_EQ(chart->PaintCount(), base + 1);
  EXPECT_EQ(chart->DataToPixel(1, 0, 300).y(), 20);
  chart->Scale1X()->SetLogarithmic(true);  // checked again
  EXPECT_FALSE(chart->Scale1X()->Logarithmic());
}

TEST(ChartLifecycle, DefaultsAfterConstruction) {
  TRChart chart(nullptr);
  EXPECT_EQ(chart.ChartWidth(), 280);
  EXPECT_EQ(chart.ChartHeight(), 200);
  EXPECT_EQ(chart.AllocSize(), 1000);
  EXPECT_TRUE(chart.AutoRedraw());
  EXPECT_EQ(chart.LRim(), 50);
  EXPECT_EQ(chart.RRim(), 20);
  EXPECT_EQ(chart.TRim(), 20);
  EXPECT_EQ(chart.BRim(), 40);
  EXPECT_EQ(chart.CaptionPosY(), -16);
  EXPECT_EQ(chart.CaptionAlignment(), TAlignment::taRightJustify);
  EXPECT_EQ(chart.CurrentLayer(), 1);
  EXPECT_TRUE(chart.Scale1X()->Visible());
  EXPECT_TRUE(chart.Scale1Y()->Visible());
  EXPECT_FALSE(chart.Scale2X()->Visible());
  EXPECT_EQ(chart.Scale2Y()->ColorScale(), RGBColor(128, 0, 0));
  EXPECT_EQ(chart.Scale1Y()->CaptionPosY(), -16);
  EXPECT_EQ(chart.Scale2Y()->CaptionAlignment(), TAlignment::taRightJustify);
  EXPECT_EQ(chart.ScaleX(1)->Name(), "RC_FScale_X_1");
  EXPECT_EQ(chart.ScaleY(2)->Name(), "RC_FScale_Y_2");
  EXPECT_EQ(chart.CrossHair3()->Layer(), 3);
  EXPECT_EQ(chart.CrossHair3()->Mode(), TCrossHairMode::chOff);
  EXPECT_EQ(chart.TextLabel(20)->Visible, false);
  EXPECT_EQ(chart.TextLabel(21), nullptr);
  EXPECT_EQ(chart.BackGroundImg()->FillMode(), TBkgFill::bfStretch);
}

TEST(ChartLooks, EveryAxisStandsOnTheWindColor) {
  TRChart chart(nullptr);
  auto axesOn = [&chart](TColor color) {
    for (int layer = 1; layer <= 2; ++layer) {
      if (chart.ScaleX(layer)->BackgroundColor() != color) return false;
      if (chart.ScaleY(layer)->BackgroundColor() != color) return false;
    }
    return true;
  };
  EXPECT_TRUE(axesOn(clBtnFace));
  for (TColor wind : {RGBColor(0, 0, 255), RGBColor(200, 10, 30), clBtnFace}) {
    chart.SetWindColor(wind);
    EXPECT_TRUE(axesOn(wind)) << wind;
    // A scale change copies its settings into the axis again and keeps it.
    chart.Scale1Y()->SetRangeHigh(chart.Scale1Y()->RangeHigh() + 1);
    EXPECT_TRUE(axesOn(wind)) << wind;
  }
}

TEST(ChartBounds, RaisedToTheMinimumSize) {
  auto chart = MakeProgramChart();
  chart->SetBounds(3, 4, 10, 10);
  EXPECT_EQ(chart->ChartWidth(), 50 + 20 + 80);
  EXPECT_EQ(chart->ChartHeight(), 20 + 40 + 20);
  EXPECT_EQ(chart->geometry(), QRect(3, 4, 150, 80));
  chart->SetShadowWidth(100);  // clamped to 32
  EXPECT_EQ(chart->ShadowWidth(), 32);
  chart->SetBounds(0, 0, 0, 0);
  EXPECT_EQ(chart->ChartWidth(), 50 + 20 + 32 + 80);
  // A resize from outside goes through the same rule.
  chart->show();
  chart->resize(60, 30);
  EXPECT_EQ(chart->ChartWidth(), 50 + 20 + 32 + 80);
  EXPECT_EQ(chart->width(), chart->ChartWidth());
  chart->resize(400, 300);
  EXPECT_EQ(chart->ChartWidth(), 400);
  EXPECT_EQ(chart->ChartHeight(), 300);
}

TEST(ChartJoints, LayerTwoFollowsLayerOne) {
  auto chart = MakeProgramChart();
  TJointLayers* joints = chart->JointLayers();
  EXPECT_EQ(joints->L01xControlledBy(), 1);
  EXPECT_EQ(joints->L02yControlledBy(), 2);
  const int base = chart->PaintCount();
  joints->SetL02xControlledBy(1);
  EXPECT_EQ(chart->PaintCount(), base + 1);
  EXPECT_EQ(chart->Scale2X()->RangeLow(), 0);
  EXPECT_EQ(chart->Scale2X()->RangeHigh(), 500);
  EXPECT_EQ(chart->Scale2Y()->RangeHigh(), 1);  // y stays its own
  EXPECT_EQ(chart->DataToPixel(2, 100, 0).x(), 191);

  chart->Scale1X()->SetRangeHigh(1000);  // passed on to layer 2
  EXPECT_EQ(chart->Scale2X()->RangeHigh(), 1000);
  chart->Scale2X()->SetRangeHigh(7);  // a following axis keeps its range
  EXPECT_EQ(chart->Scale2X()->RangeHigh(), 1000);

  auto message = [&](auto set) {
    try {
      set();
    } catch (const EVrelRChartError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message([&] { joints->SetL01xControlledBy(2); }),
            "Destination layer 2 is already joined");
  EXPECT_EQ(message([&] { joints->SetL01xControlledBy(3); }),
            "Destination layer 3 is out of range");
  EXPECT_EQ(message([&] { joints->SetL02yControlledBy(0); }),
            "Destination layer 0 is out of range");
  EXPECT_EQ(joints->L01xControlledBy(), 1);
  EXPECT_EQ(joints->L02yControlledBy(), 2);

  const int painted = chart->PaintCount();
  joints->SetL02xControlledBy(2);  // its own layer: stored, nothing else
  EXPECT_EQ(joints->L02xControlledBy(), 2);
  EXPECT_EQ(chart->PaintCount(), painted);
  joints->SetL01yControlledBy(2);
  EXPECT_EQ(chart->Scale1Y()->RangeLow(), 0);
  EXPECT_EQ(chart->Scale1Y()->RangeHigh(), 1);
}

TEST(ChartWindow, SystemPaintRepaintsOwnUpdateOnlyCopies) {
  auto chart = MakeProgramChart(/*windowCreated=*/false);
  chart->show();
  EXPECT_FALSE(chart->PaintSuspended());
  QCoreApplication::processEvents();
  chart->MovePen(0, 0);
  chart->SetDataColor(255);
  chart->AddLine(250, 0, 250, 200);
  chart->PaintChart();
  QCoreApplication::processEvents();
  const QPoint mid = chart->DataToPixel(1, 250, 100);
  EXPECT_EQ(FromQRgb(chart->PresentedImage().pixel(mid)), 255u);
  chart->ClearGraphics();
  EXPECT_EQ(FromQRgb(chart->PresentedImage().pixel(mid)), 255u);
  // A paint request from the window system draws afresh: empty data area.
  int system = chart->SystemPaintCount();
  chart->repaint();
  EXPECT_EQ(chart->SystemPaintCount(), system + 1);
  EXPECT_EQ(FromQRgb(chart->PresentedImage().pixel(mid)), colors::kWhite);

  QCoreApplication::processEvents();
  system = chart->SystemPaintCount();
  const int painted = chart->PaintCount();
  const int events = chart->PaintEventCount();
  chart->SelectLayer(1);  // our own repaint: presented, then copied
  EXPECT_EQ(chart->PaintCount(), painted + 1);
  EXPECT_EQ(chart->PaintEventCount(), events);  // nothing waits for the screen
  // The screen gets the image within a frame (16 ms); a loaded machine may take far longer.
  ASSERT_TRUE(QTest::qWaitFor([&] { return chart->PaintEventCount() > events; }, 10000));
  EXPECT_EQ(chart->PaintEventCount(), events + 1);
  EXPECT_EQ(chart->SystemPaintCount(), system);
  EXPECT_EQ(chart->PaintCount(), painted + 1);
}

// An update asked of the window while the chart is hidden (itself, or the
// page it stands on) never comes; the first paint after showing it again
// shows what the chart holds now, not the picture presented before.
TEST(ChartWindow, ShownAgainItPaintsWhatItHoldsNow) {
  for (const bool hidePage : {false, true}) {
    QWidget page;
    page.resize(800, 300);
    TRChart* chart = MakeProgramChart(/*windowCreated=*/false).release();
    chart->setParent(&page);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    const QPoint mid = chart->DataToPixel(1, 250, 100);
    QWidget* hidden = hidePage ? &page : static_cast<QWidget*>(chart);
    chart->SetDataColor(255);
    chart->AddLine(250, 0, 250, 200);
    chart->PaintChart();
    hidden->hide();
    chart->PaintChart();  // draws only while the page alone is hidden
    ASSERT_TRUE(QTest::qWaitFor([&] { return chart->UpdatePending(); }, 10000)) << hidePage;
    chart->ClearGraphics();
    const int events = chart->PaintEventCount();
    hidden->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return chart->PaintEventCount() > events; }, 10000));
    EXPECT_EQ(FromQRgb(chart->PresentedImage().pixel(mid)), colors::kWhite) << hidePage;
    // Later updates still reach the screen.
    chart->AddLine(250, 0, 250, 200);
    const int before = chart->PaintEventCount();
    chart->PaintChart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return chart->PaintEventCount() > before; }, 10000));
    EXPECT_EQ(FromQRgb(chart->PresentedImage().pixel(mid)), 255u) << hidePage;
  }
}

}  // namespace
}  // namespace zelmora
