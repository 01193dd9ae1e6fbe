#include "ui/CellDrawing.h"

namespace zelmora {

void DrawCell(Canvas& canvas, const TCell& cell, bool showCatchment) {
  canvas.SetPenWidth(0);
  canvas.SetPenColor(RGBColor(128, 128, 128));
  const auto catchment = static_cast<std::size_t>(cell.catchment);
  if (showCatchment) {
    // A catchment outside 0..9 never occurs; black would show it at once.
    canvas.SetBrushColor(catchment < CatchmentColours.size() ? CatchmentColours[catchment]
                                                             : RGBColor(0, 0, 0));
  } else {
    canvas.SetBrushColor(GreyLevel(cell.grey));
  }
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
