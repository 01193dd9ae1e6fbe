#include "ProgramChart.h"

#include <gtest/gtest.h>

#include <limits>

namespace zelmora {
namespace {

using testing::kProgramCaption;
using testing::MakeProgramChart;

constexpr TColor kBlack = colors::kBlack;
constexpr TColor kWhite = colors::kWhite;
constexpr TColor kRed = 255;
constexpr TColor kGreen = 32768;

// Pixels of DataImage inside the frame that are not white.
int InkInside(const Canvas& image) {
  int n = 0;
  for (int y = 1; y < image.Height() - 1; ++y) {
    for (int x = 1; x < image.Width() - 1; ++x) n += image.Pixel(x, y) != kWhite;
  }
  return n;
}

TEST(ChartPaint, EmptyStoreIsWhiteInsideABlackFrame) {
  auto chart = MakeProgramChart();
  chart->PaintChart();
  const Canvas& data = chart->DataImage();
  ASSERT_EQ(data.Width(), 708);
  ASSERT_EQ(data.Height(), 206);
  EXPECT_EQ(InkInside(data), 0);
  for (int x = 0; x < 708; ++x) {
    ASSERT_EQ(data.Pixel(x, 0), kBlack) << x;
    ASSERT_EQ(data.Pixel(x, 205), kBlack) << x;
  }
  for (int y = 0; y < 206; ++y) {
    ASSERT_EQ(data.Pixel(0, y), kBlack) << y;
    ASSERT_EQ(data.Pixel(707, y), kBlack) << y;
  }
  // Copied into the control at (LRim, TRim) and presented as it is.
  const Canvas& control = chart->ControlImage();
  EXPECT_EQ(control.Pixel(50, 20), kBlack);
  EXPECT_EQ(control.Pixel(757, 225), kBlack);
  EXPECT_EQ(control.Pixel(51, 21), kWhite);
  EXPECT_EQ(control.Pixel(758, 100), ResolveColor(clBtnFace));
  EXPECT_EQ(control.Pixel(49, 100), ResolveColor(clBtnFace));
  EXPECT_EQ(chart->PresentedImage(), control.Image());
}

TEST(ChartPaint, LineOnOnePixelSetsThatPixel) {
  auto chart = MakeProgramChart();
  chart->SetDataColor(kGreen);
  chart->AddLine(100, 50, 100.2, 50.3);  // both ends on (191, 166)
  chart->PaintChart();
  EXPECT_EQ(chart->DataImage().Pixel(191 - 50, 166 - 20), kGreen);
  EXPECT_EQ(InkInside(chart->DataImage()), 1);
}

TEST(ChartPaint, FirstSegmentOfASweep) {
  auto chart = MakeProgramChart();
  chart->MovePen(0, 0);
  chart->SetDataColor(kRed);
  chart->AddLine(0, 0, 1, 100);  // DataImage (0, 195) towards (1, 98)
  chart->PaintChart();
  const Canvas& d = chart->DataImage();
  EXPECT_EQ(d.Pixel(0, 195), kBlack);  // start pixel under the frame
  EXPECT_EQ(d.Pixel(1, 146), kRed);    // the steep line steps over at mid-height
  EXPECT_EQ(d.Pixel(1, 147), kWhite);
  EXPECT_EQ(d.Pixel(1, 99), kRed);
  EXPECT_EQ(d.Pixel(1, 98), kWhite);   // end pixel left for the next segment
  EXPECT_EQ(InkInside(d), 146 - 99 + 1);
}

TEST(ChartPaint, FarEndPointsAreLimitedTo30000) {
  auto chart = MakeProgramChart();
  chart->SetDataColor(kRed);
  // (100, 0) is DataImage (141, 195); y = 1e9 maps far above and is limited
  // to control row -30000 before drawing, which bends the line to column 142
  // from row 88 upwards (an unlimited end would keep it on column 141).
  chart->AddLine(100, 0, 200, 1e9);
  chart->PaintChart();
  const Canvas& d = chart->DataImage();
  EXPECT_EQ(d.Pixel(141, 194), kRed);
  EXPECT_EQ(d.Pixel(141, 89), kRed);
  EXPECT_EQ(d.Pixel(141, 88), kWhite);
  EXPECT_EQ(d.Pixel(142, 88), kRed);
  EXPECT_EQ(d.Pixel(142, 1), kRed);
}

TEST(ChartPaint, ItemsOutsideTheRangeAreCutAtTheImageEdge) {
  auto chart = MakeProgramChart();
  chart->SetDataColor(kRed);
  chart->AddLine(10, -20, 10, 0);  // below RangeLow: only the part inside shows
  chart->AddLine(-1e300, 1e300, 1e300, -1e300);
  chart->PaintChart();
  const Canvas& d = chart->DataImage();
  EXPECT_EQ(d.Pixel(14, 204), kRed);
  EXPECT_EQ(d.Pixel(14, 196), kRed);
  EXPECT_EQ(d.Pixel(14, 195), kWhite);  // its end pixel, y = 0
  EXPECT_EQ(d.Pixel(100, 130), kRed);   // the far diagonal, ends limited alike
}

// A point that is not a number, or infinite, has no pixel: an item that uses
// one is left out, and so is a whole line with one such end. The picture is
// the one of the finite items alone.
TEST(ChartPaint, ItemsWithANonFinitePointAreLeftOut) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* what;
    bool line;
    double x1, y1, x2, y2;
  } cases[] = {
      {"line from NaN", true, nan, nan, 250, 100},
      {"line to NaN", true, 250, 100, 300, nan},
      {"line from infinity", true, inf, 50, 250, 100},
      {"line to minus infinity", true, 250, 100, 250, -inf},
      {"pen move to NaN", false, nan, 20, 0, 0},
  };
  auto finiteOnly = MakeProgramChart();
  finiteOnly->SetDataColor(kRed);
  finiteOnly->AddLine(10, 10, 400, 150);
  finiteOnly->PaintChart();
  ASSERT_GT(InkInside(finiteOnly->DataImage()), 300);
  for (const auto& c : cases) {
    auto chart = MakeProgramChart();
    chart->SetDataColor(kRed);
    if (c.line) {
      chart->AddLine(c.x1, c.y1, c.x2, c.y2);
    } else {
      chart->MovePen(c.x1, c.y1);
    }
    chart->AddLine(10, 10, 400, 150);
    chart->PaintChart();
    EXPECT_EQ(chart->DataImage().Image(), finiteOnly->DataImage().Image()) << c.what;
    chart->RefreshChart();
    EXPECT_EQ(chart->DataImage().Image(), finiteOnly->DataImage().Image()) << c.what;
  }
}

TEST(ChartPaint, BottomAxisTicksStandAtTheirColumns) {
  auto chart = MakeProgramChart();
  chart->PaintChart();
  const Canvas& c = chart->ControlImage();
  const TColor wind = ResolveColor(clBtnFace);
  // Major ticks at x = 0, 100, ..., 500: rows 225..231 (225 is the frame).
  for (int column : {50, 191, 333, 474, 616, 757}) {
    for (int row = 226; row <= 231; ++row) EXPECT_EQ(c.Pixel(column, row), kBlack) << column;
    EXPECT_EQ(c.Pixel(column, 232), wind) << column;
  }
  EXPECT_EQ(c.Pixel(190, 228), wind);
  EXPECT_EQ(c.Pixel(192, 228), wind);
  // Minor ticks at x = 20 (column 78) and 480 (729): 4 pixels.
  for (int column : {78, 729}) {
    for (int row = 226; row <= 228; ++row) EXPECT_EQ(c.Pixel(column, row), kBlack) << column;
    EXPECT_EQ(c.Pixel(column, 229), wind) << column;
  }
  // The left axis: y = 100 on row 118 (6 pixels), y = 10 on row 205 (4).
  for (int column = 45; column <= 49; ++column) EXPECT_EQ(c.Pixel(column, 118), kBlack);
  EXPECT_EQ(c.Pixel(44, 118), wind);
  for (int column = 47; column <= 49; ++column) EXPECT_EQ(c.Pixel(column, 205), kBlack);
  EXPECT_EQ(c.Pixel(46, 205), wind);
  // Labels lie below the bottom ticks and left of the left ones.
  int below = 0;
  for (int row = 232; row < 250; ++row) {
    for (int column = 182; column <= 200; ++column) below += c.Pixel(column, row) != wind;
  }
  EXPECT_GT(below, 10);
}

// The caption as the window shows it: its text cell ends on column 757 (a
// glyph may reach one pixel past its advance), top on row 4,
// in the font of the last visible scale of the previous repaint.
Canvas ExpectedCaption(int pixelHeight) {
  Canvas ref(777, 265);
  ref.SetPenStyle(PenStyle::Clear);
  ref.SetBrushColor(ResolveColor(clBtnFace));
  ref.Rectangle(0, 0, 777, 265);
  ref.SetBrushStyle(BrushStyle::Clear);
  ref.SetFont(TahomaFont(pixelHeight));
  ref.TextOut(757 - ref.TextWidth(kProgramCaption), 4, kProgramCaption);
  return ref;
}

// Compared above the data area and right of the y labels.
bool CaptionMatches(const Canvas& actual, const Canvas& expected) {
  for (int y = 0; y < 20; ++y) {
    for (int x = 50; x < 777; ++x) {
      if (actual.Pixel(x, y) != expected.Pixel(x, y)) return false;
    }
  }
  return true;
}

TEST(ChartPaint, CaptionEndsAtTheDataAreasRightEdge) {
  const Canvas ref11 = ExpectedCaption(11);
  int ink = 0;
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 777; ++x) {
      const bool on = ref11.Pixel(x, y) != ResolveColor(clBtnFace);
      ink += on;
      ASSERT_FALSE(on && (y < 4 || x > 757)) << x << "," << y;
    }
  }
  ASSERT_GT(ink, 100);

  auto chart = MakeProgramChart();
  chart->PaintChart();
  chart->PaintChart();
  EXPECT_TRUE(CaptionMatches(chart->ControlImage(), ref11));
  // A new scale font reaches the caption one repaint later.
  chart->Scale1Y()->SetFont(TahomaFont(16));
  EXPECT_TRUE(CaptionMatches(chart->ControlImage(), ref11));
  chart->PaintChart();
  EXPECT_TRUE(CaptionMatches(chart->ControlImage(), ExpectedCaption(16)));
  EXPECT_FALSE(CaptionMatches(chart->ControlImage(), ref11));
}

TEST(ChartPaint, RaisedRangeRedrawsStoredItemsAtTheNewScale) {
  auto chart = MakeProgramChart();
  chart->SetAutoRedraw(false);
  chart->SetDataColor(kRed);
  chart->AddLine(250, 100, 250, 100);  // one pixel
  chart->Scale1Y()->SetRangeHigh(280);
  const QPoint p = chart->DataToPixel(1, 250, 100);
  EXPECT_EQ(p, QPoint(404, 147));  // 403.5 rounds to even
  EXPECT_EQ(chart->ControlImage().Pixel(p.x(), p.y()), kRed);
  EXPECT_EQ(FromQRgb(chart->PresentedImage().pixel(p)), kRed);
}

}  // namespace
}  // namespace zelmora
