// RelocateUnsatisfied at the cost of what changes: only the unsatisfied agents, found from their
// bits in the occupancy copy, and their tries tested on its bitmap, small enough to stay in cache
// where a try on the cells would be a cache miss. The plain phase is in Relocation.cpp. Here too
// are the parts of a move both fast relocation phases share: the move in the copies, and the
// cells written after the tries.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <vector>

#include "simulation/ModelMath.h"
#include "simulation/WindowDraws.h"
#include "simulation/World.h"

namespace zelmora {

// Defined here, beside the phases whose loops it sits in.
void World::MoveInCopies(std::int32_t i, std::size_t from, std::int32_t newCol, std::int32_t newRow) {
  const std::size_t to = CellIndex(newCol, newRow);
  TAgent& agent = Agents[std::size_t(i)];
  counts_.Moved(std::size_t(agent.col), std::size_t(agent.row), std::size_t(newCol), std::size_t(newRow),
                agent.colour);
  copies_.Move(from, to, agent.colour);
  TakePlace(agent, newCol, newRow);
}

void World::RelocateUnsatisfiedFast() {
  // A satisfied agent would register again on a cell that already names it (the copies hold
  // only while every agent's cell does): only the unsatisfied agents have anything to do. They
  // are counted as their flags flip, and found in list order from one bit each under one bit per
  // 64 of them, so a settled grid costs nothing here.
  const std::int64_t unsatisfied = copies_.UnsatisfiedCount();
  SatisfiedCount = std::int32_t(std::int64_t(Agents.size()) - unsatisfied);
  MovedCount = std::int32_t(unsatisfied);
  if (unsatisfied == 0) return;
  const bool anywhere = shape_.relocateAnywhere;
  const OccupancyAt now{copies_.Identity(), copies_.Moves(), copies_.Flips()};
  if (!anywhere && windowsFull_ && now == windowsLookedAt_) {
    // Settled with agents that cannot move (every window full, as a small window may be): their
    // tries fail as they did, and cost only where they leave the generator.
    random_.Seed(AfterWindowTries(random_.State(), unsatisfied * RelocationTries));
    CandidatesDrawn += unsatisfied * RelocationTries;
    WriteMoves(false);
    return;
  }
  std::vector<std::uint32_t>& list = copies_.Listed();
  list.clear();
  const std::vector<std::uint64_t>& summary = copies_.UnsatisfiedWords();
  const std::vector<std::uint64_t>& unsatisfiedBits = copies_.UnsatisfiedBits();
  for (std::size_t group = 0; group < summary.size(); ++group) {
    for (std::uint64_t words = summary[group]; words != 0; words &= words - 1) {
      const std::size_t word = group * 64 + std::size_t(std::countr_zero(words));
      for (std::uint64_t bits = unsatisfiedBits[word]; bits != 0; bits &= bits - 1) {
        list.push_back(std::uint32_t(word * 64) + std::uint32_t(std::countr_zero(bits)));
      }
    }
  }
  // A window paints a cell as it is left, so it must see each move at once. Without one, a move
  // changes at once only what the tries read, the occupancy copies, and the agent; the rest of
  // each move, scattered over the grid, follows after the tries (WriteMoves).
  const bool together = !ViewDraws();
  std::vector<OccupancyCopy::PendingMove>& moves = copies_.Pending();
  moves.clear();
  std::uint64_t state = random_.State();  // kept in a register through the try loop
  std::int64_t drawn = 0;
  constexpr std::size_t ahead = 8;
  const bool windowOfTen = WindowOfTen(shape_);
  std::size_t moved = 0;
  if (anywhere) copies_.KeepFreeCells();
  for (std::size_t j = 0; j < list.size(); ++j) {
    if (j + ahead < list.size()) __builtin_prefetch(&Agents[list[j + ahead]]);
    const std::int32_t i = std::int32_t(list[j]);
    const TAgent& agent = Agents[std::size_t(i)];
    const std::int64_t to = anywhere        ? TryAnywhere(state, drawn)
                            : windowOfTen ? TryToRelocate(agent, state, drawn)
                                          : TryInWindow(agent, state, drawn);
    if (to < 0) continue;
    ++moved;
    // An unsigned 32-bit division (the cells are numbered in 32 bits, as changed_ notes them):
    // a signed 64-bit one costs several times as much.
    const std::uint32_t cell = std::uint32_t(to), cols = std::uint32_t(GridCols);
    const std::int32_t col = std::int32_t(cell % cols), row = std::int32_t(cell / cols);
    if (together) {
      const std::size_t from = CellIndex(agent.col, agent.row);
      MoveInCopies(i, from, col, row);
      moves.push_back({std::uint32_t(from), std::uint32_t(to), i});
    } else {
      MoveAgent(i, col, row);
    }
  }
  random_.Seed(state);
  CandidatesDrawn += drawn;
  WriteMoves(false);
  // Nobody moved, so the occupancy and the flags are as they were: whether anybody could, once
  // for them.
  if (moved == 0 && !anywhere && !(now == windowsLookedAt_)) {
    windowsLookedAt_ = now;
    windowsFull_ = std::all_of(list.begin(), list.end(), [&](std::uint32_t i) { return WindowFull(Agents[i]); });
  }
}

bool World::WindowFull(const TAgent& agent) const {
  const std::int32_t w = shape_.windowHalfWidth;
  const std::uint8_t* const occupancy = copies_.State();
  for (std::int32_t dr = -w; dr < w; ++dr) {
    for (std::int32_t dc = -w; dc < w; ++dc) {
      std::int32_t col = agent.col + dc, row = agent.row + dr;
      if (OnGrid(col, row) && occupancy[CellIndex(col, row)] == 0) return false;
    }
  }
  return true;
}

std::uint64_t World::AfterWindowTries(std::uint64_t state, std::int64_t tries) const {
  // A width that is a power of two never rejects a draw: one output a try.
  const std::uint32_t width = std::uint32_t(2 * shape_.windowHalfWidth);
  if (std::has_single_bit(width)) return state + std::uint64_t(tries) * Random::Increment;
  Random random;
  random.Seed(state);
  std::uint32_t dc, dr;
  for (std::int64_t t = 0; t < tries; ++t) random.BelowTwice(width, dc, dr);
  return random.State();
}

// The tries of one unsatisfied agent: the first free cell among up to 100 candidates, or -1.
// Tries are a coin toss on a half-full grid, a poor bet for the branch predictor, so they are
// made four at a time without a branch between them: four draws ahead of the generator, the
// first free one taken, and the generator put where trying one after another leaves it. The
// generator is its state, in a register (Random::Output), and a draw's bounds come from its
// product by 5 as in LookForCentersInTurn. A draw is rejected and drawn again only where the low
// 30 bits of that product are below 4, about once in 2^28 draws: four tries with any such bits
// near it (a false alarm for a few agents in a thousand) are made one by one instead.
std::int64_t World::TryToRelocate(const TAgent& agent, std::uint64_t& state, std::int64_t& drawn) const {
  static_assert(RelocationTries % 4 == 0);
  const std::size_t* colAt = copies_.ColAt() + agent.col;      // colAt[d]: col + d - 10
  const std::size_t* rowAt = copies_.RowStartAt() + agent.row;  // rowAt[d]: start of row + d - 10
  const std::uint64_t* occupied = copies_.OccupiedBits();
  for (int attempt = 0; attempt < RelocationTries; attempt += 4) {
    std::array<std::size_t, 4> cell;
    std::uint64_t probe = state, near = 0;
    unsigned free = 0;
    for (int t = 0; t < 4; ++t) {
      probe += Random::Increment;
      const std::uint64_t x = Random::Output(probe);
      const std::uint64_t c5 = (x >> 32) * 5, r5 = (x & 0xffffffffu) * 5;
      near |= detail::NearRejection(c5, r5);
      cell[t] = rowAt[r5 >> 30] + colAt[c5 >> 30];
      free |= unsigned(((occupied[cell[t] / 64] >> (cell[t] % 64)) & 1) == 0) << t;
    }
    if (std::int64_t(near) < 0) [[unlikely]] {
      // Near a rejection: the rest of the tries one after another, as they truly fall.
      Random random;
      random.Seed(state);
      for (; attempt < RelocationTries; ++attempt) {
        ++drawn;
        std::int32_t col, row;
        DrawWindowCandidate(random, agent, col, row);
        if (copies_.State()[CellIndex(col, row)] == 0) {
          state = random.State();
          return std::int64_t(CellIndex(col, row));
        }
      }
      state = random.State();
      return -1;
    }
    if (free != 0) {
      const int taken = std::countr_zero(free);
      state += std::uint64_t(taken + 1) * Random::Increment;
      drawn += taken + 1;
      return std::int64_t(cell[std::size_t(taken)]);
    }
    state = probe;
    drawn += 4;
  }
  return -1;
}

// The tries of one unsatisfied agent in any other window, one after another as the plain phase
// makes them, tested on the occupancy copy.
std::int64_t World::TryInWindow(const TAgent& agent, std::uint64_t& state, std::int64_t& drawn) const {
  Random random;
  random.Seed(state);
  const std::uint8_t* const occupancy = copies_.State();
  for (int attempt = 0; attempt < RelocationTries; ++attempt) {
    ++drawn;
    std::int32_t col, row;
    if (DrawCandidate(random, agent, col, row) && occupancy[CellIndex(col, row)] == 0) {
      state = random.State();
      return std::int64_t(CellIndex(col, row));
    }
  }
  state = random.State();
  return -1;
}

// Relocation anywhere: the free cell of a drawn rank among the kept free cells, as
// RelocateAnywhere draws it; the move then keeps them (OccupancyCopy::Move). -1 with none free.
std::int64_t World::TryAnywhere(std::uint64_t& state, std::int64_t& drawn) const {
  if (copies_.FreeCount() == 0) return -1;
  ++drawn;
  Random random;
  random.Seed(state);
  const std::size_t to = copies_.NthFree(random.Below(copies_.FreeCount()));
  state = random.State();
  return std::int64_t(to);
}

// The rest of the moves just made, in their order: the cells, the other copies, the customers.
// The lines each needs are fetched a few moves ahead, so the misses overlap instead of following
// one another.
void World::WriteMoves(bool freePricesDone) {
  constexpr std::size_t ahead = 16;
  TCell* cells = grid.Cells().data();
  std::vector<OccupancyCopy::PendingMove>& moves = copies_.Pending();
  const std::size_t n = moves.size();
  const bool free = !freePricesDone && freePrices_.FollowRelocation(n, copies_.Cells());
  const std::uint8_t* const states = copies_.State();
  const std::uint8_t* const catchments = prices_.Catchments();
  const double* const prices = prices_.Prices();
  const double* const freePrices = freePrices_.Data();
  const std::int32_t* const occupants = copies_.Occupant();
  // A reader follows the moves: each is noted with its cells' prices, read from the cells' lines
  // (the taken cell's are fetched whole, the left cell's price line besides).
  std::vector<AgentMove>* const noted =
      moves_.Following() ? moves_.Open(copies_.Identity(), copies_.Moves() - n, n, copies_.Cells()) : nullptr;
  const bool note = noted != nullptr;
  // Inlined by force: GCC takes a function of nothing but prefetches for one without effects
  // and drops the calls to it.
  const auto fetch = [&](const OccupancyCopy::PendingMove& move) __attribute__((always_inline)) {
    const char* to = reinterpret_cast<const char*>(cells + move.to);
    __builtin_prefetch(&cells[move.from].occupied, 1);
    __builtin_prefetch(to, 1);
    __builtin_prefetch(to + 64, 1);
    __builtin_prefetch(to + sizeof(TCell) - 1, 1);
    __builtin_prefetch(&occupants[move.to], 1);
    __builtin_prefetch(&catchments[move.from]);
    __builtin_prefetch(&catchments[move.to]);
    if (note) __builtin_prefetch(&cells[move.from].localPrice);
    if (!free) return;
    __builtin_prefetch(&prices[move.from]);
    __builtin_prefetch(&freePrices[move.from], 1);
    __builtin_prefetch(&freePrices[move.to], 1);
  };
  std::array<TCell*, MarketCount> market;
  for (int m = 0; m < MarketCount; ++m) market[m] = &MarketCell(m);
  const bool priced = HasMarkets();
  for (std::size_t j = 0; j < std::min(n, ahead); ++j) fetch(moves[j]);
  for (std::size_t j = 0; j < n; ++j) {
    if (j + ahead < n) fetch(moves[j + ahead]);
    const OccupancyCopy::PendingMove& move = moves[j];
    cells[move.from].occupied = false;
    // The taken cell stays the agent's for the rest of the phase: its copy holds its colour.
    TCell& target = cells[move.to];
    target.occupied = true;
    target.SetState(states[move.to] - 1);
    target.occupant = move.agent;
    copies_.NoteOccupant(move.to, move.agent);
    if (free) freePrices_.Move(move.from, move.to, prices);
    // MoveCustomer, with the catchments from their copy.
    if (priced) {
      market[catchments[move.from]]->customers -= 1;
      market[catchments[move.to]]->customers += 1;
    }
    if (note) noted->push_back({move.from, move.to, states[move.to] - 1, cells[move.from].localPrice, target.localPrice});
  }
  moves.clear();
}

}  // namespace zelmora
