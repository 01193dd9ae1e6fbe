// The per-step measures against the step they follow: on 40 x 40 with 800 agents and 200 x 200
// at 50 % density, after the first 100 steps, a step alone and a step measured afterwards.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "simulation/Measures.h"
#include "simulation/ModelPorts.h"
#include "simulation/World.h"

namespace {

struct Run {
  zelmora::ModelSettings settings;
  zelmora::World world{settings};
  std::uint64_t seed = 12345;

  explicit Run(std::int32_t side) {
    settings.agentCount = std::to_string(side * side / 2);
    world.SetSeedSource([this]() { return seed++; });
    world.SizeGrid(side * zelmora::World::CellPitch, side * zelmora::World::CellPitch);
    world.CreateGrid();
    world.CreateAgents();
    for (int i = 0; i < 100; ++i) world.SimulationStep();
  }
};

void PerCell(benchmark::State& state, std::int32_t side) {
  state.counters["per_cell"] = benchmark::Counter(double(side) * side * double(state.iterations()),
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Measure(benchmark::State& state) {
  const auto side = static_cast<std::int32_t>(state.range(0));
  Run run(side);
  zelmora::Measurer measurer(37.5);
  for (auto _ : state) benchmark::DoNotOptimize(measurer.Measure(run.world));
  PerCell(state, side);
}

void BM_Step(benchmark::State& state) {
  const auto side = static_cast<std::int32_t>(state.range(0));
  Run run(side);
  for (auto _ : state) run.world.SimulationStep();
  PerCell(state, side);
}

void BM_StepMeasured(benchmark::State& state) {
  const auto side = static_cast<std::int32_t>(state.range(0));
  Run run(side);
  zelmora::Measurer measurer(37.5);
  for (auto _ : state) {
    run.world.SimulationStep();
    benchmark::DoNotOptimize(measurer.Measure(run.world));
  }
  PerCell(state, side);
}

BENCHMARK(BM_Measure)->Arg(40)->Arg(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Step)->Arg(40)->Arg(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StepMeasured)->Arg(40)->Arg(200)->Unit(benchmark::kMicrosecond);

}  // namespace

