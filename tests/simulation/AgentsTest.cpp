#include <gtest/gtest.h>

#include <set>
#include <string>

#include "simulation/IntegerText.h"
#include "simulation/World.h"
#include "tests/simulation/Invariants.h"
#include "tests/simulation/WorldFixture.h"

namespace zelmora {
namespace {

using testing::SeededWorld;
using testing::WorldIsConsistent;

TEST(ParseInt32, AcceptsDecimalSignsBlanksAndHex) {
  EXPECT_EQ(ParseInt32("800"), 800);
  EXPECT_EQ(ParseInt32("  25"), 25);
  EXPECT_EQ(ParseInt32("+7"), 7);
  EXPECT_EQ(ParseInt32("-12"), -12);
  EXPECT_EQ(ParseInt32("0"), 0);
  EXPECT_EQ(ParseInt32("$1F"), 31);
  EXPECT_EQ(ParseInt32("x1f"), 31);
  EXPECT_EQ(ParseInt32("X10"), 16);
  EXPECT_EQ(ParseInt32("0x320"), 800);
  EXPECT_EQ(ParseInt32("0XaB"), 171);
  EXPECT_EQ(ParseInt32("-$10"), -16);
  EXPECT_EQ(ParseInt32("2147483647"), 2147483647);
  EXPECT_EQ(ParseInt32("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(ParseInt32("$7FFFFFFF"), 2147483647);
  EXPECT_EQ(ParseInt32("$FFFFFFFF"), -1);
  EXPECT_EQ(ParseInt32("000000000000000000000042"), 42);
}

TEST(ParseInt32, RefusesAnythingElseWithTheTextInTheMessage) {
  for (const std::string text :
       {"", " ", "abc", "25 ", "2.5", "1e3", "+", "-", "$", "0x", "x", "12a", "--1", "+-1",
        "2147483648", "-2147483649", "$100000000", "99999999999999999999999999", "\t5",
        "5\n", "$G"}) {
    try {
      ParseInt32(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const SetupError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + text + "' is not a valid integer value");
    }
  }
}

TEST(CreateAgents, PlacesEachAgentOnItsOwnCellAndCountsCustomers) {
  for (std::uint64_t seed = 1; seed <= 10; ++seed) {
    SeededWorld s(seed);
    s.Start("800");
    ASSERT_EQ(s.world.Agents.size(), 800u);
    std::set<std::pair<int, int>> cells;
    for (const TAgent& agent : s.world.Agents) {
      cells.insert({agent.col, agent.row});
      EXPECT_TRUE(agent.satisfied);
      EXPECT_TRUE(agent.colour == 0 || agent.colour == 1);
      EXPECT_EQ(agent.Size(), 4);
    }
    EXPECT_EQ(cells.size(), 800u);
    EXPECT_TRUE(WorldIsConsistent(s.world));
    std::set<const TCell*> marketCells;
    int total = 0;
    for (int m = 0; m < MarketCount; ++m) {
      if (marketCells.insert(&s.world.MarketCell(m)).second) total += s.world.MarketCell(m).customers;
    }
    EXPECT_EQ(total, 800);
  }
}

TEST(CreateAgents, BothColoursOccur) {
  SeededWorld s(3);
  s.Start("800");
  int white = 0;
  for (const TAgent& agent : s.world.Agents) white += agent.colour;
  EXPECT_GT(white, 300);
  EXPECT_LT(white, 500);
}

TEST(CreateAgents, FillsEveryCellWithAsManyAgentsAsCells) {
  SeededWorld s(5);
  s.Start("1600");
  for (const TCell& cell : s.world.grid.Cells()) ASSERT_TRUE(cell.occupied);
  EXPECT_TRUE(WorldIsConsistent(s.world));
}

TEST(CreateAgents, ZeroOrNegativeMeansNoAgents) {
  for (const char* text : {"0", "-5", "-2147483648"}) {
    SeededWorld s;
    s.Start(text);
    EXPECT_TRUE(s.world.Agents.empty());
    for (int m = 0; m < MarketCount; ++m) EXPECT_EQ(s.world.MarketCell(m).customers, 0);
    for (int i = 0; i < 5; ++i) s.world.SimulationStep();
    for (int m = 0; m < MarketCount; ++m) EXPECT_EQ(s.world.MarketCell(m).customers, 0);
    EXPECT_EQ(s.world.StepCount, 5);
  }
}

TEST(CreateAgents, MoreAgentsThanCellsAreRefusedWithTheNumberAndCapacity) {
  for (const char* text : {"1601", "2000", "2147483647", "$7FFFFFFF"}) {
    SeededWorld s;
    s.Start("0");
    s.settings.agentCount = text;
    try {
      s.world.CreateAgents();
      ADD_FAILURE() << "accepted " << text;
    } catch (const SetupError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(std::to_string(ParseInt32(text))), std::string::npos) << message;
      EXPECT_NE(message.find("1600"), std::string::npos) << message;
    }
    EXPECT_TRUE(s.world.Agents.empty());
    EXPECT_EQ(s.world.Agents.capacity(), 0u);  // refused before anything was allocated
  }
}

// A setup that fails at the agent count leaves new markets, reset cells, no agents, the step count
// at 0 and the sweep count as it was.
class FailedSetup : public ::testing::TestWithParam<const char*> {};

TEST_P(FailedSetup, LeavesAResetWorldWithoutAgents) {
  SeededWorld s(11);
  s.Start("800");
  for (int i = 0; i < 30; ++i) s.world.SimulationStep();
  s.world.SweepCount = 4;
  const auto oldMarkets = s.world.Markets;
  s.settings.agentCount = GetParam();
  EXPECT_THROW(s.world.NewSetup(), SetupError);
  EXPECT_EQ(s.world.StepCount, 0);
  EXPECT_TRUE(s.world.Agents.empty());
  EXPECT_EQ(s.world.SweepCount, 4);
  bool moved = false;
  for (int m = 0; m < MarketCount; ++m) {
    moved = moved || oldMarkets[m].col != s.world.Markets[m].col ||
            oldMarkets[m].row != s.world.Markets[m].row;
  }
  EXPECT_TRUE(moved);
  for (const TCell& cell : s.world.grid.Cells()) {
    ASSERT_FALSE(cell.occupied);
    ASSERT_EQ(cell.customers, 0);
    ASSERT_EQ(cell.grey, 180);
  }
  // The run goes on over the empty world, and a valid number restores a normal setup.
  s.world.SimulationStep();
  EXPECT_EQ(s.world.StepCount, 1);
  s.settings.agentCount = "100";
  s.world.NewSetup();
  EXPECT_EQ(s.world.Agents.size(), 100u);
  EXPECT_EQ(s.world.SweepCount, 0);
  EXPECT_TRUE(WorldIsConsistent(s.world));
}

INSTANTIATE_TEST_SUITE_P(BadCounts, FailedSetup, ::testing::Values("abc", "", "2.5", "2000"));

}  // namespace
}  // namespace zelmora
