#include "Canvas.h"
#include "PixelCheck.h"

#include <gtest/gtest.h>

namespace zelmora {
namespace {

using testing_support::Clear;
using testing_support::Mismatches;

constexpr TColor kWhite = colors::kWhite;

TEST(CanvasImage, SizesAndInitialWhite) {
  Canvas empty;
  EXPECT_EQ(empty.Width(), 0);
  EXPECT_EQ(empty.Height(), 0);

  Canvas negative(-3, 5);
  EXPECT_EQ(negative.Width(), 0);
  EXPECT_EQ(negative.Height(), 5);

  Canvas canvas(7, 4);
  EXPECT_EQ(canvas.Width(), 7);
  EXPECT_EQ(canvas.Height(), 4);
  EXPECT_EQ(canvas.Image().format(), QImage::Format_RGB32);
  EXPECT_EQ(Mismatches(canvas, [](int, int) { return kWhite; }), "");
}

TEST(CanvasImage, DrawingOnAnEmptyCanvasDoesNothing) {
  Canvas empty;
  empty.Rectangle(-5, -5, 5, 5);
  empty.Ellipse(-5, -5, 5, 5);
  empty.LineTo(10, 10);
  empty.SetPixel(0, 0, 1);
  empty.Draw(0, 0, Canvas(3, 3));
  EXPECT_EQ(empty.Pixel(0, 0), 0u);
  EXPECT_EQ(empty.PenPos(), QPoint(10, 10));
}

TEST(CanvasImage, SetPixelTouchesOnlyThatPixelAndIgnoresOutside) {
  Canvas canvas(5, 4);
  const TColor red = RGBColor(255, 0, 0);
  canvas.SetPixel(4, 3, red);
  canvas.SetPixel(-1, 0, red);
  canvas.SetPixel(5, 0, red);
  canvas.SetPixel(0, 4, red);
  canvas.SetPixel(0, -1, red);
  EXPECT_EQ(Mismatches(canvas, [&](int x, int y) { return x == 4 && y == 3 ? red : kWhite; }), "");
  EXPECT_EQ(canvas.Pixel(-1, 0), 0u);
  EXPECT_EQ(canvas.Pixel(0, 4), 0u);
  // Writes through Image() are what Pixel reads.
  canvas.Image().setPixel(1, 1, qRgb(1, 2, 3));
  EXPECT_EQ(canvas.Pixel(1, 1), RGBColor(1, 2, 3));
}

TEST(CanvasImage, PenAndBrushStateRoundTrips) {
  Canvas canvas(2, 2);
  EXPECT_EQ(canvas.PenColor(), colors::kBlack);
  EXPECT_EQ(canvas.GetPenStyle(), PenStyle::Solid);
  EXPECT_EQ(canvas.GetBrushStyle(), BrushStyle::Solid);
  EXPECT_EQ(canvas.BrushColor(), kWhite);
  canvas.SetPenColor(5);
  canvas.SetPenWidth(0);
  canvas.SetPenStyle(PenStyle::DashDot);
  canvas.SetBrushColor(6);
  canvas.SetBrushStyle(BrushStyle::Clear);
  canvas.SetFontColor(7);
  EXPECT_EQ(canvas.PenColor(), 5u);
  EXPECT_EQ(canvas.PenWidth(), 0);
  EXPECT_EQ(canvas.GetPenStyle(), PenStyle::DashDot);
  EXPECT_EQ(canvas.BrushColor(), 6u);
  EXPECT_EQ(canvas.GetBrushStyle(), BrushStyle::Clear);
  EXPECT_EQ(canvas.FontColor(), 7u);
  canvas.MoveTo(-4, 9);
  EXPECT_EQ(canvas.PenPos(), QPoint(-4, 9));
}

// A recognisable pattern: every pixel different.
TColor PatternAt(int x, int y) { return RGBColor(x * 7 + 1, y * 11 + 2, x + y); }

Canvas Patterned(int w, int h) {
  Canvas canvas(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) canvas.SetPixel(x, y, PatternAt(x, y));
  return canvas;
}

TEST(CanvasImage, ResizeKeepsTopLeftAndWhitensNewArea) {
  Canvas canvas = Patterned(6, 5);
  canvas.Resize(9, 3);
  EXPECT_EQ(canvas.Width(), 9);
  EXPECT_EQ(canvas.Height(), 3);
  EXPECT_EQ(Mismatches(canvas, [](int x, int y) { return x < 6 ? PatternAt(x, y) : kWhite; }), "");

  canvas.Resize(4, 8);
  EXPECT_EQ(Mismatches(canvas, [](int x, int y) { return y < 3 ? PatternAt(x, y) : kWhite; }), "");

  canvas.Resize(-1, 8);
  EXPECT_EQ(canvas.Width(), 0);
  EXPECT_EQ(canvas.Height(), 8);
  canvas.Resize(2, 2);
  EXPECT_EQ(Mismatches(canvas, [](int, int) { return kWhite; }), "");
}

TEST(CanvasImage, DrawCopiesExactlyAndClipsOnEverySide) {
  const Canvas source = Patterned(4, 3);
  struct Case {
    int x, y;
  };
  for (const Case c : {Case{0, 0}, Case{3, 2}, Case{-2, -1}, Case{8, 6}, Case{-3, 5}, Case{-4, 0},
                       Case{10, 0}, Case{0, -3}}) {
    Canvas canvas(10, 7);
    canvas.Draw(c.x, c.y, source);
    EXPECT_EQ(Mismatches(canvas,
                         [&](int x, int y) {
                           const int sx = x - c.x, sy = y - c.y;
                           return sx >= 0 && sy >= 0 && sx < 4 && sy < 3 ? PatternAt(sx, sy)
                                                                          : kWhite;
                         }),
              "")
        << "at " << c.x << "," << c.y;
  }
}

TEST(CanvasImage, DrawOntoItselfUsesThePixelsFromBeforeTheCopy) {
  Canvas canvas = Patterned(8, 8);
  canvas.Draw(2, 1, canvas);
  EXPECT_EQ(Mismatches(canvas,
                       [](int x, int y) {
                         return x >= 2 && y >= 1 ? PatternAt(x - 2, y - 1) : PatternAt(x, y);
                       }),
            "");
}

TEST(CanvasImage, DrawLeavesTheSourceUnchanged) {
  const Canvas source = Patterned(3, 3);
  Canvas target(3, 3);
  target.Draw(0, 0, source);
  target.SetPixel(1, 1, 0);
  EXPECT_EQ(source.Pixel(1, 1), PatternAt(1, 1));
}

}  // namespace
}  // namespace zelmora
