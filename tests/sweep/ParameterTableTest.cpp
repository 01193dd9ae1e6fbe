// The parameter table: each row consistent with itself, values read as the command line writes
// them, the defaults and second names that follow other parameters, and the rules between them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
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
    // A fact reaches the model itself or through a second name of it (the threshold as a percent).
    const bool secondApplies = std::any_of(std::begin(Parameters), std::end(Parameters), [&](const ParameterRow& r) {
      return r.sameFactAs == row.name && r.apply;
    });
    if (row.sameFactAs.empty()) {
      EXPECT_TRUE(row.apply || secondApplies || row.reach == Reach::Grid) << row.name << " reaches no model";
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
      {"relocation", "anywhere", 1},   {"relocation", "nearby", 0},     {"relocation", "Nearby", std::nullopt},
      {"relocation", "1", std::nullopt}, {"relocation", "", std::nullopt}, {"wrap", "off", 0},
      {"threshold_percent", "37.5", std::nullopt}, {"threshold_percent", "100", 100}, {"markets", "0", 0},
      {"radius", "6", std::nullopt},   {"search_window", "0", std::nullopt}, {"search_window", "20", 20},
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
      // 2r + 1 cells at most each side: radius 5 fits 11 x 11 and no narrower grid.
      {{{"radius", 5}, {"grid_cols", 11}, {"grid_rows", 11}, {"agents", 0}}, nullptr, ""},
      {{{"radius", 5}, {"grid_cols", 10}, {"grid_rows", 11}, {"agents", 0}}, "radius",
       "a neighbourhood of radius 5 spans 11 cells, more than a side of the 10 x 11 grid"},
      {{{"radius", 2}, {"grid_cols", 40}, {"grid_rows", 10}, {"agents", 0}}, nullptr, ""},
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
  for (const char* free : {"threshold", "segregation", "centers", "markets", "relocation", "wrap"}) {
    EXPECT_FALSE(RulesRead(Index(free))) << free;
  }
  EXPECT_TRUE(RulesRead(Index("radius")));
}

// The threshold given in eighths or in percent reaches the model as the percent exactly (12.5 K
// for K eighths), and each name shows the other's value: K = T / 12.5, written as the real it is,
// whole eighths as today's digits.
TEST(ParameterTable, TheThresholdIsOneFactInEighthsOrPercent) {
  for (int eighths = 0; eighths <= 8; ++eighths) {
    ParameterSet set;
    set.Set(Index("threshold"), eighths);
    const ParameterValues v = Resolve(set);
    EXPECT_EQ(SettingsOf(v).thresholdPercent, 12.5 * eighths);
    EXPECT_EQ(v[Index("threshold_percent")], 12.5 * eighths);
    EXPECT_EQ(ValueText(Index("threshold"), v[Index("threshold")]), std::to_string(eighths));
  }
  for (int percent = 0; percent <= 100; ++percent) {
    ParameterSet set;
    set.Set(Index("threshold_percent"), percent);
    const ParameterValues v = Resolve(set);
    EXPECT_EQ(SettingsOf(v).thresholdPercent, percent);
    EXPECT_EQ(v[Index("threshold_percent")], percent);
    const std::string eighths = ValueText(Index("threshold"), v[Index("threshold")]);
    EXPECT_EQ(WholeText<double>(eighths), percent / 12.5) << eighths;  // the text reads back as the fact
    EXPECT_EQ(eighths.find('.') == std::string::npos, percent * 2 % 25 == 0) << eighths;
  }
  ParameterSet fortyPercent;
  fortyPercent.Set(Index("threshold_percent"), 40);
  EXPECT_EQ(ValueText(Index("threshold"), Resolve(fortyPercent)[Index("threshold")]), "3.2");
}

// Each structure parameter reaches its field of the model's shape and nothing else: over many
// random choices of them, the settings are the defaults' but for the shape, which holds the values.
TEST(ParameterTable, TheStructureReachesTheModelsShapeAlone) {
  const ModelSettings standard = SettingsOf(Resolve({}));
  EXPECT_EQ(standard.shape.radius, ModelShape{}.radius);
  EXPECT_EQ(standard.shape.markets, ModelShape{}.markets);
  EXPECT_EQ(standard.shape.windowHalfWidth, ModelShape{}.windowHalfWidth);
  EXPECT_EQ(standard.shape.torus, ModelShape{}.torus);
  EXPECT_EQ(standard.shape.relocateAnywhere, ModelShape{}.relocateAnywhere);
  std::mt19937_64 random(24);
  for (int trial = 0; trial < 200; ++trial) {
    const auto draw = [&](const char* name) {
      const ParameterRow& row = Parameters[Index(name)];
      const double high = row.kind == ParameterKind::Choice ? double(row.choices.size() - 1) : row.high;
      return double(std::uniform_int_distribution<int>(int(row.low), int(high))(random));
    };
    ParameterSet set;
    for (const char* name : {"markets", "radius", "search_window", "wrap", "relocation"}) set.Set(Index(name), draw(name));
    const ParameterValues v = Resolve(set);
    const ModelSettings s = SettingsOf(v);
    EXPECT_EQ(s.shape.markets, v[Index("markets")]);
    EXPECT_EQ(s.shape.radius, v[Index("radius")]);
    EXPECT_EQ(s.shape.windowHalfWidth, v[Index("search_window")]);
    EXPECT_EQ(s.shape.torus, v[Index("wrap")] == 1);
    EXPECT_EQ(s.shape.relocateAnywhere, ValueText(Index("relocation"), v[Index("relocation")]) == "anywhere");
    EXPECT_EQ(s.thresholdPercent, standard.thresholdPercent);
    EXPECT_EQ(s.agentCount, standard.agentCount);
    EXPECT_EQ(s.productionCost, standard.productionCost);
    EXPECT_EQ(s.segregation, standard.segregation);
    EXPECT_EQ(s.lookForCenters, standard.lookForCenters);
  }
}

}  // namespace
}  // namespace zelmora::sweep
