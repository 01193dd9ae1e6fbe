// The price phases at the cost of what changed. A market's unit cost follows from its customers
// and the two parameters alone, so it is computed again only when one of them changed. A cell's
// price and catchment follow from its distances, the ten unit costs and the travel expenses
// alone, and computing them again from the same values gives the same result (a cell that no
// market serves below the ceiling keeps what it had either way). So the grid is priced again
// only when a unit cost or the travel expenses differ from those it was last priced with; with
// returns to scale of 1 no unit cost ever changes. Pricing reads the distances from the World's
// table of them, not from the cells, and writes a cell only where its price or catchment
// changed.
#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "simulation/ModelMath.h"
#include "simulation/World.h"

namespace zelmora {

namespace {

bool SameValue(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// The cheapest delivered price of n cells of a row and the first market offering it, market by
// market as the plain phase goes through them, n cells at a time. distance[m][c] is the distance
// from column c to market m. A cell no market serves below the ceiling keeps catchment -1.
[[gnu::always_inline]] inline void PriceRowWith(const double* const* distance, const double* unitCost,
                                                double travelCost, std::int32_t n, double* best,
                                                std::int64_t* catchment) {
  for (std::int32_t c = 0; c < n; ++c) {
    best[c] = World::PriceCeiling;
    catchment[c] = -1;
  }
  for (int m = 0; m < MarketCount; ++m) {
    const double* d = distance[m];
    const double u = unitCost[m];
    for (std::int32_t c = 0; c < n; ++c) {
      const double price = u + d[c] * travelCost;
      const bool take = price < best[c];
      best[c] = take ? price : best[c];
      catchment[c] = take ? m : catchment[c];
    }
  }
}

void PriceRowPortable(const double* const* distance, const double* unitCost, double travelCost,
                      std::int32_t n, double* best, std::int64_t* catchment) {
  PriceRowWith(distance, unitCost, travelCost, n, best, catchment);
}

#if defined(__x86_64__) && defined(__GNUC__)
// Four cells at a time where the machine can; without fused multiply-add, so each price is
// rounded as the plain phase rounds it.
[[gnu::target("avx2")]] void PriceRowWide(const double* const* distance, const double* unitCost,
                                          double travelCost, std::int32_t n, double* best,
                                          std::int64_t* catchment) {
  PriceRowWith(distance, unitCost, travelCost, n, best, catchment);
}

void PriceRow(const double* const* distance, const double* unitCost, double travelCost,
              std::int32_t n, double* best, std::int64_t* catchment) {
  static const bool wide = __builtin_cpu_supports("avx2");
  (wide ? PriceRowWide : PriceRowPortable)(distance, unitCost, travelCost, n, best, catchment);
}
#else
void PriceRow(const double* const* distance, const double* unitCost, double travelCost,
              std::int32_t n, double* best, std::int64_t* catchment) {
  PriceRowPortable(distance, unitCost, travelCost, n, best, catchment);
}
#endif

}  // namespace

void World::ComputeUnitCostsFast() {
  const double returnsToScale = inputs_->ReturnsToScale();
  const double productionCost = inputs_->ProductionCost();
  const bool sameInputs = costsKnown_ && SameValue(returnsToScale, costedReturns_) &&
                          SameValue(productionCost, costedProduction_);
  for (int k = 0; k < MarketCount; ++k) {
    TCell& market = MarketCell(k);
    if (!sameInputs || market.customers != costedCustomers_[k]) {
      costs_[k] = detail::UnitCost(market.customers, returnsToScale, productionCost);
      costedCustomers_[k] = market.customers;
    }
    market.unitCost = costs_[k];
  }
  costedReturns_ = returnsToScale;
  costedProduction_ = productionCost;
  costsKnown_ = true;
}

void World::ComputeLocalPricesFast() {
  const double travelCost = inputs_->TravelCost();
  std::array<double, MarketCount> unitCost;
  bool same = !priceAll_ && SameValue(travelCost, pricedTravelCost_);
  for (int k = 0; k < MarketCount; ++k) {
    unitCost[k] = MarketCell(k).unitCost;
    same = same && SameValue(unitCost[k], pricedUnitCost_[k]);
  }
  if (same) return;
  PriceRows(unitCost, travelCost);
  pricedUnitCost_ = unitCost;
  pricedTravelCost_ = travelCost;
  priceAll_ = false;
}

void World::PriceRows(const std::array<double, MarketCount>& unitCost, double travelCost) {
  const std::size_t cols = std::size_t(GridCols);
  const std::size_t width = 2 * cols - 1;
  std::vector<double> best(cols);
  std::vector<std::int64_t> cheapest(cols);
  std::array<const double*, MarketCount> distance;
  TGrid::CellVector& cells = grid.Cells();
  bool changed = false;
  for (std::int32_t row = 0; row < GridRows; ++row) {
    for (int m = 0; m < MarketCount; ++m) {
      const std::size_t dr = std::size_t(std::abs(row - Markets[m].row));
      distance[m] = &distanceRows_[dr * width + cols - 1 - std::size_t(Markets[m].col)];
    }
    PriceRow(distance.data(), unitCost.data(), travelCost, GridCols, best.data(), cheapest.data());
    const std::size_t first = std::size_t(row) * cols;
    for (std::size_t c = 0; c < cols; ++c) {
      if (cheapest[c] < 0) continue;  // no market below the ceiling: the cell keeps what it had
      const std::size_t k = first + c;
      if (!SameValue(price_[k], best[c])) {
        cells[k].localPrice = best[c];
        price_[k] = best[c];
        if (cellState_[k] == 0 && freePricesKnown_) freePrices_[k] = best[c];
        changed = true;
      }
      const std::uint8_t catchment = std::uint8_t(cheapest[c]);
      if (catchment_[k] != catchment) {
        // A customer that stays with its market would be taken off and put back: no net change.
        if (cellState_[k] != 0) {
          MarketCell(catchment_[k]).customers -= 1;
          MarketCell(catchment).customers += 1;
        }
        cells[k].catchment = catchment;
        catchment_[k] = catchment;
      }
    }
  }
  if (changed) {
    priceSum_ = detail::SumInLanes(price_.size(), [this](std::size_t k) { return price_[k]; });
    greyIsScape_ = false;
  }
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
