#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Subprocess.h"
#include "batch/Options.h"
#include "sweep/Design.h"
#include "sweep/Manifest.h"
#include "sweep/RequestJson.h"

namespace zelmora::batch {
namespace {

using sweep::ParameterIndex;
using sweep::Request;
using sweep::RunPlan;

Request Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "zelmora-batch");
  if (std::find(args.begin(), args.end(), "--out") == args.end()) {
    args.push_back("--out");
    args.push_back("o.csv");
  }
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  std::string help;
  return *ParseCommandLine(int(argv.size()), argv.data(), help);
}

// The shard's runs, made from the request.
std::vector<RunPlan> Runs(const Request& request, std::uint64_t seed) {
  std::vector<RunPlan> runs;
  for (std::int64_t k = 0; k < sweep::ShardSize(request); ++k) {
    runs.push_back(sweep::RunAt(request, seed, sweep::ShardRun(request, k)));
  }
  return runs;
}

double Value(const RunPlan& run, std::string_view name) { return run.parameters[*sweep::FindParameter(name)]; }

TEST(Options, DefaultsAreTheWindowsStartValues) {
  const Request o = Parse({});
  EXPECT_EQ(o.base.given, 0u);  // every parameter at the table's default
  const RunPlan run = sweep::RunAt(o, 1, 0);
  const std::pair<const char*, double> defaults[] = {{"grid_cols", 40}, {"grid_rows", 40}, {"agents", 800},
                                                     {"threshold", 3},  {"production_costs", 100},
                                                     {"segregation", 1}, {"density", 0.5}};
  for (const auto& [name, value] : defaults) EXPECT_EQ(Value(run, name), value) << name;
  EXPECT_EQ(o.steps, 500);
  EXPECT_EQ(o.recordEvery, 1);
  EXPECT_FALSE(o.seed.has_value());
  EXPECT_FALSE(o.pictures.Any());  // pictures are asked for
}

TEST(Options, AgentsFollowTheGridOrTheDensity) {
  struct Case {
    std::vector<std::string> args;
    std::int64_t agents;
  };
  const std::vector<Case> cases = {
      {{"--grid", "20x30"}, 300},
      {{"--grid", "11x11"}, 60},
      {{"--grid", "40x40"}, 800},
      {{"--grid-cols", "20", "--grid-rows", "30"}, 300},
      {{"--grid", "20x30", "--agents", "7"}, 7},
      {{"--grid", "20x30", "--density", "0.25"}, 150},
      {{"--density", "1"}, 1600},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Value(sweep::RunAt(Parse(c.args), 1, 0), "agents"), double(c.agents)) << ::testing::PrintToString(c.args);
  }
}

// The command line the resume hint prints gives back the request it was printed from: the same
// runs, shard, pictures and threads, whatever the request holds.
TEST(Options, TheResumeCommandGivesBackItsRequest) {
  zelmora::testing::TempDir dir;
  { std::ofstream(dir / "d.csv") << "threshold,travel-expenses\n2,0.5\n5,1.5\n"; }
  const Request swept = Parse({"--design", dir / "d.csv", "--repeats", "3", "--seed", "5", "--means", "on"});
  { std::ofstream(dir / "s.json") << sweep::NewManifest(swept, 5, false, "zelmora-batch", "s.runs.jsonl").dump(); }
  const std::vector<std::vector<std::string>> commands = {
      {},
      {"--grid", "20x30", "--density", "0.3", "--set", "returns-to-scale=0.9:1.1:0.1", "--until", "settled"},
      {"--until", "settled:20", "--means", "on", "--record-every", "3"},
      {"--from", dir / "s.json", "--runs", "1,3:4", "--steps", "300", "--means", "off", "--snapshot-at", "3"},
      {"--design", dir / "d.csv", "--set", "centers=on,off", "--repeats", "3", "--snapshot-at", "0,5", "--charts",
       "window", "--shard", "1/3", "--quiet", "--progress-every", "5"},
      {"--set", "agents=10,20", "--grid-cols", "15", "--threshold", "7", "--video", "gif", "--snapshot-every", "4"},
  };
  for (const std::vector<std::string>& command : commands) {
    const Request given = Parse(command);
    const std::uint64_t seed = given.seed.value_or(77);  // a replay's is its sweep's
    const std::vector<std::string> again = ResumeArguments(given, seed, 0);
    ASSERT_EQ(again.back(), "--resume");
    const Request resumed = Parse({again.begin() + 1, again.end()});
    Request seeded = given;
    seeded.seed = seed;
    const std::string shown = ShellCommand(again);
    EXPECT_FALSE(sweep::FirstDifference(seeded, resumed).has_value()) << shown;
    EXPECT_EQ(resumed.pictures, given.pictures) << shown;
    EXPECT_EQ(resumed.shardIndex * 100 + resumed.shardCount, given.shardIndex * 100 + given.shardCount) << shown;
    EXPECT_EQ(resumed.jobs, given.jobs) << shown;
    EXPECT_EQ(resumed.quiet, given.quiet) << shown;
    EXPECT_EQ(resumed.progressEvery, given.progressEvery) << shown;
    EXPECT_EQ(std::find(again.begin(), again.end(), "--force"), again.end()) << shown;
    const std::vector<std::string> fewer = ResumeArguments(given, seed, 1);
    EXPECT_EQ(Parse({fewer.begin() + 1, fewer.end()}).jobs, 1) << shown;
  }
}

// --parameters: a header, then one parameter a line with six tab-separated fields, the name first
// (what a shell's completion of --set reads); every name is an option and a name --set takes.
TEST(Options, TheParametersListIsTheTableOneALine) {
  std::istringstream lines(ParameterListing());
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "name\tkind\trange\tdefault\tunit\tdescription");
  std::size_t count = 0;
  for (; std::getline(lines, line); ++count) {
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 5) << line;
    const std::string name = line.substr(0, line.find('\t'));
    ASSERT_LT(count, sweep::ParameterCount);
    EXPECT_EQ(name, sweep::Parameters[count].name);
    std::string dashed = name;
    std::replace(dashed.begin(), dashed.end(), '_', '-');
    const std::string option = sweep::ValueText(count, sweep::Parameters[count].low);
    EXPECT_TRUE(Parse({"--" + dashed, option}).base.Given(count)) << name;
    EXPECT_EQ(Parse({"--set", name + "=" + option}).axes.at(0).parameter, count) << name;
  }
  EXPECT_EQ(count, sweep::ParameterCount);
}

// The docs' parameter reference is the same table: "| `name` | kind | range | default | unit |
// description |", a '|' in a field escaped.
TEST(Options, TheDocsListTheParametersAsTheProgramDoes) {
  std::vector<std::string> documented, listed;
  std::istringstream doc(zelmora::testing::ReadFile(ZELMORA_SOURCE_DIR "/docs/EXPERIMENTS.md"));
  for (std::string line; std::getline(doc, line);) {
    for (const sweep::ParameterRow& row : sweep::Parameters) {
      // The parameter table's rows have six fields; the column table's, which share names, three.
      std::size_t fields = 0;
      for (std::size_t at = line.find(" | "); at != std::string::npos; at = line.find(" | ", at + 1)) fields++;
      if (line.rfind("| `" + std::string(row.name) + "` | ", 0) == 0 && fields >= 5) documented.push_back(line);
    }
  }
  std::istringstream lines(ParameterListing());
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    std::string row = "| `" + line.substr(0, line.find('\t')) + "` | ";
    for (const char c : line.substr(line.find('\t') + 1)) row += c == '\t' ? std::string(" | ") : c == '|' ? "\\|" : std::string(1, c);
    listed.push_back(row + " |");
  }
  EXPECT_EQ(documented, listed);
}

// A switch takes no value: --force=1 would be kept in a resume command that is then refused.
TEST(Options, SwitchesTakeNoValue) {
  for (const char* flag : {"--force=1", "--resume=true", "--quiet=0"}) {
    try {
      Parse({flag});
      ADD_FAILURE() << flag << ": accepted";
    } catch (const UsageError& e) {
      const std::string name(flag, std::string(flag).find('='));
      EXPECT_EQ(std::string(e.what()).rfind(name + ": expects no value", 0), 0u) << e.what();
    }
  }
}

TEST(Sweep, OrderIsFirstSetSlowestRepeatsFastest) {
  const std::vector<RunPlan> runs = Runs(Parse({"--set", "threshold=1,2", "--set", "centers=on,off", "--repeats", "2"}), 5);
  ASSERT_EQ(runs.size(), 8u);
  const std::vector<std::pair<int, bool>> expected = {{1, true},  {1, true},  {1, false}, {1, false},
                                                      {2, true},  {2, true},  {2, false}, {2, false}};
  for (std::size_t k = 0; k < runs.size(); ++k) {
    EXPECT_EQ(runs[k].index, std::int64_t(k));
    EXPECT_EQ(Value(runs[k], "threshold"), expected[k].first) << k;
    EXPECT_EQ(Value(runs[k], "centers"), expected[k].second) << k;
  }
}

// A design listing a cross product in --set's order is that sweep, with or without further --set
// lists and repeats: the same runs, seeds and parameters, so the same rows. Designs are written as
// people write them: dashes or underscores, quoted names, R's TRUE and FALSE, a blank line at the
// end, an index column of row numbers.
TEST(Sweep, ADesignOfACrossProductIsThatSweep) {
  struct Case {
    std::string design;
    std::vector<std::string> sets, more;
  };
  const std::vector<Case> cases = {
      {"threshold,centers\n2,on\n2,False\n5,1\n5,0\n", {"threshold=2,5", "centers=on,off"}, {}},
      {"returns-to-scale\r\n0.9\r\n1.25\r\n", {"returns-to-scale=0.9,1.25"}, {"--set", "density=0.1,0.3"}},
      {"\xEF\xBB\xBF" "density,travel-expenses\n0.1,2\n0.1,0.5\n0.4,2\n0.4,0.5\n",
       {"density=0.1,0.4", "travel-expenses=2,0.5"}, {"--repeats", "3", "--set", "segregation=off,on"}},
      {"\"\",\"threshold\",\"centers\"\n\"1\",2,TRUE\n\"2\",2,FALSE\n\"3\",5,TRUE\n\"4\",5,FALSE\n\n",
       {"threshold=2,5", "centers=on,off"}, {}},
      {",grid_cols,travel_expenses\n0,10,1.5\n1,30,1.5\n", {"grid-cols=10,30", "travel-expenses=1.5"}, {}},
  };
  zelmora::testing::TempDir dir;
  for (const Case& c : cases) {
    { std::ofstream(dir / "d.csv", std::ios::binary) << c.design; }
    std::vector<std::string> designed = {"--design", dir / "d.csv"}, crossed;
    for (const std::string& set : c.sets) crossed.insert(crossed.end(), {"--set", set});
    designed.insert(designed.end(), c.more.begin(), c.more.end());
    crossed.insert(crossed.end(), c.more.begin(), c.more.end());
    const Request a = Parse(designed), b = Parse(crossed);
    EXPECT_FALSE(sweep::FirstDifference(a, b).has_value()) << c.design;
    const std::vector<RunPlan> x = Runs(a, 7), y = Runs(b, 7);
    ASSERT_EQ(x.size(), y.size()) << c.design;
    for (std::size_t k = 0; k < x.size(); ++k) {
      EXPECT_TRUE(x[k].index == y[k].index && x[k].seed == y[k].seed && x[k].parameters == y[k].parameters)
          << c.design << " run " << k;
    }
  }
}

TEST(Sweep, SeedsDependOnMasterSeedAndIndexOnly) {
  // The same index gets the same seed whatever the shard, jobs or parameters.
  const Request whole = Parse({"--set", "threshold=0:8:1", "--repeats", "3"});
  const Request other = Parse({"--set", "threshold=0:8:1", "--repeats", "3", "--shard", "1/4", "--jobs", "3",
                               "--returns-to-scale", "1.2"});
  const std::vector<RunPlan> all = Runs(whole, 99);
  std::set<std::uint64_t> distinct;
  for (const RunPlan& run : all) distinct.insert(run.seed);
  EXPECT_EQ(distinct.size(), all.size());
  for (const RunPlan& run : Runs(other, 99)) {
    EXPECT_EQ(run.index % 4, 1);
    EXPECT_EQ(run.seed, all[std::size_t(run.index)].seed);
    EXPECT_EQ(Value(run, "threshold"), Value(all[std::size_t(run.index)], "threshold"));
  }
  EXPECT_NE(sweep::RunSeed(99, 0), sweep::RunSeed(100, 0));
  // Four shards hold every run exactly once.
  std::size_t count = 0;
  for (int shard = 0; shard < 4; ++shard) {
    Request part = whole;
    part.shardIndex = shard;
    part.shardCount = 4;
    for (const RunPlan& run : Runs(part, 99)) {
      EXPECT_EQ(run.seed, all[std::size_t(run.index)].seed);
      ++count;
    }
  }
  EXPECT_EQ(count, all.size());
}

}  // namespace
}  // namespace zelmora::batch
