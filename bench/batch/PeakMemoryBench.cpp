// The batch program's peak resident memory for a short and a long run, which must not grow with
// the steps. A program of its own: the kernel carries the spawning process's high-water mark over
// into the child's across exec, so the spawner must stay small (its own peak is printed beside).
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

double MiB(long kib) { return double(kib) / 1024.0; }  // ru_maxrss is in KiB

// One 10 x 10 run of `steps` steps, charts on, every 100th step recorded.
double PeakMiB(const std::string& dir, std::int64_t steps) {
  const std::string out = dir + "/rss.csv";
  std::vector<std::string> args = {ZELMORA_BATCH_PROGRAM, "--out", out, "--grid", "10x10", "--steps",
                                   std::to_string(steps), "--record-every", "100", "--charts", "on", "--seed", "1",
                                   "--jobs", "1", "--quiet", "--force"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) throw std::runtime_error("spawn");
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("the program failed");
  }
  return MiB(usage.ru_maxrss);
}

void BM_PeakMemoryAgainstSteps(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "zelmora-bench-XXXXXX").string();
  const std::string dir = ::mkdtemp(pattern.data());
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

}  // namespace

BENCHMARK_MAIN();
