#include "simulation/Measures.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "simulation/ModelMath.h"
#include "simulation/World.h"

namespace zelmora {

// Every measure, in the order a call takes them. Each says how it stays cheap.
const Measurer::Row Measurer::kMeasures[] = {
    {"flags", &Measurer::Flags},                        // read
    {"mean_local_price", &Measurer::MeanLocalPrice},    // read
    {"herfindahl", &Measurer::Concentration},           // kept: the market cells' customers
    {"occupancy", &Measurer::OccupancyMeasures},        // kept: the cells that changed
    {"mean_price_paid", &Measurer::PricePaid},          // kept: the cells that changed, the prices
};

Measurer::Measurer(double thresholdPercent) { SetThreshold(thresholdPercent); }

void Measurer::SetThreshold(double thresholdPercent) {
  occupancyMeasures_.SetRule(IncrementalMeasures::RuleOf(thresholdPercent));
  shapeMeasures_.SetThreshold(thresholdPercent);
}

std::span<const char* const> Measurer::Names() {
  static const auto names = [] {
    std::array<const char*, std::size(kMeasures)> n{};
    for (std::size_t k = 0; k < n.size(); ++k) n[k] = kMeasures[k].name;
    return n;
  }();
  return names;
}

StepMeasures Measurer::Measure(const World& world) {
  StepMeasures m;
  if (!world.grid.HasCells()) {
    for (const TAgent& agent : world.Agents) (agent.satisfied ? m.satisfied : m.unsatisfied) += 1;
    return m;
  }
  if (world.ChecksCopies()) world.CheckCopies();
  const Changes changes = Follow(world);
  for (const Row& row : kMeasures) (this->*row.measure)(world, changes, m);
  return m;
}

void Measurer::MeasureOne(std::size_t which, const World& world, const Changes& changes, StepMeasures& m) {
  const Measure_ measure = kMeasures[which].measure;
  (this->*measure)(world, changes, m);
}

namespace {
// Past one change in this many cells, following the next call's changes, fewer by then as a run
// settles, and keeping what that needs cost more than measuring afresh, whose clusters are
// counted over runs of whole rows: a change costs a few dozen cells of that, more where the
// clusters it joins or splits are big.
constexpr std::size_t kFollowFew = 30;
}  // namespace

// The occupancy's measures are kept from one call to the next at the cost of the cells that
// changed in between, nothing when the World made no move.
Measurer::Changes Measurer::Follow(const World& world) {
  Changes changes;
  const World::Version occupancy = world.OccupancyVersion(), prices = world.PricesVersion();
  const bool sameGrid = world.GridCols == cols_ && world.GridRows == rows_;
  changes.afresh = !sameGrid;
  changes.prices = !(sameGrid && prices == pricesVersion_);
  changes.moves = world.MovesSince(occupancyVersion_);
  changes.occupancy = world.Occupancy(occupancy_);
  const ModelShape& shape = world.Shape();
  cols_ = world.GridCols;
  rows_ = world.GridRows;
  if (!IncrementalMeasures::Handles(shape)) {
    // Another neighbourhood: kept by shapeMeasures_ likewise, and the next call of the default
    // one starts afresh.
    tracking_ = false;
    if (!shapeMeasures_.Keeps(cols_, rows_, shape) ||
        (!(occupancy == occupancyVersion_) && !shapeMeasures_.Update(changes.occupancy))) {
      shapeMeasures_.Rebuild(changes.occupancy, cols_, rows_, shape);
    }
    shapeMeasured_ = shapeMeasures_.Kept();
  } else if (!tracking_ || !sameGrid) {
    shapeMeasures_.Forget();  // and the next call of another starts afresh
    // Measured afresh, and kept to follow the next changes, unless the moves since the last
    // call changed so many cells that the next call, likely to see many too, would measure
    // afresh anyway or follow them at more than the cost of measuring afresh (the rule below,
    // where those changes are not counted but bounded: a move changes two cells).
    const std::size_t cells = std::size_t(world.GridCols) * std::size_t(world.GridRows);
    const bool many = sameGrid && occupancy.copy != 0 && occupancy.copy == occupancyVersion_.copy &&
                      (occupancy.changes - occupancyVersion_.changes) * 2 * kFollowFew > cells;
    tracking_ = !many;
    occupancyMeasures_.Rebuild(changes.occupancy, cols_, rows_, tracking_);
  } else if (!(occupancy == occupancyVersion_) && !occupancyMeasures_.Update(changes.occupancy)) {
    // Many changes: the next call is likely to see many too, unless these were not so many,
    // and keeping what following them needs would cost a good part of measuring afresh.
    const std::size_t cells = std::size_t(cols_) * std::size_t(rows_);
    tracking_ = occupancyMeasures_.Changed() * kFollowFew <= cells;
    occupancyMeasures_.Rebuild(changes.occupancy, cols_, rows_, tracking_);
  }
  occupancyVersion_ = occupancy;
  pricesVersion_ = prices;
  return changes;
}

// The World keeps the count of the flags while its copies are current.
void Measurer::Flags(const World& world, const Changes&, StepMeasures& m) {
  m.unsatisfied = world.UnsatisfiedAgents();
  m.satisfied = std::int64_t(world.Agents.size()) - m.unsatisfied;
}

// The World keeps the sum of the prices with them. Without markets there are no prices.
void Measurer::MeanLocalPrice(const World& world, const Changes&, StepMeasures& m) {
  if (world.Shape().markets == 0) return;
  m.meanLocalPrice = world.LocalPriceSum() / (double(world.GridCols) * double(world.GridRows));
}

// The same market cells with the same customers give the same concentration: a settled run
// reads ten counts, and works it out again only when one moved.
void Measurer::Concentration(const World& world, const Changes&, StepMeasures& m) {
  std::array<const TCell*, MarketCount> markets{};
  std::array<std::int32_t, MarketCount> counts{};
  for (std::size_t i = 0; i < std::size_t(world.Shape().markets); ++i) {
    markets[i] = &world.grid.At(world.Markets[i].col, world.Markets[i].row);
    counts[i] = markets[i]->customers;
  }
  if (!(markets == concentrationOf_ && counts == concentrationCounts_)) {
    concentrationOf_ = markets;
    concentrationCounts_ = counts;
    concentration_ = StepMeasures::NaN;
    // Markets on one cell share one count, so each cell counts once.
    std::array<const TCell*, MarketCount> cells{};
    std::size_t distinct = 0;
    double customers = 0.0;
    for (const TCell* cell : markets) {
      if (cell == nullptr) break;  // the markets that exist come first
      if (std::find(cells.begin(), cells.begin() + distinct, cell) != cells.begin() + distinct) continue;
      cells[distinct++] = cell;
      customers += cell->customers;
    }
    if (customers > 0) {
      double h = 0.0;
      for (std::size_t i = 0; i < distinct; ++i) {
        const double share = cells[i]->customers / customers;
        h += share * share;
      }
      concentration_ = h;
    }
  }
  m.herfindahl = concentration_;
}

// Kept by Follow, in the default neighbourhood or in another.
void Measurer::OccupancyMeasures(const World& world, const Changes&, StepMeasures& m) {
  const auto agents = std::int64_t(world.Agents.size());
  if (!IncrementalMeasures::Handles(world.Shape())) {
    const NeighbourhoodMeasures::Result& r = shapeMeasured_;
    if (r.counted > 0) m.percentSimilar = 100.0 * r.likeShares / double(r.counted);
    m.unsatisfiedByRule = r.unsatisfied;
    m.clusterCount = r.clusters;
    if (agents > 0) m.meanClusterSize = double(agents) / double(m.clusterCount);
    return;
  }
  if (occupancyMeasures_.Counted() > 0) {
    m.percentSimilar = 100.0 * double(occupancyMeasures_.Shares()) /
                       (double(IncrementalMeasures::ShareUnit) * double(occupancyMeasures_.Counted()));
  }
  m.unsatisfiedByRule = occupancyMeasures_.UnsatisfiedByRule();
  m.clusterCount = occupancyMeasures_.Clusters();
  if (agents > 0) m.meanClusterSize = double(agents) / double(m.clusterCount);
}

namespace {

// A price in whole units of 2^-32, the bits below cut off: exact for the model's prices (below
// 2^31 in size), and the same whatever else is added to it.
inline std::int64_t InUnits(double price) {
  const double whole = std::trunc(price);
  return std::int64_t(whole) * (std::int64_t(1) << 32) + std::int64_t((price - whole) * 0x1p32);
}

}  // namespace

// Kept from the moves the World reports: a move changes what its agent's colour pays by the
// difference of the two cells' prices, and nothing else. Summed afresh where a price may have
// changed, on another grid, or where the World kept no moves.
void Measurer::PricePaid(const World& world, const Changes& changes, StepMeasures& m) {
  if (world.Shape().markets == 0) return;  // no prices to pay
  if (changes.afresh || changes.prices || !changes.moves) {
    const double* prices = world.LocalPrices(prices_);
    const std::size_t cells = std::size_t(world.GridCols) * std::size_t(world.GridRows);
    std::array<__int128, 2> paid{0, 0};
    payers_ = {0, 0};
    for (std::size_t k = 0; k < cells; ++k) {
      // Chosen, not branched on: a cell holds a black or a white agent or none as a coin falls.
      const std::uint8_t state = changes.occupancy[k];
      const std::int64_t price = InUnits(prices[k]);
      paid[0] += state == 1 ? price : 0;
      paid[1] += state == 2 ? price : 0;
      payers_[0] += state == 1;
      payers_[1] += state == 2;
    }
    paid_ = paid;
  } else {
    for (const AgentMove& move : *changes.moves) {
      paid_[std::size_t(move.colour & 1)] += InUnits(move.toPrice) - InUnits(move.fromPrice);
    }
  }
  for (std::size_t colour = 0; colour < 2; ++colour) {
    m.meanPricePaid[colour] =
        payers_[colour] > 0 ? double(paid_[colour]) * 0x1p-32 / double(payers_[colour]) : StepMeasures::NaN;
  }
}

}  // namespace zelmora
