#include "render/CellDrawing.h"

namespace zelmora {

TColor CellFill(const TCell& cell, bool showCatchment) {
  if (!showCatchment) return GreyLevel(cell.grey);
  // A catchment outside 0..9 never occurs; black would show it at once.
  const auto catchment = static_cast<std::size_t>(cell.catchment);
  return catchment < CatchmentColours.size() ? CatchmentColours[catchment] : RGBColor(0, 0, 0);
}

void DrawCell(Canvas& canvas, const TCell& cell, bool showCatchment) {
  canvas.SetPenWidth(0);
  canvas.SetPenColor(RGBColor(128, 128, 128));
  canvas.SetBrushColor(CellFill(cell, showCatchment));
  if (cell.isMarket) {
    canvas.SetPenColor(RGBColor(255, 0, 0));
    canvas.SetPenWidth(2);
  }
  canvas.Rectangle(cell.PositionX() - cell.Size(), cell.PositionY() - cell.Size(),
                   cell.PositionX() + cell.Size(), cell.PositionY() + cell.Size());
}

void DrawAgent(Canvas& canvas, const TAgent& agent) {
  canvas.SetPenWidth(0);
  canvas.SetBrushColor(GreyLevel(agent.shade));
  canvas.SetPenColor(GreyLevel(agent.shade));
  canvas.Ellipse(agent.PositionX() - agent.Size(), agent.PositionY() - agent.Size(),
                 agent.PositionX() + agent.Size(), agent.PositionY() + agent.Size());
}

}  // namespace zelmora
