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

// A time "H:MM:SS" after `label` in a log's last line, in seconds, or -1 where there is none.
long long SecondsAfter(const std::string& log, const std::string& label) {
  const std::string last = log.substr(log.rfind("zelmora-batch: "));
  const std::size_t at = last.find(label);
  int h = 0, m = 0, s = 0, end = 0;
  if (at == std::string::npos) return -1;
  std::sscanf(last.c_str() + at + label.size(), "%d:%d:%d%n", &h, &m, &s, &end);
  return end == 0 ? -1 : h * 3600LL + m * 60LL + s;
}
long long SecondsLeft(const std::string& log) { return SecondsAfter(log, "at most "); }

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

// Runs that all settle after the same number of steps: their own lengths say exactly how long the
// runs left take, once one has finished; the bound stays above.
TEST(Progress, TimeLeftOfRunsThatSettleFollowsTheRunsOwnLengths) {
  constexpr std::int64_t Most = 3000, Rate = 1000, Length = 400, Runs = 30;
  std::int64_t steps = 0;
  std::ostringstream log;
  Progress progress(log, Progress::Kind::Log, std::chrono::seconds(1), Runs, 0, std::nullopt,
                    [&] { return Progress::Clock::time_point(std::chrono::milliseconds(steps * 1000 / Rate)); }, Most);
  for (std::int64_t run = 0; run < Runs; ++run) {
    steps += Length / 2;
    progress.Log(std::size_t(run), steps);
    if (run > 0) {
      EXPECT_LE(std::abs(SecondsAfter(log.str(), "about ") - ((Runs - run) * Length - Length / 2) / Rate), 1)
          << "halfway through run " << run;
    }
    steps += Length / 2;
    progress.RunFinished(Length);
    progress.Log(std::size_t(run + 1), steps);
    EXPECT_LE(std::abs(SecondsAfter(log.str(), "about ") - (Runs - run - 1) * Length / Rate), 1) << "after run " << run;
    EXPECT_GE(SecondsLeft(log.str()), SecondsAfter(log.str(), "about ")) << "after run " << run;
  }
}

}  // namespace
}  // namespace zelmora::sweep
