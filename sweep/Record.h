#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sweep/Columns.h"
#include "sweep/RunPlan.h"

namespace zelmora::sweep {

// Rows end in CR LF, as RFC 4180 has it; Python's csv, pandas and R read it as they read LF.
inline constexpr const char* LineEnd = "\r\n";

// Appends a number in its shortest form that reads back exactly, with a point whatever the
// locale; NaN (a measure with nothing to measure) as an empty field, a negative zero as 0.
void AppendNumber(std::string& out, double value);
void AppendNumber(std::string& out, std::int64_t value);
void AppendNumber(std::string& out, std::uint64_t value);
void AppendValue(std::string& out, ColumnKind kind, const ColumnValue& value);

// Writes the step at which a run settled into the stop_step field of each of its rows in `rows`,
// which were written without it (whole rows, each ended by its line end).
void FillStopStep(std::string& rows, std::int32_t stopStep);

// How many rows a run has: its recorded steps up to --steps or, for a run that settled, up to its
// last quiet step, quietSteps - 1 after the stop step each of its rows names. Resume and merge read
// a run's length from its first row.
struct RunLength {
  std::int32_t steps = 0;
  std::int32_t recordEvery = 1;
  std::int32_t quietSteps = 0;  // 0: every run makes its steps

  // The rows of the run whose first row this is; nothing when the stop step it names is not one
  // a run of this sweep can have.
  std::optional<std::size_t> RowsOf(std::string_view firstRow) const;
};

// Writes the rows of one run from the table of columns. The run's own columns are formatted once,
// and the texts of recurring values (unit costs, which within a run depend only on a market's
// customers) are kept by value: recording every step must stay cheap next to the step.
class RowWriter {
 public:
  // With `means`, each row ends with the means of the per-step columns (Columns(true)).
  explicit RowWriter(const RunPlan& run, bool means = false);

  // Appends the row at the World's current step, line end included; `means` holds the steps since
  // the row before when the writer was made with means; `added`, a front end's own columns, end it.
  void Append(std::string& out, const World& world, const StepMeasures& measures, const StepMeans* means = nullptr,
              std::span<const double> added = {});

 private:
  struct Text {
    std::uint64_t bits = 0;
    char text[32] = {};
    std::size_t length = 0;  // 0: not formatted yet
  };
  static constexpr std::size_t Slots = 64;  // per recurring column
  void AppendRecurring(std::string& out, std::size_t column, double value);

  const std::vector<Column>& columns_;
  RowSource source_;
  std::string prefix_;            // the run's columns that lead the row, each with its comma
  std::size_t firstStepColumn_ = 0;
  std::vector<std::string> runTexts_;  // the text of each of the run's columns past the first step column
  std::vector<Text> texts_;  // Slots per column
};

}  // namespace zelmora::sweep
