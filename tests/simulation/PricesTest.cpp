#include <gtest/gtest.h>

#include <cmath>

#include "simulation/World.h"
#include "tests/simulation/Invariants.h"
#include "tests/simulation/WorldFixture.h"

namespace zelmora {
namespace {

using testing::SeededWorld;
using testing::WorldIsConsistent;

constexpr std::initializer_list<std::pair<int, int>> kSpreadMarkets = {
    {5, 5}, {20, 20}, {30, 5}, {5, 30}, {35, 35}, {12, 28}, {28, 12}, {15, 37}, {37, 15}, {0, 20}};

TEST(ComputeUnitCosts, EconomiesAndDiseconomiesOfScale) {
  SeededWorld s;
  s.StartEmpty(kSpreadMarkets);
  s.world.MarketCell(0).customers = 32;
  s.world.MarketCell(1).customers = 1;
  s.world.MarketCell(2).customers = 0;
  s.world.MarketCell(3).customers = -3;  // never happens, but must not form a power of it

  s.settings.returnsToScale = 1.1;
  s.world.ComputeUnitCosts();
  EXPECT_NEAR(s.world.MarketCell(0).unitCost, 70.71, 0.005);
  EXPECT_DOUBLE_EQ(s.world.MarketCell(0).unitCost, 32.0 / std::exp(1.1 * std::log(32.0)) * 100.0);
  EXPECT_DOUBLE_EQ(s.world.MarketCell(1).unitCost, 100.0);
  EXPECT_EQ(s.world.MarketCell(2).unitCost, 100.0);
  EXPECT_EQ(s.world.MarketCell(3).unitCost, 100.0);

  s.settings.returnsToScale = 0.9;
  s.world.ComputeUnitCosts();
  EXPECT_NEAR(s.world.MarketCell(0).unitCost, 141.42, 0.005);

  s.settings.returnsToScale = 1.0;
  s.settings.productionCost = 250.0;
  s.world.ComputeUnitCosts();
  for (int m = 0; m < MarketCount; ++m) EXPECT_DOUBLE_EQ(s.world.MarketCell(m).unitCost, 250.0);
}

TEST(ComputeLocalPrices, DeliveredPriceIsUnitCostPlusTravel) {
  SeededWorld s;
  s.StartEmpty(kSpreadMarkets);
  s.world.MarketCell(1).customers = 32;
  s.settings.returnsToScale = 1.1;
  s.world.ComputeUnitCosts();
  s.world.ComputeLocalPrices();
  // (20, 25) lies 5 below market 1 at (20, 20) and nearer to it than to any other market.
  const TCell& cell = s.world.grid[20][25];
  EXPECT_EQ(cell.catchment, 1);
  EXPECT_NEAR(cell.localPrice, 75.71, 0.005);
  EXPECT_DOUBLE_EQ(cell.localPrice, s.world.MarketCell(1).unitCost + 5.0 * 1.0);
}

TEST(ComputeLocalPrices, EveryCellBuysWhereItIsCheapestLowerIndexOnTies) {
  for (double rts : {0.9, 1.0, 1.13, 1.3}) {
    SeededWorld s(static_cast<std::uint64_t>(rts * 100));
    s.settings.returnsToScale = rts;
    s.settings.travelCost = 0.3;
    s.Start("900");
    for (int step = 0; step < 5; ++step) s.world.SimulationStep();
    s.world.ComputeUnitCosts();
    s.world.ComputeLocalPrices();
    for (const TCell& cell : s.world.grid.Cells()) {
      int best = 0;
      double bestPrice = 1e300;
      for (int k = 0; k < MarketCount; ++k) {
        const double price = s.world.MarketCell(k).unitCost + cell.marketDistance[k] * 0.3;
        if (price < bestPrice) {
          bestPrice = price;
          best = k;
        }
      }
      ASSERT_EQ(cell.catchment, best);
      ASSERT_EQ(cell.localPrice, bestPrice);
    }
    EXPECT_TRUE(WorldIsConsistent(s.world));
  }
}

TEST(ComputeLocalPrices, WithConstantReturnsCellsKeepTheirNearestMarket) {
  SeededWorld s(9);
  s.Start("800");
  std::vector<int> nearest;
  for (const TCell& cell : s.world.grid.Cells()) nearest.push_back(cell.catchment);
  s.world.ComputeUnitCosts();
  s.world.ComputeLocalPrices();
  std::size_t i = 0;
  for (const TCell& cell : s.world.grid.Cells()) ASSERT_EQ(cell.catchment, nearest[i++]);
}

TEST(ComputeLocalPrices, SharedMarketCellNeverLetsTheHigherIndexWin) {
  SeededWorld s;
  s.StartEmpty({{5, 5}, {20, 20}, {20, 20}, {30, 30}});
  s.PutAgent(21, 21, 0);
  s.PutAgent(19, 22, 1);
  s.settings.returnsToScale = 1.3;
  for (int i = 0; i < 3; ++i) {
    s.world.ComputeUnitCosts();
    s.world.ComputeLocalPrices();
  }
  for (const TCell& cell : s.world.grid.Cells()) ASSERT_NE(cell.catchment, 2);
  EXPECT_EQ(s.world.MarketCell(2).customers, s.world.MarketCell(1).customers);
  EXPECT_TRUE(WorldIsConsistent(s.world));
}

TEST(ComputeLocalPrices, CustomersFollowACatchmentSwitch) {
  SeededWorld s;
  s.StartEmpty({{10, 10}, {30, 10}});
  // (19, 10) is nearer to market 0; empty (21, 10) nearer to market 1.
  s.PutAgent(19, 10, 0);
  for (int i = 0; i < 10; ++i) {
    s.PutAgent(25 + i, 9, 0);
    s.PutAgent(25 + i, 11, 1);
  }
  ASSERT_EQ(s.world.grid[19][10].catchment, 0);
  const int before0 = s.world.MarketCell(0).customers;
  const int before1 = s.world.MarketCell(1).customers;
  // Market 1 grows cheap enough to win the agent's cell.
  s.settings.returnsToScale = 1.3;
  s.world.ComputeUnitCosts();
  s.world.ComputeLocalPrices();
  ASSERT_EQ(s.world.grid[19][10].catchment, 1);
  EXPECT_EQ(s.world.MarketCell(0).customers, before0 - 1);
  EXPECT_EQ(s.world.MarketCell(1).customers, before1 + 1);
  EXPECT_TRUE(WorldIsConsistent(s.world));
}

TEST(ComputeLocalPrices, PricesAtOrAboveTheCeilingAreNeverTaken) {
  SeededWorld s;
  s.StartEmpty(kSpreadMarkets);
  s.world.grid[3][3].localPrice = 42.0;
  s.world.grid[3][3].catchment = 7;
  s.settings.productionCost = 9999.0;
  s.world.ComputeUnitCosts();
  s.world.ComputeLocalPrices();
  EXPECT_EQ(s.world.grid[3][3].localPrice, 42.0);
  EXPECT_EQ(s.world.grid[3][3].catchment, 7);
}

}  // namespace
}  // namespace zelmora
