// SimulationStep with the do-nothing view at the window's start settings, on grids of 40 x 40,
// 200 x 200 and 1000 x 1000 cells at the same 50 % density, each after the first 100 steps.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "simulation/ModelPorts.h"
#include "simulation/World.h"

namespace {

void BM_SimulationStep(benchmark::State& state) {
  const auto side = static_cast<std::int32_t>(state.range(0));
  zelmora::ModelSettings settings;  // 37.5 %, cost 100, travel 1, returns 1, both phases on
  settings.agentCount = std::to_string(side * side / 2);
  zelmora::World world(settings);
  std::uint64_t seed = 12345;
  world.SetSeedSource([&seed]() { return seed++; });
  world.SizeGrid(side * zelmora::World::CellPitch, side * zelmora::World::CellPitch);
  world.CreateGrid();
  world.CreateAgents();
  for (int i = 0; i < 100; ++i) world.SimulationStep();

  const std::int64_t triesBefore = world.CandidatesDrawn;
  std::int64_t steps = 0;
  for (auto _ : state) {
    world.SimulationStep();
    ++steps;
  }
  const double cells = double(side) * side;
  // Time per cell and step: a rate of cells per second, inverted.
  state.counters["per_cell"] = benchmark::Counter(
      cells * double(steps), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["tries_per_step"] = double(world.CandidatesDrawn - triesBefore) / double(steps);
}

BENCHMARK(BM_SimulationStep)->Arg(40)->Arg(200)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
