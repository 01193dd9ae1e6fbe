#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "simulation/Agent.h"
#include "simulation/Cell.h"
#include "simulation/LargePageAllocator.h"
#include "simulation/ModelPorts.h"
#include "simulation/Random.h"

namespace zelmora {

struct MarketPosition {
  std::int32_t col = 0;
  std::int32_t row = 0;
};

// Where SetAgents puts an agent, and its colour (0 black, 1 white).
struct AgentPlace {
  std::int32_t col = 0;
  std::int32_t row = 0;
  std::int32_t colour = 0;
};

// The cells, indexed grid[col][row]. They lie in one block, row after row, so that the phases'
// row-by-row sweeps read memory in order and a search window stays in a few cache lines.
class TGrid {
 public:
  using CellVector = std::vector<TCell, LargePageAllocator<TCell>>;

  class Column {
   public:
    Column(TCell* top, std::int32_t stride) : top_(top), stride_(stride) {}
    TCell& operator[](std::int32_t row) const { return top_[std::ptrdiff_t(row) * stride_]; }

   private:
    TCell* top_;
    std::int32_t stride_;
  };

  Column operator[](std::int32_t col) { return Column(cells_.data() + col, cols_); }
  TCell& At(std::int32_t col, std::int32_t row) { return cells_[std::size_t(row) * cols_ + col]; }
  const TCell& At(std::int32_t col, std::int32_t row) const {
    return cells_[std::size_t(row) * cols_ + col];
  }
  std::int32_t Cols() const { return cols_; }
  std::int32_t Rows() const { return rows_; }
  bool HasCells() const { return !cells_.empty(); }
  CellVector& Cells() { return cells_; }
  const CellVector& Cells() const { return cells_; }

  // Sizes the grid without creating cells; CreateCells fills it row by row.
  void Size(std::int32_t cols, std::int32_t rows);
  void CreateCells();

 private:
  std::int32_t cols_ = 0;
  std::int32_t rows_ = 0;
  CellVector cells_;
};

struct FullWrites;  // what pricing every cell writes; see PricesFast.cpp

// Thrown where the fast phases' copies are checked (ZELMORA_CHECK_COPIES: debug and sanitizer
// builds) when a cell or agent no longer agrees with them: a field was written without
// World::CellsEdited(). The message names the cell or agent and the field.
class CopiesStale : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// The whole state of the simulation and the phases that change it. The window owns one, calls its
// operations from its handlers, and lends it the inputs it reads and the view it draws on.
class World {
 public:
  static constexpr std::int32_t CellPitch = 10;      // pixels per cell, both ways
  static constexpr std::int32_t MinGridSize = 10;    // the search window needs 10 cells a side
  static constexpr double PriceCeiling = 9999.0;     // a delivered price is taken only below it
  static constexpr int RelocationTries = 100;        // per unsatisfied agent and step
  static constexpr int CenterTries = 10;             // per satisfied agent and step
  // Above this many cells the fast LookForCenters draws the tries of later agents ahead of their
  // turn and fetches their cells; on smaller grids all it reads stays in cache, and it makes each
  // agent's ten tries as cheap as it can instead.
  static constexpr std::size_t DrawAheadCells = std::size_t(1) << 17;

  explicit World(const ModelInputs& inputs);
  World(const ModelInputs& inputs, WorldView& view);

  TGrid grid;                  // the cells; created once by CreateGrid, reused by every setup
  std::vector<TAgent> Agents;  // owned; an agent's index is its identity. Replaced at each setup
  std::int32_t GridCols = 0;   // from the panel width, fixed after the grid is sized
  std::int32_t GridRows = 0;
  std::array<MarketPosition, MarketCount> Markets{};  // drawn by ResetWorld; may coincide
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
  // The fast phases keep compact copies of the cells' and agents' state. Whoever writes TCell or
  // TAgent fields other than through the World's operations calls this before the next phase;
  // the copies are then made afresh from the cells. Builds with ZELMORA_CHECK_COPIES compare
  // the copies with the cells before every fast phase and throw CopiesStale where they differ.
  void CellsEdited() { InvalidateCopies(); }
#if defined(ZELMORA_CHECK_COPIES)
  static constexpr bool ChecksCopies = true;
#else
  static constexpr bool ChecksCopies = false;
#endif

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
  // Adds or subtracts the size once: callers stay within 10 cells of the grid.
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
  // "new Setup": counters, agents, markets, cells and chart start again on the same grid. A
  // SetupError from the agent count leaves the World reset but without agents.
  void NewSetup();

  // The fast phases' copy of every cell's occupancy, row-major: 0 for a free cell, 1 + `State`
  // for an occupied one. Agrees with the cells after every fast phase.
  const std::vector<std::uint8_t>& Occupancy() const { return cellState_; }
  // Their free price of every cell, row-major: the local price of a free cell, +infinity for an
  // occupied one. Agrees with the cells after every fast LookForCenters.
  const std::vector<double, LargePageAllocator<double>>& FreePrices() const { return freePrices_; }
  // Whether the compact copies agree with the cells now: true after a fast phase, until a plain
  // phase, a setup, a replaced agent list or CellsEdited.
  bool CopiesCurrent() const {
    return copiesValid_ && copiedAgents_ == Agents.data() && copiedAgentCount_ == Agents.size() &&
           price_.size() == grid.Cells().size();
  }
  // The sum of every cell's `localPrice` (detail::SumInLanes, row-major), while CopiesCurrent:
  // kept with the prices, so a measure of them costs nothing while they stand.
  double LocalPriceSum() const { return priceSum_; }
  // Their copy of the agents' flags, one bit per agent in list order, set where `satisfied` is
  // false, while CopiesCurrent.
  const std::vector<std::uint64_t>& UnsatisfiedBits() const { return unsatisfied_; }
  // The number of those bits, kept as they flip, while CopiesCurrent.
  std::int64_t UnsatisfiedCount() const { return unsatisfiedCount_; }
  // Which occupancy the copy holds: a copy made afresh gets an identity no copy of any World had
  // before, and every move adds one. Equal versions mean the same Occupancy().
  struct OccupancyVersion {
    std::uint64_t copy = 0;
    std::uint64_t moves = 0;
    bool operator==(const OccupancyVersion&) const = default;
  };
  OccupancyVersion OccupancyVersionNow() const { return {copyId_, moveCount_}; }

  TCell& MarketCell(int market) { return grid.At(Markets[market].col, Markets[market].row); }
  TCell& CellOf(const TAgent& agent) { return grid.At(agent.col, agent.row); }

 private:
  // A candidate of the search window: offsets -10..+9, column first, wrapped on the torus.
  void DrawCandidate(Random& random, const TAgent& agent, std::int32_t& col, std::int32_t& row) const {
    std::uint32_t dc, dr;
    random.BelowTwice(20, dc, dr);
    col = agent.col + std::int32_t(dc) - 10;
    row = agent.row + std::int32_t(dr) - 10;
    WrapToTorus(col, row);
  }
  std::size_t CellIndex(std::int32_t col, std::int32_t row) const {
    return std::size_t(row) * std::size_t(GridCols) + std::size_t(col);
  }
  bool ViewDraws() const { return view_->DrawsCells(); }

  // The plain phases: each as written, visiting the whole grid or every agent.
  void ComputeUnitCostsPlain();
  void ComputeLocalPricesPlain();
  void ShowPriceScapePlain();
  void EvaluateSegregationPlain();
  void RelocateUnsatisfiedPlain();
  void LookForCentersPlain();

  // The fast phases: the same outcome, at the cost of what changed since the last step.
  void ComputeUnitCostsFast();
  void ComputeLocalPricesFast();
  void PriceRows(const std::array<double, MarketCount>& unitCost, double travelCost);
  FullWrites PriceTableWide(FullWrites w, const std::array<double, MarketCount>& unitCost, double travelCost);
  void RowDistances(std::int32_t row, std::array<const double*, MarketCount>& distance) const;
  void ShowPriceScapeFast();
  void EvaluateSegregationFast();
  void EvaluateBlocks(const bool* satisfiedBy);
  void EvaluateAround(const bool* satisfiedBy);
  void MakeAround();
  // Whether the grid is small enough for the moves to keep the neighbour bytes (around_).
  bool KeepsAround() const { return cellState_.size() <= DrawAheadCells; }
  void MoveAround(std::size_t col, std::size_t row, std::uint8_t part);
  void EvaluateRows(const bool* satisfiedBy, bool everyFlag);
  std::uint8_t CountCell(std::size_t k, std::int32_t col, std::int32_t row) const;
  void FlagSatisfied(std::size_t agent, bool satisfied);
  void WriteFlags();
  void RelocateUnsatisfiedFast();
  std::int64_t TryToRelocate(const TAgent& agent, std::uint64_t& state, std::int64_t& drawn) const;
  void WriteMoves(bool freePricesDone);
  void MoveToCheaper(std::int32_t i, std::int32_t col, std::int32_t row);
  void NoteCheaperMove(std::int32_t i, std::size_t from, std::size_t to);
  // A move in the free prices: the cell left is free at its price, the cell taken is not.
  void MoveInFreePrices(std::size_t from, std::size_t to);
  // The free prices written afresh, all of them.
  void FreePricesMade() {
    freePricesKnown_ = true;
    blocksKnown_ = false;
  }
  bool KeepsBlocks() const;
  std::size_t BlockAt(std::size_t col, std::size_t row) const {
    return row / kBlock * std::size_t(GridCols / kBlock) + col / kBlock;
  }
  std::size_t BlockOf(std::size_t cell) const {
    return BlockAt(cell % std::size_t(GridCols), cell / std::size_t(GridCols));
  }
  // f(b) for the 3 x 3 blocks b around block, itself among them.
  template <class F>
  void ForBlocksAround(std::size_t block, F&& f) const {
    const std::size_t blockCols = std::size_t(GridCols / kBlock), blockRows = std::size_t(GridRows / kBlock);
    const std::size_t row = block / blockCols, col = block % blockCols;
    for (const std::size_t r : {row + blockRows - 1, row, row + 1}) {
      for (const std::size_t c : {col + blockCols - 1, col, col + 1}) f(r % blockRows * blockCols + c % blockCols);
    }
  }
  double LowestInBlock(std::size_t block) const;
  void LowestAround(std::size_t block);
  void RefreshBlocks();
  void LookForCentersFast();
  template <bool NoteEach>
  void LookForCentersInTurn();
  void LookForCentersDrawingAhead();

  // Makes the compact copies afresh from the cells and agents if they may be stale. Returns false
  // when the cells and agents do not agree (an agent off its cell, a cell without its agent):
  // the phase then runs its plain version, which is exact whatever the state.
  bool EnsureCopies();
  void SizeCopies();
  void TakeNewCopyId();
  void CheckCopies() const;  // under ZELMORA_CHECK_COPIES: throws CopiesStale where they differ
  bool DistancesAsReset(std::size_t k) const;
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
  // Agents standing on a grid whose copies say every cell is free (after a reset, or as
  // SetAgents empties it): each agent enters the copies as it stands, StandInCopies saying false
  // where its cell is taken in them already or its colour is not 0 or 1; then FinishStanding
  // copies the flags (allSatisfied: every flag is set) and makes the copies current if all stood.
  bool StandInCopies(std::size_t index);
  void CopyUnsatisfied(std::size_t i);
  void FinishStanding(bool agree, bool allSatisfied);
  void NoteChanged(std::size_t cell);
  void RunPhase(void (World::*plain)(), void (World::*fast)());
  void InvalidateCopies() {
    copiesValid_ = false;
    cellsFresh_ = false;
  }
  void Reseed();
  void CountStep();
  void DrawAgent(TAgent& agent);
  void ResetCell(std::int32_t col, std::int32_t row);

  // Where the previous chart point lies: its step and its place in its sweep. 0 after a reset.
  std::int32_t chartStep_ = 0;
  std::int64_t chartX_ = 0;

  const ModelInputs* inputs_;
  WorldView* view_;
  Random random_;
  std::function<std::uint64_t()> seedSource_;

  // The fast phases' compact copies (docs/DESIGN.md). Valid only while copiesValid_; the World's
  // own operations keep them in step, CellsEdited and every plain phase drop them. A setup makes
  // them as it writes the cells.
  bool plainPhases_ = false;
  bool copiesValid_ = false;
  bool cellsFresh_ = false;                // ResetCells made the copies of free cells; agents next
  const TAgent* copiedAgents_ = nullptr;   // Agents' storage and size when copied: a replaced
  std::size_t copiedAgentCount_ = 0;       // list is noticed without CellsEdited
  std::uint64_t copyId_ = 0;               // see OccupancyVersion
  std::uint64_t moveCount_ = 0;
  std::vector<std::uint8_t> cellState_;    // 0 free, 1 + State of the occupant
  std::vector<std::uint64_t> occupied_;    // one bit per cell, row-major: cellState_ is not 0
  std::vector<std::int32_t> occupantOf_;   // `occupant` of occupied cells
  std::vector<std::uint8_t> catchment_;    // `catchment` of every cell
  // Neighbour counts as the cell holds them, same | other << 4; Unknown where they are not 0..8.
  std::vector<std::uint8_t> counts_;
  std::vector<std::uint64_t> unsatisfied_;  // one bit per agent: not `satisfied`
  std::vector<std::uint64_t> unsatisfiedWords_;  // one bit per word of unsatisfied_: not 0
  std::int64_t unsatisfiedCount_ = 0;            // see UnsatisfiedCount
  std::vector<double, LargePageAllocator<double>> price_;       // `localPrice` of every cell
  double priceSum_ = 0.0;                                         // see LocalPriceSum
  std::vector<double, LargePageAllocator<double>> freePrices_;  // see FreePrices
  bool freePricesKnown_ = false;  // freePrices_ agrees with the occupancy and the prices
  // Whether the last step looked for centers, the one phase that reads freePrices_; a step that
  // did not sets it false. Where false, the pricing in full and many moves leave the free prices
  // to be made afresh by the next LookForCenters instead of writing them. A hint only: either
  // way the free prices are exact when read.
  bool centersLastStep_ = false;
  bool relocationDroppedFreePrices_ = false;  // the last relocation moved too many to keep them
  bool centersThisStep_ = false;
  // For LookForCenters, on grids of whole blocks of kBlock x kBlock cells, at least three blocks
  // a side: per block, no more than the lowest free price in it (blockLowest_), and no more than
  // the lowest in the three by three blocks around it (aroundLowest_), which hold the search
  // window of every cell of the block. A cell freed lowers both at once; a cell taken can only
  // raise them, so its block is made again later (staleBlocks_), from the free prices.
  static constexpr std::int32_t kBlock = 10;
  std::vector<double> blockLowest_, aroundLowest_;
  std::vector<std::uint32_t> staleBlocks_;
  bool allBlocksStale_ = false;  // too many for the list
  bool blocksKnown_ = false;
  // Distances from the origin to (dc - GridCols + 1, dr), row dr after row: row |r - mr| from
  // column GridCols - 1 - mc holds the distances of row r to a market at (mc, mr), as
  // GridDistance gives them. Made once per grid size for the resets; the checked builds hold the
  // cells' distances to it, since prices kept by their bounds assume the distances unchanged.
  std::vector<double, LargePageAllocator<double>> distanceRows_;
  bool ownDistances_ = false;  // every cell holds the distances of the reset's table
  // Cells whose occupant changed since the last evaluation: their 3 x 3 blocks are evaluated.
  std::vector<std::uint32_t> changed_;
  // So many cells changed since the last evaluation that it counts every row: changed_ is no
  // longer kept.
  bool countRows_ = false;
  // The cells an agent arrived at since the last evaluation, one bit each, row after row with
  // each row starting a word: an arrived agent's flag is set even where the counts stand.
  std::vector<std::uint64_t> arrived_;
  std::vector<std::uint8_t> marked_;  // scratch of the evaluation, all 0 between phases
  // On grids of at most DrawAheadCells cells, while aroundKnown_: per cell, the occupied and the
  // white cells among its eight neighbours, occupied | white << 4, kept by every move. A cell's
  // counts are then one lookup, and an evaluation after a few moves visits their blocks at a
  // few instructions a cell. Made afresh by an evaluation that followed few moves; dropped by
  // new copies and by so many moves that the rows will be counted.
  std::vector<std::uint8_t> around_;
  bool aroundKnown_ = false;
  // The copy and its moves at the last evaluation (see OccupancyVersion): how many moves came
  // since.
  std::uint64_t evaluatedCopyId_ = 0;
  std::uint64_t evaluatedMoveCount_ = 0;
  // Wrapped places of the search window: wrapCol_[c + d] is the column c + d - 10 and
  // wrapRowStart_[r + d] the index of the first cell of row r + d - 10, both wrapped.
  // Both are full words, so an index is one addition with nothing to widen.
  std::vector<std::size_t> wrapCol_, wrapRowStart_;
  std::vector<std::uint32_t> block_;    // scratch of the evaluation
  // Agents whose flag flipped in the copy, to be written: the first flippedCount_, with room for
  // every agent and one more (FlagSatisfied writes past them).
  std::vector<std::uint32_t> flipped_;
  std::size_t flippedCount_ = 0;
  // Moves of the fast relocation phases whose cells and other copies are written after the
  // tries (scratch).
  struct Move {
    std::uint32_t from, to;
    std::int32_t agent;
  };
  std::vector<Move> moves_;
  bool centersMovedMuch_ = true;  // more than one agent in eight moved in the last LookForCenters
  bool priceAll_ = true;        // prices must be computed for every cell
  // Per cell: the lowest price another market offered when the cell was last priced in full,
  // and the epoch (the unit costs) of that pricing; the unit costs of the last kEpochs epochs.
  static constexpr std::uint32_t kEpochs = 16;
  std::vector<double, LargePageAllocator<double>> rival_;
  std::vector<std::uint8_t> epochOf_;
  std::array<std::array<double, MarketCount>, kEpochs> epochCosts_{};
  std::uint32_t epochs_ = 0;
  bool keptLast_ = true;      // most cells kept their market in the last pricing
  bool rivalsStale_ = false;  // the last pricing noted no rivals: none may keep its market
  // Pricings between two tries of keeping while it fails: doubled after each failure.
  static constexpr std::uint32_t kKeepFirst = 8, kKeepLast = 64;
  std::uint32_t keepEvery_ = kKeepFirst;
  std::array<double, MarketCount> pricedUnitCost_{};  // what the prices were computed from
  double pricedTravelCost_ = 0.0;
  // What the unit costs were last computed from, and the costs: the same inputs give them again.
  std::array<std::int32_t, MarketCount> costedCustomers_{};
  std::array<double, MarketCount> costs_{};
  double costedReturns_ = 0.0, costedProduction_ = 0.0;
  bool costsKnown_ = false;
  bool evaluateAll_ = true;     // every occupied cell must be evaluated
  double evaluatedThreshold_ = 0.0;
  std::array<bool, 256> satisfiedBy_{};  // the rule by packed counts at tabledThreshold_
  double tabledThreshold_ = 0.0;
  bool tableKnown_ = false;
  bool greyIsScape_ = false;    // every `grey` is the price scape of the current prices
  bool shadesDrawn_ = false;    // every agent's `shade` is its colour's
};

}  // namespace zelmora
