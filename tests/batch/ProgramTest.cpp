// The program as its users run it: a subprocess, its files, its exit status and its messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Subprocess.h"
#include "sweep/Columns.h"

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

nlohmann::json Manifest(const std::string& path) { return nlohmann::json::parse(ReadFile(path)); }

TEST(Program, MergedShardsAreTheUnshardedSweepsBytes) {
  TempDir dir;
  ASSERT_EQ(RunProgram(Program, Sweep("all.csv"), dir.path()).status, 0);
  for (const char* shard : {"0", "1", "2"}) {
    ASSERT_EQ(RunProgram(Program, Sweep("s" + std::string(shard) + ".csv", {"--shard", shard + std::string("/3")}),
                         dir.path()).status, 0);
  }
  const Outcome merged = RunProgram(Program, {"merge", "m.csv", "s2.csv", "s0.csv", "s1.csv"}, dir.path());
  ASSERT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(ReadFile(dir / "m.csv"), ReadFile(dir / "all.csv"));
  const nlohmann::json whole = Manifest(dir / "all.json"), joined = Manifest(dir / "m.json");
  for (const char* field : {"build", "master_seed", "pictures", "sweep", "status", "runs_in_shard", "completed_runs"}) {
    EXPECT_EQ(joined[field], whole[field]) << field;
  }
  EXPECT_EQ(joined["run_times"].size(), whole["run_times"].size());
}

// Each refusal names the shard (or the missing shard's number) and changes nothing.
TEST(Program, MergeRefusesAMissingRepeatedForeignOrUnfinishedShard) {
  TempDir dir;
  for (const char* shard : {"0", "1"}) {
    ASSERT_EQ(RunProgram(Program, Sweep("s" + std::string(shard) + ".csv", {"--shard", shard + std::string("/2")}),
                         dir.path()).status, 0);
  }
  std::vector<std::string> foreign = Sweep("f1.csv", {"--shard", "1/2"});
  foreign[9] = "43";  // the master seed
  ASSERT_EQ(foreign[8], "--seed");
  ASSERT_EQ(RunProgram(Program, foreign, dir.path()).status, 0);
  ASSERT_EQ(RunProgram(Program, Sweep("u1.csv", {"--shard", "1/2"}), dir.path()).status, 0);
  nlohmann::json unfinished = Manifest(dir / "u1.json");
  unfinished["status"] = "interrupted";
  { std::ofstream(dir / "u1.json") << unfinished.dump(); }
  nlohmann::json otherBuild = unfinished;
  otherBuild["status"] = "complete";
  otherBuild["build"] = "0.0+gother";
  std::filesystem::copy_file(dir / "u1.csv", dir / "b1.csv");
  { std::ofstream(dir / "b1.json") << otherBuild.dump(); }
  struct Case {
    std::vector<std::string> shards;
    std::string named;
  };
  const std::vector<Case> cases = {
      {{"s0.csv"}, "shard 1/2 is missing"},
      {{"s0.csv", "s1.csv", "s0.csv"}, "'s0.csv' is shard 0/2 again"},
      {{"s0.csv", "f1.csv"}, "'f1.csv' belongs to another sweep than 's0.csv': --seed: the sweep has 42, the command 43"},
      {{"s0.csv", "u1.csv"}, "'u1.csv' is not complete"},
      {{"s0.csv", "b1.csv"}, "'b1.csv' was written by build 0.0+gother"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"merge", "m.csv"};
    args.insert(args.end(), c.shards.begin(), c.shards.end());
    const Outcome outcome = RunProgram(Program, args, dir.path());
    EXPECT_EQ(outcome.status, 2) << c.named;
    EXPECT_EQ(Lines(outcome.err).size(), 1u) << outcome.err;
    EXPECT_NE(outcome.err.find(c.named), std::string::npos) << outcome.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "m.csv"));
    EXPECT_FALSE(std::filesystem::exists(dir / "m.json"));
  }
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
      // An unset variable in a job script is an empty value, never "not given".
      {{"--out", "o.csv", "--seed", ""}, "--seed"},
      {{"--out", "o.csv", "--agents", ""}, "--agents"},
      {{"--out", "o.csv", "--density", ""}, "--density"},
      {{"--out", "o.csv", "--snapshot-at", ""}, "--snapshot-at"},
      {{"--out", "o.csv", "--set", "density=0.5", "--agents", "10"}, "--set density"},
      {{"--out", "o.csv", "--set", "agents=10", "--density", "0.5"}, "--set agents"},
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
        if kind == 'integer' and name != 'stop_step':
            int(r[name])
    assert r['stop_step'] == '', r  # runs --steps: never stopped as settled
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
      kinds << c.name << (c.kind == batch::ColumnKind::Real ? " real\n" : " integer\n");
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

// A long sweep holds its output; a second process with the same --out, forced or not, is refused
// at once naming the holder, and touches nothing.
TEST(Program, ASecondWriterIsRefusedNamingTheFirst) {
  TempDir dir;
  const std::vector<std::string> longer = {Program, "--out", "w.csv", "--grid", "100x100", "--steps", "100000",
                                           "--record-every", "1000", "--seed", "1", "--jobs", "1", "--quiet"};
  Subprocess first(longer, dir.path());
  ASSERT_TRUE(first.WaitUntil([&] { return std::filesystem::exists(dir / "w.csv.partial"); }, 60)) << first.Err();
  const std::string holder = ReadFile(dir / "w.csv.lock");
  ASSERT_FALSE(holder.empty());
  for (const std::vector<std::string>& more : {std::vector<std::string>{}, {"--force"}, {"--resume"}}) {
    std::vector<std::string> args = {"--out", "w.csv", "--seed", "2", "--steps", "3"};
    args.insert(args.end(), more.begin(), more.end());
    const Outcome second = RunProgram(Program, args, dir.path());
    EXPECT_EQ(second.status, 2) << second.err;
    EXPECT_NE(second.err.find("being written by process " + holder.substr(0, holder.size() - 1)), std::string::npos)
        << second.err;
  }
  EXPECT_FALSE(first.Exited()) << first.Err();
  first.Signal(SIGINT);
  EXPECT_EQ(first.Wait(), 130);
  EXPECT_NE(Manifest(dir / "w.json")["master_seed"], 2);
  EXPECT_FALSE(std::filesystem::exists(dir / "w.csv.lock"));
}

// A link planted at any name the program writes is replaced, never followed.
TEST(Program, LinksPlantedInTheFolderAreReplacedNotFollowed) {
  struct Case {
    std::string link;
    std::vector<std::string> more;
  };
  const std::vector<Case> cases = {
      {"o.csv.partial", {"--force"}},
      {"o.json", {"--force"}},
      {"o.run0.chart.png", {"--charts", "on"}},
      {"o.run0.segregation.png", {"--charts", "on"}},
      {"o.run1.step2.png", {"--snapshot-at", "2"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    { std::ofstream(dir / "target") << "mine\n"; }
    std::filesystem::create_symlink(dir / "target", dir / c.link);
    std::vector<std::string> args = {"--out", "o.csv", "--grid", "10x10", "--steps", "2", "--seed", "1",
                                     "--repeats", "2", "--quiet"};
    args.insert(args.end(), c.more.begin(), c.more.end());
    const Outcome outcome = RunProgram(Program, args, dir.path());
    EXPECT_EQ(outcome.status, 0) << c.link << ": " << outcome.err;
    EXPECT_EQ(ReadFile(dir / "target"), "mine\n") << c.link;
    EXPECT_FALSE(std::filesystem::is_symlink(dir / c.link)) << c.link;
  }
}

// A folder where a chart should go: an I/O error while the workers run. The whole runs are kept,
// the resume hint works once the folder is gone, and the result is the uninterrupted bytes.
TEST(Program, AnIoErrorWhileWorkersRunKeepsWhatIsWholeAndResumes) {
  TempDir dir;
  std::vector<std::string> args = Sweep("x.csv", {"--jobs", "2"});
  *std::find(args.begin(), args.end(), "off") = "on";  // --charts
  std::filesystem::create_directory(dir / "x.run1.chart.png");
  const Outcome failed = RunProgram(Program, args, dir.path());
  EXPECT_EQ(failed.status, 1) << failed.err;
  EXPECT_NE(failed.err.find("x.run1.chart.png"), std::string::npos) << failed.err;
  EXPECT_NE(failed.err.find("; to resume: "), std::string::npos) << failed.err;
  std::filesystem::remove(dir / "x.run1.chart.png");
  std::vector<std::string> resume = args;
  resume.push_back("--resume");
  const Outcome resumed = RunProgram(Program, resume, dir.path());
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "x.run1.chart.png"));
  ASSERT_EQ(RunProgram(Program, Sweep("whole.csv"), dir.path()).status, 0);
  EXPECT_EQ(ReadFile(dir / "x.csv"), ReadFile(dir / "whole.csv"));
}

// A manifest whose fields are of the wrong type: exit 2, one line naming the field.
TEST(Program, ADamagedManifestIsRefusedNamingTheField) {
  struct Case {
    const char* pointer;
    nlohmann::json value;
  };
  const std::vector<Case> cases = {{"/sweep", "x"},       {"/resumed", "x"},           {"/run_times", nlohmann::json::array()},
                                   {"/build", 7},         {"/sweep/master_seed", -1},  {"/sweep/runs/0/seed", "x"},
                                   {"/pictures", nullptr}, {"/run_times/0", "x"}};
  TempDir dir;
  std::vector<std::string> args = Sweep("d.csv");
  ASSERT_EQ(RunProgram(Program, args, dir.path()).status, 0);
  std::filesystem::rename(dir / "d.csv", dir / "d.csv.partial");  // as if interrupted
  const nlohmann::json good = Manifest(dir / "d.json");
  args.push_back("--resume");
  for (const Case& c : cases) {
    nlohmann::json damaged = good;
    damaged[nlohmann::json::json_pointer(c.pointer)] = c.value;
    { std::ofstream(dir / "d.json") << damaged.dump(); }
    const Outcome outcome = RunProgram(Program, args, dir.path());
    EXPECT_EQ(outcome.status, 2) << c.pointer << ": " << outcome.err;
    EXPECT_EQ(Lines(outcome.err).size(), 1u) << outcome.err;
    std::string field = std::string(c.pointer).substr(1);
    std::replace(field.begin(), field.end(), '/', '.');
    if (field == "sweep.runs.0.seed") field = "sweep.runs[0].seed";
    EXPECT_NE(outcome.err.find("field '" + field + "'"), std::string::npos) << outcome.err;
  }
}

// A failure before the first manifest: nothing can be resumed, so nothing is left and no resume
// command is offered.
TEST(Program, AFailureBeforeTheFirstManifestLeavesNothingAndNoResumeHint) {
  TempDir dir;
  std::filesystem::create_directories(dir / "f.json/in-the-way");
  const Outcome outcome = RunProgram(Program, Sweep("f.csv", {"--force"}), dir.path());
  EXPECT_EQ(outcome.status, 1) << outcome.err;
  EXPECT_EQ(outcome.err.find("--resume"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("run the command again"), std::string::npos) << outcome.err;
  EXPECT_EQ(Files(dir.path()), std::vector<std::string>{"f.json"});
}

TEST(Program, AReadOnlyFolderIsRefusedBeforeAnythingStarts) {
  TempDir dir;
  std::filesystem::create_directory(dir / "ro");
  std::filesystem::permissions(dir / "ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  // Root writes into a folder whatever its permissions; /proc takes a new file from nobody.
  const Outcome outcome = RunProgram(Program, Sweep(::geteuid() == 0 ? "/proc/o.csv" : "ro/o.csv"), dir.path());
  std::filesystem::permissions(dir / "ro", std::filesystem::perms::owner_all);
  EXPECT_EQ(outcome.status, 2) << outcome.err;
  EXPECT_NE(outcome.err.find("writable"), std::string::npos) << outcome.err;
  EXPECT_TRUE(std::filesystem::is_empty(dir / "ro"));
}

TEST(Program, VersionNamesTheBuildTheManifestRecords) {
  TempDir dir;
  Subprocess version({Program, "--version"}, dir.path());
  EXPECT_EQ(version.Wait(), 0);
  ASSERT_EQ(RunProgram(Program, Sweep("v.csv"), dir.path()).status, 0);
  EXPECT_EQ(version.Out(), "zelmora-batch " + Manifest(dir / "v.json")["build"].get<std::string>() + "\n");
}

}  // namespace
}  // namespace zelmora::testing
