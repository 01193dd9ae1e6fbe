#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Subprocess.h"
#include "batch/Record.h"
#include "batch/Runner.h"
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

std::vector<std::string> Rows(const std::string& text) {
  std::vector<std::string> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) rows.push_back(line);
  return rows;
}

TEST(RunOne, RecordsTheChosenStepsConsistently) {
  const Options o = Small("unused.csv");
  const RunPlan run = SweepRun(o, 3, 1);
  std::atomic<bool> stop{false};
  std::atomic<std::int64_t> steps{0};
  const RunResult a = RunOne(o, run, OutputPaths(o.out), nullptr, stop, steps);
  const RunResult b = RunOne(o, run, OutputPaths(o.out), nullptr, stop, steps);
  ASSERT_TRUE(a.complete);
  EXPECT_EQ(a.rows, b.rows);
  EXPECT_EQ(steps.load(), 24);
  EXPECT_NE(a.rows, RunOne(o, SweepRun(o, 3, 2), OutputPaths(o.out), nullptr, stop, steps).rows);
  EXPECT_EQ(a.market.size(), 12u);

  const std::vector<std::string> rows = Rows(a.rows);
  const std::string header = CsvHeader();
  const auto columns = std::size_t(std::count(header.begin(), header.end(), ','));
  const std::vector<std::string> steps_ = {"0", "5", "10", "12"};
  ASSERT_EQ(rows.size(), steps_.size());
  ASSERT_EQ(a.segregation.size(), steps_.size());
  for (std::size_t k = 0; k < rows.size(); ++k) {
    std::vector<std::string> fields;
    std::istringstream in(rows[k].substr(0, rows[k].size() - 1));
    for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
    if (rows[k][rows[k].size() - 2] == ',') fields.push_back("");
    ASSERT_EQ(fields.size(), columns + 1) << rows[k];
    EXPECT_EQ(rows[k].back(), '\r');
    EXPECT_EQ(fields[0], "1");
    EXPECT_EQ(fields[11], steps_[k]);
    EXPECT_EQ(std::stoll(fields[12]) + std::stoll(fields[13]), 200);
    EXPECT_EQ(a.segregation[k].step, std::stoi(steps_[k]));
    // Before the first step no price has been computed: unit costs and mean price are empty.
    EXPECT_EQ(fields[16].empty(), k == 0) << rows[k];
    EXPECT_EQ(fields[37].empty(), k == 0) << rows[k];
  }
  // The chart's last point is the last recorded row's yellow market.
  const std::string last = rows.back();
  EXPECT_NE(last.find("," + std::to_string(std::int64_t(a.market.back().customers)) + ","), std::string::npos);

  stop = true;
  EXPECT_FALSE(RunOne(o, run, OutputPaths(o.out), nullptr, stop, steps).complete);
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
  void SaveCharts(const RunResult& result, const std::string& path, const std::string&) override {
    if (!snapshot_ && result.run.index == failAt_) throw IoError(path, "disk full");
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
  EXPECT_NE(failed.str().find("--resume"), std::string::npos) << failed.str();
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

}  // namespace
}  // namespace zelmora::batch
