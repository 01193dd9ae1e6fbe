#pragma once

#include <array>

#include "Canvas.h"
#include "simulation/Agent.h"
#include "simulation/Cell.h"

namespace zelmora {

// Fill colour of a cell by the market that serves it, when catchment areas are shown.
// Market 2 is the yellow market that the chart follows.
inline constexpr std::array<TColor, 10> CatchmentColours = {
    RGBColor(166, 202, 240),  // 0 light sky blue
    RGBColor(0, 0, 255),      // 1 blue
    RGBColor(255, 255, 0),    // 2 yellow
    RGBColor(0, 128, 0),      // 3 dark green
    RGBColor(0, 128, 128),    // 4 teal
    RGBColor(128, 128, 0),    // 5 olive
    RGBColor(0, 255, 0),      // 6 lime
    RGBColor(255, 0, 255),    // 7 magenta
    RGBColor(0, 255, 255),    // 8 cyan
    RGBColor(128, 0, 128),    // 9 purple
};

// Grey (g, g, g) from the lowest byte of a stored level: 270 shows as 14, 256 as black.
constexpr TColor GreyLevel(std::int32_t level) {
  const int g = static_cast<int>(static_cast<std::uint32_t>(level) & 0xFF);
  return RGBColor(g, g, g);
}

// The fill of the cell's square: its catchment colour, or its grey level.
TColor CellFill(const TCell& cell, bool showCatchment);

// The cell's 10 x 10 square: outline grey and one pixel wide, or red and two pixels wide (both
// inside the square) on a market cell; filled with its catchment colour or its grey level.
void DrawCell(Canvas& canvas, const TCell& cell, bool showCatchment);

// The agent's disc, 8 pixels across and centred on its cell, in the grey of its shade (which the
// model sets to colour * 255 before drawing): black or white, outline and fill alike.
void DrawAgent(Canvas& canvas, const TAgent& agent);

}  // namespace zelmora
