// SimulationStep with the do-nothing view, fast phases against the plain references: twin Worlds
// from the same seeds in one process, each taking the same window of steps in turn (the fast
// twin first), timed in CPU time, each figure the mean of the window. Every scenario runs at returns to scale 1, 1.1 and 0.9;
// segregation is on, the grids half full.
//   FirstStep:       step 1 after a new setup, 1000 x 1000 (every cell priced and evaluated).
//   Busy:            steps 2-21 after a setup at 1000 x 1000, steps 1-20 at 200 x 200; look for
//                    centers off.
//   Settled:         steps 101-120 (and later windows), 1000 x 1000, look for centers off.
//   Defaults:        steps 101-120, the window's settings (look for centers on), 40 x 40 and
//                    200 x 200.
//   SegregationOnly: steps 1-20 after a setup, look for centers off, 40 x 40 and 200 x 200: the
//                    segregation model alone.
// Counters: fast_us and plain_us a step, ratio = plain / fast, draws = candidate cells drawn a
// step, changed = cells and agents changed a step, try_ns = one try of LookForCenters in a tight
// loop and line_ns = one cache line written at random in an array the size of the grid's cells
// (both measured by this program, in this run), floor_us = draws times one try plus changed times
// one line, to_floor = fast / floor. Every setup draws seeds of its own.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <tuple>

#include "bench/simulation/Twins.h"

namespace {

using zelmora::bench::Report;
using zelmora::bench::RunWindow;
using zelmora::bench::Settings;
using zelmora::bench::Twins;
using zelmora::bench::Window;

constexpr int kWindow = 20;

// Twins that have taken their first 100 steps; made once per setting, every repetition then
// times the next window.
Twins& Warmed(const Settings& s) {
  static std::map<std::tuple<std::int32_t, double, bool>, std::unique_ptr<Twins>> twins;
  auto& t = twins[{s.side, s.returns, s.lookForCenters}];
  if (!t) {
    t = std::make_unique<Twins>(s);
    t->Setup();
    t->Warm(100);
  }
  return *t;
}

// Twins made once per setting, set up afresh by every repetition.
Twins& Fresh(const Settings& s) {
  static std::map<std::tuple<std::int32_t, double, bool>, std::unique_ptr<Twins>> twins;
  auto& t = twins[{s.side, s.returns, s.lookForCenters}];
  if (!t) t = std::make_unique<Twins>(s);
  t->Setup();
  return *t;
}

void Measure(benchmark::State& state, Twins& twins, int skip, int steps) {
  Window w;
  for (auto _ : state) {
    for (int i = 0; i < skip; ++i) {
      twins.Fast().SimulationStep();
      twins.Plain().SimulationStep();
    }
    w = RunWindow(twins, steps);
    state.SetIterationTime(w.fast);
  }
  Report(state, w, twins.Of().side);
}

void FirstStep(benchmark::State& state, Settings s) { Measure(state, Fresh(s), 0, 1); }
void Busy(benchmark::State& state, Settings s) { Measure(state, Fresh(s), s.side == 1000 ? 1 : 0, kWindow); }
void Settled(benchmark::State& state, Settings s) { Measure(state, Warmed(s), 0, kWindow); }

void Register() {
  for (const double returns : {1.0, 1.1, 0.9}) {
    const auto add = [&](const char* what, void (*f)(benchmark::State&, Settings), std::int32_t side, bool centers) {
      const Settings s{side, returns, centers, {}};
      benchmark::RegisterBenchmark(zelmora::bench::Name(what, s).c_str(), f, s)
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMicrosecond);
    };
    add("FirstStep", FirstStep, 1000, false);
    add("Busy", Busy, 1000, false);
    add("Busy", Busy, 200, false);
    add("Settled", Settled, 1000, false);
    add("Defaults", Settled, 40, true);
    add("Defaults", Settled, 200, true);
    add("SegregationOnly", Busy, 40, false);
    add("SegregationOnly", Busy, 200, false);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
