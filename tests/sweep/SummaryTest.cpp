#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "sweep/Summary.h"

namespace zelmora::sweep {
namespace {

// The 0.975 quantile where it has a closed form: 1 degree of freedom (Cauchy), 2 and 4; and past
// a million, the normal quantile's neighbourhood.
TEST(StudentT975, MatchesTheClosedForms) {
  const double p = 0.975;
  const double alpha = 4 * p * (1 - p);
  const double q = std::cos(std::acos(std::sqrt(alpha)) / 3) / std::sqrt(alpha);
  const struct {
    std::int64_t dof;
    double expected;
  } cases[] = {
      {1, std::tan(std::numbers::pi * (p - 0.5))},
      {2, (2 * p - 1) / std::sqrt(2 * p * (1 - p))},
      {4, 2 * std::sqrt(q - 1)},
  };
  for (const auto& c : cases) EXPECT_NEAR(StudentT975(c.dof), c.expected, 1e-13 * c.expected) << c.dof;
  EXPECT_NEAR(StudentT975(10'000'000), 1.959963984540054, 1e-6);
}

TEST(StudentT975, FallsWithTheDegreesOfFreedomTowardTheNormalQuantile) {
  double previous = INFINITY;
  for (std::int64_t dof : {1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 1000, 100000, 2000000}) {
    const double t = StudentT975(dof);
    EXPECT_LT(t, previous) << dof;
    EXPECT_GT(t, 1.959963984540054) << dof;
    previous = t;
  }
}

TEST(SummaryAt, ReadsWhatItWrites) {
  for (const char* text : {"every", "last", "0", "250"}) {
    const auto at = ParseAt(text);
    ASSERT_TRUE(at) << text;
    EXPECT_EQ(AtText(*at), text);
  }
  for (const char* text : {"", "Last", "-1", "2.5", "1e3", "first"}) EXPECT_FALSE(ParseAt(text)) << text;
}

}  // namespace
}  // namespace zelmora::sweep
