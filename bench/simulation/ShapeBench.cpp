// The model's shapes at 200 x 200 and 1000 x 1000, each on its fast phases beside the plain
// ones, from the same seeds, timed in CPU time; returns to scale 1, segregation on, the grids
// half full.
//   Busy:    steps 2-21 after a setup (the first step after a setup moves nobody), look for
//            centers on.
//   Settled: 20 steps once a step moved nobody, look for centers off (it draws for every
//            satisfied agent however settled the grid is).
// Counters: fast_us and plain_us a step, ratio = plain / fast, moves a step, us_per_move = fast
// microseconds a step per move, and plain_phases, the phases the shape runs plain (a bit each: 1
// pricing, 2 segregation, 4 relocation, 8 look for centers; 0: every phase fast).
// Run a subset with --benchmark_filter, e.g. --benchmark_filter=/200$ for the small grid.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/simulation/Twins.h"
#include "simulation/CentersFast.h"
#include "simulation/OccupancyCopy.h"
#include "simulation/PricesFast.h"
#include "simulation/SegregationFast.h"

namespace {

using zelmora::ModelShape;
namespace bench = zelmora::bench;

constexpr int kWindow = 20;
constexpr int kMostWarmSteps = 400;

struct Variant {
  const char* name;
  ModelShape shape;
  double threshold = 37.5;
};

const Variant kVariants[] = {
    {"Defaults", {}},
    {"NoMarkets", {.markets = 0}},
    {"OneMarket", {.markets = 1}},
    {"FiveMarkets", {.markets = 5}},
    {"Radius2", {.radius = 2}},
    {"Radius5", {.radius = 5}},
    {"Window1", {.windowHalfWidth = 1}},
    {"Window20", {.windowHalfWidth = 20}},
    {"Bounded", {.torus = false}},
    {"Anywhere", {.relocateAnywhere = true}},
    // The classic shape's two departures from the default apart, each without markets.
    {"NoMarketsBounded", {.markets = 0, .torus = false}},
    {"NoMarketsAnywhere", {.markets = 0, .relocateAnywhere = true}},
    {"NoMarketsAnywhereRadius2", {.radius = 2, .markets = 0, .relocateAnywhere = true}},
    // The classic segregation model: no markets, a bounded grid, relocation anywhere.
    {"Classic", {.markets = 0, .torus = false, .relocateAnywhere = true}, 38.0},
};

// The phases whose accelerators do not serve the shape: they run plain (docs/DESIGN.md).
int PlainPhases(const ModelShape& shape) {
  const bool priced = shape.markets > 0;  // without markets the price phases do nothing
  return (priced && !zelmora::KeptPrices::Handles(shape)) * 1 + !zelmora::NeighbourCounts::Handles(shape) * 2 +
         !zelmora::OccupancyCopy::Handles(shape) * 4 + (priced && !zelmora::FreePrices::Handles(shape)) * 8;
}

void Measure(benchmark::State& state, const Variant* v, std::int32_t side, bool settled) {
  double fast = 0.0, plain = 0.0, moves = 0.0;
  for (auto _ : state) {
    bench::Twins twins(bench::Settings{side, 1.0, !settled, v->shape, v->threshold});
    twins.Setup();
    if (settled) {
      for (int i = 0; i < kMostWarmSteps; ++i) {
        twins.Warm(1);
        if (twins.Fast().MovesMade == 0 && i > 0) break;
      }
    } else {
      twins.Warm(1);
    }
    // Each twin takes the whole window in turn, so neither starts in caches the other filled.
    double t = bench::CpuSeconds();
    for (int i = 0; i < kWindow; ++i) {
      twins.Fast().SimulationStep();
      moves += twins.Fast().MovesMade;
    }
    fast = bench::CpuSeconds() - t;
    t = bench::CpuSeconds();
    for (int i = 0; i < kWindow; ++i) twins.Plain().SimulationStep();
    plain = bench::CpuSeconds() - t;
    state.SetIterationTime(fast / kWindow);
  }
  state.counters["fast_us"] = fast / kWindow * 1e6;
  state.counters["plain_us"] = plain / kWindow * 1e6;
  state.counters["ratio"] = plain / fast;
  state.counters["moves"] = moves / kWindow;
  state.counters["us_per_move"] = moves > 0 ? fast * 1e6 / moves : 0.0;
  state.counters["plain_phases"] = PlainPhases(v->shape);
}

}  // namespace

int main(int argc, char** argv) {
  for (const std::int32_t side : {200, 1000}) {
    for (const Variant& v : kVariants) {
      for (const bool settled : {false, true}) {
        const std::string name =
            std::string(settled ? "Settled/" : "Busy/") + v.name + "/" + std::to_string(side);
        benchmark::RegisterBenchmark(name.c_str(), Measure, &v, side, settled)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
