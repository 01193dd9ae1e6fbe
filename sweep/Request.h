#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sweep/ParameterTable.h"
#include "sweep/RunPlan.h"
#include "sweep/RunSelection.h"

namespace zelmora::sweep {

// The values of a varied parameter: listed, or an arithmetic progression written in decimal
// (start + k * step for k < count, in units of 10^-places), so that 0.9:1.1:0.1 gives exactly
// 0.9, 1 and 1.1 and a range of any length costs nothing until its values are read.
struct Axis {
  std::size_t parameter = 0;  // as given: a second name (density) stays itself
  std::vector<double> listed;
  std::int64_t start = 0, step = 0, count = 0;
  int places = 0;

  static Axis Listed(std::size_t parameter, std::vector<double> values);
  static Axis Progression(std::size_t parameter, std::int64_t start, std::int64_t step, std::int64_t count,
                          int places);
  bool IsProgression() const { return count > 0; }
  std::int64_t Size() const { return IsProgression() ? count : std::int64_t(listed.size()); }
  double At(std::int64_t k) const;
  // A progression as start:stop:step, each in decimal.
  std::string RangeText() const;
};

// A point design: one point per row, one column per parameter. Values are parsed and checked,
// point after point: values[point * columns.size() + column], shared by every copy of the request,
// so a sweep holds its points once, 8 bytes a value.
struct Design {
  std::vector<std::size_t> columns;  // parameters, as given
  std::vector<std::string> names;    // the columns' names as written, for messages
  std::shared_ptr<const std::vector<double>> values = std::make_shared<const std::vector<double>>();
  std::int64_t points = 0;
  std::string file;  // where it came from (a file's name, or empty): for messages and the resume hint
  bool fromManifest = false;  // the file is gone: a resume takes the points from the sweep's manifest

  double At(std::int64_t point, std::size_t column) const {
    return (*values)[std::size_t(point) * columns.size() + column];
  }
};

enum class Video { None, Mp4, Gif };

// The pictures a sweep makes for every run.
struct Pictures {
  bool charts = false;
  bool windowChart = false;  // the market chart as the window shows it at the end
  std::vector<std::int32_t> snapshotAt;  // sorted, distinct
  std::int32_t snapshotEvery = 0;        // after every K-th step and the last; 0: none
  Video video = Video::None;

  bool Any() const { return charts || !snapshotAt.empty() || snapshotEvery > 0 || video != Video::None; }
  bool operator==(const Pictures&) const = default;
};

// A sweep as every front end asks for it: what decides its results (the parameters, their lists
// and design, repeats, steps, recording, the master seed), and this invocation's part of it (the
// shard, the outputs, the threads, the progress). Built directly from options or keywords; checked
// by Validate, whose errors say which field or parameter is wrong and why.
struct Request {
  ParameterSet base;         // every run's values before the lists and the design
  std::vector<Axis> axes;    // the cross product: the first varies slowest
  std::optional<Design> design;  // its points vary slower than every axis
  std::int64_t repeats = 1;
  std::int32_t steps = 500;      // the most a run makes
  std::int32_t quietSteps = 0;   // 0: runs make their steps; W: a run ends at its W-th quiet step in a row
  std::int32_t recordEvery = 1;
  bool means = false;  // each row adds the means of the per-step columns since the row before
  // Columns a front end computes itself (Python's measures), by name, after the program's in every
  // row: a MeasureMaker gives their values.
  std::vector<std::string> measures;
  std::optional<std::uint64_t> seed;  // the master seed; drawn when none
  // A replay's runs (its own files hold these runs of the sweep only); empty: every run.
  RunSelection runs;

  std::string from;  // the manifest whose sweep a replay replays; empty: no replay
  std::int64_t shardIndex = 0, shardCount = 1;
  std::int32_t jobs = 1;
  std::string out;  // the CSV; empty: no files (a sweep into memory)
  Pictures pictures;
  std::int32_t progressEvery = 60;  // seconds between progress lines in a log; 0: none
  bool quiet = false;
  bool resume = false;
  bool force = false;
  std::vector<std::string> commandLine;  // as typed, for the manifest
};

// The largest sweep (points times lists times repeats), and the memory a World needs per cell
// (cells, the phases' copies, an agent, the measures' scratch), against which grids are checked.
inline constexpr std::int64_t MaxRuns = 1'000'000'000;
inline constexpr std::int64_t BytesPerCell = 256;
static_assert(RunSelection::MaxRun == MaxRuns - 1);

// A request that cannot run. `source` says where the wrong value was given, `name` which field or
// parameter (as the table names it; a design's column as written), `row` and `column` a design's
// cell (from 1; 0 none), `value` the value as given (may be empty) and `reason` what is expected.
// A reason may name a second place, `other`, as "{other}"; a `joined` reason goes on the sentence
// the name begins ("agents and density exclude each other") instead of following a colon. Each
// front end words the places in its own terms (Word).
class RequestError : public std::runtime_error {
 public:
  enum class Source { Field, Parameter, Set, Design };
  struct Place {
    Source source = Source::Field;
    std::string name;
  };
  RequestError(Source source, std::string name, std::string value, std::string reason, std::int64_t row = 0);

  Source source;
  std::string name;
  std::string value;
  std::string reason;
  std::int64_t row = 0, column = 0;
  std::optional<Place> other;
  bool joined = false;
};

// The error as one line, each place named by `named(source, name, row, column)`: the error's own,
// its other place for "{other}" (with row and column -1: a second place in the same sentence), and
// a request field for "{field}" (as "{resume}").
template <class Named>
std::string Word(const RequestError& e, Named named) {
  std::string reason;
  for (std::size_t k = 0; k < e.reason.size(); ++k) {
    const std::size_t end = e.reason.find('}', k);
    if (e.reason[k] != '{' || end == std::string::npos) {
      reason += e.reason[k];
      continue;
    }
    const std::string field = e.reason.substr(k + 1, end - k - 1);
    reason += field == "other" && e.other ? named(e.other->source, e.other->name, -1, -1)
                                          : named(RequestError::Source::Field, field, 0, 0);
    k = end;
  }
  return named(e.source, e.name, e.row, e.column) + (e.joined ? " " : ": ") + reason +
         (e.value.empty() ? "" : "; got '" + e.value + "'");
}

// The runs of the whole sweep: design points times the lists' lengths times repeats, or MaxRuns + 1
// when that is more (the product never overflows).
std::int64_t SweepSize(const Request& request);

// Run `index` of the whole sweep: the design's point varies slowest, then the first list, ..., the
// repeats fastest; its seed from the master seed and the index only.
RunPlan RunAt(const Request& request, std::uint64_t masterSeed, std::int64_t index);

// The design's point (0 for the first row) that run `index` takes its values from.
std::int64_t DesignPointOf(const Request& request, std::int64_t index);

// The runs of this shard (indices shardIndex, shardIndex + shardCount, ...) or of a replay, the
// index of its k-th run, and the position of run `index` among them (nothing: not one of them).
std::int64_t ShardSize(const Request& request);
inline std::int64_t ShardRun(const Request& request, std::int64_t k) {
  return request.runs.Empty() ? request.shardIndex + k * request.shardCount : request.runs.At(k);
}
std::optional<std::int64_t> ShardPosition(const Request& request, std::int64_t index);

// Checks everything a sweep needs before it starts: every field's range, every given value, that
// each parameter's fact comes from one place, the size, and every run against the rules that tie
// parameters together (agents that fit, prices below the model's ceiling) and the machine's
// memory. Cost follows the lists' logarithms and the design's points, not the runs: the rules are
// monotone, so they are checked on the corners of boxes of runs. Throws RequestError.
void Validate(const Request& request);

// Checks the output's name: a CSV's, and short enough for every file named after it. Part of
// Validate, and cheap enough to come before anything is claimed.
void CheckOutName(const Request& request);

// The stop condition as the command line and the manifest write it: "steps" (0), "settled" (1
// quiet step) or "settled:W"; and read back, nothing for any other text.
std::string UntilText(std::int32_t quietSteps);
std::optional<std::int32_t> ParseUntil(std::string_view text);

// The range of a request's field as messages say it ("a whole number from 0 to 1000000000"), for
// front ends that read the field before it is checked.
std::string FieldExpects(const std::string& field);

// Physical memory in bytes, 0 if unknown.
std::int64_t PhysicalMemory();

}  // namespace zelmora::sweep
