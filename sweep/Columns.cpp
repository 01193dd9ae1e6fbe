#include "sweep/Columns.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "sweep/Record.h"
#include "simulation/Measures.h"
#include "simulation/World.h"

namespace zelmora::sweep {
namespace {

ColumnValue Whole(std::int64_t value) { return {std::uint64_t(value), 0, false}; }
ColumnValue Real(double value) { return {0, value, false}; }
constexpr double Missing = std::numeric_limits<double>::quiet_NaN();

const TCell& Market(const RowSource& s, int m) { return s.world->grid.At(s.world->Markets[m].col, s.world->Markets[m].row); }
// A market the run's model does not have (markets below ten) has empty columns.
bool Exists(const RowSource& s, int m) { return m < s.world->Shape().markets; }
constexpr ColumnValue NoValue{0, 0, true};
// Before the first step no price is computed yet.
bool Priced(const RowSource& s) { return s.world->StepCount > 0; }

template <int M>
ColumnValue MarketCustomers(const RowSource& s) {
  return Exists(s, M) ? Whole(Market(s, M).customers) : NoValue;
}
template <int M>
ColumnValue MarketUnitCost(const RowSource& s) {
  return Real(Priced(s) && Exists(s, M) ? Market(s, M).unitCost : Missing);
}

template <int M>
void AddMarket(std::vector<Column>& columns) {
  const std::string m = std::to_string(M);
  const std::string absent = "; empty where the run has no market " + m + " (markets at most " + m + ")";
  columns.push_back({"market" + m + "_customers", ColumnKind::IntegerOrEmpty,
                     "customers of market " + m + "'s cell; markets sharing a cell show the same count" + absent, false,
                     false, &MarketCustomers<M>, std::nullopt, true});
  columns.push_back({"market" + m + "_unit_cost", ColumnKind::Real,
                     "market " + m + "'s unit cost (bid price) computed by the step; empty at step 0" + absent, false,
                     true, &MarketUnitCost<M>, std::nullopt, true});
}

template <int... M>
void AddMarkets(std::vector<Column>& columns, std::integer_sequence<int, M...>) {
  (AddMarket<M>(columns), ...);
}

// The parameters' columns at one place in the row: a choice writes its name, a switch 1 or 0.
void AddParameters(std::vector<Column>& columns, ColumnPlace place) {
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    const ParameterRow& row = Parameters[k];
    if (row.place != place) continue;
    const ColumnKind kind = row.kind == ParameterKind::Choice                   ? ColumnKind::Text
                            : row.kind == ParameterKind::Real || row.fractional ? ColumnKind::Real
                                                                                : ColumnKind::Integer;
    columns.push_back({std::string(row.name), kind, std::string(row.description), true, false, nullptr, k});
  }
}

std::vector<Column> MakeColumns() {
  using K = ColumnKind;
  std::vector<Column> c = {
      {"run", K::Integer, "the run's index in the sweep", true, false,
       [](const RowSource& s) { return Whole(s.run->index); }},
      {"seed", K::Unsigned, "the run's seed (unsigned 64-bit)", true, false,
       [](const RowSource& s) { return ColumnValue{s.run->seed, 0, false}; }},
  };
  AddParameters(c, ColumnPlace::Leading);
  const std::vector<Column> step = {
      {"step", K::Integer, "steps completed; 0 is the setup", false, false,
       [](const RowSource& s) { return Whole(s.world->StepCount); }},
      {"satisfied", K::Integer, "agents whose satisfied flag is set after the step (placement sets every flag, so all at step 0)",
       false, false, [](const RowSource& s) { return Whole(s.measures->satisfied); }},
      {"unsatisfied", K::Integer, "the other agents (0 at step 0; see unsatisfied_by_rule)", false, false,
       [](const RowSource& s) { return Whole(s.measures->unsatisfied); }},
      {"moved", K::Integer,
       "MovedCount of the step's relocation: agents that were unsatisfied when it began, moved or not (0 at step 0)",
       false, false, [](const RowSource& s) { return Whole(s.world->MovedCount); }, std::nullopt, true},
      {"yellow_customers", K::IntegerOrEmpty,
       "the chart's first series: customers of market 2, the yellow market; empty with fewer than 3 markets", false,
       false, &MarketCustomers<YellowMarket>, std::nullopt, true},
      {"yellow_bid_price", K::Real,
       "the chart's second series: the yellow market's unit cost; empty at step 0 and with fewer than 3 markets",
       false, true, &MarketUnitCost<YellowMarket>, std::nullopt, true},
  };
  c.insert(c.end(), step.begin(), step.end());
  AddMarkets(c, std::make_integer_sequence<int, MarketCount>());
  const std::vector<Column> measures = {
      {"mean_local_price", K::Real, "mean of every cell's local price; empty at step 0", false, false,
       [](const RowSource& s) { return Real(Priced(s) ? s.measures->meanLocalPrice : Missing); }},
      {"herfindahl", K::Real,
       "sum of squared shares of customers over the distinct market cells (empty without customers)", false, false,
       [](const RowSource& s) { return Real(s.measures->herfindahl); }},
      {"percent_similar", K::Real,
       "mean, over agents with at least one occupied neighbour, of 100 x like / (like + other) among their "
       "neighbours in the run's neighbourhood (radius, wrap; the default: the 8 around, on the torus); empty if no "
       "such agent",
       false, false, [](const RowSource& s) { return Real(s.measures->percentSimilar); }},
      {"cluster_count", K::Integer, "connected groups of same-colour agents, two joined where one is in the other's neighbourhood (radius, "
       "wrap; the default: 8-connected, on the torus)", false, false,
       [](const RowSource& s) { return Whole(s.measures->clusterCount); }},
      {"mean_cluster_size", K::Real, "agents / cluster_count (empty without agents)", false, false,
       [](const RowSource& s) { return Real(s.measures->meanClusterSize); }},
      {"unsatisfied_by_rule", K::Integer,
       "agents the segregation rule finds unsatisfied where they stand, counted at every recorded step, step 0 "
       "included, whether or not the phase runs",
       false, false, [](const RowSource& s) { return Whole(s.measures->unsatisfiedByRule); }},
      {"moves", K::Integer,
       "moves the step made: relocations and moves to cheaper cells (an agent may make one of each; 0 at step 0)",
       false, false, [](const RowSource& s) { return Whole(s.world->MovesMade); }, std::nullopt, true},
      {"stop_step", K::IntegerOrEmpty,
       "with --until settled:W, the first of the W quiet steps in a row that ended the run (with settled, W = 1: "
       "its last step); the same in every row of the run, empty when it did not settle",
       false, false,
       [](const RowSource& s) { return s.stopStep ? Whole(*s.stopStep) : ColumnValue{0, 0, true}; }},
  };
  c.insert(c.end(), measures.begin(), measures.end());
  AddParameters(c, ColumnPlace::Trailing);
  // Measures added since, after everything else, so that every column before keeps its place; the
  // model's structure, added later still, ends the row.
  const std::vector<Column> added = {
      {"mean_price_paid_black", K::Real,
       "mean local price of the cells black agents stand on; empty at step 0 and without black agents", false, false,
       [](const RowSource& s) { return Real(Priced(s) ? s.measures->meanPricePaid[0] : Missing); }},
      {"mean_price_paid_white", K::Real,
       "mean local price of the cells white agents stand on; empty at step 0 and without white agents", false, false,
       [](const RowSource& s) { return Real(Priced(s) ? s.measures->meanPricePaid[1] : Missing); }},
  };
  c.insert(c.end(), added.begin(), added.end());
  AddParameters(c, ColumnPlace::End);
  // What the measures count, for plots' axes.
  const std::pair<const char*, const char*> units[] = {
      {"satisfied", "agents"},     {"unsatisfied", "agents"},
      {"moved", "agents"},     {"yellow_customers", "agents"}, {"percent_similar", "%"},
      {"cluster_count", "clusters"}, {"mean_cluster_size", "agents"}, {"unsatisfied_by_rule", "agents"},
      {"moves", "moves"},      {"stop_step", "steps"}};
  for (Column& column : c) {
    for (const auto& [name, unit] : units) {
      if (column.name == name) column.unit = unit;
    }
    if (column.name.starts_with("market") && column.name.ends_with("_customers")) column.unit = "agents";
    if (column.parameter) column.unit = Parameters[*column.parameter].unit;
  }
  return c;
}

// The columns and, after them, the mean of each per-step column.
std::vector<Column> WithMeans(std::vector<Column> c) {
  std::size_t k = 0;
  for (std::size_t column = 0, count = c.size(); column < count; ++column) {
    if (!c[column].perStep) continue;
    const std::string& name = c[column].name;
    c.push_back({name + "_mean", ColumnKind::Real,
                 "with --means on: the mean of " + name +
                     " over the steps since the previous recorded row, this row's step included; empty at step 0",
                 false, false, nullptr, std::nullopt, false, k++, c[column].unit});
  }
  return c;
}

}  // namespace

ColumnValue Column::Read(const RowSource& source) const {
  if (meanOf) return Real(source.means ? source.means->Mean(*meanOf) : Missing);
  if (!parameter) return read(source);
  const double value = source.run->parameters[*parameter];
  if (kind == ColumnKind::Text) return {std::uint64_t(value), 0, false, Parameters[*parameter].choices[std::size_t(value)]};
  return kind == ColumnKind::Real ? Real(value) : Whole(std::int64_t(value));
}

const std::vector<Column>& Columns(bool means) {
  static const std::vector<Column> columns = MakeColumns();
  static const std::vector<Column> withMeans = WithMeans(columns);
  return means ? withMeans : columns;
}

std::size_t ColumnIndex(const std::string& name) {
  const std::vector<Column>& columns = Columns();
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (columns[k].name == name) return k;
  }
  throw std::out_of_range("no column " + name);
}

const char* KindName(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Integer: return "integer";
    case ColumnKind::Unsigned: return "unsigned";
    case ColumnKind::IntegerOrEmpty: return "integer or empty";
    case ColumnKind::Real: return "real";
    case ColumnKind::Text: return "text";
  }
  return "";
}

std::string CsvHeader(bool means, const std::vector<std::string>& measures) {
  std::string header;
  for (const Column& column : Columns(means)) header += (header.empty() ? "" : ",") + column.name;
  for (const std::string& name : measures) header += "," + name;
  return header + LineEnd;
}

StepMeans::StepMeans() {
  for (const Column& column : Columns()) {
    if (column.perStep) columns_.push_back(&column);
  }
  sums_.assign(columns_.size(), 0);
}

void StepMeans::Add(const World& world) {
  const RowSource source{nullptr, &world, nullptr, nullptr, std::nullopt};
  for (std::size_t k = 0; k < columns_.size(); ++k) {
    const ColumnValue value = columns_[k]->read(source);
    // A market the run does not have has no mean.
    sums_[k] += value.missing                          ? Missing
                : columns_[k]->kind == ColumnKind::Real ? value.real
                                                        : double(std::int64_t(value.integer));
  }
  ++steps_;
}

void StepMeans::Restart() {
  std::fill(sums_.begin(), sums_.end(), 0.0);
  steps_ = 0;
}

std::string RowPrefix(const RunPlan& run) {
  RowSource source;
  source.run = &run;
  std::string prefix;
  for (std::size_t k = 0; k < 2; ++k) {
    AppendValue(prefix, Columns()[k].kind, Columns()[k].Read(source));
    prefix += ',';
  }
  return prefix;
}

}  // namespace zelmora::sweep
