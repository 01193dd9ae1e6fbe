#pragma once

#include <array>
#include <cstdint>

namespace zelmora {

inline constexpr int MarketCount = 10;

// One grid cell. Fields keep the declared order; the market data (`customers`, `unitCost`) are
// meaningful only on the cells named in World::Markets.
class TCell {
 public:
  TCell(std::int32_t positionX, std::int32_t positionY, std::int32_t size, std::int32_t fillColor)
      : FPositionX(positionX), FPositionY(positionY), FSize(size), FFillColor(fillColor) {}

  std::int32_t occupant = 0;         // index in Agents of the agent standing here
  std::int32_t sameNeighbours = 0;   // occupied neighbours of this cell's State
  std::int32_t otherNeighbours = 0;  // occupied neighbours of the other colour
  bool isMarket = false;
  double minDistance = 0.0;  // distance to the nearest market, in cells
  std::array<double, MarketCount> marketDistance{};
  std::int32_t catchment = 0;  // market this cell buys from, 0..9
  bool occupied = false;
  std::int32_t grey = 0;       // grey level; drawing uses only its lowest byte
  std::int32_t customers = 0;  // on a market cell: agents standing in its catchment
  double unitCost = 0.0;       // on a market cell: its bid price
  double localPrice = 0.0;     // cheapest delivered price here

  std::int32_t PositionX() const { return FPositionX; }
  std::int32_t PositionY() const { return FPositionY; }
  std::int32_t Size() const { return FSize; }
  std::int32_t FillColor() const { return FFillColor; }
  // A reference, so that a view of the cells (the Python module's arrays) can address the field.
  const std::int32_t& State() const { return FState; }
  void SetPositionX(std::int32_t v) { FPositionX = v; }
  void SetPositionY(std::int32_t v) { FPositionY = v; }
  void SetSize(std::int32_t v) { FSize = v; }
  void SetFillColor(std::int32_t v) { FFillColor = v; }
  void SetState(std::int32_t v) { FState = v; }

 private:
  std::int32_t FPositionX;  // pixel x of the centre: col * 10 + 5
  std::int32_t FPositionY;  // pixel y of the centre: row * 10 + 5
  std::int32_t FSize;       // half the side of the drawn square, pixels
  std::int32_t FFillColor;  // given at construction; nothing reads it
  std::int32_t FState = 0;  // colour of the agent standing here
};

}  // namespace zelmora
