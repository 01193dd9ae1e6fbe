// The model's structure as parameters: which shapes a setup takes, the segregation rule exact at
// every radius, and the draws of each variant as docs/MODEL.md states them.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <utility>
#include <stdexcept>
#include <string>
#include <vector>

#include "simulation/ModelMath.h"
#include "simulation/World.h"
#include "tests/simulation/WorldFixture.h"

namespace zelmora {
namespace {

using testing::SeededWorld;

constexpr ModelShape Shaped(std::int32_t radius, std::int32_t markets, std::int32_t window, bool torus, bool anywhere) {
  return {.radius = radius, .markets = markets, .windowHalfWidth = window, .torus = torus, .relocateAnywhere = anywhere};
}

struct ShapeCase {
  ModelShape shape;
  int cols, rows;
  const char* refused;  // the parameter the refusal names; null where the World runs the shape
};

constexpr ShapeCase kShapeCases[] = {
    {Shaped(1, 0, 1, true, false), 10, 10, nullptr},
    {Shaped(1, 10, 20, false, true), 10, 10, nullptr},
    {Shaped(4, 10, 10, true, false), 10, 10, nullptr},  // 9 cells a side on 10
    {Shaped(5, 10, 10, true, false), 11, 11, nullptr},
    {Shaped(5, 10, 10, true, false), 10, 10, "radius"},  // 11 cells a side on 10
    {Shaped(5, 10, 10, false, false), 40, 10, "radius"},
    {Shaped(0, 10, 10, true, false), 40, 40, "radius"},
    {Shaped(6, 10, 10, true, false), 40, 40, "radius"},
    {Shaped(1, -1, 10, true, false), 40, 40, "markets"},
    {Shaped(1, 11, 10, true, false), 40, 40, "markets"},
    {Shaped(1, 10, 0, true, false), 40, 40, "search_window"},
    {Shaped(1, 10, 21, true, false), 40, 40, "search_window"},
};

// A refused shape leaves the World as it was: its shape, agents, markets and step count.
TEST(ModelShape, EverySetupTakesTheShapeOrRefusesItNamingTheParameter) {
  for (const ShapeCase& c : kShapeCases) {
    SeededWorld s(3, c.cols, c.rows);
    s.Start("30");
    s.world.SimulationStep();
    const auto markets = s.world.Markets;
    s.settings.shape = c.shape;
    std::string refusal = "none";
    try {
      s.world.NewSetup();
    } catch (const std::invalid_argument& e) {
      refusal = e.what();
    }
    EXPECT_EQ(refusal.rfind(c.refused ? c.refused : "none", 0), 0u) << refusal;
    EXPECT_TRUE(s.world.Shape() == (c.refused ? ModelShape{} : c.shape));
    if (!c.refused) continue;
    EXPECT_EQ(s.world.StepCount, 1);
    EXPECT_EQ(s.world.Agents.size(), 30u);
    EXPECT_EQ(s.world.Markets[3].row, markets[3].row);
  }
}

// 100 * same > T * n decided in integers: T in halves of a percent (12.5 K and whole percents
// among them) against 200 * same > 2T * n, for every count of a neighbourhood up to radius 5.
TEST(SegregationRule, IsExactForEveryCountUpToRadiusFive) {
  const int most = (2 * MaxRadius + 1) * (2 * MaxRadius + 1) - 1;
  int equalities = 0;
  for (int halves = 0; halves <= 200; ++halves) {
    const double threshold = halves / 2.0;
    for (int n = 0; n <= most; ++n) {
      for (int same = 0; same <= n; ++same) {
        const bool expected = 200 * same > halves * n;
        equalities += n > 0 && 200 * same == halves * n;
        ASSERT_EQ(detail::IsSatisfied(same, n - same, threshold), expected)
            << same << " like of " << n << " at " << threshold << " %";
      }
    }
  }
  EXPECT_GT(equalities, 500);  // the cases a rounding could flip were among them
}

// --- The draws, replayed from docs/MODEL.md on a copy of the occupancy and the generator. ---

struct Replay {
  std::int32_t cols, rows;
  ModelShape shape;
  std::vector<std::uint8_t> occupied;  // row-major
  std::vector<double> price;
  std::vector<TAgent> agents;
  Random random;
  std::int64_t tries = 0;

  explicit Replay(World& w) : cols(w.GridCols), rows(w.GridRows), shape(w.Shape()), agents(w.Agents), random(w.Generator()) {
    for (const TCell& cell : w.grid.Cells()) {
      occupied.push_back(cell.occupied);
      price.push_back(cell.localPrice);
    }
  }
  // A window's candidate: false where it falls off a bounded grid.
  bool Candidate(const TAgent& a, std::int32_t& col, std::int32_t& row) {
    const std::int32_t w = shape.windowHalfWidth;
    std::uint32_t dc, dr;
    random.BelowTwice(std::uint32_t(2 * w), dc, dr);
    col = a.col + std::int32_t(dc) - w;
    row = a.row + std::int32_t(dr) - w;
    if (!shape.torus) return col >= 0 && col < cols && row >= 0 && row < rows;
    while (col < 0) col += cols;
    while (col >= cols) col -= cols;
    while (row < 0) row += rows;
    while (row >= rows) row -= rows;
    return true;
  }
  void Move(TAgent& a, std::size_t k) {
    occupied[std::size_t(a.row * cols + a.col)] = 0;
    occupied[k] = 1;
    a.col = std::int32_t(k) % cols;
    a.row = std::int32_t(k) / cols;
  }
  // Up to `most` tries of the window; the first cell on the grid that `takes` is taken.
  template <class Takes>
  void Try(TAgent& a, int most, Takes takes) {
    for (int attempt = 0; attempt < most; ++attempt) {
      ++tries;
      std::int32_t col, row;
      if (Candidate(a, col, row) && takes(std::size_t(row * cols + col))) return Move(a, std::size_t(row * cols + col));
    }
  }
  void Relocate() {
    for (TAgent& a : agents) {
      if (a.satisfied) continue;
      if (!shape.relocateAnywhere) {
        Try(a, World::RelocationTries, [&](std::size_t k) { return !occupied[k]; });
        continue;
      }
      std::uint32_t free = 0;
      for (std::uint8_t o : occupied) free += o == 0;
      if (free == 0) continue;
      ++tries;
      std::uint32_t rank = random.Below(free);
      std::size_t k = 0;
      while (occupied[k] != 0 || rank-- != 0) ++k;
      Move(a, k);
    }
  }
  void LookForCenters() {
    for (TAgent& a : agents) {
      const double current = price[std::size_t(a.row * cols + a.col)];
      if (a.satisfied && shape.markets > 0) {
        Try(a, World::CenterTries, [&](std::size_t k) { return price[k] < current && !occupied[k]; });
      }
    }
  }
};

::testing::AssertionResult AsReplayed(World& w, const Replay& r, std::int64_t triesBefore) {
  if (w.CandidatesDrawn - triesBefore != r.tries) {
    return ::testing::AssertionFailure() << w.CandidatesDrawn - triesBefore << " tries, replayed " << r.tries;
  }
  Random a = w.Generator(), b = r.random;
  if (a.Next() != b.Next()) return ::testing::AssertionFailure() << "the generator is not where the replay left it";
  for (std::size_t i = 0; i < r.agents.size(); ++i) {
    if (w.Agents[i].col != r.agents[i].col || w.Agents[i].row != r.agents[i].row) {
      return ::testing::AssertionFailure() << "agent " << i << " at (" << w.Agents[i].col << ", " << w.Agents[i].row
                                           << "), replayed (" << r.agents[i].col << ", " << r.agents[i].row << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

struct DrawCase {
  const char* name;
  ModelShape shape;
  int cols, rows;
  const char* agents;
};

constexpr DrawCase kDrawCases[] = {
    {"Default", Shaped(1, 10, 10, true, false), 30, 30, "600"},
    {"WindowWiderThanTheGrid", Shaped(1, 10, 20, true, false), 10, 10, "60"},
    {"NarrowWindow", Shaped(1, 10, 1, true, false), 20, 20, "250"},
    {"BoundedOffGridTriesFail", Shaped(1, 10, 10, false, false), 12, 12, "100"},
    {"BoundedWideWindow", Shaped(2, 4, 20, false, false), 10, 16, "120"},
    {"Anywhere", Shaped(1, 10, 10, true, true), 30, 30, "700"},
    {"AnywhereOnAFullGrid", Shaped(1, 10, 10, true, true), 10, 10, "100"},
    {"NoMarketsNoCenterDraws", Shaped(3, 0, 10, true, false), 25, 25, "400"},
};

// Relocation and look for centers, on the fast and the plain phases, against their replay, after
// a few steps of a run at a threshold that leaves many agents unsatisfied.
TEST(ShapeDraws, AreTheDrawsTheModelDocumentStates) {
  for (const DrawCase& c : kDrawCases) {
    for (const bool plain : {false, true}) {
      for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        SeededWorld s(seed, c.cols, c.rows);
        s.world.UsePlainPhases(plain);
        s.settings.shape = c.shape;
        s.settings.thresholdPercent = 12.5 * double(seed % 7);
        s.Start(c.agents);
        for (std::uint64_t step = 0; step < seed % 4; ++step) s.world.SimulationStep();
        World& w = s.world;
        w.ComputeUnitCosts();
        w.ComputeLocalPrices();
        std::int64_t before = w.CandidatesDrawn;
        Replay relocation(w);
        relocation.Relocate();
        w.RelocateUnsatisfied();
        ASSERT_TRUE(AsReplayed(w, relocation, before)) << c.name << ", relocation, seed " << seed << (plain ? ", plain" : "");
        w.EvaluateSegregation();
        before = w.CandidatesDrawn;
        Replay centers(w);
        centers.LookForCenters();
        w.LookForCenters();
        ASSERT_TRUE(AsReplayed(w, centers, before)) << c.name << ", look for centers, seed " << seed << (plain ? ", plain" : "");
      }
    }
  }
}

// The markets that exist take the draws of the first of ten, and the agents theirs whatever the
// number of markets; without markets nothing is priced and nobody is anyone's customer.
TEST(ShapeMarkets, KeepTheSeedsLayoutAndPriceOnlyTheMarketsThatExist) {
  for (const int markets : {0, 1, 2, 3, 7}) {
    SeededWorld all(9, 30, 20), few(9, 30, 20);
    few.settings.shape.markets = markets;
    few.settings.priceScape = true;
    all.Start("300");
    few.Start("300");
    for (int m = 0; m < MarketCount; ++m) {
      const bool exists = m < markets;
      EXPECT_EQ(few.world.Markets[m].col, exists ? all.world.Markets[m].col : 0) << markets << ", market " << m;
      EXPECT_EQ(few.world.Markets[m].row, exists ? all.world.Markets[m].row : 0) << markets << ", market " << m;
    }
    for (std::size_t i = 0; i < all.world.Agents.size(); ++i) {
      ASSERT_EQ(few.world.Agents[i].col, all.world.Agents[i].col);
      ASSERT_EQ(few.world.Agents[i].colour, all.world.Agents[i].colour);
    }
    std::set<std::pair<int, int>> places;
    for (int m = 0; m < markets; ++m) places.insert({few.world.Markets[m].col, few.world.Markets[m].row});
    int customers = 0, marketCells = 0;
    for (int step = 0; step < 5; ++step) few.world.SimulationStep();
    for (const TCell& cell : few.world.grid.Cells()) {
      customers += cell.customers;
      marketCells += cell.isMarket;
      if (markets == 0) {
        ASSERT_EQ(cell.localPrice, 0.0);
        ASSERT_EQ(cell.grey, 180);  // no price scape
      }
    }
    EXPECT_EQ(customers, markets == 0 ? 0 : 300) << markets;
    EXPECT_EQ(marketCells, int(places.size())) << markets;
    if (markets <= YellowMarket) {
      EXPECT_EQ(few.world.LastCustomers, 0.0) << markets;
    }
  }
}

}  // namespace
}  // namespace zelmora
