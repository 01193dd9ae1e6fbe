// The relocation phases at the cost of what changes. Both test their tries on compact copies
// instead of the cells: RelocateUnsatisfied on one byte per cell, LookForCenters on one double
// per cell (the price of a free cell, +infinity for an occupied one), small enough to stay in
// cache where a try on the cells would be a cache miss. MoveAgent keeps the copies in step.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>

#include "simulation/ModelMath.h"
#include "simulation/World.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zelmora {

namespace {

// The candidate of the window tables colAt and rowAt (see LookForCentersInTurn) that the
// generator output x draws: column from its upper half, row from its lower, each in [0, 20) as
// BelowTwice(20) has it where it does not reject.
inline std::size_t DrawnCell(std::uint64_t x, const std::size_t* colAt, const std::size_t* rowAt) {
  return rowAt[((x & 0xffffffffu) * 5) >> 30] + colAt[((x >> 32) * 5) >> 30];
}

// Negative where either draw whose products by 5 are c5 and r5 may be rejected: where the low 30
// bits of the two, ANDed, are below 4 (see LookForCentersInTurn).
inline std::uint64_t NearRejection(std::uint64_t c5, std::uint64_t r5) { return ((c5 & r5) & 0x3fffffffu) - 4; }

// The same mark from the output x alone, for draws whose cells are not needed, in fewer steps:
// x * 5 holds the row's product in its low half, and the column's in its high half plus at most
// 4 carried over, so the column's low 30 bits below 4 show there as below 8 (more false alarms).
inline std::uint64_t NearRejection(std::uint64_t x) {
  const std::uint64_t z = x * 5;
  return ((z & (z >> 32)) & 0x3fffffffu) - 8;
}

}  // namespace

// Defined here, beside the phases whose loops it sits in.
void World::MoveInCopies(std::int32_t i, std::size_t from, std::int32_t newCol, std::int32_t newRow) {
  const std::size_t to = CellIndex(newCol, newRow);
  TAgent& agent = Agents[std::size_t(i)];
  if (aroundKnown_) {
    // The agent leaves its neighbours' bytes at its old cell and enters them at the new one.
    const std::uint8_t part = std::uint8_t(1 + (agent.colour << 4));
    MoveAround(std::size_t(agent.col), std::size_t(agent.row), std::uint8_t(0 - part));
    MoveAround(std::size_t(newCol), std::size_t(newRow), part);
  }
  cellState_[from] = 0;
  cellState_[to] = std::uint8_t(1 + agent.colour);
  occupied_[from / 64] &= ~(std::uint64_t(1) << (from % 64));
  occupied_[to / 64] |= std::uint64_t(1) << (to % 64);
  ++moveCount_;
  NoteChanged(from);
  NoteChanged(to);
  const std::size_t words = (std::size_t(GridCols) + 63) / 64;
  arrived_[std::size_t(newRow) * words + std::size_t(newCol) / 64] |= std::uint64_t(1) << (newCol % 64);
  TakePlace(agent, newCol, newRow);
}

// Adds part (modulo 256: a part taken off is its negative) to the neighbour bytes of the eight
// cells around (col, row).
void World::MoveAround(std::size_t col, std::size_t row, std::uint8_t part) {
  const std::size_t* colAt = wrapCol_.data() + col + 9;       // colAt[d]: col + d - 1
  const std::size_t* rowAt = wrapRowStart_.data() + row + 9;  // rowAt[d]: start of row + d - 1
  std::uint8_t* around = around_.data();
  for (int dr = 0; dr < 3; ++dr) {
    std::uint8_t* line = around + rowAt[dr];
    line[colAt[0]] += part;
    if (dr != 1) line[colAt[1]] += part;
    line[colAt[2]] += part;
  }
}

void World::NoteChanged(std::size_t cell) {
  if (evaluateAll_ || countRows_) return;
  changed_.push_back(std::uint32_t(cell));
  // Past this many the next evaluation counts every row anyway: the rest need not be noted.
  // Where the neighbour bytes are kept, a block costs a few instructions a cell, and the rows
  // pay only past many more.
  if (changed_.size() * (aroundKnown_ ? 16 : 128) > cellState_.size()) {
    countRows_ = true;
    changed_.clear();
    aroundKnown_ = false;  // nor need the moves keep the neighbour bytes
  }
}

void World::RelocateUnsatisfiedFast() {
  // A satisfied agent would register again on a cell that already names it (the copies hold
  // only while every agent's cell does): only the unsatisfied agents have anything to do. They
  // are counted as their flags flip, and found in list order from one bit each under one bit per
  // 64 of them, so a settled grid costs nothing here.
  const std::int64_t unsatisfied = unsatisfiedCount_;
  SatisfiedCount = std::int32_t(std::int64_t(Agents.size()) - unsatisfied);
  MovedCount = std::int32_t(unsatisfied);
  if (unsatisfied == 0) return;
  block_.clear();
  for (std::size_t group = 0; group < unsatisfiedWords_.size(); ++group) {
    for (std::uint64_t words = unsatisfiedWords_[group]; words != 0; words &= words - 1) {
      const std::size_t word = group * 64 + std::size_t(std::countr_zero(words));
      for (std::uint64_t bits = unsatisfied_[word]; bits != 0; bits &= bits - 1) {
        block_.push_back(std::uint32_t(word * 64) + std::uint32_t(std::countr_zero(bits)));
      }
    }
  }
  // A window paints a cell as it is left, so it must see each move at once. Without one, a move
  // changes at once only what the tries read, the occupancy copies, and the agent; the rest of
  // each move, scattered over the grid, follows after the tries (WriteMoves).
  const bool together = !ViewDraws();
  moves_.clear();
  std::uint64_t state = random_.State();  // kept in a register through the try loop
  std::int64_t drawn = 0;
  constexpr std::size_t ahead = 8;
  for (std::size_t j = 0; j < block_.size(); ++j) {
    if (j + ahead < block_.size()) __builtin_prefetch(&Agents[block_[j + ahead]]);
    const std::int32_t i = std::int32_t(block_[j]);
    const TAgent& agent = Agents[std::size_t(i)];
    const std::int64_t to = TryToRelocate(agent, state, drawn);
    if (to < 0) continue;
    // An unsigned 32-bit division (the cells are numbered in 32 bits, as changed_ notes them):
    // a signed 64-bit one costs several times as much.
    const std::uint32_t cell = std::uint32_t(to), cols = std::uint32_t(GridCols);
    const std::int32_t col = std::int32_t(cell % cols), row = std::int32_t(cell / cols);
    if (together) {
      const std::size_t from = CellIndex(agent.col, agent.row);
      MoveInCopies(i, from, col, row);
      moves_.push_back({std::uint32_t(from), std::uint32_t(to), i});
    } else {
      MoveAgent(i, col, row);
    }
  }
  random_.Seed(state);
  CandidatesDrawn += drawn;
  WriteMoves(false);
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
  const std::size_t* colAt = wrapCol_.data() + agent.col;      // colAt[d]: col + d - 10
  const std::size_t* rowAt = wrapRowStart_.data() + agent.row;  // rowAt[d]: start of row + d - 10
  const std::uint64_t* occupied = occupied_.data();
  for (int attempt = 0; attempt < RelocationTries; attempt += 4) {
    std::array<std::size_t, 4> cell;
    std::uint64_t probe = state, near = 0;
    unsigned free = 0;
    for (int t = 0; t < 4; ++t) {
      probe += Random::Increment;
      const std::uint64_t x = Random::Output(probe);
      const std::uint64_t c5 = (x >> 32) * 5, r5 = (x & 0xffffffffu) * 5;
      near |= NearRejection(c5, r5);
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
        DrawCandidate(random, agent, col, row);
        if (cellState_[CellIndex(col, row)] == 0) {
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

// The rest of the moves just made, in their order: the cells, the other copies, the customers.
// The lines each needs are fetched a few moves ahead, so the misses overlap instead of following
// one another.
void World::WriteMoves(bool freePricesDone) {
  constexpr std::size_t ahead = 16;
  TCell* cells = grid.Cells().data();
  // Many moves would each fetch two more lines for the free prices, which only the next
  // LookForCenters reads: it makes them afresh instead, as it does after a step that did not
  // look for centers, since the next one likely will not either.
  const std::size_t n = moves_.size();
  if (!freePricesDone) {
    relocationDroppedFreePrices_ = n > cellState_.size() / 32;
    if (relocationDroppedFreePrices_ || !centersLastStep_) freePricesKnown_ = false;
  }
  const bool free = freePricesKnown_ && !freePricesDone;
  // Inlined by force: GCC takes a function of nothing but prefetches for one without effects
  // and drops the calls to it.
  const auto fetch = [&](const Move& move) __attribute__((always_inline)) {
    const char* to = reinterpret_cast<const char*>(cells + move.to);
    __builtin_prefetch(&cells[move.from].occupied, 1);
    __builtin_prefetch(to, 1);
    __builtin_prefetch(to + 64, 1);
    __builtin_prefetch(to + sizeof(TCell) - 1, 1);
    __builtin_prefetch(&occupantOf_[move.to], 1);
    __builtin_prefetch(&catchment_[move.from]);
    __builtin_prefetch(&catchment_[move.to]);
    if (!free) return;
    __builtin_prefetch(&price_[move.from]);
    __builtin_prefetch(&freePrices_[move.from], 1);
    __builtin_prefetch(&freePrices_[move.to], 1);
  };
  std::array<TCell*, MarketCount> market;
  for (int m = 0; m < MarketCount; ++m) market[m] = &MarketCell(m);
  for (std::size_t j = 0; j < std::min(n, ahead); ++j) fetch(moves_[j]);
  for (std::size_t j = 0; j < n; ++j) {
    if (j + ahead < n) fetch(moves_[j + ahead]);
    const Move& move = moves_[j];
    cells[move.from].occupied = false;
    // The taken cell stays the agent's for the rest of the phase: its copy holds its colour.
    TCell& target = cells[move.to];
    target.occupied = true;
    target.SetState(cellState_[move.to] - 1);
    target.occupant = move.agent;
    occupantOf_[move.to] = move.agent;
    if (free) MoveInFreePrices(move.from, move.to);
    // MoveCustomer, with the catchments from their copy.
    market[catchment_[move.from]]->customers -= 1;
    market[catchment_[move.to]]->customers += 1;
  }
  moves_.clear();
}

namespace {

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

void World::LookForCentersFast() {
  if (!freePricesKnown_) {
    // Chosen by a mask, not a branch: a cell is taken or free as a coin falls, and a branch
    // would be mispredicted every other cell.
    const std::uint64_t taken = std::bit_cast<std::uint64_t>(detail::Taken);
    const std::uint8_t* state = cellState_.data();
    const double* price = price_.data();
    double* freePrices = freePrices_.data();
    for (std::size_t k = 0; k < freePrices_.size(); ++k) {
      const std::uint64_t occupied = 0 - std::uint64_t(state[k] != 0);
      freePrices[k] = std::bit_cast<double>((std::bit_cast<std::uint64_t>(price[k]) & ~occupied) | (taken & occupied));
    }
    FreePricesMade();
  }
  moves_.clear();
  if (freePrices_.size() > DrawAheadCells) {
    LookForCentersDrawingAhead();
  } else {
    // Where many agents found a cheaper cell last time, the tries note which are cheaper; where
    // few did, only the lowest free price, and the few that find one look again.
    if (centersMovedMuch_) {
      LookForCentersInTurn<true>();
    } else {
      LookForCentersInTurn<false>();
    }
  }
  WriteMoves(true);
}

// A move of LookForCenters: what later tries read (occupancy, free prices) at once, the rest
// with the other moves after the phase, as in the relocation, unless a window paints the cell
// left.
void World::MoveToCheaper(std::int32_t i, std::int32_t col, std::int32_t row) {
  if (ViewDraws()) {
    MoveAgent(i, col, row);
    return;
  }
  const TAgent& agent = Agents[std::size_t(i)];
  const std::size_t from = CellIndex(agent.col, agent.row), to = CellIndex(col, row);
  MoveInCopies(i, from, col, row);
  NoteCheaperMove(i, from, to);
}

// What the later tries read of a move, at once: the cell left is free at its price, the cell
// taken is not; and the move noted for WriteMoves.
void World::NoteCheaperMove(std::int32_t i, std::size_t from, std::size_t to) {
  MoveInFreePrices(from, to);
  moves_.push_back({std::uint32_t(from), std::uint32_t(to), i});
}

void World::MoveInFreePrices(std::size_t from, std::size_t to) {
  const double was = freePrices_[to];
  freePrices_[from] = price_[from];
  freePrices_[to] = detail::Taken;
  if (!blocksKnown_) return;
  const std::size_t taken = BlockOf(to);
  if (!(blockLowest_[taken] < was) && !allBlocksStale_) {
    // Its lowest may have risen. Past a quarter of the blocks they are all made again anyway.
    staleBlocks_.push_back(std::uint32_t(taken));
    allBlocksStale_ = staleBlocks_.size() * 4 > blockLowest_.size();
  }
  const double price = price_[from];
  const std::size_t left = BlockOf(from);
  blockLowest_[left] = std::min(blockLowest_[left], price);
  ForBlocksAround(left, [&](std::size_t block) { aroundLowest_[block] = std::min(aroundLowest_[block], price); });
}

bool World::KeepsBlocks() const {
  return GridCols % kBlock == 0 && GridRows % kBlock == 0 && GridCols >= 3 * kBlock && GridRows >= 3 * kBlock;
}

// The lowest free price in a block, from its cells.
double World::LowestInBlock(std::size_t block) const {
  const std::size_t cols = std::size_t(GridCols), blockCols = cols / kBlock;
  const std::size_t first = block / blockCols * kBlock * cols + block % blockCols * kBlock;
  double lowest = detail::Taken;
  for (std::size_t r = 0; r < std::size_t(kBlock); ++r) {
    const double* at = freePrices_.data() + first + r * cols;
    for (std::size_t j = 0; j < std::size_t(kBlock); ++j) lowest = std::min(lowest, at[j]);
  }
  return lowest;
}

void World::LowestAround(std::size_t block) {
  double lowest = detail::Taken;
  ForBlocksAround(block, [&](std::size_t b) { lowest = std::min(lowest, blockLowest_[b]); });
  aroundLowest_[block] = lowest;
}

// Every block from its cells; or, while the blocks stand, those where a cell was taken since.
void World::RefreshBlocks() {
  const std::size_t blocks = std::size_t(GridCols / kBlock) * std::size_t(GridRows / kBlock);
  if (!blocksKnown_ || allBlocksStale_) {
    blockLowest_.resize(blocks);
    aroundLowest_.resize(blocks);
    for (std::size_t b = 0; b < blocks; ++b) blockLowest_[b] = LowestInBlock(b);
    for (std::size_t b = 0; b < blocks; ++b) LowestAround(b);
    blocksKnown_ = true;
  } else {
    for (const std::uint32_t b : staleBlocks_) blockLowest_[b] = LowestInBlock(b);
    for (const std::uint32_t b : staleBlocks_) ForBlocksAround(b, [this](std::size_t around) { LowestAround(around); });
  }
  staleBlocks_.clear();
  allBlocksStale_ = false;
}

template <bool NoteEach>
void World::LookForCentersInTurn() {
  // On a grid that stays in cache the tries cost what computing them costs, so they are made as
  // cheap as the exact draws allow. Column and row come from tables of wrapped positions, and
  // all ten tries are drawn and tested without a branch between them, since a test alone is a
  // coin toss for the branch predictor; the first cheaper free cell among them is the one
  // trying one after another takes, and the generator is put where that leaves it. A draw in
  // [0, 20) is rejected and drawn again only when the low half of its product is below 16,
  // about once in 2^28 draws: a bound on those halves tells whether any of the ten came near
  // it (a false alarm for a few agents in a thousand), and only then are the tries made one by
  // one. Noting which tries are cheaper (NoteEach) takes five instructions a try; the lowest
  // free price among them one, and where it is cheaper the tries are drawn again up to the
  // first cheaper one: the better way where few agents move.
  // The generator is kept as its state in a register (Random::Output). A draw's product by 20
  // is its product by 5 shifted left by two: the offset is the bits of the product by 5 from 30
  // on, and the low half of the product by 20 four times its low 30 bits, so that a draw is
  // rejected exactly where those bits are below 4.
  std::uint64_t state = random_.State();
  // Every satisfied agent tries, and draws all its tries unless it moves: the draws are counted
  // as those less the ones the movers did not make. No flag changes in this phase.
  const std::int64_t tried = std::int64_t(Agents.size()) - unsatisfiedCount_;
  std::int64_t unmade = 0, moved = 0;
  const TAgent* const agents = Agents.data();
  const double* const freePrices = freePrices_.data();
  // Where many move and no window paints, a move changes at once only the free prices, all the
  // tries read; the rest of it follows after the tries, which keeps the work of a move (a coin
  // toss for the branch predictor) short.
  const bool later = NoteEach && !ViewDraws();
  const std::uint32_t cols = std::uint32_t(GridCols);
  // Where few move, most agents have no cheaper free cell anywhere near: where the lowest free
  // price around an agent's block is not below its own, none of its tries can be taken, and
  // only its draws are made, to know where they leave the generator.
  const bool blocks = !NoteEach && KeepsBlocks();
  if (blocks) RefreshBlocks();
  const double* const aroundLowest = aroundLowest_.data();
  const auto move = [&](const TAgent* agent, std::size_t from, std::size_t to) {
    const std::int32_t i = std::int32_t(agent - agents);
    if (!later) {
      MoveToCheaper(i, std::int32_t(std::uint32_t(to) % cols),
                    std::int32_t(std::uint32_t(to) / cols));
      return;
    }
    NoteCheaperMove(i, from, to);
  };
  // The tries of one satisfied agent, and its move if it makes one.
  const auto look = [&](const TAgent* agent) __attribute__((always_inline)) {
    const std::size_t here = CellIndex(agent->col, agent->row);
    const double current = price_[here];
    const std::size_t* colAt = wrapCol_.data() + agent->col;      // colAt[d]: col + d - 10
    const std::size_t* rowAt = wrapRowStart_.data() + agent->row;  // rowAt[d]: start of row + d - 10
    // Kept as pointers: the compiler would otherwise add the agent's place to every offset.
    asm("" : "+r"(colAt), "+r"(rowAt));
    const std::uint64_t start = state;
    if (blocks && !(aroundLowest[BlockAt(std::size_t(agent->col), std::size_t(agent->row))] < current)) {
      std::uint64_t near = 0;
#pragma GCC unroll 10
      for (int attempt = 0; attempt < CenterTries; ++attempt) {
        state += Random::Increment;
        asm("" : "+r"(state));
        near |= NearRejection(Random::Output(state));
      }
      if (std::int64_t(near) >= 0) return;
      state = start;  // near a rejection: the tries as below
    }
    unsigned takeable = 0;            // NoteEach: bit t, try t is free and cheaper
    double cheapest = detail::Taken;  // otherwise: the lowest free price of the tries
    // Its sign bit is set where a try came near a rejection: where the low 30 bits of its two
    // products by 5, ANDed, are below 4, as they are wherever either draw is rejected (and for a
    // few agents in a thousand besides). An AND, a subtraction and an OR a try, none of them on
    // the two ports that shifts, conditional moves and branches share.
    std::uint64_t near = 0;
#if defined(__SSE2__)
    const __m128d currents = _mm_set1_pd(current);
    __m128d pair = _mm_setzero_pd();
#endif
#pragma GCC unroll 10
    for (int attempt = 0; attempt < CenterTries; ++attempt) {
      state += Random::Increment;
      asm("" : "+r"(state));  // one addition a try, not a constant of its own from the start
      const std::uint64_t x = Random::Output(state);
      const std::uint64_t c5 = (x >> 32) * 5, r5 = (x & 0xffffffffu) * 5;
      near |= NearRejection(c5, r5);
      const std::size_t k = rowAt[r5 >> 30] + colAt[c5 >> 30];
      if constexpr (NoteEach) {
#if defined(__SSE2__)
        // Two tries to a compare: a load into the high half, a compare and a mask for two, where
        // one apiece takes a compare, a flag to a register and its widening.
        static_assert(CenterTries % 2 == 0);
        if (attempt % 2 == 0) {
          pair = _mm_load_sd(freePrices + k);
        } else {
          pair = _mm_loadh_pd(pair, freePrices + k);
          takeable |= unsigned(_mm_movemask_pd(_mm_cmplt_pd(pair, currents))) << (attempt - 1);
        }
#else
        takeable |= unsigned(freePrices[k] < current) << attempt;
#endif
      } else {
        cheapest = std::min(freePrices[k], cheapest);
      }
    }
    if (std::int64_t(near) < 0) [[unlikely]] {
      // Near a rejection: the tries again, one after another, as they truly fall.
      Random random;
      random.Seed(start);
      int attempt = 0;
      std::int32_t col = 0, row = 0;
      bool take = false;
      for (; attempt < CenterTries && !take; ++attempt) {
        DrawCandidate(random, *agent, col, row);
        take = freePrices[CellIndex(col, row)] < current;
      }
      state = random.State();
      unmade += CenterTries - attempt;
      if (take) move(agent, here, CellIndex(col, row));
      moved += take;
      return;
    }
    if (NoteEach ? takeable == 0 : !(cheapest < current)) return;
    // The try taken, drawn again: the generator stands where trying one after another leaves it.
    state = start + Random::Increment;
    std::uint64_t x = Random::Output(state);
    int taken = NoteEach ? std::countr_zero(takeable) : 0;
    if constexpr (NoteEach) {
      state += std::uint64_t(taken) * Random::Increment;
      x = Random::Output(state);
    } else {
      while (!(freePrices[DrawnCell(x, colAt, rowAt)] < current)) {
        state += Random::Increment;
        x = Random::Output(state);
        ++taken;
      }
    }
    unmade += CenterTries - (taken + 1);
    ++moved;
    move(agent, here, DrawnCell(x, colAt, rowAt));
  };
  if constexpr (NoteEach) {
    // The satisfied agents in list order from their bits: where many move, many are unsatisfied
    // too (one in five, say), and a flag tested in turn is a coin toss for the branch predictor.
    const std::size_t words = unsatisfied_.size();
    for (std::size_t w = 0; w < words; ++w) {
      std::uint64_t bits = ~unsatisfied_[w];
      if (w + 1 == words && Agents.size() % 64 != 0)
        bits &= (std::uint64_t(1) << (Agents.size() % 64)) - 1;
      for (; bits != 0; bits &= bits - 1)
        look(agents + w * 64 + std::size_t(std::countr_zero(bits)));
    }
  } else {
    for (const TAgent* agent = agents; agent != agents + Agents.size(); ++agent) {
      if (agent->satisfied) look(agent);
    }
  }
  random_.Seed(state);
  if (later) {
    for (const Move& m : moves_) {
      MoveInCopies(m.agent, m.from, std::int32_t(m.to % cols), std::int32_t(m.to / cols));
    }
  }
  CandidatesDrawn += CenterTries * tried - unmade;
  centersMovedMuch_ = moved * 8 > tried;
}

void World::LookForCentersDrawingAhead() {
  // The draws of later agents depend only on how many draws earlier agents used, and an agent
  // uses all ten unless it moves, which is rare. So the tries of the next few satisfied agents
  // are drawn ahead assuming nobody moves, and their cells fetched meanwhile. A move before the
  // last try shows the guess wrong: the draws ahead are thrown away and made again from the
  // generator as it truly stands. Every test is made in turn against the prices as they are then,
  // so the outcome is exactly that of trying one candidate after another.
  std::array<CenterDraws, CenterLookahead> ring;
  int head = 0;   // ring slot of the next agent to test
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
      __builtin_prefetch(&price_[CellIndex(agent.col, agent.row)]);
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
    const TAgent& agent = Agents[std::size_t(d.agent)];
    const double current = price_[CellIndex(agent.col, agent.row)];
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
      MoveToCheaper(d.agent, d.cols[taken], d.rows[taken]);
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

}  // namespace zelmora
