#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "simulation/Cell.h"
#include "simulation/LargePageAllocator.h"
#include "simulation/ModelMath.h"
#include "simulation/ModelShape.h"
#include "simulation/Places.h"

namespace zelmora {

class DistanceTable;
class FreePrices;
struct ModelState;
struct FullWrites;  // what pricing every cell writes; see PricesFast.cpp

// What a pricing reads and writes besides the copies of the prices.
struct PricedGrid {
  TCell* cells;
  std::int32_t cols, rows;
  std::array<TCell*, MarketCount> markets;  // the market cells; only the first `count` exist
  std::int32_t count;
  const std::array<MarketPosition, MarketCount>* positions;
  const DistanceTable* distances;
  const std::uint8_t* states;  // the occupancy copy: 0 for a free cell
};

// The price phases at the cost of what changed (PricesFast.cpp; the plain phases are in
// Prices.cpp). Kept: the unit costs with the customers and parameters they came from; every
// cell's `localPrice` and `catchment`, and the sum of the prices; per cell the lowest price
// another market offered when it was last priced in full, with the unit costs of that time (its
// epoch), which bound how far the others can have come since; whether the cells' distances are
// the reset's table's; whether every `grey` is the price scape of the prices.
//
// Invariant, while current: the copies of the prices and catchments are the cells' own, bit for
// bit, and the sum is detail::SumInLanes of them; a cell's rival is no more than the price any
// other market offered it at its epoch; where the distances are the table's (fromTable) every
// cell holds the table's distances to the markets that exist; where the scape is drawn, every `grey` is its price's grey.
// Current: from a setup or the cells (Copy, then Made), kept by the price phases, until the World
// drops its copies. The unit costs kept are the costs of their inputs whatever the cells hold,
// so they are never dropped.
// Version: a count of the pricings that changed a price, under the occupancy copy's identity.
class KeptPrices {
 public:
  // Any markets there are: those that do not exist take a unit cost out of every price's reach
  // (Absent), so the search over ten finds what the plain phase's over the others finds. With no
  // market the price phases do nothing.
  static constexpr bool Handles(const ModelShape& shape) { return shape.markets > 0; }
  static constexpr double Absent = 1e300;

  void Size(std::size_t cells);
  // Cell k as it stands, into copies just sized; false where its catchment names no market.
  bool Copy(std::size_t k, const TCell& cell) {
    price_[k] = cell.localPrice;
    catchment_[k] = std::uint8_t(cell.catchment);
    return cell.catchment >= 0 && cell.catchment < MarketCount;
  }
  // After every cell was copied: fromTable, every cell holds the reset's distances.
  void Made(bool fromTable);
  // Every `grey` was written over (GrayCells, a reset): the scape must be drawn again.
  void GreyOverwritten() { greyIsScape_ = false; }

  // The unit costs of the first `count` market cells.
  void ComputeUnitCosts(const std::array<TCell*, MarketCount>& markets, std::int32_t count, double returnsToScale,
                        double productionCost);
  void ComputeLocalPrices(const PricedGrid& grid, double travelCost, FreePrices& free);
  void ShowPriceScape(TCell* cells);

  const double* Prices() const { return price_.data(); }
  const std::uint8_t* Catchments() const { return catchment_.data(); }
  double Sum() const { return sum_; }
  std::uint64_t Changes() const { return changes_; }
  bool FromTable() const { return fromTable_; }

  // Throws CopiesStale where a cell differs from the copies.
  void Check(const ModelState& world) const;

 private:
  void PriceRows(const PricedGrid& grid, const std::array<double, MarketCount>& unitCost, double travelCost,
                 FreePrices& free);

  // The unit costs: what they were last computed from, and the costs.
  std::array<std::int32_t, MarketCount> costedCustomers_{};
  std::array<double, MarketCount> costs_{};
  double costedReturns_ = 0.0, costedProduction_ = 0.0;
  std::int32_t costedMarkets_ = 0;
  bool costsKnown_ = false;

  std::vector<double, LargePageAllocator<double>> price_;
  std::vector<std::uint8_t> catchment_;
  double sum_ = 0.0;
  std::uint64_t changes_ = 0;
  bool priceAll_ = true;  // every cell must be priced
  std::array<double, MarketCount> pricedUnitCost_{};  // what the prices were computed from
  double pricedTravelCost_ = 0.0;
  bool fromTable_ = false;
  bool greyIsScape_ = false;
  // Per cell its rival and its epoch; the unit costs of the last kEpochs epochs.
  static constexpr std::uint32_t kEpochs = 16;
  std::vector<double, LargePageAllocator<double>> rival_;
  std::vector<std::uint8_t> epochOf_;
  std::array<std::array<double, MarketCount>, kEpochs> epochCosts_{};
  std::uint32_t epochs_ = 0;
  bool keptLast_ = true;      // most cells kept their market in the last pricing
  bool rivalsStale_ = false;  // the last pricing noted no rivals: none may keep its market
  // Pricings between two tries of keeping while it fails: doubled after each failure.
  static constexpr std::uint32_t kKeepFirst = 8, kKeepLast = 64;
  std::uint32_t keepEvery_ = kKeepFirst;
};

}  // namespace zelmora
