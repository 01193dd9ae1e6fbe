// ComputeLocalPrices and ShowPriceScape at the cost of what changed. A cell's price and
// catchment follow from its distances, the ten unit costs and the travel expenses alone, and
// computing them again from the same values gives the same result (a cell that no market serves
// below the ceiling keeps what it had either way). So the grid is priced again only when a unit
// cost or the travel expenses differ from those it was last priced with; with returns to scale
// of 1 no unit cost ever changes.
#include <array>
#include <bit>
#include <cstdint>

#include "simulation/ModelMath.h"
#include "simulation/World.h"

namespace zelmora {

namespace {

bool SameValue(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

}  // namespace

void World::ComputeLocalPricesFast() {
  const double travelCost = inputs_->TravelCost();
  std::array<double, MarketCount> unitCost;
  bool same = !priceAll_ && SameValue(travelCost, pricedTravelCost_);
  for (int k = 0; k < MarketCount; ++k) {
    unitCost[k] = MarketCell(k).unitCost;
    same = same && SameValue(unitCost[k], pricedUnitCost_[k]);
  }
  if (same) return;

  bool changed = false;
  TGrid::CellVector& cells = grid.Cells();
  for (std::size_t index = 0; index < cells.size(); ++index) {
    TCell& cell = cells[index];
    const std::int32_t old = cell.catchment;
    double best = PriceCeiling;
    std::int32_t catchment = old;
    for (int k = 0; k < MarketCount; ++k) {
      const double price = unitCost[k] + cell.marketDistance[k] * travelCost;
      if (price < best) {
        best = price;
        catchment = k;
      }
    }
    if (best < PriceCeiling) {
      changed = changed || !SameValue(cell.localPrice, best);
      detail::StoreIfChanged(cell.localPrice, best);
      detail::StoreIfChanged(cell.catchment, catchment);
      price_[index] = best;
      if (cellState_[index] == 0) freePrices_[index] = best;
    }
    // A customer that stays with its market would be taken off and put back: no net change.
    if (cellState_[index] != 0 && catchment != old) MoveCustomer(cell, old);
  }
  priceSum_ = detail::SumInLanes(price_.size(), [this](std::size_t k) { return price_[k]; });
  pricedUnitCost_ = unitCost;
  pricedTravelCost_ = travelCost;
  priceAll_ = false;
  if (changed) greyIsScape_ = false;
}

void World::ShowPriceScapeFast() {
  if (greyIsScape_) return;  // the prices have not changed since the scape was made
  TGrid::CellVector& cells = grid.Cells();
  for (std::size_t k = 0; k < cells.size(); ++k) {
    detail::StoreIfChanged(cells[k].grey, detail::RoundToInt32(price_[k] * 9.0));
  }
  greyIsScape_ = true;
}

}  // namespace zelmora
