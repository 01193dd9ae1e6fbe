#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "simulation/OccupancyCopy.h"
#include "simulation/Random.h"
#include "simulation/World.h"
#include "tests/simulation/Invariants.h"
#include "tests/simulation/WorldFixture.h"

namespace zelmora {
namespace {

using testing::SeededWorld;
using testing::WorldIsConsistent;

// Offset of a landing place from its start, undoing the wrap.
int Unwrap(int delta, int size) {
  if (delta > size / 2) return delta - size;
  if (delta < -size / 2) return delta + size;
  return delta;
}

TEST(RelocateUnsatisfied, JumpsWithinTheWindowMinusTenToPlusNine) {
  std::set<int> cols, rows;
  for (std::uint64_t seed = 1; seed <= 3000; ++seed) {
    SeededWorld s(seed);
    s.StartEmpty({{0, 0}});
    s.world.ResetWorld();  // draws the generator's seed for this run
    s.world.Markets.fill({0, 0});
    s.world.ResetCells();
    const int start = static_cast<int>(seed % 3);
    // Start at the left/top edge, in the middle, or at the right/bottom edge.
    const int pos = start == 0 ? 0 : (start == 1 ? 20 : 39);
    s.PutAgent(pos, pos, 0, false);
    s.world.RelocateUnsatisfied();
    const TAgent& agent = s.world.Agents[0];
    const int dc = Unwrap(agent.col - pos, 40);
    const int dr = Unwrap(agent.row - pos, 40);
    ASSERT_GE(dc, -10);
    ASSERT_LE(dc, 9);
    ASSERT_GE(dr, -10);
    ASSERT_LE(dr, 9);
    ASSERT_FALSE(dc == 0 && dr == 0);
    if (pos == 20) {
      cols.insert(dc);
      rows.insert(dr);
    }
    if (pos == 0) {
      ASSERT_TRUE(agent.col <= 9 || agent.col >= 30) << agent.col;
    }
    if (pos == 39) {
      ASSERT_TRUE(agent.col >= 29 || agent.col <= 8) << agent.col;
    }
    ASSERT_TRUE(WorldIsConsistent(s.world));
  }
  EXPECT_EQ(cols.size(), 20u);  // every offset from -10 to +9 occurs
  EXPECT_EQ(rows.size(), 20u);
}

TEST(RelocateUnsatisfied, CountsSatisfiedAndUnsatisfiedAgents) {
  SeededWorld s;
  s.StartEmpty({{3, 3}});
  s.PutAgent(1, 1, 0, true);
  s.PutAgent(10, 10, 1, false);
  s.PutAgent(20, 20, 1, false);
  s.world.RelocateUnsatisfied();
  EXPECT_EQ(s.world.SatisfiedCount, 1);
  EXPECT_EQ(s.world.MovedCount, 2);
  EXPECT_EQ(s.world.Agents[0].col, 1);  // satisfied agents stay
  EXPECT_TRUE(WorldIsConsistent(s.world));
}

TEST(RelocateUnsatisfied, OnAFullGridNothingMovesYetEveryUnsatisfiedAgentCounts) {
  SeededWorld s(21);
  s.settings.thresholdPercent = 100.0;  // nobody is ever satisfied
  s.Start("1600");
  s.world.EvaluateSegregation();
  std::vector<std::pair<int, int>> before;
  for (const TAgent& a : s.world.Agents) before.push_back({a.col, a.row});
  std::array<int, MarketCount> customers{};
  for (int m = 0; m < MarketCount; ++m) customers[m] = s.world.MarketCell(m).customers;

  s.world.RelocateUnsatisfied();
  EXPECT_EQ(s.world.MovedCount, 1600);
  EXPECT_EQ(s.world.SatisfiedCount, 0);
  for (std::size_t i = 0; i < before.size(); ++i) {
    ASSERT_EQ(s.world.Agents[i].col, before[i].first);
    ASSERT_EQ(s.world.Agents[i].row, before[i].second);
  }
  for (int m = 0; m < MarketCount; ++m) EXPECT_EQ(s.world.MarketCell(m).customers, customers[m]);
  s.world.LookForCenters();  // nobody satisfied: nobody looks
  EXPECT_TRUE(WorldIsConsistent(s.world));
}

TEST(RelocateUnsatisfied, LaterAgentsSeeTheCellsEarlierOnesTookAndLeft) {
  // Two unsatisfied agents at (5, 5) and (7, 5) on an otherwise full grid with one free cell
  // (6, 5) between them. Moves act at once: once the first has taken (6, 5), the second can only
  // take the cell the first has left.
  int tookLeftCell = 0;
  for (std::uint64_t seed = 1; seed <= 400; ++seed) {
    SeededWorld s(seed);
    s.StartEmpty({{0, 0}});
    s.world.ResetWorld();
    s.world.Markets.fill({0, 0});
    s.world.ResetCells();
    for (int row = 0; row < 40; ++row) {
      for (int col = 0; col < 40; ++col) {
        if (row == 5 && col >= 5 && col <= 7) continue;
        s.PutAgent(col, row, (col + row) % 2, true);
      }
    }
    const int first = s.PutAgent(5, 5, 0, false);
    const int second = s.PutAgent(7, 5, 0, false);
    s.world.RelocateUnsatisfied();
    const TAgent& a = s.world.Agents[first];
    const TAgent& b = s.world.Agents[second];
    if (a.col == 6) {
      ASSERT_TRUE(b.col == 7 || b.col == 5) << b.col;
      tookLeftCell += b.col == 5 ? 1 : 0;
    } else {
      ASSERT_EQ(a.col, 5);
      ASSERT_TRUE(b.col == 7 || b.col == 6) << b.col;
    }
    ASSERT_TRUE(WorldIsConsistent(s.world));
  }
  EXPECT_GT(tookLeftCell, 0);
}

TEST(LookForCenters, MovesOnlyToStrictlyCheaperFreeCells) {
  for (std::uint64_t seed = 1; seed <= 200; ++seed) {
    SeededWorld s(seed);
    s.StartEmpty({{20, 20}});
    s.world.ComputeUnitCosts();
    s.world.ComputeLocalPrices();
    const int i = s.PutAgent(26, 23, seed % 2, true);
    const double before = s.world.grid[26][23].localPrice;
    s.world.LookForCenters();
    const TAgent& agent = s.world.Agents[i];
    const double after = s.world.grid[agent.col][agent.row].localPrice;
    if (agent.col != 26 || agent.row != 23) {
      ASSERT_LT(after, before);
      // With constant returns the price grows with the distance to the one market.
      ASSERT_LT(World::GridDistance(agent.col, agent.row, 20, 20), World::GridDistance(26, 23, 20, 20));
    }
    ASSERT_TRUE(agent.satisfied);
    ASSERT_TRUE(WorldIsConsistent(s.world));
  }
}

// Plain replays of the two relocation phases, one candidate after another, on a copy of the
// World as it stood before the phase.

// One try: the column offset, then the row offset, each -10..+9, wrapped.
void ReplayCandidate(World& w, Random& random, const TAgent& agent, int& col, int& row) {
  std::uint32_t dc, dr;
  random.BelowTwice(20, dc, dr);
  col = agent.col + int(dc) - 10;
  row = agent.row + int(dr) - 10;
  w.WrapToTorus(col, row);
}

void ReplayRelocateUnsatisfied(World& w, std::int64_t& tries) {
  Random& random = w.Generator();
  for (int i = 0; i < static_cast<int>(w.Agents.size()); ++i) {
    const TAgent& agent = w.Agents[i];
    if (agent.satisfied) continue;
    for (int attempt = 0; attempt < 100; ++attempt) {
      ++tries;
      int col, row;
      ReplayCandidate(w, random, agent, col, row);
      if (!w.grid[col][row].occupied) {
        w.MoveAgent(i, col, row);
        break;
      }
    }
  }
}

int ReplayLookForCenters(World& w, std::int64_t& tries) {
  int moves = 0;
  Random& random = w.Generator();
  for (int i = 0; i < static_cast<int>(w.Agents.size()); ++i) {
    const TAgent& agent = w.Agents[i];
    if (!agent.satisfied) continue;
    const double current = w.grid[agent.col][agent.row].localPrice;
    for (int attempt = 0; attempt < 10; ++attempt) {
      ++tries;
      int col, row;
      ReplayCandidate(w, random, agent, col, row);
      const TCell& c = w.grid[col][row];
      if (c.localPrice < current && !c.occupied) {
        w.MoveAgent(i, col, row);
        ++moves;
        break;
      }
    }
  }
  return moves;
}

::testing::AssertionResult SameAgentsAndGenerator(World& a, World& b) {
  for (std::size_t i = 0; i < a.Agents.size(); ++i) {
    if (a.Agents[i].col != b.Agents[i].col || a.Agents[i].row != b.Agents[i].row) {
      return ::testing::AssertionFailure() << "agent " << i << " stands elsewhere";
    }
  }
  if (a.Generator().Next() != b.Generator().Next()) {
    return ::testing::AssertionFailure() << "the generators went apart";
  }
  return ::testing::AssertionSuccess();
}

// The phase tests its ten tries together; it must still draw and move exactly as trying one
// candidate after another would.
TEST(LookForCenters, DrawsAndMovesAsTryingOneAfterAnother) {
  int moves = 0;
  for (std::uint64_t seed = 1; seed <= 20; ++seed) {
    SeededWorld s(seed);
    s.settings.returnsToScale = 1.2;
    s.Start("700");
    for (int i = 0; i < 5; ++i) s.world.SimulationStep();
    s.world.ComputeUnitCosts();
    s.world.ComputeLocalPrices();
    s.world.EvaluateSegregation();
    World reference = s.world;

    s.world.LookForCenters();

    std::int64_t tries = 0;
    moves += ReplayLookForCenters(reference, tries);
    EXPECT_TRUE(SameAgentsAndGenerator(s.world, reference));
    EXPECT_TRUE(WorldIsConsistent(s.world));
  }
  EXPECT_GT(moves, 20);  // the comparison covered runs where agents moved
}

// On a big grid LookForCenters draws the tries of later agents ahead of their turn; on a small
// one it tests an agent's ten tries together and tries again one by one only when one may be
// taken. Here many agents move, most of them before their last try, so the draws made ahead are
// often wrong and must be made again; the phases must still move exactly as the plain replays
// do. The large grid is above World::DrawAheadCells, where the tries are drawn ahead.
struct GridSize {
  int cols, rows;
};
constexpr GridSize kPhaseGrids[] = {{120, 90}, {400, 340}};

TEST(LookForCenters, ManyEarlyMovesStillMatchTheReplay) {
  static_assert(400 * 340 > World::DrawAheadCells && 120 * 90 <= World::DrawAheadCells);
  int moves = 0;
  int satisfied = 0;
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    const GridSize size = kPhaseGrids[seed % 2];
    SeededWorld s(seed, size.cols, size.rows);
    s.settings.returnsToScale = 1.3;  // steep prices round the markets: most agents find cheaper
    s.settings.travelCost = 5.0;
    s.settings.thresholdPercent = 0.0;  // everyone satisfied unless alone
    // Sparse or crowded, alternating with the grid size.
    const int cells = size.cols * size.rows;
    s.Start(std::to_string(seed % 3 ? cells / 7 : cells * 5 / 9).c_str());
    s.world.ComputeUnitCosts();
    s.world.ComputeLocalPrices();
    s.world.EvaluateSegregation();
    for (const TAgent& a : s.world.Agents) satisfied += a.satisfied ? 1 : 0;
    World reference = s.world;
    s.world.LookForCenters();
    std::int64_t tries = 0;
    moves += ReplayLookForCenters(reference, tries);
    ASSERT_TRUE(SameAgentsAndGenerator(s.world, reference)) << "seed " << seed;
    EXPECT_EQ(s.world.CandidatesDrawn - reference.CandidatesDrawn, tries);
    EXPECT_TRUE(WorldIsConsistent(s.world));
  }
  EXPECT_GT(moves, satisfied / 3);  // early moves were common, not a rare path
}

TEST(RelocateUnsatisfied, MatchesTheReplayInCrowdedAndSparseNeighbourhoods) {
  int unsatisfied = 0;
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    const GridSize size = kPhaseGrids[(seed / 2) % 2];
    SeededWorld s(seed, size.cols, size.rows);
    s.settings.thresholdPercent = 50.0 + 10.0 * double(seed % 3);
    // Nearly full grids leave many agents without a free cell in reach; sparse ones let them
    // move at the first try.
    const int cells = size.cols * size.rows;
    s.Start(std::to_string(seed % 2 ? cells - cells / 100 : cells / 5).c_str());
    s.world.EvaluateSegregation();
    for (const TAgent& a : s.world.Agents) unsatisfied += a.satisfied ? 0 : 1;
    World reference = s.world;
    s.world.RelocateUnsatisfied();
    std::int64_t tries = 0;
    ReplayRelocateUnsatisfied(reference, tries);
    EXPECT_EQ(s.world.CandidatesDrawn - reference.CandidatesDrawn, tries);
    ASSERT_TRUE(SameAgentsAndGenerator(s.world, reference)) << "seed " << seed;
    EXPECT_TRUE(WorldIsConsistent(s.world));
  }
  EXPECT_GT(unsatisfied, 2000);
}

// The relocation phases test tries against compact copies of the cells' `occupied` and prices.
// The copies must agree with the cells when a phase ends, moves included: the World's own check
// holds every accelerator to them.
TEST(RelocationPhases, CompactCopiesAgreeWithTheCellsAfterEachPhase) {
  SeededWorld s(5, 60, 50);
  s.settings.returnsToScale = 1.3;
  s.settings.travelCost = 5.0;
  s.settings.thresholdPercent = 62.5;
  s.Start("2000");
  World& w = s.world;
  std::int64_t moved = 0;
  for (int step = 0; step < 30; ++step) {
    w.ComputeUnitCosts();
    w.ComputeLocalPrices();
    w.RelocateUnsatisfied();
    ASSERT_NO_THROW(w.CheckCopies()) << "step " << step;
    w.EvaluateSegregation();
    std::vector<std::pair<int, int>> before;
    for (const TAgent& a : w.Agents) before.push_back({a.col, a.row});
    w.LookForCenters();
    ASSERT_NO_THROW(w.CheckCopies()) << "step " << step;
    for (std::size_t i = 0; i < before.size(); ++i) {
      moved += before[i] != std::make_pair(w.Agents[i].col, w.Agents[i].row) ? 1 : 0;
    }
  }
  EXPECT_GT(moved, 500);  // the copies were kept in step through many moves
  EXPECT_GT(w.MovedCount, 0);
}

// The cells are public: between two steps anyone may move agents or change prices, and says so
// with CellsEdited. The phases must see those changes, not what their copies held at the end of
// the last step.
TEST(RelocationPhases, SeeCellsChangedBetweenSteps) {
  for (std::uint64_t seed = 1; seed <= 4; ++seed) {
    SeededWorld s(seed, 50, 40);
    s.settings.returnsToScale = 1.2;
    s.settings.thresholdPercent = 50.0;
    s.Start("1400");
    World& w = s.world;
    for (int step = 0; step < 3; ++step) w.SimulationStep();
    // Free a block of cells by moving its agents into far free cells, then make the freed block
    // the cheapest place around.
    int relocated = 0;
    for (int row = 10; row < 20; ++row) {
      for (int col = 10; col < 20; ++col) {
        if (!w.grid[col][row].occupied) continue;
        const int agent = w.grid[col][row].occupant;
        for (int r = 30; r < 40 && w.grid[col][row].occupied; ++r) {
          for (int c = 30; c < 50; ++c) {
            if (w.grid[c][r].occupied) continue;
            w.MoveAgent(agent, c, r);
            ++relocated;
            break;
          }
        }
      }
    }
    for (int row = 10; row < 20; ++row) {
      for (int col = 10; col < 20; ++col) w.grid[col][row].localPrice = -1.0;
    }
    w.CellsEdited();
    ASSERT_GT(relocated, 10);
    ASSERT_TRUE(WorldIsConsistent(w));

    World reference = w;
    std::int64_t tries = 0;
    w.RelocateUnsatisfied();
    ReplayRelocateUnsatisfied(reference, tries);
    ASSERT_TRUE(SameAgentsAndGenerator(w, reference)) << "seed " << seed;
    w.EvaluateSegregation();
    reference.EvaluateSegregation();
    const int moves = ReplayLookForCenters(reference, tries);
    w.LookForCenters();
    ASSERT_TRUE(SameAgentsAndGenerator(w, reference)) << "seed " << seed;
    EXPECT_GT(moves, 0);
    EXPECT_TRUE(WorldIsConsistent(w));
  }
}

TEST(LookForCenters, EqualPriceIsNotCheaper) {
  SeededWorld s;
  s.StartEmpty({{20, 20}});
  s.settings.travelCost = 0.0;  // every cell has the same price
  s.world.ComputeUnitCosts();
  s.world.ComputeLocalPrices();
  s.PutAgent(10, 10, 0, true);
  for (int i = 0; i < 50; ++i) s.world.LookForCenters();
  EXPECT_EQ(s.world.Agents[0].col, 10);
  EXPECT_EQ(s.world.Agents[0].row, 10);
}

TEST(MoveAgent, KeepsRegistrationAndCustomers) {
  SeededWorld s;
  s.StartEmpty({{5, 5}, {30, 30}});
  const int i = s.PutAgent(6, 6, 1, true);
  ASSERT_EQ(s.world.MarketCell(0).customers, 1);
  s.world.MoveAgent(i, 29, 31);
  EXPECT_FALSE(s.world.grid[6][6].occupied);
  const TCell& cell = s.world.grid[29][31];
  EXPECT_TRUE(cell.occupied);
  EXPECT_EQ(cell.occupant, i);
  EXPECT_EQ(cell.State(), 1);
  EXPECT_EQ(s.world.Agents[i].PositionX(), 295);
  EXPECT_EQ(s.world.Agents[i].PositionY(), 315);
  EXPECT_EQ(s.world.MarketCell(0).customers, 0);
  EXPECT_EQ(s.world.MarketCell(1).customers, 1);
}

// The free cells by their order, as relocation anywhere reads them, against a scan of the copy:
// grids below a word, of one word, of one group of eight words and one cell past it, of whole
// groups and ending in a part group; empty, half full, crowded and full; then after moves.
TEST(OccupancyCopy, FindsEveryFreeCellByItsOrderAsMovesChangeThem) {
  struct Grid {
    int cols, rows;
  };
  constexpr Grid kGrids[] = {{1, 1}, {3, 5}, {8, 8}, {16, 32}, {19, 27}, {50, 50}, {37, 53}, {128, 64}};
  Random random;
  random.Seed(20261210);
  for (const Grid& grid : kGrids) {
    const std::size_t cells = std::size_t(grid.cols) * std::size_t(grid.rows);
    for (const std::uint32_t percent : {0u, 50u, 97u, 100u}) {
      const std::string name = std::to_string(grid.cols) + " x " + std::to_string(grid.rows) + ", " +
                               std::to_string(percent) + " % full";
      OccupancyCopy copy;
      copy.Size(grid.cols, grid.rows);
      std::vector<TAgent> agents;
      for (std::size_t k = 0; k < cells; ++k) {
        if (random.Below(100) >= percent) continue;
        TAgent agent;
        agent.col = std::int32_t(k % std::size_t(grid.cols));
        agent.row = std::int32_t(k / std::size_t(grid.cols));
        agent.colour = std::int32_t(k % 2);
        agent.satisfied = true;
        agents.push_back(agent);
        ASSERT_TRUE(copy.Stand(agents.size() - 1, agent, k)) << name;
      }
      ASSERT_TRUE(copy.Finish(agents, true, true, false)) << name;
      copy.KeepFreeCells();
      const auto scan = [&](const char* when) {
        std::uint32_t rank = 0;
        for (std::size_t k = 0; k < cells; ++k) {
          if (copy.State()[k] != 0) continue;
          ASSERT_EQ(copy.NthFree(rank), k) << name << ", " << when << ": the free cell of rank " << rank;
          ++rank;
        }
        EXPECT_EQ(copy.FreeCount(), rank) << name << ", " << when;
      };
      scan("as made");
      for (int move = 0; move < 300 && copy.FreeCount() > 0 && !agents.empty(); ++move) {
        TAgent& agent = agents[random.Below(std::uint32_t(agents.size()))];
        const std::size_t from = std::size_t(agent.row) * std::size_t(grid.cols) + std::size_t(agent.col);
        const std::size_t to = copy.NthFree(random.Below(copy.FreeCount()));
        ASSERT_EQ(copy.State()[to], 0) << name << ", move " << move;
        copy.Move(from, to, agent.colour);
        agent.col = std::int32_t(to % std::size_t(grid.cols));
        agent.row = std::int32_t(to / std::size_t(grid.cols));
      }
      scan("after the moves");
    }
  }
}

}  // namespace
}  // namespace zelmora
