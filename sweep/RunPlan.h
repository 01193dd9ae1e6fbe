#pragma once

#include <cstdint>

#include "simulation/SplitMix64.h"
#include "sweep/ParameterTable.h"

namespace zelmora::sweep {

// One run of a sweep: its index in the whole sweep, its seed and its parameters.
struct RunPlan {
  std::int64_t index = 0;
  std::uint64_t seed = 0;
  ParameterValues parameters{};
};

// A run's seed from the master seed and the run's index only, so a run's result depends on
// nothing else (not on the threads, the shard or the order runs finish).
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

// A master seed drawn from the system's entropy source.
std::uint64_t DrawMasterSeed();

// The steps recorded: 0 (after setup), every recordEvery-th, and always the last. Counted, not
// listed, so a run of 10^9 steps costs nothing to plan.
inline bool IsRecorded(std::int32_t step, std::int32_t steps, std::int32_t recordEvery) {
  return step % recordEvery == 0 || step == steps;
}
inline std::size_t RecordedCount(std::int32_t steps, std::int32_t recordEvery) {
  return std::size_t(steps / recordEvery) + 1 + (steps % recordEvery != 0);
}

}  // namespace zelmora::sweep
