// Chosen runs: one form however they are written, and positions that count them in run order.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "sweep/RunSelection.h"

namespace zelmora::sweep {
namespace {

TEST(RunSelection, TextIsReadInOneFormAndBadTextIsRefused) {
  const std::pair<const char*, const char*> read[] = {
      {"13,20,100:110", "13,20,100:110"}, {"20,13", "13,20"},     {"3:5,4:9", "3:9"},  {"1:3,4:5", "1:5"},
      {"7,7,7", "7"},                    {"0:0", "0"},            {"5:6,2", "2,5:6"}, {"999999999", "999999999"}};
  for (const auto& [text, form] : read) {
    const auto runs = ParseRuns(text);
    ASSERT_TRUE(runs.has_value()) << text;
    EXPECT_EQ(runs->Text(), form) << text;
    EXPECT_EQ(ParseRuns(runs->Text()), runs) << text;
  }
  for (const char* bad : {"", ",", "1,", ":3", "3:", "5:3", "-1", "1.5", "a", "1:2:3", "1000000000", " 1", "0x3"}) {
    EXPECT_FALSE(ParseRuns(bad).has_value()) << bad;
  }
}

// Over random choices: each run chosen has the position of its rank, positions give the runs back,
// runs not chosen have none, and the first run of a choice missing from another is the first of
// its runs not in it.
TEST(RunSelection, PositionsCountTheChosenRunsInRunOrder) {
  std::mt19937_64 random(5);
  for (int round = 0; round < 200; ++round) {
    std::vector<RunSelection::Range> ranges;
    std::set<std::int64_t> runs;
    const int count = 1 + int(random() % 6);
    for (int k = 0; k < count; ++k) {
      const std::int64_t first = std::int64_t(random() % 60), last = first + std::int64_t(random() % 8);
      ranges.push_back({first, last});
      for (std::int64_t run = first; run <= last; ++run) runs.insert(run);
    }
    const RunSelection chosen(ranges);
    ASSERT_EQ(chosen.Size(), std::int64_t(runs.size()));
    EXPECT_EQ(chosen.Last(), *runs.rbegin());
    std::int64_t position = 0;
    for (std::int64_t run = 0; run < 80; ++run) {
      const auto found = chosen.PositionOf(run);
      ASSERT_EQ(found.has_value(), runs.count(run) == 1) << chosen.Text() << " " << run;
      if (!found) continue;
      EXPECT_EQ(*found, position++);
      EXPECT_EQ(chosen.At(*found), run);
    }
    const RunSelection other({{std::int64_t(random() % 60), std::int64_t(60 + random() % 10)}});
    std::optional<std::int64_t> missing;
    for (std::int64_t run = other.Ranges()[0].first; !missing && run <= other.Last(); ++run) {
      if (!runs.count(run)) missing = run;
    }
    EXPECT_EQ(chosen.FirstMissing(other), missing) << chosen.Text() << " of " << other.Text();
    EXPECT_FALSE(chosen.FirstMissing(chosen).has_value());
  }
}

}  // namespace
}  // namespace zelmora::sweep
