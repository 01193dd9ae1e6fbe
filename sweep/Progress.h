#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

namespace zelmora::sweep {

// How far a sweep is: runs done, steps per second, time left. On a terminal one line rewritten in
// place; in a log (a cluster job's stderr) a line at every tick of its pace. The clock is given,
// so a test moves time instead of waiting for it.
class Progress {
 public:
  using Clock = std::chrono::steady_clock;
  using Now = std::function<Clock::time_point()>;
  enum class Kind { None, Terminal, Log };

  // `doneBefore`: runs a resume found done. `stepsToDo`: the steps of the runs to do, unknown
  // with --until settled, where a run makes at most `mostSteps`: time left is then at most the
  // steps the runs not finished can still make, at the rate so far. A pace of 0 seconds never ticks.
  Progress(std::ostream& err, Kind kind, std::chrono::seconds pace, std::size_t runs, std::size_t doneBefore,
           std::optional<std::int64_t> stepsToDo, Now now = Clock::now, std::int64_t mostSteps = 0);

  // A run of this session finished after `steps` steps (with --until settled, its own length).
  void RunFinished(std::int64_t steps) {
    ++finishedRuns_;
    finishedSteps_ += steps;
  }

  // True once per pace (whatever the kind: the sweep brings its manifest up to date then).
  bool Tick();
  // The log's line, for a tick.
  void Log(std::size_t done, std::int64_t steps);
  // The terminal's line, at most four times a second; with `last` always, and ended.
  void Show(std::size_t done, std::int64_t steps, bool last = false);

 private:
  std::string Line(std::size_t done, std::int64_t steps, Clock::time_point now) const;

  std::ostream& err_;
  Kind kind_;
  Clock::duration pace_;
  std::size_t runs_, doneBefore_;
  std::optional<std::int64_t> stepsToDo_;
  std::int64_t mostSteps_;
  std::int64_t finishedRuns_ = 0, finishedSteps_ = 0;
  Now now_;
  Clock::time_point start_, lastShown_, nextTick_;
};

}  // namespace zelmora::sweep
