#pragma once

#include <cstdint>
#include <string>

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

// Appends the row of a run at a recorded step, line end included. At step 0 the prices are not
// computed yet, so the unit costs and the mean local price are left empty.
void AppendRow(std::string& out, const RunSpec& run, const World& world, const StepMeasures& measures);

}  // namespace zelmora::batch
