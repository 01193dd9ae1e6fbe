#include "sweep/Design.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace zelmora::batch {
namespace {

constexpr const char* ParameterNames =
    "threshold, production-costs, travel-expenses, returns-to-scale, segregation, centers, agents, density";

// The lines of the text without their ends; a last line end ends the last line, it opens none.
std::vector<std::string_view> LinesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

std::string Where(std::size_t row) {
  return "row " + std::to_string(row) + " (line " + std::to_string(row + 1) + ")";
}

bool IsSwitch(Knob knob) { return knob == Knob::Segregation || knob == Knob::Centers; }

}  // namespace

std::string ReadDesignFile(const std::string& file) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec) throw UsageError("--design: cannot read '" + file + "': " + ec.message());
  if (size > MaxDesignBytes) {
    throw UsageError("--design: '" + file + "' is larger than 64 MiB; expects a design of fewer points");
  }
  std::ifstream in(file, std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) throw UsageError("--design: cannot read '" + file + "'");
  return content;
}

Design ParseDesign(const std::string& file, std::string content) {
  Design design;
  design.file = file;
  design.content = std::move(content);
  const std::string option = "--design " + file;
  std::string_view text = design.content;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a spreadsheet's byte-order mark
  const std::vector<std::string_view> lines = LinesOf(text);
  if (lines.empty()) {
    throw UsageError(option + ": the file is empty; expects a header line of parameter names, then one line per point");
  }
  const std::vector<std::string> header = SplitCommas(std::string(lines[0]));
  for (std::size_t c = 0; c < header.size(); ++c) {
    const std::string column = "line 1, column " + std::to_string(c + 1);
    if (header[c].empty()) {
      throw UsageError(option + ": " + column + " has no name (an index? pandas writes none with index=False); " +
                       "expects one of " + ParameterNames);
    }
    const auto knob = KnobNamed(header[c]);
    if (!knob) throw UsageError(option + ": " + column + " '" + header[c] + "' is no parameter; names: " + ParameterNames);
    for (std::size_t k = 0; k < c; ++k) {
      if (header[k] == header[c]) {
        throw UsageError(option + ": " + column + " '" + header[c] + "' is given twice (also column " +
                         std::to_string(k + 1) + ")");
      }
    }
    design.columns.push_back({header[c], *knob, {}});
  }
  const auto has = [&](Knob knob) {
    for (const SweepAxis& column : design.columns) {
      if (column.knob == knob) return true;
    }
    return false;
  };
  if (has(Knob::Agents) && has(Knob::Density)) {
    throw UsageError(option + ": columns 'agents' and 'density' exclude each other; give one of them");
  }
  design.points = lines.size() - 1;
  if (design.points == 0) throw UsageError(option + ": no points; expects one line of values per point after the header");
  if (std::int64_t(design.points) > MaxRuns) throw UsageError(option + ": more than 10000000 points");
  for (SweepAxis& column : design.columns) column.values.reserve(design.points);
  for (std::size_t row = 1; row < lines.size(); ++row) {
    const std::vector<std::string> fields = SplitCommas(std::string(lines[row]));
    if (fields.size() != header.size()) {
      throw UsageError(option + ": " + Where(row) + " has " + std::to_string(fields.size()) + " values for " +
                       std::to_string(header.size()) + " columns" + (lines[row].empty() ? " (an empty line)" : ""));
    }
    for (std::size_t c = 0; c < fields.size(); ++c) {
      SweepAxis& column = design.columns[c];
      std::string value = fields[c];
      // A switch as the CSV writes it, or as pandas writes a column of bools.
      if (IsSwitch(column.knob) && (value == "1" || value == "True")) value = "on";
      if (IsSwitch(column.knob) && (value == "0" || value == "False")) value = "off";
      column.values.push_back(
          ParseKnob(option + ": " + Where(row) + ", column '" + column.name + "'", column.knob, value));
    }
  }
  return design;
}

void CheckDesignAgainst(const Design& design, const Options& options, bool agentsGiven) {
  const std::string option = "--design " + design.file;
  bool setAgents = false, setDensity = false;
  for (const SweepAxis& axis : options.sweep) {
    setAgents = setAgents || axis.knob == Knob::Agents;
    setDensity = setDensity || axis.knob == Knob::Density;
    for (const SweepAxis& column : design.columns) {
      if (column.knob == axis.knob) {
        throw UsageError(option + ": column '" + column.name + "' is also varied by --set " + axis.name +
                         "; give each parameter in one of them");
      }
    }
  }
  for (const SweepAxis& column : design.columns) {
    const char* other = nullptr;
    if (column.knob == Knob::Density && (agentsGiven || setAgents)) other = setAgents ? "--set agents" : "--agents";
    if (column.knob == Knob::Agents && (options.density || setDensity)) other = setDensity ? "--set density" : "--density";
    if (other) {
      throw UsageError(option + ": column '" + column.name + "' and " + other + " exclude each other; give one of them");
    }
  }
}

std::string DesignHash(std::string_view content) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : content) hash = (hash ^ std::uint8_t(c)) * 0x100000001b3ULL;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace zelmora::batch
