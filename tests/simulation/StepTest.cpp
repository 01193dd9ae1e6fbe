#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "simulation/World.h"
#include "tests/simulation/Invariants.h"
#include "tests/simulation/WorldFixture.h"

namespace zelmora {
namespace {

using testing::SeededWorld;
using testing::WorldIsConsistent;

// Records, in order, what a step asks of the window and what it shows, collapsing repeats.
struct Recorder : ModelSettings, WorldView {
  mutable std::vector<std::string> log;
  void Note(const std::string& what) const {
    if (log.empty() || log.back() != what) log.push_back(what);
  }
  double ReturnsToScale() const override { Note("ReturnsToScale"); return returnsToScale; }
  double ProductionCost() const override { Note("ProductionCost"); return productionCost; }
  double TravelCost() const override { Note("TravelCost"); return travelCost; }
  double ThresholdPercent() const override { Note("ThresholdPercent"); return thresholdPercent; }
  bool PriceScapeShown() const override { Note("PriceScapeShown"); return priceScape; }
  bool SegregationActive() const override { Note("SegregationActive"); return segregation; }
  bool LookForCentersActive() const override { Note("LookForCentersActive"); return lookForCenters; }
  bool CatchmentShown() const override { Note("CatchmentShown"); return showCatchment; }
  std::string AgentCountText() const override { Note("AgentCountText"); return agentCount; }
  void DrawCell(const TCell&, bool) override { Note("DrawCell"); }
  void DrawAgent(const TAgent&) override { Note("DrawAgent"); }
  void ClearChart() override { Note("ClearChart"); }
  void ResetChartRange() override { Note("ResetChartRange"); }
  void ShowStepCount(int n) override { Note("ShowStepCount " + std::to_string(n)); }
  void FeedChart(const ChartPoint& point) override { Note("FeedChart " + std::to_string(point.step)); }
};

struct RecordedWorld {
  Recorder rec;
  World world{rec, rec};
  RecordedWorld() {
    std::uint64_t seed = 77;
    world.SetSeedSource([seed]() mutable { return seed++; });
    world.SizeGrid(404, 404);
    world.CreateGrid();
    world.CreateAgents();
    rec.log.clear();
  }
};

TEST(SimulationStep, RunsItsPhasesInOrder) {
  RecordedWorld r;
  r.rec.priceScape = true;
  r.world.SimulationStep();  // nobody is unsatisfied yet, so nobody moves in the relocation phase
  r.world.SimulationStep();
  const std::vector<std::string> one = {
      "ReturnsToScale", "ProductionCost",    // unit costs
      "TravelCost",                          // local prices
      "PriceScapeShown",                     // price scape switch
      "CatchmentShown", "DrawCell",          // redraw, read once per cell
  };
  ASSERT_GE(r.rec.log.size(), one.size());
  EXPECT_EQ(std::vector<std::string>(r.rec.log.begin(), r.rec.log.begin() + one.size()), one);
  const auto at = [&](const std::string& what, std::size_t from = 0) {
    for (std::size_t i = from; i < r.rec.log.size(); ++i) {
      if (r.rec.log[i] == what) return i;
    }
    return r.rec.log.size();
  };
  const std::size_t seg = at("SegregationActive");
  EXPECT_LT(seg, at("ThresholdPercent"));
  EXPECT_LT(at("ThresholdPercent"), at("LookForCentersActive"));
  EXPECT_LT(at("LookForCentersActive"), at("DrawAgent"));
  EXPECT_EQ(at("ShowStepCount 1"), at("DrawAgent", at("LookForCentersActive")) + 1);
  EXPECT_EQ(at("FeedChart 1"), at("ShowStepCount 1") + 1);
  EXPECT_EQ(at("ReturnsToScale", 1), at("FeedChart 1") + 1);  // the second step starts afresh
  EXPECT_LT(at("FeedChart 2"), r.rec.log.size());
}

TEST(SimulationStep, SwitchedOffPhasesAreNotAsked) {
  RecordedWorld r;
  r.rec.segregation = false;
  r.rec.lookForCenters = false;
  r.world.SimulationStep();
  for (const auto& entry : r.rec.log) EXPECT_NE(entry, "ThresholdPercent");
  EXPECT_EQ(r.world.StepCount, 1);
  EXPECT_EQ(r.rec.log.back(), "FeedChart 1");
}

TEST(SimulationStep, FirstStepAfterSetupMovesNoUnsatisfiedAgent) {
  SeededWorld s(13);
  s.Start("800");
  s.world.SimulationStep();
  EXPECT_EQ(s.world.MovedCount, 0);
  EXPECT_EQ(s.world.SatisfiedCount, 800);
  for (int i = 0; i < 5; ++i) s.world.SimulationStep();
  EXPECT_GT(s.world.MovedCount, 0);  // by now some agents are unsatisfied
  s.world.NewSetup();
  EXPECT_EQ(s.world.StepCount, 0);
  s.world.SimulationStep();
  EXPECT_EQ(s.world.StepCount, 1);
  EXPECT_EQ(s.world.MovedCount, 0);
  EXPECT_TRUE(WorldIsConsistent(s.world));
}

TEST(SimulationStep, WithSegregationOffTheFlagsStayAsTheyWere) {
  SeededWorld s(17);
  s.Start("800");
  for (int i = 0; i < 5; ++i) s.world.SimulationStep();
  s.settings.segregation = false;
  std::vector<bool> flags;
  int unsatisfied = 0;
  for (const TAgent& a : s.world.Agents) {
    flags.push_back(a.satisfied);
    unsatisfied += a.satisfied ? 0 : 1;
  }
  ASSERT_GT(unsatisfied, 0);
  for (int i = 0; i < 20; ++i) {
    s.world.SimulationStep();
    EXPECT_EQ(s.world.MovedCount, unsatisfied);  // they go on jumping every step
  }
  for (std::size_t i = 0; i < flags.size(); ++i) ASSERT_EQ(s.world.Agents[i].satisfied, flags[i]);
}

TEST(SimulationStep, WithSegregationOffFromTheStartNobodyBecomesUnsatisfied) {
  SeededWorld s(19);
  s.settings.segregation = false;
  s.Start("800");
  for (int i = 0; i < 50; ++i) {
    s.world.SimulationStep();
    ASSERT_EQ(s.world.MovedCount, 0);
  }
}

TEST(SimulationStep, AllSwitchesOffStillPricesCountsAndFeeds) {
  Recorder rec;
  rec.segregation = false;
  rec.lookForCenters = false;
  rec.priceScape = false;
  World world(rec, rec);
  world.SizeGrid(400, 400);
  world.CreateGrid();
  world.CreateAgents();
  for (TAgent& a : world.Agents) a.satisfied = false;
  world.CellsEdited();
  rec.log.clear();
  world.SimulationStep();
  EXPECT_EQ(world.MovedCount, 800);
  EXPECT_EQ(rec.log.front(), "ReturnsToScale");
  EXPECT_EQ(rec.log.back(), "FeedChart 1");
  EXPECT_TRUE(WorldIsConsistent(world));
}

// A window left running for weeks reaches the counter's maximum; the count then stays there,
// in the plain and the fast step alike, and is shown as it stands.
TEST(SimulationStep, StepCountStopsAtItsMaximum) {
  constexpr std::int32_t max = std::numeric_limits<std::int32_t>::max();
  const std::int32_t starts[] = {max - 2, max - 1, max};
  for (const bool plain : {false, true}) {
    for (const std::int32_t start : starts) {
      RecordedWorld r;
      r.world.UsePlainPhases(plain);
      r.world.StepCount = start;
      for (int i = 1; i <= 3; ++i) {
        r.world.SimulationStep();
        const std::int32_t expected = start > max - i ? max : start + i;
        ASSERT_EQ(r.world.StepCount, expected) << start << " + " << i;
        ASSERT_EQ(r.rec.log.back(), "FeedChart " + std::to_string(expected));
      }
    }
  }
}

TEST(ShowPriceScape, NinefoldPriceRoundedHalvesToEven) {
  SeededWorld s;
  s.StartEmpty({{0, 0}});
  const double prices[] = {2.5, 3.5, 30.0, 0.0, 100.0 / 9.0};
  const int greys[] = {22, 32, 270, 0, 100};
  for (int i = 0; i < 5; ++i) s.world.grid[i][0].localPrice = prices[i];
  s.world.CellsEdited();
  s.world.ShowPriceScape();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(s.world.grid[i][0].grey, greys[i]) << prices[i];
  s.world.GrayCells();
  for (const TCell& cell : s.world.grid.Cells()) ASSERT_EQ(cell.grey, 180);
}

TEST(DrawAgents, SetsTheShadeFromTheColour) {
  SeededWorld s;
  s.Start("200");
  s.world.DrawAgents();
  for (const TAgent& a : s.world.Agents) ASSERT_EQ(a.shade, a.colour * 255);
}

}  // namespace
}  // namespace zelmora
