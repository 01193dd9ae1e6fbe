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

namespace zelmora {
namespace {

WorldView& NullView() {
  static WorldView view;
  return view;
}

std::uint64_t SplitMix64(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
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

// Round to nearest, halves to even (the default floating-point rounding mode), saturated to
// the 32-bit range.
std::int32_t RoundToInt32(double v) {
  const double r = std::nearbyint(v);
  if (!(r >= -2147483648.0)) return std::numeric_limits<std::int32_t>::min();
  if (r > 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(r);
}

// base^exponent by the rules of a real power: exponent 0 gives 1, a whole exponent the
// integer power, any other exp(exponent * ln base). base is a positive customer count.
double Power(double base, double exponent) {
  if (exponent == 0.0) return 1.0;
  if (exponent == std::trunc(exponent) && std::fabs(exponent) < 2147483647.0) {
    return std::pow(base, exponent);
  }
  return std::exp(exponent * std::log(base));
}

// Stores only what differs: the value nearly always stands already, and a line left clean need
// not be written back to memory.
template <typename T>
inline void StoreIfChanged(T& field, T value) {
  if (field != value) field = value;
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
}

void World::CreateGrid() {
  grid.CreateCells();
  ResetWorld();
}

void World::ResetWorld() {
  LastCustomers = 0.0;
  Reseed();
  for (auto& market : Markets) {
    market.col = static_cast<std::int32_t>(random_.Below(std::uint32_t(GridCols)));
    market.row = static_cast<std::int32_t>(random_.Below(std::uint32_t(GridRows)));
  }
  ResetCells();
}

void World::ResetCells() {
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
      ComputeMarketDistances(col, row);
      view_->DrawCell(cell, inputs_->CatchmentShown());
    }
  }
  for (int m = 0; m < MarketCount; ++m) {
    TCell& cell = MarketCell(m);
    cell.isMarket = true;
    view_->DrawCell(cell, inputs_->CatchmentShown());
  }
  view_->ClearChart();
}

void World::ComputeMarketDistances(std::int32_t col, std::int32_t row) {
  TCell& cell = grid.At(col, row);
  for (int m = 0; m < MarketCount; ++m) {
    cell.marketDistance[m] = GridDistance(col, row, Markets[m].col, Markets[m].row);
    // Ties keep the lower index: a market sharing a cell with a lower one never wins a cell.
    if (cell.marketDistance[m] < cell.minDistance) {
      cell.minDistance = cell.marketDistance[m];
      cell.catchment = m;
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
  Reseed();
  for (std::size_t index = 0; index < Agents.size(); ++index) {
    TAgent& agent = Agents[index];
    do {
      agent.col = static_cast<std::int32_t>(random_.Below(std::uint32_t(GridCols)));
      agent.row = static_cast<std::int32_t>(random_.Below(std::uint32_t(GridRows)));
    } while (grid.At(agent.col, agent.row).occupied);
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
    MarketCell(cell.catchment).customers += 1;
  }
}

void World::ComputeUnitCosts() {
  const double returnsToScale = inputs_->ReturnsToScale();
  const double productionCost = inputs_->ProductionCost();
  for (int k = 0; k < MarketCount; ++k) {
    TCell& market = MarketCell(k);
    if (market.customers > 0) {
      const double customers = market.customers;
      market.unitCost = customers / Power(customers, returnsToScale) * productionCost;
    } else {
      market.unitCost = productionCost;
    }
  }
}

void World::ComputeLocalPrices() {
  const double travelCost = inputs_->TravelCost();
  // Every cell is priced with the unit costs of this step's start, whatever moves meanwhile.
  std::array<double, MarketCount> unitCost;
  for (int k = 0; k < MarketCount; ++k) unitCost[k] = MarketCell(k).unitCost;

  for (TCell& cell : grid.Cells()) {  // rows outer, columns inner
    const std::int32_t old = cell.catchment;
    double best = PriceCeiling;
    for (int k = 0; k < MarketCount; ++k) {
      const double travel = cell.marketDistance[k] * travelCost;
      const double price = unitCost[k] + travel;
      if (price < best) {
        best = price;
        cell.localPrice = price;
        cell.catchment = k;
      }
    }
    // A customer that stays with its market would be taken off and put back: no net change.
    if (cell.occupied && cell.catchment != old) MoveCustomer(cell, old);
  }
}

void World::MoveCustomer(TCell& cell, std::int32_t oldMarket) {
  MarketCell(oldMarket).customers -= 1;
  MarketCell(cell.catchment).customers += 1;
}

void World::CountNeighbours(std::int32_t col, std::int32_t row) {
  TCell& cell = grid.At(col, row);
  std::int32_t same = 0;
  std::int32_t other = 0;
  const auto count = [&](const TCell& neighbour) {
    const bool like = neighbour.State() == cell.State();
    same += neighbour.occupied & like;
    other += neighbour.occupied & !like;
  };
  if (col > 0 && col < GridCols - 1 && row > 0 && row < GridRows - 1) {
    // Away from the edges the block needs no wrapping: the cells lie at fixed offsets.
    const TCell* above = &cell - GridCols;
    const TCell* below = &cell + GridCols;
    for (std::int32_t dc = -1; dc <= 1; ++dc) {
      count(above[dc]);
      count((&cell)[dc]);
      count(below[dc]);
    }
  } else {
    for (std::int32_t dr = -1; dr <= 1; ++dr) {
      for (std::int32_t dc = -1; dc <= 1; ++dc) {
        std::int32_t c = col + dc;
        std::int32_t r = row + dr;
        WrapToTorus(c, r);
        count(grid.At(c, r));
      }
    }
  }
  cell.sameNeighbours = same - 1;  // the cell itself was counted as a like neighbour
  cell.otherNeighbours = other;
}

void World::EvaluateSegregation() {
  const double threshold = inputs_->ThresholdPercent();
  for (std::int32_t row = 0; row < GridRows; ++row) {
    for (std::int32_t col = 0; col < GridCols; ++col) {
      TCell& cell = grid.At(col, row);
      if (!cell.occupied) continue;
      CountNeighbours(col, row);
      const std::int32_t total = cell.sameNeighbours + cell.otherNeighbours;
      double likeShare = 0.0;
      if (total > 0) likeShare = double(cell.sameNeighbours) / total * 100.0;
      Agents[std::size_t(cell.occupant)].satisfied = likeShare > threshold;
    }
  }
}

namespace {

// How many agents ahead RelocateUnsatisfied fetches the cell an agent stands on.
constexpr std::int32_t RegisterLookahead = 16;

// Asks for the lines of a cell that registering an agent reads and writes: `occupant` at the
// start, `occupied` in the middle, the state at the end.
inline void PrefetchForRegister(const TCell& cell) {
  const char* bytes = reinterpret_cast<const char*>(&cell);
  __builtin_prefetch(bytes);
  __builtin_prefetch(&cell.occupied);
  __builtin_prefetch(bytes + sizeof(TCell) - 1);
}

}  // namespace

void World::RebuildOccupancy() {
  const TGrid::CellVector& cells = grid.Cells();
  occupancy_.resize(cells.size());
  for (std::size_t k = 0; k < cells.size(); ++k) occupancy_[k] = cells[k].occupied;
}

void World::RelocateUnsatisfied() {
  SatisfiedCount = 0;
  MovedCount = 0;
  Random random = random_;  // a local copy stays in registers through the try loop
  std::int64_t drawn = 0;
  const std::int32_t count = static_cast<std::int32_t>(Agents.size());
  // An unsatisfied agent in a full neighbourhood tries all hundred times, each try a cache miss
  // on a big grid. The tries read a byte-per-cell copy of `occupied` instead, small enough to
  // stay in cache. It is made afresh here, since the cells may have been changed since the last
  // step, and kept in step with every change the phase makes.
  RebuildOccupancy();
  // The agents' cells lie in list order, not grid order: on a big grid the cells of agents a
  // little ahead are fetched early. On a grid that stays in cache that would only cost time.
  const std::int32_t lookahead = grid.Cells().size() > DrawAheadCells ? RegisterLookahead : 0;
  for (std::int32_t j = 0; j < std::min(count, lookahead); ++j) {
    PrefetchForRegister(CellOf(Agents[std::size_t(j)]));
  }
  for (std::int32_t i = 0; i < count; ++i) {
    if (lookahead > 0 && i + lookahead < count) {
      PrefetchForRegister(CellOf(Agents[std::size_t(i + lookahead)]));
    }
    TAgent& agent = Agents[std::size_t(i)];
    if (agent.satisfied) {
      TCell& cell = CellOf(agent);
      StoreIfChanged(cell.occupant, i);
      if (cell.State() != agent.colour) cell.SetState(agent.colour);
      StoreIfChanged(cell.occupied, true);
      occupancy_[CellIndex(agent.col, agent.row)] = 1;
      ++SatisfiedCount;
      continue;
    }
    ++MovedCount;
    for (int attempt = 0; attempt < RelocationTries; ++attempt) {
      ++drawn;
      std::int32_t col, row;
      DrawCandidate(random, agent, col, row);
      // The agent's own cell is occupied by itself, so it is never taken.
      if (!occupancy_[CellIndex(col, row)]) {
        occupancy_[CellIndex(agent.col, agent.row)] = 0;
        occupancy_[CellIndex(col, row)] = 1;
        MoveAgent(i, col, row);
        break;
      }
    }
  }
  random_ = random;
  CandidatesDrawn += drawn;
}

namespace {

// The free price of an occupied cell: no price is below it.
constexpr double Taken = std::numeric_limits<double>::infinity();

// How many satisfied agents ahead LookForCenters draws and fetches. On a big grid every try is
// a cache miss; drawing ahead lets the misses of several agents overlap.
constexpr int CenterLookahead = 4;

// The ten tries of one satisfied agent, drawn before its turn.
struct CenterDraws {
  std::int32_t agent;
  std::array<std::int32_t, World::CenterTries> cols, rows;
  std::array<Random, World::CenterTries> after;  // the generator just after each try
};

}  // namespace

void World::RebuildFreePrices() {
  const TGrid::CellVector& cells = grid.Cells();
  freePrices_.resize(cells.size());
  for (std::size_t k = 0; k < cells.size(); ++k) {
    freePrices_[k] = cells[k].occupied ? Taken : cells[k].localPrice;
  }
}

void World::LookForCenters() {
  // A try needs a cell's `occupied` and `localPrice`, two cache lines for half the cells. It
  // reads instead one double per cell, the price of a free cell and +infinity for an occupied
  // one: a price is below it only where a price is below the cell's price and the cell is free.
  // The array is a twentieth of the grid's memory, so far more of it stays in cache. It is made
  // afresh here, since the cells may have been changed since the last step, and kept in step
  // with every move the phase makes.
  RebuildFreePrices();
  if (freePrices_.size() > DrawAheadCells) {
    LookForCentersDrawingAhead();
  } else {
    LookForCentersInTurn();
  }
}

void World::TakeCenter(std::int32_t i, double current, std::int32_t col, std::int32_t row) {
  const TAgent& agent = Agents[std::size_t(i)];
  freePrices_[CellIndex(agent.col, agent.row)] = current;  // the cell left is free now
  freePrices_[CellIndex(col, row)] = Taken;
  MoveAgent(i, col, row);
}

void World::LookForCentersInTurn() {
  Random random = random_;
  std::int64_t drawn = 0;
  const std::int32_t count = static_cast<std::int32_t>(Agents.size());
  for (std::int32_t i = 0; i < count; ++i) {
    const TAgent& agent = Agents[std::size_t(i)];
    if (!agent.satisfied) continue;
    const double current = CellOf(agent).localPrice;
    // All ten tries are drawn and tested without a branch between them, since a test alone is
    // a coin toss for the branch predictor. The generator is then put back to just after the
    // try taken, so the draws are exactly those of trying one after another.
    std::array<std::int32_t, CenterTries> cols, rows;
    std::array<Random, CenterTries> after;
    unsigned takeable = 0;
    for (int attempt = 0; attempt < CenterTries; ++attempt) {
      DrawCandidate(random, agent, cols[attempt], rows[attempt]);
      after[attempt] = random;
      const bool cheaperAndFree = freePrices_[CellIndex(cols[attempt], rows[attempt])] < current;
      takeable |= unsigned(cheaperAndFree) << attempt;
    }
    if (takeable == 0) {
      drawn += CenterTries;
      continue;
    }
    const int taken = std::countr_zero(takeable);
    random = after[taken];
    drawn += taken + 1;
    TakeCenter(i, current, cols[taken], rows[taken]);
  }
  random_ = random;
  CandidatesDrawn += drawn;
}

void World::LookForCentersDrawingAhead() {
  // The draws of later agents depend only on how many draws earlier agents used, and an agent
  // uses all ten unless it moves, which is rare. So the tries of the next few satisfied agents
  // are drawn ahead assuming nobody moves, and their cells fetched meanwhile. A move before the
  // last try shows the guess wrong: the draws ahead are thrown away and made again from the
  // generator as it truly stands. Every test is made in turn against the prices as they are then,
  // so the outcome is exactly that of trying one candidate after another.
  std::array<CenterDraws, CenterLookahead> ring;
  int head = 0;  // ring slot of the next agent to test
  int ready = 0;  // agents drawn ahead and not yet tested
  std::int32_t nextToDraw = 0;
  Random ahead = random_;  // the generator as it stands at nextToDraw if nobody moves before
  std::int64_t drawn = 0;
  const std::int32_t count = static_cast<std::int32_t>(Agents.size());
  const auto drawAhead = [&] {
    for (; ready < CenterLookahead && nextToDraw < count; ++nextToDraw) {
      const TAgent& agent = Agents[std::size_t(nextToDraw)];
      if (!agent.satisfied) continue;
      CenterDraws& d = ring[(head + ready) % CenterLookahead];
      d.agent = nextToDraw;
      __builtin_prefetch(&CellOf(agent).localPrice);
      for (int attempt = 0; attempt < CenterTries; ++attempt) {
        DrawCandidate(ahead, agent, d.cols[attempt], d.rows[attempt]);
        d.after[attempt] = ahead;
        __builtin_prefetch(&freePrices_[CellIndex(d.cols[attempt], d.rows[attempt])]);
      }
      ++ready;
    }
  };

  drawAhead();
  while (ready > 0) {
    const CenterDraws& d = ring[head];
    head = (head + 1) % CenterLookahead;
    --ready;
    const double current = CellOf(Agents[std::size_t(d.agent)]).localPrice;
    // The ten tests are made without a branch between them, since a test alone is a coin toss
    // for the branch predictor; the first takeable try wins.
    unsigned takeable = 0;
    for (int attempt = 0; attempt < CenterTries; ++attempt) {
      const bool cheaperAndFree =
          freePrices_[CellIndex(d.cols[attempt], d.rows[attempt])] < current;
      takeable |= unsigned(cheaperAndFree) << attempt;
    }
    if (takeable == 0) {
      drawn += CenterTries;
    } else {
      const int taken = std::countr_zero(takeable);
      drawn += taken + 1;
      TakeCenter(d.agent, current, d.cols[taken], d.rows[taken]);
      if (taken != CenterTries - 1) {
        ahead = d.after[taken];  // fewer draws used than guessed: later draws start again
        ready = 0;
        nextToDraw = d.agent + 1;
      }
    }
    drawAhead();
  }
  random_ = ahead;
  CandidatesDrawn += drawn;
}

void World::MoveAgent(std::int32_t i, std::int32_t newCol, std::int32_t newRow) {
  TAgent& agent = Agents[std::size_t(i)];
  TCell& old = CellOf(agent);
  TCell& target = grid.At(newCol, newRow);
  old.occupied = false;
  view_->DrawCell(old, inputs_->CatchmentShown());  // paints over the old disc
  agent.col = newCol;
  agent.row = newRow;
  agent.SetPositionX(newCol * CellPitch + 5);
  agent.SetPositionY(newRow * CellPitch + 5);
  target.occupied = true;
  target.SetState(agent.colour);
  target.occupant = i;
  MoveCustomer(target, old.catchment);
}

void World::ShowPriceScape() {
  // Only the lowest byte is drawn, so prices above about 28.4 come round as bands of grey.
  for (TCell& cell : grid.Cells()) cell.grey = RoundToInt32(cell.localPrice * 9.0);
}

void World::GrayCells() {
  for (TCell& cell : grid.Cells()) cell.grey = 180;
}

void World::RedrawCells() {
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
  for (TAgent& agent : Agents) DrawAgent(agent);
}

void World::CountStep() {
  StepCount += 1;
  view_->ShowStepCount(StepCount);
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
  view_->FeedChart(*this);
}

void World::NewSetup() {
  StepCount = 0;
  std::vector<TAgent>().swap(Agents);
  view_->ResetChartRange();
  ResetWorld();
  CreateAgents();  // may throw: the World then stays reset but holds no agents
  SweepCount = 0;
}

}  // namespace zelmora
