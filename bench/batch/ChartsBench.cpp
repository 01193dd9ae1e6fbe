// The charts' cost: one run at the defaults (40 x 40, 800 agents, 500 steps, every step recorded)
// without charts, then the same run with its market and segregation charts drawn and saved, in
// turns within one process. CPU time of the calling thread, which runs both and draws.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QtGlobal>

#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "render/RenderPictures.h"
#include "sweep/Runner.h"

namespace {

using namespace zelmora::sweep;
using zelmora::RenderPictures;

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void BM_ChartsOverRun(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "zelmora-charts-XXXXXX").string();
  const std::string dir = ::mkdtemp(pattern.data());
  Request options;
  options.out = dir + "/c.csv";
  const OutputPaths paths(options.out);
  std::filesystem::create_directories(paths.spool);  // where a run streams its rows
  const RunPlan run = RunAt(options, 1, 0);
  RenderPictures pictures;
  const std::atomic<bool> stop{false};
  std::atomic<std::int64_t> steps{0};
  double plain = 0, charted = 0;
  for (auto _ : state) {
    options.pictures.charts = false;
    double t = ThreadSeconds();
    benchmark::DoNotOptimize(RunOne(options, run, paths, nullptr, stop, steps));
    plain += ThreadSeconds() - t;
    options.pictures.charts = true;
    t = ThreadSeconds();
    const RunResult result = RunOne(options, run, paths, &pictures, stop, steps);
    pictures.SaveCharts(*result.charts, paths.MarketChart(0), paths.SegregationChart(0));
    charted += ThreadSeconds() - t;
  }
  std::filesystem::remove_all(dir);
  const double n = double(state.iterations());
  state.counters["run_ms"] = plain / n * 1e3;
  state.counters["with_charts_ms"] = charted / n * 1e3;
  state.counters["ratio"] = charted / plain;
}
BENCHMARK(BM_ChartsOverRun)->Iterations(40)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
