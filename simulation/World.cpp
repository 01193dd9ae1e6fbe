#include "simulation/World.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "simulation/IntegerText.h"
#include "simulation/ModelMath.h"
#include "simulation/SplitMix64.h"

namespace zelmora {

using detail::RoundToInt32;

namespace {

// The view of a World without a window: it draws nothing, so the fast step need not call it.
class HeadlessView final : public WorldView {
 public:
  bool DrawsCells() const override { return false; }
};

WorldView& NullView() {
  static HeadlessView view;  // holds no state: shared by every World on every thread
  return view;
}

// Seeds from the high-resolution clock. The counter makes two reseeds in the same clock tick
// differ too, so ResetWorld and PlaceAgents never replay one sequence. It is shared by every
// World of the process, which may step on several threads at once, hence atomic.
std::uint64_t ClockSeed() {
  static std::atomic<std::uint64_t> counter{0};
  const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
  const std::uint64_t count = counter.fetch_add(1, std::memory_order_relaxed) + 1;
  return SplitMix64(static_cast<std::uint64_t>(now) ^ SplitMix64(count));
}

}  // namespace

void TGrid::Size(std::int32_t cols, std::int32_t rows) {
  cols_ = cols;
  rows_ = rows;
  cells_.clear();
}

void TGrid::CreateCells() {
  cells_.clear();
  cells_.reserve(std::size_t(cols_) * std::size_t(rows_));
  for (std::int32_t row = 0; row < rows_; ++row) {
    for (std::int32_t col = 0; col < cols_; ++col) {
      cells_.emplace_back(col * World::CellPitch + 5, row * World::CellPitch + 5, 5, 0);
    }
  }
}

World::World(const ModelInputs& inputs) : World(inputs, NullView()) {}

World::World(const ModelInputs& inputs, WorldView& view)
    : inputs_(&inputs), view_(&view), seedSource_(ClockSeed) {}

void World::Reseed() { random_.Seed(seedSource_()); }

void World::SizeGrid(std::int32_t panelWidth, std::int32_t panelHeight) {
  const std::int32_t cols = RoundToInt32(double(panelWidth) / CellPitch);
  const std::int32_t rows = RoundToInt32(double(panelHeight) / CellPitch);
  if (cols < MinGridSize || rows < MinGridSize) {
    throw std::invalid_argument("the drawing panel must hold at least 10 x 10 cells");
  }
  GridCols = cols;
  GridRows = rows;
  grid.Size(cols, rows);
  InvalidateCopies();
}

void World::CreateGrid() {
  grid.CreateCells();
  ResetWorld();
}

void World::ResetWorld() {
  const ModelShape shape = inputs_->Structure();
  CheckShape(shape, GridCols, GridRows);
  shape_ = shape;
  LastCustomers = 0.0;
  chartStep_ = 0;
  chartX_ = 0;
  Reseed();
  // The markets that exist take the draws the first of ten would take: a seed places them alike
  // whatever their number.
  for (std::int32_t m = 0; m < MarketCount; ++m) {
    MarketPosition& market = Markets[std::size_t(m)];
    market = {};
    if (m >= shape_.markets) continue;
    market.col = static_cast<std::int32_t>(random_.Below(std::uint32_t(GridCols)));
    market.row = static_cast<std::int32_t>(random_.Below(std::uint32_t(GridRows)));
  }
  ResetCells();
}

void World::ResetCells() {
  InvalidateCopies();
  prices_.GreyOverwritten();
  distances_.Make(GridCols, GridRows);
  const bool copy = !plainPhases_ && grid.Cells().size() == std::size_t(GridCols) * GridRows;
  if (copy) SizeCopies();
  for (std::int32_t row = 0; row < GridRows; ++row) {
    for (std::int32_t col = 0; col < GridCols; ++col) {
      TCell& cell = grid.At(col, row);
      cell.occupied = false;
      cell.grey = 180;
      cell.isMarket = false;
      cell.minDistance = 10000.0;
      cell.catchment = 0;
      cell.customers = 0;
      cell.unitCost = 1.0;
      // Without markets no pricing ever writes the price: it is 0, whatever an earlier run left.
      if (!HasMarkets()) cell.localPrice = 0.0;
      ResetCell(col, row);
      view_->DrawCell(cell, inputs_->CatchmentShown());
      // The copies of a free cell, made while its lines are at hand; PlaceAgents adds the agents.
      if (copy) CopyCell(CellIndex(col, row), cell);
    }
  }
  for (int m = 0; m < shape_.markets; ++m) {
    TCell& cell = MarketCell(m);
    cell.isMarket = true;
    view_->DrawCell(cell, inputs_->CatchmentShown());
  }
  view_->ClearChart();
  if (copy) {
    prices_.Made(true);
    freePrices_.Made();
    copies_.Emptied(true);
  }
}

void World::ComputeMarketDistances(std::int32_t col, std::int32_t row) {
  InvalidateCopies();  // the catchment may change: the fast price phase must see it
  TCell& cell = grid.At(col, row);
  for (int m = 0; m < MarketCount; ++m) {
    cell.marketDistance[m] = 0.0;  // a market that does not exist is at no distance and never nearest
    if (m >= shape_.markets) continue;
    cell.marketDistance[m] = GridDistance(col, row, Markets[m].col, Markets[m].row);
    // Ties keep the lower index: a market sharing a cell with a lower one never wins a cell.
    if (cell.marketDistance[m] < cell.minDistance) {
      cell.minDistance = cell.marketDistance[m];
      cell.catchment = m;
    }
  }
}

// ComputeMarketDistances for the reset, with GridDistance's values from the table.
void World::ResetCell(std::int32_t col, std::int32_t row) {
  TCell& cell = grid.At(col, row);
  std::array<const double*, MarketCount> distance;
  distances_.Row(row, Markets, distance);
  for (std::size_t m = 0; m < MarketCount; ++m) {
    cell.marketDistance[m] = 0.0;
    if (std::int32_t(m) >= shape_.markets) continue;
    cell.marketDistance[m] = distance[m][col];
    if (cell.marketDistance[m] < cell.minDistance) {
      cell.minDistance = cell.marketDistance[m];
      cell.catchment = std::int32_t(m);
    }
  }
}

double World::GridDistance(std::int32_t col1, std::int32_t row1, std::int32_t col2,
                           std::int32_t row2) {
  const long double dc = static_cast<long double>(col1) - col2;
  const long double dr = static_cast<long double>(row1) - row2;
  return static_cast<double>(std::sqrt(dc * dc + dr * dr));
}

void World::CreateAgents() {
  const std::string text = inputs_->AgentCountText();
  const std::int32_t count = ParseInt32(text);
  // More agents than cells would make placement search for a free cell for ever; refuse before
  // anything is allocated.
  const std::int64_t capacity = std::int64_t(GridCols) * GridRows;
  if (count > capacity - std::int64_t(Agents.size())) {
    throw SetupError(std::to_string(count) + " agents do not fit on the grid, which holds at most " +
                     std::to_string(capacity) + " agents");
  }
  if (count > 0) Agents.resize(Agents.size() + std::size_t(count));
  PlaceAgents();
}

void World::PlaceAgents() {
  // Right after ResetCells every cell is free and the copies know it: they follow the placement,
  // and the first fast phase need not make them from the cells again.
  const bool fresh = copies_.Empty();
  InvalidateCopies();
  Reseed();
  for (std::size_t index = 0; index < Agents.size(); ++index) {
    TAgent& agent = Agents[index];
    do {
      agent.col = static_cast<std::int32_t>(random_.Below(std::uint32_t(GridCols)));
      agent.row = static_cast<std::int32_t>(random_.Below(std::uint32_t(GridRows)));
    } while (fresh ? copies_.State()[CellIndex(agent.col, agent.row)] != 0 : grid.At(agent.col, agent.row).occupied);
    agent.SetPositionX(agent.col * CellPitch + 5);
    agent.SetPositionY(agent.row * CellPitch + 5);
    agent.SetSize(4);
    agent.colour = static_cast<std::int32_t>(random_.Below(2));
    agent.satisfied = true;
    DrawAgent(agent);
    TCell& cell = CellOf(agent);
    cell.SetState(agent.colour);
    cell.occupant = static_cast<std::int32_t>(index);
    cell.occupied = true;
    if (HasMarkets()) MarketCell(cell.catchment).customers += 1;
    if (fresh) StandInCopies(index);  // on a free cell, in a colour of 0 or 1
  }
  if (fresh) {
    FinishStanding(true, true);
    copies_.ShadesDrawn(true);
  }
}

void World::MoveAgent(std::int32_t i, std::int32_t newCol, std::int32_t newRow) {
  TAgent& agent = Agents[std::size_t(i)];
  TCell& old = CellOf(agent);
  TCell& target = grid.At(newCol, newRow);
  old.occupied = false;
  if (plainPhases_ || ViewDraws()) view_->DrawCell(old, inputs_->CatchmentShown());  // paints over the old disc
  copies_.Emptied(false);
  const std::size_t to = CellIndex(newCol, newRow);
  if (CopiesCurrent() && copies_.State()[to] == 0) {
    const std::size_t from = CellIndex(agent.col, agent.row);
    MoveInCopies(i, from, newCol, newRow);
    copies_.NoteOccupant(to, i);
    const double* prices = prices_.Prices();
    if (freePrices_.Known()) freePrices_.Move(from, to, prices);
    std::vector<AgentMove>* const noted =
        moves_.Following() ? moves_.Open(copies_.Identity(), copies_.Moves() - 1, 1, copies_.Cells()) : nullptr;
    if (noted) noted->push_back({std::uint32_t(from), std::uint32_t(to), agent.colour, prices[from], prices[to]});
  } else {
    InvalidateCopies();  // e.g. two agents on one cell: only the plain phases know what follows
    TakePlace(agent, newCol, newRow);
  }
  target.occupied = true;
  target.SetState(agent.colour);
  target.occupant = i;
  MoveCustomer(target, old.catchment);
}

// The fast path runs where its accelerator handles the model's shape and the copies can be
// trusted; otherwise the plain one, which is exact whatever the state and leaves the copies to
// be made afresh.
void World::RunPhase(void (World::*plain)(), void (World::*fast)(), bool handled) {
  if (plainPhases_ || !handled || !EnsureCopies()) {
    (this->*plain)();
    InvalidateCopies();
  } else {
    if (checkCopies_) CheckCopies();
    (this->*fast)();
  }
}

// Without markets the price phases and look for centers do nothing, and need not run plain.
// Unit costs need no copies: the fast path only skips the powers whose inputs did not change.
void World::ComputeUnitCosts() {
  if (!HasMarkets()) return;
  if (plainPhases_ || !KeptPrices::Handles(shape_)) {
    ComputeUnitCostsPlain();
  } else {
    const double returnsToScale = inputs_->ReturnsToScale();
    const double productionCost = inputs_->ProductionCost();
    prices_.ComputeUnitCosts(MarketCells(), shape_.markets, returnsToScale, productionCost);
  }
}

void World::ComputeLocalPrices() {
  if (!HasMarkets()) return;
  RunPhase(&World::ComputeLocalPricesPlain, &World::ComputeLocalPricesFast, KeptPrices::Handles(shape_));
}

void World::ShowPriceScape() {
  if (!HasMarkets()) return;
  RunPhase(&World::ShowPriceScapePlain, &World::ShowPriceScapeFast, KeptPrices::Handles(shape_));
}

void World::EvaluateSegregation() {
  RunPhase(&World::EvaluateSegregationPlain, &World::EvaluateSegregationFast, NeighbourCounts::Handles(shape_));
}

void World::RelocateUnsatisfied() {
  MovesMade = 0;  // the step's moves begin here: the phases before move nobody
  RunPhase(&World::RelocateUnsatisfiedPlain, &World::RelocateUnsatisfiedFast, OccupancyCopy::Handles(shape_));
}

void World::LookForCenters() {
  if (!HasMarkets()) return;
  freePrices_.LookingThisStep();
  RunPhase(&World::LookForCentersPlain, &World::LookForCentersFast, FreePrices::Handles(shape_));
}

void World::GrayCells() {
  for (TCell& cell : grid.Cells()) cell.grey = 180;
  prices_.GreyOverwritten();
}

void World::RedrawCells() {
  // A view that draws nothing is not asked: the step then costs what changed, not the grid.
  if (!plainPhases_ && !ViewDraws()) return;
  for (std::int32_t row = 0; row < GridRows; ++row) {
    for (std::int32_t col = 0; col < GridCols; ++col) {
      view_->DrawCell(grid.At(col, row), inputs_->CatchmentShown());
    }
  }
}

void World::DrawAgent(TAgent& agent) {
  agent.shade = agent.colour * 255;
  view_->DrawAgent(agent);
}

void World::DrawAgents() {
  if (!plainPhases_ && !ViewDraws()) {
    // Only the shades are left to write, and a colour never changes.
    if (copies_.ShadesDrawn(Agents)) return;
    for (TAgent& agent : Agents) agent.shade = agent.colour * 255;
    copies_.ShadesDrawn(true);
    return;
  }
  for (TAgent& agent : Agents) DrawAgent(agent);
}

void World::CountStep() {
  // At one step a millisecond the maximum comes after about 25 days; the count then stays there
  // rather than overflow, so the label and the chart's sweeps never go negative.
  if (StepCount < std::numeric_limits<std::int32_t>::max()) StepCount += 1;
  view_->ShowStepCount(StepCount);
  freePrices_.StepEnded();
}

void World::FeedChart() {
  // Without a yellow market (fewer than three) the chart follows none: no customers, no price.
  const bool yellow = YellowMarket < shape_.markets;
  const double customers = yellow ? MarketCell(YellowMarket).customers : 0.0;
  const double bidPrice = yellow ? MarketCell(YellowMarket).unitCost : 0.0;
  const ChartPoint previous{
      .step = chartStep_, .sweep = SweepCount, .x = chartX_, .customers = LastCustomers, .bidPrice = LastBidPrice};
  const ChartPoint point = NextChartPoint(previous, StepCount, customers, bidPrice);
  chartStep_ = point.step;
  chartX_ = point.x;
  SweepCount = point.sweep;
  LastCustomers = point.customers;
  LastBidPrice = point.bidPrice;
  view_->FeedChart(point);
}

void World::SimulationStep() {
  ComputeUnitCosts();
  ComputeLocalPrices();
  if (inputs_->PriceScapeShown()) ShowPriceScape();
  RedrawCells();
  RelocateUnsatisfied();
  if (inputs_->SegregationActive()) EvaluateSegregation();
  if (inputs_->LookForCentersActive()) LookForCenters();
  DrawAgents();
  CountStep();
  FeedChart();
}

void World::NewSetup() {
  CheckShape(inputs_->Structure(), GridCols, GridRows);  // before anything changes
  StepCount = 0;
  // Every count of the last step starts afresh, as in a World just made: step 0 moved nobody.
  MovesMade = 0;
  MovedCount = 0;
  SatisfiedCount = 0;
  std::vector<TAgent>().swap(Agents);
  view_->ResetChartRange();
  ResetWorld();
  CreateAgents();  // may throw: the World then stays reset but holds no agents
  SweepCount = 0;
}

}  // namespace zelmora
