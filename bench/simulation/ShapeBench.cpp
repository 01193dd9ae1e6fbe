// The model's variants at 200 x 200 beside the defaults: for each, the variant's twins (fast and
// plain phases) and the defaults' fast World, from the same seeds, take the same window of steps
// in turn, timed in CPU time, each figure the mean of the window. Returns to scale 1, segregation
// on, the grids half full.
//   Busy:    steps 1-20 after a setup.
//   Settled: steps 101-120 (and later windows).
// Counters: fast_us and plain_us a step of the variant, defaults_us a step of the defaults (the
// window's shape; look for centers as the variant has it, except NoMarkets/vs_segregation_only,
// whose defaults are today's segregation-only scenario, look for centers off), to_defaults =
// fast / defaults, ratio = plain / fast, and plain_phases, the phases the variant runs plain (a
// bit each: 1 pricing, 2 segregation, 4 relocation, 8 look for centers; 0: every phase fast).
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
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
constexpr std::int32_t kSide = 200;

struct Variant {
  const char* name;
  ModelShape shape;
  bool lookForCenters = true;
  bool defaultsLookForCenters = true;
};

const Variant kVariants[] = {
    {"NoMarkets", {.markets = 0}},
    {"NoMarkets/vs_segregation_only", {.markets = 0}, true, false},
    {"OneMarket", {.markets = 1}},
    {"FiveMarkets", {.markets = 5}},
    {"Radius2", {.radius = 2}},
    {"Radius5", {.radius = 5}},
    {"Window1", {.windowHalfWidth = 1}},
    {"Window20", {.windowHalfWidth = 20}},
    {"Bounded", {.torus = false}},
    {"Anywhere", {.relocateAnywhere = true}},
    {"NoMarketsAnywhereRadius2", {.radius = 2, .markets = 0, .relocateAnywhere = true}},
};

// The phases whose accelerators do not serve the shape: they run plain (docs/DESIGN.md).
int PlainPhases(const ModelShape& shape) {
  const bool priced = shape.markets > 0;  // without markets the price phases do nothing
  return (priced && !zelmora::KeptPrices::Handles(shape)) * 1 + !zelmora::NeighbourCounts::Handles(shape) * 2 +
         !zelmora::OccupancyCopy::Handles(shape) * 4 + (priced && !zelmora::FreePrices::Handles(shape)) * 8;
}

struct Pair {
  bench::Twins variant, defaults;
  explicit Pair(const Variant& v)
      : variant(bench::Settings{kSide, 1.0, v.lookForCenters, v.shape}),
        defaults(bench::Settings{kSide, 1.0, v.defaultsLookForCenters, {}}) {}
  void Setup() {
    variant.Setup();
    defaults.Setup();
  }
};

Pair& Made(const Variant& v, bool warmed) {
  static std::map<std::pair<const Variant*, bool>, std::unique_ptr<Pair>> pairs;
  auto& p = pairs[{&v, warmed}];
  if (!p) {
    p = std::make_unique<Pair>(v);
    if (warmed) {
      p->Setup();
      p->variant.Warm(100);
      p->defaults.Warm(100);
    }
  }
  if (!warmed) p->Setup();
  return *p;
}

void Measure(benchmark::State& state, const Variant* v, bool warmed) {
  bench::Window w;
  double defaults = 0.0;
  for (auto _ : state) {
    Pair& pair = Made(*v, warmed);
    const double t = bench::CpuSeconds();
    for (int i = 0; i < kWindow; ++i) pair.defaults.Fast().SimulationStep();
    defaults = bench::CpuSeconds() - t;
    w = bench::RunWindow(pair.variant, kWindow);
    state.SetIterationTime(w.fast);
  }
  const double fast = w.fast / kWindow * 1e6;
  state.counters["fast_us"] = fast;
  state.counters["plain_us"] = w.plain / kWindow * 1e6;
  state.counters["defaults_us"] = defaults / kWindow * 1e6;
  state.counters["to_defaults"] = w.fast / defaults;
  state.counters["ratio"] = w.plain / w.fast;
  state.counters["plain_phases"] = PlainPhases(v->shape);
}

}  // namespace

int main(int argc, char** argv) {
  for (const Variant& v : kVariants) {
    for (const bool warmed : {false, true}) {
      const std::string name = std::string(warmed ? "Settled/" : "Busy/") + v.name + "/" + std::to_string(kSide);
      benchmark::RegisterBenchmark(name.c_str(), Measure, &v, warmed)
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMicrosecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
