#include <gtest/gtest.h>

#include "simulation/World.h"
#include "tests/simulation/WorldFixture.h"

namespace zelmora {
namespace {

using testing::SeededWorld;

// An agent at (col, row) of colour 0 with `like` like and `unlike` unlike neighbours around it,
// filled in the order of the eight offsets.
struct Neighbourhood {
  SeededWorld s;
  int centre;
  Neighbourhood(int col, int row, int like, int unlike) {
    s.StartEmpty({{0, 0}});
    centre = s.PutAgent(col, row, 0, false);
    const int offsets[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};
    for (int n = 0; n < like + unlike; ++n) {
      int c = col + offsets[n][0];
      int r = row + offsets[n][1];
      s.world.WrapToTorus(c, r);
      s.PutAgent(c, r, n < like ? 0 : 1);
    }
  }
  bool Satisfied(double threshold) {
    s.settings.thresholdPercent = threshold;
    s.world.EvaluateSegregation();
    return s.world.Agents[centre].satisfied;
  }
};

TEST(EvaluateSegregation, StrictlyAboveTheThresholdForEveryCountAndPosition) {
  for (int k = 0; k <= 8; ++k) {
    for (int n = 0; n <= 8; ++n) {
      for (int like = 0; like <= n; ++like) {
        Neighbourhood hood(20, 20, like, n - like);
        const bool expected = n > 0 && 8 * like > k * n;
        ASSERT_EQ(hood.Satisfied(12.5 * k), expected) << like << " of " << n << " at " << k << "/8";
        const TCell& cell = hood.s.world.grid[20][20];
        EXPECT_EQ(cell.sameNeighbours, like);
        EXPECT_EQ(cell.otherNeighbours, n - like);
      }
    }
  }
}

TEST(EvaluateSegregation, ExamplesAtTheDefaultThreshold) {
  EXPECT_FALSE(Neighbourhood(9, 9, 3, 5).Satisfied(37.5));  // exactly 37.5 % is not enough
  EXPECT_TRUE(Neighbourhood(9, 9, 4, 4).Satisfied(37.5));
  EXPECT_TRUE(Neighbourhood(9, 9, 1, 1).Satisfied(37.5));
  EXPECT_FALSE(Neighbourhood(9, 9, 0, 0).Satisfied(0.0));  // alone: never satisfied
  EXPECT_FALSE(Neighbourhood(9, 9, 0, 3).Satisfied(0.0));
  EXPECT_TRUE(Neighbourhood(9, 9, 1, 7).Satisfied(0.0));
  EXPECT_FALSE(Neighbourhood(9, 9, 8, 0).Satisfied(100.0));
}

TEST(CountNeighbours, WrapsAcrossEveryEdge) {
  // A corner sees the three other corners.
  Neighbourhood corner(0, 0, 8, 0);
  corner.Satisfied(37.5);
  EXPECT_TRUE(corner.s.world.grid[39][39].occupied);
  EXPECT_TRUE(corner.s.world.grid[39][0].occupied);
  EXPECT_TRUE(corner.s.world.grid[0][39].occupied);
  EXPECT_EQ(corner.s.world.grid[0][0].sameNeighbours, 8);

  SeededWorld s;
  s.StartEmpty({{0, 0}});
  s.PutAgent(0, 17, 1);
  s.PutAgent(39, 16, 1);  // last column, row above
  s.PutAgent(1, 18, 0);
  s.PutAgent(37, 17, 1);  // three columns away across the edge: not a neighbour
  s.world.EvaluateSegregation();
  EXPECT_EQ(s.world.grid[0][17].sameNeighbours, 1);
  EXPECT_EQ(s.world.grid[0][17].otherNeighbours, 1);
  EXPECT_EQ(s.world.grid[39][16].sameNeighbours, 1);  // (0, 17) across the edge
}

TEST(EvaluateSegregation, ColoursComeFromTheCellsState) {
  Neighbourhood hood(5, 5, 0, 4);
  // A cell whose State says 0 counts as like, whatever stands in the agent list.
  for (int col = 4; col <= 6; ++col) hood.s.world.grid[col][4].SetState(0);
  hood.s.world.grid[4][5].SetState(0);
  EXPECT_TRUE(hood.Satisfied(37.5));
  EXPECT_EQ(hood.s.world.grid[5][5].sameNeighbours, 4);
}

}  // namespace
}  // namespace zelmora
