#pragma once

#include <cstdint>
#include <limits>
#include <vector>

namespace zelmora {

class World;

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

// Keeps scratch buffers between calls, so a run measures every step without allocating.
//
// One pass over the agents packs each colour's occupancy into bit rows (64 cells a word). The
// neighbour counts are then added bit-parallel, 64 cells at a time, and the clusters are
// labelled over runs of same-colour cells in a row rather than over single cells.
class Measurer {
 public:
  // The segregation rule's threshold (ThresholdPercent) for the count of unsatisfied agents.
  explicit Measurer(double thresholdPercent);
  StepMeasures Measure(const World& world);

 private:
  using Word = std::uint64_t;

  void PackAgents(const World& world, StepMeasures& m);
  void CountSimilar(StepMeasures& m);
  std::int64_t CountClusters(int colour);
  void FindRuns(const Word* row, std::int32_t cols);
  std::int32_t Find(std::int32_t run);
  bool Unite(std::int32_t a, std::int32_t b);

  // Per count of occupied neighbours (0..8): the fewest like ones that satisfy the rule (9: none).
  std::int32_t minLike_[9] = {};
  std::int32_t cols_ = 0;
  std::int32_t rows_ = 0;
  std::size_t words_ = 0;  // per row
  Word lastMask_ = 0;      // the cells of the last word of a row
  std::vector<Word> occupancy_;  // black rows, then white rows
  const Word* Plane(int colour) const { return occupancy_.data() + std::size_t(colour) * words_ * std::size_t(rows_); }
  // Per colour and row: west + centre + east as two bit planes, and west + east.
  std::vector<Word> three_[2][2];
  std::vector<Word> two_[2][2];
  std::vector<Word> west_, east_;
  // Runs of same-colour cells: first and last column, and the first run of each row.
  std::vector<std::int32_t> runFirst_, runLast_, rowRuns_;
  std::int32_t runs_ = 0;
  std::vector<std::int32_t> parent_;
};

}  // namespace zelmora
