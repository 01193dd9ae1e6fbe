// The time left a progress line gives for runs that end when settled: never less than the time the
// runs not finished can still take at the sweep's rate, and that time once only the runs that do
// not settle are left.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sweep/Progress.h"

namespace zelmora::sweep {
namespace {

// The seconds left a log's last line gives, or -1 where it gives none.
long long SecondsLeft(const std::string& log) {
  const std::size_t from = log.rfind("zelmora-batch: ");
  int h = 0, m = 0, s = 0, end = 0;
  std::sscanf(log.c_str() + from, "zelmora-batch: %*d/%*d runs, %*d steps/s, at most %d:%d:%d left%n", &h, &m, &s,
              &end);
  return end == 0 ? -1 : h * 3600LL + m * 60LL + s;
}

TEST(Progress, TimeLeftOfRunsThatSettleIsAtMostWhatTheRunsLeftCanTake) {
  constexpr std::int64_t Most = 3000, Rate = 1000;  // steps a run makes at most; steps a second
  std::mt19937 random(7);
  for (int sweep = 0; sweep < 20; ++sweep) {
    // Most runs settle early; the others run to the most, at any place in the order.
    std::vector<std::int64_t> lengths(40);
    for (auto& length : lengths) length = random() % 3 == 0 ? Most : 50 + std::int64_t(random() % 500);
    std::int64_t steps = 0;
    std::ostringstream log;
    Progress progress(log, Progress::Kind::Log, std::chrono::seconds(1), lengths.size(), 0, std::nullopt,
                      [&] { return Progress::Clock::time_point(std::chrono::milliseconds(steps * 1000 / Rate)); },
                      Most);
    std::int64_t total = 0;
    for (const std::int64_t length : lengths) total += length;
    for (std::size_t run = 0; run < lengths.size(); ++run) {
      // One worker: a line halfway through each run and one as it ends.
      for (const std::int64_t made : {lengths[run] / 2, lengths[run]}) {
        steps += made - (made == lengths[run] ? lengths[run] / 2 : 0);
        if (made == lengths[run]) progress.RunFinished(lengths[run]);
        progress.Log(run + (made == lengths[run]), steps);
        const long long said = SecondsLeft(log.str()), actual = (total - steps) / Rate;
        // Whole seconds, cut down from a rate measured in doubles: one second may go.
        ASSERT_GE(said + 1, actual) << "run " << run << " of sweep " << sweep;
        bool onlyLong = true;
        for (std::size_t k = run + 1; k < lengths.size(); ++k) onlyLong = onlyLong && lengths[k] == Most;
        if (onlyLong && made == lengths[run]) {
          EXPECT_LE(std::abs(said - actual), 1) << "run " << run;
        }
      }
    }
  }
}

}  // namespace
}  // namespace zelmora::sweep
