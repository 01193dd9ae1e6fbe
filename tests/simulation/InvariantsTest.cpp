#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <ostream>
#include <tuple>
#include <utility>
#include <vector>

#include "simulation/World.h"
#include "tests/simulation/Invariants.h"
#include "tests/simulation/WorldFixture.h"

namespace zelmora {
namespace {

using testing::SeededWorld;
using testing::WorldIsConsistent;

struct Setting {
  double returnsToScale;
  double productionCost;
  double travelCost;
  int thresholdPosition;
  const char* agents;
  bool segregation;
  bool lookForCenters;
};

// The setting as it appears in the test's name: readable, and the same on every run.
void PrintTo(const Setting& s, std::ostream* os) {
  *os << "scale " << s.returnsToScale << " cost " << s.productionCost << " travel " << s.travelCost
      << " k " << s.thresholdPosition << " agents " << s.agents << (s.segregation ? " seg" : "")
      << (s.lookForCenters ? " centers" : "");
}

class EveryPhaseKeepsTheWorldConsistent
    : public ::testing::TestWithParam<std::tuple<Setting, std::uint64_t>> {};

TEST_P(EveryPhaseKeepsTheWorldConsistent, OverManySteps) {
  const auto [setting, seed] = GetParam();
  SeededWorld s(seed);
  s.settings.returnsToScale = setting.returnsToScale;
  s.settings.productionCost = setting.productionCost;
  s.settings.travelCost = setting.travelCost;
  s.settings.thresholdPercent = setting.thresholdPosition * 12.5;
  s.settings.segregation = setting.segregation;
  s.settings.lookForCenters = setting.lookForCenters;
  s.Start(setting.agents);
  World& w = s.world;
  const int agents = static_cast<int>(w.Agents.size());
  ASSERT_TRUE(WorldIsConsistent(w));
  // An agent moves at most once in each relocation phase: the moves counted are the agents that
  // stand elsewhere afterwards.
  std::vector<std::pair<int, int>> places;
  const auto movedSince = [&] {  // and the places taken anew
    int moved = 0;
    for (std::size_t i = 0; i < w.Agents.size(); ++i) {
      const std::pair<int, int> place{w.Agents[i].col, w.Agents[i].row};
      moved += std::exchange(places[i], place) != place;
    }
    return moved;
  };
  for (int step = 0; step < 300; ++step) {
    if (step == 150) {  // a new setup half way, as the button does during a run
      w.NewSetup();
      ASSERT_TRUE(WorldIsConsistent(w));
    }
    w.ComputeUnitCosts();
    w.ComputeLocalPrices();
    ASSERT_TRUE(WorldIsConsistent(w)) << "after prices, step " << step;
    places.assign(w.Agents.size(), {-1, -1});
    movedSince();
    w.RelocateUnsatisfied();
    ASSERT_TRUE(WorldIsConsistent(w)) << "after relocation, step " << step;
    ASSERT_EQ(w.SatisfiedCount + w.MovedCount, agents);
    const int relocated = movedSince();
    ASSERT_EQ(w.MovesMade, relocated) << "after relocation, step " << step;
    ASSERT_LE(relocated, w.MovedCount);
    if (setting.segregation) w.EvaluateSegregation();
    if (setting.lookForCenters) w.LookForCenters();
    ASSERT_TRUE(WorldIsConsistent(w)) << "after look for centers, step " << step;
    ASSERT_EQ(w.MovesMade, relocated + movedSince()) << "after look for centers, step " << step;
  }
  // The step itself runs the same phases. Its moves are the agents whose place changed; with look
  // for centers on an agent may move twice, or back.
  for (int step = 0; step < 20; ++step) {
    std::vector<TAgent> before = w.Agents;
    w.SimulationStep();
    ASSERT_TRUE(WorldIsConsistent(w));
    ASSERT_EQ(w.SatisfiedCount + w.MovedCount, agents);
    int changed = 0;
    for (int i = 0; i < agents; ++i) changed += before[i].col != w.Agents[i].col || before[i].row != w.Agents[i].row;
    ASSERT_LE(changed, w.MovesMade);
    ASSERT_LE(w.MovesMade, w.MovedCount + (setting.lookForCenters ? agents : 0));
    if (!setting.lookForCenters) {
      ASSERT_EQ(w.MovesMade, changed);
    }
  }
}

const Setting kSettings[] = {
    {1.0, 100, 1.0, 3, "800", true, true},      // the window's start settings
    {1.3, 100, 0.02, 5, "800", true, true},     // strong economies of scale, cheap travel
    {0.9, 500, 2.0, 3, "1200", true, true},     // diseconomies, crowded
    {1.15, 1, 1.0, 8, "400", true, true},       // nobody satisfied
    {1.2, 250, 0.5, 0, "1600", true, true},     // full grid
    {1.1, 100, 1.0, 4, "1", true, true},        // a lone agent
    {1.05, 100, 0.3, 6, "900", false, true},    // segregation off
    {1.25, 100, 0.7, 2, "700", true, false},    // look for centers off
};

INSTANTIATE_TEST_SUITE_P(SettingsAndSeeds, EveryPhaseKeepsTheWorldConsistent,
                         ::testing::Combine(::testing::ValuesIn(kSettings),
                                            ::testing::Values(1u, 2u, 3u)));

std::uint64_t Mix(std::uint64_t hash, std::uint64_t value) {
  return (hash ^ value) * 0x100000001b3ULL;  // FNV-1a, one value at a time
}

std::uint64_t HashWorld(const World& w) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (const auto& m : w.Markets) h = Mix(Mix(h, m.col), m.row);
  for (const TCell& c : w.grid.Cells()) {
    h = Mix(h, c.occupied);
    h = Mix(h, static_cast<std::uint32_t>(c.occupant));
    h = Mix(h, static_cast<std::uint32_t>(c.catchment));
    h = Mix(h, static_cast<std::uint32_t>(c.customers));
    h = Mix(h, static_cast<std::uint32_t>(c.grey));
    h = Mix(h, std::bit_cast<std::uint64_t>(c.unitCost));
    h = Mix(h, std::bit_cast<std::uint64_t>(c.localPrice));
    h = Mix(h, static_cast<std::uint32_t>(c.sameNeighbours));
  }
  for (const TAgent& a : w.Agents) {
    h = Mix(Mix(Mix(h, a.col), a.row), a.colour * 2 + (a.satisfied ? 1 : 0));
  }
  return h;
}

TEST(Determinism, FixedSeedsGiveTheSameRunEverywhere) {
  SeededWorld s(2024);
  s.settings.returnsToScale = 1.1;
  s.settings.priceScape = true;
  s.Start("800");
  for (int i = 0; i < 500; ++i) s.world.SimulationStep();
  EXPECT_EQ(HashWorld(s.world), 0x5215e13e2fb533ddull) << std::hex << HashWorld(s.world);

  SeededWorld again(2024);
  again.settings.returnsToScale = 1.1;
  again.settings.priceScape = true;
  again.Start("800");
  for (int i = 0; i < 500; ++i) again.world.SimulationStep();
  EXPECT_EQ(HashWorld(again.world), HashWorld(s.world));
}

}  // namespace
}  // namespace zelmora
