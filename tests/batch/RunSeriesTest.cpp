#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "batch/RunSeries.h"

namespace zelmora::batch {
namespace {

struct Input {
  std::int64_t step;
  std::vector<double> values;
};

// A walk with spikes and stretches of NaN.
std::vector<Input> RandomSeries(std::mt19937_64& random, std::size_t columns, std::size_t count) {
  std::vector<Input> series;
  std::int64_t step = std::int64_t(random() % 1000) - 500;
  std::vector<double> level(columns, 0.0);
  std::vector<int> gapLeft(columns, 0);
  for (std::size_t i = 0; i < count; ++i) {
    step += 1 + std::int64_t(random() % 4);
    Input in{step, {}};
    for (std::size_t c = 0; c < columns; ++c) {
      level[c] += double(std::int64_t(random() % 21) - 10);
      if (gapLeft[c] == 0 && random() % 50 == 0) gapLeft[c] = 1 + int(random() % 30);
      double value = random() % 97 == 0 ? level[c] + double(std::int64_t(random() % 2000001) - 1000000) : level[c];
      if (gapLeft[c] > 0) --gapLeft[c], value = std::nan("");
      in.values.push_back(value);
    }
    series.push_back(in);
  }
  return series;
}

// Over random series, far beyond and within the capacity: memory stays as made, every point is
// kept while the series fits, and after that each bucket's line holds its first, lowest, highest
// and last value, points of the series only, and breaks only where a NaN fell.
TEST(RunSeries, KeepsEveryPointWhileItFitsThenEachBucketsExtremes) {
  std::mt19937_64 random(2024);
  for (int trial = 0; trial < 80; ++trial) {
    const std::size_t capacity = std::size_t(4) << (random() % 6);
    const std::size_t columns = 1 + random() % 3;
    const std::size_t count = 1 + random() % (trial % 4 == 0 ? capacity : 40 * capacity);
    const std::vector<Input> series = RandomSeries(random, columns, count);
    RunSeries s(columns, capacity);
    const std::size_t bytes = s.MemoryBytes();
    for (const Input& in : series) {
      s.Add(in.step, in.values.data());
      ASSERT_LE(s.Buckets(), capacity);
      ASSERT_EQ(s.MemoryBytes(), bytes);
    }
    SCOPED_TRACE(::testing::Message() << "trial " << trial << ": " << count << " points in " << capacity);
    const std::int64_t per = s.PerBucket();
    ASSERT_EQ(s.Count(), std::int64_t(count));
    ASSERT_EQ(per == 1, count <= capacity);
    ASSERT_EQ(s.Buckets(), (count + std::size_t(per) - 1) / std::size_t(per));
    ASSERT_EQ(s.FirstStep(), series.front().step);
    ASSERT_EQ(s.LastStep(), series.back().step);
    for (std::size_t c = 0; c < columns; ++c) {
      std::map<std::int64_t, double> given;
      for (const Input& in : series) given[in.step] = in.values[c];
      const std::vector<RunPoint> line = s.Line(c);
      for (std::size_t k = 0; k < line.size(); ++k) {
        if (std::isnan(line[k].value)) continue;
        ASSERT_EQ(given.at(std::int64_t(line[k].step)), line[k].value);
        if (k > 0) {
          ASSERT_GT(line[k].step, line[k - 1].step);
        }
      }
      bool gapBefore = false;  // in the bucket before
      for (std::size_t first = 0; first < count; first += std::size_t(per)) {
        const std::size_t end = std::min(count, first + std::size_t(per));
        std::vector<double> finite;
        bool gap = false;
        for (std::size_t i = first; i < end; ++i) {
          const double v = series[i].values[c];
          std::isnan(v) ? void(gap = true) : finite.push_back(v);
        }
        std::vector<RunPoint> drawn;  // the line's points within the bucket, in order
        std::size_t before = line.size();
        for (std::size_t k = 0; k < line.size(); ++k) {
          const auto step = std::int64_t(line[k].step);
          if (step >= series[first].step && step <= series[end - 1].step && !std::isnan(line[k].value)) {
            if (drawn.empty()) before = k;
            drawn.push_back(line[k]);
          }
        }
        const bool previousGap = std::exchange(gapBefore, gap);
        ASSERT_EQ(drawn.empty(), finite.empty());
        if (finite.empty()) continue;
        ASSERT_EQ(drawn.front().value, finite.front());
        ASSERT_EQ(drawn.back().value, finite.back());
        const auto [low, high] = std::minmax_element(finite.begin(), finite.end());
        ASSERT_EQ(std::min_element(drawn.begin(), drawn.end(), [](auto& a, auto& b) { return a.value < b.value; })->value, *low);
        ASSERT_EQ(std::max_element(drawn.begin(), drawn.end(), [](auto& a, auto& b) { return a.value < b.value; })->value, *high);
        // Joined to the bucket before unless either holds a NaN.
        const bool joined = before > 0 && !std::isnan(line[before - 1].value);
        ASSERT_EQ(joined, first > 0 && !gap && !previousGap) << "bucket at " << first;
      }
    }
  }
}

}  // namespace
}  // namespace zelmora::batch
