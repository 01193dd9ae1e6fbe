// The recorded step: a fast step, then the measures an experiment records after it, each timed
// in CPU time over a window of steps. At the window's settings (40 x 40 and 200 x 200, after 100
// steps), settled at 1000 x 1000 (look for centers off, after 100 steps) and busy at
// 1000 x 1000 (steps 2-21 after a setup). Counters: step_us and measures_us a step, recorded_us
// = their sum, and recorded_to_step = recorded_us / step_us.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

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

  Run(std::int32_t side, bool lookForCenters) {
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

void Recorded(benchmark::State& state, std::int32_t side, bool lookForCenters, bool busy) {
  static std::map<std::int32_t, std::unique_ptr<Run>> warmed;
  std::unique_ptr<Run> fresh;
  Run* run;
  if (busy) {
    fresh = std::make_unique<Run>(side, lookForCenters);
    run = fresh.get();
  } else {
    auto& w = warmed[side];
    if (!w) {
      w = std::make_unique<Run>(side, lookForCenters);
      w->Setup();
      for (int i = 0; i < 100; ++i) {
        w->world.SimulationStep();
        w->measurer.Measure(w->world);
      }
    }
    run = w.get();
  }
  double step = 0.0, measures = 0.0;
  constexpr int kWindow = 20;
  for (auto _ : state) {
    if (busy) {
      run->Setup();
      run->world.SimulationStep();
      run->measurer.Measure(run->world);
    }
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

void BM_RecordedDefaults(benchmark::State& state) { Recorded(state, std::int32_t(state.range(0)), true, false); }
void BM_RecordedSettled(benchmark::State& state) { Recorded(state, 1000, false, false); }
void BM_RecordedBusy(benchmark::State& state) { Recorded(state, 1000, false, true); }

BENCHMARK(BM_RecordedDefaults)->Arg(40)->Arg(200)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordedSettled)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordedBusy)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
