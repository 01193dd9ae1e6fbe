#include "Canvas.h"
#include "PixelCheck.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <set>
#include <utility>

namespace zelmora {
namespace {

using testing_support::Clear;
using testing_support::Mismatches;

const TColor kPen = RGBColor(10, 20, 250);
const TColor kBack = RGBColor(255, 255, 255);
using PixelSet = std::set<std::pair<long long, long long>>;

// Plain Bresenham: walk the major axis, step the minor axis once the error
// reaches half a pixel (a tie steps), stop before the end point.
PixelSet ReferenceLine(long long x0, long long y0, long long x1, long long y1) {
  PixelSet pixels;
  const long long dx = std::llabs(x1 - x0), dy = std::llabs(y1 - y0);
  const long long sx = x1 >= x0 ? 1 : -1, sy = y1 >= y0 ? 1 : -1;
  long long x = x0, y = y0;
  if (dx >= dy) {
    long long err = 0;  // twice the distance from the pixel to the line, in dx units
    for (long long k = 0; k < dx; ++k) {
      pixels.insert({x, y});
      x += sx;
      err += 2 * dy;
      if (err >= dx) {
        y += sy;
        err -= 2 * dx;
      }
    }
  } else {
    long long err = 0;
    for (long long k = 0; k < dy; ++k) {
      pixels.insert({x, y});
      y += sy;
      err += 2 * dx;
      if (err >= dy) {
        x += sx;
        err -= 2 * dy;
      }
    }
  }
  return pixels;
}

Canvas Prepared(int w, int h) {
  Canvas canvas(w, h);
  canvas.SetPenColor(kPen);
  return canvas;
}

std::string CompareWithReference(int w, int h, int x0, int y0, int x1, int y1) {
  Canvas canvas = Prepared(w, h);
  canvas.MoveTo(x0, y0);
  canvas.LineTo(x1, y1);
  const PixelSet want = ReferenceLine(x0, y0, x1, y1);
  return Mismatches(canvas, [&](int x, int y) { return want.count({x, y}) ? kPen : kBack; });
}

TEST(Line, StartPixelSetEndPixelNotSetAndPenMoves) {
  Canvas canvas = Prepared(10, 10);
  canvas.MoveTo(2, 3);
  canvas.LineTo(7, 3);
  EXPECT_EQ(canvas.PenPos(), QPoint(7, 3));
  EXPECT_EQ(Mismatches(canvas, [](int x, int y) { return y == 3 && x >= 2 && x < 7 ? kPen : kBack; }),
            "");
  // Continuing from the pen position sets the previous end point.
  canvas.LineTo(7, 6);
  EXPECT_EQ(canvas.Pixel(7, 3), kPen);
  EXPECT_EQ(canvas.Pixel(7, 5), kPen);
  EXPECT_EQ(canvas.Pixel(7, 6), kBack);
}

TEST(Line, LineToItsOwnStartSetsNothing) {
  Canvas canvas = Prepared(5, 5);
  canvas.MoveTo(2, 2);
  canvas.LineTo(2, 2);
  EXPECT_EQ(Mismatches(canvas, [](int, int) { return kBack; }), "");
  EXPECT_EQ(canvas.PenPos(), QPoint(2, 2));
}

TEST(Line, ClearPenDrawsNothingButMovesThePen) {
  Canvas canvas = Prepared(8, 8);
  canvas.SetPenStyle(PenStyle::Clear);
  canvas.MoveTo(0, 0);
  canvas.LineTo(7, 5);
  EXPECT_EQ(Mismatches(canvas, [](int, int) { return kBack; }), "");
  EXPECT_EQ(canvas.PenPos(), QPoint(7, 5));
}

TEST(Line, TiesRoundAwayFromTheStart) {
  // From (0,0) to (4,1) the true line is half way at x=2: that pixel steps.
  Canvas canvas = Prepared(6, 3);
  canvas.MoveTo(0, 0);
  canvas.LineTo(4, 1);
  EXPECT_EQ(Mismatches(canvas,
                       [](int x, int y) {
                         const bool on = (y == 0 && x < 2) || (y == 1 && x >= 2 && x < 4);
                         return on ? kPen : kBack;
                       }),
            "");
}

TEST(Line, ShallowSteepDiagonalAndEveryDirectionMatchReference) {
  const int cx = 20, cy = 20;
  for (int dx = -15; dx <= 15; ++dx) {
    for (int dy = -15; dy <= 15; ++dy) {
      EXPECT_EQ(CompareWithReference(41, 41, cx, cy, cx + dx, cy + dy), "")
          << "to offset " << dx << "," << dy;
    }
  }
}

TEST(Line, ClippedLinesMatchReferenceOnTheVisiblePart) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> coord(-120, 150);
  for (int i = 0; i < 2000; ++i) {
    const int x0 = coord(rng), y0 = coord(rng), x1 = coord(rng), y1 = coord(rng);
    EXPECT_EQ(CompareWithReference(37, 23, x0, y0, x1, y1), "")
        << x0 << "," << y0 << " -> " << x1 << "," << y1;
  }
}

TEST(Line, FarEndpointsClipToTheSamePixelsAsTheWholeLine) {
  struct Case {
    int x0, y0, x1, y1;
  };
  const Case cases[] = {{-30000, -29000, 30000, 31000}, {30000, 5, -30000, 40},
                        {-30000, 30000, 30000, -30000}, {17, -30000, 23, 30000},
                        {-29999, 12, 30001, 13},        {30000, -30000, -29000, 29000},
                        {-100, 3, 29999, 18},           {25, 25, -30000, -29971}};
  for (const Case& c : cases) {
    EXPECT_EQ(CompareWithReference(50, 40, c.x0, c.y0, c.x1, c.y1), "")
        << c.x0 << "," << c.y0 << " -> " << c.x1 << "," << c.y1;
  }
}

TEST(Line, IntRangeExtremesDrawTheExpectedVisiblePixels) {
  Canvas canvas = Prepared(20, 10);
  canvas.MoveTo(INT_MIN, 4);
  canvas.LineTo(INT_MAX, 4);
  EXPECT_EQ(Mismatches(canvas, [](int, int y) { return y == 4 ? kPen : kBack; }), "");

  // Exactly diagonal: the pixels (k, k).
  Clear(canvas, kBack);
  canvas.MoveTo(INT_MIN, INT_MIN);
  canvas.LineTo(INT_MAX, INT_MAX);
  EXPECT_EQ(Mismatches(canvas, [](int x, int y) { return x == y ? kPen : kBack; }), "");

  // One column step over the whole range: the step is where the true line
  // crosses x = 0.5, at y = -0.5, so every visible row is in column 1.
  Clear(canvas, kBack);
  canvas.MoveTo(0, INT_MIN);
  canvas.LineTo(1, INT_MAX);
  EXPECT_EQ(Mismatches(canvas, [](int x, int) { return x == 1 ? kPen : kBack; }), "");

  // Entirely off the image.
  Clear(canvas, kBack);
  canvas.MoveTo(INT_MIN, -1);
  canvas.LineTo(INT_MAX, -1);
  canvas.MoveTo(-5, INT_MIN);
  canvas.LineTo(-1, INT_MAX);
  EXPECT_EQ(Mismatches(canvas, [](int, int) { return kBack; }), "");
}

TEST(Line, DashedStylesFollowTheirPatternFromEachLineStart) {
  struct Case {
    PenStyle style;
    const char* pattern;  // one period, '#' drawn, '.' gap
  };
  const Case cases[] = {{PenStyle::Dash, "######.."},
                        {PenStyle::Dot, "##.."},
                        {PenStyle::DashDot, "######..##.."},
                        {PenStyle::DashDotDot, "######..##..##.."}};
  for (const Case& c : cases) {
    const std::string pattern = c.pattern;
    for (int direction : {1, -1}) {
      Canvas canvas = Prepared(40, 3);
      canvas.SetPenStyle(c.style);
      const int start = direction > 0 ? 0 : 39;
      canvas.MoveTo(start, 1);
      canvas.LineTo(start + direction * 37, 1);
      for (int k = 0; k < 40; ++k) {
        const bool on = k < 37 && pattern[k % pattern.size()] == '#';
        EXPECT_EQ(canvas.Pixel(start + direction * k, 1), on ? kPen : kBack)
            << pattern << " step " << k << " direction " << direction;
      }
    }
  }
}

TEST(Line, DashPhaseIsKeptWhenTheStartIsClipped) {
  // The same line on a larger image, shifted so that nothing is clipped.
  Canvas clipped = Prepared(30, 30);
  Canvas whole = Prepared(60, 60);
  clipped.SetPenStyle(PenStyle::DashDot);
  whole.SetPenStyle(PenStyle::DashDot);
  clipped.MoveTo(-13, -6);
  clipped.LineTo(29, 29);
  whole.MoveTo(-13 + 20, -6 + 20);
  whole.LineTo(29 + 20, 29 + 20);
  EXPECT_EQ(Mismatches(clipped, [&](int x, int y) { return whole.Pixel(x + 20, y + 20); }), "");
}

TEST(Line, WidePenDrawsABandAroundTheLine) {
  Canvas canvas = Prepared(30, 20);
  canvas.SetPenWidth(3);
  canvas.SetPenStyle(PenStyle::Dash);  // wide pens draw solid
  canvas.MoveTo(3, 10);
  canvas.LineTo(25, 10);
  for (int x = 5; x <= 23; ++x) {
    EXPECT_EQ(canvas.Pixel(x, 10), kPen) << x;
    EXPECT_EQ(canvas.Pixel(x, 9), kPen) << x;
    EXPECT_EQ(canvas.Pixel(x, 11), kPen) << x;
    EXPECT_EQ(canvas.Pixel(x, 7), kBack) << x;
    EXPECT_EQ(canvas.Pixel(x, 13), kBack) << x;
  }
  EXPECT_EQ(canvas.Pixel(0, 10), kBack);
  EXPECT_EQ(canvas.Pixel(28, 10), kBack);
  EXPECT_EQ(canvas.PenPos(), QPoint(25, 10));
}

}  // namespace
}  // namespace zelmora
