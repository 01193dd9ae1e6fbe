#pragma once

#include <QImage>

#include <cstdint>

namespace zelmora {

class World;

// Longest side, in pixels, of a grid picture drawn at the window's 10 pixels per cell.
inline constexpr std::int64_t MaxSnapshotSide = 4000;

// 10 (World::CellPitch) unless a picture that size would exceed MaxSnapshotSide pixels on a side,
// then 1.
int SnapshotPixelsPerCell(std::int32_t cols, std::int32_t rows);

// The grid as the window's DrawingImage shows it after a step: every cell by DrawCell
// (showCatchment as given), then every agent by DrawAgent; GridCols*p x GridRows*p pixels (p from
// SnapshotPixelsPerCell). At 1 pixel per cell a cell is its fill colour (red for a market cell)
// and an agent's cell is black or white. Uses no text and no widgets: safe on any thread.
QImage DrawGridPicture(const World& world, bool showCatchment);

}  // namespace zelmora
