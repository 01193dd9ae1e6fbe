// docs/MODEL.md against the model: its list of a step's phases against the order an instrumented
// step shows, and its table of parameters against the parameters the program takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "sweep/ParameterTable.h"
#include "simulation/World.h"

namespace zelmora {
namespace {

std::vector<std::string> DocumentLines() {
  std::ifstream file(ZELMORA_MODEL_DOCUMENT);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

// The lines under `heading` up to the next heading of its level or a higher one; none where the
// document has no such heading.
std::vector<std::string> Section(const std::string& heading) {
  const std::vector<std::string> lines = DocumentLines();
  const std::size_t level = heading.find(' ');
  auto line = std::find(lines.begin(), lines.end(), heading);
  if (line == lines.end()) return {};
  std::vector<std::string> section;
  for (++line; line != lines.end(); ++line) {
    const std::size_t hashes = line->find_first_not_of('#');
    if (hashes != std::string::npos && hashes > 0 && hashes <= level && (*line)[hashes] == ' ') break;
    section.push_back(*line);
  }
  return section;
}

// The items of the first numbered list of a section, each with its indented continuation lines;
// an item numbered out of turn ends the list where it stands, so the comparison shows it.
std::vector<std::string> NumberedItems(const std::vector<std::string>& section) {
  std::vector<std::string> items;
  for (const std::string& line : section) {
    // "N. text": digits, a full stop and a space at the line's start.
    const std::size_t digits = line.find_first_not_of("0123456789");
    if (digits != 0 && digits != std::string::npos && line.compare(digits, 2, ". ") == 0) {
      if (std::stoul(line.substr(0, digits)) != items.size() + 1) break;
      items.push_back(line.substr(digits + 2));
    } else if (!items.empty() && line.rfind("   ", 0) == 0) {
      items.back() += " " + line.substr(line.find_first_not_of(' '));
    } else if (!items.empty()) {
      break;
    }
  }
  return items;
}

// The first `code` of a text: the operation a phase item names, or a parameter a row names.
std::string FirstCode(const std::string& text) {
  const std::size_t open = text.find('`');
  const std::size_t close = open == std::string::npos ? open : text.find('`', open + 1);
  return close == std::string::npos || close == open + 1 ? "" : text.substr(open + 1, close - open - 1);
}

// What a step shows of itself, as the names of the World's operations that make it. Each read of a
// parameter and each call on the view is put down to the phase that makes it, and each change of
// the World seen at such a moment to the phase that makes that kind of change; repeats are one
// entry. A move is the relocation's when the agent moving is unsatisfied, look for centers' when
// it is satisfied. Changes of two kinds seen at once are noted as such: the order between them
// cannot be told, so no document's list can match them.
class StepRecorder : public ModelSettings, public WorldView {
 public:
  void Watch(const World& world) {
    world_ = &world;
    seen_ = Look();
    phases_.clear();
  }
  std::vector<std::string> Phases() const {
    NoteChanges();
    return phases_;
  }

  double ReturnsToScale() const override { return Read("ComputeUnitCosts", returnsToScale); }
  double ProductionCost() const override { return Read("ComputeUnitCosts", productionCost); }
  double TravelCost() const override { return Read("ComputeLocalPrices", travelCost); }
  double ThresholdPercent() const override { return Read("EvaluateSegregation", thresholdPercent); }
  // The switches are the step's, read whether or not their phase then runs; their phases show
  // themselves by what they read and change.
  bool PriceScapeShown() const override { return Read("", priceScape); }
  bool SegregationActive() const override { return Read("", segregation); }
  bool LookForCentersActive() const override { return Read("", lookForCenters); }
  bool CatchmentShown() const override { return Read("", showCatchment); }
  std::string AgentCountText() const override { return Read("CreateAgents", agentCount); }

  void DrawCell(const TCell& cell, bool) override {
    const std::int32_t mover = Leaving(cell);
    Note(mover < 0 ? "RedrawCells" : MovePhase(mover));
  }
  void DrawAgent(const TAgent&) override { Note("DrawAgents"); }
  void ClearChart() override { Note("ResetWorld"); }
  void ResetChartRange() override { Note("NewSetup"); }
  void ShowStepCount(int) override { Note("CountStep"); }
  void FeedChart(const ChartPoint&) override { Note("FeedChart"); }

 private:
  struct State {
    std::vector<double> unitCosts, prices;
    std::vector<std::int32_t> catchments, greys, places;
    std::vector<bool> flags;
    std::int32_t steps = 0;
  };

  State Look() const {
    State s;
    for (const MarketPosition& m : world_->Markets) s.unitCosts.push_back(world_->grid.At(m.col, m.row).unitCost);
    for (const TCell& cell : world_->grid.Cells()) {
      s.prices.push_back(cell.localPrice);
      s.catchments.push_back(cell.catchment);
      s.greys.push_back(cell.grey);
    }
    for (const TAgent& agent : world_->Agents) {
      s.places.push_back(agent.row * world_->GridCols + agent.col);
      s.flags.push_back(agent.satisfied);
    }
    s.steps = world_->StepCount;
    return s;
  }

  const char* MovePhase(std::size_t agent) const {
    return world_->Agents[agent].satisfied ? "LookForCenters" : "RelocateUnsatisfied";
  }

  // The agent whose move is leaving this cell: a move frees the cell and paints it before the
  // agent takes its new place, while between phases a free cell never has an agent on it.
  std::int32_t Leaving(const TCell& cell) const {
    if (world_ == nullptr || cell.occupied) return -1;
    const auto index = std::int32_t(&cell - world_->grid.Cells().data());
    const std::size_t agent = std::size_t(cell.occupant);
    if (agent >= world_->Agents.size()) return -1;
    const TAgent& a = world_->Agents[agent];
    return a.row * world_->GridCols + a.col == index ? std::int32_t(agent) : -1;
  }

  void NoteChanges() const {
    if (world_ == nullptr) return;
    const State now = Look();
    std::set<std::string> kinds;
    if (now.unitCosts != seen_.unitCosts) kinds.insert("ComputeUnitCosts");
    if (now.prices != seen_.prices || now.catchments != seen_.catchments) kinds.insert("ComputeLocalPrices");
    if (now.greys != seen_.greys) kinds.insert("ShowPriceScape");
    if (now.flags != seen_.flags) kinds.insert("EvaluateSegregation");
    if (now.steps != seen_.steps) kinds.insert("CountStep");
    if (now.places.size() == seen_.places.size()) {
      for (std::size_t i = 0; i < now.places.size(); ++i) {
        if (now.places[i] != seen_.places[i]) kinds.insert(MovePhase(i));
      }
    }
    seen_ = now;
    std::string together;
    for (const std::string& kind : kinds) together += (together.empty() ? "" : " and ") + kind;
    if (!together.empty()) Append(together);
  }

  template <class T>
  T Read(const char* phase, T value) const {
    Note(phase);
    return value;
  }

  void Note(const std::string& phase) const {
    NoteChanges();
    if (world_ != nullptr && !phase.empty()) Append(phase);
  }

  void Append(const std::string& phase) const {
    if (phases_.empty() || phases_.back() != phase) phases_.push_back(phase);
  }

  const World* world_ = nullptr;
  mutable State seen_;
  mutable std::vector<std::string> phases_;
};

// The document's list of a step's phases: the operation each item names, and whether it says
// that the phase runs only while a switch is on.
struct DocumentedPhase {
  std::string operation;
  bool conditional = false;
};

std::vector<DocumentedPhase> DocumentedPhases() {
  std::vector<DocumentedPhase> phases;
  for (const std::string& item : NumberedItems(Section("#### The phases of a step"))) {
    phases.push_back({FirstCode(item), item.find("only while") != std::string::npos});
  }
  return phases;
}

// The phases of one step after a few steps of warm-up, so that agents are unsatisfied and prices
// move (returns to scale of 1.1); the switches for the step are the case's.
std::vector<std::string> StepPhases(bool plain, const std::function<void(ModelSettings&)>& switches) {
  StepRecorder recorder;
  recorder.agentCount = "200";
  recorder.returnsToScale = 1.1;
  World world(recorder, recorder);
  std::uint64_t seed = 5;
  world.SetSeedSource([seed]() mutable { return seed++; });
  world.UsePlainPhases(plain);
  world.SizeGrid(200, 200);
  world.CreateGrid();
  world.CreateAgents();
  for (int step = 0; step < 3; ++step) world.SimulationStep();
  recorder.priceScape = true;
  switches(recorder);
  recorder.Watch(world);
  world.SimulationStep();
  return recorder.Phases();
}

// Each switch of a phase off, and none: the step runs the document's phases in its order, less
// exactly those the document says run only while a switch is on, on the plain and the fast path.
TEST(ModelDocument, ListsThePhasesOfAStepInTheOrderTheyRun) {
  const std::vector<DocumentedPhase> documented = DocumentedPhases();
  ASSERT_FALSE(documented.empty()) << "docs/MODEL.md has no numbered list under '#### The phases of a step'";
  const struct {
    const char* off;  // the phase the case switches off
    void (*apply)(ModelSettings&);
  } cases[] = {
      {"", [](ModelSettings&) {}},
      {"ShowPriceScape", [](ModelSettings& s) { s.priceScape = false; }},
      {"EvaluateSegregation", [](ModelSettings& s) { s.segregation = false; }},
      {"LookForCenters", [](ModelSettings& s) { s.lookForCenters = false; }},
  };
  std::set<std::string> switched;
  for (const auto& c : cases) {
    if (*c.off != '\0') switched.insert(c.off);
    std::vector<std::string> expected;
    for (const DocumentedPhase& phase : documented) {
      if (phase.operation != c.off) expected.push_back(phase.operation);
    }
    for (const bool plain : {true, false}) {
      EXPECT_EQ(StepPhases(plain, c.apply), expected)
          << (plain ? "plain" : "fast") << " step" << (*c.off ? " without " : "") << c.off;
    }
  }
  for (const DocumentedPhase& phase : documented) {
    EXPECT_EQ(phase.conditional, switched.count(phase.operation) == 1)
        << phase.operation << ": the document says it runs " << (phase.conditional ? "only while on" : "always");
  }
}

// The cells of a table's row, "| a | b |" giving "a" and "b", blanks trimmed.
std::vector<std::string> RowCells(const std::string& line) {
  std::vector<std::string> cells;
  std::size_t start = line.find('|');
  for (std::size_t end; start != std::string::npos && (end = line.find('|', start + 1)) != std::string::npos;
       start = end) {
    const std::string cell = line.substr(start + 1, end - start - 1);
    const std::size_t first = cell.find_first_not_of(' ');
    cells.push_back(first == std::string::npos ? "" : cell.substr(first, cell.find_last_not_of(' ') - first + 1));
  }
  return cells;
}

// A parameter as the command line spells it, whichever spelling a list uses.
std::string Spelled(std::string name) {
  std::replace(name.begin(), name.end(), '_', '-');
  return name;
}

TEST(ModelDocument, DescribesEveryParameterAndNamesNoOther) {
  std::set<std::string> known;
  for (const sweep::ParameterRow& row : sweep::Parameters) known.insert(Spelled(std::string(row.name)));
  ASSERT_FALSE(known.empty());
  std::set<std::string> described;
  for (const std::string& line : Section("### Parameters")) {
    if (line.rfind("| `", 0) != 0) continue;
    const std::vector<std::string> cells = RowCells(line);
    const std::string name = Spelled(FirstCode(cells.front()));
    EXPECT_TRUE(described.insert(name).second) << name << " is described twice";
    EXPECT_TRUE(known.count(name)) << "the document describes '" << name << "', which is no parameter";
    EXPECT_TRUE(cells.size() >= 2 && !cells.back().empty()) << name << " has no description";
  }
  for (const std::string& name : known) {
    EXPECT_TRUE(described.count(name)) << "the parameter '" << name << "' is not described in docs/MODEL.md";
  }
}

}  // namespace
}  // namespace zelmora
