// The World's side of its accelerators: made from a setup or the cells, checked against them,
// and what readers ask of the state, answered alike whichever path ran.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <string>

#include "simulation/ModelMath.h"
#include "simulation/World.h"

namespace zelmora {

namespace {

// Whether a cell holds the distances of the reset's table (DistanceTable::Row of its row) to the
// markets that exist, bit for bit.
bool SameDistances(const TCell& cell, const std::array<const double*, MarketCount>& distance, std::size_t col,
                   std::size_t markets) {
  for (std::size_t m = 0; m < markets; ++m) {
    if (!detail::SameBits(distance[m][col], cell.marketDistance[m])) return false;
  }
  return true;
}

}  // namespace

void World::SizeCopies() {
  const std::size_t cells = std::size_t(GridCols) * std::size_t(GridRows);
  copies_.Size(GridCols, GridRows);
  prices_.Size(cells);
  counts_.Size(GridCols, GridRows, cells <= DrawAheadCells, shape_);  // only small grids keep neighbour bytes
  freePrices_.Size(GridCols, GridRows);
}

bool World::StandInCopies(std::size_t index) {
  const TAgent& agent = Agents[index];
  const std::size_t k = CellIndex(agent.col, agent.row);
  if (!copies_.Stand(index, agent, k)) return false;
  freePrices_.Take(k);
  return true;
}

void World::FinishStanding(bool agree, bool allSatisfied) {
  // Every cell may have changed hands: the next evaluation counts them all.
  if (copies_.Finish(Agents, agree, allSatisfied, false)) counts_.Made();
}

bool World::EnsureCopies() {
  const std::size_t cellCount = std::size_t(GridCols) * std::size_t(GridRows);
  if (CopiesCurrent() && copies_.Cells() == cellCount) return true;
  InvalidateCopies();
  const TGrid::CellVector& cells = grid.Cells();
  if (cells.size() != cellCount) return false;

  SizeCopies();
  // Where no distance was edited since the reset, pricing goes on reading the reset's table
  // instead of three lines of every cell.
  bool asReset = distances_.Fits(GridCols, GridRows) && distances_.Serves(Markets);
  std::array<const double*, MarketCount> distance{};
  bool agree = true;
  for (std::int32_t row = 0; row < GridRows; ++row) {
    if (asReset) distances_.Row(row, Markets, distance);
    for (std::int32_t col = 0; col < GridCols; ++col) {
      const std::size_t k = CellIndex(col, row);
      asReset = asReset && SameDistances(cells[k], distance, std::size_t(col), std::size_t(shape_.markets));
      agree = CopyCell(k, cells[k]) && agree;
    }
  }
  prices_.Made(asReset);
  freePrices_.Made();
  // Each agent on a cell of its own that names it, and no other cell occupied.
  if (!copies_.Finish(Agents, agree, false, true)) return false;
  counts_.Made();
  return true;
}

void World::CheckCopies() const {
  if (!CopiesCurrent()) return;
  const ModelState state = State();
  copies_.Check(state);
  prices_.Check(state);
  counts_.Check(state, copies_);
  freePrices_.Check(state);
}

std::int64_t World::UnsatisfiedAgents() const {
  if (CopiesCurrent()) return copies_.UnsatisfiedCount();
  return std::int64_t(std::count_if(Agents.begin(), Agents.end(), [](const TAgent& a) { return !a.satisfied; }));
}

double World::LocalPriceSum() const {
  if (CopiesCurrent()) return prices_.Sum();
  const TCell* cell = grid.Cells().data();
  return detail::SumInLanes(grid.Cells().size(), [cell](std::size_t k) { return cell[k].localPrice; });
}

World::Version World::OccupancyVersion() const {
  if (!CopiesCurrent()) return {};
  return {copies_.Identity(), copies_.Moves()};
}

World::Version World::PricesVersion() const {
  if (!CopiesCurrent()) return {};
  return {copies_.Identity(), prices_.Changes()};
}

std::optional<std::span<const AgentMove>> World::MovesSince(const Version& since) const {
  if (!CopiesCurrent()) return std::nullopt;
  const auto moves = moves_.Since(copies_.Identity(), since.changes, copies_.Moves());
  if (since.copy != copies_.Identity()) return std::nullopt;
  return moves;
}

// An agent and its cell agree between phases (the cell is occupied and its State is the agent's
// colour), so the compact list of agents gives the occupancy.
const std::uint8_t* World::Occupancy(std::vector<std::uint8_t>& scratch) const {
  if (CopiesCurrent()) return copies_.State();
  scratch.assign(grid.Cells().size(), 0);
  for (const TAgent& agent : Agents) scratch[CellIndex(agent.col, agent.row)] = std::uint8_t(1 + (agent.colour & 1));
  return scratch.data();
}

const double* World::LocalPrices(std::vector<double>& scratch) const {
  if (CopiesCurrent()) return prices_.Prices();
  const TGrid::CellVector& cells = grid.Cells();
  scratch.resize(cells.size());
  for (std::size_t k = 0; k < cells.size(); ++k) scratch[k] = cells[k].localPrice;
  return scratch.data();
}

const std::uint8_t* World::PackedCounts(std::vector<std::uint8_t>& scratch) const {
  if (CopiesCurrent()) return counts_.Counts();
  const TGrid::CellVector& cells = grid.Cells();
  scratch.resize(cells.size());
  for (std::size_t k = 0; k < cells.size(); ++k) {
    scratch[k] = detail::PackCounts(cells[k].sameNeighbours, cells[k].otherNeighbours);
  }
  return scratch.data();
}

}  // namespace zelmora
