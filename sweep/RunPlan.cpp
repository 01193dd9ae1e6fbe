#include "sweep/RunPlan.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

namespace zelmora::batch {

std::uint64_t RunSeed(std::uint64_t masterSeed, std::int64_t index) {
  // Mixing the master seed first keeps neighbouring master seeds' runs apart; the index is
  // spread by the golden-ratio increment as in SplitMix64.
  return Mix64(Mix64(masterSeed) + GoldenGamma * (std::uint64_t(index) + 1));
}

ModelSettings SettingsOf(const Parameters& p) {
  ModelSettings settings;
  settings.thresholdPercent = 12.5 * p.threshold;
  settings.productionCost = p.productionCosts;
  settings.travelCost = p.travelExpenses;
  settings.returnsToScale = p.returnsToScale;
  settings.segregation = p.segregation;
  settings.lookForCenters = p.centers;
  settings.priceScape = false;
  settings.showCatchment = true;
  settings.agentCount = std::to_string(p.agents);
  return settings;
}

double DearestPrice(const Parameters& p, std::int32_t cols, std::int32_t rows) {
  const double diagonal = std::hypot(double(cols - 1), double(rows - 1));
  const double scale =
      p.returnsToScale < 1.0 ? std::pow(double(std::max<std::int64_t>(p.agents, 1)), 1.0 - p.returnsToScale) : 1.0;
  return p.productionCosts * scale + p.travelExpenses * diagonal;
}

std::uint64_t DrawMasterSeed() {
  std::random_device device;
  return (std::uint64_t(device()) << 32) ^ device();
}

std::int64_t SweepSize(const Options& options) {
  std::int64_t runs = options.repeats * (options.design ? std::int64_t(options.design->points) : 1);
  for (const SweepAxis& axis : options.sweep) runs *= std::int64_t(axis.values.size());
  return runs;
}

std::int64_t DesignPointOf(const Options& options, std::int64_t index) {
  std::int64_t rest = index / options.repeats;
  for (const SweepAxis& axis : options.sweep) rest /= std::int64_t(axis.values.size());
  return rest;
}

RunPlan SweepRun(const Options& options, std::uint64_t masterSeed, std::int64_t index) {
  RunPlan run;
  run.index = index;
  run.seed = RunSeed(masterSeed, index);
  run.parameters = options.base;
  std::optional<double> density = options.density;
  // Mixed radix: the repeats are the lowest digit, the last --set the next.
  std::int64_t rest = index / options.repeats;
  for (auto axis = options.sweep.rbegin(); axis != options.sweep.rend(); ++axis) {
    const std::int64_t n = std::int64_t(axis->values.size());
    SetKnob(axis->knob, axis->values[std::size_t(rest % n)], run.parameters, density);
    rest /= n;
  }
  // The design's point is the slowest digit: a design listing a cross product in --set's order
  // numbers its runs as that --set sweep does.
  if (options.design) {
    for (const SweepAxis& column : options.design->columns) {
      SetKnob(column.knob, column.values[std::size_t(rest)], run.parameters, density);
    }
  }
  if (density) {
    const double cells = double(options.cols) * double(options.rows);
    run.parameters.agents = std::int64_t(std::nearbyint(*density * cells));
  }
  return run;
}

std::vector<RunPlan> ShardRuns(const Options& options, std::uint64_t masterSeed) {
  std::vector<RunPlan> runs;
  const std::int64_t total = SweepSize(options);
  for (std::int64_t index = options.shardIndex; index < total; index += options.shardCount) {
    runs.push_back(SweepRun(options, masterSeed, index));
  }
  return runs;
}

}  // namespace zelmora::batch
