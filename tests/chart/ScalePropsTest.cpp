#include "Canvas.h"
#include "Scale.h"
#include "ScaleProps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace zelmora {
namespace {

struct CountedProps : ::testing::Test {
  TScalePropsVert props;
  int changes = 0;
  void SetUp() override { props.SetOnChange([this] { ++changes; }); }
};

TEST_F(CountedProps, RangeSettersKeepMinRangeApart) {
  props.SetRangeLow(5);
  props.SetRangeHigh(5);
  EXPECT_EQ(props.RangeHigh(), 5);
  EXPECT_EQ(props.RangeLow(), 5 - 1e-10);
  props.SetRangeLow(5);  // |5 - 5| < m again: high follows up
  EXPECT_EQ(props.RangeLow(), 5);
  EXPECT_EQ(props.RangeHigh(), 5 + 1e-10);
  EXPECT_EQ(changes, 3);
}

TEST_F(CountedProps, ReversedRangeIsKept) {
  props.SetRangeHigh(500);
  props.SetRangeLow(600);
  EXPECT_EQ(props.RangeLow(), 600);
  EXPECT_EQ(props.RangeHigh(), 500);
}

TEST_F(CountedProps, MinRangeWidensAboutTheMiddleAndOnlyThenNotifies) {
  props.SetMinRange(4);  // 0..1 is narrower: widened to -1.5..2.5
  EXPECT_EQ(props.MinRange(), 4);
  EXPECT_EQ(props.RangeLow(), -1.5);
  EXPECT_EQ(props.RangeHigh(), 2.5);
  EXPECT_EQ(changes, 1);
  props.SetMinRange(0.5);  // wide enough: stored, no notification
  EXPECT_EQ(props.MinRange(), 0.5);
  EXPECT_EQ(changes, 1);
  props.SetMinRange(1e-100);  // ignored
  props.SetMinRange(-3);
  EXPECT_EQ(props.MinRange(), 0.5);
  EXPECT_EQ(changes, 1);
  props.SetRangeHigh(-1.2);  // within 0.5 of -1.5: low follows
  EXPECT_EQ(props.RangeLow(), -1.2 - 0.5);
}

TEST_F(CountedProps, ClampsAndStoredValues) {
  props.SetDecPlaces(20);
  EXPECT_EQ(props.DecPlaces(), 12);
  props.SetDecPlaces(-7);
  EXPECT_EQ(props.DecPlaces(), -3);
  props.SetMinTicks(1);
  EXPECT_EQ(props.MinTicks(), 1);
  props.SetMinTicks(50);
  EXPECT_EQ(props.MinTicks(), 50);
  // Every setter notifies, also when nothing changed.
  props.SetMinTicks(50);
  props.SetVisible(props.Visible());
  EXPECT_EQ(changes, 6);
}

TEST_F(CountedProps, LogarithmicOnlyOnAPositiveRange) {
  props.SetLogarithmic(true);  // 0..1 has an end below 1e-100
  EXPECT_FALSE(props.Logarithmic());
  props.SetRangeHigh(1000);
  props.SetRangeLow(1);
  props.SetLogarithmic(true);
  EXPECT_TRUE(props.Logarithmic());
  props.SetRangeLow(0);  // ignored on a logarithmic scale
  EXPECT_EQ(props.RangeLow(), 1);
  props.SetLabelType(TFigType::ftDateTime);
  EXPECT_FALSE(props.Logarithmic());
  props.SetLogarithmic(true);  // refused with date labels
  EXPECT_FALSE(props.Logarithmic());
  props.SetLabelType(TFigType::ftTime);
  EXPECT_EQ(props.DecPlaces(), 4);

  TScalePropsHoriz loading;
  loading.SetLoading(true);
  loading.SetLogarithmic(true);  // taken unchanged while loading
  EXPECT_TRUE(loading.Logarithmic());
}

TEST_F(CountedProps, NonFiniteRangeEndsAreIgnored) {
  props.SetRangeHigh(std::numeric_limits<double>::quiet_NaN());
  props.SetRangeLow(std::numeric_limits<double>::infinity());
  EXPECT_EQ(props.RangeLow(), 0);
  EXPECT_EQ(props.RangeHigh(), 1);
}

TEST(ScalePropsDefaults, AsConstructed) {
  TScalePropsHoriz x;
  TScalePropsVert y;
  EXPECT_EQ(x.ScaleLocation(), TScaleLocationHoriz::slBottom);
  EXPECT_EQ(y.ScaleLocation(), TScaleLocationVert::slLeft);
  EXPECT_EQ(x.ScaleType(), TScaleType::sctXT);
  EXPECT_EQ(y.ScaleType(), TScaleType::sctYR);
  EXPECT_EQ(x.DecPlaces(), -2);
  EXPECT_EQ(x.MinTicks(), 3);
  EXPECT_EQ(x.MinRange(), 1e-10);
  EXPECT_EQ(x.RangeLow(), 0.0);
  EXPECT_EQ(x.RangeHigh(), 1.0);
  EXPECT_TRUE(x.ShortTicks());
  EXPECT_FALSE(x.Visible());
  EXPECT_EQ(x.CaptionAlignment(), TAlignment::taCenter);
  EXPECT_EQ(x.CaptionAnchor(), TScaleUnitAnchor::uaSclTopLft);
  EXPECT_EQ(x.LabelType(), TFigType::ftNum);
}

// A y axis of the program's chart (rims 20 top, 40 bottom, height 265), ticks
// read back from TickList.
std::vector<double> YTickList(int minTicks, bool shortTicks) {
  Canvas canvas(777, 265);
  TScalePropsVert props;
  props.SetRangeHigh(500);
  props.SetVisible(true);
  props.SetMinTicks(minTicks);
  props.SetShortTicks(shortTicks);
  TScale axis(QStringLiteral("y"));
  axis.Assign(props);
  axis.SetScaleType(TScaleType::sctYR);
  axis.SetSize(777, 265);
  axis.SetMarginTop(20);
  axis.SetMarginBottom(39);
  axis.SetMarginRight(726);
  axis.SetCanvas(&canvas);
  axis.DrawScale();
  std::vector<double> ticks;
  for (int i = 1; i <= axis.NumTicks(); ++i) ticks.push_back(axis.Tick(i));
  EXPECT_EQ(axis.Tick(0), 0.0);
  EXPECT_EQ(axis.Tick(axis.NumTicks() + 1), 0.0);
  return ticks;
}

TEST(ScaleTicks, MinTicksIsClampedWhenDrawn) {
  // 1 behaves as 2: q = 250, step 200.
  EXPECT_EQ(YTickList(1, false), (std::vector<double>{0, 200, 400}));
  EXPECT_EQ(YTickList(2, false), (std::vector<double>{0, 200, 400}));
  // 50 behaves as 10: q = 50, step 20.
  std::vector<double> by20;
  for (int v = 0; v <= 500; v += 20) by20.push_back(v);
  EXPECT_EQ(YTickList(50, false), by20);
  EXPECT_EQ(YTickList(10, false), by20);
}

TEST(ScaleTicks, TickListHoldsMinorsThenMajorsUpToFifty) {
  const std::vector<double> ticks = YTickList(3, true);  // 26 minors, 6 majors
  ASSERT_EQ(ticks.size(), 32u);
  EXPECT_EQ(ticks[0], 0);
  EXPECT_EQ(ticks[25], 500);
  EXPECT_EQ(ticks[26], 0);
  EXPECT_EQ(ticks[31], 500);
  EXPECT_EQ(YTickList(10, true).size(), 50u);  // 101 minors, capped
}

TEST(ScaleTicks, ScaleToPixelOfTheProgramsAxes) {
  TScale x(QStringLiteral("x"));
  x.SetRange(0, 500);
  x.SetSize(777, 265);
  x.SetMarginLeft(50);
  x.SetMarginRight(19);
  EXPECT_EQ(x.ScaleToPixel(0), 50);
  EXPECT_EQ(x.ScaleToPixel(100), 191);
  EXPECT_EQ(x.ScaleToPixel(500), 757);
  TScale y(QStringLiteral("y"));
  y.SetScaleType(TScaleType::sctYR);
  y.SetRange(-10, 200);
  y.SetSize(777, 265);
  y.SetMarginTop(20);
  y.SetMarginBottom(39);
  EXPECT_EQ(y.ScaleToPixel(-10), 225);
  EXPECT_EQ(y.ScaleToPixel(50), 166);
  EXPECT_EQ(y.ScaleToPixel(200), 20);
  y.SetRange(5, 5);  // no width: no mapping, no undefined value
  EXPECT_EQ(y.ScaleToPixel(7), 225);
}

}  // namespace
}  // namespace zelmora
