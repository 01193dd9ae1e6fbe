#pragma once

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sweep/Columns.h"

namespace zelmora::testing {

// A CSV row's fields, the line end cut off.
inline std::vector<std::string> Fields(std::string row) {
  while (!row.empty() && (row.back() == '\r' || row.back() == '\n')) row.pop_back();
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t comma; (comma = row.find(',', start)) != std::string::npos; start = comma + 1) {
    fields.push_back(row.substr(start, comma - start));
  }
  fields.push_back(row.substr(start));
  return fields;
}

// A row's field by its column's name in the table of columns (the means, where the row has them,
// follow the others).
inline std::string Field(const std::string& row, const std::string& name) {
  const auto& columns = sweep::Columns(true);
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (columns[k].name == name) return Fields(row).at(k);
  }
  throw std::invalid_argument("no column " + name);
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace zelmora::testing
