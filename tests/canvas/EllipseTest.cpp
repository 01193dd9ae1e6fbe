#include "Canvas.h"
#include "PixelCheck.h"

#include <gtest/gtest.h>

#include <string>

namespace zelmora {
namespace {

using testing_support::Clear;
using testing_support::Mismatches;

const TColor kPen = RGBColor(180, 0, 0);
const TColor kBrush = RGBColor(0, 0, 180);
const TColor kBack = RGBColor(0, 140, 0);

Canvas Prepared(int w, int h) {
  Canvas canvas(w, h);
  Clear(canvas, kBack);
  canvas.SetPenColor(kPen);
  canvas.SetBrushColor(kBrush);
  return canvas;
}

// Rows of an 8x8 box as pictures: '#' pen, 'o' brush, '.' untouched.
std::string Picture(const Canvas& canvas, int left, int top, int w, int h) {
  std::string out;
  for (int y = top; y < top + h; ++y) {
    for (int x = left; x < left + w; ++x) {
      const TColor c = canvas.Pixel(x, y);
      out += c == kPen ? '#' : c == kBrush ? 'o' : c == kBack ? '.' : '?';
    }
    out += '\n';
  }
  return out;
}

TEST(Ellipse, AgentDiscIsRoundEightAcrossAndLeavesCornersFree) {
  Canvas canvas = Prepared(10, 10);
  canvas.SetBrushColor(kPen);  // agents use one colour for both
  canvas.Ellipse(1, 1, 9, 9);
  EXPECT_EQ(Picture(canvas, 0, 0, 10, 10),
            "..........\n"
            "...####...\n"
            "..######..\n"
            ".########.\n"
            ".########.\n"
            ".########.\n"
            ".########.\n"
            "..######..\n"
            "...####...\n"
            "..........\n");
}

TEST(Ellipse, EightByEightOutlineAndFill) {
  Canvas canvas = Prepared(8, 8);
  canvas.Ellipse(0, 0, 8, 8);
  EXPECT_EQ(Picture(canvas, 0, 0, 8, 8),
            "..####..\n"
            ".#oooo#.\n"
            "#oooooo#\n"
            "#oooooo#\n"
            "#oooooo#\n"
            "#oooooo#\n"
            ".#oooo#.\n"
            "..####..\n");
}

TEST(Ellipse, SwappedCornersAndEmptyBoxes) {
  Canvas a = Prepared(12, 12);
  Canvas b = Prepared(12, 12);
  a.Ellipse(2, 1, 11, 7);
  b.Ellipse(11, 7, 2, 1);
  EXPECT_EQ(a.Image(), b.Image());

  Canvas empty = Prepared(12, 12);
  empty.Ellipse(3, 3, 3, 9);
  empty.Ellipse(3, 3, 9, 3);
  EXPECT_EQ(Mismatches(empty, [](int, int) { return kBack; }), "");
}

__extension__ using i128 = __int128;

// The stated rule: a box pixel belongs to the shape when its centre is in or
// on the inscribed ellipse.
bool InShape(long long w, long long h, long long i, long long j) {
  if (w <= 0 || h <= 0 || i < 0 || j < 0 || i >= w || j >= h) return false;
  const i128 dx = 2 * i + 1 - w, dy = 2 * j + 1 - h;
  return dx * dx * h * h + dy * dy * w * w <= i128(w) * w * h * h;
}

TColor Expected(long long l, long long t, long long w, long long h, int pen_width, bool pen_on,
                bool brush_on, int x, int y) {
  const long long i = x - l, j = y - t;
  if (!InShape(w, h, i, j)) return kBack;
  if (!pen_on) return brush_on ? kBrush : kBack;
  const int inset = pen_width < 1 ? 1 : pen_width;
  if (InShape(w - 2 * inset, h - 2 * inset, i - inset, j - inset)) return brush_on ? kBrush : kBack;
  return kPen;
}

TEST(Ellipse, MatchesCentreRuleForManySizesPensAndBrushes) {
  // One canvas throughout, so cached rows of one size must not leak into the next.
  Canvas canvas = Prepared(24, 24);
  for (int pen_width : {0, 1, 2, 3}) {
    for (bool pen_on : {true, false}) {
      for (bool brush_on : {true, false}) {
        canvas.SetPenWidth(pen_width);
        canvas.SetPenStyle(pen_on ? PenStyle::Solid : PenStyle::Clear);
        canvas.SetBrushStyle(brush_on ? BrushStyle::Solid : BrushStyle::Clear);
        for (int w = 1; w <= 19; w += 2) {
          for (int h = 1; h <= 20; ++h) {
            Clear(canvas, kBack);
            const int l = 2, t = 1;
            canvas.Ellipse(l, t, l + w, t + h);
            EXPECT_EQ(Mismatches(canvas,
                                 [&](int x, int y) {
                                   return Expected(l, t, w, h, pen_width, pen_on, brush_on, x, y);
                                 }),
                      "")
                << w << "x" << h << " pen " << pen_width << (pen_on ? "" : " clear")
                << (brush_on ? "" : " brush clear");
          }
        }
      }
    }
  }
}

TEST(Ellipse, EvenSizesAndPartlyOffImage) {
  Canvas canvas = Prepared(16, 12);
  for (int w = 2; w <= 20; w += 2) {
    for (int h = 2; h <= 14; h += 3) {
      for (int l : {-5, 0, 9}) {
        for (int t : {-4, 3}) {
          Clear(canvas, kBack);
          canvas.Ellipse(l, t, l + w, t + h);
          EXPECT_EQ(Mismatches(canvas,
                               [&](int x, int y) {
                                 return Expected(l, t, w, h, 1, true, true, x, y);
                               }),
                    "")
              << w << "x" << h << " at " << l << "," << t;
        }
      }
    }
  }
}

TEST(Ellipse, HugeBoxesClipToTheVisiblePixels) {
  struct Box {
    int l, t, r, b;
  };
  const Box boxes[] = {{-30000, -30000, 30000, 30000},
                       {-5000, 5, 6001, 30},
                       {-70000, -20, 30, 70000},
                       {-1000000, -999999, 1000002, 1000003}};
  for (const Box& box : boxes) {
    for (int pen_width : {1, 4}) {
      Canvas canvas = Prepared(40, 30);
      canvas.SetPenWidth(pen_width);
      canvas.Ellipse(box.l, box.t, box.r, box.b);
      const long long w = static_cast<long long>(box.r) - box.l;
      const long long h = static_cast<long long>(box.b) - box.t;
      EXPECT_EQ(Mismatches(canvas,
                           [&](int x, int y) {
                             return Expected(box.l, box.t, w, h, pen_width, true, true, x, y);
                           }),
                "")
          << box.l << "," << box.t << "," << box.r << "," << box.b << " pen " << pen_width;
    }
  }
}

TEST(Ellipse, ThickPenStaysInsideTheBoxAndFillsWhenNoRoomIsLeft) {
  Canvas canvas = Prepared(12, 12);
  canvas.SetPenWidth(5);
  canvas.Ellipse(2, 2, 10, 10);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 12; ++x) {
      const TColor c = canvas.Pixel(x, y);
      if (x < 2 || x >= 10 || y < 2 || y >= 10) {
        EXPECT_EQ(c, kBack) << x << "," << y;
      }
      EXPECT_NE(c, kBrush) << x << "," << y;
    }
  }
  EXPECT_EQ(canvas.Pixel(5, 5), kPen);
}

}  // namespace
}  // namespace zelmora
