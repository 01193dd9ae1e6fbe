// The fast phases against the plain ones: two Worlds from the same seeds, one running the plain
// reference, must agree in every field of every cell and agent, the markets, the counters and the
// generator after every phase, through parameter changes, edits, given configurations and new
// setups.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "simulation/Registers.h"
#include "simulation/World.h"
#include "tests/simulation/Invariants.h"
#include "tests/simulation/WorldFixture.h"

namespace zelmora {
namespace {

using testing::SeededWorld;

bool Same(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

::testing::AssertionResult SameWorld(World& fast, World& plain) {
  const auto fail = [] { return ::testing::AssertionFailure(); };
  if (fast.GridCols != plain.GridCols || fast.GridRows != plain.GridRows ||
      fast.StepCount != plain.StepCount || fast.SatisfiedCount != plain.SatisfiedCount ||
      fast.MovedCount != plain.MovedCount || fast.MovesMade != plain.MovesMade || fast.SweepCount != plain.SweepCount ||
      !Same(fast.LastCustomers, plain.LastCustomers) || !Same(fast.LastBidPrice, plain.LastBidPrice) ||
      fast.CandidatesDrawn != plain.CandidatesDrawn) {
    return fail() << "counters differ (candidates " << fast.CandidatesDrawn << " against "
                  << plain.CandidatesDrawn << ", satisfied " << fast.SatisfiedCount << " against "
                  << plain.SatisfiedCount << ")";
  }
  for (int m = 0; m < MarketCount; ++m) {
    if (fast.Markets[m].col != plain.Markets[m].col || fast.Markets[m].row != plain.Markets[m].row) {
      return fail() << "market " << m << " differs";
    }
  }
  Random a = fast.Generator();
  Random b = plain.Generator();
  if (a.Next() != b.Next()) return fail() << "the generators went apart";

  const auto& fc = fast.grid.Cells();
  const auto& pc = plain.grid.Cells();
  if (fc.size() != pc.size()) return fail() << "grid sizes differ";
  for (std::size_t k = 0; k < fc.size(); ++k) {
    const TCell& f = fc[k];
    const TCell& p = pc[k];
    bool same = f.occupant == p.occupant && f.sameNeighbours == p.sameNeighbours &&
                f.otherNeighbours == p.otherNeighbours && f.isMarket == p.isMarket &&
                Same(f.minDistance, p.minDistance) && f.catchment == p.catchment &&
                f.occupied == p.occupied && f.grey == p.grey && f.customers == p.customers &&
                Same(f.unitCost, p.unitCost) && Same(f.localPrice, p.localPrice) &&
                f.PositionX() == p.PositionX() && f.PositionY() == p.PositionY() &&
                f.Size() == p.Size() && f.FillColor() == p.FillColor() && f.State() == p.State();
    for (int m = 0; m < MarketCount; ++m) same = same && Same(f.marketDistance[m], p.marketDistance[m]);
    if (!same) {
      return fail() << "cell (" << k % fast.GridCols << ", " << k / fast.GridCols << ") differs: "
                    << "counts " << f.sameNeighbours << "/" << f.otherNeighbours << " against "
                    << p.sameNeighbours << "/" << p.otherNeighbours << ", price " << f.localPrice
                    << " against " << p.localPrice << ", grey " << f.grey << " against " << p.grey;
    }
  }
  // What readers ask answers the same on both paths: kept by the fast World, worked out from the
  // cells and agents by the plain one.
  if (!Same(fast.LocalPriceSum(), plain.LocalPriceSum())) return fail() << "the price sums differ";
  if (fast.UnsatisfiedAgents() != plain.UnsatisfiedAgents()) return fail() << "the unsatisfied agents differ";
  std::vector<std::uint8_t> fastScratch, plainScratch;
  std::vector<double> fastPrices, plainPrices;
  if (!std::equal(fc.begin(), fc.end(), fast.Occupancy(fastScratch), [](const TCell& c, std::uint8_t s) {
        return s == (c.occupied ? 1 + c.State() : 0);
      })) {
    return fail() << "the occupancy the fast World gives differs from its cells";
  }
  if (!std::equal(pc.begin(), pc.end(), plain.Occupancy(plainScratch), [](const TCell& c, std::uint8_t s) {
        return s == (c.occupied ? 1 + c.State() : 0);
      })) {
    return fail() << "the occupancy the plain World gives differs from its cells";
  }
  if (!std::equal(fast.LocalPrices(fastPrices), fast.LocalPrices(fastPrices) + fc.size(),
                  plain.LocalPrices(plainPrices), Same)) {
    return fail() << "the prices the Worlds give differ";
  }
  if (!std::equal(fast.PackedCounts(fastScratch), fast.PackedCounts(fastScratch) + fc.size(),
                  plain.PackedCounts(plainScratch))) {
    return fail() << "the neighbour counts the Worlds give differ";
  }
  if (fast.Agents.size() != plain.Agents.size()) return fail() << "agent counts differ";
  for (std::size_t i = 0; i < fast.Agents.size(); ++i) {
    const TAgent& f = fast.Agents[i];
    const TAgent& p = plain.Agents[i];
    if (f.col != p.col || f.row != p.row || f.colour != p.colour || f.shade != p.shade ||
        f.satisfied != p.satisfied || f.PositionX() != p.PositionX() ||
        f.PositionY() != p.PositionY() || f.Size() != p.Size()) {
      return fail() << "agent " << i << " differs";
    }
  }
  return ::testing::AssertionSuccess();
}

// A small generator of the test's own choices (settings, edits), apart from the Worlds' own.
struct Choices {
  std::uint64_t state;
  std::uint32_t Below(std::uint32_t n) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return std::uint32_t((state >> 33) % n);
  }
  bool OneIn(std::uint32_t n) { return Below(n) == 0; }
};

void ChooseSettings(ModelSettings& s, Choices& c) {
  const double returns[] = {0.9, 1.0, 1.3, 1.15, 1.1};
  s.returnsToScale = returns[c.Below(5)];
  s.productionCost = 1 + c.Below(500);
  // Now and then travel so dear that far cells of a big grid find no market below the ceiling.
  s.travelCost = c.OneIn(12) ? 20.0 + c.Below(40) : 0.02 + 0.01 * c.Below(199);
  s.thresholdPercent = 12.5 * c.Below(9);
  s.segregation = !c.OneIn(4);
  s.lookForCenters = !c.OneIn(3);
  s.priceScape = c.OneIn(3);
}

struct Pair {
  SeededWorld fast, plain;
  Pair(std::uint64_t seed, int cols, int rows) : fast(seed, cols, rows), plain(seed, cols, rows) {
    plain.world.UsePlainPhases(true);
  }
  template <typename F>
  void Both(F f) {
    f(fast);
    f(plain);
  }
};

std::string AgentCount(Choices& c, int cells) {
  const int percent[] = {0, 10, 35, 50, 50, 80, 97, 100};
  const int p = percent[c.Below(8)];
  return std::to_string(p == 0 && c.OneIn(2) ? 1 : cells * p / 100);
}

// One edit between two steps, made alike on both Worlds.
void Edit(Pair& pair, Choices& c) {
  World& f = pair.fast.world;
  const int cells = f.GridCols * f.GridRows;
  switch (c.Below(7)) {
    case 0: {  // an agent moved by hand to a free cell: a World operation, no notice needed
      if (f.Agents.empty()) return;
      const int agent = int(c.Below(std::uint32_t(f.Agents.size())));
      const int start = int(c.Below(std::uint32_t(cells)));
      for (int k = 0; k < cells; ++k) {
        const int cell = (start + k) % cells;
        if (f.grid.Cells()[std::size_t(cell)].occupied) continue;
        pair.Both([&](SeededWorld& s) { s.world.MoveAgent(agent, cell % f.GridCols, cell / f.GridCols); });
        return;
      }
      return;
    }
    case 1: {  // prices written straight into the cells
      const int col = int(c.Below(std::uint32_t(f.GridCols)));
      const int row = int(c.Below(std::uint32_t(f.GridRows)));
      const double price = double(c.Below(200)) - 20.0;
      pair.Both([&](SeededWorld& s) {
        for (int r = row; r < std::min(row + 5, f.GridRows); ++r) {
          for (int col2 = col; col2 < std::min(col + 5, f.GridCols); ++col2) s.world.grid[col2][r].localPrice = price;
        }
        s.world.CellsEdited();
      });
      return;
    }
    case 2: {  // flags and counts written straight into agents and cells
      if (f.Agents.empty()) return;
      const int agent = int(c.Below(std::uint32_t(f.Agents.size())));
      const int cell = int(c.Below(std::uint32_t(cells)));
      pair.Both([&](SeededWorld& s) {
        s.world.Agents[std::size_t(agent)].satisfied = !s.world.Agents[std::size_t(agent)].satisfied;
        s.world.grid.Cells()[std::size_t(cell)].sameNeighbours = 11;
        s.world.CellsEdited();
      });
      return;
    }
    case 3: {  // one agent's neighbours counted by hand: a World operation, no notice needed
      if (f.Agents.empty()) return;
      const TAgent& a = f.Agents[c.Below(std::uint32_t(f.Agents.size()))];
      const int col = a.col, row = a.row;
      pair.Both([&](SeededWorld& s) { s.world.CountNeighbours(col, row); });
      return;
    }
    case 4: {  // a configuration given to the World: one market moved, agents placed afresh, or both
      std::array<MarketPosition, MarketCount> markets = f.Markets;
      markets[c.Below(MarketCount)] = {int(c.Below(std::uint32_t(f.GridCols))),
                                       int(c.Below(std::uint32_t(f.GridRows)))};
      std::vector<AgentPlace> places;
      const std::uint32_t which = c.Below(3);  // 1: the markets alone, 2: the agents alone, 0: both
      const std::uint32_t density = 1 + c.Below(4);
      for (int cell = 0; which != 1 && cell < cells; ++cell) {
        if (c.OneIn(density)) places.push_back({cell % f.GridCols, cell / f.GridCols, int(c.Below(2))});
      }
      pair.Both([&](SeededWorld& s) {
        if (which != 2) s.world.SetMarkets(markets);
        if (which != 1) s.world.SetAgents(places);
      });
      return;
    }
    case 5: {  // distances written straight into the cells: pricing can no longer read the reset's
      const int cell = int(c.Below(std::uint32_t(cells)));
      const std::size_t market = c.Below(MarketCount);
      pair.Both([&](SeededWorld& s) {
        for (int k = cell; k < std::min(cell + 30, cells); ++k) s.world.grid.Cells()[std::size_t(k)].marketDistance[market] = 0.25;
        s.world.CellsEdited();
      });
      return;
    }
    default:
      pair.Both([](SeededWorld& s) { s.world.GrayCells(); });
      return;
  }
}

// Runs the phases of a step one by one, comparing after each, or the whole step at once.
::testing::AssertionResult StepAndCompare(Pair& pair, bool phaseByPhase) {
  World& f = pair.fast.world;
  World& p = pair.plain.world;
  const ModelSettings& s = pair.fast.settings;
  if (!phaseByPhase) {
    f.SimulationStep();
    p.SimulationStep();
    return SameWorld(f, p) << " after a whole step";
  }
  const auto phase = [&](const char* name, void (World::*op)()) {
    (f.*op)();
    (p.*op)();
    return SameWorld(f, p) << " after " << name;
  };
  ::testing::AssertionResult r = phase("unit costs", &World::ComputeUnitCosts);
  if (r) r = phase("local prices", &World::ComputeLocalPrices);
  if (r && s.priceScape) r = phase("price scape", &World::ShowPriceScape);
  if (r) r = phase("redraw", &World::RedrawCells);
  if (r) r = phase("relocation", &World::RelocateUnsatisfied);
  if (r && s.segregation) r = phase("segregation", &World::EvaluateSegregation);
  if (r && s.lookForCenters) r = phase("look for centers", &World::LookForCenters);
  if (r) r = phase("drawing agents", &World::DrawAgents);
  return r;
}

struct Case {
  int cols, rows;
  int firstSeed, lastSeed;
  int steps;
};

// Grids from the smallest up to one above World::DrawAheadCells, where the phases draw ahead;
// the small ones run long enough for the prices to outlive their kept bounds many times.
constexpr Case kCases[] = {
    {10, 10, 1, 30, 40}, {17, 13, 1, 24, 30}, {40, 40, 1, 16, 30}, {64, 48, 1, 6, 25},
    {200, 200, 3, 3, 6},  // half full: a full grid of this size would only repeat the small ones
    {370, 360, 1, 1, 6},
};

TEST(FastPhases, MatchThePlainPhasesAfterEveryPhase) {
  int moved = 0;
  for (const Case& k : kCases) {
    for (int seed = k.firstSeed; seed <= k.lastSeed; ++seed) {
      Choices c{std::uint64_t(seed) * 7919 + std::uint64_t(k.cols)};
      Pair pair(std::uint64_t(seed), k.cols, k.rows);
      ChooseSettings(pair.fast.settings, c);
      pair.plain.settings = pair.fast.settings;
      const std::string agents = AgentCount(c, k.cols * k.rows);
      pair.Both([&](SeededWorld& s) { s.Start(agents.c_str()); });
      ASSERT_TRUE(SameWorld(pair.fast.world, pair.plain.world)) << "after the setup";
      for (int step = 0; step < k.steps; ++step) {
        if (c.OneIn(5)) {  // the controls change between two steps
          ChooseSettings(pair.fast.settings, c);
          pair.plain.settings = pair.fast.settings;
        }
        if (c.OneIn(6)) Edit(pair, c);
        if (c.OneIn(15)) {
          const std::string again = AgentCount(c, k.cols * k.rows);
          pair.Both([&](SeededWorld& s) {
            s.settings.agentCount = again;
            s.world.NewSetup();
          });
        }
        ASSERT_TRUE(StepAndCompare(pair, !c.OneIn(3)))
            << k.cols << " x " << k.rows << ", seed " << seed << ", step " << step;
        moved += pair.plain.world.MovedCount;
      }
    }
  }
  EXPECT_GT(moved, 1000);  // the runs were busy, not only settled
}

// The window's settings long after a setup, when few agents move a step: the evaluation then
// follows the moves from the neighbour bytes they keep, and the tries of look for centers rarely
// find a cheaper cell. A threshold change now and then counts every row, and a hand edit makes
// the copies and the neighbour bytes afresh.
TEST(FastPhases, MatchThePlainPhasesLongAfterTheSetup) {
  for (const int side : {40, 71}) {
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
      Pair pair(seed * 31 + std::uint64_t(side), side, side);
      const std::string agents = std::to_string(side * side / 2);
      pair.Both([&](SeededWorld& s) { s.Start(agents.c_str()); });
      int settled = 0;  // steps with a few moves, evaluated from the neighbour bytes
      for (int step = 0; step < 260; ++step) {
        if (step == 150 + int(seed) * 10) {
          pair.Both([](SeededWorld& s) { s.settings.thresholdPercent = 50.0; });
        }
        // New returns once the free prices' bounds stand: prices fall, some below those bounds.
        if (side == 40 && step == 120) pair.Both([](SeededWorld& s) { s.settings.returnsToScale = 1.3; });
        if (step == 200 && seed == 2) {
          pair.Both([](SeededWorld& s) {
            s.world.grid.At(3, 4).sameNeighbours = 7;
            s.world.CellsEdited();
          });
        }
        ASSERT_TRUE(StepAndCompare(pair, step % 4 != 3)) << side << " x " << side << ", seed " << seed << ", step " << step;
        settled += pair.plain.world.MovesMade > 0 && pair.plain.world.MovesMade * 2 * 16 <= side * side;
      }
      EXPECT_GT(settled, 50) << side << " x " << side << ", seed " << seed;
    }
  }
}

// Settings that drive the price phase down each of its ways: cells kept on their market by
// their bound for more pricings than it keeps the unit costs of (returns above 1, costs drifting),
// whole rows priced as the costs swing (returns below 1), cells no market serves below the
// ceiling, and a change of travel expenses mid-run; and look for centers switched mid-run, so
// that the free prices it reads are made afresh after steps that did not write them, or left.
struct PriceRun {
  const char* name;
  double returns, travel, travelLater;
  bool lookForCenters, centersLater;
  int cols, rows, steps;
};

constexpr PriceRun kPriceRuns[] = {
    {"KeptPastTheirEpochs", 1.1, 1.0, 1.0, false, false, 120, 100, 30},
    {"SwingingCosts", 0.9, 1.0, 1.0, true, true, 60, 60, 30},
    {"BeyondTheCeiling", 1.2, 90.0, 0.5, true, true, 139, 81, 12},  // cells not a multiple of 4
    {"PricedThenPastTheCeiling", 0.9, 1.0, 400.0, false, false, 139, 81, 8},
    {"CentersSwitchedOn", 1.1, 1.0, 1.0, false, true, 210, 210, 12},
    {"CentersSwitchedOff", 0.9, 1.0, 1.0, true, false, 210, 210, 12},
};

TEST(FastPhases, PriceEveryWayAsThePlainPhaseWithRegistersOfEveryWidth) {
  struct Widest {
    ~Widest() { LimitRegisters(2); }
  } restore;
  for (const int widest : {2, 0}) {
    LimitRegisters(widest);
    for (const PriceRun& run : kPriceRuns) {
      Pair pair(11, run.cols, run.rows);
      pair.Both([&](SeededWorld& s) {
        s.settings.returnsToScale = run.returns;
        s.settings.travelCost = run.travel;
        s.settings.lookForCenters = run.lookForCenters;
        s.Start(std::to_string(run.cols * run.rows / 2).c_str());
      });
      for (int step = 0; step < run.steps; ++step) {
        if (step == run.steps / 2) {
          pair.Both([&](SeededWorld& s) {
            s.settings.travelCost = run.travelLater;
            s.settings.lookForCenters = run.centersLater;
          });
        }
        // Now and then a whole step: only a whole step tells the World whether it looked for
        // centers.
        ASSERT_TRUE(StepAndCompare(pair, step % 3 != 2))
            << run.name << ", step " << step << ", registers " << widest;
      }
    }
  }
}

// A generator state whose next output makes BelowTwice(20) reject its second draw and draw again,
// about once in 2^28 draws: the fast tries must fall back to trying one after another.
constexpr std::uint64_t kBeforeARejection = 0x56862e0487c66088ULL;
constexpr std::uint64_t kGeneratorStep = 0xa0761d6478bd642fULL;

// Whether a generator seeded to `state` rejects one of its first two draws below n: two draws
// then take more than one output.
::testing::AssertionResult RejectsFrom(std::uint64_t state, std::uint32_t n) {
  Random twice, once;
  twice.Seed(state);
  once.Seed(state);
  std::uint32_t dc, dr;
  twice.BelowTwice(n, dc, dr);
  once.Next();
  if (twice.Next() != once.Next()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the state no longer leads to a rejection below " << n;
}

TEST(FastPhases, DrawExactlyAcrossARejectedDraw) {
  static_assert(370 * 360 > World::DrawAheadCells);
  ASSERT_TRUE(RejectsFrom(kBeforeARejection, 20));

  // Busy on a grid that stays in cache, busy on one that does not, and settled, where most agents
  // have no cheaper free cell near and only draw their tries.
  struct Run {
    std::int32_t cols, rows;
    const char* agents;
    double returns;
    int steps;
    std::uint64_t firstAhead, lastAhead;
  };
  constexpr Run kRuns[] = {{40, 40, "700", 1.3, 3, 0, 40}, {370, 360, "40000", 1.3, 2, 7, 8}, {40, 40, "800", 1.0, 120, 0, 40}};
  for (const Run& run : kRuns) {
    for (std::uint64_t ahead = run.firstAhead; ahead < run.lastAhead; ahead += 3) {
      Pair pair(5, run.cols, run.rows);
      pair.Both([&](SeededWorld& s) {
        s.settings.returnsToScale = run.returns;
        s.settings.thresholdPercent = 50.0;
        s.Start(run.agents);
        for (int step = 0; step < run.steps; ++step) s.world.SimulationStep();
        s.world.ComputeUnitCosts();
        s.world.ComputeLocalPrices();
        s.world.Generator().Seed(kBeforeARejection - ahead * kGeneratorStep);
        s.world.RelocateUnsatisfied();
        s.world.EvaluateSegregation();
        s.world.Generator().Seed(kBeforeARejection - ahead * kGeneratorStep);
      });
      ASSERT_TRUE(SameWorld(pair.fast.world, pair.plain.world)) << "relocation, " << run.cols << ", " << ahead;
      pair.Both([](SeededWorld& s) { s.world.LookForCenters(); });
      ASSERT_TRUE(SameWorld(pair.fast.world, pair.plain.world)) << "look for centers, " << run.cols << ", " << ahead;
    }
  }
}

// The model's variants: each parameter of the shape off its default alone, and some together.
// Where an accelerator does not serve the shape the fast World runs that phase plain and makes its
// copies afresh for the next; the phases it does serve must still match the plain World's.
struct Variant {
  const char* name;
  ModelShape shape;
  int cols, rows;
};

constexpr ModelShape Shaped(std::int32_t radius, std::int32_t markets, std::int32_t window, bool torus, bool anywhere) {
  return {.radius = radius, .markets = markets, .windowHalfWidth = window, .torus = torus, .relocateAnywhere = anywhere};
}

constexpr Variant kVariants[] = {
    {"NoMarkets", Shaped(1, 0, 10, true, false), 40, 40},
    {"OneMarket", Shaped(1, 1, 10, true, false), 30, 24},
    {"NoYellowMarket", Shaped(1, 2, 10, true, false), 17, 13},
    {"FiveMarkets", Shaped(1, 5, 10, true, false), 40, 40},
    {"Radius2", Shaped(2, 10, 10, true, false), 30, 30},
    {"Radius5OnTheSmallestGrid", Shaped(5, 10, 10, true, false), 11, 11},
    {"NarrowWindow", Shaped(1, 10, 1, true, false), 40, 40},
    {"WindowWiderThanTheGrid", Shaped(1, 10, 20, true, false), 10, 10},
    {"Bounded", Shaped(1, 10, 10, false, false), 40, 40},
    {"Anywhere", Shaped(1, 10, 10, true, true), 40, 40},
    {"BoundedRadius3AnywhereThreeMarkets", Shaped(3, 3, 10, false, true), 23, 31},
    {"NoMarketsAnywhereRadius2", Shaped(2, 0, 10, true, true), 40, 40},
    {"BoundedWideWindowOneMarket", Shaped(1, 1, 20, false, false), 12, 10},
    {"BigNoMarkets", Shaped(1, 0, 10, true, false), 200, 200},
    {"Classic", Shaped(1, 0, 10, false, true), 50, 50},
    {"BoundedRadius5WideWindow", Shaped(5, 4, 20, false, false), 60, 50},
    {"Radius4NarrowWindowAnywhere", Shaped(4, 2, 3, true, true), 45, 40},
    // Above World::DrawAheadCells: the tries of other windows are drawn ahead and fetched.
    {"BigBoundedWindow3", Shaped(1, 10, 3, false, false), 370, 360},
};

TEST(FastPhases, MatchThePlainPhasesInEveryVariant) {
  for (const Variant& v : kVariants) {
    const int seeds = v.cols * v.rows > 10000 ? 1 : 6;
    for (int seed = 1; seed <= seeds; ++seed) {
      Choices c{std::uint64_t(seed) * 104729 + std::uint64_t(v.cols * v.rows)};
      Pair pair(std::uint64_t(seed), v.cols, v.rows);
      pair.fast.world.CheckCopiesEveryPhase(true);  // every kept copy held to the cells, too
      ChooseSettings(pair.fast.settings, c);
      pair.fast.settings.shape = v.shape;
      pair.plain.settings = pair.fast.settings;
      const std::string agents = AgentCount(c, v.cols * v.rows);
      pair.Both([&](SeededWorld& s) { s.Start(agents.c_str()); });
      ASSERT_TRUE(SameWorld(pair.fast.world, pair.plain.world)) << v.name << " after the setup";
      for (int step = 0; step < 25; ++step) {
        if (c.OneIn(5)) {
          ChooseSettings(pair.fast.settings, c);
          pair.plain.settings = pair.fast.settings;
        }
        if (c.OneIn(7)) Edit(pair, c);
        if (c.OneIn(12)) {  // a new setup in the defaults' shape or back in the variant's
          const ModelShape shape = pair.fast.settings.shape == v.shape ? ModelShape{} : v.shape;
          pair.Both([&](SeededWorld& s) {
            s.settings.shape = shape;
            s.world.NewSetup();
          });
        }
        ASSERT_TRUE(StepAndCompare(pair, !c.OneIn(3))) << v.name << ", seed " << seed << ", step " << step;
        ASSERT_TRUE(testing::WorldIsConsistent(pair.fast.world)) << v.name << ", seed " << seed << ", step " << step;
      }
    }
  }
}

// Every shape long after a setup, when few agents move a step: the general neighbourhoods then
// follow the moves cell by cell, relocation anywhere keeps its free cells through every move, and
// the other windows' tries are drawn one by one. A threshold change mid-run evaluates every agent,
// and a hand edit makes every copy afresh.
TEST(FastPhases, MatchThePlainPhasesLongAfterTheSetupInEveryShape) {
  struct Long {
    const char* name;
    ModelShape shape;
    int side;
  };
  constexpr Long kLong[] = {
      {"Classic", Shaped(1, 0, 10, false, true), 60},
      {"Radius2Anywhere", Shaped(2, 3, 10, true, true), 60},
      {"BoundedRadius3Window4", Shaped(3, 10, 4, false, false), 64},
      {"Radius5Window20", Shaped(5, 1, 20, true, false), 70},
  };
  for (const Long& run : kLong) {
    for (std::uint64_t seed = 1; seed <= 2; ++seed) {
      Pair pair(seed * 17 + std::uint64_t(run.side), run.side, run.side);
      pair.fast.world.CheckCopiesEveryPhase(seed == 1);
      const std::string agents = std::to_string(run.side * run.side * 3 / 5);
      pair.Both([&](SeededWorld& s) {
        s.settings.shape = run.shape;
        s.settings.thresholdPercent = 38.0;
        s.settings.lookForCenters = false;  // so that the moves are few: the relocation's alone
        s.Start(agents.c_str());
      });
      int settled = 0;  // steps with some moves, but few
      for (int step = 0; step < 90; ++step) {
        if (step == 60) pair.Both([](SeededWorld& s) { s.settings.thresholdPercent = 45.0; });
        if (step == 75 && seed == 2) {
          pair.Both([](SeededWorld& s) {
            s.world.grid.At(3, 4).otherNeighbours = 40;
            s.world.CellsEdited();
          });
        }
        ASSERT_TRUE(StepAndCompare(pair, step % 4 != 3)) << run.name << ", seed " << seed << ", step " << step;
        const int r = run.shape.radius;
        settled += pair.plain.world.MovesMade > 0 &&
                   pair.plain.world.MovesMade * 2 * (2 * r + 1) * (2 * r + 1) <= run.side * run.side;
      }
      EXPECT_GT(settled, 10) << run.name << ", seed " << seed;
    }
  }
}

// Settled with unsatisfied agents that cannot move: on a crowded grid a small window is often
// full (on a full grid every window is), and the fast relocation then only advances the
// generator, by one output a try where the window's width is a power of two and by drawing where
// it may reject (a draw below 6 is rejected from this state on). A threshold change flips flags
// and a hand move frees a cell in a stuck agent's window: both must make it try again.
constexpr std::uint64_t kBeforeARejectionOfSix = 0x52d425f031f0d446ULL;

TEST(FastPhases, PassFullWindowsAsThePlainPhasesTryThem) {
  ASSERT_TRUE(RejectsFrom(kBeforeARejectionOfSix, 6));

  struct Crowded {
    std::int32_t window;
    bool torus;
    const char* agents;
  };
  constexpr Crowded kCrowded[] = {{1, true, "1520"}, {1, false, "1520"}, {2, true, "1600"}, {3, false, "1600"}};
  for (const Crowded& run : kCrowded) {
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
      Pair pair(seed * 31 + std::uint64_t(run.window), 40, 40);
      pair.fast.world.CheckCopiesEveryPhase(seed == 1);
      pair.Both([&](SeededWorld& s) {
        s.settings.shape = Shaped(1, 3, run.window, run.torus, false);
        s.settings.thresholdPercent = 40.0;
        s.settings.lookForCenters = false;
        s.Start(run.agents);
      });
      int stuck = 0;  // steps where agents were unsatisfied and none could move
      for (int step = 0; step < 70; ++step) {
        if (step == 20) {
          pair.Both([](SeededWorld& s) { s.world.Generator().Seed(kBeforeARejectionOfSix - 500 * kGeneratorStep); });
        }
        if (step == 35) pair.Both([](SeededWorld& s) { s.settings.thresholdPercent = 45.0; });
        if (step == 55) {
          // A neighbour inside a stuck agent's window moved away by hand.
          World& f = pair.fast.world;
          for (const TAgent& a : f.Agents) {
            const std::int32_t col = a.col > 0 ? a.col - 1 : a.col + 1, row = a.row;
            const TCell& near = f.grid.At(col, row);
            if (a.satisfied || !near.occupied) continue;
            const auto free = std::find_if(f.grid.Cells().begin(), f.grid.Cells().end(),
                                           [](const TCell& c) { return !c.occupied; });
            if (free == f.grid.Cells().end()) break;  // a full grid
            const std::int32_t k = std::int32_t(free - f.grid.Cells().begin()), who = near.occupant;
            pair.Both([&](SeededWorld& s) { s.world.MoveAgent(who, k % f.GridCols, k / f.GridCols); });
            break;
          }
        }
        ASSERT_TRUE(StepAndCompare(pair, step % 3 == 0))
            << "window " << run.window << ", seed " << seed << ", step " << step;
        stuck += pair.plain.world.MovedCount > 0 && pair.plain.world.MovesMade == 0;
      }
      EXPECT_GT(stuck, 20) << "window " << run.window << ", seed " << seed;
    }
  }
}

// What a window is asked to paint, folded into one hash: the same calls with the same cells and
// agents in the same order paint the same pixels.
struct PaintLog : WorldView {
  std::uint64_t hash = 0;
  std::int64_t calls = 0;
  void Add(std::int64_t v) {
    hash = (hash ^ std::uint64_t(v)) * 0x100000001b3ULL;
    ++calls;
  }
  void DrawCell(const TCell& c, bool showCatchment) override {
    Add(c.PositionX());
    Add(c.PositionY() * 4 + c.isMarket * 2 + showCatchment);
    Add(c.catchment * 256 + (c.grey & 255));
  }
  void DrawAgent(const TAgent& a) override { Add(a.PositionX() * 100000 + a.PositionY() * 4 + a.shade); }
  void ShowStepCount(int n) override { Add(n); }
};

TEST(FastPhases, AskAWindowToPaintWhatThePlainPhasesAsk) {
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    Pair pair(seed, 40, 40);
    PaintLog fastLog, plainLog;
    pair.fast.world.SetView(fastLog);
    pair.plain.world.SetView(plainLog);
    pair.Both([&](SeededWorld& s) {
      s.settings.returnsToScale = seed % 2 ? 1.0 : 1.2;
      s.settings.showCatchment = seed % 3 != 0;
      s.Start("900");
    });
    for (int step = 0; step < 30; ++step) {
      pair.Both([&](SeededWorld& s) {
        s.settings.priceScape = (step / 10) % 2 == 1;
        s.world.SimulationStep();
      });
      ASSERT_EQ(fastLog.calls, plainLog.calls) << "seed " << seed << ", step " << step;
      ASSERT_EQ(fastLog.hash, plainLog.hash) << "seed " << seed << ", step " << step;
    }
    EXPECT_GT(pair.fast.world.MovedCount + pair.fast.world.SatisfiedCount, 0);
  }
}

}  // namespace
}  // namespace zelmora
