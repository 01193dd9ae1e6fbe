#include "sweep/Summary.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <numbers>
#include <set>

#include "sweep/Build.h"
#include "sweep/Manifest.h"
#include "sweep/Output.h"
#include "sweep/Record.h"

namespace zelmora::sweep {
namespace {

namespace fs = std::filesystem;
using Source = RequestError::Source;
constexpr double Missing = std::numeric_limits<double>::quiet_NaN();

RequestError Refused(const std::string& field, const std::string& value, const std::string& reason) {
  return RequestError(Source::Field, field, value, reason);
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = line.find(',', start);
    fields.push_back(line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) return fields;
    start = comma + 1;
  }
}

// A field as a number: empty is missing; a choice's name is its place in the parameter's list.
double FieldValue(std::string_view field, std::optional<std::size_t> parameter) {
  if (field.empty()) return Missing;
  if (parameter && Parameters[*parameter].kind == ParameterKind::Choice) {
    const auto& choices = Parameters[*parameter].choices;
    for (std::size_t k = 0; k < choices.size(); ++k) {
      if (choices[k] == field) return double(k);
    }
    return Missing;
  }
  double value = Missing;
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
  return ec == std::errc() && end == field.data() + field.size() ? value : Missing;
}

// Mean and spread of one group as values come, in one pass (Welford's), with the extremes.
struct Moments {
  std::int64_t n = 0;
  double mean = 0, m2 = 0, min = Missing, max = Missing;
  void Add(double x) {
    if (std::isnan(x)) return;
    ++n;
    const double delta = x - mean;
    mean += delta / double(n);
    m2 += delta * (x - mean);
    min = n == 1 ? x : std::min(min, x);
    max = n == 1 ? x : std::max(max, x);
  }
};

// P(|T| < t) for Student's t with v degrees of freedom, by its finite series in theta = atan(t / sqrt v)
// (a sum of positive terms, so exact to rounding): for odd v, 2/pi (theta + sin theta (cos theta +
// 2/3 cos^3 theta + ...)); for even v, sin theta (1 + 1/2 cos^2 theta + 3/8 cos^4 theta + ...).
double CentralT(double t, std::int64_t v) {
  const double theta = std::atan(t / std::sqrt(double(v)));
  const double c2 = std::cos(theta) * std::cos(theta);
  double term = v % 2 == 1 ? std::cos(theta) : 1.0, sum = v % 2 == 1 ? 0.0 : 1.0;
  if (v % 2 == 1) {
    sum = v > 1 ? term : 0.0;
    for (std::int64_t k = 3; k <= v - 2; k += 2) sum += term *= c2 * double(k - 1) / double(k);
    return 2 / std::numbers::pi * (theta + std::sin(theta) * sum);
  }
  for (std::int64_t k = 2; k <= v - 2; k += 2) sum += term *= c2 * double(k - 1) / double(k);
  return std::sin(theta) * sum;
}

// The parameters a sweep varies: its design's columns, then its lists, each once.
std::vector<std::size_t> VariedParameters(const Request& request) {
  std::vector<std::size_t> varied;
  const auto add = [&](std::size_t k) {
    if (std::find(varied.begin(), varied.end(), k) == varied.end()) varied.push_back(k);
  };
  if (request.design) {
    for (const std::size_t k : request.design->columns) add(k);
  }
  for (const Axis& axis : request.axes) add(axis.parameter);
  return varied;
}

// Whether a column of the table is a numeric measure: not the run's own (index, seed, parameters),
// not text, and not the step a summary groups by (with --at last the step a run stopped at is one).
bool IsMeasure(const Column& column, bool stepIsMeasure) {
  if (column.perRun || column.parameter || column.kind == ColumnKind::Text) return false;
  return stepIsMeasure || column.name != "step";
}

// What a sweep's CSV header holds: the table's columns (with or without means), then any added.
struct Header {
  std::vector<std::string> names;
  std::size_t known = 0;  // the table's columns, the first of names
  bool means = false;
};

Header ReadHeader(const std::string& line, bool means, const std::string& path) {
  std::string text = line;
  if (!text.empty() && text.back() == '\r') text.pop_back();
  Header header;
  for (const std::string_view field : Fields(text)) header.names.emplace_back(field);
  const std::vector<Column>& table = Columns(means);
  header.known = table.size();
  header.means = means;
  bool same = header.names.size() >= table.size();
  for (std::size_t k = 0; same && k < table.size(); ++k) same = header.names[k] == table[k].name;
  if (!same) {
    throw Refused("file", "",
                  Quoted(path) +
                      " does not begin with this build's header; expects a sweep's CSV "
                      "written by this build");
  }
  return header;
}

// The parsed rows of one run, kept until the run is known to be whole.
struct RunRows {
  std::int64_t index = -1;
  std::size_t expected = 0;
  std::vector<std::vector<double>> rows;  // the columns read, in `Reading::columns` order
};

// Groups a sweep's runs: rows are read in pieces, each run kept until it is whole and then added.
class Reading {
 public:
  Reading(const Summary& summary, const Header& header, const RunLength& length, std::size_t stepColumn)
      : summary_(summary), length_(length) {
    const std::vector<Column>& table = Columns(header.means);
    for (const std::size_t k : summary.by) {
      for (std::size_t c = 0; c < table.size(); ++c) {
        if (table[c].parameter == k) columns_.push_back({c, k});
      }
    }
    columns_.push_back({stepColumn, std::nullopt});
    for (const SummaryMeasure& m : summary.measures) columns_.push_back({m.csvColumn, std::nullopt});
    width_ = header.names.size();
  }

  // Reads rows from a stream (a file, after its header where it has one); a run cut short is
  // dropped, and so is any run read before.
  void Read(std::istream& in) {
    std::string line;
    RunRows run;
    while (std::getline(in, line)) {
      if (in.eof() || line.empty() || line.back() != '\r') break;  // a row still being written
      line.pop_back();
      const std::vector<std::string_view> fields = Fields(line);
      if (fields.size() != width_) break;
      std::int64_t index = -1;
      if (!std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), index).ptr) break;
      if (index != run.index) {
        run = RunRows{index, 0, {}};
        const auto rows = length_.RowsOf(line);
        if (!rows) break;
        run.expected = *rows;
      }
      std::vector<double> values;
      values.reserve(columns_.size());
      for (const auto& [column, parameter] : columns_) values.push_back(FieldValue(fields[column], parameter));
      run.rows.push_back(std::move(values));
      if (run.rows.size() == run.expected) {
        Add(run);
        run = RunRows{};
      } else if (run.rows.size() > run.expected) {
        break;
      }
    }
  }

  std::map<std::pair<std::vector<double>, std::int32_t>, std::vector<Moments>>& Groups() { return groups_; }
  std::int64_t RunsRead() const { return std::int64_t(seen_.size()); }

 private:
  void Add(const RunRows& run) {
    if (!seen_.insert(run.index).second) return;  // read from the partial file and the spool both
    const std::size_t by = summary_.by.size();
    const auto add = [&](const std::vector<double>& row, std::int32_t step) {
      std::vector<double> point(row.begin(), row.begin() + std::ptrdiff_t(by));
      std::vector<Moments>& moments = groups_[{std::move(point), step}];
      moments.resize(summary_.measures.size());
      for (std::size_t m = 0; m < moments.size(); ++m) moments[m].Add(row[by + 1 + m]);
    };
    switch (summary_.at.kind) {
      case SummaryAt::Kind::Every:
        for (const auto& row : run.rows) add(row, std::int32_t(row[by]));
        break;
      case SummaryAt::Kind::Last:
        add(run.rows.back(), -1);
        break;
      case SummaryAt::Kind::Step:
        for (const auto& row : run.rows) {
          if (row[by] == summary_.at.step) add(row, summary_.at.step);
        }
        break;
    }
  }

  const Summary& summary_;
  RunLength length_;
  std::vector<std::pair<std::size_t, std::optional<std::size_t>>> columns_;  // CSV column, its parameter
  std::size_t width_ = 0;
  std::set<std::int64_t> seen_;
  std::map<std::pair<std::vector<double>, std::int32_t>, std::vector<Moments>> groups_;
};

// The spool's whole runs, by index.
std::vector<std::string> SpoolFiles(const std::string& folder) {
  std::map<std::int64_t, std::string> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("run", 0) != 0 || !EndsWith(name, ".csv")) continue;
    const auto index = WholeText<std::int64_t>(std::string_view(name).substr(3, name.size() - 7));
    if (index && name == "run" + std::to_string(*index) + ".csv") files[*index] = entry.path().string();
  }
  std::vector<std::string> paths;
  for (auto& [index, path] : files) paths.push_back(std::move(path));
  return paths;
}

}  // namespace

std::optional<SummaryAt> ParseAt(std::string_view text) {
  if (text == "every") return SummaryAt{SummaryAt::Kind::Every, 0};
  if (text == "last") return SummaryAt{SummaryAt::Kind::Last, 0};
  const auto step = WholeText<std::int32_t>(text);
  if (!step || *step < 0) return std::nullopt;
  return SummaryAt{SummaryAt::Kind::Step, *step};
}

std::string AtText(const SummaryAt& at) {
  switch (at.kind) {
    case SummaryAt::Kind::Every:
      return "every";
    case SummaryAt::Kind::Last:
      return "last";
    case SummaryAt::Kind::Step:
      return std::to_string(at.step);
  }
  return "";
}

double StudentT975(std::int64_t dof) {
  static std::mutex mutex;
  static std::map<std::int64_t, double> known;
  const std::lock_guard lock(mutex);
  if (const auto found = known.find(dof); found != known.end()) return found->second;
  // Past a million degrees of freedom, the normal quantile and its first correction (Cornish and
  // Fisher) are exact to rounding; below, halve an interval until it is one number.
  if (dof > 1'000'000) {
    constexpr double z = 1.959963984540054;
    return known[dof] = z + (z * z * z + z) / (4 * double(dof));
  }
  double low = 0, high = 64;
  for (int k = 0; k < 200 && high - low > 1e-15 * high; ++k) {
    const double t = (low + high) / 2;
    (CentralT(t, dof) < 0.95 ? low : high) = t;
  }
  return known[dof] = (low + high) / 2;
}

void CheckMeasureName(const std::string& field, const std::string& name, const std::vector<std::string>& header) {
  const auto at = std::find(header.begin(), header.end(), name);
  const std::vector<Column>& table = Columns(true);
  const auto known = std::find_if(table.begin(), table.end(), [&](const Column& c) { return c.name == name; });
  if (at == header.end()) {
    throw Refused(field, name,
                  known != table.end() ? "the sweep's CSV has no such column (a sweep with --means on has it)"
                                       : "expects a measure, a column of the sweep's CSV");
  }
  if (known != table.end() && !IsMeasure(*known, true)) {
    const std::string what = known->parameter                  ? "a parameter"
                             : known->kind == ColumnKind::Text ? "text"
                                                               : "the run's index or seed";
    throw Refused(field, name, "expects a numeric measure, not " + what);
  }
}

Summary Summarise(const SummaryRequest& request) {
  Summary summary;
  summary.at = request.at;
  std::string csv = request.path;
  if (EndsWith(csv, ".json")) csv = csv.substr(0, csv.size() - 5) + ".csv";
  if (!EndsWith(csv, ".csv")) {
    throw Refused("file", request.path, "expects a sweep's CSV (FILE.csv) or its manifest (FILE.json)");
  }
  const OutputPaths paths(csv);
  summary.csv = csv;
  summary.manifest = paths.manifest;
  {
    // Another program's file, or a summary's, is named as such before any sweep's check.
    std::ifstream in(paths.manifest);
    const nlohmann::json header = nlohmann::json::parse(in, nullptr, false);
    const nlohmann::json format = header.is_object() ? header.value("format", nlohmann::json()) : nlohmann::json();
    if (in.is_open() && !header.is_discarded() &&
        (!format.is_string() || format.get<std::string>().rfind("zelmora-sweep/", 0) != 0)) {
      throw Refused("file", "",
                    Quoted(request.path) + " is no sweep: " + Quoted(paths.manifest) + " is no sweep's manifest");
    }
  }
  Manifest manifest;
  try {
    manifest = ReadManifest("file", paths.manifest);
  } catch (const RequestError& e) {
    throw Refused("file", "", Quoted(request.path) + " is no sweep: " + e.reason);
  }
  summary.sweepHeader = manifest.header;
  summary.status = manifest.header.value("status", "");
  summary.runsInSweep = manifest.header["runs_in_shard"].get<std::int64_t>();
  const Request& sweep = manifest.request;

  if (request.byGiven) {
    for (const std::string& name : request.by) {
      const auto k = FindParameter(name);
      if (!k) throw Refused("by", name, "expects a parameter's name (zelmora.parameters(), --parameters)");
      if (std::find(summary.by.begin(), summary.by.end(), *k) == summary.by.end()) summary.by.push_back(*k);
    }
  } else {
    summary.by = VariedParameters(sweep);
  }

  const OutputState state = LookAtOutput(paths);
  const std::string rowsPath = state == OutputState::Complete ? paths.csv : paths.partial;
  std::ifstream in(rowsPath, std::ios::binary);
  std::string line;
  const bool rowsThere = state == OutputState::Complete || state == OutputState::Partial;
  if (rowsThere && !std::getline(in, line) && state == OutputState::Complete) {
    throw Refused("file", "", Quoted(csv) + " is empty; expects a sweep's CSV");
  }
  const Header header = rowsThere && !line.empty() ? ReadHeader(line, sweep.means, rowsPath)
                                                   : ReadHeader(CsvHeader(sweep.means, sweep.measures), sweep.means, rowsPath);
  const std::vector<Column>& table = Columns(header.means);
  const bool stepIsMeasure = request.at.kind == SummaryAt::Kind::Last;
  if (request.measures.empty()) {
    for (std::size_t c = 0; c < header.names.size(); ++c) {
      if (c >= header.known || IsMeasure(table[c], stepIsMeasure)) summary.measures.push_back({header.names[c], c});
    }
  } else {
    for (const std::string& name : request.measures) {
      CheckMeasureName(request.measuresField, name, header.names);
      if (name == "step" && !stepIsMeasure) {
        throw Refused(request.measuresField, name,
                      "the step is a measure with --at last only; otherwise rows are grouped by it");
      }
      const auto at = std::find(header.names.begin(), header.names.end(), name);
      summary.measures.push_back({name, std::size_t(at - header.names.begin())});
    }
  }

  const RunLength length{sweep.steps, sweep.recordEvery, sweep.quietSteps};
  Reading reading(summary, header, length, ColumnIndex("step"));
  if (rowsThere) reading.Read(in);
  if (state == OutputState::Partial) {
    for (const std::string& spooled : SpoolFiles(paths.spool)) {
      std::ifstream run(spooled, std::ios::binary);
      reading.Read(run);
    }
  }
  summary.runsRead = reading.RunsRead();

  for (auto& [key, moments] : reading.Groups()) {
    for (std::size_t m = 0; m < moments.size(); ++m) {
      const Moments& g = moments[m];
      SummaryRow row{key.first, key.second, m, g.n, Missing, Missing, Missing, Missing, g.min, g.max};
      if (g.n > 0) row.mean = g.mean;
      if (g.n > 1) {
        row.sd = std::sqrt(g.m2 / double(g.n - 1));
        const double half = StudentT975(g.n - 1) * row.sd / std::sqrt(double(g.n));
        row.low = g.mean - half;
        row.high = g.mean + half;
      }
      summary.rows.push_back(std::move(row));
    }
  }
  return summary;
}

std::string SummaryCsv(const Summary& summary) {
  std::string text;
  for (const std::size_t k : summary.by) text += std::string(Parameters[k].name) + ",";
  if (summary.at.kind != SummaryAt::Kind::Last) text += "step,";
  text += "measure,runs,mean,sd,ci_low,ci_high,min,max";
  text += LineEnd;
  for (const SummaryRow& row : summary.rows) {
    for (std::size_t b = 0; b < summary.by.size(); ++b) {
      const std::size_t k = summary.by[b];
      const auto column =
          std::find_if(Columns().begin(), Columns().end(), [&](const Column& c) { return c.parameter == k; });
      RunPlan run;
      run.parameters[k] = row.point[b];
      RowSource source;
      source.run = &run;
      AppendValue(text, column->kind, column->Read(source));
      text += ',';
    }
    if (summary.at.kind != SummaryAt::Kind::Last) text += std::to_string(row.step) + ",";
    text += summary.measures[row.measure].name + ",";
    AppendNumber(text, row.runs);
    for (const double value : {row.mean, row.sd, row.low, row.high, row.min, row.max}) {
      text += ',';
      AppendNumber(text, value);
    }
    text += LineEnd;
  }
  return text;
}

nlohmann::json SummaryManifest(const Summary& summary, const std::vector<std::string>& commandLine) {
  const nlohmann::json& h = summary.sweepHeader;
  nlohmann::json by = nlohmann::json::array(), measures = nlohmann::json::array();
  for (const std::size_t k : summary.by) by.push_back(std::string(Parameters[k].name));
  for (const SummaryMeasure& m : summary.measures) measures.push_back(m.name);
  return {{"format", SummaryFormat},
          {"program", "zelmora-batch"},
          {"build", BuildId()},
          {"command_line", CommandLineJson(commandLine)},
          {"written", UtcNow()},
          {"sweep",
           {{"csv", PathJson(summary.csv)},
            {"manifest", PathJson(summary.manifest)},
            {"build", h.value("build", "")},
            {"request_hash", h.value("request_hash", "")},
            {"master_seed", h.value("master_seed", nlohmann::json())},
            {"status", summary.status},
            {"runs_read", summary.runsRead},
            {"runs_in_shard", summary.runsInSweep}}},
          {"by", by},
          {"at", AtText(summary.at)},
          {"measures", measures}};
}

void WriteSummary(const Summary& summary, const std::string& out, const std::vector<std::string>& commandLine) {
  if (!EndsWith(out, ".csv")) throw Refused("out", out, "expects a name ending in .csv");
  const OutputPaths paths(out);
  std::error_code ec;
  if (fs::equivalent(out, summary.csv, ec)) throw Refused("out", out, "is the sweep's own CSV; expects another name");
  CheckFolder("out", out);
  const OutputLock lock("out", paths.lock);
  RemoveStaleTemporaries(paths);
  const auto exists = [&](const std::string& path) { return fs::exists(fs::symlink_status(path, ec)); };
  if (exists(paths.manifest)) {
    std::ifstream in(paths.manifest);
    const nlohmann::json kept = nlohmann::json::parse(in, nullptr, false);
    if (!kept.is_object() || kept.value("format", "") != SummaryFormat) {
      throw Refused("out", out,
                    Quoted(paths.manifest) + " is no summary's manifest; expects a new name or a summary's");
    }
  } else if (exists(paths.csv)) {
    throw Refused("out", out, Quoted(paths.csv) + " exists and is no summary; expects a new name or a summary's");
  }
  WriteWhole(paths.csv, SummaryCsv(summary));
  WriteWhole(paths.manifest, SummaryManifest(summary, commandLine).dump(1) + "\n");
}

}  // namespace zelmora::sweep

namespace zelmora::sweep {

std::string AxisTitle(const std::string& name) {
  std::string unit;
  if (const auto k = FindParameter(name)) {
    unit = Parameters[*k].unit;
  } else {
    for (const Column& column : Columns(true)) {
      if (column.name == name) unit = column.unit;
    }
  }
  return unit.empty() || unit == name ? name : name + " (" + unit + ")";
}

Summary PlotSummary(const PlotRequest& request) {
  SummaryRequest summary{request.path, {}, request.at, {request.y}, true, "y"};
  const bool overSteps = request.x == "step";
  if (!overSteps) {
    if (!FindParameter(request.x)) throw Refused("x", request.x, "expects a parameter's name or step");
    summary.by.push_back(request.x);
  } else if (request.at.kind != SummaryAt::Kind::Every) {
    throw Refused("x", request.x,
                  "the steps need every recorded step's rows; --at " + AtText(request.at) + " gives one row a run");
  }
  if (request.by) {
    if (!FindParameter(*request.by)) throw Refused("by", *request.by, "expects a parameter's name");
    summary.by.push_back(*request.by);
  }
  if (FindParameter(request.y)) throw Refused("y", request.y, "expects a numeric measure, not a parameter");
  summary.measuresField = "y";
  return Summarise(summary);
}

PlotData PlotOf(const PlotRequest& request, const Summary& summary) {
  PlotData plot;
  plot.overSteps = request.x == "step";
  plot.xTitle = AxisTitle(plot.overSteps ? "step" : std::string(Parameters[summary.by.front()].name));
  plot.yTitle = AxisTitle(request.y);
  const bool byGiven = summary.by.size() > (plot.overSteps ? 0u : 1u);
  std::map<double, PlotSeries> series;
  for (const SummaryRow& row : summary.rows) {
    if (row.runs == 0) continue;
    const double key = byGiven ? row.point.back() : 0.0;
    PlotSeries& line = series[key];
    if (byGiven && line.legend.empty()) {
      const std::size_t k = summary.by.back();
      const std::string value =
          Parameters[k].kind == ParameterKind::Switch ? (key != 0 ? "1" : "0") : ValueText(k, key);
      line.legend = std::string(Parameters[k].name) + " = " + value;
    }
    // Rows come by point, then step: over a parameter, each series' x rise with the first by.
    line.x.push_back(plot.overSteps ? double(row.step) : row.point.front());
    line.mean.push_back(row.mean);
    line.low.push_back(row.low);
    line.high.push_back(row.high);
  }
  for (auto& [key, line] : series) plot.series.push_back(std::move(line));
  return plot;
}

}  // namespace zelmora::sweep
