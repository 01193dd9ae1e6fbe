#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "sweep/Manifest.h"
#include "sweep/Output.h"
#include "sweep/Pictures.h"
#include "sweep/Progress.h"
#include "sweep/Record.h"
#include "sweep/Request.h"
#include "sweep/Sinks.h"
#include "sweep/WorkerPool.h"

namespace zelmora::sweep {

struct RunResult {
  RunPlan run;
  bool complete = false;  // false: stopped between two steps, nothing of it is kept
  RunRows rows;           // whole: in memory, or in a file the writer puts in the spool
  std::optional<RunCharts> charts;  // with charts: their memory is made only for runs that draw them
  std::string started, finished;  // UTC
  std::int32_t steps = 0;          // the steps it made
};

// One run of a sweep from setup to its last step: its rows kept in memory while few, else streamed
// to a temporary beside its spool file (put under its name by the writer once the run's charts are
// saved, so a spooled run has all its pictures), snapshots saved, chart samples kept. Checks
// `stop` between steps; when set, returns an incomplete result at once. Adds each step to
// `stepsDone`. The request's own measures, if it names any, come from `measures`.
RunResult RunOne(const Request& request, const RunPlan& run, const OutputPaths& paths, PictureMaker* pictures,
                 const std::atomic<bool>& stop, std::atomic<std::int64_t>& stepsDone,
                 MeasureMaker* measures = nullptr);

// How far a running sweep is, for a front end that shows its own progress.
struct SweepCounters {
  std::atomic<std::int64_t> runsDone{0};
  std::atomic<std::int64_t> stepsDone{0};
};

// Everything checked and decided before any file is created, the output claimed.
struct SweepPlan {
  Request request;
  OutputPaths paths{"out.csv"};
  std::shared_ptr<OutputLock> lock;  // held while the plan lives
  std::uint64_t masterSeed = 0;
  bool seedDrawn = false;
  std::int64_t runs = 0;      // this shard's
  RunLength length;           // how many rows each run has
  bool stderrIsTerminal = false;  // progress as a line rewritten in place, else as a log's lines
  Progress::Now clock = Progress::Clock::now;  // what progress and the writer's pace read
  // Partial: a resume (of a sweep begun, its partial file there or not); Complete: nothing to do.
  OutputState start = OutputState::Nothing;
  nlohmann::json oldHeader;   // the manifest's header, when resuming
  std::string program = "zelmora-batch";  // who writes the manifest
  // The command that resumes the sweep, with `jobs` threads (0: as before), in the front end's terms.
  std::function<std::string(const SweepPlan&, std::int32_t jobs)> resumeHint;
  // A request field in the front end's terms ("seed" as --seed).
  std::function<std::string(const std::string& field)> fieldName = [](const std::string& field) { return field; };
  std::shared_ptr<SweepCounters> counters = std::make_shared<SweepCounters>();
  WorkerPool::Starter startThread;  // how worker threads are started (tests refuse them)
  MeasureMaker* measures = nullptr;  // the values of request.measures: needed when it names any

  // The shard's k-th run.
  RunPlan Run(std::int64_t k) const { return RunAt(request, masterSeed, ShardRun(request, k)); }
};

// Checks the request (Validate) and the output's folder, claims the output (a second process is
// refused here), removes what a killed process left of it, checks the output's state (a sweep
// there is resumed only with `resume`, replaced only with `force`, and named by its first
// difference from the request otherwise), draws or finds the master seed and, to resume, reads the
// manifest and checks that the build, the sweep, the shard and the pictures are the same (a design
// whose file is gone is taken from it). Creates nothing but the lock file. Throws RequestError.
SweepPlan PrepareSweep(const Request& request);

// Exit statuses besides 0 (done) and 2 (bad input).
inline constexpr int ExitIoError = 1;

// Runs the plan with request.jobs worker threads. A short run's rows go to the CSV from memory, a
// long one's through its spool file, in run order, each with a line in the manifest's journal;
// the manifest's header is written when the sweep starts and when it ends. When `stopSignal`
// becomes non-zero (set by a signal handler) the workers stop between steps, what finished is
// kept, and a line on `err` says how to resume; the result is then 128 + the signal. An I/O error
// is reported with its path and gives ExitIoError, with a resume hint only when what is kept can be
// resumed.
int ExecuteSweep(const SweepPlan& plan, PictureMaker* pictures, std::ostream& err, const std::atomic<int>& stopSignal);

}  // namespace zelmora::sweep
