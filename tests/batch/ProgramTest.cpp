// The program as its users run it: a subprocess, its files, its exit status and its messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Subprocess.h"
#include "batch/Columns.h"

namespace zelmora::testing {
namespace {

const std::string Program = ZELMORA_BATCH_PROGRAM;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A small sweep: 2 thresholds x 3 repeats on a 20 x 20 grid.
std::vector<std::string> Sweep(const std::string& out, std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"--out", out, "--grid", "20x20", "--steps", "30", "--record-every", "10",
                                   "--seed", "42", "--set", "threshold=3,5", "--repeats", "3", "--charts", "off",
                                   "--quiet"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

TEST(Program, SameCommandSameBytesWhateverTheJobs) {
  TempDir dir;
  ASSERT_EQ(RunProgram(Program, Sweep("a.csv", {"--jobs", "1"}), dir.path()).status, 0);
  ASSERT_EQ(RunProgram(Program, Sweep("b.csv", {"--jobs", "1"}), dir.path()).status, 0);
  ASSERT_EQ(RunProgram(Program, Sweep("c.csv", {"--jobs", "2"}), dir.path()).status, 0);
  const std::string a = ReadFile(dir / "a.csv");
  EXPECT_EQ(Lines(a).size(), 1u + 6 * 4);  // header, 6 runs of steps 0, 10, 20, 30
  EXPECT_EQ(a, ReadFile(dir / "b.csv"));
  EXPECT_EQ(a, ReadFile(dir / "c.csv"));
  EXPECT_FALSE(std::filesystem::exists(dir / "c.csv.partial"));
  EXPECT_FALSE(std::filesystem::exists(dir / "c.csv.spool"));
}

TEST(Program, ShardsTogetherHoldExactlyTheWholeSweep) {
  TempDir dir;
  ASSERT_EQ(RunProgram(Program, Sweep("all.csv"), dir.path()).status, 0);
  ASSERT_EQ(RunProgram(Program, Sweep("s0.csv", {"--shard", "0/2"}), dir.path()).status, 0);
  ASSERT_EQ(RunProgram(Program, Sweep("s1.csv", {"--shard", "1/2"}), dir.path()).status, 0);
  const auto whole = Lines(ReadFile(dir / "all.csv"));
  const auto shard0 = Lines(ReadFile(dir / "s0.csv"));
  const auto shard1 = Lines(ReadFile(dir / "s1.csv"));
  ASSERT_FALSE(shard0.empty());
  ASSERT_FALSE(shard1.empty());
  EXPECT_EQ(shard0[0], whole[0]);
  EXPECT_EQ(shard1[0], whole[0]);
  // Rows are ordered by run, and a run's rows by step: merging the shards by run gives the whole.
  std::map<long, std::vector<std::string>> byRun;
  for (const auto* shard : {&shard0, &shard1}) {
    for (std::size_t k = 1; k < shard->size(); ++k) byRun[std::stol((*shard)[k])].push_back((*shard)[k]);
  }
  std::vector<std::string> merged = {whole[0]};
  for (const auto& [run, rows] : byRun) merged.insert(merged.end(), rows.begin(), rows.end());
  EXPECT_EQ(merged, whole);
}

TEST(Program, InterruptedSweepResumesToTheSameBytes) {
  TempDir dir;
  const std::vector<std::string> longer = {"--out", "x.csv", "--grid", "40x40", "--steps", "300", "--record-every",
                                           "50", "--seed", "9", "--repeats", "40", "--charts", "off", "--jobs", "2"};
  std::vector<std::string> args = longer;
  args.insert(args.begin(), Program);
  Subprocess child(args, dir.path());
  ASSERT_TRUE(child.Started());
  // Wait until at least one run is whole in the partial file: header and 7 rows.
  const bool oneRun = child.WaitUntil(
      [&] { return Lines(ReadFile(dir / "x.csv.partial")).size() >= 8; }, 120);
  ASSERT_TRUE(oneRun) << "no run was written; stderr: " << child.Err();
  ASSERT_FALSE(child.Exited()) << "the sweep ended before it could be interrupted; make it longer";
  child.Signal(SIGINT);
  EXPECT_EQ(child.Wait(), 130);
  const std::string message = child.Err();
  EXPECT_NE(message.find("interrupted"), std::string::npos) << message;
  EXPECT_NE(message.find("--resume"), std::string::npos) << message;
  EXPECT_FALSE(std::filesystem::exists(dir / "x.csv"));

  std::vector<std::string> resume = longer;
  resume.push_back("--resume");
  const Outcome resumed = RunProgram(Program, resume, dir.path());
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  std::vector<std::string> whole = longer;
  whole[1] = "whole.csv";
  ASSERT_EQ(RunProgram(Program, whole, dir.path()).status, 0);
  EXPECT_EQ(ReadFile(dir / "x.csv"), ReadFile(dir / "whole.csv"));
  EXPECT_FALSE(std::filesystem::exists(dir / "x.csv.partial"));
  EXPECT_FALSE(std::filesystem::exists(dir / "x.csv.spool"));
}

TEST(Program, BadInputGetsOneLineNamingTheOptionAndChangesNoFile) {
  struct Case {
    std::vector<std::string> args;
    std::string named;
  };
  const std::vector<Case> cases = {
      {{"--out", "o.csv", "--bogus", "1"}, "--bogus"},
      {{"--out", "o.csv", "--steps", "abc"}, "--steps"},
      {{"--out", "o.csv", "--returns-to-scale", "nan"}, "--returns-to-scale"},
      {{"--out", "o.csv", "--travel-expenses", "-1"}, "--travel-expenses"},
      {{"--out", "o.csv", "--grid", "9x40"}, "--grid"},
      {{"--out", "o.csv", "--agents", "401", "--grid", "20x20"}, "--agents"},
      {{"--out", "o.csv", "--set", "threshold=1:7"}, "--set threshold"},
      {{"--out", "o.csv", "--set", "density=0.5,2"}, "--set density"},
      {{"--out", "o.csv", "--shard", "3/3"}, "--shard"},
      {{"--out", "o.csv", "--threshold", "9"}, "--threshold"},
      {{"--out", "o.csv", "--production-costs", "9990"}, "--production-costs"},
      {{"--out", "o.csv", "--resume", "--force"}, "--resume"},
      {{"--out", "existing.csv"}, "--out"},
      {{"--out", "file/o.csv"}, "--out"},
      {{"--steps", "5"}, "--out"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    { std::ofstream(dir / "existing.csv") << "mine\n"; }
    { std::ofstream(dir / "file") << "a file, not a folder\n"; }
    const Outcome outcome = RunProgram(Program, c.args, dir.path());
    const std::string command = ::testing::PrintToString(c.args);
    EXPECT_EQ(outcome.status, 2) << command;
    EXPECT_EQ(Lines(outcome.err).size(), 1u) << command << ": " << outcome.err;
    EXPECT_NE(outcome.err.find(c.named), std::string::npos) << command << ": " << outcome.err;
    EXPECT_EQ(Files(dir.path()), (std::vector<std::string>{"existing.csv", "file"})) << command;
    EXPECT_EQ(ReadFile(dir / "existing.csv"), "mine\n") << command;
  }
}

TEST(Program, CsvReadsInPythonWithEveryColumnAndRow) {
  TempDir dir;
  ASSERT_EQ(RunProgram(Program, Sweep("p.csv"), dir.path()).status, 0);
  const std::string script = R"(
import csv, math, sys
with open(sys.argv[1], newline='') as f:
    rows = list(csv.DictReader(f))
kinds = dict(line.split() for line in open(sys.argv[2]))
assert list(rows[0].keys()) == list(kinds), list(rows[0].keys())
assert len(rows) == 24, len(rows)
for r in rows:
    for name, kind in kinds.items():
        if kind == 'integer':
            int(r[name])
    assert int(r['satisfied']) + int(r['unsatisfied']) == int(r['agents']) == 200, r
    assert r['threshold'] in ('3', '5')
    assert sum(int(r['market%d_customers' % m]) for m in range(10)) >= 200
    for v in r.values():
        assert v == '' or math.isfinite(float(v)), r
    if r['step'] != '0':
        assert float(r['yellow_bid_price']) == float(r['market2_unit_cost']) > 0
print('ok')
)";
  { std::ofstream(dir / "check.py") << script; }
  {
    std::ofstream kinds(dir / "kinds");
    for (const batch::Column& c : batch::Columns()) {
      kinds << c.name << (c.kind == batch::ColumnKind::Integer ? " integer\n" : " real\n");
    }
  }
  Subprocess python({"/usr/bin/python3", "check.py", "p.csv", "kinds"}, dir.path());
  EXPECT_EQ(python.Wait(60), 0) << python.Err();
  EXPECT_EQ(python.Out(), "ok\n");
}

TEST(Program, DrawnSeedIsPrintedAndRecorded) {
  TempDir dir;
  const Outcome outcome =
      RunProgram(Program, {"--out", "d.csv", "--grid", "10x10", "--steps", "2", "--charts", "off"}, dir.path());
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  // The seed's line only: stderr is not a terminal, so no progress line.
  EXPECT_EQ(Lines(outcome.err).size(), 1u) << outcome.err;
  const std::size_t at = outcome.err.find("--seed ");
  ASSERT_NE(at, std::string::npos) << outcome.err;
  const std::string seed = outcome.err.substr(at + 7, outcome.err.find(' ', at + 7) - at - 7);
  EXPECT_NE(ReadFile(dir / "d.json").find("\"master_seed\": " + seed), std::string::npos);
  ASSERT_EQ(RunProgram(Program, {"--out", "e.csv", "--grid", "10x10", "--steps", "2", "--charts", "off", "--seed", seed},
                       dir.path()).status, 0);
  EXPECT_EQ(ReadFile(dir / "d.csv"), ReadFile(dir / "e.csv"));
}

}  // namespace
}  // namespace zelmora::testing
