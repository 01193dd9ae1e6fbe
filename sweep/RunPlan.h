#pragma once

#include <cstdint>
#include <vector>

#include "batch/Options.h"
#include "simulation/ModelPorts.h"
#include "simulation/SplitMix64.h"

namespace zelmora::batch {

// One run of a sweep: its index in the whole sweep, its seed and its parameters.
struct RunPlan {
  std::int64_t index = 0;
  std::uint64_t seed = 0;
  Parameters parameters;
};

// A run's seed from the master seed and the run's index only, so a run's result depends on
// nothing else (not on --jobs, the shard or the order runs finish).
std::uint64_t RunSeed(std::uint64_t masterSeed, std::int64_t index);

// The World's reseeds of one run, drawn one after the other from a SplitMix64 stream that starts
// at the run's seed.
class SeedStream {
 public:
  explicit SeedStream(std::uint64_t runSeed) : state_(runSeed) {}
  std::uint64_t operator()() {
    const std::uint64_t out = SplitMix64(state_);
    state_ += GoldenGamma;
    return out;
  }

 private:
  std::uint64_t state_;
};

// The model's inputs for a run's parameters: what the window's controls would say, catchment
// areas shown, price scape off.
ModelSettings SettingsOf(const Parameters& parameters);

// The dearest delivered price a run with these parameters could meet on a cols x rows grid: the
// dearest unit cost (a market with every agent when returns to scale are below 1, else one
// customer) plus the travel over the grid's diagonal. A run is meaningful only while it stays below
// World::PriceCeiling, above which the model never takes a price (a cell would keep a stale
// catchment); every front end refuses parameters that reach it.
double DearestPrice(const Parameters& parameters, std::int32_t cols, std::int32_t rows);

// A master seed drawn from the system's entropy source.
std::uint64_t DrawMasterSeed();

// How many runs the whole sweep has: the design's points (1 without a design) times the product of
// the --set list lengths times --repeats.
std::int64_t SweepSize(const Options& options);

// Run `index` of the whole sweep: the design's point varies slowest, then the first --set, ..., the
// repeats fastest. With --density, the run's agents are its density times the cells, rounded.
RunPlan SweepRun(const Options& options, std::uint64_t masterSeed, std::int64_t index);

// The design's point (0 for the first row) that run `index` takes its values from.
std::int64_t DesignPointOf(const Options& options, std::int64_t index);

// The runs of this shard in index order: those whose index is the shard's index modulo the
// shard count. Only these are built, so a shard of a huge sweep stays small.
std::vector<RunPlan> ShardRuns(const Options& options, std::uint64_t masterSeed);

// The steps recorded: 0 (after setup), every recordEvery-th, and always the last. Counted, not
// listed, so a run of 10^9 steps costs nothing to plan.
inline bool IsRecorded(std::int32_t step, std::int32_t steps, std::int32_t recordEvery) {
  return step % recordEvery == 0 || step == steps;
}
inline std::size_t RecordedCount(std::int32_t steps, std::int32_t recordEvery) {
  return std::size_t(steps / recordEvery) + 1 + (steps % recordEvery != 0);
}

}  // namespace zelmora::batch
