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
  // with --until settled (time left then follows the runs). A pace of 0 seconds never ticks.
  Progress(std::ostream& err, Kind kind, std::chrono::seconds pace, std::size_t runs, std::size_t doneBefore,
           std::optional<std::int64_t> stepsToDo, Now now = Clock::now);

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
  Now now_;
  Clock::time_point start_, lastShown_, nextTick_;
};

}  // namespace zelmora::sweep
