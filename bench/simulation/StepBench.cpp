// SimulationStep with the do-nothing view, each figure for the fast phases and, in the same run,
// for the plain reference phases (second argument 1). "draws_per_step" counts the candidate cells
// drawn by the relocation phases in a step, the same for both paths.
//   Settled: 1000 x 1000, 50 % density, segregation on, look for centers off, after 100 steps.
//   Busy:    the first 20 steps from a new setup at the same settings, 1000 x 1000 and 200 x 200.
//   Defaults: the window's start settings (look for centers on), 40 x 40 and 200 x 200 at the
//            window's density, after 100 steps.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "simulation/ModelPorts.h"
#include "simulation/World.h"

namespace {

struct Run {
  zelmora::ModelSettings settings;
  zelmora::World world{settings};
  std::uint64_t seed = 12345;

  Run(std::int32_t side, bool plain, bool lookForCenters, const std::string& agents) {
    settings.lookForCenters = lookForCenters;  // the rest: 37.5 %, cost 100, travel 1, returns 1
    settings.agentCount = agents;
    world.UsePlainPhases(plain);
    world.SetSeedSource([this]() { return seed++; });
    world.SizeGrid(side * zelmora::World::CellPitch, side * zelmora::World::CellPitch);
    world.CreateGrid();
    world.CreateAgents();
  }
};

// A settled World takes 100 steps to make; it is made once per path and reused by repetitions.
Run& WarmRun(std::int32_t side, bool plain, bool lookForCenters, const std::string& agents) {
  static std::map<std::tuple<std::int32_t, bool, bool>, std::unique_ptr<Run>> runs;
  auto& run = runs[{side, plain, lookForCenters}];
  if (!run) {
    run = std::make_unique<Run>(side, plain, lookForCenters, agents);
    for (int i = 0; i < 100; ++i) run->world.SimulationStep();
  }
  return *run;
}

void Steps(benchmark::State& state, Run& run) {
  const std::int64_t drawnBefore = run.world.CandidatesDrawn;
  std::int64_t steps = 0;
  for (auto _ : state) {
    run.world.SimulationStep();
    ++steps;
  }
  state.counters["draws_per_step"] = double(run.world.CandidatesDrawn - drawnBefore) / double(steps);
  state.counters["moved"] = run.world.MovedCount;
}

void BM_Settled(benchmark::State& state) {
  const auto side = static_cast<std::int32_t>(state.range(0));
  Steps(state, WarmRun(side, state.range(1) != 0, false, std::to_string(side * side / 2)));
}

void BM_Defaults(benchmark::State& state) {
  const auto side = static_cast<std::int32_t>(state.range(0));
  // The window's 800 agents on 1600 cells: half the cells, as on the bigger grid.
  Steps(state, WarmRun(side, state.range(1) != 0, true, std::to_string(side * side / 2)));
}

// Each iteration times steps 1 to 20 after a new setup; the time reported is per step.
void BM_Busy(benchmark::State& state) {
  const auto side = static_cast<std::int32_t>(state.range(0));
  Run run(side, state.range(1) != 0, false, std::to_string(side * side / 2));
  constexpr int kSteps = 20;
  std::int64_t drawn = 0;
  for (auto _ : state) {
    run.world.NewSetup();
    const std::int64_t before = run.world.CandidatesDrawn;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kSteps; ++i) run.world.SimulationStep();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count() / kSteps);
    drawn += run.world.CandidatesDrawn - before;
  }
  state.counters["draws_per_step"] = double(drawn) / double(state.iterations() * kSteps);
}

BENCHMARK(BM_Settled)->Args({1000, 0})->Args({1000, 1})->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Busy)->Args({1000, 0})->Args({1000, 1})->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Busy)->Args({200, 0})->Args({200, 1})->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Defaults)->Args({40, 0})->Args({40, 1})->Args({200, 0})->Args({200, 1})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
