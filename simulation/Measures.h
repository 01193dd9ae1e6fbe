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
class Measurer {
 public:
  StepMeasures Measure(const World& world);

 private:
  std::vector<std::int32_t> parent_;  // union-find over the occupied cells
};

}  // namespace zelmora
