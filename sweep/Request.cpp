#include "sweep/Request.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "sweep/Columns.h"

namespace zelmora::sweep {
namespace {

using Source = RequestError::Source;

constexpr double Pow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                            1e16, 1e17, 1e18};

// A value as messages show it: a whole number's digits, otherwise its shortest text.
std::string Shown(double value) {
  if (value == std::floor(value) && std::abs(value) < 9e15) return std::to_string(std::int64_t(value));
  return NumberText(value);
}

struct Field {
  const char* name;
  std::int64_t low, high;
  const char* expects;
};

const Field Fields[] = {
    {"steps", 0, 1'000'000'000, "a whole number from 0 to 1000000000"},
    {"record_every", 1, 2147483647, "a whole number of steps, at least 1"},
    {"repeats", 1, MaxRuns, "a whole number from 1 to 1000000000"},
    {"jobs", 1, 1024, "a whole number of threads from 1 to 1024"},
    {"progress_every", 0, 86400, "a whole number of seconds from 0 to 86400"},
    {"snapshot_every", 1, 1'000'000'000, "a whole number of steps, at least 1"},
    {"seed", 0, 0, "a whole number from 0 to 18446744073709551615"},
    {"shard", 0, 0, "I/N with whole numbers 0 <= I < N"},
    {"snapshot_at", 0, 0, "a list of steps from 0 to the steps of a run"},
    {"out", 0, 0, "a file name ending in .csv"},
    {"until", 1, 1'000'000'000, "steps, settled or settled:W with W quiet steps in a row, 1 to 1000000000"},
};

const Field& FieldNamed(const std::string& name) {
  for (const Field& field : Fields) {
    if (name == field.name) return field;
  }
  throw std::logic_error("no request field " + name);
}

void CheckField(const char* name, std::int64_t value) {
  const Field& field = FieldNamed(name);
  if (value < field.low || value > field.high) {
    throw RequestError(Source::Field, name, std::to_string(value), std::string("expects ") + field.expects);
  }
}

RequestError Conflict(Source a, const std::string& aName, Source b, const std::string& bName, std::string reason,
                      std::int64_t row = 0, std::int64_t column = 0) {
  RequestError error(a, aName, "", std::move(reason), row);
  error.column = column;
  error.other = {b, bName};
  error.joined = true;
  return error;
}

std::string NameOf(std::size_t parameter) { return std::string(Parameters[parameter].name); }

// Each fact from one place: the base's two names exclude each other, an axis excludes the base's
// other name and another axis of the same fact, a design's column excludes every other place of
// its fact but the base's same name (which it overrides, as an axis does).
void CheckOnePlace(const Request& r) {
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    for (std::size_t j = k + 1; j < ParameterCount; ++j) {
      if (r.base.Given(k) && r.base.Given(j) && FactOf(k) == FactOf(j)) {
        throw Conflict(Source::Parameter, NameOf(k), Source::Parameter, NameOf(j),
                       "and {other} exclude each other; give one of them");
      }
    }
  }
  for (std::size_t a = 0; a < r.axes.size(); ++a) {
    const std::size_t p = r.axes[a].parameter;
    for (std::size_t b = 0; b < a; ++b) {
      const std::size_t q = r.axes[b].parameter;
      if (p == q) throw RequestError(Source::Set, NameOf(p), "", "given twice; give each name once");
      if (FactOf(p) == FactOf(q)) {
        throw Conflict(Source::Set, NameOf(q), Source::Set, NameOf(p), "and {other} exclude each other; vary one of them");
      }
    }
    for (std::size_t k = 0; k < ParameterCount; ++k) {
      if (r.base.Given(k) && k != p && FactOf(k) == FactOf(p)) {
        throw Conflict(Source::Set, NameOf(p), Source::Parameter, NameOf(k),
                       "and {other} exclude each other; give one of them");
      }
    }
  }
  if (!r.design) return;
  const Design& d = *r.design;
  for (std::size_t c = 0; c < d.columns.size(); ++c) {
    const std::size_t p = d.columns[c];
    const std::int64_t column = std::int64_t(c) + 1;
    for (std::size_t e = 0; e < c; ++e) {
      if (d.columns[e] == p) {
        RequestError error(Source::Design, d.names[c], "", "is given twice (also column " + std::to_string(e + 1) + ")");
        error.column = column;
        error.joined = true;
        throw error;
      }
      if (FactOf(d.columns[e]) == FactOf(p)) {
        throw Conflict(Source::Design, d.names[e], Source::Design, d.names[c], "and {other} exclude each other; give one of them");
      }
    }
    for (const Axis& axis : r.axes) {
      if (FactOf(axis.parameter) != FactOf(p)) continue;
      if (axis.parameter == p) {
        throw Conflict(Source::Design, d.names[c], Source::Set, NameOf(axis.parameter),
                       "is also varied by {other}; give each parameter in one of them");
      }
      throw Conflict(Source::Design, d.names[c], Source::Set, NameOf(axis.parameter),
                     "and {other} exclude each other; give one of them");
    }
    for (std::size_t k = 0; k < ParameterCount; ++k) {
      if (r.base.Given(k) && k != p && FactOf(k) == FactOf(p)) {
        throw Conflict(Source::Design, d.names[c], Source::Parameter, NameOf(k),
                       "and {other} exclude each other; give one of them");
      }
    }
  }
}

void CheckValues(const Request& r) {
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    if (r.base.Given(k) && !InRange(k, r.base.values[k])) {
      throw RequestError(Source::Parameter, NameOf(k), Shown(r.base.values[k]), "expects " + Expects(k));
    }
  }
  for (const Axis& axis : r.axes) {
    if (axis.Size() == 0) throw RequestError(Source::Set, NameOf(axis.parameter), "", "expects at least one value");
    const auto refuse = [&](double value) {
      return RequestError(Source::Set, NameOf(axis.parameter), Shown(value), "expects " + Expects(axis.parameter));
    };
    if (axis.IsProgression()) {
      // A range rises steadily: its ends bound it, and its values are whole where its start and
      // step are (a real's value of a range is checked at its ends only).
      const auto whole = [&](std::int64_t scaled) { return scaled % std::int64_t(Pow10[axis.places]) == 0; };
      const bool real = Parameters[axis.parameter].kind == ParameterKind::Real;
      if (!real && !whole(axis.start)) throw refuse(axis.At(0));
      if (!real && !whole(axis.step)) throw refuse(axis.At(1));
      if (!InRange(axis.parameter, axis.At(0))) throw refuse(axis.At(0));
      const std::int64_t last = axis.Size() - 1;
      if (!InRange(axis.parameter, axis.At(last))) {
        // The first value past the top, as a list of the same values would name it.
        const double top = Parameters[axis.parameter].high * Pow10[axis.places];
        const double past = std::floor((top - double(axis.start)) / double(axis.step)) + 1;
        throw refuse(axis.At(std::clamp<std::int64_t>(std::int64_t(past), 0, last)));
      }
      continue;
    }
    for (const double value : axis.listed) {
      if (!InRange(axis.parameter, value)) throw refuse(value);
    }
  }
  if (!r.design) return;
  const Design& d = *r.design;
  if (d.points == 0) throw RequestError(Source::Design, "", "", "no points; expects one row of values per point");
  for (std::int64_t point = 0; point < d.points; ++point) {
    for (std::size_t c = 0; c < d.columns.size(); ++c) {
      const double value = d.At(point, c);
      if (!InRange(d.columns[c], value)) {
        RequestError error(Source::Design, d.names[c], Shown(value), "expects " + Expects(d.columns[c]), point + 1);
        error.column = std::int64_t(c) + 1;
        throw error;
      }
    }
  }
}

// The points times the lists times the repeats may not pass MaxRuns: the factor that passes it is
// named.
void CheckSize(const Request& r) {
  const std::string most = "the sweep would have more than " + std::to_string(MaxRuns) + " runs";
  std::int64_t runs = r.design ? r.design->points : 1;
  if (runs > MaxRuns) throw RequestError(Source::Field, "design", "", std::to_string(runs) + " points: " + most);
  for (const Axis& axis : r.axes) {
    if (axis.Size() > 0 && runs > MaxRuns / axis.Size()) throw RequestError(Source::Set, NameOf(axis.parameter), "", most);
    runs *= std::max<std::int64_t>(axis.Size(), 1);
  }
  if (runs > MaxRuns / r.repeats) throw RequestError(Source::Field, "repeats", std::to_string(r.repeats), most);
}

// Where run `index` got parameter `p` (or its fact) from, to name it in a message: a design's
// cell, an axis, the base, or nowhere (a default).
RequestError Named(const Request& r, std::int64_t index, std::size_t p, std::string reason) {
  if (r.design) {
    for (std::size_t c = 0; c < r.design->columns.size(); ++c) {
      if (FactOf(r.design->columns[c]) != FactOf(p)) continue;
      RequestError error(Source::Design, r.design->names[c], "", std::move(reason), DesignPointOf(r, index) + 1);
      error.column = std::int64_t(c) + 1;
      return error;
    }
  }
  for (const Axis& axis : r.axes) {
    if (FactOf(axis.parameter) == FactOf(p)) return RequestError(Source::Set, NameOf(axis.parameter), "", std::move(reason));
  }
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    if (r.base.Given(k) && FactOf(k) == FactOf(p)) return RequestError(Source::Parameter, NameOf(k), "", std::move(reason));
  }
  return RequestError(Source::Parameter, NameOf(p), "", std::move(reason));
}

bool Varied(const Request& r, std::size_t p) {
  if (r.design && std::any_of(r.design->columns.begin(), r.design->columns.end(),
                              [&](std::size_t c) { return FactOf(c) == FactOf(p); })) {
    return true;
  }
  return std::any_of(r.axes.begin(), r.axes.end(), [&](const Axis& a) { return FactOf(a.parameter) == FactOf(p); });
}

// The first run, in run order, that breaks a rule (nothing if none does), and the most cells a run
// has. The rules are monotone in each parameter they read, each in one direction whatever the
// others are (prices rise with costs, travel, agents and the grid, fall with returns; agents fit
// fewer cells; a radius fits larger grids), so over a box of runs (each varied parameter between
// two of its values) the worst run of each rule is a corner of the box, and every corner is a run.
// The slowest digit breaking somewhere is found by halving its values, then the next: a refusal
// costs the logarithms of the lists' lengths, not their product. A design's points, which make no
// box, are each looked at.
class RuleSearch {
 public:
  explicit RuleSearch(const Request& r) : r_(r) {
    std::int64_t stride = r.repeats;
    for (auto axis = r.axes.rbegin(); axis != r.axes.rend(); ++axis) {
      if (RulesRead(axis->parameter)) digits_.push_back({&*axis, axis->Size(), stride, 0, axis->Size() - 1});
      stride *= axis->Size();
    }
    if (r.design && std::any_of(r.design->columns.begin(), r.design->columns.end(), RulesRead)) {
      digits_.push_back({nullptr, r.design->points, stride, 0, r.design->points - 1});
    }
  }

  std::optional<std::int64_t> FirstBroken() {
    // The design is the slowest digit: each point with the axes' whole box.
    if (!digits_.empty() && digits_.back().axis == nullptr) {
      Digit& design = digits_.back();
      for (std::int64_t point = 0; point < design.size; ++point) {
        design.lo = design.hi = point;
        if (Breaks()) return Narrowed(digits_.size() - 1);
      }
      return std::nullopt;
    }
    if (!Breaks()) return std::nullopt;
    return Narrowed(digits_.size());
  }

  double cells = 0;

 private:
  struct Digit {
    const Axis* axis;  // null: the design's points
    std::int64_t size, stride, lo, hi;
  };

  // With the digits from `fixed` on fixed and some run of the box breaking a rule: each faster
  // digit narrowed to its first value under which one does, slowest first.
  std::int64_t Narrowed(std::size_t fixed) {
    for (std::size_t k = fixed; k-- > 0;) {
      Digit& digit = digits_[k];
      std::int64_t a = digit.lo, b = digit.hi;
      while (a < b) {
        digit.hi = a + (b - a) / 2;
        if (Breaks()) {
          b = digit.hi;
        } else {
          a = digit.hi + 1;
        }
      }
      digit.lo = digit.hi = a;
    }
    std::int64_t index = 0;
    for (const Digit& digit : digits_) index += digit.lo * digit.stride;
    return index;
  }

  // The positions of an axis's least and greatest value between lo and hi.
  static std::pair<std::int64_t, std::int64_t> Ends(const Digit& d) {
    if (d.axis == nullptr || d.axis->IsProgression() || d.lo == d.hi) return {d.lo, d.hi};
    std::int64_t least = d.lo, most = d.lo;
    for (std::int64_t k = d.lo; k <= d.hi; ++k) {
      if (d.axis->At(k) < d.axis->At(least)) least = k;
      if (d.axis->At(k) > d.axis->At(most)) most = k;
    }
    return {least, most};
  }

  // Whether a corner of the box breaks a rule; the corners' cells count towards the most.
  bool Breaks() {
    std::vector<std::pair<std::int64_t, std::int64_t>> ends;
    for (const Digit& digit : digits_) ends.push_back(Ends(digit));
    for (std::uint64_t corner = 0; corner < (std::uint64_t(1) << ends.size()); ++corner) {
      std::int64_t index = 0;
      for (std::size_t k = 0; k < ends.size(); ++k) {
        index += ((corner >> k) & 1 ? ends[k].second : ends[k].first) * digits_[k].stride;
      }
      const RunPlan run = RunAt(r_, 0, index);
      if (CheckRules(run.parameters)) return true;
      cells = std::max(cells, table::Cells(run.parameters));
    }
    return false;
  }

  const Request& r_;
  std::vector<Digit> digits_;  // the fastest first
};

// Every run against the rules; the first that breaks one is refused, naming it and what it varies.
// Returns the most cells a run has.
double CheckRuns(const Request& r) {
  RuleSearch search(r);
  const auto broken_at = search.FirstBroken();
  if (!broken_at) return search.cells;
  const std::int64_t index = *broken_at;
  const std::int64_t runs = SweepSize(r);
  const RunPlan run = RunAt(r, 0, index);
  const auto broken = CheckRules(run.parameters);
  // The parameter a run varies, else one given, else the rule's first.
  std::size_t named = broken->parameters.front();
  const auto given = [&](std::size_t p) {
    for (std::size_t k = 0; k < ParameterCount; ++k) {
      if (r.base.Given(k) && FactOf(k) == FactOf(p)) return true;
    }
    return false;
  };
  const auto varied = std::find_if(broken->parameters.begin(), broken->parameters.end(),
                                   [&](std::size_t p) { return Varied(r, p); });
  const auto set = std::find_if(broken->parameters.begin(), broken->parameters.end(), given);
  if (varied != broken->parameters.end()) {
    named = *varied;
  } else if (set != broken->parameters.end()) {
    named = *set;
  }
  throw Named(r, index, named, (runs > 1 ? "run " + std::to_string(index) + ": " : "") + broken->reason);
}

}  // namespace

// The longest name a sweep derives from its output, past its stem: a chart's picture's temporary.
void CheckOutName(const Request& r) {
  if (r.out.empty()) return;
  if (r.out.size() < 5 || r.out.compare(r.out.size() - 4, 4, ".csv") != 0) {
    throw RequestError(Source::Field, "out", r.out, std::string("expects ") + FieldNamed("out").expects);
  }
  const std::int64_t size = SweepSize(r);
  const std::string longest = ".run" + std::to_string(std::max<std::int64_t>(size - 1, 0)) + ".step" +
                              std::to_string(r.steps) + ".segregation.png.tmpXXXXXX";
  const std::string stem = r.out.substr(0, r.out.size() - 4);
  const std::string name = std::filesystem::path(stem).filename().string();
  if (name.size() + longest.size() > 255 || stem.size() + longest.size() > 4095) {
    throw RequestError(Source::Field, "out", r.out.size() > 80 ? r.out.substr(0, 40) + "..." + r.out.substr(r.out.size() - 20) : r.out,
                       "expects a shorter name: the files it names (up to NAME" + longest + ") must fit the file system's limits of 255 bytes a name and 4095 a path");
  }
}

namespace {

void CheckMemory(const Request& r, double cells) {
  const std::int64_t memory = PhysicalMemory();
  const std::int64_t worlds = std::max<std::int64_t>(1, std::min<std::int64_t>(r.jobs, ShardSize(r)));
  if (memory <= 0 || cells * double(BytesPerCell) * double(worlds) <= double(memory / 2)) return;
  throw RequestError(Source::Field, "grid", "",
                     "a grid of " + std::to_string(std::int64_t(cells)) + " cells needs about " +
                         std::to_string(std::int64_t(cells) * BytesPerCell >> 20) + " MiB per World, and " +
                         std::to_string(worlds) + " at once (jobs) exceed half of this machine's memory (" +
                         std::to_string(memory >> 20) + " MiB); expects a smaller grid or fewer jobs");
}

}  // namespace

RequestError::RequestError(Source source, std::string name, std::string value, std::string reason, std::int64_t row)
    : std::runtime_error(name + ": " + reason + (value.empty() ? "" : "; got '" + value + "'")),
      source(source),
      name(std::move(name)),
      value(std::move(value)),
      reason(std::move(reason)),
      row(row) {}

Axis Axis::Listed(std::size_t parameter, std::vector<double> values) { return {parameter, std::move(values)}; }

Axis Axis::Progression(std::size_t parameter, std::int64_t start, std::int64_t step, std::int64_t count, int places) {
  return {parameter, {}, start, step, count, places};
}

double Axis::At(std::int64_t k) const {
  // Both the scaled value and the power of ten are exact doubles, so the quotient is the double
  // nearest the decimal: the value its text names.
  return IsProgression() ? double(start + k * step) / Pow10[places] : listed[std::size_t(k)];
}

std::string Axis::RangeText() const {
  const auto decimal = [this](std::int64_t scaled) {
    std::string digits = std::to_string(scaled < 0 ? -scaled : scaled);
    if (places > 0) {
      if (int(digits.size()) <= places) digits.insert(0, std::size_t(places + 1) - digits.size(), '0');
      digits.insert(digits.size() - std::size_t(places), ".");
      while (digits.back() == '0') digits.pop_back();
      if (digits.back() == '.') digits.pop_back();
    }
    return scaled < 0 ? "-" + digits : digits;
  };
  return decimal(start) + ":" + decimal(start + (count - 1) * step) + ":" + decimal(step);
}

std::int64_t SweepSize(const Request& r) {
  std::int64_t runs = r.design ? r.design->points : 1;
  for (const Axis& axis : r.axes) {
    const std::int64_t n = axis.Size();
    if (n > 0 && runs > MaxRuns / n) return MaxRuns + 1;
    runs *= n;
  }
  if (r.repeats > 0 && runs > MaxRuns / r.repeats) return MaxRuns + 1;
  return runs * r.repeats;
}

RunPlan RunAt(const Request& r, std::uint64_t masterSeed, std::int64_t index) {
  ParameterSet values = r.base;
  // Mixed radix: the repeats are the lowest digit, the last axis the next.
  std::int64_t rest = index / r.repeats;
  for (auto axis = r.axes.rbegin(); axis != r.axes.rend(); ++axis) {
    const std::int64_t n = axis->Size();
    values.Set(axis->parameter, axis->At(rest % n));
    rest /= n;
  }
  // The design's point is the slowest digit: a design listing a cross product in the axes' order
  // numbers its runs as those axes do.
  if (r.design) {
    for (std::size_t c = 0; c < r.design->columns.size(); ++c) values.Set(r.design->columns[c], r.design->At(rest, c));
  }
  return {index, RunSeed(masterSeed, index), Resolve(values)};
}

std::int64_t DesignPointOf(const Request& r, std::int64_t index) {
  std::int64_t rest = index / r.repeats;
  for (const Axis& axis : r.axes) rest /= axis.Size();
  return rest;
}

std::optional<std::int64_t> ShardPosition(const Request& r, std::int64_t index) {
  if (!r.runs.Empty()) return r.runs.PositionOf(index);
  if (index < r.shardIndex || (index - r.shardIndex) % r.shardCount != 0 || index >= SweepSize(r)) return std::nullopt;
  return (index - r.shardIndex) / r.shardCount;
}

std::int64_t ShardSize(const Request& r) {
  if (!r.runs.Empty()) return r.runs.Size();
  const std::int64_t size = SweepSize(r);
  return size > r.shardIndex ? (size - r.shardIndex + r.shardCount - 1) / r.shardCount : 0;
}

// A front end's own columns: names the CSV can hold as they are (no quoting), each once, none a
// column of the program's.
void CheckMeasureNames(const Request& r) {
  for (std::size_t k = 0; k < r.measures.size(); ++k) {
    const std::string& name = r.measures[k];
    if (name.empty() || name.find_first_of(",\"\r\n") != std::string::npos) {
      throw RequestError(Source::Field, "measures", name, "expects names without commas, quotes or line ends");
    }
    for (const Column& column : Columns(r.means)) {
      if (column.name == name) {
        throw RequestError(Source::Field, "measures", name, "expects names that are no column of the sweep's");
      }
    }
    if (std::find(r.measures.begin(), r.measures.begin() + std::ptrdiff_t(k), name) != r.measures.begin() + std::ptrdiff_t(k)) {
      throw RequestError(Source::Field, "measures", name, "expects each name once");
    }
  }
}

void Validate(const Request& r) {
  CheckField("steps", r.steps);
  CheckField("record_every", r.recordEvery);
  CheckField("repeats", r.repeats);
  CheckField("jobs", r.jobs);
  CheckField("progress_every", r.progressEvery);
  if (r.quietSteps != 0) CheckField("until", r.quietSteps);
  if (r.pictures.snapshotEvery != 0) CheckField("snapshot_every", r.pictures.snapshotEvery);
  if (r.shardCount < 1 || r.shardIndex < 0 || r.shardIndex >= r.shardCount) {
    throw RequestError(Source::Field, "shard", std::to_string(r.shardIndex) + "/" + std::to_string(r.shardCount),
                       std::string("expects ") + FieldNamed("shard").expects);
  }
  for (const std::int32_t step : r.pictures.snapshotAt) {
    if (step < 0 || step > r.steps) {
      throw RequestError(Source::Field, "snapshot_at", std::to_string(step),
                         "expects a list of steps from 0 to the steps of a run (" + std::to_string(r.steps) + ")");
    }
  }
  if (r.resume && r.force) {
    throw Conflict(Source::Field, "resume", Source::Field, "force", "and {other} exclude each other; give one of them");
  }
  CheckSize(r);
  if (!r.runs.Empty()) {
    if (r.shardCount != 1) throw RequestError(Source::Field, "shard", "", "a replay of chosen runs is not sharded");
    if (r.runs.Last() >= SweepSize(r)) {
      throw RequestError(Source::Field, "runs", std::to_string(r.runs.Last()),
                         "expects runs of the sweep, from 0 to " + std::to_string(SweepSize(r) - 1));
    }
  }
  CheckMeasureNames(r);
  CheckOnePlace(r);
  CheckValues(r);
  CheckOutName(r);
  CheckMemory(r, CheckRuns(r));
}

std::string FieldExpects(const std::string& field) { return FieldNamed(field).expects; }

std::string UntilText(std::int32_t quietSteps) {
  if (quietSteps == 0) return "steps";
  return quietSteps == 1 ? "settled" : "settled:" + std::to_string(quietSteps);
}

std::optional<std::int32_t> ParseUntil(std::string_view text) {
  if (text == "steps") return 0;
  if (text == "settled") return 1;
  constexpr std::string_view Settled = "settled:";
  if (text.substr(0, Settled.size()) != Settled) return std::nullopt;
  const auto quiet = WholeText<std::int32_t>(text.substr(Settled.size()));
  const Field& field = FieldNamed("until");
  if (!quiet || *quiet < field.low || *quiet > field.high) return std::nullopt;
  return *quiet;
}

std::int64_t PhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return std::int64_t(pages) * std::int64_t(pageSize);
}

}  // namespace zelmora::sweep
