#pragma once

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "simulation/ModelPorts.h"

namespace zelmora::sweep {

// What a parameter's values are: whole numbers, reals, a switch (on or off, held as 1 or 0) or
// one of a few named choices (held as the choice's place in its list).
enum class ParameterKind { Integer, Real, Switch, Choice };

// Where a parameter's CSV column stands: the parameters declared before the columns' order was
// fixed lead the row; later ones follow the measures of their time (Trailing, density) or, since
// the measures after those, end the row (End), so every existing column keeps its place.
enum class ColumnPlace { Leading, Trailing, End };

// Where the model reads a parameter: the grid's size when a World is made, the agents at a setup,
// everything else at the phases of every step. A front end that changes a parameter between steps
// tells its user when the change acts from this.
enum class Reach { Grid, Setup, Step };

// One model parameter, declared once: the command line's options and --help and --parameters, the
// design's columns, the manifest, the CSV's columns, the comparison of sweeps, the Python keywords
// and zelmora.parameters() are all made from these rows. A parameter's place in the table is its
// index in every run's values.
struct ParameterRow {
  std::string_view name;  // the CSV's column; the same with dashes is accepted wherever a name is
  ParameterKind kind = ParameterKind::Real;
  double low = 0, high = 0;  // Integer and Real: the values taken (a rule may narrow them)
  std::string_view range = {};  // as --parameters prints it; empty: low..high
  double defaultValue = 0;
  std::string_view defaultText = {};  // empty: the default value as the command line writes it
  std::string_view unit = {};    // of an Integer, in "a whole number of <unit>"
  std::string_view description = {};
  Reach reach = Reach::Step;
  // How the value reaches the model at a setup or a step (Grid parameters size the World instead).
  void (*apply)(double value, ModelSettings& settings) = nullptr;
  // A default that follows the parameters declared before this one.
  double (*defaultFrom)(std::span<const double> values) = nullptr;
  // A second name for another parameter's fact, in its own unit: giving both is an error. The
  // fact is computed from this value, and this value from the fact when only the fact is given.
  std::string_view sameFactAs = {};
  double (*toFact)(double value, std::span<const double> values) = nullptr;
  double (*fromFact)(double fact, std::span<const double> values) = nullptr;
  ColumnPlace place = ColumnPlace::Leading;
  std::span<const std::string_view> choices = {};  // a Choice's names, in the order of their values
  // Given whole, but a fraction where it comes from its other name (3.2 eighths from 40 %): its
  // column and texts are real numbers, which read the same as today's where the value is whole.
  bool fractional = false;
};

namespace table {
inline double GridCols(std::span<const double> v);
inline double GridRows(std::span<const double> v);
inline double Cells(std::span<const double> v) { return GridCols(v) * GridRows(v); }
inline constexpr std::string_view Relocations[] = {"nearby", "anywhere"};
}  // namespace table

// Every model parameter, in the order of the CSV's columns. A parameter's default may follow only
// those above it.
inline constexpr ParameterRow Parameters[] = {
    {.name = "grid_cols", .kind = ParameterKind::Integer, .low = 10, .high = 100000, .defaultValue = 40,
     .unit = "cells", .description = "columns of the grid", .reach = Reach::Grid},
    {.name = "grid_rows", .kind = ParameterKind::Integer, .low = 10, .high = 100000, .defaultValue = 40,
     .unit = "cells", .description = "rows of the grid", .reach = Reach::Grid},
    {.name = "agents", .kind = ParameterKind::Integer, .low = 0, .high = 2147483647, .range = "0..cells",
     .defaultValue = 800, .defaultText = "800 on 40 x 40, otherwise half the cells (rounded down)", .unit = "agents",
     .description = "number of agents a setup places, at most one per cell", .reach = Reach::Setup,
     .apply = [](double v, ModelSettings& s) { s.agentCount = std::to_string(std::int64_t(v)); },
     .defaultFrom = [](std::span<const double> v) {
       return table::GridCols(v) == 40 && table::GridRows(v) == 40 ? 800.0
                                                                   : double(std::int64_t(table::Cells(v)) / 2);
     }},
    {.name = "threshold", .kind = ParameterKind::Integer, .low = 0, .high = 8, .defaultValue = 3, .unit = "eighths",
     .description = "K in eighths (ThresholdPercent = 12.5 K): an agent is satisfied when its like share is strictly "
                    "above 12.5 K %; threshold_percent / 12.5 where that is given",
     .fractional = true},
    {.name = "production_costs", .kind = ParameterKind::Real, .low = 0, .high = 1e6, .defaultValue = 100,
     .description = "production costs (the window: 1 to 500)",
     .apply = [](double v, ModelSettings& s) { s.productionCost = v; }},
    {.name = "travel_expenses", .kind = ParameterKind::Real, .low = 0, .high = 1e6, .defaultValue = 1,
     .description = "travel expenses per cell of distance (the window: 0.02 to 2)",
     .apply = [](double v, ModelSettings& s) { s.travelCost = v; }},
    {.name = "returns_to_scale", .kind = ParameterKind::Real, .low = 0, .high = 10, .defaultValue = 1,
     .description = "returns to scale (the window: 0.9 to 1.3)",
     .apply = [](double v, ModelSettings& s) { s.returnsToScale = v; }},
    {.name = "segregation", .kind = ParameterKind::Switch, .low = 0, .high = 1, .defaultValue = 1,
     .description = "the segregation phase, 1 on or 0 off",
     .apply = [](double v, ModelSettings& s) { s.segregation = v != 0; }},
    {.name = "centers", .kind = ParameterKind::Switch, .low = 0, .high = 1, .defaultValue = 1,
     .description = "the look-for-centers phase, 1 on or 0 off",
     .apply = [](double v, ModelSettings& s) { s.lookForCenters = v != 0; }},
    {.name = "density", .kind = ParameterKind::Real, .low = 0, .high = 1, .defaultText = "agents / cells",
     .unit = "share of the cells",
     .description = "agents as a share of the cells, the agents' second name: agents = density x cells, rounded to "
                    "the nearest (halves to even); the density given, or agents / cells",
     .reach = Reach::Setup, .sameFactAs = "agents",
     .toFact = [](double density, std::span<const double> v) { return std::nearbyint(density * table::Cells(v)); },
     .fromFact = [](double agents, std::span<const double> v) { return agents / table::Cells(v); },
     .place = ColumnPlace::Trailing},
    // The model's structure, read at a setup; each default is the window's model.
    {.name = "markets", .kind = ParameterKind::Integer, .low = 0, .high = 10, .defaultValue = 10, .unit = "markets",
     .description = "markets a setup places; 0: segregation alone (no prices, no catchments, no look for centers)",
     .reach = Reach::Setup, .apply = [](double v, ModelSettings& s) { s.shape.markets = std::int32_t(v); },
     .place = ColumnPlace::End},
    {.name = "radius", .kind = ParameterKind::Integer, .low = 1, .high = 5, .defaultValue = 1, .unit = "cells",
     .description = "the neighbourhood's radius r: the (2r+1)^2 - 1 cells around an agent; 2r+1 at most each side of "
                    "the grid",
     .reach = Reach::Setup, .apply = [](double v, ModelSettings& s) { s.shape.radius = std::int32_t(v); },
     .place = ColumnPlace::End},
    // The model reads the threshold from here: T = 12.5 K exactly for K eighths, any whole T given.
    {.name = "threshold_percent", .kind = ParameterKind::Integer, .low = 0, .high = 100,
     .defaultText = "12.5 x threshold", .unit = "percent",
     .description = "the threshold's second name, T in percent: an agent is satisfied when its like share is "
                    "strictly above T %; the threshold given x 12.5, or the T given",
     .apply = [](double v, ModelSettings& s) { s.thresholdPercent = v; }, .sameFactAs = "threshold",
     .toFact = [](double percent, std::span<const double>) { return percent / 12.5; },
     .fromFact = [](double eighths, std::span<const double>) { return 12.5 * eighths; },
     .place = ColumnPlace::End, .fractional = true},
    {.name = "search_window", .kind = ParameterKind::Integer, .low = 1, .high = 20, .defaultValue = 10,
     .unit = "cells",
     .description = "half-width w of the search window of relocation and look for centers: offsets -w to w-1",
     .reach = Reach::Setup, .apply = [](double v, ModelSettings& s) { s.shape.windowHalfWidth = std::int32_t(v); },
     .place = ColumnPlace::End},
    {.name = "wrap", .kind = ParameterKind::Switch, .low = 0, .high = 1, .defaultValue = 1,
     .description = "on: the grid wraps round at its edges (a torus); off: a bounded grid, neighbourhoods cut at "
                    "the edges",
     .reach = Reach::Setup, .apply = [](double v, ModelSettings& s) { s.shape.torus = v != 0; },
     .place = ColumnPlace::End},
    {.name = "relocation", .kind = ParameterKind::Choice, .low = 0, .high = 1, .defaultValue = 0,
     .description = "where an unsatisfied agent looks: nearby, its search window; anywhere, one uniform draw among "
                    "the free cells of the grid",
     .reach = Reach::Setup, .apply = [](double v, ModelSettings& s) { s.shape.relocateAnywhere = v != 0; },
     .place = ColumnPlace::End, .choices = table::Relocations},
};

inline constexpr std::size_t ParameterCount = std::size(Parameters);

// A parameter's index by its name, found when the program is compiled: a misspelt name does not
// build.
consteval std::size_t ParameterIndex(std::string_view name) {
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    if (Parameters[k].name == name) return k;
  }
  throw "no parameter of that name";
}

// Each parameter's fact: itself, or the parameter it is a second name of.
inline constexpr std::array<std::size_t, ParameterCount> Facts = [] {
  std::array<std::size_t, ParameterCount> facts{};
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    facts[k] = k;
    for (std::size_t j = 0; j < ParameterCount; ++j) {
      if (!Parameters[k].sameFactAs.empty() && Parameters[j].name == Parameters[k].sameFactAs) facts[k] = j;
    }
  }
  return facts;
}();

namespace table {
inline double GridCols(std::span<const double> v) { return v[ParameterIndex("grid_cols")]; }
inline double GridRows(std::span<const double> v) { return v[ParameterIndex("grid_rows")]; }
}  // namespace table

// A run's values, one per parameter, every one of them known.
using ParameterValues = std::array<double, ParameterCount>;

// Values as given: some parameters set, the others left to their defaults.
struct ParameterSet {
  ParameterValues values{};
  std::uint32_t given = 0;  // bit k: parameter k was given

  bool Given(std::size_t k) const { return (given >> k) & 1u; }
  void Set(std::size_t k, double value) {
    values[k] = value;
    given |= 1u << k;
  }
  bool operator==(const ParameterSet&) const = default;
};
static_assert(ParameterCount <= 32, "ParameterSet keeps one bit per parameter");

// The parameter of that name, with underscores or dashes, or nothing.
std::optional<std::size_t> FindParameter(std::string_view name);

// Whether a parameter is at its default: not given, or given at a default that is one fixed value.
bool AtDefault(const ParameterSet& set, std::size_t parameter);

// Whether a second name of this parameter was given (threshold_percent for threshold).
bool GivenBySecondName(const ParameterSet& set, std::size_t parameter);

// The parameter whose fact a parameter names (itself, or the one it is a second name of).
inline std::size_t FactOf(std::size_t parameter) { return Facts[parameter]; }

// Every value: the given ones, a fact from its second name where that was given, the defaults in
// table order, and second names from their facts.
ParameterValues Resolve(const ParameterSet& given);

// The model's inputs for a run's values: what the window's controls would say, catchment areas
// shown, price scape off.
ModelSettings SettingsOf(const ParameterValues& values);

// A value of a parameter as the command line writes it: an Integer's digits, a Real's shortest
// text that reads back the same (a negative zero as 0), on or off, a choice's name.
std::string ValueText(std::size_t parameter, double value);

// What a parameter takes, as messages say it: "a whole number of eighths from 0 to 8".
std::string Expects(std::size_t parameter);

// Reads a value written as text: an Integer's whole number, a Real's finite number in full, a
// switch as on/off, 1/0, true/false (any case: R writes TRUE, pandas True), a choice's name;
// then checks its range. Nothing when the text is not such a value or out of range.
std::optional<double> ParseValue(std::size_t parameter, std::string_view text);

// Whether a value of the right kind lies in the parameter's range.
bool InRange(std::size_t parameter, double value);

// The rules that tie parameters together, checked for every run. The first broken one names the
// parameter the message is about and says why, or nothing when every rule holds.
struct BrokenRule {
  std::vector<std::size_t> parameters;  // those the rule reads; the first unless another was varied
  std::string reason;
};
std::optional<BrokenRule> CheckRules(const ParameterValues& values);

// Whether a rule reads the parameter (or its fact): only varying these can break a rule.
bool RulesRead(std::size_t parameter);

// The dearest delivered price a run with these values could meet: the dearest unit cost (a market
// with every agent when returns to scale are below 1, else one customer) plus the travel over the
// grid's diagonal. A run is meaningful only while it stays below the model's price ceiling.
double DearestPrice(const ParameterValues& values);

// The whole text as one number of type T, or nothing: no blanks, no trailing characters.
template <class T>
std::optional<T> WholeText(std::string_view text) {
  T value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

// A real's shortest text that reads back the same, with a point whatever the locale; a negative
// zero as 0.
std::string NumberText(double value);

// The kind's name as --parameters prints it: integer, real, switch or choice.
const char* KindName(ParameterKind kind);

// A row's range and default as --parameters prints them.
std::string RangeText(std::size_t parameter);
std::string DefaultText(std::size_t parameter);

}  // namespace zelmora::sweep
