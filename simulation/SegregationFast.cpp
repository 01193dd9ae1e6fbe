// EvaluateSegregation at the cost of what changed. A cell's counts depend only on who stands in
// its 3 x 3 block, and its agent's flag only on the counts and the threshold. So with the
// threshold as at the last evaluation, only the blocks around cells whose occupant changed since
// (MoveAgent notes them) are counted again, and only agents whose counts changed or who arrived
// can change their flag; every other cell and agent would be given the values they hold
// already. Counting reads the one-byte-per-cell copy of the occupancy; when the changes are many,
// whole rows are counted at once, many cells per instruction. A cell or agent is written only
// where its value differs, so the lines of the big cell array are touched only where something
// changed.
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "simulation/ModelMath.h"
#include "simulation/World.h"

namespace zelmora {

namespace {

// Occupied and white of a cell's byte (0 free, 1 black, 2 white).
inline std::uint8_t Occupied(std::uint8_t s) { return std::uint8_t((s + 1) >> 1); }
inline std::uint8_t White(std::uint8_t s) { return std::uint8_t(s >> 1); }

// The packed counts (same | other << 4) of every cell of a row, from the rows above, here and
// below; meaningless for free cells. column and white are scratch of cols + 2.
void CountRow(const std::uint8_t* above, const std::uint8_t* here, const std::uint8_t* below,
              std::int32_t cols, std::uint8_t* column, std::uint8_t* white, std::uint8_t* counts) {
  // Column sums of the three rows, with the row's ends wrapped round into the padding.
  for (std::int32_t c = 0; c < cols; ++c) {
    column[c + 1] = std::uint8_t(Occupied(above[c]) + Occupied(here[c]) + Occupied(below[c]));
    white[c + 1] = std::uint8_t(White(above[c]) + White(here[c]) + White(below[c]));
  }
  column[0] = column[cols];
  white[0] = white[cols];
  column[cols + 1] = column[1];
  white[cols + 1] = white[1];
  for (std::int32_t c = 0; c < cols; ++c) {
    const std::uint8_t all = std::uint8_t(column[c] + column[c + 1] + column[c + 2]);
    const std::uint8_t whites = std::uint8_t(white[c] + white[c + 1] + white[c + 2]);
    // The block counts the cell itself as a like neighbour. Chosen by a mask, not a branch: the
    // colour is a coin toss from one cell to the next.
    const std::uint8_t white = std::uint8_t(0 - std::uint8_t(here[c] == 2));
    const std::uint8_t like = std::uint8_t((whites & white) | (std::uint8_t(all - whites) & ~white));
    counts[c] = std::uint8_t((like - 1) | (all - like) << 4);
  }
}

// Bit c of occupied: cell c is occupied; of changed: it is occupied and its counts differ from
// known[c]. For up to 64 cells from c = 0.
void VisitMasks(const std::uint8_t* state, const std::uint8_t* counts, const std::uint8_t* known,
                std::int32_t n, std::uint64_t& occupied, std::uint64_t& changed) {
  std::uint64_t taken = 0, differ = 0;
  std::int32_t c = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; c + 16 <= n; c += 16) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + c));
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(counts + c));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(known + c));
    const unsigned free = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(s, zero)));
    const unsigned same = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
    taken |= std::uint64_t(~free & 0xffffu) << c;
    differ |= std::uint64_t(~(free | same) & 0xffffu) << c;
  }
#endif
  for (; c < n; ++c) {
    taken |= std::uint64_t(state[c] != 0) << c;
    differ |= std::uint64_t(state[c] != 0 && counts[c] != known[c]) << c;
  }
  occupied = taken;
  changed = differ;
}

// The packed counts of an occupied cell by its byte (1 black, 2 white) and its neighbour byte
// (occupied | white << 4): like neighbours are the whites of a white cell, the rest of a black
// one's. Row 0 and impossible bytes are never read.
struct CountsByAround {
  std::array<std::array<std::uint8_t, 256>, 3> packed{};
  constexpr CountsByAround() {
    for (int around = 0; around < 256; ++around) {
      const int occupied = around & 15, white = around >> 4;
      if (white > occupied || occupied > 8) continue;
      packed[1][std::size_t(around)] = std::uint8_t((occupied - white) | white << 4);
      packed[2][std::size_t(around)] = std::uint8_t(white | (occupied - white) << 4);
    }
  }
};
constexpr CountsByAround kCountsByAround;

}  // namespace

// Flips an agent's flag where it differs, in the copies; the agent follows in WriteFlags.
inline void World::FlagSatisfied(std::size_t agent, bool satisfied) {
  // Without a branch: where the counts moved, whether a flag flips is a coin toss. The agent is
  // written past the flipped ones, and counted among them only if it flipped; the summary bit
  // is written as its word stands, the same bit where nothing flipped.
  const std::size_t w = agent / 64;
  const std::uint64_t bit = std::uint64_t(1) << (agent % 64);
  std::uint64_t& word = unsatisfied_[w];
  const bool flips = ((word & bit) != 0) == satisfied;
  word ^= bit & (0 - std::uint64_t(flips));
  flipped_[flippedCount_] = std::uint32_t(agent);
  flippedCount_ += flips;
  unsatisfiedCount_ += std::int64_t(flips) * (1 - 2 * std::int64_t(satisfied));
  const std::uint64_t summary = std::uint64_t(1) << (w % 64);
  std::uint64_t& words = unsatisfiedWords_[w / 64];
  words = (words & ~summary) | (summary & (0 - std::uint64_t(word != 0)));
}

std::uint8_t World::CountCell(std::size_t k, std::int32_t col, std::int32_t row) const {
  const std::uint8_t self = cellState_[k];
  std::int32_t occupied = 0;
  std::int32_t like = 0;
  const auto count = [&](std::uint8_t s) {
    occupied += s != 0;
    like += s == self;
  };
  if (col > 0 && col < GridCols - 1 && row > 0 && row < GridRows - 1) {
    // Away from the edges the block needs no wrapping: the cells lie at fixed offsets.
    const std::uint8_t* above = &cellState_[k - std::size_t(GridCols)];
    const std::uint8_t* here = &cellState_[k];
    const std::uint8_t* below = &cellState_[k + std::size_t(GridCols)];
    for (int dc = -1; dc <= 1; ++dc) {
      count(above[dc]);
      count(here[dc]);
      count(below[dc]);
    }
  } else {
    for (std::int32_t dr = -1; dr <= 1; ++dr) {
      for (std::int32_t dc = -1; dc <= 1; ++dc) {
        std::int32_t c = col + dc;
        std::int32_t r = row + dr;
        WrapToTorus(c, r);
        count(cellState_[CellIndex(c, r)]);
      }
    }
  }
  // The cell itself was counted as a like neighbour.
  return std::uint8_t((like - 1) | (occupied - like) << 4);
}

void World::EvaluateSegregationFast() {
  const double threshold = inputs_->ThresholdPercent();
  if (!tableKnown_ || std::bit_cast<std::uint64_t>(threshold) != std::bit_cast<std::uint64_t>(tabledThreshold_)) {
    // The rule for every pair of counts, by their packed byte, worked out with the plain arithmetic.
    satisfiedBy_.fill(false);
    for (std::int32_t same = 0; same <= 8; ++same) {
      for (std::int32_t other = 0; other <= 8; ++other) {
        satisfiedBy_[detail::PackCounts(same, other)] = detail::IsSatisfied(same, other, threshold);
      }
    }
    tabledThreshold_ = threshold;
    tableKnown_ = true;
  }
  const bool all = evaluateAll_ || std::bit_cast<std::uint64_t>(threshold) !=
                                       std::bit_cast<std::uint64_t>(evaluatedThreshold_);
  if (flipped_.size() <= Agents.size()) flipped_.resize(Agents.size() + 1);
  if (all || countRows_) {
    // Counting a block per change would cost more than counting every row.
    EvaluateRows(satisfiedBy_.data(), all);
  } else if (aroundKnown_) {
    EvaluateAround(satisfiedBy_.data());
  } else {
    EvaluateBlocks(satisfiedBy_.data());
  }
  // The moves keep the neighbour bytes for the next evaluation where they were few enough since
  // this one's copies were made: then the next are likely few too. After many, the moves would
  // keep them only to have the rows counted again.
  const bool sameCopy = copyId_ == evaluatedCopyId_;
  if (KeepsAround() && !aroundKnown_ && sameCopy && (moveCount_ - evaluatedMoveCount_) * 2 * 16 <= cellState_.size()) {
    MakeAround();
  }
  evaluatedCopyId_ = copyId_;
  evaluatedMoveCount_ = moveCount_;
  changed_.clear();
  countRows_ = false;
  evaluateAll_ = false;
  evaluatedThreshold_ = threshold;
}

// Each changed cell marks its block once; then the marked occupied cells are counted. The cells
// and agents to write lie anywhere on the grid: they are written afterwards, a few fetched ahead.
void World::EvaluateBlocks(const bool* satisfiedBy) {
  block_.clear();
  for (const std::uint32_t k : changed_) {
    const std::int32_t col = std::int32_t(k % std::uint32_t(GridCols));
    const std::int32_t row = std::int32_t(k / std::uint32_t(GridCols));
    for (std::int32_t dr = -1; dr <= 1; ++dr) {
      for (std::int32_t dc = -1; dc <= 1; ++dc) {
        std::int32_t c = col + dc;
        std::int32_t r = row + dr;
        WrapToTorus(c, r);
        const std::size_t n = CellIndex(c, r);
        if (marked_[n]) continue;
        marked_[n] = 1;
        block_.push_back(std::uint32_t(n));
      }
    }
  }
  constexpr std::size_t ahead = 16;
  std::size_t written = 0;  // block_[0, written): cells whose counts changed
  for (std::size_t j = 0; j < block_.size(); ++j) {
    if (j + ahead < block_.size()) __builtin_prefetch(&occupantOf_[block_[j + ahead]]);
    const std::uint32_t k = block_[j];
    marked_[k] = 0;
    if (cellState_[k] == 0) continue;
    const std::uint8_t packed = CountCell(k, std::int32_t(k % std::uint32_t(GridCols)),
                                          std::int32_t(k / std::uint32_t(GridCols)));
    if (counts_[k] != packed) {
      counts_[k] = packed;
      block_[written++] = k;
    }
    FlagSatisfied(std::size_t(occupantOf_[k]), satisfiedBy[packed]);
  }
  TCell* cells = grid.Cells().data();
  for (std::size_t j = 0; j < written; ++j) {
    if (j + ahead < written) __builtin_prefetch(&cells[block_[j + ahead]].sameNeighbours, 1);
    TCell& cell = cells[block_[j]];
    cell.sameNeighbours = counts_[block_[j]] & 15;
    cell.otherNeighbours = counts_[block_[j]] >> 4;
  }
  WriteFlags();
  const std::size_t words = (std::size_t(GridCols) + 63) / 64;
  for (const std::uint32_t k : changed_) {
    arrived_[k / std::uint32_t(GridCols) * words + k % std::uint32_t(GridCols) / 64] = 0;
  }
}

// Every cell's neighbour byte, from the occupancy: the column sums of each cell's part
// (occupied | white << 4) over three rows, added over three columns, less the cell's own part.
void World::MakeAround() {
  const std::size_t cols = std::size_t(GridCols);
  std::vector<std::uint8_t> column(cols + 2);
  for (std::int32_t row = 0; row < GridRows; ++row) {
    const std::size_t first = std::size_t(row) * cols;
    const std::uint8_t* here = &cellState_[first];
    const std::uint8_t* above = &cellState_[std::size_t(row == 0 ? GridRows - 1 : row - 1) * cols];
    const std::uint8_t* below = &cellState_[std::size_t(row == GridRows - 1 ? 0 : row + 1) * cols];
    const auto part = [](std::uint8_t s) { return std::uint8_t(Occupied(s) | White(s) << 4); };
    for (std::size_t c = 0; c < cols; ++c) column[c + 1] = std::uint8_t(part(above[c]) + part(here[c]) + part(below[c]));
    column[0] = column[cols];
    column[cols + 1] = column[1];
    std::uint8_t* around = &around_[first];
    for (std::size_t c = 0; c < cols; ++c) {
      around[c] = std::uint8_t(column[c] + column[c + 1] + column[c + 2] - part(here[c]));
    }
  }
  aroundKnown_ = true;
}

// EvaluateBlocks from the neighbour bytes: the occupied cells of the changed cells' blocks are
// listed without a branch (a cell is taken or free as a coin falls), each counted by one lookup;
// a cell listed twice is given the same counts and flag again, which changes nothing.
void World::EvaluateAround(const bool* satisfiedBy) {
  const std::size_t cols = std::size_t(GridCols);
  block_.resize(changed_.size() * 9);
  std::uint32_t* list = block_.data();
  const std::uint8_t* state = cellState_.data();
  const std::uint8_t* around = around_.data();
  std::uint64_t* arrived = arrived_.data();
  const std::size_t words = (cols + 63) / 64;
  std::size_t listed = 0;
  for (const std::uint32_t k : changed_) {
    const std::uint32_t col = k % std::uint32_t(cols), row = k / std::uint32_t(cols);
    arrived[row * words + col / 64] = 0;  // the arrivals are visited here: their blocks hold them
    const std::size_t* colAt = wrapCol_.data() + col + 9;       // colAt[d]: col + d - 1
    const std::size_t* rowAt = wrapRowStart_.data() + row + 9;  // rowAt[d]: start of row + d - 1
    for (int dr = 0; dr < 3; ++dr) {
      for (int dc = 0; dc < 3; ++dc) {
        const std::size_t n = rowAt[dr] + colAt[dc];
        list[listed] = std::uint32_t(n);
        listed += state[n] != 0;
      }
    }
  }
  std::size_t written = 0;  // list[0, written): cells whose counts changed
  for (std::size_t j = 0; j < listed; ++j) {
    const std::uint32_t k = list[j];
    const std::uint8_t packed = kCountsByAround.packed[state[k]][around[k]];
    const bool differ = counts_[k] != packed;
    counts_[k] = packed;
    list[written] = k;
    written += differ;
    FlagSatisfied(std::size_t(occupantOf_[k]), satisfiedBy[packed]);
  }
  TCell* cells = grid.Cells().data();
  for (std::size_t j = 0; j < written; ++j) {
    TCell& cell = cells[list[j]];
    cell.sameNeighbours = counts_[list[j]] & 15;
    cell.otherNeighbours = counts_[list[j]] >> 4;
  }
  WriteFlags();
}

// Counts every row at once; writes the cells whose counts changed and sets the flags of their
// agents, or of every agent with everyFlag.
void World::EvaluateRows(const bool* satisfiedBy, bool everyFlag) {
  const std::size_t cols = std::size_t(GridCols);
  std::vector<std::uint8_t> column(cols + 2), white(cols + 2), counts(cols);
  std::vector<std::uint32_t> visits(cols);  // the row's columns to visit, in order
  TGrid::CellVector& cells = grid.Cells();
  // Where the cells outgrow the caches, a row's visits are listed first and the lines of the
  // cells fetched a few visits ahead, so that the misses overlap; on smaller grids the cells
  // stay in cache and the list would only cost.
  const bool fetch = cells.size() > DrawAheadCells;
  constexpr std::size_t ahead = 8;
  for (std::int32_t row = 0; row < GridRows; ++row) {
    const std::size_t first = std::size_t(row) * cols;
    const std::uint8_t* here = &cellState_[first];
    const std::uint8_t* above = &cellState_[std::size_t(row == 0 ? GridRows - 1 : row - 1) * cols];
    const std::uint8_t* below = &cellState_[std::size_t(row == GridRows - 1 ? 0 : row + 1) * cols];
    CountRow(above, here, below, GridCols, column.data(), white.data(), counts.data());
    const auto visitCell = [&](std::size_t c) {
      const std::size_t k = first + c;
      const std::uint8_t packed = counts[c];
      if (counts_[k] != packed) {
        cells[k].sameNeighbours = packed & 15;
        cells[k].otherNeighbours = packed >> 4;
        counts_[k] = packed;
      }
      FlagSatisfied(std::size_t(occupantOf_[k]), satisfiedBy[packed]);
    };
    std::uint64_t* arrived = &arrived_[std::size_t(row) * ((cols + 63) / 64)];
    std::size_t visited = 0;
    for (std::size_t start = 0; start < cols; start += 64) {
      const std::int32_t n = std::int32_t(std::min<std::size_t>(64, cols - start));
      // The cells whose counts changed, and those an agent arrived at; every occupied one when
      // every flag is to be set.
      std::uint64_t occupied, changed;
      VisitMasks(here + start, &counts[start], &counts_[first + start], n, occupied, changed);
      std::uint64_t visit = everyFlag ? occupied : changed | (*arrived & occupied);
      *arrived++ = 0;
      for (; visit != 0; visit &= visit - 1) {
        const std::size_t c = start + std::size_t(std::countr_zero(visit));
        if (fetch) {
          visits[visited++] = std::uint32_t(c);
        } else {
          visitCell(c);
        }
      }
    }
    for (std::size_t j = 0; j < visited; ++j) {
      if (j + ahead < visited) __builtin_prefetch(&cells[first + visits[j + ahead]].sameNeighbours, 1);
      visitCell(visits[j]);
    }
  }
  WriteFlags();
}

// The agents whose flags flipped in the copy, a few fetched ahead.
void World::WriteFlags() {
  constexpr std::size_t ahead = 16;
  for (std::size_t j = 0; j < flippedCount_; ++j) {
    if (j + ahead < flippedCount_) __builtin_prefetch(&Agents[flipped_[j + ahead]].satisfied, 1);
    const std::uint32_t i = flipped_[j];
    Agents[i].satisfied = ((unsatisfied_[i / 64] >> (i % 64)) & 1) == 0;
  }
  flippedCount_ = 0;
}

}  // namespace zelmora
