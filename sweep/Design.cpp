#include "sweep/Design.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace zelmora::sweep {
namespace {

using Source = RequestError::Source;

// Reads the text's records one by one without their line ends, each as its fields, quotes taken
// off (a doubled quote inside quotes is one quote): a design's text is read in place, never held
// twice.
class Records {
 public:
  explicit Records(std::string_view text) : text_(text) {}

  // The next record into `fields` (none for a blank line); false at the end, blank lines at the end
  // being no records.
  bool Next(std::vector<std::string>& fields) {
    if (OnlyBlankLinesLeft()) return false;
    const std::size_t end = text_.find('\n');
    std::string_view line = text_.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    text_.remove_prefix(end == std::string_view::npos ? text_.size() : end + 1);
    fields.assign(1, std::string());
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
    return true;
  }

 private:
  // Whether every line left is empty once its CR is taken off.
  bool OnlyBlankLinesLeft() const {
    for (std::size_t k = 0; k < text_.size(); ++k) {
      if (text_[k] != '\n' && !(text_[k] == '\r' && (k + 1 == text_.size() || text_[k + 1] == '\n'))) return false;
    }
    return true;
  }

  std::string_view text_;
};

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
bool IsRowNumbers(std::string_view text) {
  for (const int first : {0, 1}) {
    Records records(text);
    std::vector<std::string> fields;
    records.Next(fields);
    std::int64_t rows = 0;
    bool numbers = true;
    while (numbers && records.Next(fields)) {
      numbers = !fields.empty() && fields[0] == std::to_string(rows + first);
      ++rows;
    }
    if (numbers && rows > 0) return true;
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
  // Read into a string of the file's size: one copy of the bytes, never a growing one.
  std::ifstream in(file, std::ios::binary);
  std::string content(std::size_t(size), '\0');
  in.read(content.data(), std::streamsize(size));
  content.resize(std::size_t(in.gcount()));
  if (!in && !in.eof()) throw RequestError(Source::Field, "design", "", "cannot read '" + file + "'");
  return content;
}

Design ParseDesign(const std::string& file, std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a spreadsheet's byte-order mark
  Records records(text);
  std::vector<std::string> header, fields;
  if (!records.Next(header)) {
    throw RequestError(Source::Design, "", "", "the file is empty; expects a header line of parameter names, then one line per point");
  }
  Design design;
  design.file = file;
  const std::size_t skip = !header.empty() && header[0].empty() && IsRowNumbers(text) ? 1 : 0;
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
  // The values are most of a design's memory: room for as many points as the text has lines, so
  // they are never copied as they grow.
  std::vector<double> values;
  values.reserve(std::size_t(std::count(text.begin(), text.end(), '\n') + 1) * design.columns.size());
  while (records.Next(fields)) {
    const std::int64_t point = ++design.points;
    if (point > MaxRuns) throw RequestError(Source::Design, "", "", "more than " + std::to_string(MaxRuns) + " points");
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
      values.push_back(*value);
    }
  }
  if (design.points == 0) throw RequestError(Source::Design, "", "", "no points; expects one line of values per point after the header");
  design.values = std::make_shared<const std::vector<double>>(std::move(values));
  return design;
}

}  // namespace zelmora::sweep
