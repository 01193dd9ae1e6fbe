// Configurations given to the World: what it accepts it holds consistently, and what it refuses
// leaves it as it was. (The differential test steps configured Worlds on both paths.)
#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>
#include <vector>

#include "tests/simulation/Invariants.h"
#include "tests/simulation/WorldFixture.h"

namespace zelmora {
namespace {

using testing::SeededWorld;

auto Seen(const World& w) {
  std::vector<std::tuple<int, int, int, bool>> agents;
  for (const TAgent& a : w.Agents) agents.emplace_back(a.col, a.row, a.colour, a.satisfied);
  std::vector<std::tuple<int, int, double>> markets;
  for (int m = 0; m < MarketCount; ++m)
    markets.emplace_back(w.Markets[m].col, w.Markets[m].row,
                         w.grid.At(w.Markets[m].col, w.Markets[m].row).unitCost);
  return std::tuple(agents, markets, w.StepCount);
}

TEST(Configure, HoldsAGivenConfiguration) {
  SeededWorld s(3, 30, 20);
  s.Start("300");
  for (int step = 0; step < 3; ++step) s.world.SimulationStep();
  std::array<MarketPosition, MarketCount> markets;
  for (int m = 0; m < MarketCount; ++m) markets[m] = {3 * m, m % 2 == 0 ? 19 : 0};
  s.world.SetMarkets(markets);
  EXPECT_TRUE(testing::WorldIsConsistent(s.world)) << "after the markets";
  const std::vector<AgentPlace> places = {{0, 0, 1}, {29, 19, 0}, {0, 19, 1}, {14, 7, 0}};
  s.world.SetAgents(places);
  ASSERT_EQ(s.world.Agents.size(), places.size());
  for (std::size_t i = 0; i < places.size(); ++i) {
    const TAgent& a = s.world.Agents[i];
    EXPECT_EQ(std::tuple(a.col, a.row, a.colour, a.satisfied),
              std::tuple(places[i].col, places[i].row, places[i].colour, true));
  }
  EXPECT_TRUE(testing::WorldIsConsistent(s.world)) << "after the agents";
  EXPECT_EQ(s.world.StepCount, 3);
}

TEST(Configure, RefusesBadPlacesAndChangesNothing) {
  const std::vector<std::vector<AgentPlace>> agents = {
      {{0, 0, 0}, {40, 3, 1}},
      {{-1, 0, 0}},
      {{5, 39, 0}, {5, 40, 0}},
      {{5, 5, 2}},
      {{5, 5, -1}},
      {{5, 5, 0}, {6, 5, 1}, {5, 5, 1}},
  };
  const std::vector<MarketPosition> markets = {{40, 0}, {0, 40}, {-1, 3}, {3, -1}};
  SeededWorld s(5);
  s.Start("700");
  for (int step = 0; step < 3; ++step) s.world.SimulationStep();
  const auto before = Seen(s.world);
  for (const auto& places : agents) {
    EXPECT_THROW(s.world.SetAgents(places), std::invalid_argument) << places.size() << " agents";
  }
  for (const MarketPosition& place : markets) {
    std::array<MarketPosition, MarketCount> given = s.world.Markets;
    given[7] = place;
    EXPECT_THROW(s.world.SetMarkets(given), std::invalid_argument)
        << place.col << ", " << place.row;
  }
  EXPECT_EQ(Seen(s.world), before);
  EXPECT_TRUE(testing::WorldIsConsistent(s.world));
}

}  // namespace
}  // namespace zelmora
