// The price phases at the cost of what changed. A market's unit cost follows from its customers
// and the two parameters alone, so it is computed again only when one of them changed. A cell's
// price and catchment follow from its distances, the ten unit costs and the travel expenses
// alone, and computing them again from the same values gives the same result (a cell that no
// market serves below the ceiling keeps what it had either way). So the grid is priced again
// only when a unit cost or the travel expenses differ from those it was last priced with; with
// returns to scale of 1 no unit cost ever changes. Pricing reads the distances from the World's
// table of them, not from the cells, and writes a cell only where its price or catchment
// changed.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
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
// Also the rival: no more than the lowest price of the other markets (the own price again when
// two offer it).
[[gnu::always_inline]] inline void PriceRowWith(const double* const* distance, const double* unitCost,
                                                double travelCost, std::int32_t n, double* best,
                                                double* rival, std::int64_t* catchment) {
  for (std::int32_t c = 0; c < n; ++c) {
    best[c] = World::PriceCeiling;
    rival[c] = detail::Taken;
    catchment[c] = -1;
  }
  for (int m = 0; m < MarketCount; ++m) {
    const double* d = distance[m];
    const double u = unitCost[m];
    for (std::int32_t c = 0; c < n; ++c) {
      const double price = u + d[c] * travelCost;
      const bool take = price < best[c];
      // Below the ceiling best is the lowest price so far; a price not taken, or the one given
      // up, may be the new rival.
      rival[c] = std::min(rival[c], take ? (m == 0 ? detail::Taken : best[c]) : price);
      best[c] = take ? price : best[c];
      catchment[c] = take ? m : catchment[c];
    }
  }
}

void PriceRowPortable(const double* const* distance, const double* unitCost, double travelCost,
                      std::int32_t n, double* best, double* rival, std::int64_t* catchment) {
  PriceRowWith(distance, unitCost, travelCost, n, best, rival, catchment);
}

#if defined(__x86_64__) && defined(__GNUC__)
// Four cells at a time where the machine can; without fused multiply-add, so each price is
// rounded as the plain phase rounds it.
[[gnu::target("avx2")]] void PriceRowWide(const double* const* distance, const double* unitCost,
                                          double travelCost, std::int32_t n, double* best,
                                          double* rival, std::int64_t* catchment) {
  PriceRowWith(distance, unitCost, travelCost, n, best, rival, catchment);
}

void PriceRow(const double* const* distance, const double* unitCost, double travelCost,
              std::int32_t n, double* best, double* rival, std::int64_t* catchment) {
  static const bool wide = __builtin_cpu_supports("avx2");
  (wide ? PriceRowWide : PriceRowPortable)(distance, unitCost, travelCost, n, best, rival, catchment);
}
#else
void PriceRow(const double* const* distance, const double* unitCost, double travelCost,
              std::int32_t n, double* best, double* rival, std::int64_t* catchment) {
  PriceRowPortable(distance, unitCost, travelCost, n, best, rival, catchment);
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

// Every cell priced from its distances, by whole rows (PriceRow), or (kept) only from the
// distance to its own market. A cell's rival is the lowest price any other market offered it
// when it was last priced in full, with the unit costs of that time (an epoch): a market's
// price at the cell has since fallen by at most the most that any unit cost fell, so while the
// rival less that fall stays above the own market's new price, with room for rounding, no
// other market can offer the cell as little, and the plain search would keep its market.
void World::PriceRows(const std::array<double, MarketCount>& unitCost, double travelCost) {
  const std::size_t cols = std::size_t(GridCols);
  const std::size_t width = 2 * cols - 1;
  std::vector<double> best(cols), rival(cols);
  std::vector<std::int64_t> cheapest(cols);
  std::vector<std::uint32_t> full(cols);
  std::array<const double*, MarketCount> distance;
  TGrid::CellVector& cells = grid.Cells();
  const bool all = priceAll_ || !SameValue(travelCost, pricedTravelCost_);
  // Where the unit costs swing widely from step to step (returns below 1 make them
  // oscillate), hardly a cell keeps its market: the rows are priced in full straight away, and
  // keeping is tried again now and then.
  const bool keep = !all && (keptLast_ || epochs_ % 8 == 0);
  std::size_t kept = 0;
  // The fall of the unit costs since each of the last epochs, by age; infinite past them (a cell
  // is priced in full at least once in kEpochs pricings, so no age wraps round).
  std::array<double, 256> fall;
  fall.fill(detail::Taken);
  if (!all) {
    for (std::uint32_t age = 1; age < kEpochs; ++age) {
      if (age > epochs_) break;
      const auto& then = epochCosts_[(epochs_ - age) % kEpochs];
      double most = 0.0;
      for (int m = 0; m < MarketCount; ++m) most = std::max(most, then[std::size_t(m)] - unitCost[std::size_t(m)]);
      fall[age] = most;
    }
  }
  const std::uint8_t epoch = std::uint8_t(epochs_);
  epochCosts_[epochs_ % kEpochs] = unitCost;
  ++epochs_;

  bool changed = false;
  const auto apply = [&](std::size_t k, double price, std::uint8_t catchment) {
    if (!SameValue(price_[k], price)) {
      cells[k].localPrice = price;
      price_[k] = price;
      if (cellState_[k] == 0 && freePricesKnown_) freePrices_[k] = price;
      changed = true;
    }
    if (catchment_[k] != catchment) {
      // A customer that stays with its market would be taken off and put back: no net change.
      if (cellState_[k] != 0) {
        MarketCell(catchment_[k]).customers -= 1;
        MarketCell(catchment).customers += 1;
      }
      cells[k].catchment = catchment;
      catchment_[k] = catchment;
    }
  };
  for (std::int32_t row = 0; row < GridRows; ++row) {
    for (int m = 0; m < MarketCount; ++m) {
      const std::size_t dr = std::size_t(std::abs(row - Markets[m].row));
      distance[m] = &distanceRows_[dr * width + cols - 1 - std::size_t(Markets[m].col)];
    }
    const std::size_t first = std::size_t(row) * cols;
    std::size_t fulls = 0;
    if (keep) {
      for (std::size_t c = 0; c < cols; ++c) {
        const std::size_t k = first + c;
        const std::uint8_t own = catchment_[k];
        const double price = unitCost[own] + distance[own][c] * travelCost;
        const double bound = rival_[k] - fall[std::uint8_t(epoch - epochOf_[k])];
        const double room = (std::fabs(rival_[k]) + std::fabs(price) + 1.0) * 0x1p-40;
        if (price < PriceCeiling && bound - room > price) {
          apply(k, price, own);
          ++kept;
        } else {
          full[fulls++] = std::uint32_t(c);
        }
      }
      if (fulls == 0) continue;
    }
    if (!keep || fulls * 8 > cols) {
      PriceRow(distance.data(), unitCost.data(), travelCost, GridCols, best.data(), rival.data(), cheapest.data());
      if (!keep) {
        fulls = cols;
        for (std::size_t c = 0; c < cols; ++c) full[c] = std::uint32_t(c);
      }
    } else {
      // A few cells: each priced alone, the markets in the order the plain phase takes them.
      for (std::size_t j = 0; j < fulls; ++j) {
        const std::size_t c = full[j];
        double b = PriceCeiling, r = detail::Taken;
        std::int64_t at = -1;
        for (int m = 0; m < MarketCount; ++m) {
          const double price = unitCost[std::size_t(m)] + distance[m][c] * travelCost;
          const bool take = price < b;
          r = std::min(r, take ? (m == 0 ? detail::Taken : b) : price);
          b = take ? price : b;
          at = take ? m : at;
        }
        best[c] = b;
        rival[c] = r;
        cheapest[c] = at;
      }
    }
    for (std::size_t j = 0; j < fulls; ++j) {
      const std::size_t c = full[j], k = first + c;
      // No market below the ceiling: the cell keeps what it had, and is priced in full again.
      rival_[k] = cheapest[c] < 0 ? -detail::Taken : rival[c];
      epochOf_[k] = epoch;
      if (cheapest[c] >= 0) apply(k, best[c], std::uint8_t(cheapest[c]));
    }
  }
  keptLast_ = kept * 2 > price_.size();
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
