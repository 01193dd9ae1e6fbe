#include "Canvas.h"
#include "PixelCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

namespace zelmora {
namespace {

using testing_support::Clear;
using testing_support::Mismatches;

const TColor kPen = RGBColor(200, 0, 0);
const TColor kBrush = RGBColor(0, 0, 200);
const TColor kBack = RGBColor(0, 150, 0);

Canvas Prepared(int w, int h, int pen_width) {
  Canvas canvas(w, h);
  Clear(canvas, kBack);
  canvas.SetPenColor(kPen);
  canvas.SetBrushColor(kBrush);
  canvas.SetPenWidth(pen_width);
  return canvas;
}

TEST(Rectangle, TenByTenCellHasOutlineOnZeroAndNineAndExclusiveRightBottom) {
  Canvas canvas = Prepared(12, 12, 1);
  canvas.Rectangle(0, 0, 10, 10);
  EXPECT_EQ(Mismatches(canvas,
                       [](int x, int y) {
                         if (x >= 10 || y >= 10) return kBack;
                         if (x == 0 || x == 9 || y == 0 || y == 9) return kPen;
                         return kBrush;
                       }),
            "");
}

TEST(Rectangle, SwappedCornersDrawTheSameRectangle) {
  Canvas a = Prepared(10, 10, 1);
  Canvas b = Prepared(10, 10, 1);
  Canvas c = Prepared(10, 10, 1);
  a.Rectangle(2, 3, 8, 7);
  b.Rectangle(8, 7, 2, 3);
  c.Rectangle(8, 3, 2, 7);
  EXPECT_EQ(a.Image(), b.Image());
  EXPECT_EQ(a.Image(), c.Image());
  EXPECT_EQ(a.Pixel(2, 3), kPen);
  EXPECT_EQ(a.Pixel(7, 6), kPen);
  EXPECT_EQ(a.Pixel(8, 7), kBack);
}

TEST(Rectangle, EmptyAreaDrawsNothingWhateverThePen) {
  for (int width : {1, 2, 3, 5}) {
    Canvas canvas = Prepared(10, 10, width);
    canvas.Rectangle(4, 2, 4, 8);
    canvas.Rectangle(2, 5, 8, 5);
    canvas.Rectangle(3, 3, 3, 3);
    EXPECT_EQ(Mismatches(canvas, [](int, int) { return kBack; }), "") << "pen width " << width;
  }
}

TEST(Rectangle, ClearPenLetsTheBrushFillTheWholeArea) {
  Canvas canvas = Prepared(10, 10, 3);
  canvas.SetPenStyle(PenStyle::Clear);
  canvas.Rectangle(2, 1, 7, 9);
  EXPECT_EQ(Mismatches(canvas,
                       [](int x, int y) {
                         return x >= 2 && x < 7 && y >= 1 && y < 9 ? kBrush : kBack;
                       }),
            "");
}

TEST(Rectangle, ClearBrushLeavesTheInsideAlone) {
  Canvas canvas = Prepared(10, 10, 1);
  canvas.SetBrushStyle(BrushStyle::Clear);
  canvas.Rectangle(1, 1, 6, 6);
  EXPECT_EQ(canvas.Pixel(3, 3), kBack);
  EXPECT_EQ(canvas.Pixel(1, 3), kPen);
  EXPECT_EQ(canvas.Pixel(5, 5), kPen);

  canvas.SetPenStyle(PenStyle::Clear);
  canvas.Rectangle(0, 0, 10, 10);
  EXPECT_EQ(canvas.Pixel(0, 0), kBack);
  EXPECT_EQ(canvas.Pixel(1, 1), kPen);
}

TEST(Rectangle, DashedPenOutlineIsSolid) {
  Canvas canvas = Prepared(12, 12, 1);
  canvas.SetPenStyle(PenStyle::Dot);
  canvas.Rectangle(0, 0, 12, 12);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(canvas.Pixel(i, 0), kPen) << i;
    EXPECT_EQ(canvas.Pixel(11, i), kPen) << i;
  }
}

// The stated rule, written as ring distance: d is how many rings a pixel is
// inside the rectangle's area (negative outside); rings -(w-1)/2 .. w/2 are
// pen, deeper rings are brush.
TColor ExpectedRect(long long l, long long t, long long r, long long b, int w, int x, int y) {
  const long long d = std::min({x - l, r - 1 - x, y - t, b - 1 - y});
  const int pen_w = std::max(w, 1);
  if (d < -((pen_w - 1) / 2)) return kBack;
  if (d <= pen_w / 2) return kPen;
  return kBrush;
}

TEST(Rectangle, MatchesRingRuleForPenWidthsSizesAndClipping) {
  struct Box {
    int l, t, r, b;
  };
  const Box boxes[] = {{3, 3, 13, 13}, {4, 5, 5, 9},   {4, 4, 6, 6},    {4, 4, 7, 7},
                       {2, 6, 10, 10}, {-3, -2, 6, 5}, {10, 9, 30, 25}, {-40, -40, 40, 40},
                       {0, 0, 16, 14}, {5, 5, 11, 12}};
  for (int w : {0, 1, 2, 3, 4, 5}) {
    for (const Box& box : boxes) {
      Canvas canvas = Prepared(16, 14, w);
      canvas.Rectangle(box.l, box.t, box.r, box.b);
      EXPECT_EQ(Mismatches(canvas,
                           [&](int x, int y) {
                             return ExpectedRect(box.l, box.t, box.r, box.b, w, x, y);
                           }),
                "")
          << "pen " << w << " box " << box.l << "," << box.t << "," << box.r << "," << box.b;
    }
  }
}

TEST(Rectangle, PenWidthTwoIsTheOutlineRingAndTheRingInsideIt) {
  Canvas canvas = Prepared(12, 12, 2);
  canvas.Rectangle(1, 1, 11, 11);
  // Columns/rows 1,2 and 9,10 are pen; 3..8 brush; nothing outside 1..10.
  for (int i = 0; i < 12; ++i) {
    const TColor want = i == 0 || i == 11 ? kBack : (i <= 2 || i >= 9 ? kPen : kBrush);
    EXPECT_EQ(canvas.Pixel(i, 6), want) << "column " << i;
    EXPECT_EQ(canvas.Pixel(6, i), want) << "row " << i;
  }
}

TEST(Rectangle, PenWidthThreeAddsOneRingOutside) {
  Canvas canvas = Prepared(12, 12, 3);
  canvas.Rectangle(2, 2, 10, 10);
  for (int i = 0; i < 12; ++i) {
    const TColor want = i == 0 || i == 11 ? kBack : (i <= 3 || i >= 8 ? kPen : kBrush);
    EXPECT_EQ(canvas.Pixel(i, 6), want) << "column " << i;
  }
}

TEST(Rectangle, HugeRectangleCoversTheImageWithBrushOnly) {
  Canvas canvas = Prepared(20, 10, 1);
  canvas.Rectangle(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
  EXPECT_EQ(Mismatches(canvas, [](int, int) { return kBrush; }), "");
  canvas.SetPenWidth(5);
  canvas.Rectangle(INT_MAX, INT_MAX, INT_MIN, INT_MIN);
  EXPECT_EQ(Mismatches(canvas, [](int, int) { return kBrush; }), "");
}

}  // namespace
}  // namespace zelmora
