#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "batch/Sweep.h"

namespace zelmora {
class World;
struct StepMeasures;
}  // namespace zelmora

namespace zelmora::batch {

// Rows end in CR LF, as RFC 4180 has it; Python's csv, pandas and R read it as they read LF.
inline constexpr const char* LineEnd = "\r\n";

// The market the window's chart follows, whose catchment is drawn yellow.
inline constexpr int YellowMarket = 2;

// The header line of the CSV, line end included. The columns are described in
// docs/EXPERIMENTS.md.
std::string CsvHeader();

// Appends a number in its shortest form that reads back exactly, with a point whatever the
// locale; NaN (a measure with nothing to measure) as an empty field.
void AppendNumber(std::string& out, double value);
void AppendNumber(std::string& out, std::int64_t value);
void AppendNumber(std::string& out, std::uint64_t value);

// Writes the rows of one run. The run's own columns (run, seed, grid, parameters) are formatted
// once, and unit costs come from a cache: within a run a unit cost depends only on the market's
// customers, which hover round a few values. Recording every step must stay cheap next to the step.
class RowWriter {
 public:
  RowWriter(const RunPlan& run, std::int32_t cols, std::int32_t rows);

  // Appends the row at the World's current step, line end included. At step 0 the prices are not
  // computed yet, so the unit costs and the mean local price are left empty.
  void Append(std::string& out, const World& world, const StepMeasures& measures);

 private:
  struct Cost {
    double value = 0;
    char text[32] = {};
    std::size_t length = 0;  // 0: not formatted yet
  };
  // The text of a unit cost, looked up by the market's customers and checked against the value.
  const Cost& Format(std::int32_t customers, double value);

  std::string prefix_;
  std::vector<Cost> costs_;
};

}  // namespace zelmora::batch
