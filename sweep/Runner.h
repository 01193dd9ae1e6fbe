#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "batch/Options.h"
#include "sweep/Output.h"
#include "sweep/Pictures.h"
#include "sweep/Progress.h"
#include "sweep/Record.h"
#include "sweep/RunPlan.h"

namespace zelmora::batch {

struct RunResult {
  RunPlan run;
  bool complete = false;  // false: stopped between two steps, nothing of it is kept
  std::unique_ptr<StreamedFile> spool;  // the run's rows, whole; Finish puts them in the spool
  RunCharts charts;       // with --charts
  std::string started, finished;  // UTC
};

// One run of a sweep from setup to its last step: its rows streamed to a temporary beside its spool
// file (the writer puts it under its name once the run's charts are saved, so a spooled run has
// all its pictures), snapshots saved, chart samples kept. Checks `stop`
// between steps; when set, returns an incomplete result at once. Adds each step to `stepsDone`.
RunResult RunOne(const Options& options, const RunPlan& run, const OutputPaths& paths, PictureMaker* pictures,
                 const std::atomic<bool>& stop, std::atomic<std::int64_t>& stepsDone);

// Everything checked and decided before any file is created, the output claimed.
struct SweepPlan {
  Options options;
  OutputPaths paths{"out.csv"};
  std::shared_ptr<OutputLock> lock;  // held while the plan lives
  std::uint64_t masterSeed = 0;
  bool seedDrawn = false;
  std::vector<RunPlan> runs;  // this shard's, in index order
  RunLength length;           // how many rows each run has
  bool stderrIsTerminal = false;  // progress as a line rewritten in place, else as a log's lines
  Progress::Now clock = Progress::Clock::now;  // what progress and the manifest's pace read
  StartKind start = StartKind::Fresh;
  PartialScan scan;            // what of the partial file is kept, when resuming
  nlohmann::json oldManifest;  // when resuming
};

// Every run must stay where the model is meaningful: its agents fit on the grid and its delivered
// prices stay below the model's ceiling (DearestPrice). Throws UsageError naming the option.
void CheckRuns(const Options& options, const std::vector<RunPlan>& runs);

// Checks the output folder, claims the output (a second process is refused here), checks the
// outputs' state, draws or finds the master seed, expands the sweep and checks every run (agents
// that fit, prices below the model's ceiling) and, for --resume, that the build, the sweep and the
// pictures are the same. Creates nothing but the lock file. Throws UsageError.
SweepPlan PrepareSweep(const Options& options);

// Exit statuses besides 0 (done) and 2 (bad input).
inline constexpr int ExitIoError = 1;

// Runs the plan with options.jobs worker threads. Each run's rows go to its spool file as they
// are made, and into the partial file in run order; the manifest is rewritten as runs complete.
// When `stopSignal` becomes non-zero (set by a signal handler) the workers stop between steps,
// what finished is kept, and a line on `err` says how to resume; the result is then 128 + the
// signal. An I/O error is reported with its path and gives ExitIoError, with a resume hint only
// when what is kept can be resumed.
int ExecuteSweep(const SweepPlan& plan, PictureMaker* pictures, std::ostream& err,
                 const std::atomic<int>& stopSignal);

// The shell command that resumes the sweep: the command line with --resume (and the master seed
// when it was drawn), without --force; with `jobs` > 0, that many worker threads.
std::string ResumeCommand(const SweepPlan& plan, std::int32_t jobs = 0);

}  // namespace zelmora::batch
