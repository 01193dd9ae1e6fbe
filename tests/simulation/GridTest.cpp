#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <stdexcept>

#include "simulation/World.h"
#include "tests/simulation/WorldFixture.h"

namespace zelmora {
namespace {

using testing::SeededWorld;

TEST(GridSize, RoundsPanelSizeHalvesToEven) {
  ModelSettings settings;
  World world(settings);
  world.SizeGrid(404, 404);
  EXPECT_EQ(world.GridCols, 40);
  EXPECT_EQ(world.GridRows, 40);
  world.SizeGrid(505, 515);
  EXPECT_EQ(world.GridCols, 50);  // 50.5 goes to the even 50
  EXPECT_EQ(world.GridRows, 52);  // 51.5 goes to the even 52
  world.SizeGrid(100, 100);
  EXPECT_EQ(world.GridCols, 10);
  EXPECT_THROW(world.SizeGrid(94, 400), std::invalid_argument);  // 9 columns
  EXPECT_THROW(world.SizeGrid(400, 0), std::invalid_argument);
}

TEST(GridSize, CellsAreCreatedRowByRowWithTheirPixelCentres) {
  SeededWorld s;
  s.Start("0");
  ASSERT_EQ(s.world.grid.Cells().size(), 1600u);
  const TCell& cell = s.world.grid[7][3];
  EXPECT_EQ(cell.PositionX(), 75);
  EXPECT_EQ(cell.PositionY(), 35);
  EXPECT_EQ(cell.Size(), 5);
  EXPECT_EQ(cell.FillColor(), 0);
  EXPECT_EQ(&s.world.grid.At(7, 3), &cell);
}

TEST(GridDistance, IsPlainEuclideanWithoutWrap) {
  EXPECT_DOUBLE_EQ(World::GridDistance(0, 0, 3, 4), 5.0);
  EXPECT_DOUBLE_EQ(World::GridDistance(3, 4, 0, 0), 5.0);
  EXPECT_NEAR(World::GridDistance(0, 0, 39, 39), 55.1543, 1e-4);
  EXPECT_DOUBLE_EQ(World::GridDistance(0, 5, 39, 5), 39.0);  // not 1 across the edge
  EXPECT_EQ(World::GridDistance(12, 12, 12, 12), 0.0);
  EXPECT_EQ(World::GridDistance(0, 0, 1, 1), std::sqrt(2.0));
}

TEST(WrapToTorus, AddsOrSubtractsTheSizeOnce) {
  SeededWorld s;
  int col = -1, row = 40;
  s.world.WrapToTorus(col, row);
  EXPECT_EQ(col, 39);
  EXPECT_EQ(row, 0);
  col = -10;
  row = 48;
  s.world.WrapToTorus(col, row);
  EXPECT_EQ(col, 30);
  EXPECT_EQ(row, 8);
  col = 17;
  row = 39;
  s.world.WrapToTorus(col, row);
  EXPECT_EQ(col, 17);
  EXPECT_EQ(row, 39);
}

TEST(ResetWorld, EveryCellTakesItsNearestMarket) {
  for (std::uint64_t seed = 1; seed <= 20; ++seed) {
    SeededWorld s(seed);
    s.Start("0");
    for (int row = 0; row < 40; ++row) {
      for (int col = 0; col < 40; ++col) {
        const TCell& cell = s.world.grid[col][row];
        int nearest = 0;
        for (int m = 1; m < MarketCount; ++m) {
          if (cell.marketDistance[m] < cell.marketDistance[nearest]) nearest = m;
        }
        ASSERT_EQ(cell.catchment, nearest);
        ASSERT_EQ(cell.minDistance, cell.marketDistance[nearest]);
        ASSERT_EQ(cell.grey, 180);
        ASSERT_EQ(cell.unitCost, 1.0);
        ASSERT_FALSE(cell.occupied);
        const auto& market = s.world.Markets[cell.catchment];
        ASSERT_EQ(cell.marketDistance[cell.catchment],
                  World::GridDistance(col, row, market.col, market.row));
      }
    }
  }
}

TEST(ResetWorld, MarketCellsAreMarkedAndOwnTheirCell) {
  SeededWorld s;
  s.StartEmpty({{5, 5}, {20, 20}, {30, 2}, {2, 30}, {35, 35}, {10, 25}, {25, 10}, {15, 38}, {38, 15}, {0, 0}});
  int marked = 0;
  for (const TCell& cell : s.world.grid.Cells()) marked += cell.isMarket ? 1 : 0;
  EXPECT_EQ(marked, 10);
  for (int m = 0; m < MarketCount; ++m) {
    const TCell& cell = s.world.MarketCell(m);
    EXPECT_TRUE(cell.isMarket);
    EXPECT_EQ(cell.marketDistance[m], 0.0);
    EXPECT_EQ(cell.catchment, m);
  }
}

TEST(ResetWorld, EqualDistanceAndSharedCellsGoToTheLowerIndex) {
  SeededWorld s;
  // Markets 1 and 2 share a cell; markets 0 and 3 stand symmetric about column 20.
  s.StartEmpty({{10, 0}, {20, 30}, {20, 30}, {30, 0}});
  EXPECT_EQ(s.world.grid[20][0].catchment, 0);  // 10 from both 0 and 3
  int higherTaken = 0;
  for (const TCell& cell : s.world.grid.Cells()) higherTaken += cell.catchment == 2 ? 1 : 0;
  EXPECT_EQ(higherTaken, 0);
  EXPECT_EQ(&s.world.MarketCell(1), &s.world.MarketCell(2));
  EXPECT_EQ(s.world.grid[20][30].catchment, 1);
}

TEST(ResetWorld, NewSetupZeroesOldMarketCountsAndKeepsLastBidPrice) {
  SeededWorld s;
  s.settings.agentCount = "800";
  s.Start();
  s.world.LastCustomers = 12.0;
  s.world.LastBidPrice = 87.5;
  std::array<MarketPosition, MarketCount> before = s.world.Markets;
  s.world.ResetWorld();
  for (const auto& market : before) {
    EXPECT_EQ(s.world.grid[market.col][market.row].customers, 0);
  }
  for (const TCell& cell : s.world.grid.Cells()) ASSERT_EQ(cell.customers, 0);
  EXPECT_EQ(s.world.LastCustomers, 0.0);
  EXPECT_EQ(s.world.LastBidPrice, 87.5);
}

TEST(Random, ReseedsFromTheClockGiveDifferentMarketsEachReset) {
  ModelSettings settings;
  settings.agentCount = "1600";
  World world(settings);
  world.SizeGrid(400, 400);
  world.CreateGrid();
  world.CreateAgents();
  auto first = world.Markets;
  int same = 0;
  for (int i = 0; i < 20; ++i) {
    world.ResetWorld();
    bool equal = true;
    for (int m = 0; m < MarketCount; ++m) {
      equal = equal && world.Markets[m].col == first[m].col && world.Markets[m].row == first[m].row;
    }
    same += equal ? 1 : 0;
  }
  EXPECT_EQ(same, 0);
}

TEST(Random, BelowIsUniformAndInRange) {
  Random random;
  random.Seed(42);
  std::array<int, 20> counts{};
  const int draws = 200000;
  for (int i = 0; i < draws; ++i) {
    const auto v = random.Below(20);
    ASSERT_LT(v, 20u);
    counts[v] += 1;
  }
  for (int c : counts) EXPECT_NEAR(c, draws / 20, 400);  // about 5 standard deviations
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(random.Below(1), 0u);
}

TEST(Random, SameSeedSameSequence) {
  Random a, b;
  a.Seed(7);
  b.Seed(7);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(a.Below(1000), b.Below(1000));
}

}  // namespace
}  // namespace zelmora
