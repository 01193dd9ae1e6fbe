// The price phases at the cost of what changed. A market's unit cost follows from its customers
// and the two parameters alone, so it is computed again only when one of them changed. A cell's
// price and catchment follow from its distances, the ten unit costs and the travel expenses
// alone, and computing them again from the same values gives the same result (a cell that no
// market serves below the ceiling keeps what it had either way). So the grid is priced again
// only when a unit cost or the travel expenses differ from those it was last priced with; with
// returns to scale of 1 no unit cost ever changes. And where the unit costs drift, a cell whose
// own market no other can have come to undercut is priced from that market alone. A cell is
// written only where its price or catchment changed.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "simulation/CentersFast.h"
#include "simulation/CopyCheck.h"
#include "simulation/DistanceTable.h"
#include "simulation/ModelMath.h"
#include "simulation/PricesFast.h"
#include "simulation/Registers.h"
#include "simulation/ModelState.h"

namespace zelmora {

namespace {

struct Priced {
  double best;            // the cheapest delivered price, or the ceiling
  double rival;           // no more than the cheapest price of the other markets
  std::int32_t catchment;  // the market offering best, -1 if none below the ceiling
};

// One cell priced in full, the markets in the order the plain phase takes them, distance(m) its
// distance to market m. The rival is the lowest price not taken or given up (the own price again
// where two markets offer it).
template <class Distance>
inline Priced PriceInFull(Distance distance, const std::array<double, MarketCount>& unitCost, double travelCost) {
  // A branch, as in the plain phase: which market wins changes little from a cell to the next.
  Priced p{PriceCeiling, detail::Taken, -1};
  for (std::size_t m = 0; m < MarketCount; ++m) {
    const double price = unitCost[m] + distance(m) * travelCost;
    if (price < p.best) {
      if (p.catchment >= 0) p.rival = std::min(p.rival, p.best);
      p.best = price;
      p.catchment = std::int32_t(m);
    } else {
      p.rival = std::min(p.rival, price);
    }
  }
  return p;
}

inline Priced PriceInFull(const TCell& cell, const std::array<double, MarketCount>& unitCost, double travelCost) {
  return PriceInFull([&cell](std::size_t m) { return cell.marketDistance[m]; }, unitCost, travelCost);
}

// The cell in column col of the row whose distances DistanceTable::Row gave.
inline Priced PriceInFull(const std::array<const double*, MarketCount>& distance, std::size_t col,
                          const std::array<double, MarketCount>& unitCost, double travelCost) {
  return PriceInFull([&distance, col](std::size_t m) { return distance[m][col]; }, unitCost, travelCost);
}

// How many cells ahead the pricing passes fetch the lines they will read and write: the
// machine's own fetching falls behind the strided lines of the wide cells, and a pass over a
// grid that outgrows the caches would otherwise wait on every cell.
constexpr std::size_t kAhead = 16;

// Every line of a cell, for writing.
inline void FetchWhole(const TCell& cell) {
  const char* at = reinterpret_cast<const char*>(&cell);
  __builtin_prefetch(at, 1);
  __builtin_prefetch(at + 64, 1);
  __builtin_prefetch(at + sizeof(TCell) - 1, 1);
}

}  // namespace

// What pricing every cell in full writes, and what it adds up on the way.
struct FullWrites {
  TCell* cells;
  double* prices;
  double* rivals;
  std::uint8_t* epochs;
  std::uint8_t* catchments;
  const std::uint8_t* states;
  double* freePrices;  // null where the free prices are not kept along
  bool note;           // the rivals are noted
  std::uint8_t epoch;
  std::size_t grouped;  // cells in whole groups of four
  // The sum of the prices in SumInLanes' lanes: cell k in lane k % 4, the cells past the last
  // whole group of four in lane 0.
  double lane[4] = {0.0, 0.0, 0.0, 0.0};
  // Customers that change market, counted apart for every fourth cell, so that neighbouring
  // cells need not wait for each other's counts, and added to the markets at the end.
  std::array<std::array<std::int32_t, MarketCount>, 4> moved{};
};

namespace {

// Cell k priced in full as p, written as the plain phase writes it.
[[gnu::always_inline]] inline void WriteInFull(FullWrites& w, std::size_t k, const Priced& p) {
  if (w.note) {
    w.rivals[k] = p.rival;
    w.epochs[k] = w.epoch;
  }
  if (p.catchment < 0) {
    w.lane[k < w.grouped ? k & 3 : 0] += w.prices[k];
    return;  // no market below the ceiling: the cell keeps what it had
  }
  TCell& cell = w.cells[k];
  w.lane[k < w.grouped ? k & 3 : 0] += p.best;
  cell.localPrice = p.best;
  w.prices[k] = p.best;
  const bool taken = w.states[k] != 0;
  const std::uint8_t old = w.catchments[k];
  if (old != p.catchment) {
    // A customer that stays with its market would be taken off and put back: no net change.
    // Taken or free is a coin toss from one cell to the next: counted, not branched on.
    cell.catchment = p.catchment;
    w.catchments[k] = std::uint8_t(p.catchment);
    w.moved[k & 3][old] -= taken;
    w.moved[k & 3][std::size_t(p.catchment)] += taken;
  }
  if (w.freePrices) {
    // A taken cell's free price stays +infinity: written alike, chosen by a mask.
    const std::uint64_t mask = 0 - std::uint64_t(taken);
    w.freePrices[k] = std::bit_cast<double>((std::bit_cast<std::uint64_t>(p.best) & ~mask) |
                                            (std::bit_cast<std::uint64_t>(detail::Taken) & mask));
  }
}

using Lanes = double __attribute__((vector_size(64)));
using LaneMarks = std::int64_t __attribute__((vector_size(64)));
constexpr std::size_t kLanes = sizeof(Lanes) / sizeof(double);

}  // namespace

// Every cell from the reset's table, eight side by side in wide registers through the ten
// markets, each with PriceInFull's operations in its order (only its branch becomes a choice);
// the last few of a row by PriceInFull itself. Their writes follow each eight, so that the
// arithmetic of the next overlaps the lines the last are waiting for.
// Taken and given back by value: through a reference, every byte stored would make the compiler
// read its pointers again.
namespace {

#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx512f,avx512vl")]]
#endif
FullWrites PriceTableWide(FullWrites w, const PricedGrid& grid, const std::array<double, MarketCount>& unitCost,
                          double travelCost) {
  const std::int32_t rows = grid.rows;
  const std::size_t cols = std::size_t(grid.cols), count = std::size_t(grid.cols) * std::size_t(rows);
  const DistanceTable& table = *grid.distances;
  const std::array<MarketPosition, MarketCount>& positions = *grid.positions;
  std::array<const double*, MarketCount> distance;
  for (std::int32_t row = 0; row < rows; ++row) {
    table.Row(row, positions, distance);
    const std::size_t start = std::size_t(row) * cols;
    std::size_t col = 0;
    for (; col + kLanes <= cols; col += kLanes) {
      Lanes best = PriceCeiling - Lanes{}, rival = detail::Taken - Lanes{};
      LaneMarks market = -1 - LaneMarks{};
      for (std::size_t m = 0; m < MarketCount; ++m) {
        Lanes d;
        std::memcpy(&d, distance[m] + col, sizeof d);
        const Lanes price = unitCost[m] + d * travelCost;
        const LaneMarks cheaper = price < best;
        // The ceiling is no price: a cell's first market below it leaves the rival alone.
        const Lanes other = cheaper ? (best < PriceCeiling ? best : detail::Taken) : price;
        rival = other < rival ? other : rival;
        best = cheaper ? price : best;
        market = cheaper ? std::int64_t(m) : market;
      }
      for (std::size_t j = 0; j < kLanes; ++j) {
        const std::size_t k = start + col + j;
        if (k + kAhead < count) __builtin_prefetch(&w.cells[k + kAhead].localPrice, 1);
        WriteInFull(w, k, Priced{best[j], rival[j], std::int32_t(market[j])});
      }
    }
    for (; col < cols; ++col) {
      WriteInFull(w, start + col, PriceInFull(distance, col, unitCost, travelCost));
    }
  }
  return w;
}

}  // namespace

void KeptPrices::Size(std::size_t cells) {
  price_.resize(cells);
  catchment_.resize(cells);
  rival_.resize(cells);
  epochOf_.resize(cells);
  priceAll_ = true;
  greyIsScape_ = false;
}

void KeptPrices::Made(bool fromTable) {
  sum_ = detail::SumInLanes(price_.size(), [this](std::size_t k) { return price_[k]; });
  fromTable_ = fromTable;
}

void KeptPrices::ComputeUnitCosts(const std::array<TCell*, MarketCount>& markets, std::int32_t count,
                                  double returnsToScale, double productionCost) {
  const bool sameInputs = costsKnown_ && detail::SameBits(returnsToScale, costedReturns_) &&
                          detail::SameBits(productionCost, costedProduction_) && count == costedMarkets_;
  for (std::size_t k = 0; k < MarketCount; ++k) {
    if (std::int32_t(k) >= count) {
      costs_[k] = Absent;
      continue;
    }
    TCell& market = *markets[k];
    if (!sameInputs || market.customers != costedCustomers_[k]) {
      costs_[k] = detail::UnitCost(market.customers, returnsToScale, productionCost);
      costedCustomers_[k] = market.customers;
    }
    market.unitCost = costs_[k];
  }
  costedReturns_ = returnsToScale;
  costedProduction_ = productionCost;
  costedMarkets_ = count;
  costsKnown_ = true;
}

void KeptPrices::ComputeLocalPrices(const PricedGrid& grid, double travelCost, FreePrices& free) {
  std::array<double, MarketCount> unitCost;
  bool same = !priceAll_ && detail::SameBits(travelCost, pricedTravelCost_);
  for (std::size_t k = 0; k < MarketCount; ++k) {
    unitCost[k] = std::int32_t(k) < grid.count ? grid.markets[k]->unitCost : Absent;
    same = same && detail::SameBits(unitCost[k], pricedUnitCost_[k]);
  }
  if (same) return;
  PriceRows(grid, unitCost, travelCost, free);
  pricedUnitCost_ = unitCost;
  pricedTravelCost_ = travelCost;
  priceAll_ = false;
}

// Every cell priced in full, or (kept) only from its own market. A cell's rival is the lowest
// price any other market offered it when it was last priced in full, with the unit costs of that
// time (an epoch): a market's price at the cell has since fallen by at most the most that any
// unit cost fell, so while the rival less that fall stays above the own market's new price, with
// room for rounding, no other market can offer the cell as little, and the plain search would
// keep its market.
void KeptPrices::PriceRows(const PricedGrid& grid, const std::array<double, MarketCount>& unitCost,
                           double travelCost, FreePrices& free) {
  TCell* const cells = grid.cells;
  const std::size_t cellCount = std::size_t(grid.cols) * std::size_t(grid.rows);
  const bool all = priceAll_ || !detail::SameBits(travelCost, pricedTravelCost_);
  // Where the unit costs swing widely from step to step (returns below 1 make them
  // oscillate), hardly a cell keeps its market: every cell is priced in full straight away,
  // without noting its rival but every eighth time, and keeping is tried again the time after.
  // Nor are rivals noted when everything is priced afresh (after a setup, say): with returns of
  // 1 no unit cost ever changes, and with others the next pricing notes them where cells kept
  // their markets last time (rivals noted at any other time would only go stale unused).
  // While keeping fails it is tried ever more rarely: a failed try costs more than a full pricing.
  if (all) keepEvery_ = kKeepFirst;
  const bool keep = !all && !rivalsStale_ && (keptLast_ || epochs_ % keepEvery_ == 1);
  const bool note = !all && (keep || keptLast_ || epochs_ % keepEvery_ == 0);
  rivalsStale_ = !note;
  // The fall of the unit costs since each of the last epochs, by age; infinite past them (a cell
  // is priced in full at least once in kEpochs pricings, so no age wraps round).
  std::array<double, 256> fall;
  fall.fill(detail::Taken);
  for (std::uint32_t age = 1; keep && age < kEpochs && age <= epochs_; ++age) {
    const auto& then = epochCosts_[(epochs_ - age) % kEpochs];
    double most = 0.0;
    for (int m = 0; m < MarketCount; ++m) most = std::max(most, then[std::size_t(m)] - unitCost[std::size_t(m)]);
    fall[age] = most;
  }
  const std::uint8_t epoch = std::uint8_t(epochs_);
  epochCosts_[epochs_ % kEpochs] = unitCost;
  ++epochs_;

  const std::array<TCell*, MarketCount>& market = grid.markets;
  // Distances from the reset's table where it wrote them, else the cells'.
  const bool fromTable = fromTable_;
  const std::size_t cols = std::size_t(grid.cols);
  std::array<const double*, MarketCount> distance{};
  // The copies by plain pointers: a store through a byte pointer may alias anything, and would
  // make every member be read again for each cell.
  double* const prices = price_.data();
  double* const rivals = rival_.data();
  std::uint8_t* const epochs = epochOf_.data();
  std::uint8_t* const catchments = catchment_.data();
  const std::uint8_t* const states = grid.states;
  // The sum of the prices in SumInLanes' lanes, added up as the cells are priced: cell k in
  // lane k % 4, the cells past the last whole group of four in lane 0.
  double lane[4] = {0.0, 0.0, 0.0, 0.0};
  const std::size_t grouped = cellCount / 4 * 4;
  std::size_t kept = 0;
  bool changed = false;
  if (!keep) {
    // Every cell in full, written as the plain phase writes it: where nearly every price moves,
    // asking first costs more than it saves. The free prices are written along only if the last
    // step looked for centers, and its relocation kept them; otherwise the next LookForCenters
    // makes them afresh (after a relocation that moved many, this step's likely does too).
    FullWrites w{cells, prices, rivals, epochs, catchments, states, free.WhilePricing(true), note, epoch, grouped};
    // Where a reset wrote the distances they are read from its table, not from the cells: a
    // cell is then only written, one line of it (two where its catchment changes) instead of
    // the three its distances span, and whether it is taken comes from its copy.
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool wide = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
#else
    constexpr bool wide = false;  // eight lanes would be split into whatever the machine has
#endif
    if (fromTable && AllowedRegisters(wide ? 2 : 0) == 2) {
      w = PriceTableWide(w, grid, unitCost, travelCost);
    } else {
      for (std::int32_t row = 0; row < grid.rows; ++row) {
        if (fromTable) grid.distances->Row(row, *grid.positions, distance);
        for (std::size_t col = 0, k = std::size_t(row) * cols; col < cols; ++col, ++k) {
          if (fromTable) {
            if (k + kAhead < cellCount) __builtin_prefetch(&cells[k + kAhead].localPrice, 1);
            WriteInFull(w, k, PriceInFull(distance, col, unitCost, travelCost));
          } else {
            if (k + kAhead < cellCount) FetchWhole(cells[k + kAhead]);
            WriteInFull(w, k, PriceInFull(cells[k], unitCost, travelCost));
          }
        }
      }
    }
    for (const auto& counts : w.moved) {
      for (int m = 0; m < MarketCount; ++m) market[std::size_t(m)]->customers += counts[std::size_t(m)];
    }
    sum_ = (w.lane[0] + w.lane[1]) + (w.lane[2] + w.lane[3]);
    ++changes_;
    greyIsScape_ = false;
    return;
  }
  // A cell kept by its bound needs only its own market's distance. Where a reset wrote the
  // distances, it is read from the reset's table, whose rows for the ten markets are short
  // streams that stay in the caches, and a cell whose price stands is not touched at all. The
  // customers that change market are counted apart, for the same reason as the plain pointers.
  double* const freePrices = free.WhilePricing(false);
  std::array<std::int32_t, MarketCount> moved{};
  for (std::int32_t row = 0; row < grid.rows; ++row) {
    if (fromTable) grid.distances->Row(row, *grid.positions, distance);
    for (std::size_t col = 0, k = std::size_t(row) * cols; col < cols; ++col, ++k) {
      TCell& cell = cells[k];
      if (k + kAhead < cellCount) __builtin_prefetch(&cells[k + kAhead].localPrice, 1);
      std::uint8_t catchment = catchments[k];
      const double d = fromTable ? distance[catchment][col] : cell.marketDistance[catchment];
      double price = unitCost[catchment] + d * travelCost;
      const double bound = rivals[k] - fall[std::uint8_t(epoch - epochs[k])];
      const double room = (std::fabs(rivals[k]) + std::fabs(price) + 1.0) * 0x1p-40;
      const bool full = !(price < PriceCeiling && bound - room > price);
      kept += !full;
      if (full) {
        const Priced p = fromTable ? PriceInFull(distance, col, unitCost, travelCost)
                                   : PriceInFull(cell, unitCost, travelCost);
        rivals[k] = p.rival;
        epochs[k] = epoch;
        if (p.catchment < 0) {
          lane[k < grouped ? k & 3 : 0] += prices[k];
          continue;  // no market below the ceiling: the cell keeps what it had
        }
        price = p.best;
        catchment = std::uint8_t(p.catchment);
      }
      lane[k < grouped ? k & 3 : 0] += price;
      if (!detail::SameBits(prices[k], price)) {
        cell.localPrice = price;
        prices[k] = price;
        if (states[k] == 0 && freePrices) freePrices[k] = price;
        changed = true;
      }
      if (catchments[k] != catchment) {
        // A customer that stays with its market would be taken off and put back: no net change.
        if (states[k] != 0) {
          moved[catchments[k]] -= 1;
          moved[catchment] += 1;
        }
        cell.catchment = catchment;
        catchments[k] = catchment;
      }
    }
  }
  for (int m = 0; m < MarketCount; ++m) market[std::size_t(m)]->customers += moved[std::size_t(m)];
  keptLast_ = kept * 2 > cellCount;
  keepEvery_ = keptLast_ ? kKeepFirst : std::min(keepEvery_ * 2, kKeepLast);
  if (changed) {
    sum_ = (lane[0] + lane[1]) + (lane[2] + lane[3]);
    ++changes_;
    greyIsScape_ = false;
  }
}

void KeptPrices::ShowPriceScape(TCell* cells) {
  if (greyIsScape_) return;  // the prices have not changed since the scape was made
  for (std::size_t k = 0; k < price_.size(); ++k) {
    detail::StoreIfChanged(cells[k].grey, detail::RoundToInt32(price_[k] * 9.0));
  }
  greyIsScape_ = true;
}

void KeptPrices::Check(const ModelState& world) const {
  const TGrid::CellVector& cells = world.grid.Cells();
  std::array<const double*, MarketCount> distance{};
  const DistanceTable& table = world.distances;
  for (std::size_t k = 0; k < cells.size(); ++k) {
    const TCell& cell = cells[k];
    const auto stale = [&](const char* field) { detail::Stale(detail::CellName(k, world.Cols()), field); };
    if (catchment_[k] != cell.catchment) stale("catchment");
    if (!detail::SameBits(price_[k], cell.localPrice)) stale("localPrice");
    if (greyIsScape_ && cell.grey != detail::RoundToInt32(price_[k] * 9.0)) stale("grey");
    // Prices kept by their bounds assume the distances unchanged since the copies were made;
    // pricing reads them from the table while the cells hold what it gives.
    if (!fromTable_) continue;
    const std::size_t col = k % std::size_t(world.Cols());
    if (col == 0) table.Row(std::int32_t(k / std::size_t(world.Cols())), world.markets, distance);
    for (std::size_t m = 0; m < std::size_t(world.shape.markets); ++m) {
      if (!detail::SameBits(distance[m][col], cell.marketDistance[m])) stale("marketDistance");
    }
  }
}

}  // namespace zelmora
