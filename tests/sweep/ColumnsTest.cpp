// The table of columns is the CSV's one definition: the docs' column reference must say the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "Csv.h"
#include "Subprocess.h"
#include "sweep/Columns.h"

namespace zelmora::sweep {
namespace {

// The rows of the docs' column table: "| `name` | kind | description |".
std::vector<std::string> DocumentedColumns() {
  std::vector<std::string> rows;
  for (const std::string& line : testing::Lines(testing::ReadFile(ZELMORA_SOURCE_DIR "/docs/EXPERIMENTS.md"))) {
    for (const ColumnKind kind :
         {ColumnKind::Integer, ColumnKind::Unsigned, ColumnKind::IntegerOrEmpty, ColumnKind::Real, ColumnKind::Text}) {
      // The column table's rows have three fields; the parameter table's, which share names, six.
      std::size_t separators = 0;
      for (std::size_t at = line.find(" | "); at != std::string::npos; at = line.find(" | ", at + 1)) ++separators;
      if (line.rfind("| `", 0) == 0 && separators == 2 &&
          line.find(std::string("` | ") + KindName(kind) + " |") != std::string::npos) {
        rows.push_back(line);
      }
    }
  }
  return rows;
}

TEST(Columns, TheDocsDescribeEveryColumnAsTheTableDoes) {
  std::vector<std::string> table;
  for (const Column& c : Columns(true)) {
    table.push_back("| `" + c.name + "` | " + KindName(c.kind) + " | " +
                    c.description + " |");
  }
  EXPECT_EQ(DocumentedColumns(), table);
}

// The run's own columns lead the row, but for parameters declared later, which follow the measures
// so that existing columns keep their places; every parameter is a column.
TEST(Columns, NamesAreDistinctAndTheRunsOwnColumnsComeFirst) {
  std::set<std::string> names;
  bool perRun = true;
  std::size_t parameters = 0;
  for (const Column& c : Columns(true)) {
    EXPECT_TRUE(names.insert(c.name).second) << c.name;
    const bool trailing = c.parameter && Parameters[*c.parameter].place != ColumnPlace::Leading;
    EXPECT_FALSE(c.perRun && !perRun && !trailing) << c.name << " follows a column of the step";
    perRun = perRun && c.perRun;
    EXPECT_FALSE(c.recurs && c.kind != ColumnKind::Real) << c.name;
    if (c.parameter) {
      EXPECT_EQ(c.name, Parameters[*c.parameter].name);
    }
    parameters += c.parameter.has_value();
  }
  EXPECT_EQ(parameters, ParameterCount);
  // The means follow every other column, one per per-step column, so a sweep without them keeps
  // its columns and their places.
  const std::vector<Column>& base = Columns();
  EXPECT_TRUE(std::equal(base.begin(), base.end(), Columns(true).begin(),
                         [](const Column& a, const Column& b) { return a.name == b.name; }));
  EXPECT_EQ(Columns(true).size() - base.size(),
            std::size_t(std::count_if(base.begin(), base.end(), [](const Column& c) { return c.perStep; })));
}

// The structure's columns end the row, after every column there was before them.
TEST(Columns, TheStructuresColumnsEndTheRow) {
  const std::vector<Column>& columns = Columns();
  std::size_t first = columns.size();
  for (std::size_t k = 0; k < columns.size(); ++k) {
    const bool end = columns[k].parameter && Parameters[*columns[k].parameter].place == ColumnPlace::End;
    if (end) first = std::min(first, k);
    EXPECT_EQ(end, k >= first) << columns[k].name << " among the structure's columns";
  }
  EXPECT_EQ(columns[first - 1].name, "mean_price_paid_white");
}

}  // namespace
}  // namespace zelmora::sweep
