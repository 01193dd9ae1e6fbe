#pragma once

#include <cstdint>

namespace zelmora {

// One resident. Its index in World::Agents is its identity; a cell names its agent by it.
class TAgent {
 public:
  std::int32_t col = 0;
  std::int32_t row = 0;
  std::int32_t colour = 0;  // 0 is drawn black, 1 white; never changes
  std::int32_t shade = 0;   // grey level of the drawn disc: colour * 255
  bool satisfied = false;

  std::int32_t PositionX() const { return FPositionX; }
  std::int32_t PositionY() const { return FPositionY; }
  std::int32_t Size() const { return FSize; }
  void SetPositionX(std::int32_t v) { FPositionX = v; }
  void SetPositionY(std::int32_t v) { FPositionY = v; }
  void SetSize(std::int32_t v) { FSize = v; }

 private:
  std::int32_t FPositionX = 0;  // pixel centre of the agent's cell
  std::int32_t FPositionY = 0;
  std::int32_t FSize = 0;  // radius of the drawn disc, pixels
};

}  // namespace zelmora
