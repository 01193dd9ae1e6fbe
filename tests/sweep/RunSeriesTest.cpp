#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "sweep/RunSeries.h"

namespace zelmora::sweep {
namespace {

// Over random walks with spikes and stretches of NaN, far beyond and within the capacity: memory
// stays as made, every point is kept while the series fits, and after that each bucket's line
// holds its first, lowest, highest and last value, points of the series only, and is joined to
// the bucket before unless either holds a NaN.
TEST(RunSeries, KeepsEveryPointWhileItFitsThenEachBucketsExtremes) {
  std::mt19937_64 random(2024);
  const auto below = [&](std::uint64_t n) { return std::int64_t(random() % n); };
  for (int trial = 0; trial < 80; ++trial) {
    const std::size_t capacity = std::size_t(4) << below(6), columns = 1 + below(3);
    const std::size_t count = 1 + below(trial % 4 == 0 ? capacity : 40 * capacity);
    std::vector<std::int64_t> steps{below(1000) - 500};
    std::vector<std::vector<double>> values(count, std::vector<double>(columns, 0.0));
    std::vector<int> gap(columns, 0);
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) steps.push_back(steps.back() + 1 + below(4));
      for (std::size_t c = 0; c < columns; ++c) {
        const double level = (i > 0 ? values[i - 1][c] : 0.0) + double(below(21) - 10);
        if (gap[c] == 0 && below(50) == 0) gap[c] = 1 + int(below(30));
        values[i][c] = below(97) == 0 ? level + double(below(2000001) - 1000000) : std::isnan(level) ? 0 : level;
        if (gap[c] > 0) --gap[c], values[i][c] = std::nan("");
      }
    }
    RunSeries s(columns, capacity);
    const std::size_t bytes = s.MemoryBytes();
    for (std::size_t i = 0; i < count; ++i) {
      s.Add(steps[i], values[i].data());
      ASSERT_EQ(s.MemoryBytes(), bytes);
    }
    SCOPED_TRACE(::testing::Message() << "trial " << trial << ": " << count << " points in " << capacity);
    const auto per = std::size_t(s.PerBucket());
    ASSERT_EQ(per == 1, count <= capacity);
    ASSERT_EQ(s.Buckets(), (count + per - 1) / per);
    ASSERT_LE(s.Buckets(), capacity);
    ASSERT_EQ(s.FirstStep(), steps.front());
    ASSERT_EQ(s.LastStep(), steps.back());
    for (std::size_t c = 0; c < columns; ++c) {
      std::map<std::int64_t, double> given;
      for (std::size_t i = 0; i < count; ++i) given[steps[i]] = values[i][c];
      const std::vector<RunPoint> line = s.Line(c);
      for (std::size_t k = 0; k < line.size(); ++k) {
        ASSERT_TRUE(std::isnan(line[k].value) || given.at(std::int64_t(line[k].step)) == line[k].value);
        ASSERT_TRUE(k == 0 || line[k].step > line[k - 1].step || std::isnan(line[k].value));
      }
      bool gapBefore = false;
      for (std::size_t first = 0; first < count; first += per) {
        const std::size_t end = std::min(count, first + per);
        std::vector<double> finite;
        bool nan = false;
        for (std::size_t i = first; i < end; ++i) std::isnan(values[i][c]) ? void(nan = true) : finite.push_back(values[i][c]);
        std::vector<double> drawn;  // the line's values within the bucket
        std::size_t at = line.size();
        for (std::size_t k = 0; k < line.size(); ++k) {
          if (line[k].step < steps[first] || line[k].step > steps[end - 1] || std::isnan(line[k].value)) continue;
          if (drawn.empty()) at = k;
          drawn.push_back(line[k].value);
        }
        const bool nanBefore = std::exchange(gapBefore, nan);
        const bool joined = at > 0 && at < line.size() && !std::isnan(line[at - 1].value);
        ASSERT_EQ(joined, first > 0 && !nan && !nanBefore);
        ASSERT_EQ(drawn.empty(), finite.empty());
        if (finite.empty()) continue;
        ASSERT_EQ(drawn.front(), finite.front());
        ASSERT_EQ(drawn.back(), finite.back());
        ASSERT_EQ(*std::min_element(drawn.begin(), drawn.end()), *std::min_element(finite.begin(), finite.end()));
        ASSERT_EQ(*std::max_element(drawn.begin(), drawn.end()), *std::max_element(finite.begin(), finite.end()));
      }
    }
  }
}

}  // namespace
}  // namespace zelmora::sweep
