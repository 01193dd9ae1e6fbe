#include "sweep/Runner.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <ostream>
#include <set>
#include <string_view>

#include "sweep/Columns.h"
#include "sweep/Design.h"
#include "sweep/Record.h"
#include "sweep/Sinks.h"
#include "sweep/WorkerPool.h"
#include "simulation/World.h"

namespace zelmora::sweep {
namespace fs = std::filesystem;
namespace {

using Source = RequestError::Source;

// What a worker hands to the thread that writes.
struct Finished {
  std::int64_t position = 0;  // in the shard's run order
  RunResult result;
  std::string error;  // non-empty: the worker failed (an I/O error of a snapshot, memory)
  bool outOfMemory = false;
};

// A whole run whose turn in the CSV has not come: its rows in memory, or in its spool file.
struct Waiting {
  std::int64_t index = 0;
  std::uint64_t seed = 0;
  std::string rows;
  bool spooled = false;
  std::string started, finished;  // empty for a run an earlier session made
};

// Rows bound for the CSV go to it in pieces of about this size, or after this long: a sweep of many
// short runs writes a few large pieces instead of a small one per run, a slow one each run soon.
constexpr std::size_t FlushBytes = std::size_t(1) << 20;
constexpr auto FlushPace = std::chrono::milliseconds(50);
// Finished runs waiting for an earlier one are held in memory up to this much, then spooled.
constexpr std::size_t WaitingBytes = std::size_t(64) << 20;

// A sweep from its plan to its end: the named steps of ExecuteSweep and the state they share.
class Session {
 public:
  Session(const SweepPlan& plan, PictureMaker* pictures, std::ostream& err)
      : plan_(plan), request_(plan.request), paths_(plan.paths), pictures_(pictures), err_(err) {}

  int Execute(const std::atomic<int>& stopSignal);

 private:
  void Start();
  void FindSpooled();
  int RunAndWrite(const std::atomic<int>& stopSignal);
  void Write(Finished& item);
  void WriteInOrder();
  void Flush();
  void Spill();
  void WriteHeader(const std::string& status);
  int Finish();
  int Keep(int signal);
  int Fail(const std::string& message, bool fewerThreads);
  std::int64_t Done() const { return written_ + std::int64_t(waiting_.size()); }
  std::string Hint(std::int32_t jobs) const {
    return plan_.resumeHint ? plan_.resumeHint(plan_, jobs) : "run the sweep again with resume";
  }

  const SweepPlan& plan_;
  const Request& request_;
  const OutputPaths& paths_;
  PictureMaker* pictures_;
  std::ostream& err_;
  nlohmann::json header_;
  bool headerOnDisk_ = false;  // a manifest of this sweep is on disk: what is kept can be resumed
  std::optional<PartialFile> partial_, journal_;
  std::int64_t written_ = 0;   // runs taken in order: in the CSV, or in the piece bound for it
  std::int64_t flushed_ = 0;   // runs in the CSV on disk
  std::string rows_, lines_;   // the piece bound for the CSV, and its runs' journal lines
  std::map<std::int64_t, Waiting> waiting_;  // by position
  std::size_t waitingBytes_ = 0;
  std::set<std::int64_t> spooled_;  // whole runs an earlier session spooled: not run again
  Progress::Clock::time_point lastFlush_;
};

// The files: a fresh sweep replaces what `force` allowed, then the partial file with its header,
// the journal, the spool folder and the manifest's header. A resume goes on from what is kept.
void Session::Start() {
  const bool resume = plan_.start == OutputState::Partial;
  std::error_code ec;
  if (resume) {
    // This sweep's manifest is on disk: whatever fails from here on, what is kept stays.
    headerOnDisk_ = true;
    header_ = plan_.oldHeader;
    header_["resumed"].push_back({{"command_line", CommandLineJson(request_.commandLine)}, {"at", UtcNow()}});
    // The request's, whatever a damaged header says.
    header_["master_seed"] = plan_.masterSeed;
    header_["runs_in_shard"] = plan_.runs;
    PartialScan scan;
    if (fs::exists(fs::symlink_status(paths_.partial, ec))) {
      scan = ScanPartial(paths_.partial, CsvHeader(request_.means, request_.measures), [this](std::int64_t k) { return plan_.Run(k); },
                         plan_.runs, plan_.length);
    }
    written_ = flushed_ = scan.completeRuns;
    // A link planted where the spool goes is never followed: it goes, and the runs are made again.
    if (fs::is_symlink(fs::symlink_status(paths_.spool, ec))) fs::remove(paths_.spool, ec);
    FindSpooled();
    partial_.emplace(paths_.partial, CsvHeader(request_.means, request_.measures), scan.keepBytes);
    const MendedJournal mended = MendJournal(paths_.journal, written_, [this](std::int64_t k) { return plan_.Run(k); });
    if (mended.rewritten > 0) {
      err_ << plan_.program << ": " << paths_.journal << ": " << mended.firstFault << "; " << mended.rewritten
           << (mended.rewritten == 1 ? " line" : " lines") << " rewritten from the CSV, without times\n";
    }
    journal_.emplace(paths_.journal, "", mended.size);
  } else {
    header_ = NewManifest(request_, plan_.masterSeed, plan_.seedDrawn, plan_.program,
                          fs::path(paths_.journal).filename().string());
    for (const std::string& path : {paths_.csv, paths_.manifest, paths_.journal}) fs::remove(path, ec);
    fs::remove_all(paths_.spool, ec);  // a link there goes, not what it points to
    partial_.emplace(paths_.partial, CsvHeader(request_.means, request_.measures), std::nullopt);
    journal_.emplace(paths_.journal, "", std::nullopt);
  }
  fs::create_directory(paths_.spool, ec);
  if (ec) throw IoError(paths_.spool, "cannot be created: " + ec.message());
  WriteHeader("running");
  headerOnDisk_ = true;
  lastFlush_ = plan_.clock();
}

// Runs an interrupted session spooled whole need not run again: found by listing the spool, so a
// resume costs what is there, not what the sweep holds. The spool is this program's own folder: a
// link or anything but a file at a run's name is damage, removed (not what a link points to), and
// that run is made again.
void Session::FindSpooled() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(paths_.spool, ec)) {
    const std::string name = entry.path().filename().string();
    std::int64_t index = -1;
    if (name.rfind("run", 0) != 0 || name.size() < 8 || name.substr(name.size() - 4) != ".csv") continue;
    try {
      index = std::stoll(name.substr(3, name.size() - 7));
    } catch (const std::exception&) {
      continue;
    }
    if (name != "run" + std::to_string(index) + ".csv") continue;
    std::error_code statusError;
    if (!fs::is_regular_file(entry.symlink_status(statusError))) {
      fs::remove_all(entry.path(), statusError);
      continue;
    }
    const auto found = ShardPosition(request_, index);
    if (!found || *found < written_ || *found >= plan_.runs) continue;
    const std::int64_t position = *found;
    const RunPlan run = plan_.Run(position);
    if (!SpooledRunIsWhole(paths_.SpoolFile(index), run, plan_.length)) continue;
    waiting_[position] = {run.index, run.seed, {}, true, {}, {}};
    spooled_.insert(position);
  }
}

void Session::WriteHeader(const std::string& status) {
  header_["status"] = status;
  std::string text = header_.dump(1);  // appended to, not copied: it may hold a design's points
  text += '\n';
  WriteWhole(paths_.manifest, text);
}

// Puts the piece bound for the CSV there, then its runs' lines in the journal: the journal never
// names a run the CSV lacks.
void Session::Flush() {
  lastFlush_ = plan_.clock();
  if (rows_.empty() && lines_.empty()) return;
  partial_->Append(rows_);
  rows_.clear();
  journal_->Append(lines_);
  lines_.clear();
  flushed_ = written_;
  plan_.counters->runsDone = Done();
}

// Finished runs held in memory go to the spool, so that a session that ends keeps them.
void Session::Spill() {
  for (auto& [position, run] : waiting_) {
    if (run.spooled) continue;
    WriteWhole(paths_.SpoolFile(run.index), run.rows);
    run.spooled = true;
    waitingBytes_ -= run.rows.size();
    run.rows = {};
  }
}

// Takes the finished runs whose turn has come.
void Session::WriteInOrder() {
  for (auto it = waiting_.find(written_); it != waiting_.end(); it = waiting_.find(written_)) {
    Waiting& run = it->second;
    if (run.spooled) {
      Flush();
      const std::string spooled = paths_.SpoolFile(run.index);
      partial_->AppendFile(spooled);
      std::error_code ec;
      fs::remove(spooled, ec);
    } else {
      rows_ += run.rows;
      waitingBytes_ -= run.rows.size();
    }
    lines_ += JournalLine({run.index, run.seed, {}}, run.started, run.finished);
    const bool spooled = run.spooled;
    waiting_.erase(it);
    ++written_;
    if (spooled || rows_.size() >= FlushBytes) Flush();
  }
}

void Session::Write(Finished& item) {
  const RunPlan& run = item.result.run;
  if (item.result.charts && pictures_) {
    pictures_->SaveCharts(*item.result.charts, paths_.MarketChart(run.index), paths_.SegregationChart(run.index));
  }
  Waiting waiting{run.index, run.seed, {}, false, item.result.started, item.result.finished};
  if (item.result.rows.file) {
    item.result.rows.file->Finish();
    waiting.spooled = true;
  } else if (item.position != written_ && waitingBytes_ + item.result.rows.text.size() > WaitingBytes) {
    WriteWhole(paths_.SpoolFile(run.index), item.result.rows.text);
    waiting.spooled = true;
  } else {
    waiting.rows = std::move(item.result.rows.text);
    waitingBytes_ += waiting.rows.size();
  }
  waiting_[item.position] = std::move(waiting);
  WriteInOrder();
}

// The workers run; this thread writes what they finish, in order, and watches for a signal.
int Session::RunAndWrite(const std::atomic<int>& stopSignal) {
  SweepCounters& counters = *plan_.counters;
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<Finished> finished;
  const std::int64_t first = written_;
  const std::int64_t tasks = plan_.runs - first;
  const Progress::Kind kind = request_.quiet              ? Progress::Kind::None
                              : plan_.stderrIsTerminal ? Progress::Kind::Terminal
                                                       : Progress::Kind::Log;
  std::optional<std::int64_t> stepsToDo;
  if (request_.quietSteps == 0) stepsToDo = (tasks - std::int64_t(spooled_.size())) * request_.steps;
  Progress progress(err_, kind, std::chrono::seconds(request_.progressEvery), std::size_t(plan_.runs),
                    std::size_t(Done()), stepsToDo, plan_.clock, request_.steps);
  const std::size_t jobs = std::size_t(std::min<std::int64_t>(request_.jobs, std::max<std::int64_t>(tasks, 0)));
  std::size_t threadsLeft = jobs;
  // Declared after everything its tasks read, so it is stopped and joined before they go.
  WorkerPool pool(
      jobs, std::size_t(std::max<std::int64_t>(tasks, 0)),
      [&](std::size_t k) {
        Finished item;
        item.position = first + std::int64_t(k);
        if (spooled_.count(item.position)) return;
        try {
          item.result = RunOne(request_, plan_.Run(item.position), paths_, pictures_, pool.Stopping(),
                               counters.stepsDone, plan_.measures);
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
        if (plan_.measures) plan_.measures->ThreadEnded();
        std::lock_guard lock(mutex);
        --threadsLeft;
        ready.notify_one();
      },
      plan_.startThread);
  if (pool.Threads() < jobs) {
    {
      std::lock_guard lock(mutex);
      threadsLeft -= jobs - pool.Threads();
    }
    err_ << plan_.program << ": only " << pool.Threads() << " of " << jobs << " worker threads could be started ("
         << pool.RefusedReason() << "); going on with " << pool.Threads() << "\n";
  }

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
        progress.RunFinished(item.result.steps);
        Write(item);
      }
    }
    if (signal == 0 && stopSignal.load() != 0) {
      signal = stopSignal.load();
      pool.Stop();
    }
    const bool tick = progress.Tick();
    // The CSV and journal first: a log's line never shows more runs done than the journal does.
    if (tick || plan_.clock() - lastFlush_ >= FlushPace) Flush();
    counters.runsDone = Done();
    if (tick) progress.Log(std::size_t(flushed_), counters.stepsDone.load());
    progress.Show(std::size_t(Done()), counters.stepsDone.load());
    if (done) break;
  }
  pool.Join();
  progress.Show(std::size_t(Done()), counters.stepsDone.load(), true);
  // A run that failed as the signal came (its encoder stopped by the same signal) was cut short.
  if (signal == 0) signal = stopSignal.load();
  if (failure && signal == 0) return Fail(failure->error, failure->outOfMemory);
  if (written_ == plan_.runs) return Finish();
  return Keep(signal != 0 ? signal : 2);
}

int Session::Finish() {
  Flush();
  partial_->Finish(paths_.csv);
  std::error_code ec;
  fs::remove_all(paths_.spool, ec);
  header_["finished"] = UtcNow();
  header_["completed_runs"] = written_;
  WriteHeader("complete");
  return 0;
}

int Session::Keep(int signal) {
  Flush();
  Spill();
  header_["completed_runs"] = Done();
  WriteHeader("interrupted");
  err_ << plan_.program << ": interrupted; " << Done() << " of " << plan_.runs << " runs kept (" << flushed_ << " in "
       << paths_.partial << ", " << waiting_.size() << " spooled in " << paths_.spool << "); to resume: " << Hint(0)
       << "\n";
  return 128 + signal;
}

// An I/O error (or a worker's failure): what is whole stays, and the sweep can be resumed if its
// manifest is on disk. Without one nothing can be resumed, so nothing is left behind.
int Session::Fail(const std::string& message, bool fewerThreads) {
  if (!headerOnDisk_) {
    partial_.reset();
    journal_.reset();
    std::error_code ec;
    for (const std::string& path : {paths_.partial, paths_.journal}) fs::remove(path, ec);
    fs::remove_all(paths_.spool, ec);
    err_ << plan_.program << ": " << message << "; nothing was kept; mend the cause and run the command again\n";
    return ExitIoError;
  }
  // What is whole is kept as far as the files still take it; the error reported is the first.
  try {
    if (partial_ && journal_) Flush();
  } catch (const std::exception&) {
    rows_.clear();
    lines_.clear();
  }
  try {
    Spill();
  } catch (const std::exception&) {
  }
  try {
    header_["completed_runs"] = flushed_ + std::int64_t(waiting_.size());
    WriteHeader("failed");
  } catch (const std::exception&) {
  }
  const std::int64_t kept = flushed_ + std::int64_t(std::count_if(waiting_.begin(), waiting_.end(),
                                                                   [](const auto& w) { return w.second.spooled; }));
  err_ << plan_.program << ": " << message << "; " << kept << " runs are kept in " << paths_.partial << " and "
       << paths_.spool;
  if (fewerThreads) {
    err_ << "; to resume with fewer worker threads: " << Hint(1) << "\n";
  } else {
    err_ << "; to resume: " << Hint(0) << "\n";
  }
  return ExitIoError;
}

int Session::Execute(const std::atomic<int>& stopSignal) {
  try {
    Start();
    WriteInOrder();  // the spooled runs whose turn has come
    return RunAndWrite(stopSignal);
  } catch (const ThreadsRefused& e) {
    return Fail(e.what(), true);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory", true);
  } catch (const std::exception& e) {
    return Fail(e.what(), false);
  }
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

// Refuses the request when the sweep the manifest holds is another one, naming how they differ.
void RefuseAnotherSweep(const OutputPaths& paths, const Manifest& kept, const Request& request) {
  Request given = request;
  if (!given.seed) given.seed = kept.request.seed;
  if (given.design && given.design->fromManifest) given.design = kept.request.design;
  const auto difference = FirstDifference(kept.request, given);
  if (difference && (request.seed || difference->name != "seed")) {
    throw RequestError(Source::Field, "out", "",
                       "'" + paths.csv + "' holds another sweep (" + DifferenceText(*difference, "it", "the request") +
                           "); give {force} to replace it or choose another {out}");
  }
}

// An output that holds a sweep, given neither `resume` nor `force`: refused, naming how it differs
// from the request when its manifest says.
[[noreturn]] void RefuseRerun(const OutputPaths& paths, OutputState state, const Request& request) {
  std::optional<Manifest> kept;
  try {
    kept = ReadManifest("out", paths.manifest);
  } catch (const RequestError&) {
  }
  if (kept) {
    RefuseAnotherSweep(paths, *kept, request);
    throw RequestError(Source::Field, "out", "",
                       "'" + paths.csv + "' holds this sweep, " + (state == OutputState::Complete ? "complete" : "begun") +
                           "; give {resume} to finish it or {force} to replace it");
  }
  throw RequestError(Source::Field, "out", "",
                     "'" + paths.csv + "' or its partial file or manifest exists; give {resume} to finish it or {force} to replace it");
}

}  // namespace

RunResult RunOne(const Request& request, const RunPlan& run, const OutputPaths& paths, PictureMaker* pictures,
                 const std::atomic<bool>& stop, std::atomic<std::int64_t>& stepsDone, MeasureMaker* measures) {
  RunResult result;
  result.run = run;
  result.started = UtcNow();
  const Pictures& p = request.pictures;
  if (!request.measures.empty() && !measures) throw std::logic_error("a sweep with measures of its own needs their maker");
  const auto model = std::make_shared<RunWorld>(run);
  const std::unique_ptr<RunMeasures> added = request.measures.empty() ? nullptr : measures->ForRun(model, run);
  CsvSink csv(run, paths.SpoolFile(run.index), request.means, added.get(), request.measures.size());
  std::optional<ChartSink> charts;
  std::vector<RunSink*> sinks = {&csv};
  if (p.charts) sinks.push_back(&charts.emplace(p.windowChart));
  const EveryKth every(p.snapshotEvery, request.steps);
  std::optional<SnapshotSink> snapshots;
  if (pictures && (!p.snapshotAt.empty() || p.snapshotEvery > 0)) {
    snapshots.emplace(*pictures, paths, run.index, p.snapshotAt, every);
    sinks.push_back(&*snapshots);
  }
  std::optional<VideoSink> video;
  if (pictures && p.video != Video::None) {
    video.emplace(*pictures, paths.VideoFile(run.index, p.video), every);
    sinks.push_back(&*video);
  }
  const RunLength length{request.steps, request.recordEvery, request.quietSteps};
  struct LastStep : RunSink {
    std::int32_t step = 0;
    void Stepped(const World& world) override { step = world.StepCount; }
  } last;
  sinks.push_back(&last);
  if (!RunModel(length, *model, sinks, stop, stepsDone)) return result;
  result.steps = last.step;
  // The video is in place before the run's rows are: a spooled run has all its pictures.
  if (video) video->Finish();
  result.rows = csv.Release();
  if (charts) result.charts = charts->Take();
  result.finished = UtcNow();
  result.complete = true;
  return result;
}

SweepPlan PrepareSweep(const Request& request) {
  SweepPlan plan;
  plan.stderrIsTerminal = isatty(STDERR_FILENO);
  plan.request = request;
  if (request.out.empty()) throw RequestError(Source::Field, "out", "", "required: the CSV to write");
  CheckOutName(request);
  plan.paths = OutputPaths(request.out);
  CheckFolder("out", plan.paths.csv);
  plan.lock = std::make_shared<OutputLock>("out", plan.paths.lock);
  RemoveStaleTemporaries(plan.paths);
  const OutputState state = LookAtOutput(plan.paths);
  if (state != OutputState::Nothing && !request.force && !request.resume) RefuseRerun(plan.paths, state, request);
  std::optional<Manifest> kept;
  std::error_code ec;
  // A manifest without its partial file (lost, or removed) is still a sweep begun: its spool may
  // hold finished runs. A resume of it goes on from them; one of another sweep is refused, as a
  // command run again over it is.
  const bool begun = state == OutputState::Partial || state == OutputState::Complete ||
                     (state == OutputState::ManifestOnly && std::filesystem::exists(std::filesystem::symlink_status(plan.paths.manifest, ec)));
  if (request.resume && !request.force && begun) {
    try {
      kept = ReadManifest("resume", plan.paths.manifest);
    } catch (const RequestError&) {
      // A manifest alone that cannot be read holds no sweep that can be resumed: it starts anew.
      if (state != OutputState::ManifestOnly) throw;
    }
    if (kept && state == OutputState::ManifestOnly) RefuseAnotherSweep(plan.paths, *kept, request);
    if (kept && !plan.request.seed) plan.request.seed = kept->request.seed;
  }
  if (plan.request.design && plan.request.design->fromManifest) {
    // A resume needs only the manifest, which holds the design.
    const std::string file = plan.request.design->file;
    if (!kept || !kept->request.design) {
      throw RequestError(Source::Field, "design", "", "cannot read '" + file + "', and no manifest of this sweep holds it");
    }
    plan.request.design = kept->request.design;
    plan.request.design->file = file;
  }
  plan.start = request.force                            ? OutputState::Nothing
               : state != OutputState::ManifestOnly     ? state
               : kept                                   ? OutputState::Partial
                                                        : OutputState::Nothing;
  Validate(plan.request);
  if (plan.request.seed) {
    plan.masterSeed = *plan.request.seed;
  } else {
    plan.masterSeed = DrawMasterSeed();
    plan.seedDrawn = true;
    plan.request.seed = plan.masterSeed;
  }
  if (kept) {
    CheckSameSweep(plan.paths.manifest, *kept, plan.request);
    plan.seedDrawn = kept->header.value("master_seed_drawn", false);
  }
  if (plan.request.pictures.video != Video::None && !OnSearchPath("ffmpeg")) {
    throw RequestError(Source::Field, "video", "",
                       "the encoder ffmpeg is not found on PATH; install Debian's package ffmpeg (apt install ffmpeg) or leave {video} off");
  }
  plan.runs = ShardSize(plan.request);
  plan.length = {plan.request.steps, plan.request.recordEvery, plan.request.quietSteps};
  if (kept) plan.oldHeader = std::move(kept->header);
  return plan;
}

int ExecuteSweep(const SweepPlan& plan, PictureMaker* pictures, std::ostream& err, const std::atomic<int>& stopSignal) {
  if (plan.start == OutputState::Complete) {
    err << plan.program << ": " << plan.paths.csv << " is complete; nothing to resume\n";
    return 0;
  }
  if (plan.seedDrawn && plan.start != OutputState::Partial) {
    err << plan.program << ": master seed " << plan.masterSeed << " (drawn; " << plan.fieldName("seed") << " "
        << plan.masterSeed << " repeats this sweep)\n";
  }
  return Session(plan, pictures, err).Execute(stopSignal);
}

}  // namespace zelmora::sweep
