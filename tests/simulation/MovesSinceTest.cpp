// The moves a World reports to a reader that follows them: replayed on the occupancy the reader
// saw, they give the occupancy now, and they carry the prices the cells hold.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "simulation/World.h"
#include "tests/simulation/WorldFixture.h"

namespace zelmora {
namespace {

using testing::SeededWorld;

struct FollowedRun {
  int cols, rows;
  const char* agents;
  double returns;
  bool centers;
};

// Steps, moves by hand and now and then an edit, with a reader asking after each; a reader that
// gets moves must be able to follow the World with them alone.
TEST(MovesSince, ReplayedOnTheOccupancySeenGiveTheOccupancyNow) {
  const FollowedRun runs[] = {{40, 40, "800", 1.0, true}, {40, 40, "1300", 1.2, false}, {370, 360, "60000", 1.0, true}};
  for (const FollowedRun& run : runs) {
    SeededWorld s(4, run.cols, run.rows);
    s.settings.returnsToScale = run.returns;
    s.settings.lookForCenters = run.centers;
    s.Start(run.agents);
    World& w = s.world;
    std::vector<std::uint8_t> scratch;
    const std::size_t cells = std::size_t(run.cols) * std::size_t(run.rows);
    std::vector<std::uint8_t> seen(w.Occupancy(scratch), w.Occupancy(scratch) + cells);
    World::Version version = w.OccupancyVersion();
    w.MovesSince(version);  // the first ask: from now on the World keeps its moves
    int followed = 0, afresh = 0;
    for (int call = 0; call < 40; ++call) {
      if (call % 7 == 3 && !w.grid.At(1, 1).occupied && w.grid.At(0, 0).occupied) {
        w.MoveAgent(w.grid.At(0, 0).occupant, 1, 1);
      } else if (call % 11 == 5) {
        w.grid.At(2, 2).localPrice += 1.0;
        w.CellsEdited();
      }
      w.SimulationStep();
      const World::Version now = w.OccupancyVersion();
      const auto moves = w.MovesSince(version);
      const std::uint8_t* occupancy = w.Occupancy(scratch);
      const std::string where = std::to_string(run.cols) + " x " + std::to_string(run.rows) + ", call " + std::to_string(call);
      if (moves) {
        ++followed;
        ASSERT_EQ(moves->size(), now.changes - version.changes) << where;
        for (const AgentMove& move : *moves) {
          ASSERT_EQ(seen[move.from], 1 + move.colour) << where;
          seen[move.from] = 0;
          seen[move.to] = std::uint8_t(1 + move.colour);
          ASSERT_EQ(move.fromPrice, w.grid.Cells()[move.from].localPrice) << where;
          ASSERT_EQ(move.toPrice, w.grid.Cells()[move.to].localPrice) << where;
        }
        ASSERT_TRUE(std::equal(seen.begin(), seen.end(), occupancy)) << where;
      } else {
        ++afresh;  // the reader starts again from the occupancy as it stands
        seen.assign(occupancy, occupancy + cells);
      }
      version = now;
    }
    EXPECT_GT(followed, 15) << run.cols;
    EXPECT_GT(afresh, 0) << run.cols;  // the edits made the World start its copies again
  }
}

// Nothing to say where the reader's version is one the World does not vouch for, and no moves
// kept for a reader that stopped asking.
TEST(MovesSince, SaysNothingItCannotVouchFor) {
  SeededWorld s(2, 40, 40);
  s.settings.lookForCenters = false;
  s.Start("1000");
  World& w = s.world;
  w.SimulationStep();
  const World::Version before = w.OccupancyVersion();
  EXPECT_FALSE(w.MovesSince(before)) << "the first ask";
  w.UsePlainPhases(true);
  w.SimulationStep();
  EXPECT_FALSE(w.MovesSince(before)) << "after a plain step";
  EXPECT_FALSE(w.MovesSince(World::Version{})) << "an unknown version";
  w.UsePlainPhases(false);
  w.SimulationStep();
  const World::Version fast = w.OccupancyVersion();
  w.MovesSince(fast);
  w.SimulationStep();
  ASSERT_TRUE(w.MovesSince(fast)) << "a step of a World whose reader asks";
}

}  // namespace
}  // namespace zelmora
