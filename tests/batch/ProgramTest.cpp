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
#include "sweep/RequestJson.h"

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
  for (const char* field : {"format", "build", "master_seed", "request_hash", "status", "runs_in_shard", "completed_runs"}) {
    EXPECT_EQ(joined[field], whole[field]) << field;
  }
  EXPECT_EQ(joined["request"]["sweep"], whole["request"]["sweep"]);
  // The journal: a line per run in run order, each shard's, as the unsharded sweep has.
  const std::vector<std::string> a = Lines(ReadFile(dir / "all.runs.jsonl")), b = Lines(ReadFile(dir / "m.runs.jsonl"));
  ASSERT_EQ(a.size(), 6u);
  ASSERT_EQ(b.size(), a.size());
  for (std::size_t k = 0; k < a.size(); ++k) {
    const nlohmann::json x = nlohmann::json::parse(a[k]), y = nlohmann::json::parse(b[k]);
    EXPECT_EQ(y["run"], k);
    EXPECT_EQ(x["seed"], y["seed"]);
  }
}

// The model's structure as any parameter: recorded in every row (a choice by its name, the
// threshold in eighths as the real it is), written in the manifest where given, and read back
// from the sweep's own CSV as a design (R's quoting, its row names) to make the same runs again;
// its shards merge to its bytes.
TEST(Program, TheStructureRoundTripsThroughTheCsvADesignAndAMerge) {
  TempDir dir;
  const std::vector<std::string> base = {"--grid", "20x20", "--steps", "6", "--record-every", "3", "--seed", "9",
                                         "--markets", "3", "--threshold-percent", "40", "--charts", "off", "--quiet"};
  const auto run = [&](std::string out, std::vector<std::string> more) {
    std::vector<std::string> args = {"--out", out};
    args.insert(args.end(), base.begin(), base.end());
    args.insert(args.end(), more.begin(), more.end());
    const Outcome outcome = RunProgram(Program, args, dir.path());
    EXPECT_EQ(outcome.status, 0) << out << ": " << outcome.err;
  };
  const std::vector<std::string> sets = {"--set", "relocation=nearby,anywhere", "--set", "wrap=off,on"};
  run("a.csv", sets);
  const std::vector<std::string> lines = Lines(ReadFile(dir / "a.csv"));
  ASSERT_EQ(lines.size(), 1u + 4 * 3);
  const auto field = [](const std::string& line, const std::string& name) {
    std::size_t start = 0;
    for (std::size_t k = 0; k < sweep::ColumnIndex(name); ++k) start = line.find(',', start) + 1;
    return line.substr(start, line.find_first_of(",\r", start) - start);
  };
  std::string design = "\"\",\"relocation\",\"wrap\"\r\n";
  for (std::size_t row = 1; row < lines.size(); ++row) {
    const std::string& line = lines[row];
    const std::size_t point = (row - 1) / 3;  // runs in order: relocation slowest
    EXPECT_EQ(field(line, "relocation"), point < 2 ? "nearby" : "anywhere") << line;
    EXPECT_EQ(field(line, "wrap"), point % 2 == 0 ? "0" : "1") << line;
    EXPECT_EQ(field(line, "threshold"), "3.2") << line;
    EXPECT_EQ(field(line, "threshold_percent"), "40") << line;
    EXPECT_EQ(field(line, "markets"), "3") << line;
    EXPECT_EQ(field(line, "radius"), "1") << line;
    EXPECT_EQ(field(line, "search_window"), "10") << line;
    if (field(line, "step") == "0") {
      design += "\"" + std::to_string(point + 1) + "\",\"" + field(line, "relocation") + "\"," + field(line, "wrap") + "\r\n";
    }
  }
  { std::ofstream(dir / "d.csv", std::ios::binary) << design; }
  run("b.csv", {"--design", "d.csv"});
  EXPECT_EQ(ReadFile(dir / "b.csv"), ReadFile(dir / "a.csv")) << design;
  const nlohmann::json parameters = Manifest(dir / "a.json")["request"]["sweep"]["parameters"];
  EXPECT_EQ(parameters["markets"], 3);
  EXPECT_EQ(parameters["threshold_percent"], 40);
  EXPECT_FALSE(parameters.contains("radius"));  // the window's, as in every sweep before it
  for (const char* shard : {"0", "1"}) {
    std::vector<std::string> more = sets;
    more.insert(more.end(), {"--shard", shard + std::string("/2")});
    run("s" + std::string(shard) + ".csv", more);
  }
  const Outcome merged = RunProgram(Program, {"merge", "m.csv", "s1.csv", "s0.csv"}, dir.path());
  ASSERT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(ReadFile(dir / "m.csv"), ReadFile(dir / "a.csv"));
}

// A sweep that names no structure writes every column it wrote before the structure came, byte
// for byte: the hash is that of the CSV the build before wrote for this command.
TEST(Program, ASweepAtTheWindowsModelWritesTheBytesItWroteBefore) {
  TempDir dir;
  ASSERT_EQ(RunProgram(Program, {"--out", "g.csv", "--quiet", "--grid", "20x20", "--steps", "40", "--seed", "5",
                                 "--means", "on", "--set", "threshold=2,5", "--record-every", "4"},
                       dir.path()).status, 0);
  std::string before;
  for (std::string line : Lines(ReadFile(dir / "g.csv"))) {
    line.back() = ',';  // the CR of the line end
    for (std::size_t k = 0, start = 0, end; (end = line.find(',', start)) != std::string::npos; ++k, start = end + 1) {
      const auto parameter = sweep::Columns(true)[k].parameter;
      if (parameter && sweep::Parameters[*parameter].place == sweep::ColumnPlace::End) continue;
      before += line.substr(start, end - start) + ",";
    }
    before.back() = '\r';
    before += '\n';
  }
  EXPECT_EQ(sweep::Hash(before), "00a5ea0cbc65a087");
}

// Each refusal names the shard (or the missing shard's number) and changes nothing; shards of
// other sweeps are named by their first difference, a parameter with both values among them.
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
  const std::vector<std::vector<std::string>> others = {{"--threshold", "7", "--returns-to-scale", "1.2"},
                                                        {"--set", "returns-to-scale=1,1.2"},
                                                        {"--until", "settled"}};
  for (std::size_t k = 0; k < others.size(); ++k) {
    std::vector<std::string> more = {"--shard", "1/2"};
    more.insert(more.end(), others[k].begin(), others[k].end());
    ASSERT_EQ(RunProgram(Program, Sweep("o" + std::to_string(k) + ".csv", more), dir.path()).status, 0);
  }
  ASSERT_EQ(RunProgram(Program, Sweep("u1.csv", {"--shard", "1/2"}), dir.path()).status, 0);
  nlohmann::json unfinished = Manifest(dir / "u1.json");
  unfinished["status"] = "interrupted";
  { std::ofstream(dir / "u1.json") << unfinished.dump(); }
  nlohmann::json otherBuild = unfinished;
  otherBuild["status"] = "complete";
  otherBuild["build"] = "0.0+gother";
  otherBuild["request_hash"] = sweep::RequestHash(otherBuild["request"]["sweep"], "0.0+gother");
  std::filesystem::copy_file(dir / "u1.csv", dir / "b1.csv");
  std::filesystem::copy_file(dir / "u1.runs.jsonl", dir / "b1.runs.jsonl");
  { std::ofstream(dir / "b1.json") << otherBuild.dump(); }
  struct Case {
    std::vector<std::string> shards;
    std::string named;
  };
  const std::vector<Case> cases = {
      {{"s0.csv"}, "shard 1/2 is missing"},
      {{"s0.csv", "s1.csv", "s0.csv"}, "'s0.csv' is shard 0/2 again"},
      {{"s0.csv", "f1.csv"}, "'f1.csv' belongs to another sweep than 's0.csv': seed: 's0.csv' has 42, 'f1.csv' 43"},
      {{"s0.csv", "o0.csv"}, "'o0.csv' belongs to another sweep than 's0.csv': returns_to_scale: run 0 has 1 in 's0.csv', 1.2 in 'o0.csv'"},
      {{"s0.csv", "o1.csv"}, "'o1.csv' belongs to another sweep than 's0.csv': runs: 's0.csv' has 6, 'o1.csv' 12"},
      {{"s0.csv", "o2.csv"}, "'o2.csv' belongs to another sweep than 's0.csv': until: 's0.csv' has steps, 'o2.csv' settled"},
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
    EXPECT_FALSE(std::filesystem::exists(dir / "m.runs.jsonl"));
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
      {{"--out", "o.csv", "--force=1"}, "--force: expects no value"},
      {{"--out", "o.csv", "--grid", "20x20", "--grid-cols", "30"}, "--grid and --grid-cols"},
      {{"--out", "o.csv", "--set", "colour=1"}, "--set colour"},
      {{"--out", "o.csv", "--set", "threshold=1", "--set", "threshold=2"}, "--set threshold: given twice"},
      {{"--out", "o.csv", "--set", "travel_expenses=1,500"}, "--set travel-expenses: run 1"},
      {{"--out", "o.csv", "--repeats", "1000000000", "--set", "threshold=1,2"}, "--repeats: the sweep would have"},
      {{"--out", "o.csv", "--set", "production-costs=0:1000000:0.0001"}, "--set production-costs: the sweep would"},
      {{"--out", std::string(300, 'a') + ".csv"}, "--out: expects a shorter name"},
      {{"--out", "o.csv", "--design", "nothere.csv"}, "--design: cannot read 'nothere.csv'"},
      // The model's structure: ranges, a neighbourhood wider than the grid, one fact under two
      // names, names of values that do not exist.
      {{"--out", "o.csv", "--markets", "11"}, "--markets: expects a whole number of markets from 0 to 10"},
      {{"--out", "o.csv", "--radius", "0"}, "--radius: expects a whole number of cells from 1 to 5"},
      {{"--out", "o.csv", "--radius", "5", "--grid", "10x40"}, "--radius: a neighbourhood of radius 5 spans 11 "
                                                               "cells, more than a side of the 10 x 40 grid"},
      {{"--out", "o.csv", "--set", "radius=4,5", "--grid", "40x10"}, "--set radius: run 1: a neighbourhood"},
      {{"--out", "o.csv", "--threshold-percent", "101"}, "--threshold-percent: expects a whole number of percent"},
      {{"--out", "o.csv", "--threshold-percent", "37.5"}, "--threshold-percent"},
      {{"--out", "o.csv", "--threshold", "3", "--threshold-percent", "40"}, "--threshold and --threshold-percent"},
      {{"--out", "o.csv", "--search-window", "21"}, "--search-window: expects a whole number of cells from 1 to 20"},
      {{"--out", "o.csv", "--wrap", "maybe"}, "--wrap: expects on or off; got 'maybe'"},
      {{"--out", "o.csv", "--relocation", "far"}, "--relocation: expects one of nearby, anywhere; got 'far'"},
      {{"--out", "o.csv", "--set", "relocation=nearby,far"}, "--set relocation: expects one of nearby, anywhere"},
      {{"--out", "o.csv", "--set", "relocation=0:1:1"}, "--set relocation"},
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
        if kind == 'text':
            assert r[name] == 'nearby', r
    assert r['stop_step'] == '', r  # runs --steps: never stopped as settled
    assert int(r['satisfied']) + int(r['unsatisfied']) == int(r['agents']) == 200, r
    assert r['threshold'] in ('3', '5')
    assert sum(int(r['market%d_customers' % m]) for m in range(10)) >= 200
    for name, v in r.items():
        assert kinds[name] == 'text' or v == '' or math.isfinite(float(v)), r
    if r['step'] != '0':
        assert float(r['yellow_bid_price']) == float(r['market2_unit_cost']) > 0
print('ok')
)";
  { std::ofstream(dir / "check.py") << script; }
  {
    std::ofstream kinds(dir / "kinds");
    for (const sweep::Column& c : sweep::Columns()) {
      const bool named = c.kind == sweep::ColumnKind::Real || c.kind == sweep::ColumnKind::Text;
      kinds << c.name << " " << (named ? sweep::KindName(c.kind) : "integer") << "\n";
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

// A manifest whose fields are of the wrong type, or of another format: exit 2, one line naming the
// field or the format.
TEST(Program, ADamagedManifestIsRefusedNamingTheField) {
  struct Case {
    const char* pointer;
    nlohmann::json value;
    std::string named;
  };
  const std::vector<Case> cases = {
      {"/request", "x", "field 'request' is missing or not an object"},
      {"/resumed", "x", "field 'resumed' is not a list"},
      {"/build", 7, "field 'build' is missing or not a string"},
      {"/master_seed", -1, "field 'master_seed' is missing or not a whole number"},
      {"/request/sweep/steps", "x", "field 'request.sweep.steps' is missing or not a whole number"},
      {"/request/sweep/set/0/name", "colour", "field 'request.sweep.set[0].name' is missing or not a parameter's name"},
      {"/request/sweep/parameters/threshold", 4, "its request does not match its request_hash"},
      {"/format", "zelmora-sweep/9", "is of format zelmora-sweep/9, written by build"},
      {"/format", nullptr, "is of format 1 (it names none)"},
  };
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
    EXPECT_EQ(outcome.err.rfind("zelmora-batch: --resume: the manifest '", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find(c.named), std::string::npos) << outcome.err;
  }
  // A field nested deeper than a manifest nests is refused, never carried into the rewritten one.
  const std::size_t depth = 3000;
  {
    std::ofstream(dir / "d.json") << "{\"extra\":" << std::string(depth, '[') << std::string(depth, ']') << ","
                                  << good.dump().substr(1);
  }
  const Outcome nested = RunProgram(Program, args, dir.path());
  EXPECT_EQ(nested.status, 2) << nested.err;
  EXPECT_NE(nested.err.find("is damaged: it nests lists or objects more than 32 deep"), std::string::npos) << nested.err;
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

// The program as a shell starts it after `setup` (a umask, a limit).
Outcome RunInShell(const std::string& setup, const std::vector<std::string>& args, const std::string& dir) {
  std::vector<std::string> all = {"-c", setup + "; exec \"$0\" \"$@\"", Program};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram("/bin/sh", all, dir);
}

// Paths are bytes: a name that is no UTF-8 (Latin-1 here) is an output, a shard and a merge's
// output like any other, and the manifest keeps it without loss.
TEST(Program, ANameThatIsNoUtf8IsWrittenResumedAndMerged) {
  TempDir dir;
  const std::string latin = "r\xe9sum\xe9";
  ASSERT_EQ(RunProgram(Program, Sweep("plain.csv"), dir.path()).status, 0);
  for (const char* shard : {"0", "1"}) {
    const Outcome made = RunProgram(Program, Sweep(latin + shard + ".csv", {"--shard", shard + std::string("/2")}), dir.path());
    ASSERT_EQ(made.status, 0) << made.err;
  }
  const Outcome merged = RunProgram(Program, {"merge", latin + ".csv", latin + "1.csv", latin + "0.csv"}, dir.path());
  ASSERT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(ReadFile(dir / (latin + ".csv")), ReadFile(dir / "plain.csv"));
  EXPECT_EQ(Manifest(dir / (latin + "0.json"))["request"]["outputs"]["csv"]["bytes"], "72e973756de9302e637376");
  std::filesystem::rename(dir / (latin + "0.csv"), dir / (latin + "0.csv.partial"));  // as if interrupted
  const Outcome resumed = RunProgram(Program, Sweep(latin + "0.csv", {"--shard", "0/2", "--resume"}), dir.path());
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_TRUE(std::filesystem::exists(dir / (latin + "0.csv")));
}

// The sweep x.csv run whole, then cut back to a partial file of its header and run 0, as an
// interrupt leaves it; returns the whole CSV.
std::string SweepCutAfterRunZero(const TempDir& dir) {
  EXPECT_EQ(RunProgram(Program, Sweep("x.csv"), dir.path()).status, 0);
  const std::string whole = ReadFile(dir / "x.csv");
  const std::vector<std::string> lines = Lines(whole);
  std::filesystem::remove(dir / "x.csv");
  std::ofstream partial(dir / "x.csv.partial", std::ios::binary);
  for (std::size_t k = 0; k < 5 && k < lines.size(); ++k) partial << lines[k] << "\n";  // the header and run 0
  return whole;
}

// A link planted where the spool goes is never followed: a resume makes the runs again, and what
// the link points to stays as it was.
TEST(Program, AResumeDoesNotFollowALinkAtTheSpool) {
  TempDir dir;
  const std::string whole = SweepCutAfterRunZero(dir);
  const std::vector<std::string> lines = Lines(whole);
  std::filesystem::create_directory(dir / "elsewhere");
  { std::ofstream(dir / "elsewhere/run1.csv") << lines[5] << "\n"; }
  std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "x.csv.spool");
  const Outcome resumed = RunProgram(Program, Sweep("x.csv", {"--resume"}), dir.path());
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(ReadFile(dir / "x.csv"), whole);
  EXPECT_EQ(ReadFile(dir / "elsewhere/run1.csv"), lines[5] + "\n");
  EXPECT_EQ(Files(dir / "elsewhere"), std::vector<std::string>{"run1.csv"});
}

// A file size limit makes writes fail instead of ending the program: an I/O error that says so,
// and a resume command that finishes the sweep once the limit is lifted.
TEST(Program, AFileSizeLimitIsAnIoErrorWithAResumeThatWorks) {
  TempDir dir;
  const Outcome limited = RunInShell("ulimit -f 8", Sweep("x.csv", {"--jobs", "1"}), dir.path());
  EXPECT_EQ(limited.status, 1) << limited.err;
  EXPECT_NE(limited.err.find("ulimit -f"), std::string::npos) << limited.err;
  const std::size_t hint = limited.err.find("; to resume: ");
  ASSERT_NE(hint, std::string::npos) << limited.err;
  const std::string command = limited.err.substr(hint + 13, limited.err.find('\n', hint) - hint - 13);
  const Outcome resumed = RunProgram("/bin/sh", {"-c", command}, dir.path());
  ASSERT_EQ(resumed.status, 0) << command << ": " << resumed.err;
  ASSERT_EQ(RunProgram(Program, Sweep("whole.csv"), dir.path()).status, 0);
  EXPECT_EQ(ReadFile(dir / "x.csv"), ReadFile(dir / "whole.csv"));
}

// What a killed process left of an output (a merge's output, a video, a manifest, a spooled run,
// each as a temporary) goes when the output is next claimed; other outputs' files stay.
TEST(Program, StaleTemporariesOfTheOutputGoAndOthersStay) {
  TempDir dir;
  for (const char* shard : {"0", "1"}) {
    ASSERT_EQ(RunProgram(Program, Sweep("s" + std::string(shard) + ".csv", {"--shard", shard + std::string("/2")}),
                         dir.path()).status, 0);
  }
  std::filesystem::create_directory(dir / "x.csv.spool");
  const std::vector<std::string> stale = {"m.csv.tmpAb12Cd", "m.runs.jsonl.tmp000000", "x.run1.mp4.tmpQwErTy",
                                          "x.json.tmpzzzzzz", "x.run0.step4.png.tmp123456", "x.csv.spool/run3.csv.tmpabcdef"};
  const std::vector<std::string> others = {"y.csv.tmpAb12Cd", "x.b.csv.tmpABCDEF", "x.run1.mp4", "notes.tmp123456",
                                           "x.run1.tmp123456"};
  for (const std::string& name : stale) std::ofstream(dir / name) << "left";
  for (const std::string& name : others) std::ofstream(dir / name) << "kept";
  ASSERT_EQ(RunProgram(Program, {"merge", "m.csv", "s0.csv", "s1.csv"}, dir.path()).status, 0);
  ASSERT_EQ(RunProgram(Program, Sweep("x.csv", {"--force"}), dir.path()).status, 0);
  for (const std::string& name : stale) EXPECT_FALSE(std::filesystem::exists(dir / name)) << name;
  for (const std::string& name : others) EXPECT_EQ(ReadFile(dir / name), "kept") << name;
}

// Every output, videos included, takes the mode the umask leaves.
TEST(Program, OutputsTakeTheUmasksMode) {
  TempDir dir;
  std::vector<std::string> args = Sweep("x.csv", {"--snapshot-at", "2"});
  *std::find(args.begin(), args.end(), "off") = "on";  // --charts
  if (std::filesystem::exists("/usr/bin/ffmpeg")) args.insert(args.end(), {"--video", "mp4"});
  const Outcome outcome = RunInShell("umask 027", args, dir.path());
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const auto perms = entry.status().permissions() & std::filesystem::perms::all;
    EXPECT_EQ(perms, std::filesystem::perms(0640)) << entry.path();
    ++files;
  }
  EXPECT_GE(files, 3u + 6 * 3);  // the CSV, manifest and journal, three pictures a run
}

// An output that holds a sweep is not run over: the same sweep is named as such, another by its
// first difference from the command.
TEST(Program, ARerunNamesHowItDiffersFromTheSweepThere) {
  TempDir dir;
  ASSERT_EQ(RunProgram(Program, Sweep("r.csv"), dir.path()).status, 0);
  const std::string csv = ReadFile(dir / "r.csv");
  struct Case {
    std::vector<std::string> more;
    std::string named;
  };
  const std::vector<Case> cases = {
      {{}, "--out: 'r.csv' holds this sweep, complete; give --resume to finish it or --force to replace it"},
      {{"--steps", "31"}, "--out: 'r.csv' holds another sweep (steps: it has 30, the request 31); give --force"},
      {{"--centers", "off"}, "(centers: run 0 has on in it, off in the request)"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = Sweep("r.csv");
    if (!c.more.empty() && c.more[0] == "--steps") args[5] = c.more[1];
    if (!c.more.empty() && c.more[0] != "--steps") args.insert(args.end(), c.more.begin(), c.more.end());
    const Outcome outcome = RunProgram(Program, args, dir.path());
    EXPECT_EQ(outcome.status, 2) << outcome.err;
    EXPECT_NE(outcome.err.find(c.named), std::string::npos) << outcome.err;
    EXPECT_EQ(ReadFile(dir / "r.csv"), csv);
  }
}


// A resume's files, damaged as the cases below need: 20 of 24 runs whole in the partial file with
// their journal lines, run 21 whole in the spool.
struct Resumable {
  std::vector<std::string> args = {"--out", "s.csv", "--grid", "10x10", "--steps", "5", "--repeats", "24",
                                   "--seed", "5", "--jobs", "1", "--quiet"};
  std::string whole;

  explicit Resumable(const TempDir& dir) {
    EXPECT_EQ(RunProgram(Program, args, dir.path()).status, 0);
    whole = ReadFile(dir / "s.csv");
    const std::vector<std::string> rows = Lines(whole), journal = Lines(ReadFile(dir / "s.runs.jsonl"));
    std::filesystem::remove(dir / "s.csv");
    std::ofstream partial(dir / "s.csv.partial", std::ios::binary), lines(dir / "s.runs.jsonl", std::ios::binary);
    for (std::size_t k = 0; k < 1 + 20 * 6; ++k) partial << rows[k] << "\n";  // a run: steps 0 to 5
    for (std::size_t k = 0; k < 20; ++k) lines << journal[k] << "\n";
    std::filesystem::create_directory(dir / "s.csv.spool");
    std::ofstream spooled(dir / "s.csv.spool/run21.csv", std::ios::binary);
    for (std::size_t k = 1 + 21 * 6; k < 1 + 22 * 6; ++k) spooled << rows[k] << "\n";
  }
  std::vector<std::string> Resume() const {
    std::vector<std::string> resume = args;
    resume.push_back("--resume");
    return resume;
  }
};

// The program, or `command` in a shell, as the user 'nobody' where the tests run as root (root
// writes whatever a file's permissions say), after `setup`.
std::vector<std::string> AsUser(bool nobody, const std::string& setup, const std::string& command) {
  std::vector<std::string> args;
  if (nobody) args = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  args.insert(args.end(), {"/bin/sh", "-c", setup + "; " + command});
  return args;
}

std::string Quoted(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) text += " '" + arg + "'";
  return text;
}

struct Failure {
  std::string name;
  std::function<void(const TempDir&)> damage, mend;
  std::string setup, cause;
};

// Each failure of a resume keeps every run there (the partial file's, the spool's) as it was,
// exits 1 naming the cause with a resume command, and that command, once the cause is mended,
// finishes the sweep to the bytes of one never interrupted.
void ResumeFailuresKeepEveryRun(const std::vector<Failure>& failures, bool nobody) {
  for (const Failure& f : failures) {
    TempDir dir;
    const Resumable files(dir);
    f.damage(dir);
    if (nobody) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0) << entry.path();
      }
      ASSERT_EQ(::chown(dir.path().c_str(), 65534, 65534), 0);
    }
    const std::string partial = ReadFile(dir / "s.csv.partial"), spooled = ReadFile(dir / "s.csv.spool/run21.csv");
    std::vector<std::string> resume = files.Resume();
    resume.insert(resume.begin(), Program);
    const std::vector<std::string> failing = AsUser(nobody, f.setup, "exec" + Quoted(resume));
    Subprocess child(failing, dir.path());
    const int status = child.Wait();
    const std::string err = child.Err();
    EXPECT_EQ(status, 1) << f.name << ": " << err;
    EXPECT_NE(err.find(f.cause), std::string::npos) << f.name << ": " << err;
    EXPECT_EQ(ReadFile(dir / "s.csv.partial"), partial) << f.name;
    EXPECT_EQ(ReadFile(dir / "s.csv.spool/run21.csv"), spooled) << f.name;
    const std::size_t hint = err.find("; to resume: ");
    ASSERT_NE(hint, std::string::npos) << f.name << ": " << err;
    f.mend(dir);
    Subprocess resumed(AsUser(nobody, ":", err.substr(hint + 13, err.find('\n', hint) - hint - 13)), dir.path());
    EXPECT_EQ(resumed.Wait(), 0) << f.name << ": " << resumed.Err();
    EXPECT_EQ(ReadFile(dir / "s.csv"), files.whole) << f.name;
  }
}

TEST(Program, AResumeThatCannotWriteItsFilesKeepsEveryRun) {
  const auto remove = [](const TempDir& dir) { std::filesystem::remove_all(dir / "s.runs.jsonl"); };
  const std::vector<Failure> failures = {
      {"a folder at the journal",
       [](const TempDir& dir) {
         std::filesystem::remove(dir / "s.runs.jsonl");
         std::filesystem::create_directory(dir / "s.runs.jsonl");
       },
       remove, ":", "s.runs.jsonl: is not a file"},
      {"a link at the journal",
       [](const TempDir& dir) {
         std::filesystem::rename(dir / "s.runs.jsonl", dir / "elsewhere");
         std::filesystem::create_symlink(dir / "elsewhere", dir / "s.runs.jsonl");
       },
       remove, ":", "s.runs.jsonl: is a link"},
      // A file size limit, as a full disk would, fails the writes of the journal's 20 lines.
      {"a write of the journal failing", remove, [](const TempDir&) {}, "ulimit -f 1", "(past the file size limit"},
  };
  ResumeFailuresKeepEveryRun(failures, false);
}

TEST(Program, AResumeDeniedItsFilesKeepsEveryRun) {
  const bool root = ::geteuid() == 0;
  if (root && ::access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "runs as root without setpriv to become 'nobody': root reads and writes any file";
  }
  if (root) {
    TempDir probe;
    ASSERT_EQ(::chown(probe.path().c_str(), 65534, 65534), 0);
    Subprocess reach(AsUser(true, ":", "test -x '" + Program + "' && touch reached"), probe.path());
    reach.Wait();
    if (!std::filesystem::exists(probe / "reached")) {
      GTEST_SKIP() << "runs as root, and 'nobody' cannot reach the program or the tests' folder to run it";
    }
  }
  const auto mode = [](const char* name, std::filesystem::perms perms) {
    return [=](const TempDir& dir) { std::filesystem::permissions(dir / name, perms); };
  };
  using std::filesystem::perms;
  const perms readOnly = perms::owner_read | perms::group_read | perms::others_read;
  const perms readWrite = readOnly | perms::owner_write;
  const std::vector<Failure> failures = {
      {"a read-only partial file", mode("s.csv.partial", readOnly), mode("s.csv.partial", readWrite), ":",
       "s.csv.partial: cannot be opened for writing: Permission denied"},
      {"an unreadable partial file", mode("s.csv.partial", perms::none), mode("s.csv.partial", readWrite), ":",
       "s.csv.partial: cannot be read"},
      {"a read-only journal", mode("s.runs.jsonl", readOnly), mode("s.runs.jsonl", readWrite), ":",
       "s.runs.jsonl: cannot be opened for writing: Permission denied"},
  };
  ResumeFailuresKeepEveryRun(failures, root);
}

// A sweep whose partial file is gone, its manifest, journal and spooled runs there: a resume of
// another sweep is refused as a command run again over it is, touching nothing; a resume of this
// sweep takes the spooled runs (run 4's carries a mark, to show it was not made again).
TEST(Program, AResumeWhosePartialFileIsGoneKeepsItsSpooledRuns) {
  TempDir dir;
  ASSERT_EQ(RunProgram(Program, Sweep("x.csv"), dir.path()).status, 0);
  std::vector<std::string> rows = Lines(ReadFile(dir / "x.csv"));
  std::filesystem::remove(dir / "x.csv");
  std::string& marked = rows[1 + 4 * 4];  // run 4's first row: its moves gain a digit
  std::size_t at = 0;
  for (std::size_t k = 0; k <= sweep::ColumnIndex("moves"); ++k) at = marked.find(',', at) + 1;
  marked.insert(at - 1, "7");
  std::filesystem::create_directory(dir / "x.csv.spool");
  const auto spool = [&](std::size_t run) {
    std::ofstream out(dir / ("x.csv.spool/run" + std::to_string(run) + ".csv"), std::ios::binary);
    for (std::size_t k = 1 + run * 4; k < 1 + (run + 1) * 4; ++k) out << rows[k] << "\n";
  };
  spool(2);
  spool(4);
  const std::string spooled = ReadFile(dir / "x.csv.spool/run4.csv"), journal = ReadFile(dir / "x.runs.jsonl");
  std::vector<std::string> other = Sweep("x.csv", {"--centers", "off", "--resume"});
  const Outcome refused = RunProgram(Program, other, dir.path());
  EXPECT_EQ(refused.status, 2) << refused.err;
  EXPECT_NE(refused.err.find("--out: 'x.csv' holds another sweep (centers: run 0 has on in it, off in the request)"),
            std::string::npos) << refused.err;
  EXPECT_EQ(ReadFile(dir / "x.csv.spool/run4.csv"), spooled);
  EXPECT_EQ(ReadFile(dir / "x.runs.jsonl"), journal);

  const Outcome resumed = RunProgram(Program, Sweep("x.csv", {"--resume"}), dir.path());
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  std::string expected;
  for (const std::string& row : rows) expected += row + "\n";
  EXPECT_EQ(ReadFile(dir / "x.csv"), expected);
}

// A journal damaged in any way is checked line by line against the request on resume: a line that
// is not its run's is rewritten from the CSV (run and seed, times null) and the first is named;
// the lines that are their runs' keep their times. The manifest's header takes the request's
// master seed and runs, whatever it said.
TEST(Program, AResumeRewritesTheJournalLinesTheCsvProvesAndNamesTheFirst) {
  using Journal = std::vector<std::string>;
  struct Case {
    std::string name;
    std::function<void(Journal&)> damage;
    std::string named;
  };
  const std::vector<Case> cases = {
      {"another seed",
       [](Journal& j) {
         const std::size_t at = j[2].find("\"seed\":") + 7;
         j[2].replace(at, j[2].find(',', at) - at, "12345");
       },
       "line 3 gives run 2 seed 12345, not "},
      {"a line twice", [](Journal& j) { j.insert(j.begin() + 2, j[1]); }, "line 3 names run 1, not run 2"},
      {"a line missing", [](Journal& j) { j.erase(j.begin() + 1); }, "line 2 names run 2, not run 1"},
      {"two lines swapped", [](Journal& j) { std::swap(j[3], j[4]); }, "line 4 names run 4, not run 3"},
      {"garbage", [](Journal& j) { j[4] = "{\"run\":4,\"seed\""; }, "line 5 is no JSON object"},
      {"a field missing", [](Journal& j) { j[0] = j[0].substr(0, j[0].find(",\"finished\"")) + "}"; }, "line 1 lacks 'finished'"},
      {"a field more", [](Journal& j) { j[5].insert(1, "\"host\":\"x\","); }, "line 6 has 'host', a field of no journal line"},
      {"a time of another type", [](Journal& j) { j[5] = j[5].substr(0, j[5].find(",\"finished\"")) + ",\"finished\":7}"; },
       "line 6 has 'finished' neither a time nor null"},
  };
  TempDir dir;
  std::vector<std::string> other = Sweep("other.csv");
  other[9] = "43";  // the master seed
  ASSERT_EQ(RunProgram(Program, other, dir.path()).status, 0);
  std::vector<Case> all = cases;
  all.push_back({"another sweep's journal", [&](Journal& j) { j = Lines(ReadFile(dir / "other.runs.jsonl")); },
                 "line 1 gives run 0 seed"});
  for (const Case& c : all) {
    ASSERT_EQ(RunProgram(Program, Sweep("j.csv", {"--force"}), dir.path()).status, 0);
    const std::string csv = ReadFile(dir / "j.csv");
    const Journal good = Lines(ReadFile(dir / "j.runs.jsonl"));
    std::filesystem::rename(dir / "j.csv", dir / "j.csv.partial");  // as if interrupted at its end
    Journal damaged = good;
    c.damage(damaged);
    {
      std::ofstream out(dir / "j.runs.jsonl", std::ios::binary);
      for (const std::string& line : damaged) out << line << "\n";
    }
    nlohmann::json header = Manifest(dir / "j.json");
    header["master_seed"] = 7;
    header["runs_in_shard"] = 2;
    { std::ofstream(dir / "j.json") << header.dump(); }
    const Outcome resumed = RunProgram(Program, Sweep("j.csv", {"--resume"}), dir.path());
    ASSERT_EQ(resumed.status, 0) << c.name << ": " << resumed.err;
    EXPECT_NE(resumed.err.find("j.runs.jsonl: " + c.named), std::string::npos) << c.name << ": " << resumed.err;
    EXPECT_EQ(ReadFile(dir / "j.csv"), csv) << c.name;
    const Journal mended = Lines(ReadFile(dir / "j.runs.jsonl"));
    ASSERT_EQ(mended.size(), good.size()) << c.name;
    for (std::size_t k = 0; k < good.size(); ++k) {
      const nlohmann::json line = nlohmann::json::parse(mended[k]), was = nlohmann::json::parse(good[k]);
      EXPECT_EQ(line["run"], k) << c.name;
      EXPECT_EQ(line["seed"], was["seed"]) << c.name;
      // A line kept as it was, or rewritten without times.
      const bool intact = k < damaged.size() && damaged[k] == good[k];
      EXPECT_EQ(mended[k] == good[k], intact) << c.name << ": " << mended[k];
      EXPECT_TRUE(intact || (line["started"].is_null() && line["finished"].is_null())) << c.name << ": " << mended[k];
    }
    header = Manifest(dir / "j.json");
    EXPECT_EQ(header["master_seed"], 42) << c.name;
    EXPECT_EQ(header["runs_in_shard"], 6) << c.name;
  }
}

// Merge checks each shard's journal alike: a line the shard's CSV proves is rewritten and named; a
// line past the shard's runs, which nothing proves, is refused, naming it.
TEST(Program, MergeRewritesADamagedJournalLineAndRefusesOneNoRunProves) {
  TempDir dir;
  for (const char* shard : {"0", "1"}) {
    ASSERT_EQ(RunProgram(Program, Sweep("s" + std::string(shard) + ".csv", {"--shard", shard + std::string("/2")}),
                         dir.path()).status, 0);
  }
  ASSERT_EQ(RunProgram(Program, Sweep("all.csv"), dir.path()).status, 0);
  const std::string journal = ReadFile(dir / "s1.runs.jsonl");
  { std::ofstream(dir / "s1.runs.jsonl", std::ios::binary) << journal << Lines(journal)[0] << "\n"; }
  const Outcome refused = RunProgram(Program, {"merge", "m.csv", "s0.csv", "s1.csv"}, dir.path());
  EXPECT_EQ(refused.status, 2) << refused.err;
  EXPECT_NE(refused.err.find("'s1.runs.jsonl' line 4 names no run of the shard 's1.csv', which holds 3"),
            std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "m.csv"));

  std::vector<std::string> lines = Lines(journal);
  std::swap(lines[0], lines[1]);
  {
    std::ofstream out(dir / "s1.runs.jsonl", std::ios::binary);
    for (const std::string& line : lines) out << line << "\n";
  }
  const Outcome merged = RunProgram(Program, {"merge", "m.csv", "s0.csv", "s1.csv"}, dir.path());
  ASSERT_EQ(merged.status, 0) << merged.err;
  EXPECT_NE(merged.err.find("s1.runs.jsonl: line 1 names run 3, not run 1; 2 lines rewritten"), std::string::npos)
      << merged.err;
  EXPECT_EQ(ReadFile(dir / "m.csv"), ReadFile(dir / "all.csv"));
  const std::vector<std::string> a = Lines(ReadFile(dir / "all.runs.jsonl")), m = Lines(ReadFile(dir / "m.runs.jsonl"));
  ASSERT_EQ(m.size(), a.size());
  for (std::size_t k = 0; k < a.size(); ++k) {
    const nlohmann::json x = nlohmann::json::parse(a[k]), y = nlohmann::json::parse(m[k]);
    EXPECT_EQ(y["run"], k);
    EXPECT_EQ(y["seed"], x["seed"]);
    EXPECT_EQ(y["started"].is_null(), k == 1 || k == 3) << m[k];
  }
}

// A link at a spooled run's name (or anything but a file) is damage, whatever it points to: the
// run is made again, and what the link points to stays as it was.
TEST(Program, AResumeMakesAgainARunWhoseSpoolFileIsALink) {
  for (const bool folder : {false, true}) {
    TempDir dir;
    const std::string whole = SweepCutAfterRunZero(dir);
    const std::vector<std::string> lines = Lines(whole);
    {
      std::ofstream run1(dir / "run1.csv", std::ios::binary);  // run 1 whole, outside the spool
      for (std::size_t k = 5; k < 9; ++k) run1 << lines[k] << "\n";
    }
    std::filesystem::create_directory(dir / "x.csv.spool");
    if (folder) {
      std::filesystem::create_directory(dir / "x.csv.spool/run1.csv");
    } else {
      std::filesystem::create_symlink(dir / "run1.csv", dir / "x.csv.spool/run1.csv");
    }
    const std::string target = ReadFile(dir / "run1.csv");
    const Outcome resumed = RunProgram(Program, Sweep("x.csv", {"--resume"}), dir.path());
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_EQ(ReadFile(dir / "x.csv"), whole);
    EXPECT_EQ(ReadFile(dir / "run1.csv"), target);
  }
}

}  // namespace
}  // namespace zelmora::testing
