#include "python/Keywords.h"

#include <pybind11/numpy.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <limits>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "python/Parameters.h"
#include "sweep/Printable.h"
#include "sweep/Replay.h"
#include "sweep/RequestJson.h"

namespace zelmora::python {
namespace {

using sweep::Parameters;
using Source = sweep::RequestError::Source;

constexpr std::size_t Cols = sweep::ParameterIndex("grid_cols");
constexpr std::size_t Rows = sweep::ParameterIndex("grid_rows");

std::string Text(py::handle value, const std::string& name) {
  if (!py::isinstance<py::str>(value)) throw py::type_error(name + ": expects a str; got " + TypeName(value));
  return py::str(value);
}

bool Flag(py::handle value, const std::string& name) {
  if (!IsBool(value)) throw py::type_error(name + ": expects True or False; got " + TypeName(value));
  return PyObject_IsTrue(value.ptr());
}

std::string PathText(py::handle value, const std::string& name) {
  const py::object os = py::module_::import("os");
  if (!py::isinstance<py::str>(value) && !py::isinstance<py::bytes>(value) && !py::hasattr(value, "__fspath__")) {
    throw py::type_error(name + ": expects a path (str, bytes or os.PathLike); got " + TypeName(value));
  }
  // The file system's own bytes, so a name in any encoding (Latin-1, ...) reaches the file as given.
  return py::bytes(os.attr("fsencode")(value));
}

// A one-dimensional NumPy array's values as doubles, its element kind checked against the
// parameter's: whole numbers for an integer, numbers for a real, bools for a switch.
std::vector<double> ArrayValues(std::size_t parameter, const py::array& array, const std::string& label) {
  if (array.ndim() != 1) throw py::type_error(label + ": expects a one-dimensional array; got " + std::to_string(array.ndim()));
  const char kind = array.dtype().kind();
  const sweep::ParameterKind expected = Parameters[parameter].kind;
  // Whole numbers and switches may come as a sweep's rows hold them: reals (2.0) and 1 or 0.
  const bool number = kind == 'i' || kind == 'u' || kind == 'f';
  const bool fits = array.size() == 0 || (expected == sweep::ParameterKind::Integer && number) ||
                    (expected == sweep::ParameterKind::Real && number) ||
                    (expected == sweep::ParameterKind::Switch && (kind == 'b' || number));
  if (!fits) {
    throw py::type_error(label + ": expects " + std::string(sweep::KindName(expected)) + " values; got an array of " +
                         std::string(py::str(array.dtype())));
  }
  const py::array_t<double, py::array::forcecast | py::array::c_style> values(array);
  for (const double value : std::span(values.data(), std::size_t(values.size()))) {
    const bool whole = value == std::floor(value) && std::isfinite(value);
    if ((expected == sweep::ParameterKind::Integer && !whole) ||
        (expected == sweep::ParameterKind::Switch && kind != 'b' && value != 0 && value != 1)) {
      throw py::value_error(label + ": expects " + sweep::Expects(parameter) + "; got " + sweep::NumberText(value));
    }
  }
  return {values.data(), values.data() + values.size()};
}

// A Python int as 64 bits, or nothing where it needs more.
std::optional<std::int64_t> Int64(py::handle number) {
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow != 0) return std::nullopt;
  if (value == -1 && PyErr_Occurred() != nullptr) throw py::error_already_set();
  return value;
}

// An ascending range of a number as an axis, however long: one of more runs than a sweep may have
// stands for its size alone (the size is refused before any value is read), and one whose values
// pass 64 bits is refused naming its first value past the parameter's range.
sweep::Axis RangeAxis(std::size_t parameter, py::handle values) {
  const py::object start = values.attr("start"), step = values.attr("step"), stop = values.attr("stop");
  // Python's own arithmetic: the ends may pass 64 bits.
  const py::object count = (stop - start + step - py::int_(1)).attr("__floordiv__")(step);
  if (count > py::int_(sweep::MaxRuns)) return sweep::Axis::Progression(parameter, 0, 1, sweep::MaxRuns + 1, 0);
  const auto first = Int64(start), by = Int64(step), last = Int64(start + (count - py::int_(1)) * step);
  if (first && by && last) return sweep::Axis::Progression(parameter, *first, *by, *Int64(count), 0);
  const py::int_ high(std::int64_t(Parameters[parameter].high));
  py::object past = start;
  if (start <= high) past = start + ((high - start).attr("__floordiv__")(step) + py::int_(1)) * step;
  throw sweep::RequestError(Source::Set, std::string(Parameters[parameter].name), std::string(py::str(past)),
                            "expects " + sweep::Expects(parameter));
}

// One varied parameter's values.
sweep::Axis AxisFrom(std::size_t parameter, py::handle values, const std::string& label) {
  if (py::isinstance<py::str>(values)) return sweep::ParseAxis(parameter, std::string(py::str(values)));
  if (py::isinstance(values, py::module_::import("builtins").attr("range"))) {
    // An ascending range stays a range, however long; others are few enough to list.
    const sweep::ParameterKind kind = Parameters[parameter].kind;
    const py::object start = values.attr("start"), step = values.attr("step"), stop = values.attr("stop");
    if (step > py::int_(0) && stop > start &&
        kind != sweep::ParameterKind::Switch && kind != sweep::ParameterKind::Choice) {
      return RangeAxis(parameter, values);
    }
  }
  if (py::isinstance<py::array>(values)) {
    return sweep::Axis::Listed(parameter, ArrayValues(parameter, py::reinterpret_borrow<py::array>(values), label));
  }
  std::vector<double> listed;
  if (py::hasattr(values, "__iter__")) {
    for (const py::handle value : values) listed.push_back(ParameterValue(parameter, value, label));
  } else {
    listed.push_back(ParameterValue(parameter, values, label));
  }
  return sweep::Axis::Listed(parameter, std::move(listed));
}

void AddSets(py::handle sets, sweep::Request& request) {
  if (!py::isinstance<py::dict>(sets)) {
    throw py::type_error("set: expects a dict of parameter names and their values; got " + TypeName(sets));
  }
  for (const auto& [key, values] : py::reinterpret_borrow<py::dict>(sets)) {
    if (!py::isinstance<py::str>(key)) throw py::type_error("set: names are strings; got " + TypeName(key));
    const std::string name = py::str(key);
    const auto parameter = sweep::FindParameter(name);
    if (!parameter) throw sweep::RequestError(Source::Set, name, "", "is no parameter (zelmora.parameters() lists them)");
    request.axes.push_back(AxisFrom(*parameter, values, "set " + name));
  }
}

// A request field's whole number, held in `low` to `high` until Validate checks the field's range:
// one past them is refused as Validate refuses one past that range, naming it.
std::int64_t FieldWhole(py::handle value, const std::string& name, std::int64_t low, std::int64_t high) {
  try {
    return WholeFrom(value, name, low, high);
  } catch (const py::value_error&) {
    throw sweep::RequestError(Source::Field, name, std::string(py::str(value)), "expects " + sweep::FieldExpects(name));
  }
}

// A design's cell: the value a column's type gives it, or, for text and other objects, the value
// the command line reads from its text. Errors name the row and column as a file's would.
double CellValue(std::size_t parameter, py::handle cell, const std::string& name, std::int64_t row, std::int64_t column) {
  const auto refuse = [&](const std::string& shown) {
    sweep::RequestError error(Source::Design, name, shown, "expects " + sweep::Expects(parameter), row);
    error.column = column;
    return error;
  };
  const sweep::ParameterKind kind = Parameters[parameter].kind;
  std::optional<double> value;
  if (IsBool(cell)) {
    if (kind == sweep::ParameterKind::Switch) value = PyObject_IsTrue(cell.ptr()) ? 1 : 0;
  } else if (IsInteger(cell)) {
    // A switch as the sweep's own CSV and DataFrame write it, 1 or 0.
    // Past 64 bits, past every range.
    if (const auto whole = Int64(cell)) value = double(*whole);
    if (kind == sweep::ParameterKind::Choice) value.reset();
  } else if (IsReal(cell)) {
    const double real = py::float_(py::reinterpret_borrow<py::object>(cell));
    // A whole number as a sweep's rows hold it where the column is real (2.0), and a switch's 1.0.
    if (kind == sweep::ParameterKind::Real || (kind != sweep::ParameterKind::Choice && real == std::floor(real))) {
      value = real;
    }
    if (!value) throw refuse(sweep::NumberText(real) + (real == std::floor(real) ? ".0" : ""));
  } else if (py::isinstance<py::str>(cell)) {
    value = sweep::ParseValue(parameter, std::string(py::str(cell)));
  }
  if (!value || !sweep::InRange(parameter, *value)) throw refuse(std::string(py::str(cell)));
  return *value;
}

sweep::Design DesignFrom(py::handle columns) {
  sweep::Design design;
  const py::list list = py::reinterpret_borrow<py::list>(columns);
  std::vector<py::list> cells;
  for (std::size_t c = 0; c < list.size(); ++c) {
    const py::tuple column = list[c].cast<py::tuple>();
    const std::string name = py::str(column[0]);
    const auto parameter = sweep::FindParameter(name);
    if (!parameter) {
      sweep::RequestError error(Source::Design, name, "", "is no parameter (zelmora.parameters() lists them)");
      error.column = std::int64_t(c) + 1;
      error.joined = true;
      throw error;
    }
    design.columns.push_back(*parameter);
    design.names.push_back(name);
    cells.push_back(column[1].attr("tolist")());
  }
  design.points = cells.empty() ? 0 : std::int64_t(cells.front().size());
  std::vector<double> values;
  values.reserve(std::size_t(design.points) * cells.size());
  for (std::int64_t point = 0; point < design.points; ++point) {
    for (std::size_t c = 0; c < cells.size(); ++c) {
      values.push_back(CellValue(design.columns[c], cells[c][std::size_t(point)], design.names[c], point + 1,
                                 std::int64_t(c) + 1));
    }
  }
  design.values = std::make_shared<const std::vector<double>>(std::move(values));
  return design;
}

// The runs a replay makes: indices as a list, tuple, range (kept as a range where its step is 1)
// or array of whole numbers, one whole number, or the command line's text ("13,20,100:110").
sweep::RunSelection RunsFrom(py::handle runs) {
  const std::string name = "runs";
  if (py::isinstance<py::str>(runs)) {
    const std::string text = py::str(runs);
    if (const auto parsed = sweep::ParseRuns(text)) return *parsed;
    throw sweep::RequestError(Source::Field, name, text,
                              "expects runs and ranges first:last of runs, e.g. '13,20,100:110'");
  }
  const auto run = [&](py::handle value) { return WholeFrom(value, name, 0, sweep::RunSelection::MaxRun); };
  if (py::isinstance(runs, py::module_::import("builtins").attr("range")) && py::object(runs.attr("step")).equal(py::int_(1))) {
    if (py::object(runs.attr("stop")) <= py::object(runs.attr("start"))) return {};
    return sweep::RunSelection({{run(runs.attr("start")), run(py::int_(runs.attr("stop")) - py::int_(1))}});
  }
  if (IsInteger(runs)) return sweep::RunSelection({{run(runs), run(runs)}});
  if (py::isinstance<py::str>(runs) || !py::hasattr(runs, "__iter__")) {
    throw py::type_error("runs: expects run indices (a list, range or array of whole numbers, or a str such as "
                         "'13,20,100:110'); got " + TypeName(runs));
  }
  std::vector<sweep::RunSelection::Range> ranges;
  for (const py::handle value : runs) ranges.push_back({run(value), run(value)});
  return sweep::RunSelection(std::move(ranges));
}

bool Given(const py::dict& keywords, const char* name) { return keywords.contains(name) && !keywords[name].is_none(); }

// A replay takes the runs as the sweep made them: a keyword that would change them is refused.
void RefuseChangesOfTheRuns(const py::dict& keywords) {
  for (const auto& [key, value] : keywords) {
    const std::string name = py::str(key);
    if (!value.is_none() && name != "from_manifest" && !sweep::ReplayTakes(name)) {
      throw sweep::RequestError(Source::Field, name, "",
                                "not with from_manifest: a replay makes the runs as the sweep made them; leave it out");
    }
  }
}

// from_manifest= and runs=: the sweep's runs with this call's outputs and threads, and its steps,
// recording and means where given.
sweep::Request ReplayOf(const py::dict& keywords, const sweep::Request& call) {
  sweep::ReplayAsked asked;
  asked.manifest = PathText(keywords["from_manifest"], "from_manifest");
  if (Given(keywords, "runs")) asked.runs = RunsFrom(keywords["runs"]);
  if (Given(keywords, "steps")) asked.steps = call.steps;
  if (Given(keywords, "record_every")) asked.recordEvery = call.recordEvery;
  if (Given(keywords, "means")) asked.means = call.means;
  return sweep::ReplayRequest(asked, call);
}

}  // namespace

sweep::Request RequestFrom(const py::dict& keywords) {
  sweep::Request request;
  request.quiet = true;  // progress is Python's own
  request.jobs = std::int32_t(std::max(1u, std::thread::hardware_concurrency()));
  if (Given(keywords, "from_manifest")) RefuseChangesOfTheRuns(keywords);
  for (const auto& [key, value] : keywords) {
    const std::string name = py::str(key);
    if (value.is_none() || name == "from_manifest" || name == "runs") continue;
    if (name == "grid") {
      const GridSize grid = GridFrom(value);
      for (const std::size_t side : {Cols, Rows}) {
        if (keywords.contains(Parameters[side].name.data()) && !keywords[Parameters[side].name.data()].is_none()) {
          throw py::type_error("grid and " + std::string(Parameters[side].name) + " exclude each other; give one of them");
        }
      }
      request.base.Set(Cols, grid.cols);
      request.base.Set(Rows, grid.rows);
    } else if (name == "steps" || name == "record_every" || name == "jobs") {
      const std::int64_t whole = FieldWhole(value, name, -2147483648LL, 2147483647LL);
      (name == "steps" ? request.steps : name == "jobs" ? request.jobs : request.recordEvery) = std::int32_t(whole);
    } else if (name == "repeats") {
      request.repeats = FieldWhole(value, name, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max());
    } else if (name == "seed") {
      request.seed = SeedFrom(value, name);
    } else if (name == "until") {
      const std::string text = Text(value, name);
      const auto until = sweep::ParseUntil(text);
      if (!until) throw sweep::RequestError(Source::Field, "until", text, "expects " + sweep::FieldExpects("until"));
      request.quietSteps = *until;
    } else if (name == "shard") {
      if (!py::isinstance<py::tuple>(value) || py::len(value) != 2) {
        throw py::type_error("shard: expects (index, count), a pair of whole numbers; got " + TypeName(value));
      }
      const py::tuple pair = py::reinterpret_borrow<py::tuple>(value);
      request.shardIndex = WholeFrom(pair[0], name, 0, std::numeric_limits<std::int64_t>::max());
      request.shardCount = WholeFrom(pair[1], name, 1, std::numeric_limits<std::int64_t>::max());
    } else if (name == "set") {
      AddSets(value, request);
    } else if (name == "design") {
      request.design = DesignFrom(value);
    } else if (name == "out") {
      request.out = PathText(value, name);
    } else if (name == "charts") {
      // True and False, or the command line's on, off and window.
      const std::string charts = IsBool(value) ? (PyObject_IsTrue(value.ptr()) ? "on" : "off") : Text(value, name);
      if (charts != "on" && charts != "off" && charts != "window") {
        throw sweep::RequestError(Source::Field, name, charts, "expects True, False, \"on\", \"off\" or \"window\"");
      }
      request.pictures.charts = charts != "off";
      request.pictures.windowChart = charts == "window";
    } else if (name == "snapshot_at") {
      if (py::isinstance<py::str>(value) || !py::hasattr(value, "__iter__")) {
        throw py::type_error("snapshot_at: expects a list of steps; got " + TypeName(value));
      }
      std::set<std::int32_t> steps;
      for (const py::handle step : value) steps.insert(std::int32_t(WholeFrom(step, name, -2147483648LL, 2147483647LL)));
      request.pictures.snapshotAt.assign(steps.begin(), steps.end());
    } else if (name == "snapshot_every") {
      request.pictures.snapshotEvery = std::int32_t(WholeFrom(value, name, -2147483648LL, 2147483647LL));
    } else if (name == "video") {
      const std::string video = Text(value, name);
      const char* videos[] = {"off", "mp4", "gif"};
      const auto found = std::find(std::begin(videos), std::end(videos), video);
      if (found == std::end(videos)) throw sweep::RequestError(Source::Field, name, video, "expects \"off\", \"mp4\" or \"gif\"");
      request.pictures.video = sweep::Video(found - std::begin(videos));
    } else if (name == "resume" || name == "force" || name == "means") {
      (name == "resume" ? request.resume : name == "force" ? request.force : request.means) = Flag(value, name);
    } else if (const auto parameter = sweep::FindParameter(name)) {
      request.base.Set(*parameter, ParameterValue(*parameter, value, name));
    } else {
      throw py::type_error(sweep::Printable("sweep: unknown keyword '" + name + "'"));
    }
  }
  if (Given(keywords, "from_manifest")) return ReplayOf(keywords, request);
  if (Given(keywords, "runs")) {
    throw sweep::RequestError(Source::Field, "runs", "",
                              "only with from_manifest, the manifest of the sweep whose runs it replays");
  }
  return request;
}

}  // namespace zelmora::python
