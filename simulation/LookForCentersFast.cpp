// LookForCenters at the cost of what changes: its tries are tested on one double per cell, the
// price of a free cell and +infinity for an occupied one (FreePrices, CentersFast.cpp), small
// enough to stay in cache where a try on the cells would be a cache miss; where few move, most
// agents are passed by a bound on the free prices around their block. The plain phase is in
// Relocation.cpp.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>

#include "simulation/ModelMath.h"
#include "simulation/WindowDraws.h"
#include "simulation/World.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zelmora {
namespace {

// How many satisfied agents ahead LookForCenters draws and fetches. On a big grid every try is
// a cache miss; drawing ahead lets the misses of several agents overlap.
constexpr int CenterLookahead = 4;
// How many agents ahead LookForCentersInTurn fetches an agent's price on a big grid.
constexpr std::size_t CentersFetchAhead = 8;

// The ten tries of one satisfied agent, drawn before its turn.
struct CenterDraws {
  std::int32_t agent;
  std::array<std::int32_t, World::CenterTries> cols, rows;
  std::array<Random, World::CenterTries> after;  // the generator just after each try
};

}  // namespace

void World::LookForCentersFast() {
  freePrices_.MakeIfUnknown(copies_.State(), prices_.Prices());
  copies_.Pending().clear();
  if (!WindowOfTen(shape_)) {
    LookForCentersInAnyWindow();
  } else if (freePrices_.Cells() > DrawAheadCells && !freePrices_.MovedMuch()) {
    // A big grid where few moved last time: the draws of the next agents are a safe guess.
    LookForCentersDrawingAhead();
  } else {
    // Where many agents found a cheaper cell last time, the tries note which are cheaper (and
    // on a big grid fetch what the next agent may try); where few did, only the lowest free
    // price, and the few that find one look again.
    if (freePrices_.MovedMuch()) {
      LookForCentersInTurn<true>();
    } else {
      LookForCentersInTurn<false>();
    }
  }
  WriteMoves(true);
}

// Any other window: each satisfied agent's tries one after another, as the plain phase makes
// them, tested on the free prices (a taken cell's is +infinity, never cheaper).
void World::LookForCentersInAnyWindow() {
  if (freePrices_.Cells() > DrawAheadCells) {
    LookForCentersInAnyWindowFetching();
    return;
  }
  const double* const freePrice = freePrices_.Data();
  const double* const price = prices_.Prices();
  for (std::int32_t i = 0; i < static_cast<std::int32_t>(Agents.size()); ++i) {
    if (copies_.Unsatisfied(std::size_t(i))) continue;
    const TAgent& agent = Agents[std::size_t(i)];
    const double current = price[CellIndex(agent.col, agent.row)];
    for (int attempt = 0; attempt < CenterTries; ++attempt) {
      ++CandidatesDrawn;
      std::int32_t col, row;
      if (DrawCandidate(random_, agent, col, row) && freePrice[CellIndex(col, row)] < current) {
        MoveToCheaper(i, col, row);
        break;
      }
    }
  }
}

// The same on a grid larger than the caches, where every try is a miss. A draw does not depend on
// what the tries before it found, so an agent's ten candidates are all drawn before the first is
// tested and their cells fetched together; meanwhile the cells the next agent may try (the
// outputs after this agent's first and up to twenty on, as they fall where no draw is rejected)
// and the own price of an agent a few later are fetched too.
void World::LookForCentersInAnyWindowFetching() {
  const double* const freePrice = freePrices_.Data();
  const double* const price = prices_.Prices();
  const std::int32_t count = static_cast<std::int32_t>(Agents.size());
  const std::int32_t w = shape_.windowHalfWidth;
  const std::uint64_t width = std::uint64_t(2 * w);
  const auto fetchTries = [&](const TAgent& agent, std::uint64_t state) {
    for (int t = 0; t < 2 * CenterTries; ++t) {
      state += Random::Increment;
      const std::uint64_t x = Random::Output(state);
      std::int32_t col = agent.col + std::int32_t(((x >> 32) * width) >> 32) - w;
      std::int32_t row = agent.row + std::int32_t(((x & 0xffffffffu) * width) >> 32) - w;
      if (OnGrid(col, row)) __builtin_prefetch(freePrice + CellIndex(col, row));
    }
  };
  std::array<std::int32_t, CenterTries> cols, rows;
  std::array<std::uint64_t, CenterTries> after;  // the generator just after each try
  std::array<std::size_t, CenterTries> cells;
  for (std::int32_t i = 0; i < count; ++i) {
    if (i + std::int32_t(CentersFetchAhead) < count) {
      const TAgent& later = Agents[std::size_t(i) + CentersFetchAhead];
      __builtin_prefetch(price + CellIndex(later.col, later.row));
    }
    if (copies_.Unsatisfied(std::size_t(i))) continue;
    const TAgent& agent = Agents[std::size_t(i)];
    if (i + 1 < count) fetchTries(Agents[std::size_t(i) + 1], random_.State() + Random::Increment);
    const std::size_t here = CellIndex(agent.col, agent.row);
    const double current = price[here];
    Random random = random_;
    for (int t = 0; t < CenterTries; ++t) {
      // A draw off a bounded grid is a failed try: it reads the agent's own cell, never free.
      const bool on = DrawCandidate(random, agent, cols[std::size_t(t)], rows[std::size_t(t)]);
      after[std::size_t(t)] = random.State();
      cells[std::size_t(t)] = on ? CellIndex(cols[std::size_t(t)], rows[std::size_t(t)]) : here;
    }
    // Apart from the draws, so that all ten loads are under way at once.
    unsigned takeable = 0;
    for (int t = 0; t < CenterTries; ++t) takeable |= unsigned(freePrice[cells[std::size_t(t)]] < current) << t;
    const int taken = takeable == 0 ? CenterTries - 1 : std::countr_zero(takeable);
    random_.Seed(after[std::size_t(taken)]);
    CandidatesDrawn += taken + 1;
    if (takeable != 0) MoveToCheaper(i, cols[std::size_t(taken)], rows[std::size_t(taken)]);
  }
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
  freePrices_.Move(from, to, prices_.Prices());
  copies_.Pending().push_back({std::uint32_t(from), std::uint32_t(to), i});
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
  const std::int64_t tried = std::int64_t(Agents.size()) - copies_.UnsatisfiedCount();
  std::int64_t unmade = 0, moved = 0;
  const TAgent* const agents = Agents.data();
  const double* const freePrices = freePrices_.Data();
  const double* const prices = prices_.Prices();
  // Where many move and no window paints, a move changes at once only the free prices, all the
  // tries read; the rest of it follows after the tries, which keeps the work of a move (a coin
  // toss for the branch predictor) short.
  const bool later = NoteEach && !ViewDraws();
  const std::uint32_t cols = std::uint32_t(GridCols);
  // Where few move, most agents have no cheaper free cell anywhere near: where the lowest free
  // price around an agent's block is not below its own, none of its tries can be taken, and
  // only its draws are made, to know where they leave the generator.
  const bool blocks = !NoteEach && freePrices_.KeepsBlocks();
  if (blocks) freePrices_.RefreshBlocks();
  const double* const aroundLowest = freePrices_.AroundLowest();
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
    const double current = prices[here];
    const std::size_t* colAt = copies_.ColAt() + agent->col;      // colAt[d]: col + d - 10
    const std::size_t* rowAt = copies_.RowStartAt() + agent->row;  // rowAt[d]: start of row + d - 10
    // Kept as pointers: the compiler would otherwise add the agent's place to every offset.
    asm("" : "+r"(colAt), "+r"(rowAt));
    const std::uint64_t start = state;
    if (blocks && !(aroundLowest[freePrices_.BlockAt(std::size_t(agent->col), std::size_t(agent->row))] < current)) {
      std::uint64_t near = 0;
#pragma GCC unroll 10
      for (int attempt = 0; attempt < CenterTries; ++attempt) {
        state += Random::Increment;
        asm("" : "+r"(state));
        near |= detail::NearRejection(Random::Output(state));
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
      near |= detail::NearRejection(c5, r5);
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
        DrawWindowCandidate(random, *agent, col, row);
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
      while (!(freePrices[detail::DrawnCell(x, colAt, rowAt)] < current)) {
        state += Random::Increment;
        x = Random::Output(state);
        ++taken;
      }
    }
    unmade += CenterTries - (taken + 1);
    ++moved;
    move(agent, here, detail::DrawnCell(x, colAt, rowAt));
  };
  if constexpr (NoteEach) {
    // The satisfied agents in list order from their bits: where many move, many are unsatisfied
    // too (one in five, say), and a flag tested in turn is a coin toss for the branch predictor.
    // On a grid larger than the caches every try is a miss. The tries of the next agent are not
    // known until this one has moved or not, but they lie among the outputs 2 to 20 after this
    // one's start whatever it does: those cells are fetched while this one tries, and the own
    // price of the agent a few after.
    const std::vector<std::uint64_t>& unsatisfied = copies_.UnsatisfiedBits();
    const std::size_t words = unsatisfied.size();
    const bool fetch = freePrices_.Cells() > DrawAheadCells;
    const TAgent* const fetchedUntil =
        fetch && Agents.size() > CentersFetchAhead ? agents + Agents.size() - CentersFetchAhead : agents;
    const TAgent* previous = nullptr;
    for (std::size_t w = 0; w < words; ++w) {
      std::uint64_t bits = ~unsatisfied[w];
      if (w + 1 == words && Agents.size() % 64 != 0)
        bits &= (std::uint64_t(1) << (Agents.size() % 64)) - 1;
      for (; bits != 0; bits &= bits - 1) {
        const TAgent* const agent = agents + w * 64 + std::size_t(std::countr_zero(bits));
        if (fetch) {
          if (agent < fetchedUntil) {
            const TAgent& later = agent[CentersFetchAhead];
            __builtin_prefetch(&prices[CellIndex(later.col, later.row)]);
          }
          const std::size_t* colAt = copies_.ColAt() + agent->col;
          const std::size_t* rowAt = copies_.RowStartAt() + agent->row;
          std::uint64_t ahead = state + Random::Increment;
          for (int t = 2; t <= 2 * CenterTries; ++t) {
            ahead += Random::Increment;
            __builtin_prefetch(freePrices + detail::DrawnCell(Random::Output(ahead), colAt, rowAt));
          }
        }
        if (previous != nullptr) look(previous);
        previous = agent;
      }
    }
    if (previous != nullptr) look(previous);
  } else {
    for (const TAgent* agent = agents; agent != agents + Agents.size(); ++agent) {
      if (agent->satisfied) look(agent);
    }
  }
  random_.Seed(state);
  if (later) {
    for (const OccupancyCopy::PendingMove& m : copies_.Pending()) {
      MoveInCopies(m.agent, m.from, std::int32_t(m.to % cols), std::int32_t(m.to / cols));
    }
  }
  CandidatesDrawn += CenterTries * tried - unmade;
  freePrices_.MovedMuch(moved * 8 > tried);
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
      __builtin_prefetch(&prices_.Prices()[CellIndex(agent.col, agent.row)]);
      for (int attempt = 0; attempt < CenterTries; ++attempt) {
        DrawWindowCandidate(ahead, agent, d.cols[attempt], d.rows[attempt]);
        d.after[attempt] = ahead;
        __builtin_prefetch(&freePrices_.Data()[CellIndex(d.cols[attempt], d.rows[attempt])]);
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
    const double current = prices_.Prices()[CellIndex(agent.col, agent.row)];
    // The ten tests are made without a branch between them, since a test alone is a coin toss
    // for the branch predictor; the first takeable try wins.
    unsigned takeable = 0;
    for (int attempt = 0; attempt < CenterTries; ++attempt) {
      const bool cheaperAndFree =
          freePrices_.Data()[CellIndex(d.cols[attempt], d.rows[attempt])] < current;
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
