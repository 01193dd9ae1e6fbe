#include "sweep/ParameterTable.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>

#include "simulation/World.h"

namespace zelmora::sweep {
namespace {

constexpr std::size_t GridCols = ParameterIndex("grid_cols");
constexpr std::size_t GridRows = ParameterIndex("grid_rows");
constexpr std::size_t Agents = ParameterIndex("agents");

std::string Number(double value) { return NumberText(value); }

std::string Lowered(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::string GridText(const ParameterValues& v) { return Number(v[GridCols]) + " x " + Number(v[GridRows]); }

// A rule: the parameters it reads (the first is the one a message names unless another was
// varied), and what it finds wrong.
struct Rule {
  std::vector<std::size_t> reads;
  std::optional<std::string> (*broken)(const ParameterValues& v);
};

const Rule Rules[] = {
    {{GridRows, GridCols},
     [](const ParameterValues& v) -> std::optional<std::string> {
       if (v[GridCols] * v[GridRows] <= 2147483647.0) return std::nullopt;
       return "a grid of " + GridText(v) + " has more than 2^31-1 cells; expects fewer cells";
     }},
    {{Agents, GridCols, GridRows},
     [](const ParameterValues& v) -> std::optional<std::string> {
       const double cells = v[GridCols] * v[GridRows];
       if (v[Agents] <= cells) return std::nullopt;
       return Number(v[Agents]) + " agents do not fit on the " + GridText(v) + " grid; expects at most " +
              Number(cells) + " (one per cell)";
     }},
    {{ParameterIndex("production_costs"), ParameterIndex("travel_expenses"), ParameterIndex("returns_to_scale"),
      Agents, GridCols, GridRows},
     [](const ParameterValues& v) -> std::optional<std::string> {
       const double dearest = DearestPrice(v);
       if (dearest < World::PriceCeiling) return std::nullopt;
       return "production costs " + Number(v[ParameterIndex("production_costs")]) + ", travel expenses " +
              Number(v[ParameterIndex("travel_expenses")]) + " and returns to scale " +
              Number(v[ParameterIndex("returns_to_scale")]) + " with " + Number(v[Agents]) + " agents on the " +
              GridText(v) + " grid could price cells at about " + Number(std::round(dearest)) +
              "; expects costs whose delivered prices stay below the model's ceiling 9999";
     }},
    {{ParameterIndex("radius"), GridCols, GridRows},
     [](const ParameterValues& v) -> std::optional<std::string> {
       const double side = 2 * v[ParameterIndex("radius")] + 1;
       if (side <= v[GridCols] && side <= v[GridRows]) return std::nullopt;
       return "a neighbourhood of radius " + Number(v[ParameterIndex("radius")]) + " spans " + Number(side) +
              " cells, more than a side of the " + GridText(v) + " grid; expects 2 x radius + 1 at most each side";
     }},
};

}  // namespace

std::optional<std::size_t> FindParameter(std::string_view name) {
  std::string underscored(name);
  std::replace(underscored.begin(), underscored.end(), '-', '_');
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    if (Parameters[k].name == underscored) return k;
  }
  return std::nullopt;
}

bool AtDefault(const ParameterSet& set, std::size_t parameter) {
  const ParameterRow& row = Parameters[parameter];
  if (!set.Given(parameter)) return true;
  return !row.defaultFrom && row.sameFactAs.empty() && set.values[parameter] == row.defaultValue;
}

bool GivenBySecondName(const ParameterSet& set, std::size_t parameter) {
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    if (k != parameter && FactOf(k) == parameter && set.Given(k)) return true;
  }
  return false;
}

ParameterValues Resolve(const ParameterSet& given) {
  ParameterValues v{};
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    const ParameterRow& row = Parameters[k];
    if (!row.sameFactAs.empty()) continue;
    if (given.Given(k)) {
      v[k] = given.values[k];
      continue;
    }
    v[k] = row.defaultFrom ? row.defaultFrom(v) : row.defaultValue;
    for (std::size_t second = 0; second < ParameterCount; ++second) {
      if (given.Given(second) && FactOf(second) == k && second != k) {
        v[k] = Parameters[second].toFact(given.values[second], v);
      }
    }
  }
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    const ParameterRow& row = Parameters[k];
    if (row.sameFactAs.empty()) continue;
    v[k] = given.Given(k) ? given.values[k] : row.fromFact(v[FactOf(k)], v);
  }
  return v;
}

ModelSettings SettingsOf(const ParameterValues& values) {
  ModelSettings settings;
  settings.priceScape = false;
  settings.showCatchment = true;
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    if (Parameters[k].apply) Parameters[k].apply(values[k], settings);
  }
  return settings;
}

std::string ValueText(std::size_t parameter, double value) {
  const ParameterRow& row = Parameters[parameter];
  switch (row.kind) {
    case ParameterKind::Integer: return row.fractional ? Number(value) : std::to_string(std::int64_t(value));
    case ParameterKind::Real: return Number(value);
    case ParameterKind::Switch: return value != 0 ? "on" : "off";
    case ParameterKind::Choice: return std::string(row.choices[std::size_t(value)]);
  }
  return {};
}

std::string Expects(std::size_t parameter) {
  const ParameterRow& row = Parameters[parameter];
  const std::string from = " from " + ValueText(parameter, row.low) + " to " + ValueText(parameter, row.high);
  switch (row.kind) {
    case ParameterKind::Integer:
      return "a whole number" + (row.unit.empty() ? "" : " of " + std::string(row.unit)) + from;
    case ParameterKind::Real: return "a " + std::string(row.unit.empty() ? "number" : row.unit) + from;
    case ParameterKind::Switch: return "on or off";
    case ParameterKind::Choice: {
      std::string names = "one of ";
      for (std::size_t k = 0; k < row.choices.size(); ++k) names += (k ? ", " : "") + std::string(row.choices[k]);
      return names;
    }
  }
  return {};
}

bool InRange(std::size_t parameter, double value) {
  const ParameterRow& row = Parameters[parameter];
  switch (row.kind) {
    case ParameterKind::Integer: return value == std::floor(value) && value >= row.low && value <= row.high;
    case ParameterKind::Real: return std::isfinite(value) && value >= row.low && value <= row.high;
    case ParameterKind::Switch: return value == 0 || value == 1;
    case ParameterKind::Choice:
      return value == std::floor(value) && value >= 0 && value < double(row.choices.size());
  }
  return false;
}

std::optional<double> ParseValue(std::size_t parameter, std::string_view text) {
  const ParameterRow& row = Parameters[parameter];
  std::optional<double> value;
  switch (row.kind) {
    case ParameterKind::Integer:
      if (const auto whole = WholeText<std::int64_t>(text)) value = double(*whole);
      break;
    case ParameterKind::Real:
      if (const auto real = WholeText<double>(text); real && std::isfinite(*real)) value = *real + 0.0;
      break;
    case ParameterKind::Switch: {
      const std::string lower = Lowered(text);
      if (lower == "on" || lower == "true" || lower == "1") value = 1;
      if (lower == "off" || lower == "false" || lower == "0") value = 0;
      break;
    }
    case ParameterKind::Choice:
      for (std::size_t k = 0; k < row.choices.size(); ++k) {
        if (row.choices[k] == text) value = double(k);
      }
      break;
  }
  if (!value || !InRange(parameter, *value)) return std::nullopt;
  return value;
}

std::optional<BrokenRule> CheckRules(const ParameterValues& values) {
  for (const Rule& rule : Rules) {
    if (auto reason = rule.broken(values)) return BrokenRule{rule.reads, std::move(*reason)};
  }
  return std::nullopt;
}

bool RulesRead(std::size_t parameter) {
  const std::size_t fact = FactOf(parameter);
  for (const Rule& rule : Rules) {
    if (std::find(rule.reads.begin(), rule.reads.end(), fact) != rule.reads.end()) return true;
  }
  return false;
}

double DearestPrice(const ParameterValues& v) {
  const double diagonal = std::sqrt((v[GridCols] - 1) * (v[GridCols] - 1) + (v[GridRows] - 1) * (v[GridRows] - 1));
  const double returns = v[ParameterIndex("returns_to_scale")];
  const double scale = returns < 1.0 ? std::pow(std::max(v[Agents], 1.0), 1.0 - returns) : 1.0;
  return v[ParameterIndex("production_costs")] * scale + v[ParameterIndex("travel_expenses")] * diagonal;
}

std::string NumberText(double value) {
  // Whole numbers in digits (1000000, not 1e+06), the rest in the shortest form that reads back.
  if (value == std::floor(value) && std::abs(value) < 1e15) return std::to_string(std::int64_t(value));
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value + 0.0);  // -0 + 0 is +0
  return std::string(buffer, ec == std::errc() ? end : buffer);
}

const char* KindName(ParameterKind kind) {
  switch (kind) {
    case ParameterKind::Integer: return "integer";
    case ParameterKind::Real: return "real";
    case ParameterKind::Switch: return "switch";
    case ParameterKind::Choice: return "choice";
  }
  return "";
}

std::string RangeText(std::size_t parameter) {
  const ParameterRow& row = Parameters[parameter];
  if (!row.range.empty()) return std::string(row.range);
  switch (row.kind) {
    case ParameterKind::Switch: return "on|off";
    case ParameterKind::Choice: {
      std::string names;
      for (const std::string_view choice : row.choices) names += (names.empty() ? "" : "|") + std::string(choice);
      return names;
    }
    default: return ValueText(parameter, row.low) + ".." + ValueText(parameter, row.high);
  }
}

std::string DefaultText(std::size_t parameter) {
  const ParameterRow& row = Parameters[parameter];
  return row.defaultText.empty() ? ValueText(parameter, row.defaultValue) : std::string(row.defaultText);
}

}  // namespace zelmora::sweep
