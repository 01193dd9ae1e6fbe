#pragma once

#include <cstdint>

namespace zelmora {

// Where a market stands. Markets may share a cell.
struct MarketPosition {
  std::int32_t col = 0;
  std::int32_t row = 0;
};

// Where SetAgents puts an agent, and its colour (0 black, 1 white).
struct AgentPlace {
  std::int32_t col = 0;
  std::int32_t row = 0;
  std::int32_t colour = 0;
};

}  // namespace zelmora
