#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Csv.h"
#include "Subprocess.h"
#include "batch/Columns.h"
#include "batch/Record.h"
#include "batch/Run.h"
#include "batch/Runner.h"
#include "batch/Sinks.h"
#include "simulation/World.h"

namespace zelmora::batch {
namespace {

using zelmora::testing::ReadFile;
using zelmora::testing::TempDir;

Options Small(const std::string& out) {
  Options o;
  o.cols = 20;
  o.rows = 20;
  o.base.agents = 200;
  o.steps = 12;
  o.recordEvery = 5;
  o.seed = 3;
  o.repeats = 4;
  o.charts = true;
  o.quiet = true;
  o.out = out;
  o.commandLine = {"zelmora-batch", "--out", out};
  return o;
}

using zelmora::testing::Field;
using zelmora::testing::Lines;

std::vector<std::string> Rows(const std::string& text) { return Lines(text); }

TEST(RunOne, StreamsTheChosenStepsToItsSpoolFileConsistently) {
  TempDir dir;
  const Options o = Small(dir / "o.csv");
  const OutputPaths paths(o.out);
  std::filesystem::create_directory(paths.spool);
  const RunPlan run = SweepRun(o, 3, 1);
  std::atomic<bool> stop{false};
  std::atomic<std::int64_t> steps{0};
  const auto rowsOf = [&](const RunPlan& r) {
    std::filesystem::remove(paths.SpoolFile(r.index));
    RunResult result = RunOne(o, r, paths, nullptr, stop, steps);
    EXPECT_TRUE(result.complete);
    EXPECT_FALSE(std::filesystem::exists(paths.SpoolFile(r.index)));  // not before the writer says so
    result.spool->Finish();
    return ReadFile(paths.SpoolFile(r.index));
  };
  const std::string a = rowsOf(run);
  EXPECT_EQ(steps.load(), 12);
  EXPECT_EQ(a, rowsOf(run));
  EXPECT_NE(a, rowsOf(SweepRun(o, 3, 2)));

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
  Options o = Small(dir / "s.csv");
  o.jobs = 2;
  o.snapshotAt = {4};
  FailingCharts failing(1, true);
  std::atomic<int> noSignal{0};
  std::ostringstream err;
  EXPECT_EQ(ExecuteSweep(PrepareSweep(o), &failing, err, noSignal), ExitIoError);
  EXPECT_EQ(err.str().rfind("zelmora-batch: " + (dir / "s.run1.step4.png: disk full;"), 0), 0u) << err.str();
  EXPECT_FALSE(std::filesystem::exists(dir / "s.csv"));
}

// Charts fail for one run: the sweep reports the path, keeps what is whole, and a resume
// finishes it to the bytes of a sweep without the failure.

TEST(ExecuteSweep, IoErrorKeepsTheWholeRunsAndResumesToTheSameBytes) {
  TempDir dir;
  std::atomic<int> noSignal{0};
  std::ostringstream err;
  FailingCharts none(-1);
  ASSERT_EQ(ExecuteSweep(PrepareSweep(Small(dir / "whole.csv")), &none, err, noSignal), 0) << err.str();

  Options o = Small(dir / "x.csv");
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
  EXPECT_THROW(PrepareSweep(o), UsageError);
}

// A resume keeps the partial file's whole runs, drops a torn row, and takes a whole spooled run as
// it stands instead of running it again (the spooled copy here carries a mark to show that).
TEST(ExecuteSweep, ResumeTakesWholeSpooledRunsAndDropsATornRow) {
  TempDir dir;
  Options o = Small(dir / "r.csv");
  o.charts = false;
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
  lines[9].insert(lines[9].size() - 1, "7");  // run 2's first row, marked
  std::filesystem::create_directory(dir / "r.csv.spool");
  { std::ofstream(dir / "r.csv.spool/run2.csv", std::ios::binary) << join(9, 13); }

  o.resume = true;
  ASSERT_EQ(ExecuteSweep(PrepareSweep(o), nullptr, err, noSignal), 0) << err.str();
  EXPECT_EQ(ReadFile(dir / "r.csv"), join(0, lines.size()));
  EXPECT_FALSE(std::filesystem::exists(dir / "r.csv.spool"));
}

// A resume with other options names the option and both values; other pictures are refused, so
// no sweep has pictures for half of its runs.
TEST(ExecuteSweep, AResumeWithOtherOptionsNamesTheOptionAndBothValues) {
  TempDir dir;
  Options o = Small(dir / "r.csv");
  o.charts = false;
  FailingCharts failing(2, true);
  o.snapshotAt = {4};
  std::atomic<int> noSignal{0};
  std::ostringstream err;
  ASSERT_EQ(ExecuteSweep(PrepareSweep(o), &failing, err, noSignal), ExitIoError) << err.str();
  struct Case {
    std::function<void(Options&)> change;
    std::string message;
  };
  const std::vector<Case> cases = {
      {[](Options& c) { c.steps = 13; }, "--steps: the sweep has 12, the command 13"},
      {[](Options& c) { c.seed = 4; }, "--seed: the sweep has 3, the command 4"},
      {[](Options& c) { c.cols = 21; }, "--grid: the sweep has 20x20, the command 21x20"},
      {[](Options& c) { c.base.threshold = 5; }, "--threshold (or --set threshold): run 0 has 3 in the sweep, 5 in the command"},
      {[](Options& c) { c.repeats = 5; }, "the sweep has 4, the command 5"},
      {[](Options& c) { c.charts = true; }, "--charts: the sweep has off, the command on"},
      {[](Options& c) { c.charts = c.windowChart = true; }, "--charts: the sweep has off, the command window"},
      {[](Options& c) { c.snapshotAt = {4, 6}; }, "--snapshot-at: the sweep has [4], the command [4,6]"},
  };
  for (const Case& c : cases) {
    Options resumed = o;
    resumed.resume = true;
    c.change(resumed);
    try {
      PrepareSweep(resumed);
      ADD_FAILURE() << c.message << ": accepted";
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  o.resume = true;
  FailingCharts none(-1, true);
  EXPECT_EQ(ExecuteSweep(PrepareSweep(o), &none, err, noSignal), 0) << err.str();
}

// The charts' series cover the whole run however long it is, in memory fixed when they are made.
TEST(ChartSink, CoversTheWholeRunInFixedMemory) {
  for (const std::int32_t steps : {7, 999, 5003}) {
    Options o = Small("unused.csv");
    o.cols = o.rows = 10;
    o.base.agents = 50;
    o.steps = steps;
    o.recordEvery = 1;
    ChartSink sink(false);
    const RunCharts fresh;
    RunSink* sinks[] = {&sink};
    std::atomic<bool> stop{false};
    std::atomic<std::int64_t> done{0};
    ASSERT_TRUE(RunModel(o, SweepRun(o, 1, 0), sinks, stop, done));
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
}  // namespace zelmora::batch
