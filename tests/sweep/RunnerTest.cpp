#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <streambuf>
#include <utility>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "Csv.h"
#include "Requests.h"
#include "Subprocess.h"
#include "sweep/Columns.h"
#include "sweep/Merge.h"
#include "sweep/Progress.h"
#include "sweep/Record.h"
#include "sweep/Run.h"
#include "sweep/Runner.h"
#include "sweep/Sinks.h"
#include "simulation/World.h"

namespace zelmora::sweep {
namespace {

using zelmora::testing::ReadFile;
using zelmora::testing::TempDir;

// Four runs of 12 steps, with charts.
Request Charted(const std::string& out) {
  Request o = zelmora::testing::Small(out);
  o.pictures.charts = true;
  return o;
}

using zelmora::testing::Field;
using zelmora::testing::Lines;

std::vector<std::string> Rows(const std::string& text) { return Lines(text); }

// A run's rows come back whole: in memory while they are few, through its spool file when many;
// either way the same bytes.
TEST(RunOne, HandsOverTheChosenStepsWholeAndConsistently) {
  TempDir dir;
  const Request o = Charted(dir / "o.csv");
  const OutputPaths paths(o.out);
  std::filesystem::create_directory(paths.spool);
  const RunPlan run = RunAt(o, 3, 1);
  std::atomic<bool> stop{false};
  std::atomic<std::int64_t> steps{0};
  const auto rowsOf = [&](const RunPlan& r) {
    std::filesystem::remove(paths.SpoolFile(r.index));
    RunResult result = RunOne(o, r, paths, nullptr, stop, steps);
    EXPECT_TRUE(result.complete);
    EXPECT_FALSE(std::filesystem::exists(paths.SpoolFile(r.index)));  // not before the writer says so
    if (!result.rows.file) return result.rows.text;
    result.rows.file->Finish();
    return ReadFile(paths.SpoolFile(r.index));
  };
  const std::string a = rowsOf(run);
  EXPECT_EQ(steps.load(), 12);
  EXPECT_EQ(a, rowsOf(run));
  EXPECT_NE(a, rowsOf(RunAt(o, 3, 2)));

  const std::vector<std::string> rows = Rows(a);
  const std::vector<std::string> recorded = {"0", "5", "10", "12"};
  ASSERT_EQ(rows.size(), recorded.size());
  for (std::size_t k = 0; k < rows.size(); ++k) {
    EXPECT_EQ(rows[k].back(), '\r');
    EXPECT_EQ(zelmora::testing::Fields(rows[k]).size(), Columns().size()) << rows[k];
    EXPECT_EQ(Field(rows[k], "run"), "1");
    EXPECT_EQ(Field(rows[k], "step"), recorded[k]);
    EXPECT_EQ(std::stoll(Field(rows[k], "satisfied")) + std::stoll(Field(rows[k], "unsatisfied")), 200);
    // Before the first step no price has been computed: unit costs and mean price are empty.
    EXPECT_EQ(Field(rows[k], "yellow_bid_price").empty(), k == 0) << rows[k];
    EXPECT_EQ(Field(rows[k], "mean_local_price").empty(), k == 0) << rows[k];
  }

  // A long run's rows, past what is held in memory, go through its file: the same rows as the
  // run recorded every step in memory would have, those of steps 0, 5, 10 and 12 among them.
  Request recordedAll = o;
  recordedAll.recordEvery = 1;
  recordedAll.steps = 400;
  RunResult whole = RunOne(recordedAll, run, paths, nullptr, stop, steps);
  ASSERT_TRUE(whole.rows.file);
  whole.rows.file->Finish();
  const std::vector<std::string> all = Rows(ReadFile(paths.SpoolFile(run.index)));
  ASSERT_EQ(all.size(), 401u);
  for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(all[std::size_t(std::stoi(recorded[k]))], rows[k]);

  // A stopped run leaves no spool file, not even a torn one.
  stop = true;
  std::filesystem::remove_all(paths.spool);
  std::filesystem::create_directory(paths.spool);
  EXPECT_FALSE(RunOne(o, run, paths, nullptr, stop, steps).complete);
  EXPECT_TRUE(std::filesystem::is_empty(paths.spool));
}

// Pictures that fail for one run: its charts (on the sweep's thread) or its snapshot (on a worker).
class FailingCharts : public PictureMaker {
 public:
  explicit FailingCharts(std::int64_t failAt, bool snapshot = false) : failAt_(failAt), snapshot_(snapshot) {}
  void SaveSnapshot(const World&, const std::string& path) override {
    if (snapshot_ && path.find(".run" + std::to_string(failAt_) + ".") != std::string::npos) {
      throw IoError(path, "disk full");
    }
  }
  void SaveCharts(const RunCharts&, const std::string& path, const std::string&) override {
    if (!snapshot_ && path.find(".run" + std::to_string(failAt_) + ".") != std::string::npos) {
      throw IoError(path, "disk full");
    }
  }

 private:
  std::int64_t failAt_;
  bool snapshot_;
};

TEST(ExecuteSweep, FailedSnapshotStopsTheSweepNamingItsPath) {
  TempDir dir;
  Request o = Charted(dir / "s.csv");
  o.jobs = 2;
  o.pictures.snapshotAt = {4};
  FailingCharts failing(1, true);
  std::atomic<int> noSignal{0};
  std::ostringstream err;
  EXPECT_EQ(ExecuteSweep(PrepareSweep(o), &failing, err, noSignal), ExitIoError);
  EXPECT_EQ(err.str().rfind("zelmora-batch: " + (dir / "s.run1.step4.png: disk full;"), 0), 0u) << err.str();
  EXPECT_FALSE(std::filesystem::exists(dir / "s.csv"));
}

// A signal that also stops a run's helper (an encoder in the terminal's process group) makes that
// run fail as the signal comes: the sweep was interrupted, not failed, and says how to resume.
TEST(ExecuteSweep, ARunFailingAsTheSignalComesIsCutShortNotAnIoError) {
  struct StoppedWithTheSignal : FailingCharts {
    std::atomic<int> signal{0};
    StoppedWithTheSignal() : FailingCharts(0, true) {}
    void SaveSnapshot(const World& world, const std::string& path) override {
      signal = SIGINT;
      FailingCharts::SaveSnapshot(world, path);
    }
  } pictures;
  TempDir dir;
  Request o = Charted(dir / "i.csv");
  o.pictures.snapshotAt = {4};
  std::ostringstream err;
  EXPECT_EQ(ExecuteSweep(PrepareSweep(o), &pictures, err, pictures.signal), 128 + SIGINT);
  EXPECT_NE(err.str().find("interrupted;"), std::string::npos) << err.str();
}

// Charts fail for one run: the sweep reports the path, keeps what is whole, and a resume
// finishes it to the bytes of a sweep without the failure.

TEST(ExecuteSweep, IoErrorKeepsTheWholeRunsAndResumesToTheSameBytes) {
  TempDir dir;
  std::atomic<int> noSignal{0};
  std::ostringstream err;
  FailingCharts none(-1);
  ASSERT_EQ(ExecuteSweep(PrepareSweep(Charted(dir / "whole.csv")), &none, err, noSignal), 0) << err.str();

  Request o = Charted(dir / "x.csv");
  o.jobs = 1;
  FailingCharts failing(2);
  std::ostringstream failed;
  EXPECT_EQ(ExecuteSweep(PrepareSweep(o), &failing, failed, noSignal), ExitIoError);
  EXPECT_NE(failed.str().find(dir / "x.run2.chart.png"), std::string::npos) << failed.str();
  EXPECT_NE(failed.str().find("; to resume: "), std::string::npos) << failed.str();
  const std::vector<std::string> kept = Rows(ReadFile(dir / "x.csv.partial"));
  EXPECT_EQ(kept.size(), 1u + 2 * 4);  // runs 0 and 1
  EXPECT_NE(ReadFile(dir / "x.json").find("\"status\": \"failed\""), std::string::npos);

  o.resume = true;
  o.seed.reset();  // the manifest knows it
  std::ostringstream resumed;
  ASSERT_EQ(ExecuteSweep(PrepareSweep(o), &none, resumed, noSignal), 0) << resumed.str();
  EXPECT_EQ(ReadFile(dir / "x.csv"), ReadFile(dir / "whole.csv"));
  EXPECT_NE(ReadFile(dir / "x.json").find("\"completed_runs\": 4"), std::string::npos);

  // Resuming a complete sweep changes nothing; other options are refused.
  EXPECT_EQ(ExecuteSweep(PrepareSweep(o), &none, resumed, noSignal), 0);
  o.steps = 13;
  EXPECT_THROW(PrepareSweep(o), RequestError);
}

// A resume keeps the partial file's whole runs, drops a torn row, and takes a whole spooled run as
// it stands instead of running it again (the spooled copy here carries a mark to show that).
TEST(ExecuteSweep, ResumeTakesWholeSpooledRunsAndDropsATornRow) {
  TempDir dir;
  Request o = Charted(dir / "r.csv");
  o.pictures.charts = false;
  std::atomic<int> noSignal{0};
  std::ostringstream err;
  ASSERT_EQ(ExecuteSweep(PrepareSweep(o), nullptr, err, noSignal), 0) << err.str();
  const std::string whole = ReadFile(dir / "r.csv");
  std::vector<std::string> lines = Rows(whole);
  ASSERT_EQ(lines.size(), 1u + 4 * 4);
  const auto join = [&](std::size_t from, std::size_t to) {
    std::string text;
    for (std::size_t k = from; k < to; ++k) text += lines[k] + "\n";
    return text;
  };
  std::filesystem::remove(dir / "r.csv");
  { std::ofstream(dir / "r.csv.partial", std::ios::binary) << join(0, 5) << lines[5].substr(0, 9); }
  // Run 2's first row, marked in a measure.
  std::vector<std::string> marked = zelmora::testing::Fields(lines[9]);
  marked[ColumnIndex("moves")] += "7";
  lines[9].clear();
  for (const std::string& field : marked) lines[9] += (lines[9].empty() ? "" : ",") + field;
  lines[9] += '\r';
  std::filesystem::create_directory(dir / "r.csv.spool");
  { std::ofstream(dir / "r.csv.spool/run2.csv", std::ios::binary) << join(9, 13); }

  o.resume = true;
  ASSERT_EQ(ExecuteSweep(PrepareSweep(o), nullptr, err, noSignal), 0) << err.str();
  EXPECT_EQ(ReadFile(dir / "r.csv"), join(0, lines.size()));
  EXPECT_FALSE(std::filesystem::exists(dir / "r.csv.spool"));
  // The journal, cut back to the run kept, names every run once, in order; the run taken from the
  // spool has no times (the session that made it ended before its turn came).
  const std::vector<std::string> journal = Rows(ReadFile(dir / "r.runs.jsonl"));
  ASSERT_EQ(journal.size(), 4u);
  for (std::size_t k = 0; k < journal.size(); ++k) {
    const nlohmann::json line = nlohmann::json::parse(journal[k]);
    EXPECT_EQ(line["run"], k);
    EXPECT_EQ(line["started"].is_null(), k == 2) << journal[k];
  }
}

// A resume with other options names the option and both values; other pictures are refused, so
// no sweep has pictures for half of its runs.
TEST(ExecuteSweep, AResumeWithOtherOptionsNamesTheOptionAndBothValues) {
  TempDir dir;
  Request o = Charted(dir / "r.csv");
  o.pictures.charts = false;
  FailingCharts failing(2, true);
  o.pictures.snapshotAt = {4};
  std::atomic<int> noSignal{0};
  std::ostringstream err;
  ASSERT_EQ(ExecuteSweep(PrepareSweep(o), &failing, err, noSignal), ExitIoError) << err.str();
  struct Case {
    std::function<void(Request&)> change;
    std::string message;
  };
  const std::vector<Case> cases = {
      {[](Request& c) { c.steps = 13; }, "steps: the sweep in '" + (dir / "r.json") + "' has 12, the command 13"},
      {[](Request& c) { c.seed = 4; }, "seed: the sweep in '" + (dir / "r.json") + "' has 3, the command 4"},
      {[](Request& c) { zelmora::testing::Given(c, "grid_cols", 21); }, "grid_cols: run 0 has 20 in the sweep"},
      {[](Request& c) { zelmora::testing::Given(c, "threshold", 5); }, "threshold: run 0 has 3 in the sweep"},
      {[](Request& c) { c.axes.push_back(Axis::Listed(ParameterIndex("threshold"), {3, 3})); }, "' has 4 runs, the command 8"},
      {[](Request& c) { c.pictures.charts = true; }, "charts: the sweep in '" + (dir / "r.json") + "' has off, the command on"},
      {[](Request& c) { c.pictures.charts = c.pictures.windowChart = true; }, "has off, the command window"},
      {[](Request& c) { c.pictures.snapshotAt = {4, 6}; }, "snapshot_at: the sweep in '" + (dir / "r.json") + "' has [4], the command [4,6]"},
  };
  for (const Case& c : cases) {
    Request resumed = o;
    resumed.resume = true;
    c.change(resumed);
    try {
      PrepareSweep(resumed);
      ADD_FAILURE() << c.message << ": accepted";
    } catch (const RequestError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  o.resume = true;
  FailingCharts none(-1, true);
  EXPECT_EQ(ExecuteSweep(PrepareSweep(o), &none, err, noSignal), 0) << err.str();
}

// Over many seeds: with W quiet steps asked for, a run ends at the first W quiet steps in a row of
// the same run made to its end, Settled naming the first of them; without W in a row it makes its
// steps.
TEST(RunModel, ARunEndsAtTheFirstOfWQuietStepsInARow) {
  struct Watch : RunSink {
    std::vector<bool> quiet{false};  // by step; step 0 is none
    std::optional<std::int32_t> stop;
    void Stepped(const World& world) override {
      if (world.StepCount > 0) quiet.push_back(IsSettled(world));
    }
    void Settled(const World&, std::int32_t stopStep) override { stop = stopStep; }
  };
  std::atomic<bool> stop{false};
  std::atomic<std::int64_t> steps{0};
  const Request request = zelmora::testing::Small("", 20, 200, 300, 1, 40, 5);
  std::size_t differ = 0;  // runs whose first quiet step does not start W of them
  for (std::int64_t index = 0; index < request.repeats; ++index) {
    Watch whole;
    std::vector<RunSink*> sinks = {&whole};
    ASSERT_TRUE(RunModel({request.steps, 1, 0}, RunAt(request, 5, index), sinks, stop, steps));
    for (const std::int32_t w : {1, 2, 5, 20}) {
      std::optional<std::int32_t> first;
      for (std::int32_t s = 1; !first && s + w - 1 <= request.steps; ++s) {
        if (std::all_of(whole.quiet.begin() + s, whole.quiet.begin() + s + w, [](bool q) { return q; })) first = s;
      }
      Watch settled;
      sinks = {&settled};
      ASSERT_TRUE(RunModel({request.steps, 1, w}, RunAt(request, 5, index), sinks, stop, steps));
      EXPECT_EQ(settled.stop, first) << index << " W " << w;
      EXPECT_EQ(settled.quiet.size() - 1, first ? std::size_t(*first + w - 1) : std::size_t(request.steps));
      EXPECT_TRUE(std::equal(settled.quiet.begin(), settled.quiet.end(), whole.quiet.begin())) << index << " W " << w;
      if (w > 1 && first && whole.quiet.size() > 1) {
        differ += std::find(whole.quiet.begin(), whole.quiet.end(), true) - whole.quiet.begin() != *first;
      }
    }
  }
  EXPECT_GT(differ, 0u);  // quiet steps that do not last happen, or the test shows nothing
}

// Runs that end when settled, on the default grid with every step recorded: each run ends at its
// W-th quiet step in a row (no move, no unsatisfied agent), or at --steps, and names the first of
// them in each of its rows. The bytes are the same on one or two threads, from merged shards and
// after a resume that finds runs of different lengths cut, whole and spooled.
TEST(ExecuteSweep, RunsThatSettleEndThereWhateverTheJobsShardsOrResume) {
  for (const std::int32_t quietSteps : {1, 3}) {
    TempDir dir;
    std::atomic<int> noSignal{0};
    std::ostringstream err;
    const auto sweep = [&](const std::string& name, std::int32_t jobs, std::int64_t shard, std::int64_t shards) {
      Request o;
      o.steps = 2000;
      o.quietSteps = quietSteps;
      o.seed = 1;
      o.repeats = 6;
      o.jobs = jobs;
      o.shardIndex = shard;
      o.shardCount = shards;
      o.quiet = true;
      o.out = dir / name;
      EXPECT_EQ(ExecuteSweep(PrepareSweep(o), nullptr, err, noSignal), 0) << err.str();
      return o;
    };
    Request o = sweep("one.csv", 1, 0, 1);
    const std::string whole = ReadFile(dir / "one.csv");
    std::vector<std::string> lines = Rows(whole);
    std::map<std::string, std::vector<std::string>> runs;
    for (std::size_t k = 1; k < lines.size(); ++k) runs[Field(lines[k], "run")].push_back(lines[k]);
    std::size_t settled = 0;
    for (const auto& [run, rows] : runs) {
      const std::string stop = Field(rows.back(), "stop_step");
      const auto quiet = [&](std::size_t k) {
        return Field(rows[k], "moves") == "0" && Field(rows[k], "unsatisfied") == "0" && k > 0;
      };
      const std::size_t last = rows.size() - 1;
      EXPECT_EQ(stop.empty() ? 2000 : std::stoul(stop) + std::size_t(quietSteps) - 1, std::stoul(Field(rows[last], "step")))
          << run;
      EXPECT_EQ(last, std::stoul(Field(rows[last], "step"))) << run;
      // The stop step starts the first run of W quiet steps; none came before it.
      const std::size_t first = stop.empty() ? rows.size() : std::stoul(stop);
      std::size_t inARow = 0;
      for (std::size_t k = 0; k < rows.size(); ++k) {
        EXPECT_EQ(Field(rows[k], "stop_step"), stop) << run;
        inARow = quiet(k) ? inARow + 1 : 0;
        EXPECT_TRUE(k < first || quiet(k)) << rows[k];
        EXPECT_TRUE(inARow < std::size_t(quietSteps) || (k == last && !stop.empty())) << rows[k];
      }
      settled += !stop.empty();
    }
    ASSERT_EQ(runs.size(), 6u);
    EXPECT_GE(settled, 2u);  // some settle, long before --steps (a test for the rows written to the file)
    EXPECT_LT(settled, 6u);  // and some run to the end

    sweep("two.csv", 2, 0, 1);
    EXPECT_EQ(ReadFile(dir / "two.csv"), whole);
    sweep("s0.csv", 2, 0, 2);
    sweep("s1.csv", 1, 1, 2);
    MergeShards({dir / "m.csv", dir / "s1.csv", dir / "s0.csv"}, err);
    EXPECT_EQ(ReadFile(dir / "m.csv"), whole);

    // Runs 0 and 1 whole in the partial file with a torn row of run 2, run 4 spooled: the resume
    // runs 2, 3 and 5 only.
    const auto rowsOf = [&](std::int64_t from, std::int64_t to) {
      std::string text;
      for (std::int64_t run = from; run < to; ++run) {
        for (const std::string& row : runs[std::to_string(run)]) text += row + "\n";
      }
      return text;
    };
    std::filesystem::rename(dir / "one.csv", dir / "one.csv.partial");
    { std::ofstream(dir / "one.csv.partial", std::ios::binary) << lines[0] << "\n" << rowsOf(0, 2) << "2,1"; }
    std::filesystem::create_directory(dir / "one.csv.spool");
    { std::ofstream(dir / "one.csv.spool/run4.csv", std::ios::binary) << rowsOf(4, 5); }
    o.resume = true;
    o.jobs = 2;
    ASSERT_EQ(ExecuteSweep(PrepareSweep(o), nullptr, err, noSignal), 0) << err.str();
    EXPECT_EQ(ReadFile(dir / "one.csv"), whole);
  }
}

// The log's progress lines come at the pace of the sweep's clock, here one that jumps a minute at
// every reading, and each after the manifest's journal was brought up to date: no line shows more
// runs done than the journal. A pace of 0 writes none.
TEST(ExecuteSweep, ALogGetsAProgressLineAtEachPaceAfterTheManifest) {
  // Each line as it is written, checked against the journal then.
  struct Log : std::streambuf {
    std::string text;
    std::function<void(const std::string&)> line;
    int overflow(int c) override {
      if (c == '\n') line(std::exchange(text, {}));
      if (c != '\n') text += char(c);
      return c;
    }
  } log;
  for (const std::int32_t pace : {60, 0}) {
    TempDir dir;
    Request o = Charted(dir / "p.csv");
    o.pictures.charts = o.quiet = false;
    o.repeats = 8;
    o.jobs = 2;
    o.progressEvery = pace;
    SweepPlan plan = PrepareSweep(o);
    plan.stderrIsTerminal = false;
    std::int64_t minutes = 0;
    plan.clock = [&] { return Progress::Clock::time_point(std::chrono::minutes(minutes++)); };
    int lines = 0;
    log.line = [&](const std::string& line) {
      // Not std::regex, whose header GCC 12 warns about in the sanitizer build.
      int done = 0, end = 0;
      std::sscanf(line.c_str(), "zelmora-batch: %d/8 runs, %*d steps/s, %*d:%*2d:%*2d left%n", &done, &end);
      if (end == 0 || std::size_t(end) != line.size()) return;
      ++lines;
      EXPECT_EQ(Lines(ReadFile(dir / "p.runs.jsonl")).size(), std::size_t(done)) << line;
    };
    std::ostream err(&log);
    std::atomic<int> noSignal{0};
    ASSERT_EQ(ExecuteSweep(plan, nullptr, err, noSignal), 0);
    EXPECT_EQ(lines > 0, pace > 0) << lines;
  }
}

// Threads the system refuses: with none started the sweep says so and suggests fewer (its manifest
// is on disk, so the hint resumes); with some started it says so and goes on with those.
TEST(ExecuteSweep, ThreadsTheSystemRefusesAreSaidAndFewerSuggested) {
  for (const std::size_t granted : {0, 1}) {
    TempDir dir;
    Request o = Charted(dir / "t.csv");
    o.pictures.charts = false;
    o.jobs = 2;
    SweepPlan plan = PrepareSweep(o);
    plan.resumeHint = [](const SweepPlan&, std::int32_t jobs) { return "resume with " + std::to_string(jobs); };
    plan.startThread = [started = std::size_t(0), granted](std::function<void()> work) mutable {
      if (started++ >= granted) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      return std::thread(std::move(work));
    };
    std::atomic<int> noSignal{0};
    std::ostringstream err;
    const int status = ExecuteSweep(plan, nullptr, err, noSignal);
    if (granted == 0) {
      EXPECT_EQ(status, ExitIoError);
      EXPECT_NE(err.str().find("no worker thread could be started (Resource temporarily unavailable)"),
                std::string::npos) << err.str();
      EXPECT_NE(err.str().find("to resume with fewer worker threads: resume with 1"), std::string::npos) << err.str();
    } else {
      EXPECT_EQ(status, 0) << err.str();
      EXPECT_NE(err.str().find("only 1 of 2 worker threads could be started"), std::string::npos) << err.str();
      EXPECT_EQ(Rows(ReadFile(dir / "t.csv")).size(), 1u + 4 * 4);
    }
  }
}

// The charts' series cover the whole run however long it is, in memory fixed when they are made.
TEST(ChartSink, CoversTheWholeRunInFixedMemory) {
  for (const std::int32_t steps : {7, 999, 5003}) {
    const Request o = zelmora::testing::Small("unused.csv", 10, 50, steps, 1);
    ChartSink sink(false);
    const RunCharts fresh;
    RunSink* sinks[] = {&sink};
    std::atomic<bool> stop{false};
    std::atomic<std::int64_t> done{0};
    ASSERT_TRUE(RunModel({o.steps, o.recordEvery, false}, RunAt(o, 1, 0), sinks, stop, done));
    const RunCharts charts = sink.Take();
    EXPECT_EQ(charts.Market().Count(), steps);
    EXPECT_EQ(charts.Market().FirstStep(), 1);
    EXPECT_EQ(charts.Segregation().Count(), steps + 1);
    EXPECT_EQ(charts.Segregation().FirstStep(), 0);
    for (const RunSeries* series : {&charts.Market(), &charts.Segregation()}) EXPECT_EQ(series->LastStep(), steps);
    EXPECT_EQ(charts.Market().MemoryBytes(), fresh.Market().MemoryBytes());
    EXPECT_EQ(charts.Segregation().MemoryBytes(), fresh.Segregation().MemoryBytes());
  }
}

}  // namespace
}  // namespace zelmora::sweep
