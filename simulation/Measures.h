#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "simulation/IncrementalMeasures.h"
#include "simulation/World.h"

namespace zelmora {

// What an experiment records about the World after a step.
struct StepMeasures {
  static constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

  std::int64_t satisfied = 0;    // agents whose `satisfied` flag is set at the end of the step
  std::int64_t unsatisfied = 0;  // the other agents
  // Agents the segregation rule finds unsatisfied where they stand now, whether or not the phase
  // ran: unlike the flags, which placement sets for every agent, this holds at step 0 too.
  std::int64_t unsatisfiedByRule = 0;
  double meanLocalPrice = NaN;   // mean `localPrice` over all cells
  // Sum of squared shares of customers over the distinct market cells (markets sharing a cell
  // share one count, counted once); NaN with no customers.
  double herfindahl = NaN;
  // Mean over agents with at least one occupied neighbour of 100 * like / (like + other) among
  // their 8 torus neighbours; NaN if there is no such agent.
  double percentSimilar = NaN;
  std::int64_t clusterCount = 0;  // connected groups of same-colour occupied cells, 8-connected, on the torus
  double meanClusterSize = NaN;   // agents / clusterCount; NaN with no agents
};

// Keeps what it measured between calls, so a run measures every step without allocating. While
// the World's compact copies are current, the measures of its occupancy follow the cells that
// changed since the last call; otherwise they are made afresh from the agents
// (IncrementalMeasures).
class Measurer {
 public:
  // The segregation rule's threshold (ThresholdPercent) for the count of unsatisfied agents.
  explicit Measurer(double thresholdPercent);
  // Another threshold from the next call on, as a run whose threshold was changed needs: the
  // count of the occupancy kept follows from what is kept.
  void SetThreshold(double thresholdPercent);
  StepMeasures Measure(const World& world);

 private:
  void MeasureOccupancy(const World& world);

  IncrementalMeasures occupancyMeasures_;
  // The market cells and their customers the concentration was last worked out from.
  std::array<const TCell*, MarketCount> concentrationOf_{};
  std::array<std::int32_t, MarketCount> concentrationCounts_{};
  double concentration_ = StepMeasures::NaN;
  std::vector<std::uint8_t> occupancy_;  // the World's occupancy where it keeps no copy
  // The grid and occupancy occupancyMeasures_ follows, while tracking_.
  std::int32_t cols_ = 0, rows_ = 0;
  World::Version version_;
  bool tracking_ = false;
};

}  // namespace zelmora
