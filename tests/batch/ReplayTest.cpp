// Replays of chosen runs from a sweep's manifest, as users run them: their rows are the sweep's,
// their manifests pass for no other sweep, and what would change the runs is refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "Csv.h"
#include "Subprocess.h"
#include "sweep/Columns.h"
#include "sweep/RequestJson.h"
#include "sweep/RunSelection.h"

namespace zelmora::testing {
namespace {

const std::string Program = ZELMORA_BATCH_PROGRAM;

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// A CSV's rows by run and step, the header left out.
std::map<std::pair<std::string, std::string>, std::string> RowsByRunAndStep(const std::string& path) {
  std::map<std::pair<std::string, std::string>, std::string> rows;
  const std::vector<std::string> lines = Lines(ReadFile(path));
  for (std::size_t k = 1; k < lines.size(); ++k) rows[{Field(lines[k], "run"), Field(lines[k], "step")}] = lines[k];
  return rows;
}

// Two sweeps (a --set sweep whose runs stop when settled, a design with means), each run whole,
// in two shards and merged; replays from each manifest, with pictures or recording every step.
// Every row a replay shares with its sweep is the sweep's, to the byte (its means apart when it
// records more often), it holds the runs chosen and no other, and pictures are made for them only.
TEST(Replay, ItsRowsAreTheSweepsRowsAtTheStepsBothRecord) {
  TempDir dir;
  { std::ofstream(dir / "d.csv") << "threshold,travel-expenses\n2,0.5\n5,1.5\n4,1\n"; }
  const std::vector<std::vector<std::string>> sweeps = {
      {"--grid", "20x20", "--steps", "40", "--record-every", "10", "--seed", "42", "--set", "threshold=3,5", "--set",
       "centers=on,off", "--repeats", "2", "--until", "settled:2", "--quiet"},
      {"--grid", "20x20", "--steps", "40", "--record-every", "10", "--seed", "7", "--design", "d.csv", "--repeats", "2",
       "--means", "on", "--quiet"},
  };
  struct Case {
    std::string manifest, runs;
    std::vector<std::string> more;
  };
  const std::vector<Case> replays = {{"all.json", "1,3:5", {"--record-every", "1"}},
                                     {"s1.json", "1,4", {}},
                                     {"m.json", "2", {"--charts", "on", "--snapshot-every", "20"}}};
  const std::size_t base = sweep::Columns().size();
  for (std::size_t s = 0; s < sweeps.size(); ++s) {
    const auto run = [&](const std::vector<std::string>& args) {
      const Outcome outcome = RunProgram(Program, args, dir.path());
      ASSERT_EQ(outcome.status, 0) << ::testing::PrintToString(args) << ": " << outcome.err;
    };
    const std::string tag = std::to_string(s);
    for (const char* out : {"all.csv", "s0.csv", "s1.csv", "m.csv", "again.csv"}) std::filesystem::remove(dir / out);
    run(With(sweeps[s], {"--out", "all.csv", "--force"}));
    run(With(sweeps[s], {"--out", "s0.csv", "--shard", "0/2", "--force"}));
    run(With(sweeps[s], {"--out", "s1.csv", "--shard", "1/2", "--force"}));
    std::filesystem::remove(dir / "m.json");
    std::filesystem::remove(dir / "m.runs.jsonl");
    run({"merge", "m.csv", "s0.csv", "s1.csv"});
    const auto sweepRows = RowsByRunAndStep(dir / "all.csv");
    for (const Case& c : replays) {
      const std::string out = "again" + tag + c.manifest.substr(0, 1) + ".csv";
      run(With({"--from", c.manifest, "--runs", c.runs, "--out", out, "--quiet"}, c.more));
      const auto rows = RowsByRunAndStep(dir / out);
      const bool sameSteps = c.more.empty() || c.more[0] != "--record-every";
      std::set<std::string> replayed;
      std::size_t shared = 0;
      for (const auto& [at, row] : rows) {
        replayed.insert(at.first);
        const auto kept = sweepRows.find(at);
        if (kept == sweepRows.end()) continue;
        ++shared;
        const std::vector<std::string> a = Fields(row), b = Fields(kept->second);
        EXPECT_EQ(std::vector<std::string>(a.begin(), a.begin() + std::ptrdiff_t(base)),
                  std::vector<std::string>(b.begin(), b.begin() + std::ptrdiff_t(base)))
            << out << " run " << at.first << " step " << at.second;
        EXPECT_TRUE(!sameSteps || row == kept->second) << out << ": " << row;
      }
      std::set<std::string> chosen;
      for (const auto& [at, row] : sweepRows) {
        if (!sweep::ParseRuns(c.runs)->PositionOf(std::stoll(at.first))) continue;
        chosen.insert(at.first);
        EXPECT_TRUE(rows.count(at)) << out << " lacks run " << at.first << " step " << at.second;
      }
      EXPECT_EQ(replayed, chosen) << out;
      EXPECT_GT(shared, 0u) << out;
      for (const std::string r : {"0", "1", "2", "3", "4", "5"}) {
        const std::string chart = dir / (out.substr(0, out.size() - 4) + ".run" + r + ".chart.png");
        EXPECT_EQ(std::filesystem::exists(chart), !c.more.empty() && c.more[0] == "--charts" && chosen.count(r)) << chart;
      }
    }
  }
}

nlohmann::json Manifest(const std::string& path) { return nlohmann::json::parse(ReadFile(path)); }

// A replay's manifest names the manifest and runs it replays; merge refuses it, the sweep's own
// resume over it names the runs, and the replay's command resumes it, from a cut partial file, to
// the bytes of the replay made at once.
TEST(Replay, ItsManifestPassesForNoSweepButItself) {
  TempDir dir;
  const std::vector<std::string> sweep = {"--grid", "20x20", "--steps", "30", "--record-every", "10", "--seed", "3",
                                          "--repeats", "6", "--quiet", "--out"};
  const std::vector<std::string> replay = {"--from", "all.json", "--runs", "1,3:5", "--quiet", "--out", "again.csv"};
  ASSERT_EQ(RunProgram(Program, With(sweep, {"all.csv"}), dir.path()).status, 0);
  ASSERT_EQ(RunProgram(Program, With(sweep, {"s0.csv", "--shard", "0/2"}), dir.path()).status, 0);
  ASSERT_EQ(RunProgram(Program, replay, dir.path()).status, 0);
  const nlohmann::json kept = Manifest(dir / "all.json"), made = Manifest(dir / "again.json");
  EXPECT_EQ(made["request"]["from"], "all.json");
  EXPECT_EQ(made["request"]["sweep"]["runs"], "1,3:5");
  EXPECT_EQ(made["runs_in_shard"], 4);
  EXPECT_NE(made["request_hash"], kept["request_hash"]);
  EXPECT_TRUE(kept["request"]["sweep"]["runs"].is_null());

  const Outcome merged = RunProgram(Program, {"merge", "m.csv", "s0.csv", "again.csv"}, dir.path());
  EXPECT_EQ(merged.status, 2);
  EXPECT_NE(merged.err.find("'again.csv' is a replay of runs 1,3:5"), std::string::npos) << merged.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "m.csv"));
  const Outcome resumed = RunProgram(Program, With(sweep, {"again.csv", "--resume"}), dir.path());
  EXPECT_EQ(resumed.status, 2);
  EXPECT_NE(resumed.err.find("--runs: the sweep in 'again.json' has runs 1,3:5, the command every run"),
            std::string::npos)
      << resumed.err;

  // Cut back to the header and run 1's rows, as an interrupted replay leaves it.
  const std::string whole = ReadFile(dir / "again.csv");
  const std::vector<std::string> lines = Lines(whole);
  std::filesystem::remove(dir / "again.csv");
  {
    std::ofstream partial(dir / "again.csv.partial", std::ios::binary);
    for (std::size_t k = 0; k < 5; ++k) partial << lines[k] << "\n";
    partial << lines[5].substr(0, 10);
  }
  nlohmann::json interrupted = made;
  interrupted["status"] = "interrupted";
  { std::ofstream(dir / "again.json") << interrupted.dump(); }
  const Outcome finished = RunProgram(Program, With(replay, {"--resume"}), dir.path());
  ASSERT_EQ(finished.status, 0) << finished.err;
  EXPECT_EQ(ReadFile(dir / "again.csv"), whole);
  EXPECT_EQ(Lines(ReadFile(dir / "again.runs.jsonl")).size(), 4u);
}

// The new options' bad input: one line naming the option, exit 2, no file written or changed.
TEST(Replay, BadInputOfTheNewOptionsIsRefusedNamingTheOptionAndWritesNothing) {
  TempDir dir;
  ASSERT_EQ(RunProgram(Program, {"--grid", "20x20", "--steps", "20", "--seed", "3", "--repeats", "4", "--quiet", "--out",
                                 "all.csv"},
                       dir.path())
                .status,
            0);
  nlohmann::json other = Manifest(dir / "all.json");
  other["build"] = "0.0+gother";
  other["request_hash"] = sweep::RequestHash(other["request"]["sweep"], "0.0+gother");
  { std::ofstream(dir / "other.json") << other.dump(); }
  nlohmann::json damaged = Manifest(dir / "all.json");
  damaged["request"]["sweep"]["steps"] = "many";
  { std::ofstream(dir / "damaged.json") << damaged.dump(); }
  { std::ofstream(dir / "torn.json") << ReadFile(dir / "all.json").substr(0, 40); }
  struct Case {
    std::vector<std::string> args;
    std::string named;
  };
  const std::vector<Case> cases = {
      {{"--until", "settled:0"}, "--until: expects steps, settled or settled:W"},
      {{"--until", "settled:"}, "--until"},
      {{"--until", "settled:x"}, "--until"},
      {{"--means", "yes"}, "--means: expects on or off"},
      {{"--runs", "1"}, "--runs: only with --from"},
      {{"--from", "all.json"}, "--runs: required with --from"},
      {{"--from", "all.json", "--runs", "4"}, "--runs: expects runs of the sweep in 'all.json', from 0 to 3; got '4'"},
      {{"--from", "all.json", "--runs", "1:3,2:9"}, "--runs: expects runs of the sweep in 'all.json', from 0 to 3; got '4'"},
      {{"--from", "all.json", "--runs", "3:1"}, "--runs: expects runs and ranges"},
      {{"--from", "all.json", "--runs", "1,,2"}, "--runs: expects runs and ranges"},
      {{"--from", "all.json", "--runs", "1", "--steps", "21"}, "--steps: expects at most the sweep's 20 steps"},
      {{"--from", "all.json", "--runs", "1", "--set", "threshold=3"}, "--set: not with --from"},
      {{"--from", "all.json", "--runs", "1", "--threshold", "3"}, "--threshold: not with --from"},
      {{"--from", "all.json", "--runs", "1", "--grid", "20x20"}, "--grid: not with --from"},
      {{"--from", "all.json", "--runs", "1", "--relocation", "anywhere"}, "--relocation: not with --from"},
      {{"--from", "all.json", "--runs", "1", "--seed", "3"}, "--seed: not with --from"},
      {{"--from", "all.json", "--runs", "1", "--design", "all.csv"}, "--design: not with --from"},
      {{"--from", "all.json", "--runs", "1", "--repeats", "4"}, "--repeats: not with --from"},
      {{"--from", "all.json", "--runs", "1", "--until", "settled"}, "--until: not with --from"},
      {{"--from", "all.json", "--runs", "1", "--shard", "0/2"}, "--shard: not with --from"},
      {{"--from", "other.json", "--runs", "1"}, "--from: 'other.json' was written by build 0.0+gother, this is build "},
      {{"--from", "damaged.json", "--runs", "1"}, "--from: the manifest 'damaged.json' is damaged: field 'request.sweep.steps'"},
      {{"--from", "torn.json", "--runs", "1"}, "--from: the manifest 'torn.json' is missing or not JSON"},
      {{"--from", "gone.json", "--runs", "1"}, "--from: the manifest 'gone.json' is missing"},
  };
  const auto files = [&] {
    std::map<std::string, std::string> all;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      all[entry.path().filename()] = ReadFile(entry.path());
    }
    return all;
  };
  const auto before = files();
  for (const Case& c : cases) {
    const Outcome outcome = RunProgram(Program, With(c.args, {"--out", "x.csv", "--quiet"}), dir.path());
    const std::string command = ::testing::PrintToString(c.args);
    EXPECT_EQ(outcome.status, 2) << command;
    EXPECT_EQ(Lines(outcome.err).size(), 1u) << command << ": " << outcome.err;
    EXPECT_NE(outcome.err.find(c.named), std::string::npos) << command << ": " << outcome.err;
    EXPECT_EQ(files(), before) << command;
  }
  // Both builds are named.
  const Outcome outcome = RunProgram(Program, {"--from", "other.json", "--runs", "1", "--out", "x.csv"}, dir.path());
  EXPECT_NE(outcome.err.find(Manifest(dir / "all.json")["build"].get<std::string>()), std::string::npos) << outcome.err;
}

// A replay whose --steps end before a settled run's last step did not see it settle: its rows are
// the sweep's at those steps but for stop_step, empty as in any run that makes its steps; from that
// last step on they are the sweep's to the byte.
TEST(Replay, ARunCutBeforeItSettledHasNoStopStep) {
  TempDir dir;
  ASSERT_EQ(RunProgram(Program, {"--grid", "20x20", "--steps", "300", "--until", "settled:2", "--seed", "42", "--repeats",
                                 "4", "--quiet", "--out", "all.csv"},
                       dir.path()).status, 0);
  const auto sweepRows = RowsByRunAndStep(dir / "all.csv");
  std::string run, stop;
  for (const auto& [at, row] : sweepRows) {
    if (Field(row, "stop_step").empty() || std::stoi(Field(row, "stop_step")) <= 2) continue;
    run = at.first;
    stop = Field(row, "stop_step");
  }
  ASSERT_FALSE(stop.empty()) << "no run settled after step 2; choose another seed";
  const int last = std::stoi(stop) + 1;  // W = 2: the run's last step
  const std::size_t column = sweep::ColumnIndex("stop_step");
  for (const int steps : {last - 2, last - 1, last, 300}) {
    const std::string out = "r" + std::to_string(steps) + ".csv";
    const Outcome replayed = RunProgram(Program, {"--from", "all.json", "--runs", run, "--steps", std::to_string(steps),
                                                  "--quiet", "--out", out}, dir.path());
    ASSERT_EQ(replayed.status, 0) << replayed.err;
    const auto rows = RowsByRunAndStep(dir / out);
    EXPECT_EQ(rows.size(), std::size_t(std::min(steps, last) + 1)) << steps;
    for (const auto& [at, row] : rows) {
      const std::string& kept = sweepRows.at(at);
      if (steps >= last) {
        EXPECT_EQ(row, kept) << steps;
        continue;
      }
      EXPECT_EQ(Field(row, "stop_step"), "") << steps << ": " << row;
      std::vector<std::string> a = Fields(row), b = Fields(kept);
      a.erase(a.begin() + std::ptrdiff_t(column));
      b.erase(b.begin() + std::ptrdiff_t(column));
      EXPECT_EQ(a, b) << steps << " step " << at.second;
    }
  }
}

}  // namespace
}  // namespace zelmora::testing
