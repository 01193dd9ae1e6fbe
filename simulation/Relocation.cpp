// The relocation phases as written: one candidate after another, each tested on the cells. The
// reference for the fast phases in RelocationFast.cpp.
#include "simulation/World.h"

namespace zelmora {

void World::RelocateUnsatisfiedPlain() {
  SatisfiedCount = 0;
  MovedCount = 0;
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
    for (int attempt = 0; attempt < RelocationTries; ++attempt) {
      ++CandidatesDrawn;
      std::int32_t col, row;
      DrawCandidate(random_, agent, col, row);
      // The agent's own cell is occupied by itself, so it is never taken.
      if (!grid.At(col, row).occupied) {
        MoveAgent(i, col, row);
        break;
      }
    }
  }
}

void World::LookForCentersPlain() {
  for (std::int32_t i = 0; i < static_cast<std::int32_t>(Agents.size()); ++i) {
    const TAgent& agent = Agents[std::size_t(i)];
    if (!agent.satisfied) continue;
    const double current = CellOf(agent).localPrice;
    for (int attempt = 0; attempt < CenterTries; ++attempt) {
      ++CandidatesDrawn;
      std::int32_t col, row;
      DrawCandidate(random_, agent, col, row);
      const TCell& candidate = grid.At(col, row);
      if (candidate.localPrice < current && !candidate.occupied) {
        MoveAgent(i, col, row);
        break;
      }
    }
  }
}

}  // namespace zelmora
