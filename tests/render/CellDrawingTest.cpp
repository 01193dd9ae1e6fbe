#include <gtest/gtest.h>

#include "Canvas.h"
#include "render/CellDrawing.h"

namespace zelmora {
namespace {

TCell MakeCell(int col, int row, int catchment, int grey = 180, bool market = false) {
  TCell cell(col * 10 + 5, row * 10 + 5, 5, 0);
  cell.catchment = catchment;
  cell.grey = grey;
  cell.isMarket = market;
  return cell;
}

// The cell's square covers exactly its 10 x 10 pixels: outline on the outer ring, fill inside.
void ExpectSquare(const Canvas& canvas, int col, int row, TColor outline, TColor fill, int ring) {
  for (int y = row * 10; y < row * 10 + 10; ++y) {
    for (int x = col * 10; x < col * 10 + 10; ++x) {
      const int inset = std::min({x - col * 10, y - row * 10, col * 10 + 9 - x, row * 10 + 9 - y});
      ASSERT_EQ(canvas.Pixel(x, y), inset < ring ? outline : fill) << x << "," << y;
    }
  }
}

TEST(DrawCell, CatchmentColoursWithAGreyOutline) {
  Canvas canvas(404, 404);
  DrawCell(canvas, MakeCell(3, 4, 0), true);
  DrawCell(canvas, MakeCell(4, 4, 2), true);
  ExpectSquare(canvas, 3, 4, RGBColor(128, 128, 128), RGBColor(166, 202, 240), 1);
  ExpectSquare(canvas, 4, 4, RGBColor(128, 128, 128), RGBColor(255, 255, 0), 1);
  // Neighbouring squares share no pixel and the next ones are untouched.
  EXPECT_EQ(canvas.Pixel(50, 45), RGBColor(255, 255, 255));
  EXPECT_EQ(canvas.Pixel(29, 45), RGBColor(255, 255, 255));
}

TEST(DrawCell, GreyLevelsUseTheLowestByte) {
  Canvas canvas(404, 404);
  DrawCell(canvas, MakeCell(0, 0, 0, 270), false);
  DrawCell(canvas, MakeCell(1, 0, 0, 256), false);
  DrawCell(canvas, MakeCell(2, 0, 0, 180), false);
  DrawCell(canvas, MakeCell(3, 0, 0, -1), false);
  ExpectSquare(canvas, 0, 0, RGBColor(128, 128, 128), RGBColor(14, 14, 14), 1);
  ExpectSquare(canvas, 1, 0, RGBColor(128, 128, 128), RGBColor(0, 0, 0), 1);
  ExpectSquare(canvas, 2, 0, RGBColor(128, 128, 128), RGBColor(180, 180, 180), 1);
  ExpectSquare(canvas, 3, 0, RGBColor(128, 128, 128), RGBColor(255, 255, 255), 1);
}

TEST(DrawCell, MarketCellsHaveARedTwoPixelOutlineEitherWay) {
  Canvas canvas(404, 404);
  DrawCell(canvas, MakeCell(39, 39, 7, 180, true), true);
  DrawCell(canvas, MakeCell(0, 39, 7, 100, true), false);
  ExpectSquare(canvas, 39, 39, RGBColor(255, 0, 0), RGBColor(255, 0, 255), 2);
  ExpectSquare(canvas, 0, 39, RGBColor(255, 0, 0), RGBColor(100, 100, 100), 2);
}

TEST(DrawAgent, BlackAndWhiteDiscsWithTheCellsFillInTheCorners) {
  Canvas canvas(404, 404);
  for (int colour = 0; colour <= 1; ++colour) {
    const int col = 10 + colour;
    DrawCell(canvas, MakeCell(col, 5, 2), true);
    TAgent agent;
    agent.col = col;
    agent.row = 5;
    agent.colour = colour;
    agent.shade = colour * 255;
    agent.SetPositionX(col * 10 + 5);
    agent.SetPositionY(55);
    agent.SetSize(4);
    DrawAgent(canvas, agent);
    const TColor disc = colour == 0 ? RGBColor(0, 0, 0) : RGBColor(255, 255, 255);
    const int left = col * 10 + 1, top = 51;  // the disc's 8 x 8 box
    // Across the middle rows and columns the disc spans the whole box.
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ(canvas.Pixel(left + i, top + 3), disc);
      EXPECT_EQ(canvas.Pixel(left + 3, top + i), disc);
    }
    // The box's corners show the cell's yellow fill; the outline is untouched.
    for (auto [x, y] : {std::pair{left, top}, {left + 7, top}, {left, top + 7}, {left + 7, top + 7}}) {
      EXPECT_EQ(canvas.Pixel(x, y), RGBColor(255, 255, 0));
    }
    EXPECT_EQ(canvas.Pixel(col * 10, 50), RGBColor(128, 128, 128));
    EXPECT_EQ(canvas.Pixel(col * 10 + 9, 59), RGBColor(128, 128, 128));
  }
}

}  // namespace
}  // namespace zelmora
