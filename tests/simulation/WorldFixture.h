#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>

#include "simulation/ModelPorts.h"
#include "simulation/World.h"

namespace zelmora::testing {

// A World on a grid of the given size whose generator is seeded from a fixed counter, so every
// run of a test is the same run.
struct SeededWorld {
  ModelSettings settings;
  World world{settings};

  explicit SeededWorld(std::uint64_t seed = 1, std::int32_t cols = 40, std::int32_t rows = 40) {
    world.SetSeedSource([seed]() mutable { return seed++; });
    world.SizeGrid(cols * World::CellPitch, rows * World::CellPitch);
  }

  // Window start-up: grid, markets, agents.
  void Start(const char* agents = "800") {
    settings.agentCount = agents;
    world.CreateGrid();
    world.CreateAgents();
  }

  // A grid with no agents and the markets at the given places.
  void StartEmpty(std::initializer_list<std::pair<int, int>> markets) {
    world.grid.CreateCells();
    int m = 0;
    for (auto [col, row] : markets) world.Markets[m++] = {col, row};
    for (; m < MarketCount; ++m) world.Markets[m] = world.Markets[m - 1];
    world.ResetCells();
  }

  // Puts a new agent on a free cell the way placement does.
  int PutAgent(int col, int row, int colour, bool satisfied = true) {
    const int index = static_cast<int>(world.Agents.size());
    TAgent& agent = world.Agents.emplace_back();
    agent.col = col;
    agent.row = row;
    agent.SetPositionX(col * 10 + 5);
    agent.SetPositionY(row * 10 + 5);
    agent.SetSize(4);
    agent.colour = colour;
    agent.satisfied = satisfied;
    TCell& cell = world.grid[col][row];
    cell.SetState(colour);
    cell.occupant = index;
    cell.occupied = true;
    world.MarketCell(cell.catchment).customers += 1;
    world.CellsEdited();
    return index;
  }
};

}  // namespace zelmora::testing
