#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "simulation/Agent.h"
#include "simulation/Cell.h"
#include "simulation/CentersFast.h"
#include "simulation/CopyCheck.h"
#include "simulation/DistanceTable.h"
#include "simulation/FreeCells.h"
#include "simulation/LargePageAllocator.h"
#include "simulation/ModelPorts.h"
#include "simulation/ModelShape.h"
#include "simulation/ModelState.h"
#include "simulation/MoveLog.h"
#include "simulation/OccupancyCopy.h"
#include "simulation/Places.h"
#include "simulation/PricesFast.h"
#include "simulation/Random.h"
#include "simulation/SegregationFast.h"

namespace zelmora {

// The whole state of the simulation and the phases that change it. The window owns one, calls its
// operations from its handlers, and lends it the inputs it reads and the view it draws on.
class World {
 public:
  static constexpr std::int32_t CellPitch = 10;      // pixels per cell, both ways
  static constexpr std::int32_t MinGridSize = 10;    // the search window needs 10 cells a side
  static constexpr double PriceCeiling = zelmora::PriceCeiling;  // a delivered price is taken only below it
  static constexpr int RelocationTries = 100;        // per unsatisfied agent and step
  static constexpr int CenterTries = 10;             // per satisfied agent and step
  static constexpr std::size_t DrawAheadCells = zelmora::DrawAheadCells;

  explicit World(const ModelInputs& inputs);
  World(const ModelInputs& inputs, WorldView& view);

  TGrid grid;                  // the cells; created once by CreateGrid, reused by every setup
  std::vector<TAgent> Agents;  // owned; an agent's index is its identity. Replaced at each setup
  std::int32_t GridCols = 0;   // from the panel width, fixed after the grid is sized
  std::int32_t GridRows = 0;
  // Drawn by ResetWorld; may coincide. Only the first Shape().markets exist; the others hold
  // (0, 0) and no phase reads them.
  std::array<MarketPosition, MarketCount> Markets{};
  std::int32_t StepCount = 0;       // steps since the last setup; stops at its maximum
  std::int32_t SatisfiedCount = 0;  // written by RelocateUnsatisfied
  std::int32_t MovedCount = 0;      // written by RelocateUnsatisfied: unsatisfied agents, moved or not
  // Moves made since RelocateUnsatisfied last started, by either relocation phase or MoveAgent;
  // every move, plain or fast, is counted where the agent takes its new place (TakePlace).
  std::int32_t MovesMade = 0;
  std::int32_t SweepCount = 0;      // chart sweeps, written by FeedChart
  double LastCustomers = 0.0;       // previous chart point; 0 after every reset
  double LastBidPrice = 0.0;        // previous chart point; kept across setups
  std::int64_t CandidatesDrawn = 0;  // candidate cells drawn by the relocation phases, ever

  // Replaces the clock as the source of the generator's seeds (tests, benchmarks).
  void SetSeedSource(std::function<std::uint64_t()> source) { seedSource_ = std::move(source); }
  void SetView(WorldView& view) { view_ = &view; }
  // The generator as it stands, for tests that replay a phase by hand.
  Random& Generator() { return random_; }

  // The phases run their fast paths unless told to run the plain ones, the straightforward
  // reference that the fast paths must match exactly (docs/DESIGN.md).
  void UsePlainPhases(bool plain) {
    plainPhases_ = plain;
    InvalidateCopies();
  }
  bool PlainPhases() const { return plainPhases_; }
  // The shape of the model (ModelShape.h), taken from the inputs at the last setup.
  const ModelShape& Shape() const { return shape_; }
  // The accelerators keep copies of the cells' and agents' state. Whoever writes TCell or TAgent
  // fields other than through the World's operations calls this before the next phase; the
  // copies are then made afresh from the cells.
  void CellsEdited() { InvalidateCopies(); }
  // With the check on, every fast phase first holds each accelerator to the cells and agents
  // (CheckCopies), and so does a Measurer before it reads them. Off by default, so that a step
  // costs what changed; debug and sanitizer builds (ZELMORA_CHECK_COPIES) start with it on.
  void CheckCopiesEveryPhase(bool check) { checkCopies_ = check; }
  bool ChecksCopies() const { return checkCopies_; }
  // Throws CopiesStale, naming the first cell or agent and its field, where a current
  // accelerator no longer agrees with the cells and agents: a field written without CellsEdited.
  // Does nothing while none is current.
  void CheckCopies() const;

  // What readers other than the phases ask (measures, the batch program, the Python module).
  // Between phases every field of every cell and agent is the model's state, whichever path ran;
  // these answer the same either way too, from an accelerator where it is current, otherwise
  // from the cells and agents (docs/DESIGN.md, "What is current when").
  // Agents whose `satisfied` is false.
  std::int64_t UnsatisfiedAgents() const;
  // The sum of every cell's `localPrice`, row-major in detail::SumInLanes' order.
  double LocalPriceSum() const;
  // Which state the cells hold. Equal versions mean that nothing of that state changed in
  // between; a version the World cannot vouch for (after a plain phase or CellsEdited, until a
  // fast phase makes its copies again) equals none.
  struct Version {
    std::uint64_t copy = 0;  // the occupancy copy's identity; 0 where none is current
    std::uint64_t changes = 0;
    bool operator==(const Version& other) const {
      return copy != 0 && copy == other.copy && changes == other.changes;
    }
  };
  // Every cell's occupied, State and occupant.
  Version OccupancyVersion() const;
  // Every cell's localPrice.
  Version PricesVersion() const;
  // The moves made since `since` (an OccupancyVersion), in order, with the prices of their cells;
  // null where the World cannot say (after a setup or CellsEdited, moves it did not keep): the
  // reader then measures afresh. Kept from a reader's first ask on (MoveLog).
  std::optional<std::span<const AgentMove>> MovesSince(const Version& since) const;
  // The occupancy, row-major: 0 for a free cell, 1 + the colour of its agent. The copy kept
  // where it is current, otherwise `scratch` filled from the agents.
  const std::uint8_t* Occupancy(std::vector<std::uint8_t>& scratch) const;
  // Every cell's localPrice, row-major: the copy kept where current, otherwise `scratch` filled
  // from the cells.
  const double* LocalPrices(std::vector<double>& scratch) const;
  // Every cell's neighbour counts, row-major, packed as detail::PackCounts packs them
  // (detail::UnknownCounts where a count is not 0..8): the copy kept where current, otherwise
  // `scratch` filled from the cells.
  const std::uint8_t* PackedCounts(std::vector<std::uint8_t>& scratch) const;
  // The reset's table of distances, for the grid's size once it is reset.
  const DistanceTable& Distances() const { return distances_; }
  // The model's state as the accelerators' checks read it.
  ModelState State() const { return {grid, Agents, Markets, shape_, distances_}; }

  // Grid size from the drawing panel: Round(size / CellPitch), halves to even. Throws
  // std::invalid_argument below MinGridSize cells either way.
  void SizeGrid(std::int32_t panelWidth, std::int32_t panelHeight);

  void CreateGrid();
  void ResetWorld();
  // The part of a reset after the markets are drawn: cells reset, distances and nearest-market
  // catchments, cells drawn, market cells marked, chart cleared. Uses the current Markets.
  void ResetCells();
  void ComputeMarketDistances(std::int32_t col, std::int32_t row);
  static double GridDistance(std::int32_t col1, std::int32_t row1, std::int32_t col2, std::int32_t row2);
  // Adds or subtracts the size once: callers stay within one side of the grid.
  void WrapToTorus(std::int32_t& col, std::int32_t& row) const {
    col += GridCols * ((col < 0) - (col > GridCols - 1));
    row += GridRows * ((row < 0) - (row > GridRows - 1));
  }

  void CreateAgents();
  void PlaceAgents();

  // A given configuration instead of a drawn one (Configure.cpp). Each checks all it is given
  // first and throws std::invalid_argument, changing nothing, for a place off the grid, a colour
  // other than 0 or 1, or two agents on one cell. Afterwards cells, agents and markets agree and
  // the fast phases' copies are made afresh at the next phase; the step count stays.
  // The markets at the given cells, as a reset places drawn ones; the agents stay where they are.
  // Only the first Shape().markets are read: the others do not exist.
  void SetMarkets(const std::array<MarketPosition, MarketCount>& markets);
  // A new agent list, agent i at places[i], satisfied, as a setup places drawn ones.
  void SetAgents(const std::vector<AgentPlace>& places);

  void ComputeUnitCosts();
  void ComputeLocalPrices();
  void MoveCustomer(TCell& cell, std::int32_t oldMarket);

  void CountNeighbours(std::int32_t col, std::int32_t row);
  void EvaluateSegregation();

  void RelocateUnsatisfied();
  void LookForCenters();
  void MoveAgent(std::int32_t i, std::int32_t newCol, std::int32_t newRow);

  void ShowPriceScape();  // grey levels from local prices; paints nothing
  void GrayCells();       // every grey level back to 180; paints nothing
  void RedrawCells();
  void DrawAgents();

  // The chart's point of the step, from the yellow market and the previous point, handed to the
  // view. Writes SweepCount, LastCustomers and LastBidPrice.
  void FeedChart();

  void SimulationStep();
  // "new Setup": counters, agents, markets, cells and chart start again on the same grid, in the
  // shape the inputs give now. A shape the grid cannot hold (CheckShape) throws
  // std::invalid_argument before anything changes; a SetupError from the agent count leaves the
  // World reset but without agents.
  void NewSetup();

  TCell& MarketCell(int market) { return grid.At(Markets[market].col, Markets[market].row); }
  TCell& CellOf(const TAgent& agent) { return grid.At(agent.col, agent.row); }

 private:
  // A candidate of the search window: offsets -w..w-1, column first, wrapped on the torus
  // however far the window reaches. False where it falls off a bounded grid: a failed try.
  bool DrawCandidate(Random& random, const TAgent& agent, std::int32_t& col, std::int32_t& row) const {
    const std::int32_t w = shape_.windowHalfWidth;
    std::uint32_t dc, dr;
    random.BelowTwice(std::uint32_t(2 * w), dc, dr);
    col = agent.col + std::int32_t(dc) - w;
    row = agent.row + std::int32_t(dr) - w;
    return OnGrid(col, row);
  }
  // The candidate as the fast phases draw it: the window of the shapes their Handles rules admit
  // (offsets -10..+9 on the torus), wrapped by one add or subtract.
  void DrawWindowCandidate(Random& random, const TAgent& agent, std::int32_t& col, std::int32_t& row) const {
    std::uint32_t dc, dr;
    random.BelowTwice(20, dc, dr);
    col = agent.col + std::int32_t(dc) - 10;
    row = agent.row + std::int32_t(dr) - 10;
    WrapToTorus(col, row);
  }
  // Wraps a place on the torus (by the remainder, so from any distance; only a place off the
  // grid pays the division); on a bounded grid, says whether it lies on the grid.
  bool OnGrid(std::int32_t& col, std::int32_t& row) const {
    const bool on = std::uint32_t(col) < std::uint32_t(GridCols) && std::uint32_t(row) < std::uint32_t(GridRows);
    if (on || !shape_.torus) return on;
    col = (col % GridCols + GridCols) % GridCols;
    row = (row % GridRows + GridRows) % GridRows;
    return true;
  }
  std::size_t CellIndex(std::int32_t col, std::int32_t row) const {
    return std::size_t(row) * std::size_t(GridCols) + std::size_t(col);
  }
  bool ViewDraws() const { return view_->DrawsCells(); }
  bool HasMarkets() const { return shape_.markets > 0; }
  std::array<TCell*, MarketCount> MarketCells() {
    std::array<TCell*, MarketCount> cells;
    for (int m = 0; m < MarketCount; ++m) cells[std::size_t(m)] = &MarketCell(m);
    return cells;
  }

  // The plain phases: each as written, visiting the whole grid or every agent.
  void ComputeUnitCostsPlain();
  void ComputeLocalPricesPlain();
  void ShowPriceScapePlain();
  void EvaluateSegregationPlain();
  void RelocateUnsatisfiedPlain();
  void RelocateAnywhere(std::int32_t i, FreeCells& free);
  void LookForCentersPlain();

  // The fast phases: the same outcome, at the cost of what changed since the last step. Each
  // runs on its accelerator; those of pricing and segregation are the accelerators' own.
  void ComputeLocalPricesFast();
  void ShowPriceScapeFast();
  void EvaluateSegregationFast();
  void RelocateUnsatisfiedFast();
  std::int64_t TryToRelocate(const TAgent& agent, std::uint64_t& state, std::int64_t& drawn) const;
  std::int64_t TryInWindow(const TAgent& agent, std::uint64_t& state, std::int64_t& drawn) const;
  std::int64_t TryAnywhere(std::uint64_t& state, std::int64_t& drawn) const;
  // Whether the agent's search window holds no free cell: none of its tries can be taken.
  bool WindowFull(const TAgent& agent) const;
  // The generator's state after `tries` tries of the search window from `state`.
  std::uint64_t AfterWindowTries(std::uint64_t state, std::int64_t tries) const;
  void LookForCentersInAnyWindow();
  void LookForCentersInAnyWindowFetching();
  void WriteMoves(bool freePricesDone);
  void MoveToCheaper(std::int32_t i, std::int32_t col, std::int32_t row);
  void NoteCheaperMove(std::int32_t i, std::size_t from, std::size_t to);
  void LookForCentersFast();
  template <bool NoteEach>
  void LookForCentersInTurn();
  void LookForCentersDrawingAhead();

  // Whether the accelerators' copies are current: they are made and dropped together.
  bool CopiesCurrent() const { return copies_.Current(Agents) && copies_.Cells() == grid.Cells().size(); }
  // Makes the copies afresh from the cells and agents if they may be stale. Returns false when
  // the cells and agents do not agree (an agent off its cell, a cell without its agent): the
  // phase then runs its plain version, which is exact whatever the state.
  bool EnsureCopies();
  // Every accelerator sized for the grid, before a setup or the cells make it.
  void SizeCopies();
  // Cell k into every accelerator, as it stands; false where it is not a state the fast phases
  // know (a catchment off the markets, a colour other than 0 or 1).
  bool CopyCell(std::size_t k, const TCell& cell) {
    freePrices_.Copy(k, cell);
    counts_.Copy(k, cell);
    const bool priced = prices_.Copy(k, cell);
    return copies_.Copy(k, cell) && priced;
  }
  // Agents standing on a grid whose copies say every cell is free (after a reset, or as
  // SetAgents empties it): each agent enters the copies as it stands, StandInCopies saying false
  // where its cell is taken in them already or its colour is not 0 or 1; then FinishStanding
  // copies the flags (allSatisfied: every flag is set) and makes the copies current if all stood.
  bool StandInCopies(std::size_t index);
  void FinishStanding(bool agree, bool allSatisfied);
  // The part of a move the tries of later agents read: the occupancy copy and the agent's place;
  // it notes the cells for the evaluation.
  void MoveInCopies(std::int32_t i, std::size_t from, std::int32_t newCol, std::int32_t newRow);
  // The one step every move passes, once, on every path: the agent's new place, and the count.
  void TakePlace(TAgent& agent, std::int32_t col, std::int32_t row) {
    agent.col = col;
    agent.row = row;
    agent.SetPositionX(col * CellPitch + 5);
    agent.SetPositionY(row * CellPitch + 5);
    ++MovesMade;
  }
  void RunPhase(void (World::*plain)(), void (World::*fast)(), bool handled);
  void InvalidateCopies() { copies_.Drop(); }
  void Reseed();
  void CountStep();
  void DrawAgent(TAgent& agent);
  void ResetCell(std::int32_t col, std::int32_t row);

  // Where the previous chart point lies: its step and its place in its sweep. 0 after a reset.
  std::int32_t chartStep_ = 0;
  std::int64_t chartX_ = 0;

  const ModelInputs* inputs_;
  ModelShape shape_;  // taken from the inputs by every setup (ResetWorld)
  WorldView* view_;
  Random random_;
  std::function<std::uint64_t()> seedSource_;
  bool plainPhases_ = false;
#if defined(ZELMORA_CHECK_COPIES)
  bool checkCopies_ = true;
#else
  bool checkCopies_ = false;
#endif

  // The accelerators (docs/DESIGN.md, "Fast and plain phases"): each keeps the derived state of
  // the fast phases it serves, with its invariant, the rule that says when it is current, and
  // its check, in its own header. The occupancy copy is current for them all: made by a setup as
  // it writes the cells, or from the cells by the first fast phase after CellsEdited, a plain
  // phase or a replaced agent list, and kept by the World's own operations.
  DistanceTable distances_;  // the reset's distances, for the reset and pricing
  OccupancyCopy copies_;     // who stands where, the agents' flags: every fast phase, relocation
  KeptPrices prices_;        // unit costs, local prices, catchments and their bounds: pricing
  NeighbourCounts counts_;   // the cells' neighbour counts and what changed: segregation
  FreePrices freePrices_;    // the free cells' prices and their blocks' bounds: look for centers
  mutable MoveLog moves_;    // the moves, for readers that follow them (MovesSince)
  // Whether every unsatisfied agent's search window was full where a relocation last moved
  // nobody, and the occupancy copy's identity, moves and flips it was found for. Until one of
  // them changes every try fails again, and a relocation only advances the generator.
  struct OccupancyAt {
    std::uint64_t copy = 0, moves = 0, flips = 0;
    bool operator==(const OccupancyAt&) const = default;
  } windowsLookedAt_;
  bool windowsFull_ = false;
};

}  // namespace zelmora
