// The price phases as written: unit costs from the customer counts, then the cheapest delivered
// price and catchment of every cell. The plain ComputeLocalPrices is the reference for the fast
// one in PricesFast.cpp.
#include <array>

#include "simulation/ModelMath.h"
#include "simulation/World.h"

namespace zelmora {

void World::ComputeUnitCostsPlain() {
  const double returnsToScale = inputs_->ReturnsToScale();
  const double productionCost = inputs_->ProductionCost();
  for (int k = 0; k < shape_.markets; ++k) {
    TCell& market = MarketCell(k);
    market.unitCost = detail::UnitCost(market.customers, returnsToScale, productionCost);
  }
}

void World::ComputeLocalPricesPlain() {
  const double travelCost = inputs_->TravelCost();
  // Every cell is priced with the unit costs of this step's start, whatever moves meanwhile.
  const int markets = shape_.markets;
  std::array<double, MarketCount> unitCost;
  for (int k = 0; k < markets; ++k) unitCost[k] = MarketCell(k).unitCost;

  for (std::int32_t row = 0; row < GridRows; ++row) {
    for (std::int32_t col = 0; col < GridCols; ++col) {
      TCell& cell = grid.At(col, row);
      const std::int32_t old = cell.catchment;
      double best = PriceCeiling;
      for (int k = 0; k < markets; ++k) {
        const double travel = cell.marketDistance[k] * travelCost;
        const double price = unitCost[k] + travel;
        if (price < best) {
          best = price;
          cell.localPrice = price;
          cell.catchment = k;
        }
      }
      if (cell.occupied) MoveCustomer(cell, old);
    }
  }
}

void World::MoveCustomer(TCell& cell, std::int32_t oldMarket) {
  if (!HasMarkets()) return;  // no catchments: nobody is anyone's customer
  MarketCell(oldMarket).customers -= 1;
  MarketCell(cell.catchment).customers += 1;
}

void World::ShowPriceScapePlain() {
  // Only the lowest byte is drawn, so prices above about 28.4 come round as bands of grey.
  for (TCell& cell : grid.Cells()) cell.grey = detail::RoundToInt32(cell.localPrice * 9.0);
}

// The fast phases are the accelerator's own (PricesFast.cpp).
void World::ComputeLocalPricesFast() {
  const PricedGrid priced{grid.Cells().data(), GridCols, GridRows, MarketCells(), shape_.markets,
                          &Markets, &distances_, copies_.State()};
  prices_.ComputeLocalPrices(priced, inputs_->TravelCost(), freePrices_);
}

void World::ShowPriceScapeFast() { prices_.ShowPriceScape(grid.Cells().data()); }

}  // namespace zelmora
