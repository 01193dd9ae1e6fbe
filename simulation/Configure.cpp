// Setting the World up from given places rather than drawn ones. Both operations check everything
// before they change anything and write cells, agents and markets together; the fast phases'
// copies follow in the same passes, as in a setup, so no caller can leave them stale.
#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "simulation/World.h"

namespace zelmora {
namespace {

void CheckPlace(const char* what, std::size_t index, std::int32_t col, std::int32_t row,
                std::int32_t cols, std::int32_t rows) {
  if (col < 0 || col >= cols || row < 0 || row >= rows) {
    throw std::invalid_argument(std::string(what) + " " + std::to_string(index) + " at (" +
                                std::to_string(col) + ", " + std::to_string(row) + ") is off the " +
                                std::to_string(cols) + " x " + std::to_string(rows) + " grid");
  }
}

}  // namespace

void World::SetMarkets(const std::array<MarketPosition, MarketCount>& markets) {
  for (int m = 0; m < shape_.markets; ++m)
    CheckPlace("market", std::size_t(m), markets[m].col, markets[m].row, GridCols, GridRows);
  for (int m = 0; m < MarketCount; ++m) Markets[m] = m < shape_.markets ? markets[m] : MarketPosition{};
  LastCustomers = 0.0;
  ResetCells();  // empties every cell; the agents stand on theirs again below
  const bool fresh = copies_.Empty();  // the reset made the copies of the free cells
  bool agree = true;
  for (std::size_t i = 0; i < Agents.size(); ++i) {
    const TAgent& agent = Agents[i];
    TCell& cell = CellOf(agent);
    cell.SetState(agent.colour);
    cell.occupant = std::int32_t(i);
    cell.occupied = true;
    if (HasMarkets()) MarketCell(cell.catchment).customers += 1;
    if (fresh) agree = StandInCopies(i) && agree;
  }
  if (fresh) FinishStanding(agree, false);  // the agents keep their flags
  DrawAgents();
}

void World::SetAgents(const std::vector<AgentPlace>& places) {
  std::vector<std::uint8_t> taken(std::size_t(GridCols) * std::size_t(GridRows), 0);
  for (std::size_t i = 0; i < places.size(); ++i) {
    const AgentPlace& place = places[i];
    CheckPlace("agent", i, place.col, place.row, GridCols, GridRows);
    if (place.colour != 0 && place.colour != 1) {
      throw std::invalid_argument("agent " + std::to_string(i) + " has colour " +
                                  std::to_string(place.colour) +
                                  "; colours are 0 (black) and 1 (white)");
    }
    if (std::exchange(taken[CellIndex(place.col, place.row)], 1) != 0) {
      throw std::invalid_argument("agent " + std::to_string(i) + " at (" +
                                  std::to_string(place.col) + ", " + std::to_string(place.row) +
                                  ") shares its cell with an earlier agent");
    }
  }
  // The copies follow where they hold every cell now: current, or made by a reset.
  const bool keep = CopiesCurrent() || copies_.Empty();
  InvalidateCopies();
  // Every cell, not only the old agents' ones: an edit may have left other cells occupied.
  for (TCell& cell : grid.Cells()) cell.occupied = false;
  if (keep) {
    copies_.Vacate();
    freePrices_.Vacate(prices_.Prices());
  }
  for (int m = 0; m < shape_.markets; ++m) MarketCell(m).customers = 0;
  std::vector<TAgent> agents(places.size());
  for (std::size_t i = 0; i < places.size(); ++i) {
    TAgent& agent = agents[i];
    agent.col = places[i].col;
    agent.row = places[i].row;
    agent.SetPositionX(agent.col * CellPitch + 5);
    agent.SetPositionY(agent.row * CellPitch + 5);
    agent.SetSize(4);
    agent.colour = places[i].colour;
    agent.satisfied = true;
    TCell& cell = CellOf(agent);
    cell.SetState(agent.colour);
    cell.occupant = std::int32_t(i);
    cell.occupied = true;
    if (HasMarkets()) MarketCell(cell.catchment).customers += 1;
  }
  Agents = std::move(agents);
  if (keep) {
    for (std::size_t i = 0; i < Agents.size(); ++i) StandInCopies(i);  // checked above: they agree
    FinishStanding(true, true);
  }
  copies_.ShadesDrawn(false);  // the new agents' shades are drawn below
  RedrawCells();
  DrawAgents();
}

}  // namespace zelmora
