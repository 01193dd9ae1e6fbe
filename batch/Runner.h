#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "batch/Options.h"
#include "batch/Output.h"
#include "batch/Sweep.h"

namespace zelmora {
class World;
}

namespace zelmora::batch {

// The yellow market after one step: the chart's two series.
struct MarketPoint {
  double customers = 0;
  double bidPrice = 0;
};

// The segregation measures at a recorded step.
struct SegregationPoint {
  std::int32_t step = 0;
  double percentSimilar = std::numeric_limits<double>::quiet_NaN();
  double meanClusterSize = std::numeric_limits<double>::quiet_NaN();
  double unsatisfiedShare = std::numeric_limits<double>::quiet_NaN();  // 0..1, NaN without agents
};

struct RunResult {
  RunPlan run;
  bool complete = false;  // false: stopped between two steps, nothing of it is kept
  std::string rows;       // the run's CSV rows, line ends included
  std::vector<MarketPoint> market;            // after steps 1, 2, 3, ... (with --charts on)
  std::vector<SegregationPoint> segregation;  // at the recorded steps
  std::string started, finished;              // UTC
};

// The pictures, drawn by the shared drawing code; the program supplies them, the tests and
// benchmarks may pass none.
class PictureMaker {
 public:
  virtual ~PictureMaker() = default;
  // Called on a worker thread with the run's World after the step. Throws IoError.
  virtual void SaveSnapshot(const World& world, const std::string& path) = 0;
  // Called on the thread that runs the sweep, once per complete run. Throws IoError.
  virtual void SaveCharts(const RunResult& result, const std::string& marketPath,
                          const std::string& segregationPath) = 0;
};

// One run from setup to its last step. Checks `stop` between steps; when set, returns an
// incomplete result at once. Adds each step to `stepsDone`.
RunResult RunOne(const Options& options, const RunPlan& run, const OutputPaths& paths, PictureMaker* pictures,
                 const std::atomic<bool>& stop, std::atomic<std::int64_t>& stepsDone);

// Everything checked and decided before any file is created.
struct SweepPlan {
  Options options;
  OutputPaths paths{"out.csv"};
  std::uint64_t masterSeed = 0;
  bool seedDrawn = false;
  std::vector<RunPlan> runs;  // this shard's, in index order
  std::size_t rowsPerRun = 0;
  StartKind start = StartKind::Fresh;
  PartialScan scan;            // what of the partial file is kept, when resuming
  nlohmann::json oldManifest;  // when resuming
};

// Checks the outputs, draws or finds the master seed, expands the sweep and checks every run
// (agents that fit, prices below the model's ceiling) and, for --resume, that the options give
// the same sweep. Creates and changes nothing. Throws UsageError.
SweepPlan PrepareSweep(const Options& options);

// Exit statuses besides 0 (done) and 2 (bad input).
inline constexpr int ExitIoError = 1;

// Runs the plan with options.jobs worker threads. Rows go to the partial file in run order, runs
// that finish ahead of an earlier one to the spool; the manifest is rewritten as runs complete.
// When `stopSignal` becomes non-zero (set by a signal handler) the workers stop between steps,
// what finished is kept, and a line on `err` says how to resume; the result is then 128 + the
// signal. An I/O error is reported with its path and gives ExitIoError.
int ExecuteSweep(const SweepPlan& plan, PictureMaker* pictures, std::ostream& err,
                 const std::atomic<int>& stopSignal);

// The shell command that resumes the sweep: the command line with --resume (and the master seed
// when it was drawn), without --force.
std::string ResumeCommand(const SweepPlan& plan);

}  // namespace zelmora::batch
