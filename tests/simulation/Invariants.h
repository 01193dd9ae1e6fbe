#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "simulation/World.h"

namespace zelmora::testing {

// One agent per cell, cell and agent agree, every cell buys from a market that exists, and every
// market's count equals a recount; without markets no cell counts customers.
inline ::testing::AssertionResult WorldIsConsistent(World& world) {
  int occupiedCells = 0;
  for (const TCell& cell : world.grid.Cells()) occupiedCells += cell.occupied ? 1 : 0;
  if (occupiedCells != static_cast<int>(world.Agents.size())) {
    return ::testing::AssertionFailure() << occupiedCells << " occupied cells for "
                                         << world.Agents.size() << " agents";
  }
  const int markets = world.Shape().markets;
  std::map<const TCell*, int> recount;
  for (int m = 0; m < markets; ++m) recount[&world.MarketCell(m)] = 0;
  for (const TCell& cell : world.grid.Cells()) {
    if (markets == 0 ? cell.customers != 0 : cell.catchment < 0 || cell.catchment >= markets) {
      return ::testing::AssertionFailure() << "a cell buys from market " << cell.catchment << " or counts "
                                           << cell.customers << " customers of " << markets << " markets";
    }
  }
  for (std::size_t i = 0; i < world.Agents.size(); ++i) {
    const TAgent& agent = world.Agents[i];
    const TCell& cell = world.grid[agent.col][agent.row];
    if (!cell.occupied || cell.occupant != static_cast<int>(i) || cell.State() != agent.colour) {
      return ::testing::AssertionFailure() << "agent " << i << " and its cell disagree";
    }
    if (agent.PositionX() != agent.col * 10 + 5 || agent.PositionY() != agent.row * 10 + 5) {
      return ::testing::AssertionFailure() << "agent " << i << " has a stale pixel position";
    }
    if (markets > 0) recount[&world.MarketCell(cell.catchment)] += 1;
  }
  for (auto [cell, count] : recount) {
    if (cell->customers != count) {
      return ::testing::AssertionFailure() << "a market counts " << cell->customers
                                           << " customers, recount " << count;
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace zelmora::testing
