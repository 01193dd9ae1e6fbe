#include "simulation/Measures.h"

#include <algorithm>
#include <array>

#include "simulation/ModelMath.h"
#include "simulation/World.h"

namespace zelmora {

Measurer::Measurer(double thresholdPercent) { SetThreshold(thresholdPercent); }

void Measurer::SetThreshold(double thresholdPercent) {
  occupancyMeasures_.SetRule(IncrementalMeasures::RuleOf(thresholdPercent));
}

StepMeasures Measurer::Measure(const World& world) {
  StepMeasures m;
  if (!world.grid.HasCells()) {
    for (const TAgent& agent : world.Agents) (agent.satisfied ? m.satisfied : m.unsatisfied) += 1;
    return m;
  }

  const TGrid& grid = world.grid;
  // The same market cells with the same customers give the same concentration: a settled run
  // reads ten counts, and works it out again only when one moved.
  std::array<const TCell*, MarketCount> markets{};
  std::array<std::int32_t, MarketCount> counts{};
  for (std::size_t i = 0; i < MarketCount; ++i) {
    markets[i] = &grid.At(world.Markets[i].col, world.Markets[i].row);
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

  const auto agents = std::int64_t(world.Agents.size());
  m.unsatisfied = world.UnsatisfiedAgents();
  m.satisfied = agents - m.unsatisfied;
  m.meanLocalPrice = world.LocalPriceSum() / (double(world.GridCols) * double(world.GridRows));
  MeasureOccupancy(world);
  if (occupancyMeasures_.Counted() > 0) {
    m.percentSimilar = 100.0 * double(occupancyMeasures_.Shares()) /
                       (double(IncrementalMeasures::ShareUnit) * double(occupancyMeasures_.Counted()));
  }
  m.unsatisfiedByRule = occupancyMeasures_.UnsatisfiedByRule();
  m.clusterCount = occupancyMeasures_.Clusters();
  if (agents > 0) m.meanClusterSize = double(agents) / double(m.clusterCount);
  return m;
}

namespace {
// Past one change in this many cells, following the next call's changes, fewer by then as a run
// settles, and keeping what that needs cost more than measuring afresh, whose clusters are
// counted over runs of whole rows: a change costs a few dozen cells of that, more where the
// clusters it joins or splits are big.
constexpr std::size_t kFollowFew = 30;
}  // namespace

// The measures of the occupancy are kept from one call to the next at the cost of the cells that
// changed in between, nothing when the World made no move.
void Measurer::MeasureOccupancy(const World& world) {
  const World::Version version = world.OccupancyVersion();
  const bool sameGrid = world.GridCols == cols_ && world.GridRows == rows_;
  if (tracking_ && sameGrid && version == version_) return;
  const std::uint8_t* occupancy = world.Occupancy(occupancy_);
  if (!tracking_ || !sameGrid) {
    // Measured afresh, and kept to follow the next changes, unless the moves since the last
    // call changed so many cells that the next call, likely to see many too, would measure
    // afresh anyway or follow them at more than the cost of measuring afresh (the rule below,
    // where those changes are not counted but bounded: a move changes two cells).
    const std::size_t cells = std::size_t(world.GridCols) * std::size_t(world.GridRows);
    const bool many = sameGrid && version.copy != 0 && version.copy == version_.copy &&
                      (version.changes - version_.changes) * 2 * kFollowFew > cells;
    cols_ = world.GridCols;
    rows_ = world.GridRows;
    tracking_ = !many;
    occupancyMeasures_.Rebuild(occupancy, cols_, rows_, tracking_);
  } else if (!occupancyMeasures_.Update(occupancy)) {
    // Many changes: the next call is likely to see many too, unless these were not so many,
    // and keeping what following them needs would cost a good part of measuring afresh.
    const std::size_t cells = std::size_t(cols_) * std::size_t(rows_);
    tracking_ = occupancyMeasures_.Changed() * kFollowFew <= cells;
    occupancyMeasures_.Rebuild(occupancy, cols_, rows_, tracking_);
  }
  version_ = version;
}

}  // namespace zelmora
