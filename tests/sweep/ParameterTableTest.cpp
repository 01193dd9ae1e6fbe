// The parameter table: each row consistent with itself, values read as the command line writes
// them, the defaults and second names that follow other parameters, and the rules between them.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "sweep/ParameterTable.h"

namespace zelmora::sweep {
namespace {

std::size_t Index(std::string_view name) { return *FindParameter(name); }

// Every row: its name found with underscores and dashes, its range, default and limits written
// and read back as the same values, and a way to reach the model (or a fact it names).
TEST(ParameterTable, EveryRowReadsBackWhatItWrites) {
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    const ParameterRow& row = Parameters[k];
    std::string dashed(row.name);
    std::replace(dashed.begin(), dashed.end(), '_', '-');
    EXPECT_EQ(FindParameter(row.name), k);
    EXPECT_EQ(FindParameter(dashed), k) << dashed;
    EXPECT_LE(row.low, row.high) << row.name;
    EXPECT_FALSE(row.description.empty()) << row.name;
    std::vector<double> values = {row.low, row.high};
    if (!row.defaultFrom && row.sameFactAs.empty()) values.push_back(row.defaultValue);
    for (const double value : values) {
      EXPECT_TRUE(InRange(k, value)) << row.name << " " << value;
      EXPECT_EQ(ParseValue(k, ValueText(k, value)), value) << row.name << " " << ValueText(k, value);
    }
    if (row.sameFactAs.empty()) {
      EXPECT_TRUE(row.apply || row.reach == Reach::Grid) << row.name << " reaches no model";
      EXPECT_EQ(FactOf(k), k);
    } else {
      EXPECT_NE(FactOf(k), k) << row.name;
      EXPECT_TRUE(row.toFact && row.fromFact) << row.name;
    }
  }
}

TEST(ParameterTable, ValuesAreReadInFullAndInRange) {
  struct Case {
    const char* parameter;
    const char* text;
    std::optional<double> value;
  };
  const std::vector<Case> cases = {
      {"threshold", "3", 3},          {"threshold", "3.0", std::nullopt}, {"threshold", "9", std::nullopt},
      {"threshold", " 3", std::nullopt}, {"threshold", "", std::nullopt}, {"threshold", "0x3", std::nullopt},
      {"production_costs", "1e6", 1e6}, {"production_costs", "1e7", std::nullopt}, {"production_costs", "-0", 0},
      {"travel_expenses", "nan", std::nullopt}, {"travel_expenses", "inf", std::nullopt},
      {"travel_expenses", "0.5x", std::nullopt}, {"returns_to_scale", "10", 10}, {"returns_to_scale", "10.5", std::nullopt},
      {"segregation", "on", 1},        {"segregation", "TRUE", 1},      {"segregation", "False", 0},
      {"segregation", "0", 0},         {"segregation", "yes", std::nullopt}, {"segregation", "2", std::nullopt},
      {"grid_cols", "9", std::nullopt}, {"grid_cols", "100000", 100000}, {"agents", "-1", std::nullopt},
      {"density", "1", 1},             {"density", "1.01", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseValue(Index(c.parameter), c.text), c.value) << c.parameter << " '" << c.text << "'";
  }
  EXPECT_FALSE(std::signbit(*ParseValue(Index("production_costs"), "-0")));
}

// Defaults follow the parameters above them; agents and density are one fact under two names.
TEST(ParameterTable, DefaultsAndSecondNamesFollowTheirFacts) {
  struct Case {
    std::vector<std::pair<const char*, double>> given;
    double agents, density;
  };
  const std::vector<Case> cases = {
      {{}, 800, 0.5},
      {{{"grid_cols", 20}, {"grid_rows", 30}}, 300, 0.5},
      {{{"grid_cols", 11}, {"grid_rows", 11}}, 60, 60.0 / 121},              // half the cells, rounded down
      {{{"grid_cols", 11}, {"grid_rows", 11}, {"density", 0.5}}, 60, 0.5},  // 60.5: halves to even
      {{{"grid_cols", 15}, {"grid_rows", 10}, {"density", 0.5}}, 75, 0.5},
      {{{"grid_cols", 10}, {"grid_rows", 10}, {"density", 0.125}}, 12, 0.125},
      {{{"agents", 7}}, 7, 7.0 / 1600},
  };
  for (const Case& c : cases) {
    ParameterSet set;
    for (const auto& [name, value] : c.given) set.Set(Index(name), value);
    const ParameterValues values = Resolve(set);
    EXPECT_EQ(values[Index("agents")], c.agents) << testing::PrintToString(c.given);
    EXPECT_EQ(values[Index("density")], c.density) << testing::PrintToString(c.given);
    EXPECT_EQ(values[Index("threshold")], 3);
  }
}

TEST(ParameterTable, RulesNameTheParameterTheyAreAbout) {
  struct Case {
    std::vector<std::pair<const char*, double>> given;
    const char* named;  // nullptr: every rule holds
    const char* reason;
  };
  const std::vector<Case> cases = {
      {{}, nullptr, ""},
      {{{"agents", 1600}}, nullptr, ""},
      {{{"agents", 1601}}, "agents", "1601 agents do not fit on the 40 x 40 grid; expects at most 1600"},
      {{{"grid_cols", 100000}, {"grid_rows", 100000}, {"agents", 0}}, "grid_rows", "more than 2^31-1 cells"},
      {{{"production_costs", 9990}}, "production_costs", "could price cells at about 10045"},
      {{{"travel_expenses", 500}}, "production_costs", "travel expenses 500"},
      // Below returns of 1 a market with every agent is dearest: 800 times the costs, plus the diagonal.
      {{{"returns_to_scale", 0}, {"production_costs", 12.4}}, nullptr, ""},
      {{{"returns_to_scale", 0}, {"production_costs", 12.45}}, "production_costs", "could price cells at about 10015"},
  };
  for (const Case& c : cases) {
    ParameterSet set;
    for (const auto& [name, value] : c.given) set.Set(Index(name), value);
    const auto broken = CheckRules(Resolve(set));
    ASSERT_EQ(broken.has_value(), c.named != nullptr) << testing::PrintToString(c.given);
    if (!broken) continue;
    EXPECT_EQ(Parameters[broken->parameters.front()].name, c.named);
    EXPECT_NE(broken->reason.find(c.reason), std::string::npos) << broken->reason;
  }
  // Only what the rules read can break them when varied: a second name by its fact.
  for (const char* read : {"grid_cols", "agents", "density", "production_costs", "returns_to_scale"}) {
    EXPECT_TRUE(RulesRead(Index(read))) << read;
  }
  for (const char* free : {"threshold", "segregation", "centers"}) EXPECT_FALSE(RulesRead(Index(free))) << free;
}

}  // namespace
}  // namespace zelmora::sweep
