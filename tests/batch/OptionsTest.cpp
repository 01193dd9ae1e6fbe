#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Csv.h"
#include "Subprocess.h"
#include "batch/Options.h"
#include "sweep/Record.h"
#include "sweep/RunPlan.h"
#include "simulation/Measures.h"
#include "simulation/World.h"

namespace zelmora::batch {
namespace {

using zelmora::testing::Field;

Options Parse(std::vector<std::string> args) {
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

TEST(Options, DefaultsAreTheWindowsStartValues) {
  const Options o = Parse({});
  EXPECT_EQ(o.cols, 40);
  EXPECT_EQ(o.rows, 40);
  EXPECT_EQ(o.base, Parameters{});  // threshold 3, 100, 1, 1, both phases on, 800 agents
  EXPECT_EQ(o.steps, 500);
  EXPECT_EQ(o.recordEvery, 1);
  EXPECT_FALSE(o.seed.has_value());
  EXPECT_FALSE(o.charts);  // pictures are asked for
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
      {{"--grid", "20x30", "--agents", "7"}, 7},
      {{"--grid", "20x30", "--density", "0.25"}, 150},
      {{"--density", "1"}, 1600},
  };
  for (const Case& c : cases) {
    const Options o = Parse(c.args);
    EXPECT_EQ(SweepRun(o, 1, 0).parameters.agents, c.agents) << ::testing::PrintToString(c.args);
  }
}

TEST(Options, ListsAndRangesExpandExactly) {
  struct Case {
    std::string list;
    std::vector<std::string> values;
  };
  const std::vector<Case> cases = {
      {"1:7:1", {"1", "2", "3", "4", "5", "6", "7"}},
      {"0.9:1.1:0.1", {"0.9", "1", "1.1"}},
      {"0:1:0.3", {"0", "0.3", "0.6", "0.9"}},
      {"-1:1:1", {"-1", "0", "1"}},
      {"5:5:1", {"5"}},
      {"on,off", {"on", "off"}},
      {"0.5", {"0.5"}},
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandList("--set x", c.list), c.values) << c.list;
  for (const char* bad : {"1:7", "1:7:0", "7:1:1", "1::1", "a:b:c", "1,,2", ",", "1:2:3:4", "1e1:2e1:1"}) {
    EXPECT_THROW(ExpandList("--set x", bad), UsageError) << bad;
  }
}

TEST(Sweep, OrderIsFirstSetSlowestRepeatsFastest) {
  const Options o = Parse({"--set", "threshold=1,2", "--set", "centers=on,off", "--repeats", "2"});
  const std::vector<RunPlan> runs = ShardRuns(o, 5);
  ASSERT_EQ(runs.size(), 8u);
  const std::vector<std::pair<int, bool>> expected = {{1, true},  {1, true},  {1, false}, {1, false},
                                                      {2, true},  {2, true},  {2, false}, {2, false}};
  for (std::size_t k = 0; k < runs.size(); ++k) {
    EXPECT_EQ(runs[k].index, std::int64_t(k));
    EXPECT_EQ(runs[k].parameters.threshold, expected[k].first) << k;
    EXPECT_EQ(runs[k].parameters.centers, expected[k].second) << k;
  }
}

// A design listing a cross product in --set's order is that sweep, with or without further --set
// lists and repeats: the same runs, seeds and parameters, so the same rows.
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
  };
  zelmora::testing::TempDir dir;
  for (const Case& c : cases) {
    { std::ofstream(dir / "d.csv", std::ios::binary) << c.design; }
    std::vector<std::string> designed = {"--design", dir / "d.csv"}, crossed;
    for (const std::string& set : c.sets) crossed.insert(crossed.end(), {"--set", set});
    designed.insert(designed.end(), c.more.begin(), c.more.end());
    crossed.insert(crossed.end(), c.more.begin(), c.more.end());
    const std::vector<RunPlan> a = ShardRuns(Parse(designed), 7), b = ShardRuns(Parse(crossed), 7);
    ASSERT_EQ(a.size(), b.size()) << c.design;
    for (std::size_t k = 0; k < a.size(); ++k) {
      EXPECT_TRUE(a[k].index == b[k].index && a[k].seed == b[k].seed && a[k].parameters == b[k].parameters)
          << c.design << " run " << k;
    }
  }
}

TEST(Sweep, SeedsDependOnMasterSeedAndIndexOnly) {
  // The same index gets the same seed whatever the shard, jobs or parameters.
  const Options whole = Parse({"--set", "threshold=0:8:1", "--repeats", "3"});
  const Options other = Parse({"--set", "threshold=0:8:1", "--repeats", "3", "--shard", "1/4", "--jobs", "3",
                               "--returns-to-scale", "1.2"});
  const std::vector<RunPlan> all = ShardRuns(whole, 99);
  std::set<std::uint64_t> distinct;
  for (const RunPlan& run : all) distinct.insert(run.seed);
  EXPECT_EQ(distinct.size(), all.size());
  for (const RunPlan& run : ShardRuns(other, 99)) {
    EXPECT_EQ(run.index % 4, 1);
    EXPECT_EQ(run.seed, all[std::size_t(run.index)].seed);
    EXPECT_EQ(run.parameters.threshold, all[std::size_t(run.index)].parameters.threshold);
  }
  EXPECT_NE(RunSeed(99, 0), RunSeed(100, 0));
  // Four shards hold every run exactly once.
  std::size_t count = 0;
  for (int shard = 0; shard < 4; ++shard) {
    Options part = whole;
    part.shardIndex = shard;
    part.shardCount = 4;
    for (const RunPlan& run : ShardRuns(part, 99)) {
      EXPECT_EQ(run.seed, all[std::size_t(run.index)].seed);
      ++count;
    }
  }
  EXPECT_EQ(count, all.size());
}

TEST(Sweep, RecordedStepsAreZeroEveryKthAndTheLast) {
  struct Case {
    std::int32_t steps, every;
    std::vector<std::int32_t> recorded;
  };
  const std::vector<Case> cases = {
      {10, 3, {0, 3, 6, 9, 10}}, {10, 5, {0, 5, 10}}, {0, 1, {0}}, {5, 10, {0, 5}}, {3, 1, {0, 1, 2, 3}}};
  for (const Case& c : cases) {
    std::vector<std::int32_t> recorded;
    for (std::int32_t step = 0; step <= c.steps; ++step) {
      if (IsRecorded(step, c.steps, c.every)) recorded.push_back(step);
    }
    EXPECT_EQ(recorded, c.recorded) << c.steps << "/" << c.every;
    EXPECT_EQ(RecordedCount(c.steps, c.every), c.recorded.size()) << c.steps << "/" << c.every;
  }
  // Counted, not listed: the longest runs cost nothing to plan.
  EXPECT_EQ(RecordedCount(1'000'000'000, 1), 1'000'000'001u);
  EXPECT_EQ(RecordedCount(1'000'000'000, 2147483647), 2u);
}

TEST(Record, NumbersReadBackExactlyAndNaNIsEmpty) {
  const std::vector<double> values = {0.0, 1.0, 100.0, 0.1, 1.0 / 3.0, 70.71067811865476, 1e-300, 5e-324,
                                      1.7976931348623157e308, -2.5, 123456789012345.0};
  for (double value : values) {
    std::string text;
    AppendNumber(text, value);
    EXPECT_EQ(text.find(','), std::string::npos) << text;
    double back = 0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    EXPECT_EQ(back, value) << text;
  }
  std::string empty;
  AppendNumber(empty, std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(empty, "");
  std::string zero;
  AppendNumber(zero, -0.0);
  EXPECT_EQ(zero, "0");
  EXPECT_EQ(std::signbit(*ParseFinite("-0")), false);
  std::string whole;
  AppendNumber(whole, 100.0);
  EXPECT_EQ(whole, "100");
}

// Unit costs are written from a cache keyed by customers: a changed cost at an unchanged count,
// and markets sharing a slot, must still show their own values.
TEST(Record, UnitCostsShowTheWorldsValues) {
  ModelSettings settings;
  settings.agentCount = "30";
  World world(settings);
  world.SetSeedSource(SeedStream(4));
  world.SizeGrid(100, 100);
  world.CreateGrid();
  world.CreateAgents();
  world.StepCount = 1;
  RowWriter writer(RunPlan{}, 10, 10);
  const std::vector<std::vector<double>> costs = {
      {100, 70.71067811865476, 1, 2, 3, 4, 5, 6, 7, 8}, {100.5, 0.1, 1, 2, 3, 4, 5, 6, 7, 8.25}};
  for (const auto& values : costs) {
    for (int m = 0; m < MarketCount; ++m) {
      world.MarketCell(m).unitCost = values[std::size_t(m)];
      world.MarketCell(m).customers = m % 2 * 1024;  // every market in slot 0 of the cache
    }
    std::string row;
    writer.Append(row, world, StepMeasures{});
    for (int m = 0; m < MarketCount; ++m) {
      const TCell& cell = world.MarketCell(m);  // markets may share a cell, and then its value
      EXPECT_EQ(std::stod(Field(row, "market" + std::to_string(m) + "_unit_cost")), cell.unitCost) << row;
    }
    EXPECT_EQ(Field(row, "yellow_bid_price"), Field(row, "market2_unit_cost"));
  }
}

}  // namespace
}  // namespace zelmora::batch
