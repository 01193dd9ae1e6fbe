#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "simulation/ClusterLabels.h"
#include "simulation/IncrementalMeasures.h"
#include "simulation/Measures.h"
#include "simulation/ModelMath.h"
#include "simulation/NeighbourhoodMeasures.h"
#include "simulation/Registers.h"
#include "simulation/World.h"
#include "tests/simulation/WorldFixture.h"

namespace zelmora {
namespace {

// Draws in [0, n) from a generator of the test's own, so the cases stay the same on every library.
struct Draws {
  std::uint64_t x;
  std::uint64_t operator()(std::uint64_t n) {
    x = x * 6364136223846793005ULL + 1442695040888963407ULL;
    return (x >> 33) % n;
  }
};

using testing::SeededWorld;

constexpr double NaN = StepMeasures::NaN;

// The plain recount the fast measures must equal: a per-agent loop over the neighbours of the
// World's shape and a flood fill of the same-colour groups.
StepMeasures Recount(const World& w, double thresholdPercent = 37.5) {
  StepMeasures m;
  for (const TAgent& a : w.Agents) (a.satisfied ? m.satisfied : m.unsatisfied) += 1;
  const std::int32_t cols = w.GridCols, rows = w.GridRows;
  const ModelShape& shape = w.Shape();
  const int radius = shape.radius;
  double priceSum = 0;
  for (std::int32_t row = 0; row < rows; ++row) {
    for (std::int32_t col = 0; col < cols; ++col) priceSum += w.grid.At(col, row).localPrice;
  }
  if (shape.markets > 0) m.meanLocalPrice = priceSum / (double(cols) * rows);
  std::vector<const TCell*> markets;
  double customers = 0;
  for (int k = 0; k < shape.markets; ++k) {
    const MarketPosition& p = w.Markets[k];
    const TCell* market = &w.grid.At(p.col, p.row);
    if (std::find(markets.begin(), markets.end(), market) != markets.end()) continue;
    markets.push_back(market);
    customers += market->customers;
  }
  if (customers > 0) {
    m.herfindahl = 0;
    for (const TCell* market : markets) m.herfindahl += (market->customers / customers) * (market->customers / customers);
  }
  // A neighbour's cell; null off a bounded grid.
  const auto at = [&](std::int32_t col, std::int32_t row) -> const TCell* {
    if (!shape.torus && (col < 0 || col >= cols || row < 0 || row >= rows)) return nullptr;
    return &w.grid.At((col + cols) % cols, (row + rows) % rows);
  };
  double similar = 0;
  std::int64_t withNeighbours = 0, agents = 0;
  double paid[2] = {0, 0};
  std::int64_t payers[2] = {0, 0};
  std::vector<char> seen(std::size_t(cols) * rows, 0);
  for (std::int32_t row = 0; row < rows; ++row) {
    for (std::int32_t col = 0; col < cols; ++col) {
      const TCell& cell = *at(col, row);
      if (!cell.occupied) continue;
      ++agents;
      int like = 0, other = 0;
      for (int dr = -radius; dr <= radius; ++dr) {
        for (int dc = -radius; dc <= radius; ++dc) {
          const TCell* n = at(col + dc, row + dr);
          if ((dr || dc) && n && n->occupied) (n->State() == cell.State() ? like : other) += 1;
        }
      }
      m.unsatisfiedByRule += !detail::IsSatisfied(like, other, thresholdPercent);
      paid[std::size_t(cell.State())] += cell.localPrice;
      payers[std::size_t(cell.State())] += 1;
      if (like + other > 0) {
        similar += 100.0 * like / (like + other);
        ++withNeighbours;
      }
      if (seen[std::size_t(row) * cols + col]) continue;
      ++m.clusterCount;
      std::vector<std::pair<std::int32_t, std::int32_t>> stack{{col, row}};
      seen[std::size_t(row) * cols + col] = 1;
      while (!stack.empty()) {
        const auto [c, r] = stack.back();
        stack.pop_back();
        for (int dr = -radius; dr <= radius; ++dr) {
          for (int dc = -radius; dc <= radius; ++dc) {
            const TCell* n = at(c + dc, r + dr);
            if (n == nullptr) continue;
            const std::int32_t nc = (c + dc + cols) % cols, nr = (r + dr + rows) % rows;
            char& s = seen[std::size_t(nr) * cols + nc];
            if (!s && n->occupied && n->State() == cell.State()) {
              s = 1;
              stack.push_back({nc, nr});
            }
          }
        }
      }
    }
  }
  if (withNeighbours > 0) m.percentSimilar = similar / double(withNeighbours);
  if (agents > 0) m.meanClusterSize = double(agents) / double(m.clusterCount);
  for (std::size_t colour = 0; colour < 2; ++colour) {
    if (payers[colour] > 0 && shape.markets > 0) m.meanPricePaid[colour] = paid[colour] / double(payers[colour]);
  }
  return m;
}

bool Near(double actual, double expected) {
  if (std::isnan(expected)) return std::isnan(actual);
  return std::abs(actual - expected) <= 1e-9 * std::max(1.0, std::abs(expected));
}

// Every field of the measures, against the recount's.
::testing::AssertionResult SameMeasures(const StepMeasures& m, const StepMeasures& r) {
  if (m.satisfied != r.satisfied || m.unsatisfied != r.unsatisfied || m.unsatisfiedByRule != r.unsatisfiedByRule ||
      m.clusterCount != r.clusterCount) {
    return ::testing::AssertionFailure() << "counts differ: satisfied " << m.satisfied << "/" << r.satisfied
                                         << ", by rule " << m.unsatisfiedByRule << "/" << r.unsatisfiedByRule
                                         << ", clusters " << m.clusterCount << "/" << r.clusterCount;
  }
  const std::pair<const char*, std::pair<double, double>> reals[] = {
      {"mean local price", {m.meanLocalPrice, r.meanLocalPrice}},
      {"herfindahl", {m.herfindahl, r.herfindahl}},
      {"% similar", {m.percentSimilar, r.percentSimilar}},
      {"mean cluster size", {m.meanClusterSize, r.meanClusterSize}},
      {"mean price paid by black", {m.meanPricePaid[0], r.meanPricePaid[0]}},
      {"mean price paid by white", {m.meanPricePaid[1], r.meanPricePaid[1]}},
  };
  for (const auto& [name, values] : reals) {
    if (!Near(values.first, values.second)) {
      return ::testing::AssertionFailure() << name << " " << values.first << " against " << values.second;
    }
  }
  return ::testing::AssertionSuccess();
}

void ExpectSameOrBothNaN(double actual, double expected, const char* what) {
  if (std::isnan(expected)) {
    EXPECT_TRUE(std::isnan(actual)) << what << " " << actual;
  } else {
    EXPECT_NEAR(actual, expected, 1e-9 * std::max(1.0, std::abs(expected))) << what;
  }
}

// Colour of the agent on (col, row), or -1 for an empty cell.
using Pattern = std::function<int(int col, int row)>;

struct HandBuilt {
  const char* name;
  int cols, rows;
  Pattern pattern;
  double percentSimilar;
  std::int64_t clusterCount;
  double meanClusterSize;
};

const auto Only = [](std::vector<std::array<int, 3>> agents) -> Pattern {
  return [agents](int col, int row) {
    for (auto [c, r, colour] : agents) {
      if (c == col && r == row) return colour;
    }
    return -1;
  };
};

const HandBuilt kHandBuilt[] = {
    // Like on the four diagonals, other on the four sides; the diagonals join each colour.
    {"Checkerboard", 10, 10, [](int c, int r) { return (c + r) % 2; }, 50.0, 2, 50.0},
    {"OneColumnStripes", 10, 10, [](int c, int) { return c % 2; }, 25.0, 10, 10.0},
    // Columns 0 0 1 1 0 0 1 1 0 0: the stripe at the right edge goes on at the left one.
    {"VerticalStripesAcrossTheWrap", 10, 10, [](int c, int) { return c / 2 % 2; }, 70.0, 4, 25.0},
    {"HorizontalStripesAcrossTheWrap", 12, 10, [](int, int r) { return r / 2 % 2; }, 70.0, 4, 30.0},
    {"OneColourFullGrid", 13, 11, [](int, int) { return 1; }, 100.0, 1, 143.0},
    {"OneColourHalfGrid", 70, 10, [](int c, int) { return c < 35 ? 0 : -1; }, 100.0, 1, 350.0},
    {"EmptyGrid", 10, 10, [](int, int) { return -1; }, NaN, 0, NaN},
    {"SingleAgent", 10, 10, Only({{4, 4, 0}}), NaN, 1, 1.0},
    {"JoinedOnlyAcrossTheSideWrap", 10, 10, Only({{0, 5, 1}, {9, 5, 1}}), 100.0, 1, 2.0},
    {"JoinedOnlyAcrossTheTopWrap", 10, 12, Only({{3, 0, 0}, {4, 11, 0}}), 100.0, 1, 2.0},
    {"JoinedOnlyAcrossTheCorner", 66, 10, Only({{0, 0, 0}, {65, 9, 0}}), 100.0, 1, 2.0},
    {"JoinedOnlyDiagonally", 10, 10, Only({{2, 2, 0}, {3, 3, 0}, {4, 2, 0}}), 100.0, 1, 3.0},
    {"DiagonalOfTwoColours", 10, 10, Only({{2, 2, 0}, {3, 3, 1}}), 0.0, 2, 1.0},
    {"TwoApart", 10, 10, Only({{2, 2, 0}, {4, 2, 0}}), NaN, 2, 1.0},
    // A ring whose halves meet only across the wrap of a row wider than one word.
    {"RingAcrossAWideRow", 130, 10, [](int c, int r) { return r == 3 && (c < 2 || c > 127) ? 0 : -1; },
     100.0, 1, 4.0},
};

void PrintTo(const HandBuilt& h, std::ostream* os) { *os << h.name; }

class MeasuresOfHandBuiltWorlds : public ::testing::TestWithParam<HandBuilt> {};

TEST_P(MeasuresOfHandBuiltWorlds, AreTheKnownValues) {
  const HandBuilt& h = GetParam();
  SeededWorld s(1, h.cols, h.rows);
  s.StartEmpty({{1, 1}, {5, 5}});
  std::int64_t agents = 0;
  for (int row = 0; row < h.rows; ++row) {
    for (int col = 0; col < h.cols; ++col) {
      const int colour = h.pattern(col, row);
      if (colour >= 0) s.PutAgent(col, row, colour, ++agents % 3 != 0);
    }
  }
  Measurer measurer(37.5);
  const StepMeasures m = measurer.Measure(s.world);
  ExpectSameOrBothNaN(m.percentSimilar, h.percentSimilar, "% similar");
  EXPECT_EQ(m.clusterCount, h.clusterCount);
  ExpectSameOrBothNaN(m.meanClusterSize, h.meanClusterSize, "mean cluster size");
  EXPECT_EQ(m.satisfied, agents - agents / 3);
  EXPECT_EQ(m.unsatisfied, agents / 3);
  // The recount agrees on these worlds too, so the invariant below checks a sound reference.
  const StepMeasures r = Recount(s.world);
  ExpectSameOrBothNaN(r.percentSimilar, h.percentSimilar, "recounted % similar");
  EXPECT_EQ(r.clusterCount, h.clusterCount);
}

INSTANTIATE_TEST_SUITE_P(Worlds, MeasuresOfHandBuiltWorlds, ::testing::ValuesIn(kHandBuilt),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Measures, HerfindahlCountsASharedMarketCellOnceAndMeanPriceCoversEveryCell) {
  SeededWorld s(1, 10, 10);
  s.StartEmpty({{1, 1}, {5, 5}});  // markets 1..9 share the cell (5, 5)
  Measurer measurer(37.5);
  EXPECT_TRUE(std::isnan(measurer.Measure(s.world).herfindahl));  // no customers yet
  s.world.grid.At(1, 1).customers = 30;
  s.world.grid.At(5, 5).customers = 10;
  for (int i = 0; i < 100; ++i) s.world.grid.At(i % 10, i / 10).localPrice = i;
  const StepMeasures m = measurer.Measure(s.world);
  EXPECT_DOUBLE_EQ(m.herfindahl, 0.75 * 0.75 + 0.25 * 0.25);
  EXPECT_DOUBLE_EQ(m.meanLocalPrice, 49.5);
  s.world.grid.At(1, 1).customers = 0;
  EXPECT_DOUBLE_EQ(measurer.Measure(s.world).herfindahl, 1.0);  // one market serves everybody
}

TEST(Measures, OneMeasurerServesGridsOfAnySizeInTurn) {
  Measurer measurer(37.5);  // as a worker keeps one for the runs of a sweep over grid sizes
  const struct {
    int cols, rows;
    const char* agents;
  } grids[] = {{130, 21, "2000"}, {10, 10, "60"}, {65, 40, "1300"}, {12, 11, "0"}, {64, 64, "4000"}};
  for (const auto& g : grids) {
    SeededWorld s(9, g.cols, g.rows);
    s.Start(g.agents);
    s.world.SimulationStep();
    const StepMeasures fast = measurer.Measure(s.world);
    const StepMeasures plain = Recount(s.world);
    EXPECT_EQ(fast.clusterCount, plain.clusterCount) << g.cols << " x " << g.rows;
    ExpectSameOrBothNaN(fast.percentSimilar, plain.percentSimilar, "% similar");
    ExpectSameOrBothNaN(fast.meanLocalPrice, plain.meanLocalPrice, "mean local price");
  }
}

// The agents of an occupancy whose like share the threshold does not satisfy, one by one.
std::int64_t UnsatisfiedByRecount(const std::vector<std::uint8_t>& occupancy, int cols, int rows, double threshold) {
  std::int64_t unsatisfied = 0;
  for (int k = 0; k < cols * rows; ++k) {
    if (occupancy[std::size_t(k)] == 0) continue;
    int like = 0, other = 0;
    for (int d = 0; d < 9; ++d) {
      const int c = (k % cols + d % 3 - 1 + cols) % cols, r = (k / cols + d / 3 - 1 + rows) % rows;
      const std::uint8_t n = occupancy[std::size_t(r * cols + c)];
      if (d != 4 && n != 0) (n == occupancy[std::size_t(k)] ? like : other) += 1;
    }
    unsatisfied += !detail::IsSatisfied(like, other, threshold);
  }
  return unsatisfied;
}

// Cells at a density of the draws' choosing: each free, or an agent of either colour.
struct RandomCells {
  Draws& below;
  std::uint64_t density = below(100);
  std::uint8_t operator()() { return below(100) < density ? std::uint8_t(1 + below(2)) : std::uint8_t(0); }
  std::vector<std::uint8_t> Grid(int cells) {
    std::vector<std::uint8_t> grid(static_cast<std::size_t>(cells));
    for (auto& v : grid) v = (*this)();
    return grid;
  }
};

// The measures kept from call to call equal those made afresh, over runs of random changes of
// every size up to where a call makes them afresh anyway: cells taken, left and recoloured,
// clusters joined and split across the torus's edges, rows wider than a word; and the threshold
// changed now and then, on what is kept and on a fresh measure alike.
TEST(IncrementalMeasures, FollowRandomChangesAsAFreshMeasureSeesThem) {
  Draws below{1};
  const auto threshold = [&] { return below(2) ? 12.5 * double(below(9)) : double(below(1001)) / 10.0; };
  std::int64_t updates = 0;
  for (int trial = 0; trial < 300; ++trial) {
    const int cols = 10 + int(below(2) ? below(6) : 60 + below(20)), rows = 10 + int(below(9));
    const int cells = cols * rows;
    RandomCells pick{below};
    std::vector<std::uint8_t> occupancy = pick.Grid(cells);
    double t = threshold();
    IncrementalMeasures kept;
    kept.SetRule(IncrementalMeasures::RuleOf(t));
    kept.Rebuild(occupancy.data(), cols, rows, true);
    for (int step = 0; step < 20; ++step) {
      const int changes = 1 + int(below(below(2) ? 3 : std::uint64_t(cells / 25 + 1)));
      for (int c = 0; c < changes; ++c) occupancy[below(std::uint64_t(cells))] = pick();
      if (kept.Update(occupancy.data())) {
        ++updates;
      } else {
        kept.Rebuild(occupancy.data(), cols, rows, true);
      }
      IncrementalMeasures fresh;
      fresh.SetRule(IncrementalMeasures::RuleOf(t));
      fresh.Rebuild(occupancy.data(), cols, rows, false);
      ASSERT_EQ(kept.Clusters(), fresh.Clusters()) << cols << " x " << rows << ", trial " << trial;
      ASSERT_EQ(kept.Shares(), fresh.Shares()) << cols << " x " << rows << ", trial " << trial;
      ASSERT_EQ(kept.Counted(), fresh.Counted()) << cols << " x " << rows << ", trial " << trial;
      ASSERT_EQ(kept.UnsatisfiedByRule(), UnsatisfiedByRecount(occupancy, cols, rows, t)) << "threshold " << t;
      ASSERT_EQ(fresh.UnsatisfiedByRule(), kept.UnsatisfiedByRule()) << "threshold " << t;
      if (below(4) == 0) {  // another threshold for the occupancy as it stands
        t = threshold();
        kept.SetRule(IncrementalMeasures::RuleOf(t));
        fresh.SetRule(IncrementalMeasures::RuleOf(t));
        ASSERT_EQ(kept.UnsatisfiedByRule(), UnsatisfiedByRecount(occupancy, cols, rows, t)) << "threshold " << t;
        ASSERT_EQ(fresh.UnsatisfiedByRule(), kept.UnsatisfiedByRule()) << "threshold " << t;
      }
    }
  }
  EXPECT_GT(updates, 5000);  // most calls followed the changes rather than starting afresh
}

// In every other neighbourhood likewise: the measures kept from call to call equal those made
// afresh, the like shares to the bit, over random changes to a grid in a random shape (radius 1-5,
// wrapped or cut at the edges, grids as narrow as the neighbourhood), the threshold changed now
// and then, and now and then another shape, which starts afresh.
TEST(NeighbourhoodMeasures, FollowRandomChangesAsAFreshMeasureSeesThem) {
  Draws below{3};
  const auto threshold = [&] { return below(2) ? 12.5 * double(below(9)) : double(below(1001)) / 10.0; };
  std::int64_t updates = 0, splits = 0;
  NeighbourhoodMeasures kept;  // one through every trial: what it keeps must not go stale
  for (int trial = 0; trial < 200; ++trial) {
    const ModelShape shape{.radius = 1 + int(below(5)), .torus = below(2) == 0};
    if (shape.radius == 1 && shape.torus) continue;  // IncrementalMeasures' own
    const int side = 2 * shape.radius + 1;
    const int cols = side + int(below(2) ? below(4) : below(40)), rows = side + int(below(12));
    const int cells = cols * rows;
    RandomCells pick{below};
    std::vector<std::uint8_t> occupancy = pick.Grid(cells);
    double t = threshold();
    kept.SetThreshold(t);
    if (!kept.Keeps(cols, rows, shape)) kept.Rebuild(occupancy.data(), cols, rows, shape);
    for (int step = 0; step < 20; ++step) {
      const int changes = 1 + int(below(below(2) ? 3 : std::uint64_t(cells / 25 + 1)));
      for (int c = 0; c < changes; ++c) occupancy[below(std::uint64_t(cells))] = pick();
      const std::int64_t before = kept.Kept().clusters;
      if (kept.Update(occupancy.data())) {
        ++updates;
        splits += kept.Kept().clusters > before;
      } else {
        kept.Rebuild(occupancy.data(), cols, rows, shape);
      }
      if (below(4) == 0) {  // another threshold for the occupancy as it stands
        t = threshold();
        kept.SetThreshold(t);
      }
      const NeighbourhoodMeasures::Result a = kept.Kept();
      const NeighbourhoodMeasures::Result b = NeighbourhoodMeasures().Measure(occupancy.data(), cols, rows, shape, t);
      const std::string where = std::to_string(cols) + " x " + std::to_string(rows) + ", radius " +
                                std::to_string(shape.radius) + (shape.torus ? " torus" : " bounded") + ", trial " +
                                std::to_string(trial) + ", threshold " + std::to_string(t);
      ASSERT_EQ(a.clusters, b.clusters) << where;
      ASSERT_EQ(a.counted, b.counted) << where;
      ASSERT_EQ(a.unsatisfied, b.unsatisfied) << where;
      ASSERT_EQ(std::bit_cast<std::uint64_t>(a.likeShares), std::bit_cast<std::uint64_t>(b.likeShares)) << where;
    }
  }
  EXPECT_GT(updates, 1500);  // most calls followed the changes rather than starting afresh
  EXPECT_GT(splits, 50);     // clusters split as cells were left, not only joined
}

// The cluster labels in neighbourhoods neither measurer has, of at most four cells none of which
// is a neighbour of another, so that each same-colour neighbour of a cell left is a group of its
// own: over random arrivals, departures and changes of colour on a grid filled from empty, two
// agents share a label exactly where a flood fill puts them in one cluster, a label's size is its
// cluster's, and the changes the calls report add up to the flood fill's count.
TEST(ClusterLabels, FollowRandomChangesAsAFloodFillSeesThem) {
  struct Neighbourhood {
    const char* name;
    std::vector<std::array<int, 2>> offsets;  // column, row: each with its opposite
    bool torus;
  };
  const Neighbourhood kNeighbourhoods[] = {
      {"four sides, torus", {{0, -1}, {-1, 0}, {1, 0}, {0, 1}}, true},
      {"four sides, bounded", {{0, -1}, {-1, 0}, {1, 0}, {0, 1}}, false},
      {"two steps along the axes, torus", {{0, -2}, {-2, 0}, {2, 0}, {0, 2}}, true},
      {"along the row, torus", {{-1, 0}, {1, 0}}, true},
  };
  Draws below{11};
  for (const Neighbourhood& hood : kNeighbourhoods) {
    for (int trial = 0; trial < 25; ++trial) {
      const int cols = 5 + int(below(12)), rows = 5 + int(below(12));
      const std::size_t cells = std::size_t(cols) * std::size_t(rows);
      const auto around = [&](std::size_t x, const auto& visit) {
        for (const auto& [dc, dr] : hood.offsets) {
          int c = int(x) % cols + dc, r = int(x) / cols + dr;
          if (hood.torus) {
            c = (c + cols) % cols;
            r = (r + rows) % rows;
          } else if (c < 0 || c >= cols || r < 0 || r >= rows) {
            continue;
          }
          visit(std::size_t(r) * std::size_t(cols) + std::size_t(c));
        }
      };
      std::vector<std::uint8_t> state(cells, 0);
      ClusterLabels labels;
      labels.Clear(cells);
      labels.SpareUnused(0);
      std::int64_t clusters = 0;
      const std::uint64_t density = 20 + below(80);
      for (int change = 0; change < 300; ++change) {
        const std::size_t k = below(cells);
        const std::uint8_t from = state[k];
        const std::uint8_t to = below(100) < density ? std::uint8_t(1 + below(2)) : std::uint8_t(0);
        if (to == from) continue;
        state[k] = to;
        if (from != 0) {
          std::array<std::uint32_t, 4> starts;
          int groups = 0;
          around(k, [&](std::size_t n) {
            if (state[n] == from) starts[std::size_t(groups++)] = std::uint32_t(n);
          });
          clusters += labels.Leave(k, from, groups, starts, state.data(), around);
        }
        if (to != 0) {
          const auto nearby = [&](const auto& visit) { around(k, visit); };
          clusters += labels.Join(k, to, state.data(), nearby, around);
        }
        // The flood fill's clusters, each matched to the label of its first cell.
        std::vector<int> cluster(cells, -1);
        std::vector<std::int32_t> labelOf, sizeOf;
        for (std::size_t start = 0; start < cells; ++start) {
          if (state[start] == 0 || cluster[start] >= 0) continue;
          const int id = int(labelOf.size());
          labelOf.push_back(labels.Labels()[start]);
          sizeOf.push_back(0);
          std::vector<std::size_t> stack{start};
          cluster[start] = id;
          while (!stack.empty()) {
            const std::size_t x = stack.back();
            stack.pop_back();
            ++sizeOf.back();
            around(x, [&](std::size_t n) {
              if (state[n] != state[start] || cluster[n] >= 0) return;
              cluster[n] = id;
              stack.push_back(n);
            });
          }
        }
        const std::string where = std::string(hood.name) + ", " + std::to_string(cols) + " x " +
                                  std::to_string(rows) + ", trial " + std::to_string(trial) + ", change " +
                                  std::to_string(change);
        ASSERT_EQ(clusters, std::int64_t(labelOf.size())) << where;
        for (std::size_t c = 0; c < labelOf.size(); ++c) ASSERT_EQ(labels.Sizes()[labelOf[c]], sizeOf[c]) << where;
        std::vector<std::int32_t> distinct = labelOf;
        std::sort(distinct.begin(), distinct.end());
        ASSERT_EQ(std::adjacent_find(distinct.begin(), distinct.end()), distinct.end()) << where;
        for (std::size_t x = 0; x < cells; ++x) {
          if (state[x] == 0) continue;
          ASSERT_EQ(labels.Labels()[x], labelOf[std::size_t(cluster[x])]) << where << ", cell " << x;
        }
      }
    }
  }
}

// Same-colour clusters of an occupancy, 8-connected on the torus, by flood fill.
std::int64_t ClustersByFloodFill(const std::vector<std::uint8_t>& occupancy, int cols, int rows) {
  std::vector<char> seen(occupancy.size(), 0);
  std::int64_t clusters = 0;
  for (int k = 0; k < cols * rows; ++k) {
    if (occupancy[std::size_t(k)] == 0 || seen[std::size_t(k)]) continue;
    ++clusters;
    std::vector<int> stack{k};
    seen[std::size_t(k)] = 1;
    while (!stack.empty()) {
      const int x = stack.back();
      stack.pop_back();
      for (int d = 0; d < 9; ++d) {
        const int c = (x % cols + d % 3 - 1 + cols) % cols, r = (x / cols + d / 3 - 1 + rows) % rows;
        const std::size_t n = std::size_t(r * cols + c);
        if (seen[n] || occupancy[n] != occupancy[std::size_t(k)]) continue;
        seen[n] = 1;
        stack.push_back(int(n));
      }
    }
  }
  return clusters;
}

// Counted afresh, over rows of runs, the clusters are those a flood fill finds: rows on either
// side of a word's width, sparse to full grids (runs that touch many runs above, gaps covered by
// the row below across words), labelled or not; and every width of registers gives the same
// counts, the unsatisfied agents those of a recount.
TEST(IncrementalMeasures, CountClustersAsAFloodFillDoesWithRegistersOfEveryWidth) {
  struct Widest {
    ~Widest() { LimitRegisters(2); }
  } restore;
  Draws below{7};
  for (const int cols : {3, 5, 63, 64, 65, 127, 128, 129, 200}) {
    for (const int rows : {3, 4, 17, 40}) {
      for (const std::uint64_t density : {10u, 40u, 70u, 95u, 100u}) {
        const std::uint64_t mix = 2 + 6 * below(2);  // one white in two, or in eight
        std::vector<std::uint8_t> occupancy(std::size_t(cols) * std::size_t(rows));
        for (auto& v : occupancy) v = below(100) < density ? std::uint8_t(1 + (below(mix) == 0)) : std::uint8_t(0);
        const std::int64_t expected = ClustersByFloodFill(occupancy, cols, rows);
        const double threshold = 12.5 * double(below(9));
        std::int64_t shares = -1;
        for (const int widest : {2, 1, 0}) {
          LimitRegisters(widest);
          for (const bool track : {false, true}) {
            IncrementalMeasures m;
            m.SetRule(IncrementalMeasures::RuleOf(threshold));
            m.Rebuild(occupancy.data(), cols, rows, track);
            const std::string where = std::to_string(cols) + " x " + std::to_string(rows) + ", " +
                                      std::to_string(density) + "%, registers " + std::to_string(widest);
            ASSERT_EQ(m.Clusters(), expected) << where;
            ASSERT_EQ(m.UnsatisfiedByRule(), UnsatisfiedByRecount(occupancy, cols, rows, threshold)) << where;
            if (shares < 0) shares = m.Shares();
            ASSERT_EQ(m.Shares(), shares) << where;
          }
        }
      }
    }
  }
}

// A World measured after every step of a long run and after single moves by hand, with one
// Measurer: the calls that follow a few moves, or none, agree with the plain recount.
TEST(Measures, FollowSingleMovesAndSettledStepsOfAWorld) {
  SeededWorld s(21, 70, 30);
  s.Start("1100");
  Measurer measurer(s.settings.thresholdPercent);
  std::uint64_t pick = 5;
  for (int step = 0; step < 60; ++step) {
    if (step % 3 == 0) {
      s.world.SimulationStep();
    } else {
      // One agent to the next free cell along the row: a cell left, a cell taken.
      pick = pick * 2862933555777941757ULL + 3037000493ULL;
      const TAgent& a = s.world.Agents[(pick >> 33) % s.world.Agents.size()];
      for (int d = 1; d < s.world.GridCols; ++d) {
        const int col = (a.col + d) % s.world.GridCols;
        if (s.world.grid.At(col, a.row).occupied) continue;
        s.world.MoveAgent(int(&a - s.world.Agents.data()), col, a.row);
        break;
      }
    }
    const StepMeasures fast = measurer.Measure(s.world);
    const StepMeasures plain = Recount(s.world, s.settings.thresholdPercent);
    ASSERT_EQ(fast.clusterCount, plain.clusterCount) << step;
    ASSERT_EQ(fast.unsatisfied, plain.unsatisfied) << step;
    ASSERT_EQ(fast.unsatisfiedByRule, plain.unsatisfiedByRule) << step;
    ExpectSameOrBothNaN(fast.percentSimilar, plain.percentSimilar, "% similar");
    ExpectSameOrBothNaN(fast.meanLocalPrice, plain.meanLocalPrice, "mean local price");
  }
}

struct RandomRun {
  int cols, rows;
  const char* agents;
  double threshold, thresholdLater;  // the run's threshold, and from step 7 on
};

// On the fast phases the measures follow the World's copies; on the plain ones they are made
// from the agents.
class MeasuresEqualAPlainRecount
    : public ::testing::TestWithParam<std::tuple<RandomRun, std::uint64_t, bool>> {};

TEST_P(MeasuresEqualAPlainRecount, AfterEveryStep) {
  const auto [run, seed, plainPhases] = GetParam();
  SeededWorld s(seed, run.cols, run.rows);
  s.world.UsePlainPhases(plainPhases);
  s.settings.thresholdPercent = run.threshold;
  s.Start(run.agents);
  Measurer measurer(run.threshold);  // one for the whole run: its buffers must not carry stale state
  for (int step = 0; step <= 12; ++step) {
    if (step == 7) {  // measured again at once: the same occupancy by another rule
      s.settings.thresholdPercent = run.thresholdLater;
      measurer.SetThreshold(run.thresholdLater);
    } else if (step > 0) {
      s.world.SimulationStep();
    }
    const StepMeasures fast = measurer.Measure(s.world);
    const StepMeasures plain = Recount(s.world, s.settings.thresholdPercent);
    ASSERT_EQ(fast.unsatisfiedByRule, plain.unsatisfiedByRule) << step;
    ASSERT_EQ(fast.satisfied, plain.satisfied) << step;
    ASSERT_EQ(fast.unsatisfied, plain.unsatisfied) << step;
    ASSERT_EQ(fast.clusterCount, plain.clusterCount) << step;
    ExpectSameOrBothNaN(fast.percentSimilar, plain.percentSimilar, "% similar");
    ExpectSameOrBothNaN(fast.meanClusterSize, plain.meanClusterSize, "mean cluster size");
    ExpectSameOrBothNaN(fast.meanLocalPrice, plain.meanLocalPrice, "mean local price");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, MeasuresEqualAPlainRecount,
    ::testing::Combine(::testing::Values(RandomRun{10, 10, "30", 37.5, 62.5}, RandomRun{13, 11, "140", 62.5, 25},
                                         RandomRun{40, 40, "800", 37.5, 50}, RandomRun{64, 17, "900", 50, 37.5},
                                         RandomRun{65, 12, "20", 37.5, 87.5}, RandomRun{130, 21, "2600", 75, 12.5},
                                         RandomRun{128, 12, "700", 37.5, 30}, RandomRun{11, 129, "1400", 25, 62.5},
                                         RandomRun{40, 40, "800", 0, 100}, RandomRun{40, 40, "800", 100, 0}),
                       ::testing::Values(1u, 2u, 3u), ::testing::Bool()));

// Every measure against the plain recount, with one Measurer for the whole run, after random
// steps and every kind of change the World allows between two: agents moved by hand, prices and
// flags written into the cells and agents (with CellsEdited), given configurations, a new setup
// and another threshold; now and then measured twice with nothing between. On both paths, in
// the default neighbourhood and in others, whose measures are kept apart.
TEST(Measures, EqualAPlainRecountAfterRandomStepsAndEdits) {
  struct Run {
    int cols, rows;
    const char* agents;
    double returns;
    ModelShape shape;
  };
  for (const Run& run : {Run{40, 40, "800", 1.1, {}}, Run{65, 30, "1500", 0.9, {}}, Run{130, 20, "900", 1.0, {}},
                         Run{40, 40, "800", 1.0, {.radius = 2}}, Run{65, 30, "1500", 1.1, {.radius = 5, .markets = 3}},
                         Run{40, 40, "600", 0.9, {.torus = false}},
                         Run{30, 25, "400", 1.0, {.radius = 3, .markets = 0, .torus = false}}}) {
    for (const bool plain : {false, true}) {
      SeededWorld s(7, run.cols, run.rows);
      World& w = s.world;
      w.UsePlainPhases(plain);
      s.settings.returnsToScale = run.returns;
      s.settings.shape = run.shape;
      s.Start(run.agents);
      Measurer measurer(s.settings.thresholdPercent);
      std::uint64_t x = std::uint64_t(run.cols);
      const auto below = [&](std::uint64_t n) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        return int((x >> 33) % n);
      };
      const auto cell = [&] { return below(std::uint64_t(run.cols * run.rows)); };
      for (int call = 0; call < 60; ++call) {
        switch (below(12)) {
          case 0: {  // an agent to a free cell, as a test may move one between steps
            const int to = cell();
            if (!w.Agents.empty() && !w.grid.Cells()[std::size_t(to)].occupied) {
              w.MoveAgent(below(std::uint64_t(w.Agents.size())), to % run.cols, to / run.cols);
            }
            break;
          }
          case 1: {
            const int at = cell();
            w.grid.Cells()[std::size_t(at)].localPrice = below(300);
            if (!w.Agents.empty()) w.Agents[std::size_t(at) % w.Agents.size()].satisfied ^= true;
            w.CellsEdited();
            break;
          }
          case 2: {
            std::vector<AgentPlace> places;
            for (int k = 0; k < run.cols * run.rows; k += 1 + below(4)) places.push_back({k % run.cols, k / run.cols, below(2)});
            w.SetAgents(places);
            break;
          }
          case 3: {
            std::array<MarketPosition, MarketCount> markets = w.Markets;
            markets[std::size_t(below(MarketCount))] = {below(std::uint64_t(run.cols)), below(std::uint64_t(run.rows))};
            w.SetMarkets(markets);
            break;
          }
          case 4:
            s.settings.thresholdPercent = 12.5 * below(9);
            measurer.SetThreshold(s.settings.thresholdPercent);
            break;
          case 5:
            if (below(3) == 0) w.NewSetup();
            break;
          default:
            w.SimulationStep();
        }
        const StepMeasures measured = measurer.Measure(w);
        ASSERT_TRUE(SameMeasures(measured, Recount(w, s.settings.thresholdPercent)))
            << run.cols << " x " << run.rows << ", radius " << run.shape.radius << (run.shape.torus ? "" : " bounded")
            << (plain ? ", plain" : ", fast") << ", call " << call;
        if (below(4) == 0) {
          ASSERT_TRUE(SameMeasures(measurer.Measure(w), measured)) << "again, call " << call;
        }
      }
    }
  }
}

// Every measure against the plain recount in the model's variants: neighbourhoods of every
// radius, cut at a bounded grid's edges, and fewer markets or none; with one Measurer through a
// run, whose new setups may change the shape under it: to the default one and back, and to
// another neighbourhood of the same grid (one more cell of radius, the edges the other way).
TEST(Measures, EqualAPlainRecountInEveryShape) {
  struct ShapeRun {
    ModelShape shape;
    int cols, rows;
    const char* agents;
  };
  const ShapeRun runs[] = {
      {{.radius = 2}, 30, 30, "450"},
      {{.radius = 5, .markets = 4}, 11, 13, "70"},
      {{.torus = false}, 40, 40, "800"},
      {{.radius = 3, .markets = 0, .torus = false}, 25, 20, "300"},
      {{.markets = 0}, 40, 40, "800"},
      {{.markets = 1, .relocateAnywhere = true}, 20, 20, "200"},
  };
  for (const ShapeRun& run : runs) {
    for (const bool plain : {false, true}) {
      SeededWorld s(5, run.cols, run.rows);
      s.world.UsePlainPhases(plain);
      s.settings.shape = run.shape;
      s.settings.thresholdPercent = 50.0;
      s.Start(run.agents);
      Measurer measurer(50.0);
      for (int step = 0; step <= 18; ++step) {
        if (step == 8) {  // the default shape for a setup, then the run's again
          s.settings.shape = ModelShape{};
          s.world.NewSetup();
        } else if (step == 11) {
          s.settings.shape = run.shape;
          s.world.NewSetup();
        } else if (step == 14) {
          s.settings.shape.radius = run.shape.radius % 4 + 1;
          s.settings.shape.torus = !run.shape.torus;
          s.world.NewSetup();
        } else if (step > 0) {
          s.world.SimulationStep();
        }
        ASSERT_TRUE(SameMeasures(measurer.Measure(s.world), Recount(s.world, 50.0)))
            << run.cols << " x " << run.rows << ", radius " << s.world.Shape().radius << ", markets "
            << s.world.Shape().markets << (plain ? ", plain" : ", fast") << ", step " << step;
      }
    }
  }
}

}  // namespace
}  // namespace zelmora
