// The request: its runs, its checks and their structured errors, its canonical JSON read back, and
// the comparison that names where two sweeps first differ.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "Requests.h"
#include "sweep/Design.h"
#include "sweep/RequestJson.h"

namespace zelmora::sweep {
namespace {

using zelmora::testing::Given;
using Source = RequestError::Source;

std::size_t Index(std::string_view name) { return *FindParameter(name); }

Design DesignOf(const std::string& text) { return ParseDesign("d.csv", text); }

std::shared_ptr<const std::vector<double>> Values(std::vector<double> values) {
  return std::make_shared<const std::vector<double>>(std::move(values));
}

// Requests of every shape: base values, listed and ranged lists, a design, settled runs, pictures,
// a shard, an output whose name is not UTF-8, a front end's own measures.
std::vector<Request> Shapes() {
  std::vector<Request> shapes(7, zelmora::testing::Small("o.csv"));
  shapes[1].axes = {ParseAxis(Index("returns_to_scale"), "0.9:1.3:0.1"), ParseAxis(Index("centers"), "on,off")};
  shapes[1].quietSteps = 20;
  shapes[1].means = true;
  shapes[1].measures = {"like_share", "b"};
  shapes[2].design = DesignOf("threshold,travel-expenses\n2,0.5\n5,1.25\n");
  shapes[2].design->file = "designs/d.csv";
  shapes[2].axes = {ParseAxis(Index("density"), "0.25,0.5")};
  shapes[2].base.given &= ~(1u << Index("agents"));
  shapes[2].pictures = {true, true, {0, 5}, 3, Video::Gif};
  shapes[3].shardIndex = 2;
  shapes[3].shardCount = 3;
  shapes[3].out = "r\xe9sum\xe9.csv";
  shapes[3].axes = {Axis::Listed(Index("grid_cols"), {10, 20, 30})};
  shapes[4].base = {};
  shapes[4].axes = {Axis::Progression(Index("production_costs"), 0, 7, 1'000'000, 3)};  // a million, never listed
  shapes[5].runs = RunSelection({{1, 1}, {3, 3}});  // a replay's
  shapes[5].from = "runs.json";
  // The model's structure: given, varied by lists and by a design's names, a percent that is no
  // whole number of eighths.
  Given(shapes[6], "markets", 0);
  Given(shapes[6], "threshold_percent", 40);
  shapes[6].axes = {ParseAxis(Index("relocation"), "anywhere,nearby"), ParseAxis(Index("radius"), "1,3")};
  shapes[6].design = DesignOf("wrap,search_window\noff,1\non,20\n");
  return shapes;
}

// The manifest's request reads back into the same request: the same JSON, the same runs.
TEST(Request, ItsJsonReadsBackIntoTheSameRequest) {
  for (const Request& request : Shapes()) {
    const nlohmann::json json = RequestJson(request, 42);
    const Request back = RequestFromJson(nlohmann::json::parse(json.dump()));
    EXPECT_EQ(RequestJson(back, 42), json) << json.dump();
    EXPECT_EQ(back.seed, 42u);
    EXPECT_EQ(back.out, request.out);
    EXPECT_EQ(back.from, request.from);
    Request seeded = request;
    seeded.seed = 42;
    EXPECT_FALSE(FirstDifference(seeded, back).has_value()) << json.dump();
    const std::int64_t runs = SweepSize(request);
    for (std::int64_t index = 0; index < runs; index += 1 + runs / 50) {
      EXPECT_EQ(RunAt(request, 42, index).parameters, RunAt(back, 42, index).parameters) << index;
    }
  }
}

TEST(Request, DamagedJsonNamesTheField) {
  const nlohmann::json good = RequestJson(Shapes()[2], 7);
  const std::vector<std::pair<const char*, nlohmann::json>> cases = {
      {"/sweep/steps", "x"},          {"/sweep/set/0/name", "colour"}, {"/sweep/design/points", {{2, 0.5}}},
      {"/sweep/design/points", "2,0.5;5"}, {"/sweep/design/points", "2,0.5;5,1.25,1"},
      {"/sweep/design/points", "2,0.5;;5,1.25"}, {"/sweep/design/points", "2,0.5;9,1.25"},
      {"/sweep/design/points", "2,0.5;5,1.25;"}, {"/sweep/design/hash", "0"},    {"/sweep/size", 5},              {"/outputs/video", "avi"},
      {"/sweep/parameters/centers", 1}, {"/shard", 3},   {"/sweep/runs", "3:1"},
      {"/sweep/means", "on"},         {"/sweep/until", "settled:0"},   {"/sweep/measures", "like"},
      {"/sweep/measures", {1}}};
  for (const auto& [pointer, value] : cases) {
    nlohmann::json damaged = good;
    damaged[nlohmann::json::json_pointer(pointer)] = value;
    std::string field = std::string("request") + pointer;
    std::replace(field.begin(), field.end(), '/', '.');
    try {
      RequestFromJson(damaged);
      ADD_FAILURE() << pointer << " " << value.dump() << ": read";
    } catch (const DamagedJson& e) {
      EXPECT_EQ(field.rfind(e.field.substr(0, e.field.find('[')), 0), 0u) << pointer << ": " << e.what();
    }
  }
}

// Two spellings of one sweep are one sweep; otherwise the first difference is named, a
// parameter with the first run that has it.
TEST(Request, TheFirstDifferenceIsNamedWithBothValues) {
  const Request base = zelmora::testing::Small("o.csv");
  struct Case {
    std::function<void(Request&)> change;
    std::optional<Difference> expected;
  };
  const std::vector<Case> cases = {
      {[](Request& r) { Given(r, "threshold", 3); }, std::nullopt},  // the default, given
      {[](Request& r) { r.axes = {Axis::Listed(Index("threshold"), {3})}; }, std::nullopt},
      {[](Request& r) { r.design = DesignOf("agents\n200\n"); }, std::nullopt},
      {[](Request& r) { r.shardIndex = 1, r.shardCount = 2, r.jobs = 7, r.out = "elsewhere.csv"; }, std::nullopt},
      {[](Request& r) { r.seed = 4; }, Difference{"seed", std::nullopt, "3", "4"}},
      {[](Request& r) { r.repeats = 5; }, Difference{"runs", std::nullopt, "4", "5"}},
      {[](Request& r) { r.steps = 13; }, Difference{"steps", std::nullopt, "12", "13"}},
      {[](Request& r) { r.quietSteps = 1; }, Difference{"until", std::nullopt, "steps", "settled"}},
      {[](Request& r) { r.quietSteps = 20; }, Difference{"until", std::nullopt, "steps", "settled:20"}},
      {[](Request& r) { r.means = true; }, Difference{"means", std::nullopt, "off", "on"}},
      {[](Request& r) { r.measures = {"a", "b"}; }, Difference{"measures", std::nullopt, "none", "'a', 'b'"}},
      {[](Request& r) { r.runs = RunSelection({{1, 3}}), r.steps = 5; },
       Difference{"replay", std::nullopt, "every run", "runs 1:3"}},
      {[](Request& r) { Given(r, "centers", 0); }, Difference{"centers", 0, "on", "off"}},
      {[](Request& r) { r.axes = {Axis::Listed(Index("threshold"), {3, 3, 3, 4})}, r.repeats = 1; },
       Difference{"threshold", 3, "3", "4"}},
      {[](Request& r) { r.design = DesignOf("density,threshold\n0.5,3\n0.5,3\n0.5,3\n0.5,6\n"), r.repeats = 1; },
       Difference{"threshold", 3, "3", "6"}},
      // The structure at its defaults, given or not, is the window's model; the threshold's fact
      // as a percent is the same fact.
      {[](Request& r) { Given(r, "markets", 10), Given(r, "wrap", 1), Given(r, "relocation", 0); }, std::nullopt},
      {[](Request& r) { Given(r, "threshold_percent", 37); }, Difference{"threshold", 0, "3", "2.96"}},
      {[](Request& r) { Given(r, "relocation", 1); }, Difference{"relocation", 0, "nearby", "anywhere"}},
      {[](Request& r) { r.design = DesignOf("search-window\n10\n10\n10\n9\n"), r.repeats = 1; },
       Difference{"search_window", 3, "10", "9"}},
  };
  for (std::size_t k = 0; k < cases.size(); ++k) {
    Request other = base;
    cases[k].change(other);
    const auto found = FirstDifference(base, other);
    ASSERT_EQ(found.has_value(), cases[k].expected.has_value()) << k << ": " << (found ? found->name : "");
    if (!found) continue;
    EXPECT_EQ(found->name, cases[k].expected->name) << k;
    EXPECT_EQ(found->run, cases[k].expected->run) << k;
    EXPECT_EQ(found->kept, cases[k].expected->kept) << k;
    EXPECT_EQ(found->given, cases[k].expected->given) << k;
  }
}

// Every refusal says where the value was given and what is wrong, for a front end to word: the
// field or parameter, a list, a design's cell, the value as given.
TEST(Request, ValidationNamesWhereAndWhat) {
  struct Case {
    std::function<void(Request&)> change;
    Source source;
    std::string name;
    std::int64_t row;
    std::string value, reason;
  };
  const std::vector<Case> cases = {
      {[](Request& r) { r.steps = -1; }, Source::Field, "steps", 0, "-1", "expects a whole number"},
      {[](Request& r) { r.repeats = 0; }, Source::Field, "repeats", 0, "0", "expects a whole number from 1"},
      {[](Request& r) { r.shardIndex = 2, r.shardCount = 2; }, Source::Field, "shard", 0, "2/2", "0 <= I < N"},
      {[](Request& r) { r.pictures.snapshotAt = {13}; }, Source::Field, "snapshot_at", 0, "13", "from 0 to the steps"},
      {[](Request& r) { r.measures = {"a\"b"}; }, Source::Field, "measures", 0, "a\"b", "without commas, quotes"},
      {[](Request& r) { r.measures = {"moved_mean"}, r.means = true; }, Source::Field, "measures", 0, "moved_mean",
       "no column of the sweep's"},
      {[](Request& r) { r.measures = {"a", "b", "a"}; }, Source::Field, "measures", 0, "a", "each name once"},
      {[](Request& r) { Given(r, "threshold", 9); }, Source::Parameter, "threshold", 0, "9", "eighths from 0 to 8"},
      {[](Request& r) { Given(r, "density", 0.5); }, Source::Parameter, "agents", 0, "", "and {other} exclude"},
      {[](Request& r) { Given(r, "agents", 401); }, Source::Parameter, "agents", 0, "", "401 agents do not fit"},
      {[](Request& r) { r.axes = {Axis::Listed(Index("threshold"), {2, 2.5})}; }, Source::Set, "threshold", 0, "2.5",
       "expects a whole number"},
      {[](Request& r) { r.axes = {Axis::Listed(Index("threshold"), {})}; }, Source::Set, "threshold", 0, "",
       "at least one value"},
      {[](Request& r) { r.axes = {ParseAxis(Index("centers"), "on"), ParseAxis(Index("centers"), "off")}; },
       Source::Set, "centers", 0, "", "given twice"},
      {[](Request& r) { r.axes = {ParseAxis(Index("travel_expenses"), "1:1000:1")}; }, Source::Set, "travel_expenses",
       0, "", "run 1472: production costs 100, travel expenses 369"},
      {[](Request& r) { r.design = DesignOf("agents\n10\n402\n"); }, Source::Design, "agents", 2, "",
       "run 4: 402 agents do not fit"},
      {[](Request& r) { r.design = DesignOf("threshold\n1\n"), r.axes = {ParseAxis(Index("threshold"), "2")}; },
       Source::Design, "threshold", 0, "", "is also varied by {other}"},
      {[](Request& r) { r.design = Design{{Index("centers")}, {"centers"}, Values({1, 3}), 2, "", false}; },
       Source::Design, "centers", 2, "3", "expects on or off"},
      // Too many runs is refused before a value is looked at, naming the factor that passes the limit.
      {[](Request& r) { r.axes = {Axis::Progression(Index("threshold"), 0, 1, MaxRuns, 0)}; }, Source::Field, "repeats",
       0, "4", "more than 1000000000 runs"},
      {[](Request& r) { r.axes = {Axis::Progression(Index("threshold"), 0, 1, MaxRuns + 1, 0)}; }, Source::Set,
       "threshold", 0, "", "more than 1000000000 runs"},
      {[](Request& r) { r.design = Design{{Index("centers")}, {"centers"}, Values({}), MaxRuns + 1, "", false}; },
       Source::Field, "design", 0, "", "more than 1000000000 runs"},
      {[](Request& r) { r.out = "x.txt"; }, Source::Field, "out", 0, "x.txt", "ending in .csv"},
      {[](Request& r) { Given(r, "radius", 6); }, Source::Parameter, "radius", 0, "6", "cells from 1 to 5"},
      {[](Request& r) { Given(r, "relocation", 2); }, Source::Parameter, "relocation", 0, "", "nearby, anywhere"},
      {[](Request& r) { Given(r, "threshold", 3), Given(r, "threshold_percent", 40); }, Source::Parameter, "threshold",
       0, "", "and {other}"},
      {[](Request& r) { Given(r, "grid_cols", 10), Given(r, "agents", 50), r.axes = {ParseAxis(Index("radius"), "1:5:1")}; },
       Source::Set, "radius", 0, "", "run 16: a neighbourhood of radius 5 spans 11 cells, more than a side of the 10 x 20 grid"},
      {[](Request& r) { Given(r, "threshold", 3), r.design = DesignOf("threshold_percent\n40\n"); }, Source::Design,
       "threshold_percent", 0, "", "and {other}"},
      {[](Request& r) { r.out = std::string(250, 'a') + ".csv"; }, Source::Field, "out", 0, "", "shorter name"},
  };
  for (std::size_t k = 0; k < cases.size(); ++k) {
    Request request = zelmora::testing::Small("o.csv");
    cases[k].change(request);
    try {
      Validate(request);
      ADD_FAILURE() << k << ": valid";
    } catch (const RequestError& e) {
      EXPECT_EQ(e.source, cases[k].source) << k << ": " << e.what();
      EXPECT_EQ(e.name, cases[k].name) << k << ": " << e.what();
      EXPECT_EQ(e.row, cases[k].row) << k << ": " << e.what();
      if (!cases[k].value.empty()) {
        EXPECT_EQ(e.value, cases[k].value) << k << ": " << e.what();
      }
      EXPECT_NE(e.reason.find(cases[k].reason), std::string::npos) << k << ": " << e.what();
    }
  }
}

// The structure's parameters came after sweeps were first recorded: at the window's model they are
// left out of the sweep's JSON, given at the default or not, so such a sweep keeps its bytes.
TEST(Request, TheStructureIsWrittenOnlyWhereItIsNotTheWindowsModel) {
  const nlohmann::json plain = SweepJson(zelmora::testing::Small("o.csv"), 1);
  struct Case {
    const char* name;
    double value;
    bool written;
  };
  const std::vector<Case> cases = {
      {"markets", 10, false}, {"markets", 0, true},          {"radius", 1, false},  {"radius", 2, true},
      {"search_window", 10, false}, {"search_window", 3, true}, {"wrap", 1, false}, {"wrap", 0, true},
      {"relocation", 0, false}, {"relocation", 1, true},    {"threshold_percent", 37, true},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(plain["parameters"].contains(c.name)) << c.name;
    Request given = zelmora::testing::Small("o.csv");
    Given(given, c.name, c.value);
    const nlohmann::json json = SweepJson(given, 1);
    EXPECT_EQ(json["parameters"].contains(c.name), c.written) << c.name << " " << c.value;
    EXPECT_EQ(json == plain, !c.written) << c.name << " " << c.value;
    const Request back = RequestFromJson(RequestJson(given, 1));
    EXPECT_EQ(RunAt(back, 1, 0).parameters, RunAt(given, 1, 0).parameters) << c.name;
  }
}

// A range's values are those its decimal text names, however long it is.
TEST(Request, RangesAreExactAndCounted) {
  struct Case {
    const char* parameter;
    const char* list;
    std::vector<double> values;
  };
  const std::vector<Case> cases = {
      {"threshold", "1:7:1", {1, 2, 3, 4, 5, 6, 7}},
      {"returns_to_scale", "0.9:1.1:0.1", {0.9, 1, 1.1}},
      {"travel_expenses", "0:1:0.3", {0, 0.3, 0.6, 0.9}},
      {"production_costs", "5:5:1", {5}},
      {"centers", "on,off", {1, 0}},
      {"density", "0.5", {0.5}},
  };
  for (const Case& c : cases) {
    const Axis axis = ParseAxis(Index(c.parameter), c.list);
    std::vector<double> values;
    for (std::int64_t k = 0; k < axis.Size(); ++k) values.push_back(axis.At(k));
    EXPECT_EQ(values, c.values) << c.list;
  }
  for (const char* bad : {"1:7", "1:7:0", "7:1:1", "1::1", "a:b:c", "1,,2", ",", "1:2:3:4", "1e1:2e1:1"}) {
    EXPECT_THROW(ParseAxis(Index("travel_expenses"), bad), RequestError) << bad;
  }
  // A choice's values are its names: no numbers, no ranges.
  EXPECT_EQ(ParseAxis(Index("relocation"), "anywhere,nearby").listed, (std::vector<double>{1, 0}));
  for (const char* bad : {"0:1:1", "1", "nearby,", "far"}) EXPECT_THROW(ParseAxis(Index("relocation"), bad), RequestError) << bad;
  const Axis huge = ParseAxis(Index("travel_expenses"), "0:999999.999999:0.000001");
  EXPECT_EQ(huge.Size(), 1'000'000'000'000);
  EXPECT_EQ(huge.At(123'456'789), 123.456789);
  EXPECT_EQ(huge.RangeText(), "0:999999.999999:0.000001");
}

// The rules are checked on the corners of the runs' box, not run by run: random sweeps of lists in
// any order, ranges, a design and repeats are refused naming the very run a walk of every run
// finds first, or pass where it finds none. A request whose last runs break a rule is refused
// without walking its billion runs.
TEST(Request, TheFirstRunThatBreaksARuleIsTheOneAWalkFinds) {
  std::mt19937 random(7);
  const auto pick = [&](std::initializer_list<const char*> lists) {
    std::vector<const char*> all(lists);
    return all[std::uniform_int_distribution<std::size_t>(0, all.size() - 1)(random)];
  };
  for (int trial = 0; trial < 300; ++trial) {
    Request r = zelmora::testing::Small("o.csv", 20, 200, 12, 5, 1 + trial % 3);
    std::vector<std::pair<const char*, const char*>> axes = {
        {"production_costs", pick({"100", "9000,100,5000", "0:9990:1110", "4000:9000:2500"})},
        {"travel_expenses", pick({"1", "300,2,250", "0:400:100"})},
        {"returns_to_scale", pick({"1", "0.2,1.1,0.5", "0.1:1.3:0.6"})},
        {"grid_cols", pick({"20", "10,40,20", "10:40:15"})},
        {"radius", pick({"1", "5,1", "1:5:2"})}};
    std::shuffle(axes.begin(), axes.end(), random);
    for (const auto& [name, list] : axes) {
      if (random() % 2) r.axes.push_back(ParseAxis(Index(name), list));
    }
    if (random() % 3 == 0) r.design = DesignOf(pick({"agents\n10\n300\n150\n", "grid_rows,agents\n10,100\n40,900\n"}));
    std::optional<std::int64_t> walked;
    for (std::int64_t index = 0; index < SweepSize(r) && !walked; ++index) {
      if (CheckRules(RunAt(r, 0, index).parameters)) walked = index;
    }
    std::optional<std::string> refused;
    try {
      Validate(r);
    } catch (const RequestError& e) {
      refused = e.reason;
    }
    SCOPED_TRACE(::testing::Message() << "trial " << trial << ": " << RequestJson(r, 0)["sweep"].dump());
    ASSERT_EQ(refused.has_value(), walked.has_value()) << refused.value_or("valid");
    if (walked && SweepSize(r) > 1) {
      EXPECT_EQ(refused->rfind("run " + std::to_string(*walked) + ": ", 0), 0u) << *refused;
    }
  }
  Request r = zelmora::testing::Small("o.csv", 40, 800, 12, 5, 1);
  r.axes = {ParseAxis(Index("production_costs"), "0:999999:1"), ParseAxis(Index("travel_expenses"), "0:0.999:0.001")};
  try {
    Validate(r);
    ADD_FAILURE() << "valid";
  } catch (const RequestError& e) {
    EXPECT_EQ(e.reason.rfind("run 9944998: production costs 9944, travel expenses 0.998 ", 0), 0u) << e.reason;
  }
}

// A design is its points: the same points in other bytes (line ends, quotes, names with dashes, an
// index, TRUE for on) are the same design; another value is another one.
TEST(Request, ADesignsHashIsOfItsPoints) {
  const std::string hash = DesignHash(DesignOf("threshold,centers\n2,on\n5,off\n"));
  for (const char* same : {"threshold,centers\r\n2,on\r\n5,off\r\n", "\"threshold\",\"centers\"\n2,TRUE\n5,FALSE\n\n",
                           ",threshold,centers\n1,2,1\n2,5,0\n"}) {
    EXPECT_EQ(DesignHash(DesignOf(same)), hash) << same;
  }
  EXPECT_NE(DesignHash(DesignOf("threshold,centers\n2,on\n6,off\n")), hash);
}

}  // namespace
}  // namespace zelmora::sweep
