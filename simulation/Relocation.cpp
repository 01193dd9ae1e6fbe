// The relocation phases as written: one candidate after another, each tested on the cells. The
// reference for the fast phases in RelocationFast.cpp.
#include <optional>

#include "simulation/World.h"

namespace zelmora {

void World::RelocateUnsatisfiedPlain() {
  SatisfiedCount = 0;
  MovedCount = 0;
  std::optional<FreeCells> free;
  if (shape_.relocateAnywhere) free.emplace(grid.Cells());
  for (std::int32_t i = 0; i < static_cast<std::int32_t>(Agents.size()); ++i) {
    TAgent& agent = Agents[std::size_t(i)];
    if (agent.satisfied) {
      TCell& cell = CellOf(agent);
      cell.occupant = i;
      cell.SetState(agent.colour);
      cell.occupied = true;
      ++SatisfiedCount;
      continue;
    }
    ++MovedCount;
    if (free) {
      RelocateAnywhere(i, *free);
      continue;
    }
    for (int attempt = 0; attempt < RelocationTries; ++attempt) {
      ++CandidatesDrawn;
      std::int32_t col, row;
      // A candidate off a bounded grid is a failed try; the agent's own cell is occupied by
      // itself, so it is never taken.
      if (DrawCandidate(random_, agent, col, row) && !grid.At(col, row).occupied) {
        MoveAgent(i, col, row);
        break;
      }
    }
  }
}

// Relocation anywhere: the agent draws one value k below the number of free cells and moves to
// the free cell with k free cells before it in row-major order, the cells as the agents before it
// left them. With no free cell it draws nothing and stays.
void World::RelocateAnywhere(std::int32_t i, FreeCells& free) {
  if (free.Count() == 0) return;
  ++CandidatesDrawn;
  const TAgent& agent = Agents[std::size_t(i)];
  const std::size_t to = free.Nth(random_.Below(free.Count()));
  free.Change(CellIndex(agent.col, agent.row), +1);
  free.Change(to, -1);
  MoveAgent(i, std::int32_t(to % std::size_t(GridCols)), std::int32_t(to / std::size_t(GridCols)));
}

void World::LookForCentersPlain() {
  for (std::int32_t i = 0; i < static_cast<std::int32_t>(Agents.size()); ++i) {
    const TAgent& agent = Agents[std::size_t(i)];
    if (!agent.satisfied) continue;
    const double current = CellOf(agent).localPrice;
    for (int attempt = 0; attempt < CenterTries; ++attempt) {
      ++CandidatesDrawn;
      std::int32_t col, row;
      if (!DrawCandidate(random_, agent, col, row)) continue;  // off a bounded grid: a failed try
      const TCell& candidate = grid.At(col, row);
      if (candidate.localPrice < current && !candidate.occupied) {
        MoveAgent(i, col, row);
        break;
      }
    }
  }
}

}  // namespace zelmora
