#pragma once
// What the step benchmarks share: a fast and a plain World from the same seeds, CPU time, the
// count of what a step changes, and the floors the figures are held against.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdint>
#include <string>
#include <vector>

#include "simulation/ModelPorts.h"
#include "simulation/World.h"

namespace zelmora::bench {

// CPU time of this thread, in seconds: the machine is shared, so wall time would count the
// other programs' turns as ours.
inline double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Settings {
  std::int32_t side = 40;
  double returns = 1.0;
  bool lookForCenters = true;  // segregation is always on
  ModelShape shape;            // the model's structure; the window's by default
  double threshold = 37.5;     // percent
};

// Two Worlds that run the same setups: one on the fast phases, one on the plain references.
class Twins {
 public:
  explicit Twins(const Settings& s);

  // The same new setup on both, from the same seeds every time.
  void Setup();
  // Both take these steps on the fast path, the plain twin included: they end in the same
  // state either way (the differential test holds them to it), and a plain warm-up of a big
  // grid would take most of the benchmark's time.
  void Warm(int steps);

  World& Fast() { return fast_; }
  World& Plain() { return plain_; }
  const Settings& Of() const { return settings_; }

 private:
  Settings settings_;
  ModelSettings inputs_;
  World fast_{inputs_};
  World plain_{inputs_};
  std::uint64_t fastSeed_ = 0, plainSeed_ = 0;
  std::uint64_t setups_ = 0;
};

// What a stretch of steps cost and changed, per step.
struct Window {
  double fast = 0.0;     // CPU seconds of the fast step
  double plain = 0.0;    // of the plain step
  double draws = 0.0;    // candidate cells the relocation phases drew
  double changed = 0.0;  // cells and agents with any field changed
  int steps = 0;
};

// Per-cell and per-agent fingerprints of a World, to count what a step changed.
class ChangeCounter {
 public:
  void Take(const World& world);
  // Cells and agents that differ from the last Take; takes the new state.
  std::int64_t Count(const World& world);

 private:
  std::vector<std::uint64_t> cells_, agents_;
};

// Runs `steps` steps on both twins, the whole window on the fast one, then on the plain one,
// whose changes (the same) are counted outside the timing.
Window RunWindow(Twins& twins, int steps);

// One try of LookForCenters in a tight loop on a grid of this many cells: a draw, two bounded
// offsets, the wrapped cell, its free price and a minimum. Seconds per try, the best of a few
// runs, measured once per size and run of the program.
double OneTry(std::int32_t side);
// One cache line written at a random place of an array as big as this grid's cells, the writes
// independent of each other. Seconds per line, the best of a few runs.
double OneLine(std::int32_t side);

// The figures of a window: fast and plain microseconds a step, their ratio, the draws and
// changed cells and agents a step, one try and one line in nanoseconds, and the floor (the draws
// times one try and the changed cells and agents times one line).
void Report(benchmark::State& state, const Window& w, std::int32_t side);

std::string Name(const char* what, const Settings& s);

}  // namespace zelmora::bench
