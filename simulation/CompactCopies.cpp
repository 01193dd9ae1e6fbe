// The fast phases' compact copies of the cells and agents, made afresh from them whenever they
// may be stale (after a setup, CellsEdited, a plain phase, a replaced agent list).
#include "simulation/ModelMath.h"
#include "simulation/World.h"

namespace zelmora {

bool World::EnsureCopies() {
  const std::size_t cellCount = std::size_t(GridCols) * std::size_t(GridRows);
  if (copiesValid_ && copiedAgents_ == Agents.data() && copiedAgentCount_ == Agents.size() &&
      cellState_.size() == cellCount) {
    return true;
  }
  copiesValid_ = false;
  const TGrid::CellVector& cells = grid.Cells();
  if (cells.size() != cellCount) return false;

  cellState_.assign(cellCount, 0);
  occupantOf_.assign(cellCount, 0);
  counts_.assign(cellCount, detail::UnknownCounts);
  price_.resize(cellCount);
  freePrices_.resize(cellCount);
  marked_.assign(cellCount, 0);
  wrapCol_.resize(std::size_t(GridCols) + 20);
  for (std::int32_t j = 0; j < GridCols + 20; ++j) {
    std::int32_t col = j - 10, row = 0;
    WrapToTorus(col, row);
    wrapCol_[std::size_t(j)] = std::size_t(col);
  }
  wrapRowStart_.resize(std::size_t(GridRows) + 20);
  for (std::int32_t j = 0; j < GridRows + 20; ++j) {
    std::int32_t col = 0, row = j - 10;
    WrapToTorus(col, row);
    wrapRowStart_[std::size_t(j)] = std::size_t(row) * std::size_t(GridCols);
  }
  changed_.clear();
  std::size_t occupiedCells = 0;
  bool agree = true;
  for (std::size_t k = 0; k < cellCount; ++k) {
    const TCell& cell = cells[k];
    price_[k] = cell.localPrice;
    freePrices_[k] = cell.occupied ? detail::Taken : cell.localPrice;
    if (cell.sameNeighbours >= 0 && cell.sameNeighbours <= 8 && cell.otherNeighbours >= 0 &&
        cell.otherNeighbours <= 8) {
      counts_[k] = std::uint8_t(cell.sameNeighbours | cell.otherNeighbours << 4);
    }
    if (!cell.occupied) continue;
    ++occupiedCells;
    agree = agree && (cell.State() == 0 || cell.State() == 1);
    cellState_[k] = std::uint8_t(1 + (cell.State() & 1));
    occupantOf_[k] = cell.occupant;
  }
  // Each agent on a cell of its own that names it, and no other cell occupied.
  agree = agree && occupiedCells == Agents.size();
  unsatisfied_.assign((Agents.size() + 63) / 64, 0);
  for (std::size_t i = 0; agree && i < Agents.size(); ++i) {
    const TAgent& agent = Agents[i];
    agree = agent.col >= 0 && agent.col < GridCols && agent.row >= 0 && agent.row < GridRows;
    if (!agree) break;
    const TCell& cell = grid.At(agent.col, agent.row);
    agree = cell.occupied && cell.occupant == std::int32_t(i) && cell.State() == agent.colour;
    if (!agent.satisfied) unsatisfied_[i / 64] |= std::uint64_t(1) << (i % 64);
  }
  priceSum_ = detail::SumInLanes(cellCount, [this](std::size_t k) { return price_[k]; });
  copiedAgents_ = Agents.data();
  copiedAgentCount_ = Agents.size();
  priceAll_ = true;
  evaluateAll_ = true;
  greyIsScape_ = false;
  shadesDrawn_ = false;
  copiesValid_ = agree;
  return agree;
}

}  // namespace zelmora
