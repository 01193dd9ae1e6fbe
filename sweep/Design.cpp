#include "sweep/Design.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace zelmora::sweep {
namespace {

using Source = RequestError::Source;

// The records of the text without their line ends, each as its fields, quotes taken off (a doubled
// quote inside quotes is one quote). Blank lines at the end are dropped.
std::vector<std::vector<std::string>> RecordsOf(std::string_view text) {
  std::vector<std::vector<std::string>> records;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t k = 0; k < line.size(); ++k) {
      const char c = line[k];
      if (quoted && c == '"' && k + 1 < line.size() && line[k + 1] == '"') {
        fields.back() += '"';
        ++k;
      } else if (c == '"') {
        quoted = !quoted;
      } else if (c == ',' && !quoted) {
        fields.emplace_back();
      } else {
        fields.back() += c;
      }
    }
    if (line.empty()) fields.clear();
    records.push_back(std::move(fields));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  while (!records.empty() && records.back().empty()) records.pop_back();
  return records;
}

std::string Names() {
  std::string names;
  for (const ParameterRow& row : Parameters) names += (names.empty() ? "" : ", ") + std::string(row.name);
  return names;
}

RequestError CellError(const std::string& name, std::int64_t row, std::int64_t column, std::string value,
                       std::string reason) {
  RequestError error(Source::Design, name, std::move(value), std::move(reason), row);
  error.column = column;
  error.joined = row == 0;
  return error;
}

// An unnamed first column whose values are the rows' numbers, from 0 or from 1: an index.
bool IsRowNumbers(const std::vector<std::vector<std::string>>& records) {
  for (const int first : {0, 1}) {
    bool numbers = true;
    for (std::size_t row = 1; row < records.size() && numbers; ++row) {
      numbers = !records[row].empty() && records[row][0] == std::to_string(int(row) - 1 + first);
    }
    if (numbers) return true;
  }
  return false;
}

}  // namespace

std::string ReadDesignFile(const std::string& file) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec) throw RequestError(Source::Field, "design", "", "cannot read '" + file + "': " + ec.message());
  if (size > MaxDesignBytes) {
    throw RequestError(Source::Field, "design", "", "'" + file + "' is larger than 64 MiB; expects a design of fewer points");
  }
  std::ifstream in(file, std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) throw RequestError(Source::Field, "design", "", "cannot read '" + file + "'");
  return content;
}

Design ParseDesign(const std::string& file, std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a spreadsheet's byte-order mark
  const std::vector<std::vector<std::string>> records = RecordsOf(text);
  if (records.empty()) {
    throw RequestError(Source::Design, "", "", "the file is empty; expects a header line of parameter names, then one line per point");
  }
  Design design;
  design.file = file;
  const std::vector<std::string>& header = records[0];
  const std::size_t skip = !header.empty() && header[0].empty() && records.size() > 1 && IsRowNumbers(records) ? 1 : 0;
  for (std::size_t c = skip; c < header.size(); ++c) {
    const std::int64_t column = std::int64_t(c) + 1;
    if (header[c].empty()) {
      throw CellError("", 0, column, "", "has no name (an index? pandas writes none with index=False); expects one of " + Names());
    }
    const auto parameter = FindParameter(header[c]);
    if (!parameter) throw CellError(header[c], 0, column, "", "is no parameter; names: " + Names());
    design.columns.push_back(*parameter);
    design.names.push_back(header[c]);
  }
  design.points = std::int64_t(records.size()) - 1;
  if (design.points == 0) throw RequestError(Source::Design, "", "", "no points; expects one line of values per point after the header");
  if (design.points > MaxRuns) throw RequestError(Source::Design, "", "", "more than " + std::to_string(MaxRuns) + " points");
  design.values.reserve(std::size_t(design.points) * design.columns.size());
  for (std::size_t row = 1; row < records.size(); ++row) {
    const std::vector<std::string>& fields = records[row];
    const std::int64_t point = std::int64_t(row);
    if (fields.size() != header.size()) {
      const std::string where = "row " + std::to_string(point) + " (line " + std::to_string(point + 1) + ")";
      throw RequestError(Source::Design, "", "",
                         where + (fields.empty() ? " is empty" : " has " + std::to_string(fields.size()) + " values") +
                             "; expects " + std::to_string(header.size()) + " values, one per column");
    }
    for (std::size_t c = skip; c < fields.size(); ++c) {
      const std::size_t parameter = design.columns[c - skip];
      const auto value = ParseValue(parameter, fields[c]);
      if (!value) {
        RequestError error = CellError(header[c], point, std::int64_t(c) + 1, fields[c], "expects " + Expects(parameter));
        error.joined = false;
        throw error;
      }
      design.values.push_back(*value);
    }
  }
  return design;
}

}  // namespace zelmora::sweep
