#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sweep/RunPlan.h"
#include "simulation/ChartPoint.h"

namespace zelmora {
class World;
struct StepMeasures;
}  // namespace zelmora

namespace zelmora::sweep {

// A column's value: a whole number (Unsigned: one that may use all 64 bits, the seed;
// IntegerOrEmpty: one that may be missing, an empty field), a real one (NaN: missing, an empty
// field) or text, a choice's name (a plain word, never quoted). Readers that keep types (pandas)
// take the kind as it is.
enum class ColumnKind { Integer, Unsigned, IntegerOrEmpty, Real, Text };
struct ColumnValue {
  std::uint64_t integer = 0;  // every whole-number column is 0 or more; Text: the choice's place
  double real = 0;
  bool missing = false;  // an IntegerOrEmpty that is not there: an empty field, as NaN for a real one
  std::string_view text = {};  // Text: the choice's name, from the parameter table
};

class StepMeans;

// What a row is made from: the run (the same in every row of a run) and, at a recorded step,
// the World and its measures, and the means of the steps since the row before (when asked for).
struct RowSource {
  const RunPlan* run = nullptr;
  const World* world = nullptr;
  const StepMeasures* measures = nullptr;
  const StepMeans* means = nullptr;
  // The step at which the run settled, known only when it ends: rows are written without it and
  // filled in then (FillStopStep).
  std::optional<std::int32_t> stopStep;
};

// The kind's name in the docs' column reference: integer, unsigned, integer or empty, real or text.
const char* KindName(ColumnKind kind);

// One column of the CSV. The table of them is the one place a column is defined: the header, the
// rows, the column reference in docs/EXPERIMENTS.md (checked by a test) and readers come from it.
// A parameter's column comes from the parameter table.
struct Column {
  std::string name;
  ColumnKind kind = ColumnKind::Real;
  std::string description;
  bool perRun = false;   // reads the run only, so it is formatted once a run
  bool recurs = false;   // a real value that recurs within a run: its text is kept for reuse
  ColumnValue (*read)(const RowSource&) = nullptr;
  std::optional<std::size_t> parameter = std::nullopt;  // the run's value of this parameter, instead of `read`
  // A value the World holds after every step, read from it alone at the cost of a field: such a
  // column has a mean between recorded rows.
  bool perStep = false;
  std::optional<std::size_t> meanOf = std::nullopt;  // the mean of StepMeans's column k, instead of `read`
  std::string unit = {};  // what a value counts, for axes' titles: "agents", "%"; empty: a pure number or a price

  ColumnValue Read(const RowSource& source) const;
};

// Every column in the CSV's order; the run's own columns come first, new measures go at the end.
// With `means`, each per-step column's mean follows them all, named NAME_mean.
const std::vector<Column>& Columns(bool means = false);

// The position of a column in the table; throws std::out_of_range for an unknown name.
std::size_t ColumnIndex(const std::string& name);

// The header line of the CSV, line end included; a front end's own columns (`measures`) follow the
// program's.
std::string CsvHeader(bool means = false, const std::vector<std::string>& measures = {});

// The per-step columns' sums over the steps since the last recorded row, for their means: a
// recorded row of an even --record-every sees both sides of a value that flips every step. Costs
// an addition per column a step.
class StepMeans {
 public:
  StepMeans();
  // After a step (not the setup, step 0, which is no step).
  void Add(const World& world);
  // The mean of the k-th per-step column since the last Restart; NaN when no step was made since.
  double Mean(std::size_t k) const { return steps_ > 0 ? sums_[k] / double(steps_) : Missing; }
  // After a recorded row.
  void Restart();

 private:
  static constexpr double Missing = std::numeric_limits<double>::quiet_NaN();
  std::vector<const Column*> columns_;
  std::vector<double> sums_;
  std::int64_t steps_ = 0;
};

// The start of every row of a run: its first two fields, "index,seed,".
std::string RowPrefix(const RunPlan& run);

}  // namespace zelmora::sweep
