// The fast phases' compact copies of the cells and agents. A setup makes them as it writes the
// cells; after CellsEdited, a plain phase or a replaced agent list they are made afresh from the
// cells. Builds with ZELMORA_CHECK_COPIES compare them with the cells before every fast phase.
#include <atomic>
#include <bit>
#include <cmath>
#include <stdexcept>
#include <string>

#include "simulation/ModelMath.h"
#include "simulation/World.h"

namespace zelmora {

namespace {

// Whether a cell holds the distances of the reset's table (RowDistances of its row), bit for bit.
bool SameDistances(const TCell& cell, const std::array<const double*, MarketCount>& distance, std::size_t col) {
  for (std::size_t m = 0; m < MarketCount; ++m) {
    if (std::bit_cast<std::uint64_t>(distance[m][col]) != std::bit_cast<std::uint64_t>(cell.marketDistance[m])) return false;
  }
  return true;
}

}  // namespace

void World::TakeNewCopyId() {
  // Shared by every World of the process, so a measurer handed another World never mistakes it.
  static std::atomic<std::uint64_t> lastId{0};
  copyId_ = lastId.fetch_add(1, std::memory_order_relaxed) + 1;
  moveCount_ = 0;
}

void World::SizeCopies() {
  const std::size_t cellCount = std::size_t(GridCols) * std::size_t(GridRows);
  cellState_.resize(cellCount);
  occupied_.assign((cellCount + 63) / 64, 0);
  occupantOf_.resize(cellCount);
  catchment_.resize(cellCount);
  counts_.resize(cellCount);
  price_.resize(cellCount);
  rival_.resize(cellCount);
  epochOf_.resize(cellCount);
  freePrices_.resize(cellCount);
  marked_.assign(cellCount, 0);
  around_.resize(KeepsAround() ? cellCount : 0);  // only small grids keep them
  aroundKnown_ = false;
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
  arrived_.assign(std::size_t(GridRows) * ((std::size_t(GridCols) + 63) / 64), 0);
  priceAll_ = true;
  evaluateAll_ = true;
  greyIsScape_ = false;
  shadesDrawn_ = false;
}

// Agent i's flag is not set: its bits in the copies, which had it satisfied.
void World::CopyUnsatisfied(std::size_t i) {
  unsatisfied_[i / 64] |= std::uint64_t(1) << (i % 64);
  unsatisfiedWords_[i / 64 / 64] |= std::uint64_t(1) << (i / 64 % 64);
  ++unsatisfiedCount_;
}

bool World::StandInCopies(std::size_t index) {
  const TAgent& agent = Agents[index];
  const std::size_t k = CellIndex(agent.col, agent.row);
  if (cellState_[k] != 0 || (agent.colour != 0 && agent.colour != 1)) return false;
  cellState_[k] = std::uint8_t(1 + agent.colour);
  occupied_[k / 64] |= std::uint64_t(1) << (k % 64);
  occupantOf_[k] = std::int32_t(index);
  freePrices_[k] = detail::Taken;
  return true;
}

void World::FinishStanding(bool agree, bool allSatisfied) {
  cellsFresh_ = false;
  if (!agree) {
    InvalidateCopies();
    return;
  }
  unsatisfied_.assign((Agents.size() + 63) / 64, 0);
  unsatisfiedWords_.assign((unsatisfied_.size() + 63) / 64, 0);
  unsatisfiedCount_ = 0;
  for (std::size_t i = 0; !allSatisfied && i < Agents.size(); ++i) {
    if (!Agents[i].satisfied) CopyUnsatisfied(i);
  }
  copiedAgents_ = Agents.data();
  copiedAgentCount_ = Agents.size();
  TakeNewCopyId();
  // Every cell may have changed hands: the next evaluation counts them all.
  evaluateAll_ = true;
  aroundKnown_ = false;
  changed_.clear();
  copiesValid_ = true;
}

bool World::EnsureCopies() {
  const std::size_t cellCount = std::size_t(GridCols) * std::size_t(GridRows);
  if (CopiesCurrent() && cellState_.size() == cellCount) return true;
  InvalidateCopies();
  const TGrid::CellVector& cells = grid.Cells();
  if (cells.size() != cellCount) return false;

  SizeCopies();
  TakeNewCopyId();
  // Where no distance was edited since the reset, pricing goes on reading the reset's table
  // instead of three lines of every cell.
  bool asReset = distanceRows_.size() == std::size_t(GridRows) * (2 * std::size_t(GridCols) - 1);
  for (const MarketPosition& m : Markets) {
    asReset = asReset && m.col >= 0 && m.col < GridCols && m.row >= 0 && m.row < GridRows;
  }
  std::array<const double*, MarketCount> distance{};
  std::size_t occupiedCells = 0;
  bool agree = true;
  for (std::int32_t row = 0; row < GridRows; ++row) {
    if (asReset) RowDistances(row, distance);
    for (std::int32_t col = 0; col < GridCols; ++col) {
      const std::size_t k = CellIndex(col, row);
      const TCell& cell = cells[k];
      asReset = asReset && SameDistances(cell, distance, std::size_t(col));
      price_[k] = cell.localPrice;
      freePrices_[k] = cell.occupied ? detail::Taken : cell.localPrice;
      counts_[k] = detail::PackCounts(cell.sameNeighbours, cell.otherNeighbours);
      catchment_[k] = std::uint8_t(cell.catchment);
      agree = agree && cell.catchment >= 0 && cell.catchment < MarketCount;
      cellState_[k] = 0;
      occupantOf_[k] = 0;
      if (!cell.occupied) continue;
      ++occupiedCells;
      agree = agree && (cell.State() == 0 || cell.State() == 1);
      cellState_[k] = std::uint8_t(1 + (cell.State() & 1));
      occupied_[k / 64] |= std::uint64_t(1) << (k % 64);
      occupantOf_[k] = cell.occupant;
    }
  }
  // Each agent on a cell of its own that names it, and no other cell occupied.
  agree = agree && occupiedCells == Agents.size();
  unsatisfied_.assign((Agents.size() + 63) / 64, 0);
  unsatisfiedWords_.assign((unsatisfied_.size() + 63) / 64, 0);
  unsatisfiedCount_ = 0;
  for (std::size_t i = 0; agree && i < Agents.size(); ++i) {
    const TAgent& agent = Agents[i];
    agree = agent.col >= 0 && agent.col < GridCols && agent.row >= 0 && agent.row < GridRows;
    if (!agree) break;
    const TCell& cell = grid.At(agent.col, agent.row);
    agree = cell.occupied && cell.occupant == std::int32_t(i) && cell.State() == agent.colour;
    if (!agent.satisfied) CopyUnsatisfied(i);
  }
  priceSum_ = detail::SumInLanes(cellCount, [this](std::size_t k) { return price_[k]; });
  FreePricesMade();
  ownDistances_ = asReset;
  copiedAgents_ = Agents.data();
  copiedAgentCount_ = Agents.size();
  copiesValid_ = agree;
  return agree;
}

#if defined(ZELMORA_CHECK_COPIES)
// Prices kept by their bounds assume the cells' distances unchanged since the copies were made.
// While every cell holds the table's distances, as a reset writes them, pricing reads the table;
// copies made from cells with other distances take those as they found them, and are not held to
// the table.
bool World::DistancesAsReset(std::size_t k) const {
  if (!ownDistances_) return true;
  std::array<const double*, MarketCount> distance;
  RowDistances(std::int32_t(k / std::size_t(GridCols)), distance);
  return SameDistances(grid.Cells()[k], distance, k % std::size_t(GridCols));
}

void World::CheckCopies() const {
  const auto stale = [](const std::string& what, const std::string& field) {
    throw CopiesStale(what + " no longer agrees with the fast phases' copy of its " + field +
                      ": a field was written without World::CellsEdited()");
  };
  const auto cellName = [this](std::size_t k) {
    return "cell (" + std::to_string(k % std::size_t(GridCols)) + ", " +
           std::to_string(k / std::size_t(GridCols)) + ")";
  };
  const auto same = [](double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
  };
  const TGrid::CellVector& cells = grid.Cells();
  for (std::size_t k = 0; k < cells.size(); ++k) {
    const TCell& cell = cells[k];
    if ((cellState_[k] != 0) != cell.occupied) stale(cellName(k), "occupied");
    if (cell.occupied && cellState_[k] != 1 + cell.State()) stale(cellName(k), "State");
    if (((occupied_[k / 64] >> (k % 64)) & 1) != (cellState_[k] != 0)) stale(cellName(k), "occupied");
    if (cell.occupied && occupantOf_[k] != cell.occupant) stale(cellName(k), "occupant");
    if (catchment_[k] != cell.catchment) stale(cellName(k), "catchment");
    if (counts_[k] != detail::UnknownCounts &&
        counts_[k] != detail::PackCounts(cell.sameNeighbours, cell.otherNeighbours)) {
      stale(cellName(k), "sameNeighbours or otherNeighbours");
    }
    if (!same(price_[k], cell.localPrice)) stale(cellName(k), "localPrice");
    if (greyIsScape_ && cell.grey != detail::RoundToInt32(price_[k] * 9.0)) stale(cellName(k), "grey");
    if (!DistancesAsReset(k)) stale(cellName(k), "marketDistance");
    if (aroundKnown_) {
      // The neighbour bytes follow the occupancy copy, which the lines above hold to the cells.
      const std::size_t col = k % std::size_t(GridCols), row = k / std::size_t(GridCols);
      std::uint8_t around = 0;
      for (std::size_t dr = 9; dr <= 11; ++dr) {
        for (std::size_t dc = 9; dc <= 11; ++dc) {
          const std::uint8_t s = cellState_[wrapRowStart_[row + dr] + wrapCol_[col + dc]];
          if ((dr != 10 || dc != 10) && s != 0) around = std::uint8_t(around + 1 + (s == 2 ? 16 : 0));
        }
      }
      if (around_[k] != around) stale(cellName(k), "neighbours' occupancy (a neighbour's occupied or State)");
    }
  }
  // The blocks' bounds are the fast phases' own: a free price below one would let look for
  // centers pass over a cheaper cell.
  for (std::size_t k = 0; blocksKnown_ && freePricesKnown_ && k < cells.size(); ++k) {
    bool below = freePrices_[k] < blockLowest_[BlockOf(k)];
    ForBlocksAround(BlockOf(k), [&](std::size_t b) { below = below || freePrices_[k] < aroundLowest_[b]; });
    if (below) throw std::logic_error(cellName(k) + ": its free price is below its block's bound");
  }
  for (std::size_t i = 0; i < Agents.size(); ++i) {
    const TAgent& agent = Agents[i];
    const std::string name = "agent " + std::to_string(i);
    if (agent.col < 0 || agent.col >= GridCols || agent.row < 0 || agent.row >= GridRows) stale(name, "col or row");
    const std::size_t k = CellIndex(agent.col, agent.row);
    if (cellState_[k] == 0 || occupantOf_[k] != std::int32_t(i)) stale(name, "col or row");
    if (cellState_[k] != 1 + agent.colour) stale(name, "colour");
    const bool unsatisfied = (unsatisfied_[i / 64] >> (i % 64)) & 1;
    if (unsatisfied == agent.satisfied) stale(name, "satisfied");
    if (shadesDrawn_ && agent.shade != agent.colour * 255) stale(name, "shade");
  }
}
#else
bool World::DistancesAsReset(std::size_t) const { return true; }
void World::CheckCopies() const {}
#endif

}  // namespace zelmora
