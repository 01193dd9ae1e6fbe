// Rows as the CSV writes them: the recorded steps, numbers that read back exactly, unit costs.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "Csv.h"
#include "simulation/Measures.h"
#include "simulation/World.h"
#include "sweep/Record.h"
#include "sweep/Run.h"
#include "sweep/RunPlan.h"

namespace zelmora::sweep {
namespace {

using zelmora::testing::Field;

TEST(Record, RecordedStepsAreZeroEveryKthAndTheLast) {
  struct Case {
    std::int32_t steps, every;
    std::vector<std::int32_t> recorded;
  };
  const std::vector<Case> cases = {
      {10, 3, {0, 3, 6, 9, 10}}, {10, 5, {0, 5, 10}}, {0, 1, {0}}, {5, 10, {0, 5}}, {3, 1, {0, 1, 2, 3}}};
  for (const Case& c : cases) {
    std::vector<std::int32_t> recorded;
    for (std::int32_t step = 0; step <= c.steps; ++step) {
      if (IsRecorded(step, c.steps, c.every)) recorded.push_back(step);
    }
    EXPECT_EQ(recorded, c.recorded) << c.steps << "/" << c.every;
    EXPECT_EQ(RecordedCount(c.steps, c.every), c.recorded.size()) << c.steps << "/" << c.every;
  }
  // Counted, not listed: the longest runs cost nothing to plan.
  EXPECT_EQ(RecordedCount(1'000'000'000, 1), 1'000'000'001u);
  EXPECT_EQ(RecordedCount(1'000'000'000, 2147483647), 2u);
}

TEST(Record, NumbersReadBackExactlyAndNaNIsEmpty) {
  const std::vector<double> values = {0.0, 1.0, 100.0, 0.1, 1.0 / 3.0, 70.71067811865476, 1e-300, 5e-324,
                                      1.7976931348623157e308, -2.5, 123456789012345.0};
  for (double value : values) {
    std::string text;
    AppendNumber(text, value);
    EXPECT_EQ(text.find(','), std::string::npos) << text;
    double back = 0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    EXPECT_EQ(back, value) << text;
  }
  std::string empty;
  AppendNumber(empty, std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(empty, "");
  std::string zero;
  AppendNumber(zero, -0.0);
  EXPECT_EQ(zero, "0");
  EXPECT_EQ(std::signbit(*ParseValue(ParameterIndex("production_costs"), "-0")), false);
  std::string whole;
  AppendNumber(whole, 100.0);
  EXPECT_EQ(whole, "100");
}

// Unit costs are written from a cache keyed by customers: a changed cost at an unchanged count,
// and markets sharing a slot, must still show their own values.
TEST(Record, UnitCostsShowTheWorldsValues) {
  ModelSettings settings;
  settings.agentCount = "30";
  World world(settings);
  world.SetSeedSource(SeedStream(4));
  world.SizeGrid(100, 100);
  world.CreateGrid();
  world.CreateAgents();
  world.StepCount = 1;
  RowWriter writer(RunPlan{});
  const std::vector<std::vector<double>> costs = {
      {100, 70.71067811865476, 1, 2, 3, 4, 5, 6, 7, 8}, {100.5, 0.1, 1, 2, 3, 4, 5, 6, 7, 8.25}};
  for (const auto& values : costs) {
    for (int m = 0; m < MarketCount; ++m) {
      world.MarketCell(m).unitCost = values[std::size_t(m)];
      world.MarketCell(m).customers = m % 2 * 1024;  // every market in slot 0 of the cache
    }
    std::string row;
    writer.Append(row, world, StepMeasures{});
    for (int m = 0; m < MarketCount; ++m) {
      const TCell& cell = world.MarketCell(m);  // markets may share a cell, and then its value
      EXPECT_EQ(std::stod(Field(row, "market" + std::to_string(m) + "_unit_cost")), cell.unitCost) << row;
    }
    EXPECT_EQ(Field(row, "yellow_bid_price"), Field(row, "market2_unit_cost"));
  }
}

// With fewer than ten markets the columns of those the run lacks are empty, the yellow market's
// too below three, in the rows and in their means; those it has keep their numbers.
TEST(Record, MarketsARunLacksHaveEmptyColumns) {
  for (const int markets : {10, 0, 2, 3, 7}) {
    ParameterSet given;
    given.Set(ParameterIndex("markets"), markets);
    const RunPlan plan{0, 5, Resolve(given)};
    RunWorld model(plan);
    model.world.SimulationStep();
    StepMeans means;
    means.Add(model.world);
    RowWriter writer(plan, true);
    std::string row;
    writer.Append(row, model.world, StepMeasures{}, &means);
    for (int m = 0; m < MarketCount; ++m) {
      for (const std::string& column : {"market" + std::to_string(m) + "_customers", "market" + std::to_string(m) +
                                       "_unit_cost", "market" + std::to_string(m) + "_customers_mean"}) {
        EXPECT_EQ(Field(row, column).empty(), m >= markets) << markets << " markets: " << column;
      }
    }
    for (const char* yellow : {"yellow_customers", "yellow_bid_price", "yellow_customers_mean"}) {
      EXPECT_EQ(Field(row, yellow).empty(), markets < 3) << markets << " markets: " << yellow;
    }
  }
}

}  // namespace
}  // namespace zelmora::sweep
