#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelmora::batch {

// A bad option or value: one line naming the option and what it accepts. The program prints it
// and exits with status 2 before it creates or changes any file.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The model's inputs of one run.
struct Parameters {
  std::int32_t threshold = 3;        // in eighths: ThresholdPercent = 12.5 * threshold
  double productionCosts = 100.0;
  double travelExpenses = 1.0;
  double returnsToScale = 1.0;
  bool segregation = true;
  bool centers = true;
  std::int64_t agents = 800;

  bool operator==(const Parameters&) const = default;
};

// A parameter that --set varies, or its plain option sets.
enum class Knob { Threshold, ProductionCosts, TravelExpenses, ReturnsToScale, Segregation, Centers, Agents, Density };

// One parameter varied by --set: its name (an option's name without dashes) and its values,
// parsed once (switches as 1 and 0, counts as whole numbers).
struct SweepAxis {
  std::string name;
  Knob knob = Knob::Threshold;
  std::vector<double> values;
};

// Everything the command line says, checked.
struct Options {
  std::int32_t cols = 40;
  std::int32_t rows = 40;
  Parameters base;               // every run's values before --set replaces some
  std::optional<double> density;  // --density, turned into agents per run
  std::vector<SweepAxis> sweep;  // in the order given; the last varies fastest
  std::int64_t repeats = 1;
  std::int32_t steps = 500;
  std::int32_t recordEvery = 1;
  std::optional<std::uint64_t> seed;
  std::int32_t jobs = 1;
  std::int64_t shardIndex = 0;
  std::int64_t shardCount = 1;
  std::string out;
  std::vector<std::int32_t> snapshotAt;  // sorted, distinct
  bool charts = false;
  bool windowChart = false;  // --charts window: the market chart as the window shows it at the end
  bool quiet = false;
  bool resume = false;
  bool force = false;
  std::vector<std::string> commandLine;  // as typed, for the manifest and the resume hint
};

// The largest grid side the program takes, and the memory a World needs per cell (cells,
// the phases' per-cell copies, an agent, the measures' scratch), used to refuse a grid that
// would not fit --jobs times in memory.
inline constexpr std::int64_t MaxGridSide = 100000;
inline constexpr std::int64_t BytesPerCell = 256;
inline constexpr std::int64_t MaxRuns = 10'000'000;       // in the whole sweep
inline constexpr std::int64_t MaxShardRuns = 100'000;     // in one invocation (its manifest lists them)

// Parses and checks the command line, each value once. Throws UsageError (one line) on anything
// wrong, an empty value included; returns nothing for --help and --version, whose text it puts in
// `help`.
std::optional<Options> ParseCommandLine(int argc, const char* const* argv, std::string& help);

// The physical memory of the machine in bytes (0 if unknown), against which grid sizes are
// checked.
std::int64_t PhysicalMemory();

// The knob --set calls `name`, or nothing.
std::optional<Knob> KnobNamed(const std::string& name);

// Parses and checks one value of a knob; throws UsageError naming `option`. A negative zero is
// taken as 0.
double ParseKnob(const std::string& option, Knob knob, const std::string& text);

// Stores a parsed value: agents replace a density, a density is kept to be turned into agents.
void SetKnob(Knob knob, double value, Parameters& parameters, std::optional<double>& density);

// Expands a --set list: "a,b,c" or "start:stop:step" (numbers, stop included when reached).
std::vector<std::string> ExpandList(const std::string& option, const std::string& list);

// Number parsing shared with the checks: the whole text must be one finite number (a negative
// zero reads as 0).
std::optional<double> ParseFinite(const std::string& text);
std::optional<std::int64_t> ParseInteger(const std::string& text);

}  // namespace zelmora::batch
