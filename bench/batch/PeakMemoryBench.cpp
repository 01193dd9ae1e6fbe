// The batch program's peak resident memory and rate: a short and a long run, whose memory must not
// grow with the steps, and sweeps of 10^4 and 10^6 runs of one step on 10 x 10, whose memory must
// not grow with the runs nor their cost per run, from the command line and from zelmora.sweep with
// out=. A program of its own: the kernel carries the spawning process's high-water mark over into
// the child's across exec, so the spawner must stay small (its own peak is printed beside).
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

double MiB(long kib) { return double(kib) / 1024.0; }  // ru_maxrss is in KiB

struct Usage {
  double peakMiB = 0, cpuSeconds = 0;
};

// Runs a program to its end: its peak memory and its CPU time, user and system.
Usage Spawn(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) throw std::runtime_error("spawn");
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(args[0] + " failed");
  }
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
  return {MiB(usage.ru_maxrss), seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string MakeFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zelmora-bench-XXXXXX").string();
  return ::mkdtemp(pattern.data());
}

// One 10 x 10 run of `steps` steps, charts on, every 100th step recorded.
double PeakMiB(const std::string& dir, std::int64_t steps) {
  return Spawn({ZELMORA_BATCH_PROGRAM, "--out", dir + "/rss.csv", "--grid", "10x10", "--steps", std::to_string(steps),
                "--record-every", "100", "--charts", "on", "--seed", "1", "--jobs", "1", "--quiet", "--force"})
      .peakMiB;
}

void BM_PeakMemoryAgainstSteps(benchmark::State& state) {
  const std::string dir = MakeFolder();
  double short_ = 0, long_ = 0;
  for (auto _ : state) {
    short_ = std::max(short_, PeakMiB(dir, 10'000));
    long_ = std::max(long_, PeakMiB(dir, 10'000'000));
  }
  std::filesystem::remove_all(dir);
  struct rusage self {};
  getrusage(RUSAGE_SELF, &self);
  state.counters["peak_MiB_1e4_steps"] = short_;
  state.counters["peak_MiB_1e7_steps"] = long_;
  state.counters["spawner_MiB"] = MiB(self.ru_maxrss);
}
BENCHMARK(BM_PeakMemoryAgainstSteps)->Iterations(1)->Unit(benchmark::kSecond);

// A sweep of `runs` one-step runs on 10 x 10 on two threads: its peak memory and its runs per
// second of CPU time. From the command line the CPU time is the whole process's; from Python the
// script reports the sweep's own (the interpreter's start is not the sweep's), and the peak is the
// whole interpreter's.
Usage ManyRuns(const std::string& dir, std::int64_t runs, bool python) {
  const std::string repeats = std::to_string(runs);
  if (!python) {
    const Usage usage = Spawn({ZELMORA_BATCH_PROGRAM, "--out", dir + "/many.csv", "--grid", "10x10", "--steps", "1",
                               "--repeats", repeats, "--seed", "1", "--jobs", "2", "--quiet", "--force"});
    return {usage.peakMiB, double(runs) / usage.cpuSeconds};
  }
#ifdef ZELMORA_PYTHON_EXECUTABLE
  const std::string script =
      "import sys, time, zelmora\n"
      "start = time.process_time()\n"
      "zelmora.sweep(grid=(10, 10), steps=1, repeats=" + repeats + ", seed=1, jobs=2, out=sys.argv[1], force=True)\n"
      "open(sys.argv[2], 'w').write(str(time.process_time() - start))\n";
  const std::string seconds = dir + "/seconds";
  const Usage usage = Spawn({ZELMORA_PYTHON_EXECUTABLE, "-c", script, dir + "/many.csv", seconds});
  double cpu = 0;
  std::ifstream(seconds) >> cpu;
  return {usage.peakMiB, double(runs) / cpu};
#else
  throw std::runtime_error("no Python module");
#endif
}

// The rates and peaks at 10^4 and 10^6 runs, measured in turns; the rate at 10^6 runs against the
// rate at 10^4 is the median of the rounds' ratios.
void ManyShortRuns(benchmark::State& state, bool python) {
  const std::string dir = MakeFolder();
  double smallPeak = 0, largePeak = 0;
  std::vector<double> small, large, ratios;
  for (auto _ : state) {
    const Usage a = ManyRuns(dir, 10'000, python), b = ManyRuns(dir, 1'000'000, python);
    smallPeak = std::max(smallPeak, a.peakMiB);
    largePeak = std::max(largePeak, b.peakMiB);
    small.push_back(a.cpuSeconds);
    large.push_back(b.cpuSeconds);
    ratios.push_back(b.cpuSeconds / a.cpuSeconds);
  }
  std::filesystem::remove_all(dir);
  state.counters["peak_MiB_1e4_runs"] = smallPeak;
  state.counters["peak_MiB_1e6_runs"] = largePeak;
  state.counters["runs_per_cpu_s_1e4"] = Median(small);
  state.counters["runs_per_cpu_s_1e6"] = Median(large);
  state.counters["rate_1e6_over_1e4"] = Median(ratios);
}

void BM_ManyShortRunsFromTheCommandLine(benchmark::State& state) { ManyShortRuns(state, false); }
BENCHMARK(BM_ManyShortRunsFromTheCommandLine)->Iterations(3)->Unit(benchmark::kSecond);

#ifdef ZELMORA_PYTHON_EXECUTABLE
void BM_ManyShortRunsFromPython(benchmark::State& state) { ManyShortRuns(state, true); }
BENCHMARK(BM_ManyShortRunsFromPython)->Iterations(3)->Unit(benchmark::kSecond);
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef ZELMORA_PYTHONPATH
  setenv("PYTHONPATH", ZELMORA_PYTHONPATH, 1);
#endif
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
