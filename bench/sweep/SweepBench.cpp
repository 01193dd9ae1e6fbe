// The sweep library's costs: what the sweep machinery (request, worker, rows, journal, manifest)
// adds to the runs it makes, a sweep on one and on two worker threads (the speed-up, in the same
// run), recording every step against the step itself, and one run on a 1000 x 1000 grid.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "sweep/Columns.h"
#include "sweep/Record.h"
#include "sweep/Run.h"
#include "sweep/Runner.h"
#include "simulation/Measures.h"
#include "simulation/ModelPorts.h"
#include "simulation/World.h"

namespace {

using namespace zelmora;
using namespace zelmora::sweep;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// 16 runs of 500 steps at the defaults, every step recorded, no pictures.
double SweepSeconds(const std::string& dir, int jobs) {
  Request o;
  o.seed = 1;
  o.repeats = 16;
  o.jobs = jobs;
  o.quiet = true;
  o.force = true;
  o.out = dir + "/sweep" + std::to_string(jobs) + ".csv";
  std::atomic<int> noSignal{0};
  std::ostringstream err;
  const auto start = Clock::now();
  if (ExecuteSweep(PrepareSweep(o), nullptr, err, noSignal) != 0) throw std::runtime_error(err.str());
  return Seconds(Clock::now() - start);
}

void BM_SweepSpeedup(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "zelmora-bench-XXXXXX").string();
  const std::string dir = ::mkdtemp(pattern.data());
  double one = 0, two = 0;
  for (auto _ : state) {
    one += SweepSeconds(dir, 1);
    two += SweepSeconds(dir, 2);
  }
  std::filesystem::remove_all(dir);
  state.counters["jobs1_s"] = one / double(state.iterations());
  state.counters["jobs2_s"] = two / double(state.iterations());
  state.counters["speedup"] = one / two;
}
BENCHMARK(BM_SweepSpeedup)->Iterations(1)->Unit(benchmark::kSecond);

double ProcessSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// 100 runs of 40 x 40 for 1000 steps, every 100th recorded, on one worker: the sweep's CPU time (its
// worker and the thread that writes, the whole process) against the same runs' setups, steps and
// measures made in a plain loop, in turns, each side first every other round. What the sweep adds
// is the median of the rounds' ratios.
void BM_SweepOverhead(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "zelmora-bench-XXXXXX").string();
  const std::string dir = ::mkdtemp(pattern.data());
  Request request;
  request.steps = 1000;
  request.recordEvery = 100;
  request.repeats = 100;
  request.seed = 1;
  request.jobs = 1;
  request.quiet = request.force = true;
  request.out = dir + "/overhead.csv";
  const auto swept = [&] {
    std::atomic<int> noSignal{0};
    std::ostringstream err;
    if (ExecuteSweep(PrepareSweep(request), nullptr, err, noSignal) != 0) throw std::runtime_error(err.str());
  };
  const auto bare = [&] {
    for (std::int64_t k = 0; k < request.repeats; ++k) {
      RunWorld model(RunAt(request, 1, k));
      Measurer measurer(model.settings.thresholdPercent);
      benchmark::DoNotOptimize(measurer.Measure(model.world));
      for (std::int32_t step = 1; step <= request.steps; ++step) {
        model.world.SimulationStep();
        if (IsRecorded(step, request.steps, request.recordEvery)) benchmark::DoNotOptimize(measurer.Measure(model.world));
      }
    }
  };
  std::vector<double> sweepSeconds, bareSeconds, ratios;
  for (auto _ : state) {
    double times[2];
    for (int k = 0; k < 2; ++k) {
      const bool sweepTurn = (k == 0) == (sweepSeconds.size() % 2 == 0);
      const double start = ProcessSeconds();
      sweepTurn ? swept() : bare();
      times[sweepTurn ? 0 : 1] = ProcessSeconds() - start;
    }
    sweepSeconds.push_back(times[0]);
    bareSeconds.push_back(times[1]);
    ratios.push_back(times[0] / times[1]);
  }
  std::filesystem::remove_all(dir);
  state.counters["sweep_s"] = Median(sweepSeconds);
  state.counters["runs_alone_s"] = Median(bareSeconds);
  state.counters["added_percent"] = (Median(ratios) - 1) * 100;
}
BENCHMARK(BM_SweepOverhead)->Iterations(5)->Unit(benchmark::kSecond);

struct Run {
  ModelSettings settings;
  World world{settings};
  RunPlan runPlan;

  explicit Run(std::int32_t side) {
    ParameterSet given;
    given.Set(ParameterIndex("grid_cols"), side);
    given.Set(ParameterIndex("grid_rows"), side);
    runPlan.seed = 12345;
    runPlan.parameters = Resolve(given);
    settings.agentCount = std::to_string(std::int64_t(runPlan.parameters[ParameterIndex("agents")]));
    world.SetSeedSource(SeedStream(runPlan.seed));
    world.SizeGrid(side * World::CellPitch, side * World::CellPitch);
    world.CreateGrid();
    world.CreateAgents();
  }
};

// In one run: each step alone, then the recording of that step (measures and the CSV row).
void BM_RecordingCost(benchmark::State& state) {
  Run run(std::int32_t(state.range(0)));
  for (int k = 0; k < 100; ++k) run.world.SimulationStep();
  Measurer measurer(run.settings.thresholdPercent);
  RowWriter writer(run.runPlan);
  std::string rows;
  Clock::duration step{}, measure{}, row{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    run.world.SimulationStep();
    const auto t1 = Clock::now();
    const StepMeasures measures = measurer.Measure(run.world);
    const auto t2 = Clock::now();
    writer.Append(rows, run.world, measures);
    const auto t3 = Clock::now();
    step += t1 - t0;
    measure += t2 - t1;
    row += t3 - t2;
    if (rows.size() > (1u << 20)) rows.clear();
  }
  const double n = double(state.iterations());
  state.counters["step_us"] = Seconds(step) / n * 1e6;
  state.counters["measure_us"] = Seconds(measure) / n * 1e6;
  state.counters["row_us"] = Seconds(row) / n * 1e6;
  state.counters["recorded_over_step"] = Seconds(step + measure + row) / Seconds(step);
}
BENCHMARK(BM_RecordingCost)->Arg(40)->Arg(200)->Unit(benchmark::kMicrosecond);

// In one run: each step alone, then the means' part of it (--means on: the per-step columns added
// to their sums), which must stay a few additions next to the step.
void BM_MeansCost(benchmark::State& state) {
  Run run(std::int32_t(state.range(0)));
  for (int k = 0; k < 100; ++k) run.world.SimulationStep();
  StepMeans means;
  Clock::duration step{}, add{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    run.world.SimulationStep();
    const auto t1 = Clock::now();
    means.Add(run.world);
    const auto t2 = Clock::now();
    step += t1 - t0;
    add += t2 - t1;
  }
  benchmark::DoNotOptimize(means.Mean(0));
  const double n = double(state.iterations());
  state.counters["step_us"] = Seconds(step) / n * 1e6;
  state.counters["means_ns"] = Seconds(add) / n * 1e9;
  state.counters["means_over_step_percent"] = Seconds(add) / Seconds(step) * 100;
}
BENCHMARK(BM_MeansCost)->Arg(40)->Arg(200)->Unit(benchmark::kMicrosecond);

// One run on 1000 x 1000 cells with 500,000 agents, every step recorded.
void BM_BigRun(benchmark::State& state) {
  Run run(1000);
  Measurer measurer(run.settings.thresholdPercent);
  RowWriter writer(run.runPlan);
  std::string rows;
  for (auto _ : state) {
    run.world.SimulationStep();
    writer.Append(rows, run.world, measurer.Measure(run.world));
  }
  state.counters["steps_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BigRun)->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
