#include "render/GridPicture.h"

#include <algorithm>

#include "Canvas.h"
#include "render/CellDrawing.h"
#include "simulation/World.h"

namespace zelmora {

int SnapshotPixelsPerCell(std::int32_t cols, std::int32_t rows) {
  const std::int64_t side = std::max<std::int64_t>(cols, rows) * World::CellPitch;
  return side > MaxSnapshotSide ? 1 : World::CellPitch;
}

namespace {

// The disc's grey as the model sets it just before drawing, so a World built by hand (whose
// agents were never drawn) shows the same picture.
TAgent AsDrawn(const TAgent& agent) {
  TAgent drawn = agent;
  drawn.shade = agent.colour * 255;
  return drawn;
}

QImage DrawAtCellPitch(const World& world, bool showCatchment) {
  const TGrid& grid = world.grid;
  Canvas canvas(grid.Cols() * World::CellPitch, grid.Rows() * World::CellPitch);
  // Rows outer, as RedrawCells paints them.
  for (const TCell& cell : grid.Cells()) DrawCell(canvas, cell, showCatchment);
  for (const TAgent& agent : world.Agents) DrawAgent(canvas, AsDrawn(agent));
  return canvas.Image();
}

QImage DrawOnePixelPerCell(const World& world, bool showCatchment) {
  const TGrid& grid = world.grid;
  QImage image(grid.Cols(), grid.Rows(), QImage::Format_RGB32);
  for (std::int32_t row = 0; row < grid.Rows(); ++row) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(row));
    for (std::int32_t col = 0; col < grid.Cols(); ++col) {
      const TCell& cell = grid.At(col, row);
      // The red outline is all a market cell's square would show at this size.
      line[col] = ToQRgb(cell.isMarket ? colors::kRed : CellFill(cell, showCatchment));
    }
  }
  for (const TAgent& agent : world.Agents) {
    reinterpret_cast<QRgb*>(image.scanLine(agent.row))[agent.col] =
        ToQRgb(GreyLevel(agent.colour * 255));
  }
  return image;
}

}  // namespace

QImage DrawGridPicture(const World& world, bool showCatchment) {
  if (!world.grid.HasCells()) return QImage();
  return SnapshotPixelsPerCell(world.grid.Cols(), world.grid.Rows()) == World::CellPitch
             ? DrawAtCellPitch(world, showCatchment)
             : DrawOnePixelPerCell(world, showCatchment);
}

}  // namespace zelmora
