#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "simulation/IncrementalMeasures.h"
#include "simulation/NeighbourhoodMeasures.h"
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
  double meanLocalPrice = NaN;   // mean `localPrice` over all cells; NaN without markets
  // Sum of squared shares of customers over the distinct cells of the markets that exist (markets
  // sharing a cell share one count, counted once); NaN with no customers.
  double herfindahl = NaN;
  // Mean over agents with at least one occupied neighbour of 100 * like / (like + other) among
  // their neighbours (the model's: 8 at the default radius, wrapped on the torus); NaN if there
  // is no such agent.
  double percentSimilar = NaN;
  // Connected groups of same-colour agents, two joined where one is the other's neighbour: at the
  // default radius 8-connected, on the torus where the grid wraps.
  std::int64_t clusterCount = 0;
  double meanClusterSize = NaN;   // agents / clusterCount; NaN with no agents
  // Per colour (0 black, 1 white): the mean `localPrice` of the cells its agents stand on; NaN
  // for a colour without agents, and without markets.
  std::array<double, 2> meanPricePaid{NaN, NaN};
};

// Measures a World after a step, every step of a run if need be, without allocating once its
// buffers stand. A measure is a function of the World's state (its cells, agents and markets,
// which hold the model's state between phases whichever path ran), and one of two kinds by how it
// stays cheap (docs/DESIGN.md, "Measures"):
//   - Read: computed at every call from the cells or from what the World answers
//     (UnsatisfiedAgents, LocalPriceSum), which costs nothing while its accelerators are current.
//   - Kept: keeps what it measured and follows the World from call to call: nothing while the
//     World's versions of what it reads stand (OccupancyVersion, PricesVersion), the changes the
//     World reports since the last call (Changes: the moves it made, World::MovesSince) or that
//     the measure finds itself, afresh otherwise.
// On a settled World (no move, no price changed) every measure costs a few reads. A new measure
// is its result field above, its function and its row in the table of Measures.cpp, a column
// (batch/Columns.cpp), a row of the columns' docs (docs/EXPERIMENTS.md) and a test that holds it
// to a plain recount (tests/simulation/MeasuresTest.cpp).
class Measurer {
 public:
  // The segregation rule's threshold (ThresholdPercent) for the count of unsatisfied agents.
  explicit Measurer(double thresholdPercent);
  // Another threshold from the next call on, as a run whose threshold was changed needs: the
  // count of the occupancy kept follows from what is kept.
  void SetThreshold(double thresholdPercent);
  // Every measure. Where the World checks its copies (World::CheckCopiesEveryPhase), first
  // holds them to the cells: a field written without CellsEdited throws CopiesStale.
  StepMeasures Measure(const World& world);

  // What changed since the last call, as the kept measures are told it. Working it out keeps
  // the occupancy's measures (like shares, clusters, the rule's unsatisfied agents) up to date:
  // they follow the cells that changed, found by comparing the occupancy with their own.
  struct Changes {
    bool afresh = true;  // another grid, or the first call: measure afresh
    bool prices = true;  // a cell's localPrice may have changed
    // The moves the World made since the last call, with their cells' prices, where it kept
    // them; none where nothing moved.
    std::optional<std::span<const AgentMove>> moves;
    const std::uint8_t* occupancy = nullptr;  // the occupancy now (World::Occupancy)
  };
  // Measure, in parts, for timing each measure apart: Follow, then every measure in the order
  // of Names().
  Changes Follow(const World& world);
  static std::span<const char* const> Names();
  void MeasureOne(std::size_t which, const World& world, const Changes& changes, StepMeasures& m);

 private:
  void Flags(const World& world, const Changes& changes, StepMeasures& m);
  void MeanLocalPrice(const World& world, const Changes& changes, StepMeasures& m);
  void Concentration(const World& world, const Changes& changes, StepMeasures& m);
  void OccupancyMeasures(const World& world, const Changes& changes, StepMeasures& m);
  void PricePaid(const World& world, const Changes& changes, StepMeasures& m);
  using Measure_ = void (Measurer::*)(const World&, const Changes&, StepMeasures&);
  struct Row {
    const char* name;
    Measure_ measure;
  };
  static const Row kMeasures[];

  // The grid and the versions the last call saw.
  std::int32_t cols_ = 0, rows_ = 0;
  World::Version occupancyVersion_, pricesVersion_;
  std::vector<std::uint8_t> occupancy_;  // the World's occupancy where it keeps no copy
  std::vector<double> prices_;           // its prices likewise
  IncrementalMeasures occupancyMeasures_;  // the default neighbourhood: eight cells on the torus
  // Any other shape's neighbourhood (another radius, or a bounded grid), kept likewise and read
  // into shapeMeasured_ at every call.
  NeighbourhoodMeasures shapeMeasures_;
  NeighbourhoodMeasures::Result shapeMeasured_;
  bool tracking_ = false;  // occupancyMeasures_ keeps what following changes needs
  // The market cells and their customers the concentration was last worked out from.
  std::array<const TCell*, MarketCount> concentrationOf_{};
  std::array<std::int32_t, MarketCount> concentrationCounts_{};
  double concentration_ = StepMeasures::NaN;
  // Per colour the prices paid, in units of 2^-32 (a whole number, so that a change adds and takes
  // off exactly, and the sum is the same however the changes came), and the agents paying.
  std::array<__int128, 2> paid_{};
  std::array<std::int64_t, 2> payers_{};
};

}  // namespace zelmora
