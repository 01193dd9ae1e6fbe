// The recorded step: a fast step, then the measures an experiment records after it, each timed
// in CPU time over a window of steps. At the window's settings (40 x 40 and 200 x 200, after 100
// steps), settled at 1000 x 1000 (look for centers off, after 100 steps) and busy at
// 1000 x 1000 (steps 2-21 after a setup). Counters: step_us and measures_us a step, recorded_us
// = their sum, and recorded_to_step = recorded_us / step_us. EachMeasure times the measures one
// by one after every step of such a window, settled and busy at 1000 x 1000: changes_us (working
// out what changed, which keeps the occupancy's measures) and <measure>_us a call, so that a slow
// measure shows. On the settled World each is called a thousand times a step, to rise above the
// clock's own cost (a measure called again after the same step gives the same result at the same
// cost; working out the changes again finds none, as it found on the settled World at once).
// RecordedShape times the same window in other shapes (radius 2, radius 5, wrap off) at
// 200 x 200 and 1000 x 1000, busy and settled (after 100 steps), whose occupancy measures are
// kept by NeighbourhoodMeasures rather than IncrementalMeasures.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <numeric>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "bench/simulation/Twins.h"
#include "simulation/Measures.h"
#include "simulation/ModelPorts.h"
#include "simulation/World.h"

namespace {

using zelmora::bench::CpuSeconds;

struct Run {
  zelmora::ModelSettings settings;
  zelmora::World world{settings};
  zelmora::Measurer measurer{settings.thresholdPercent};
  std::uint64_t seed = 0;

  Run(std::int32_t side, bool lookForCenters, const zelmora::ModelShape& shape = {}) {
    settings.shape = shape;
    settings.agentCount = std::to_string(side * side / 2);
    settings.lookForCenters = lookForCenters;
    world.SetSeedSource([this]() { return seed++; });
    world.SizeGrid(side * zelmora::World::CellPitch, side * zelmora::World::CellPitch);
    world.grid.CreateCells();
  }
  void Setup() {
    seed = 12345;
    world.NewSetup();
    measurer.Measure(world);  // an experiment records the setup too
  }
};

constexpr int kWindow = 20;

// The shapes of RecordedShape, the default first.
const zelmora::ModelShape kShapes[] = {{}, {.radius = 2}, {.radius = 5}, {.torus = false}};

// A run for a busy window, made afresh and kept in `fresh`, or one settled after 100 steps,
// made once per size.
Run* RunFor(std::int32_t side, bool lookForCenters, bool busy, std::unique_ptr<Run>& fresh, int shape = 0) {
  static std::map<std::pair<std::int32_t, int>, std::unique_ptr<Run>> warmed;
  if (busy) {
    fresh = std::make_unique<Run>(side, lookForCenters, kShapes[shape]);
    return fresh.get();
  }
  auto& w = warmed[{side, shape}];
  if (!w) {
    w = std::make_unique<Run>(side, lookForCenters, kShapes[shape]);
    w->Setup();
    for (int i = 0; i < 100; ++i) {
      w->world.SimulationStep();
      w->measurer.Measure(w->world);
    }
  }
  return w.get();
}

// The busy window starts at step 2 after a setup.
void StartBusy(Run& run) {
  run.Setup();
  run.world.SimulationStep();
  run.measurer.Measure(run.world);
}

void Recorded(benchmark::State& state, std::int32_t side, bool lookForCenters, bool busy, int shape = 0) {
  std::unique_ptr<Run> fresh;
  Run* run = RunFor(side, lookForCenters, busy, fresh, shape);
  double step = 0.0, measures = 0.0;
  for (auto _ : state) {
    if (busy) StartBusy(*run);
    step = measures = 0.0;
    for (int i = 0; i < kWindow; ++i) {
      double t = CpuSeconds();
      run->world.SimulationStep();
      step += CpuSeconds() - t;
      t = CpuSeconds();
      benchmark::DoNotOptimize(run->measurer.Measure(run->world));
      measures += CpuSeconds() - t;
    }
    state.SetIterationTime(step + measures);
  }
  state.counters["step_us"] = step / kWindow * 1e6;
  state.counters["measures_us"] = measures / kWindow * 1e6;
  state.counters["recorded_us"] = (step + measures) / kWindow * 1e6;
  state.counters["recorded_to_step"] = (step + measures) / step;
}

void EachMeasure(benchmark::State& state, bool busy) {
  std::unique_ptr<Run> fresh;
  Run* run = RunFor(1000, false, busy, fresh);
  const std::span<const char* const> names = zelmora::Measurer::Names();
  std::vector<double> cost(names.size() + 1);  // the changes, then each measure
  const int calls = busy ? 1 : 1000;
  for (auto _ : state) {
    if (busy) StartBusy(*run);
    std::fill(cost.begin(), cost.end(), 0.0);
    for (int i = 0; i < kWindow; ++i) {
      run->world.SimulationStep();
      zelmora::StepMeasures m;
      zelmora::Measurer::Changes changes;
      double t = CpuSeconds();
      for (int call = 0; call < calls; ++call) changes = run->measurer.Follow(run->world);
      cost[0] += CpuSeconds() - t;
      for (std::size_t k = 0; k < names.size(); ++k) {
        t = CpuSeconds();
        for (int call = 0; call < calls; ++call) run->measurer.MeasureOne(k, run->world, changes, m);
        cost[k + 1] += CpuSeconds() - t;
      }
      benchmark::DoNotOptimize(m);
    }
    state.SetIterationTime(std::accumulate(cost.begin(), cost.end(), 0.0) / calls);
  }
  const double perCall = 1e6 / kWindow / calls;
  state.counters["changes_us"] = cost[0] * perCall;
  for (std::size_t k = 0; k < names.size(); ++k) state.counters[std::string(names[k]) + "_us"] = cost[k + 1] * perCall;
}

void BM_RecordedDefaults(benchmark::State& state) { Recorded(state, std::int32_t(state.range(0)), true, false); }
void BM_RecordedSettled(benchmark::State& state) { Recorded(state, 1000, false, false); }
void BM_RecordedBusy(benchmark::State& state) { Recorded(state, 1000, false, true); }

// Arguments: the side, the shape (kShapes: 1 radius 2, 2 radius 5, 3 wrap off), busy (1) or settled.
void BM_RecordedShape(benchmark::State& state) {
  Recorded(state, std::int32_t(state.range(0)), false, state.range(2) != 0, int(state.range(1)));
}

BENCHMARK(BM_RecordedShape)
    ->ArgsProduct({{200, 1000}, {1, 2, 3}, {1, 0}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordedDefaults)->Arg(40)->Arg(200)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordedSettled)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordedBusy)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(EachMeasure, Settled, false)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(EachMeasure, Busy, true)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
