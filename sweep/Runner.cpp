#include "sweep/Runner.h"

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <ostream>
#include <set>
#include <string_view>

#include "sweep/Build.h"
#include "sweep/Columns.h"
#include "sweep/Design.h"
#include "sweep/Manifest.h"
#include "sweep/Progress.h"
#include "sweep/Record.h"
#include "sweep/Sinks.h"
#include "sweep/WorkerPool.h"
#include "simulation/World.h"

namespace zelmora::batch {
namespace fs = std::filesystem;
namespace {

std::string Describe(const Options& options, const RunPlan& run) {
  const Parameters& p = run.parameters;
  std::string text;
  text += "run " + std::to_string(run.index) + " (production costs ";
  AppendNumber(text, p.productionCosts);
  text += ", travel expenses ";
  AppendNumber(text, p.travelExpenses);
  text += ", returns to scale ";
  AppendNumber(text, p.returnsToScale);
  text += ", " + std::to_string(p.agents) + " agents on " + std::to_string(options.cols) + "x" +
          std::to_string(options.rows) + ")";
  return text;
}

// The design's row and column that gave run `index` its `knob`, for messages; nothing when the
// design gives no such column.
std::optional<std::string> DesignCell(const Options& options, std::int64_t index, std::initializer_list<Knob> knobs) {
  if (!options.design) return std::nullopt;
  for (const SweepAxis& column : options.design->columns) {
    for (const Knob knob : knobs) {
      if (column.knob != knob) continue;
      const std::int64_t row = DesignPointOf(options, index) + 1;
      return "--design " + options.design->file + ": row " + std::to_string(row) + " (line " +
             std::to_string(row + 1) + "), column '" + column.name + "'";
    }
  }
  return std::nullopt;
}

// The option that set the run's agents, for messages.
std::string AgentsOption(const Options& options, std::int64_t index) {
  if (auto cell = DesignCell(options, index, {Knob::Agents, Knob::Density})) return *cell;
  for (const SweepAxis& axis : options.sweep) {
    if (axis.name == "agents" || axis.name == "density") return "--set " + axis.name;
  }
  return options.density ? "--density" : "--agents";
}

}  // namespace

void CheckRuns(const Options& options, const std::vector<RunPlan>& runs) {
  const std::int64_t cells = std::int64_t(options.cols) * options.rows;
  for (const RunPlan& run : runs) {
    const Parameters& p = run.parameters;
    if (p.agents > cells) {
      throw UsageError(AgentsOption(options, run.index) + ": " + std::to_string(p.agents) + " agents do not fit on the " +
                       std::to_string(options.cols) + "x" + std::to_string(options.rows) +
                       " grid; expects at most " + std::to_string(cells) + " (one per cell)");
    }
    const double dearest = DearestPrice(p, options.cols, options.rows);
    if (!(dearest < World::PriceCeiling)) {
      std::string price;
      AppendNumber(price, std::round(dearest));
      const auto cell = DesignCell(options, run.index,
                                   {Knob::ProductionCosts, Knob::TravelExpenses, Knob::ReturnsToScale, Knob::Agents,
                                    Knob::Density});
      throw UsageError(cell.value_or("--production-costs/--travel-expenses") + ": " + Describe(options, run) +
                       " could price cells at about " + price +
                       "; expects costs whose delivered prices stay below the model's ceiling 9999");
    }
  }
}

namespace {

std::string Quote(const std::string& arg) {
  bool plain = !arg.empty();
  for (char c : arg) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || std::string_view("_./=:,@%+-").find(c) != std::string_view::npos)) {
      plain = false;
    }
  }
  if (plain) return arg;
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// What a worker hands to the thread that writes.
struct Finished {
  std::size_t position = 0;  // in the shard's run order
  RunResult result;
  std::string error;  // non-empty: the worker failed (an I/O error of a snapshot, memory)
  bool outOfMemory = false;
};

// A sweep from its plan to its end: the named steps of ExecuteSweep and the state they share.
class Sweep {
 public:
  Sweep(const SweepPlan& plan, PictureMaker* pictures, std::ostream& err)
      : plan_(plan), options_(plan.options), paths_(plan.paths), pictures_(pictures), err_(err) {}

  int Execute(const std::atomic<int>& stopSignal);

 private:
  void Start();
  void TakeSpooled();
  int RunAndWrite(const std::atomic<int>& stopSignal);
  void Write(Finished& item);
  void WriteInOrder();
  void WriteManifest(bool now);
  int Finish();
  int Keep(int signal);
  int Fail(const std::string& message, bool outOfMemory);

  const SweepPlan& plan_;
  const Options& options_;
  const OutputPaths& paths_;
  PictureMaker* pictures_;
  std::ostream& err_;
  nlohmann::json manifest_;
  bool manifestOnDisk_ = false;  // a manifest of this sweep is on disk: what is kept can be resumed
  std::optional<PartialFile> partial_;
  std::size_t written_ = 0;          // runs in the partial file, in order
  std::set<std::size_t> waiting_;    // positions of whole runs in the spool, not yet written
  std::vector<std::size_t> work_;    // positions still to run
  std::chrono::steady_clock::time_point lastManifest_;
};

// The files: a fresh sweep replaces what --force allowed, then the partial file with its header,
// the spool folder and the first manifest.
void Sweep::Start() {
  const bool resume = plan_.start == StartKind::Resume;
  manifest_ = resume ? plan_.oldManifest : nlohmann::json::object();
  manifestOnDisk_ = resume;
  const std::string now = UtcNow();
  if (resume) {
    manifest_["resumed"].push_back({{"command_line", options_.commandLine}, {"at", now}});
    written_ = plan_.scan.completeRuns;
  } else {
    manifest_ = {{"program", "zelmora-batch"},
                 {"build", BuildId()},
                 {"command_line", options_.commandLine},
                 {"master_seed", plan_.masterSeed},
                 {"master_seed_drawn", plan_.seedDrawn},
                 {"jobs", options_.jobs},
                 {"started", now},
                 {"finished", nullptr},
                 {"pictures", PicturesDefinition(options_)},
                 {"sweep", SweepDefinition(options_, plan_.masterSeed, plan_.runs)},
                 {"run_times", nlohmann::json::object()}};
    std::error_code ec;
    fs::remove(paths_.csv, ec);
    fs::remove(paths_.manifest, ec);
    fs::remove_all(paths_.spool, ec);
  }
  manifest_["status"] = "running";
  manifest_["runs_in_shard"] = plan_.runs.size();
  partial_.emplace(paths_.partial, CsvHeader(), resume ? std::optional(plan_.scan.keepBytes) : std::nullopt);
  std::error_code ec;
  fs::create_directory(paths_.spool, ec);
  if (ec) throw IoError(paths_.spool, "cannot be created: " + ec.message());
  WriteManifest(true);
  manifestOnDisk_ = true;
}

// Runs an interrupted session spooled whole need not run again.
void Sweep::TakeSpooled() {
  for (std::size_t position = written_; position < plan_.runs.size(); ++position) {
    const RunPlan& run = plan_.runs[position];
    if (plan_.start == StartKind::Resume && SpooledRunIsWhole(paths_.SpoolFile(run.index), run, plan_.length)) {
      waiting_.insert(position);
    } else {
      work_.push_back(position);
    }
  }
  WriteInOrder();
}

void Sweep::WriteManifest(bool now) {
  const auto t = std::chrono::steady_clock::now();
  // Rewriting a long manifest after every run would cost more than the runs: once a second.
  if (!now && t - lastManifest_ < std::chrono::seconds(1)) return;
  lastManifest_ = t;
  manifest_["completed_runs"] = written_ + waiting_.size();
  WriteWhole(paths_.manifest, manifest_.dump(1) + "\n");
}

// Appends the spooled runs whose turn has come.
void Sweep::WriteInOrder() {
  for (auto it = waiting_.find(written_); it != waiting_.end(); it = waiting_.find(written_)) {
    const std::string spooled = paths_.SpoolFile(plan_.runs[written_].index);
    partial_->AppendFile(spooled);
    waiting_.erase(it);
    std::error_code ec;
    fs::remove(spooled, ec);
    ++written_;
  }
}

void Sweep::Write(Finished& item) {
  const RunPlan& run = item.result.run;
  if (options_.charts && pictures_) {
    pictures_->SaveCharts(item.result.charts, paths_.MarketChart(run.index), paths_.SegregationChart(run.index));
  }
  item.result.spool->Finish();
  manifest_["run_times"][std::to_string(run.index)] = {{"started", item.result.started},
                                                       {"finished", item.result.finished}};
  waiting_.insert(item.position);
  WriteInOrder();
  WriteManifest(false);
}

// The workers run; this thread writes what they finish, in order, and watches for a signal.
int Sweep::RunAndWrite(const std::atomic<int>& stopSignal) {
  std::atomic<std::int64_t> stepsDone{0};
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<Finished> finished;
  std::size_t threadsLeft = 0;
  const Progress::Kind kind = options_.quiet              ? Progress::Kind::None
                              : plan_.stderrIsTerminal ? Progress::Kind::Terminal
                                                       : Progress::Kind::Log;
  std::optional<std::int64_t> stepsToDo;
  if (!options_.untilSettled) stepsToDo = std::int64_t(work_.size()) * options_.steps;
  Progress progress(err_, kind, std::chrono::seconds(options_.progressEvery), plan_.runs.size(),
                    written_ + waiting_.size(), stepsToDo, plan_.clock);
  const std::size_t jobs = std::min<std::size_t>(std::size_t(options_.jobs), work_.size());
  threadsLeft = jobs;
  // Declared after everything its tasks read, so it is stopped and joined before they go.
  WorkerPool pool(
      jobs, work_.size(),
      [&](std::size_t k) {
        Finished item;
        item.position = work_[k];
        try {
          item.result = RunOne(options_, plan_.runs[work_[k]], paths_, pictures_, pool.Stopping(), stepsDone);
        } catch (const std::bad_alloc&) {
          item.error = "out of memory";
          item.outOfMemory = true;
        } catch (const std::exception& e) {
          item.error = e.what();
        }
        if (!item.error.empty()) pool.Stop();
        std::lock_guard lock(mutex);
        finished.push_back(std::move(item));
        ready.notify_one();
      },
      [&] {
        std::lock_guard lock(mutex);
        --threadsLeft;
        ready.notify_one();
      });

  std::optional<Finished> failure;
  int signal = 0;
  while (true) {
    std::deque<Finished> batch;
    bool done = false;
    {
      std::unique_lock lock(mutex);
      // The wait is bounded so that a signal is noticed soon even while no run finishes.
      ready.wait_for(lock, std::chrono::milliseconds(50), [&] { return !finished.empty() || threadsLeft == 0; });
      batch.swap(finished);
      done = threadsLeft == 0 && batch.empty();
    }
    for (Finished& item : batch) {
      if (!item.error.empty()) {
        if (!failure) failure = std::move(item);
      } else if (item.result.complete) {
        Write(item);
      }
    }
    if (signal == 0 && stopSignal.load() != 0) {
      signal = stopSignal.load();
      pool.Stop();
    }
    if (progress.Tick()) {
      // The manifest first: a log's line never shows more runs done than the manifest does.
      if (manifest_["completed_runs"] != written_ + waiting_.size()) WriteManifest(true);
      progress.Log(written_ + waiting_.size(), stepsDone.load());
    }
    progress.Show(written_ + waiting_.size(), stepsDone.load());
    if (done) break;
  }
  pool.Join();
  progress.Show(written_ + waiting_.size(), stepsDone.load(), true);
  // A run that failed as the signal came (its encoder stopped by the same signal) was cut short.
  if (signal == 0) signal = stopSignal.load();
  if (failure && signal == 0) return Fail(failure->error, failure->outOfMemory);
  if (written_ == plan_.runs.size()) return Finish();
  return Keep(signal != 0 ? signal : 2);
}

int Sweep::Finish() {
  partial_->Finish(paths_.csv);
  std::error_code ec;
  fs::remove_all(paths_.spool, ec);
  manifest_["status"] = "complete";
  manifest_["finished"] = UtcNow();
  WriteManifest(true);
  return 0;
}

int Sweep::Keep(int signal) {
  manifest_["status"] = "interrupted";
  WriteManifest(true);
  err_ << "zelmora-batch: interrupted; " << written_ + waiting_.size() << " of " << plan_.runs.size()
       << " runs kept (" << written_ << " in " << paths_.partial << ", " << waiting_.size() << " spooled in "
       << paths_.spool << "); to resume: " << ResumeCommand(plan_) << "\n";
  return 128 + signal;
}

// An I/O error (or a worker's failure): what is whole stays, and the sweep can be resumed if its
// manifest is on disk. Without one nothing can be resumed, so nothing is left behind.
int Sweep::Fail(const std::string& message, bool outOfMemory) {
  if (!manifestOnDisk_) {
    partial_.reset();
    std::error_code ec;
    fs::remove(paths_.partial, ec);
    fs::remove_all(paths_.spool, ec);
    err_ << "zelmora-batch: " << message << "; nothing was kept; mend the cause and run the command again\n";
    return ExitIoError;
  }
  manifest_["status"] = "failed";
  try {
    WriteManifest(true);
  } catch (const IoError&) {
    // The error reported below is the first one; the manifest on disk still describes the sweep.
  }
  const std::size_t kept = written_ + waiting_.size();
  err_ << "zelmora-batch: " << message << "; " << kept << " runs are kept in " << paths_.partial << " and "
       << paths_.spool;
  if (outOfMemory) {
    err_ << "; to resume with fewer worker threads: " << ResumeCommand(plan_, 1) << "\n";
  } else {
    err_ << "; to resume: " << ResumeCommand(plan_) << "\n";
  }
  return ExitIoError;
}

int Sweep::Execute(const std::atomic<int>& stopSignal) {
  try {
    Start();
    TakeSpooled();
    return RunAndWrite(stopSignal);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory", true);
  } catch (const std::exception& e) {
    // An I/O error, or a thread the system refused.
    return Fail(e.what(), false);
  }
}

// A resume whose design file is gone reads the design from the sweep's manifest.
void TakeDesignFromManifest(const StartPlan& start, Options& options) {
  const std::string file = options.design->file;
  const nlohmann::json design =
      start.kind == StartKind::Fresh ? nlohmann::json() : start.manifest["sweep"].value("design", nlohmann::json());
  if (!design.is_object()) {
    throw UsageError("--design: cannot read '" + file + "', and no manifest of this sweep holds it");
  }
  options.design = ParseDesign(design["file"].get<std::string>(), design["content"].get<std::string>());
  if (DesignHash(options.design->content) != design["hash"].get<std::string>()) {
    throw UsageError("--resume: the design in the manifest '" + OutputPaths(options.out).manifest +
                     "' does not match its hash; the manifest is damaged");
  }
  CheckDesignAgainst(*options.design, options, false);
}

// Whether `program` is an executable file in a folder of PATH.
bool OnSearchPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string_view folders = path ? path : "";
  while (true) {
    const std::size_t colon = folders.find(':');
    const std::string folder(folders.substr(0, colon));
    if (::access(((folder.empty() ? "." : folder) + "/" + program).c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) return false;
    folders.remove_prefix(colon + 1);
  }
}

}  // namespace

RunResult RunOne(const Options& options, const RunPlan& run, const OutputPaths& paths, PictureMaker* pictures,
                 const std::atomic<bool>& stop, std::atomic<std::int64_t>& stepsDone) {
  RunResult result;
  result.run = run;
  result.started = UtcNow();
  CsvSink csv(run, options.cols, options.rows, paths.SpoolFile(run.index));
  ChartSink charts(options.windowChart);
  std::vector<RunSink*> sinks = {&csv};
  if (options.charts) sinks.push_back(&charts);
  const EveryKth every(options.snapshotEvery, options.steps);
  std::optional<SnapshotSink> snapshots;
  if (pictures && (!options.snapshotAt.empty() || options.snapshotEvery > 0)) {
    snapshots.emplace(*pictures, paths, run.index, options.snapshotAt, every);
    sinks.push_back(&*snapshots);
  }
  std::optional<VideoSink> video;
  if (pictures && options.video != VideoFormat::None) {
    video.emplace(*pictures, paths.Video(run.index, options.video), every);
    sinks.push_back(&*video);
  }
  if (!RunModel(options, run, sinks, stop, stepsDone)) return result;
  // The video is in place before the run's rows are: a spooled run has all its pictures.
  if (video) video->Finish();
  result.spool = csv.Release();
  if (options.charts) result.charts = charts.Take();
  result.finished = UtcNow();
  result.complete = true;
  return result;
}

SweepPlan PrepareSweep(const Options& options) {
  SweepPlan plan;
  plan.stderrIsTerminal = isatty(STDERR_FILENO);
  plan.options = options;
  plan.paths = OutputPaths(options.out);
  CheckFolder("--out", plan.paths.csv);
  plan.lock = std::make_shared<OutputLock>("--out", plan.paths.lock);
  StartPlan start = CheckOutputs(options, plan.paths);
  plan.start = start.kind;
  if (options.seed) {
    plan.masterSeed = *options.seed;
  } else if (start.kind != StartKind::Fresh) {
    plan.masterSeed = start.manifest["sweep"]["master_seed"].get<std::uint64_t>();
  } else {
    plan.masterSeed = DrawMasterSeed();
    plan.seedDrawn = true;
  }
  if (options.design && options.design->fromManifest) TakeDesignFromManifest(start, plan.options);
  if (options.video != VideoFormat::None && !OnSearchPath("ffmpeg")) {
    throw UsageError("--video: the encoder ffmpeg is not found on PATH; install it (scripts/install-deps) or "
                     "leave --video off");
  }
  plan.runs = ShardRuns(plan.options, plan.masterSeed);
  CheckRuns(plan.options, plan.runs);
  plan.length = {options.steps, options.recordEvery, options.untilSettled};
  if (start.kind != StartKind::Fresh) {
    CheckSameSweep("--resume", plan.paths.manifest, start.manifest,
                   SweepDefinition(plan.options, plan.masterSeed, plan.runs), PicturesDefinition(options));
    if (start.kind == StartKind::Resume) {
      plan.scan = ScanPartial(plan.paths.partial, CsvHeader(), plan.runs, plan.length);
    }
    plan.oldManifest = std::move(start.manifest);
  }
  return plan;
}

std::string ResumeCommand(const SweepPlan& plan, std::int32_t jobs) {
  std::string command;
  const std::vector<std::string>& args = plan.options.commandLine;
  for (std::size_t k = 0; k < args.size(); ++k) {
    if (k > 0 && (args[k] == "--force" || args[k] == "--resume")) continue;
    if (jobs > 0 && args[k].rfind("--jobs=", 0) == 0) continue;
    if (jobs > 0 && args[k] == "--jobs") {
      ++k;
      continue;
    }
    if (!command.empty()) command += ' ';
    command += Quote(args[k]);
  }
  if (!plan.options.seed) command += " --seed " + std::to_string(plan.masterSeed);
  if (jobs > 0) command += " --jobs " + std::to_string(jobs);
  return command + " --resume";
}

int ExecuteSweep(const SweepPlan& plan, PictureMaker* pictures, std::ostream& err,
                 const std::atomic<int>& stopSignal) {
  if (plan.start == StartKind::Complete) {
    err << "zelmora-batch: " << plan.paths.csv << " is complete; nothing to resume\n";
    return 0;
  }
  if (plan.seedDrawn) {
    err << "zelmora-batch: master seed " << plan.masterSeed << " (drawn; --seed " << plan.masterSeed
        << " repeats this sweep)\n";
  }
  return Sweep(plan, pictures, err).Execute(stopSignal);
}

}  // namespace zelmora::batch
