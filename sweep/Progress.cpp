#include "sweep/Progress.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace zelmora::sweep {

Progress::Progress(std::ostream& err, Kind kind, std::chrono::seconds pace, std::size_t runs,
                   std::size_t doneBefore, std::optional<std::int64_t> stepsToDo, Now now, std::int64_t mostSteps)
    : err_(err),
      kind_(kind),
      pace_(pace),
      runs_(runs),
      doneBefore_(doneBefore),
      stepsToDo_(stepsToDo),
      mostSteps_(mostSteps),
      now_(std::move(now)),
      start_(now_()),
      lastShown_(start_),
      nextTick_(start_ + pace_) {}

bool Progress::Tick() {
  if (pace_ <= Clock::duration::zero()) return false;
  const auto now = now_();
  if (now < nextTick_) return false;
  // A pause longer than the pace gives one tick, not one per pace missed.
  while (nextTick_ <= now) nextTick_ += pace_;
  return true;
}

void Progress::Log(std::size_t done, std::int64_t steps) {
  if (kind_ == Kind::Log) err_ << "zelmora-batch: " << Line(done, steps, now_()) << "\n" << std::flush;
}

void Progress::Show(std::size_t done, std::int64_t steps, bool last) {
  if (kind_ != Kind::Terminal) return;
  const auto now = now_();
  if (!last && now - lastShown_ < std::chrono::milliseconds(250)) return;
  lastShown_ = now;
  err_ << "\r" << Line(done, steps, now) << "   " << (last ? "\n" : "") << std::flush;
}

std::string Progress::Line(std::size_t done, std::int64_t steps, Clock::time_point now) const {
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? double(steps) / seconds : 0.0;
  std::optional<double> left;
  if (stepsToDo_ && rate > 0) {
    left = double(std::max<std::int64_t>(*stepsToDo_ - steps, 0)) / rate;
  } else if (!stepsToDo_ && rate > 0) {
    // Runs that settle end early, and those that do not run to the most: the runs left are the
    // long ones, so the runs done so far say little of them. The steps they can still make do.
    const std::int64_t runsLeft = std::int64_t(runs_ - doneBefore_) - finishedRuns_;
    const std::int64_t madeByThem = std::max<std::int64_t>(steps - finishedSteps_, 0);
    left = double(std::max<std::int64_t>(runsLeft * mostSteps_ - madeByThem, 0)) / rate;
  }
  char line[160];
  int n = std::snprintf(line, sizeof line, "%zu/%zu runs, %.0f steps/s", done, runs_, rate);
  if (left) {
    const auto s = static_cast<long long>(*left);
    std::snprintf(line + n, sizeof line - std::size_t(n), ", %s%lld:%02lld:%02lld left", stepsToDo_ ? "" : "at most ",
                  s / 3600, s / 60 % 60, s % 60);
  }
  return line;
}

}  // namespace zelmora::sweep
