#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sweep/Columns.h"

namespace zelmora::sweep {

// Which rows of each run a summary reads: every recorded step (each step a group of its own), each
// run's last row (where it stopped; the step is then a measure like any other) or one step.
struct SummaryAt {
  enum class Kind { Every, Last, Step };
  Kind kind = Kind::Every;
  std::int32_t step = 0;
};

// "every", "last" or a step; nothing for any other text.
std::optional<SummaryAt> ParseAt(std::string_view text);
std::string AtText(const SummaryAt& at);

// What to summarise: a sweep's CSV (or its manifest), grouped by the parameters named (none named:
// those the sweep varies, its design's columns and its lists), the measures named (none: every
// numeric measure).
struct SummaryRequest {
  std::string path;
  std::vector<std::string> by;
  SummaryAt at;
  std::vector<std::string> measures;
  bool byGiven = false;  // by as given, even empty: every run one group
  std::string measuresField = "measures";  // how the front end names the measures, for messages
};

// One row of a summary: a point's group at a step, for one measure. Over the runs with a value
// there: their count, mean, standard deviation (n - 1), the 95 % interval of the mean by Student's
// t, least and greatest. NaN where there is nothing to say (no value; one value has no spread).
struct SummaryRow {
  std::vector<double> point;  // the by parameters' values, in their order
  std::int32_t step = -1;      // -1 with --at last
  std::size_t measure = 0;     // into Summary::measures
  std::int64_t runs = 0;
  double mean = 0, sd = 0, low = 0, high = 0, min = 0, max = 0;
};

// A measure of a sweep's CSV: a column of the column table or one a front end added after them
// (a Python measure's, real).
struct SummaryMeasure {
  std::string name;
  std::size_t csvColumn = 0;
};

struct Summary {
  std::string csv, manifest;  // the sweep's files
  nlohmann::json sweepHeader;  // its manifest, as read
  std::vector<std::size_t> by;  // parameters
  std::vector<SummaryMeasure> measures;
  SummaryAt at;
  std::int64_t runsRead = 0, runsInSweep = 0;
  std::string status;  // the sweep's: complete, running, interrupted
  std::vector<SummaryRow> rows;  // by point, then step, then measure in the CSV's order
};

// Reads the runs a sweep holds: its CSV, or while it runs or after it stopped, the whole runs of
// its partial file and spool. Throws RequestError naming "file" (no sweep: no manifest, a foreign
// header), "by", "measures" (no such column, not a number) or "at".
Summary Summarise(const SummaryRequest& request);

// The measure of that name among a sweep's numeric measures, for a front end that takes one (a
// plot's y); throws RequestError naming `field`.
void CheckMeasureName(const std::string& field, const std::string& name, const std::vector<std::string>& header);

// The summary as a tidy CSV: the by parameters' columns (as the sweep's CSV writes them), step
// (not with --at last), measure, runs, mean, sd, ci_low, ci_high, min, max.
std::string SummaryCsv(const Summary& summary);

// The summary's manifest: what it summarised (the sweep's files, build, request hash, status, runs
// read of runs), grouped how, at which rows, by which command.
nlohmann::json SummaryManifest(const Summary& summary, const std::vector<std::string>& commandLine);

// Writes OUT.csv and its manifest OUT.json, each whole through a temporary, holding OUT.csv.lock.
// A summary's files are replaced (a running sweep is summarised again and again); anything else
// at OUT, a sweep's files above all, is refused (RequestError naming "out").
void WriteSummary(const Summary& summary, const std::string& out, const std::vector<std::string>& commandLine);

// The format a summary's manifest names.
inline constexpr const char* SummaryFormat = "zelmora-summary/1";

// The 0.975 quantile of Student's t with `dof` degrees of freedom (at least 1).
double StudentT975(std::int64_t dof);

}  // namespace zelmora::sweep

namespace zelmora::sweep {

// What a plot of a sweep draws: per value of its by parameter (or once) a line of the mean of a
// measure over x, a parameter or the step, with the 95 % interval of the mean at each x.
struct PlotSeries {
  std::string legend;  // "markets = 3"; empty without by
  std::vector<double> x, mean, low, high;
};
struct PlotData {
  std::string xTitle, yTitle;  // names with their units
  bool overSteps = false;      // a band for the interval; otherwise error bars
  std::vector<PlotSeries> series;
};

// The axes and the field that named them, checked before the sweep is read: x a parameter or
// "step", y a measure, by a parameter.
struct PlotRequest {
  std::string path;
  std::string x, y;
  std::optional<std::string> by;
  SummaryAt at;
};

// The summary a plot draws: grouped by x (a parameter) and by, of the measure y. Throws
// RequestError naming "x", "y", "by" or "at" (x step with one row a run), or "file".
Summary PlotSummary(const PlotRequest& request);
PlotData PlotOf(const PlotRequest& request, const Summary& summary);

// An axis's title: the parameter's or column's name, and its unit where it has one.
std::string AxisTitle(const std::string& name);

}  // namespace zelmora::sweep
