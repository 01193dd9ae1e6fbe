// With the copy check on, a cell or agent field written without World::CellsEdited() stops the
// next fast phase, and the next measure, with one line naming what differs.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "simulation/Measures.h"
#include "simulation/World.h"
#include "tests/simulation/WorldFixture.h"

namespace zelmora {
namespace {

using testing::SeededWorld;

struct ForgottenEdit {
  const char* name;
  std::function<std::string(World&)> edit;  // returns what the message must name
  void (World::*phase)();
};

// The first occupied cell away from every market, and its agent.
TCell& SomeCell(World& w) {
  for (TCell& c : w.grid.Cells()) {
    if (c.occupied && !c.isMarket) return c;
  }
  return w.grid.Cells().front();
}

std::string CellAt(const World& w, const TCell& c) {
  const std::size_t k = std::size_t(&c - w.grid.Cells().data());
  return "cell (" + std::to_string(k % std::size_t(w.GridCols)) + ", " + std::to_string(k / std::size_t(w.GridCols)) + ")";
}

const ForgottenEdit kEdits[] = {
    {"Occupied", [](World& w) { TCell& c = SomeCell(w); c.occupied = false; return CellAt(w, c) + " no longer agrees with the fast phases' copy of its occupied"; },
     &World::RelocateUnsatisfied},
    {"State", [](World& w) { TCell& c = SomeCell(w); c.SetState(1 - c.State()); return CellAt(w, c) + " no longer agrees with the fast phases' copy of its State"; },
     &World::EvaluateSegregation},
    {"Occupant", [](World& w) { TCell& c = SomeCell(w); c.occupant += 1; return CellAt(w, c) + " no longer agrees with the fast phases' copy of its occupant"; },
     &World::EvaluateSegregation},
    {"Catchment", [](World& w) { TCell& c = SomeCell(w); c.catchment = (c.catchment + 1) % MarketCount; return CellAt(w, c) + " no longer agrees with the fast phases' copy of its catchment"; },
     &World::ComputeLocalPrices},
    {"LocalPrice", [](World& w) { TCell& c = SomeCell(w); c.localPrice -= 1.0; return CellAt(w, c) + " no longer agrees with the fast phases' copy of its localPrice"; },
     &World::LookForCenters},
    {"FirstCellsPrice", [](World& w) { w.grid.At(0, 0).localPrice += 1600; return std::string("cell (0, 0) no longer agrees with the fast phases' copy of its localPrice"); },
     &World::ShowPriceScape},
    {"Counts", [](World& w) { TCell& c = SomeCell(w); c.sameNeighbours = (c.sameNeighbours + 1) % 9; return CellAt(w, c) + " no longer agrees with the fast phases' copy of its sameNeighbours"; },
     &World::EvaluateSegregation},
    {"MarketDistance", [](World& w) { TCell& c = SomeCell(w); c.marketDistance[3] += 0.5; return CellAt(w, c) + " no longer agrees with the fast phases' copy of its marketDistance"; },
     &World::ComputeLocalPrices},
    {"AgentPlace", [](World& w) { w.Agents[2].col = (w.Agents[2].col + 1) % w.GridCols; return std::string("agent 2 no longer agrees with the fast phases' copy of its col or row"); },
     &World::RelocateUnsatisfied},
    {"AgentFlag", [](World& w) { w.Agents[3].satisfied = !w.Agents[3].satisfied; return std::string("agent 3 no longer agrees with the fast phases' copy of its satisfied"); },
     &World::LookForCenters},
    {"AgentShade", [](World& w) { w.Agents[4].shade = 17; return std::string("agent 4 no longer agrees with the fast phases' copy of its shade"); },
     &World::ComputeLocalPrices},
};

void PrintTo(const ForgottenEdit& e, std::ostream* os) { *os << e.name; }

class ForgottenCellsEdited : public ::testing::TestWithParam<ForgottenEdit> {};

// The edit's phase, or a Measurer, which reads the copies too; and the phase in a shape whose
// accelerators take their general paths (a wider neighbourhood on a bounded grid, another window,
// relocation anywhere), whose copies are checked alike.
TEST_P(ForgottenCellsEdited, StopsTheNextFastPhaseAndMeasureNamingTheField) {
  const ModelShape general{.radius = 2, .windowHalfWidth = 4, .torus = false, .relocateAnywhere = true};
  for (const int route : {0, 1, 2}) {
    const bool measure = route == 1;
    for (const bool tell : {false, true}) {
      SeededWorld s(3, 30, 20);
      s.world.CheckCopiesEveryPhase(true);
      s.settings.returnsToScale = 1.2;
      if (route == 2) s.settings.shape = general;
      s.Start("300");
      for (int step = 0; step < 3; ++step) s.world.SimulationStep();
      Measurer measurer(s.settings.thresholdPercent);
      const auto next = [&] { measure ? void(measurer.Measure(s.world)) : (s.world.*GetParam().phase)(); };
      const std::string expected = GetParam().edit(s.world);
      if (tell) {
        s.world.CellsEdited();  // said: the phases make their copies afresh and go on
        EXPECT_NO_THROW(next());
        continue;
      }
      try {
        next();
        ADD_FAILURE() << "no CopiesStale" << (measure ? " from the measure" : "");
      } catch (const CopiesStale& e) {
        EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
        EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos) << "one line";
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fields, ForgottenCellsEdited, ::testing::ValuesIn(kEdits),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zelmora
