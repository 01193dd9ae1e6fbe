#pragma once

#include <cstdint>
#include <vector>

#include "batch/Options.h"
#include "simulation/ModelPorts.h"

namespace zelmora::batch {

// One run of a sweep: its index in the whole sweep, its seed and its parameters.
struct RunPlan {
  std::int64_t index = 0;
  std::uint64_t seed = 0;
  Parameters parameters;
};

// SplitMix64's output function: a bijective mix of 64 bits.
std::uint64_t Mix64(std::uint64_t x);

// A run's seed from the master seed and the run's index only, so a run's result depends on
// nothing else (not on --jobs, the shard or the order runs finish).
std::uint64_t RunSeed(std::uint64_t masterSeed, std::int64_t index);

// The World's reseeds of one run, drawn one after the other from a SplitMix64 stream that starts
// at the run's seed.
class SeedStream {
 public:
  explicit SeedStream(std::uint64_t runSeed) : state_(runSeed) {}
  std::uint64_t operator()() {
    state_ += 0x9e3779b97f4a7c15ULL;
    return Mix64(state_);
  }

 private:
  std::uint64_t state_;
};

// The model's inputs for a run's parameters: what the window's controls would say, catchment
// areas shown, price scape off.
ModelSettings SettingsOf(const Parameters& parameters);

// A master seed drawn from the system's entropy source.
std::uint64_t DrawMasterSeed();

// How many runs the whole sweep has: the product of the --set list lengths times --repeats.
std::int64_t SweepSize(const Options& options);

// Run `index` of the whole sweep: the first --set varies slowest, the repeats fastest. With
// --density, the run's agents are its density times the cells, rounded.
RunPlan SweepRun(const Options& options, std::uint64_t masterSeed, std::int64_t index);

// The runs of this shard in index order: those whose index is the shard's index modulo the
// shard count. Only these are built, so a shard of a huge sweep stays small.
std::vector<RunPlan> ShardRuns(const Options& options, std::uint64_t masterSeed);

// The steps recorded: 0 (after setup), every recordEvery-th, and always the last.
std::vector<std::int32_t> RecordedSteps(std::int32_t steps, std::int32_t recordEvery);

}  // namespace zelmora::batch
