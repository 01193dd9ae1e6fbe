#include "Canvas.h"
#include "PixelCheck.h"

#include <QFontMetrics>
#include <gtest/gtest.h>

namespace zelmora {
namespace {

using testing_support::Clear;

const TColor kInk = RGBColor(0, 0, 0);
const TColor kBrush = RGBColor(255, 255, 0);
const TColor kBack = RGBColor(0, 128, 255);

struct Cell {
  int x0, y0, x1, y1;  // exclusive right/bottom
  bool Contains(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

Canvas Prepared() {
  Canvas canvas(120, 60);
  Clear(canvas, kBack);
  QFont font("DejaVu Sans");
  font.setPixelSize(16);
  canvas.SetFont(font);
  canvas.SetFontColor(kInk);
  canvas.SetBrushColor(kBrush);
  return canvas;
}

TEST(Text, MetricsComeFromTheCurrentFont) {
  Canvas canvas = Prepared();
  const QFontMetrics metrics(canvas.Font());
  EXPECT_EQ(canvas.TextWidth("Zelmora 42"), metrics.horizontalAdvance("Zelmora 42"));
  EXPECT_EQ(canvas.TextHeight("Zelmora 42"), metrics.height());
  EXPECT_GT(canvas.TextWidth("WWWW"), canvas.TextWidth("W"));
  EXPECT_EQ(canvas.TextWidth(""), 0);

  QFont bigger = canvas.Font();
  bigger.setPixelSize(32);
  const int small_height = canvas.TextHeight("x");
  canvas.SetFont(bigger);
  EXPECT_GT(canvas.TextHeight("x"), small_height);
  EXPECT_EQ(canvas.Font().pixelSize(), 32);
}

TEST(Text, SolidBrushFillsExactlyTheTextCellAndInkStaysInside) {
  Canvas canvas = Prepared();
  const QString text = "Hx";
  canvas.TextOut(10, 7, text);
  const Cell cell{10, 7, 10 + canvas.TextWidth(text), 7 + canvas.TextHeight(text)};
  int ink = 0, brush = 0;
  for (int y = 0; y < canvas.Height(); ++y) {
    for (int x = 0; x < canvas.Width(); ++x) {
      const TColor c = canvas.Pixel(x, y);
      if (!cell.Contains(x, y)) {
        EXPECT_EQ(c, kBack) << x << "," << y;
      } else {
        EXPECT_NE(c, kBack) << x << "," << y;
        ink += c == kInk;
        brush += c == kBrush;
      }
    }
  }
  EXPECT_GT(ink, 10);
  EXPECT_GT(brush, ink);
  // The cell's corners are background of the cell, not glyph.
  EXPECT_EQ(canvas.Pixel(cell.x0, cell.y0), kBrush);
  EXPECT_EQ(canvas.Pixel(cell.x1 - 1, cell.y1 - 1), kBrush);
}

TEST(Text, ClearBrushLeavesTheBackgroundAndGlyphsSitOnTheBaseline) {
  Canvas canvas = Prepared();
  canvas.SetBrushStyle(BrushStyle::Clear);
  canvas.TextOut(20, 10, "H");
  const QFontMetrics metrics(canvas.Font());
  const int baseline = 10 + metrics.ascent();
  int top = canvas.Height(), bottom = -1, left = canvas.Width(), right = -1;
  for (int y = 0; y < canvas.Height(); ++y) {
    for (int x = 0; x < canvas.Width(); ++x) {
      const TColor c = canvas.Pixel(x, y);
      EXPECT_NE(c, kBrush);
      if (c != kBack) {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
        left = std::min(left, x);
        right = std::max(right, x);
      }
    }
  }
  ASSERT_GE(bottom, 0) << "no glyph drawn";
  // "H" stands on the baseline and rises well above it, inside its cell.
  EXPECT_EQ(bottom, baseline - 1);
  EXPECT_GE(top, 10);
  EXPECT_LT(top, baseline - 6);
  EXPECT_GE(left, 20);
  EXPECT_LT(right, 20 + canvas.TextWidth("H"));
  EXPECT_EQ(canvas.PenPos(), QPoint(0, 0));
}

}  // namespace
}  // namespace zelmora
