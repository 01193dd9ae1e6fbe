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

#include "simulation/CopyCheck.h"
#include "simulation/ModelMath.h"
#include "simulation/OccupancyCopy.h"
#include "simulation/SegregationFast.h"
#include "simulation/ModelState.h"

namespace zelmora {

namespace {

// Occupied and white of a cell's byte (0 free, 1 black, 2 white).
inline std::uint8_t Occupied(std::uint8_t s) { return std::uint8_t((s + 1) >> 1); }
inline std::uint8_t White(std::uint8_t s) { return std::uint8_t(s >> 1); }

// The packed counts (same | other << 4) of every cell of a row, from the rows above, here and
// below (a row of free cells off a bounded grid); meaningless for free cells. column and white
// are scratch of cols + 2.
void CountRow(const std::uint8_t* above, const std::uint8_t* here, const std::uint8_t* below,
              std::int32_t cols, bool torus, std::uint8_t* column, std::uint8_t* white, std::uint8_t* counts) {
  // Column sums of the three rows, with the row's ends wrapped round into the padding on the
  // torus; a bounded grid's padding is free.
  for (std::int32_t c = 0; c < cols; ++c) {
    column[c + 1] = std::uint8_t(Occupied(above[c]) + Occupied(here[c]) + Occupied(below[c]));
    white[c + 1] = std::uint8_t(White(above[c]) + White(here[c]) + White(below[c]));
  }
  column[0] = torus ? column[cols] : 0;
  white[0] = torus ? white[cols] : 0;
  column[cols + 1] = torus ? column[1] : 0;
  white[cols + 1] = torus ? white[1] : 0;
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

// What an evaluation reads and writes: the rule by packed counts, the occupancy copy (whose
// flags it flips), the cells and the agents.
struct NeighbourCounts::Pass {
  const bool* satisfiedBy;
  OccupancyCopy& copies;
  TCell* cells;
  std::size_t cellCount;
  // Flips an agent's flag where it differs, in the copy; the agent follows in WriteFlags. The
  // agent is written past the flipped ones, and counted among them only if it flipped.
  void Flag(NeighbourCounts& counts, std::size_t agent, std::uint8_t packed) {
    counts.flipped_[counts.flippedCount_] = std::uint32_t(agent);
    counts.flippedCount_ += copies.Flag(agent, satisfiedBy[packed]);
  }
};

void NeighbourCounts::Size(std::int32_t cols, std::int32_t rows, bool keepsAround, const ModelShape& shape) {
  const std::size_t cells = std::size_t(cols) * std::size_t(rows);
  cols_ = cols;
  rows_ = rows;
  shape_ = shape;
  general_ = shape.radius != 1;
  keepsAround = keepsAround && !general_;
  held_.resize(general_ ? cells : 0);
  live_.resize(general_ ? cells : 0);
  liveKnown_ = false;
  words_ = (std::size_t(cols) + 63) / 64;
  keepsAround_ = keepsAround;
  counts_.resize(cells);
  marked_.assign(cells, 0);
  around_.resize(keepsAround ? cells : 0);
  aroundKnown_ = false;
  changed_.clear();
  countRows_ = false;
  arrived_.assign(std::size_t(rows) * words_, 0);
  evaluateAll_ = true;
}

// Adds part (modulo 256: a part taken off is its negative) to the neighbour bytes of the cells
// around (col, row).
void NeighbourCounts::MoveAround(std::size_t col, std::size_t row, std::uint8_t part) {
  std::uint8_t* around = around_.data();
  ForBlock<false>(col, row, [&](std::size_t n) { around[n] += part; });
}

// Away from the edges the block lies at fixed offsets; a cell on an edge takes its neighbours
// as the plain phase does, wrapped round the torus or cut at a bounded grid's edges.
template <bool self, class Visit>
void NeighbourCounts::ForBlock(std::size_t col, std::size_t row, Visit visit) const {
  const std::size_t cols = std::size_t(cols_);
  if (col > 0 && col + 1 < cols && row > 0 && row + 1 < std::size_t(rows_)) {
    const std::size_t k = row * cols + col;
    visit(k - cols - 1);
    visit(k - cols);
    visit(k - cols + 1);
    visit(k - 1);
    if (self) visit(k);
    visit(k + 1);
    visit(k + cols - 1);
    visit(k + cols);
    visit(k + cols + 1);
    return;
  }
  if (self) visit(row * cols + col);
  ForEachNeighbour(shape_, cols_, rows_, std::int32_t(col), std::int32_t(row),
                   [&](std::int32_t c, std::int32_t r) { visit(std::size_t(r) * cols + std::size_t(c)); });
}

// The row above row, and below it: wrapped round the torus, a row of free cells off a bounded grid.
const std::uint8_t* NeighbourCounts::Above(const std::uint8_t* state, std::int32_t row, const std::uint8_t* none) const {
  if (row > 0) return state + std::size_t(row - 1) * std::size_t(cols_);
  return shape_.torus ? state + std::size_t(rows_ - 1) * std::size_t(cols_) : none;
}

const std::uint8_t* NeighbourCounts::Below(const std::uint8_t* state, std::int32_t row, const std::uint8_t* none) const {
  if (row + 1 < rows_) return state + std::size_t(row + 1) * std::size_t(cols_);
  return shape_.torus ? state : none;
}

std::uint8_t NeighbourCounts::CountCell(const std::uint8_t* state, std::size_t k, std::int32_t col,
                                        std::int32_t row) const {
  const std::uint8_t self = state[k];
  std::int32_t occupied = 0;
  std::int32_t like = 0;
  const auto count = [&](std::uint8_t s) {
    occupied += s != 0;
    like += s == self;
  };
  if (col > 0 && col < cols_ - 1 && row > 0 && row < rows_ - 1) {
    // Away from the edges the block needs no wrapping: the cells lie at fixed offsets.
    const std::uint8_t* above = &state[k - std::size_t(cols_)];
    const std::uint8_t* here = &state[k];
    const std::uint8_t* below = &state[k + std::size_t(cols_)];
    for (int dc = -1; dc <= 1; ++dc) {
      count(above[dc]);
      count(here[dc]);
      count(below[dc]);
    }
  } else {
    ForBlock<true>(std::size_t(col), std::size_t(row), [&](std::size_t n) { count(state[n]); });
  }
  // The cell itself was counted as a like neighbour.
  return std::uint8_t((like - 1) | (occupied - like) << 4);
}

void NeighbourCounts::Evaluate(double threshold, OccupancyCopy& copies, TGrid& grid, std::vector<TAgent>& agents) {
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
  if (flipped_.size() <= agents.size()) flipped_.resize(agents.size() + 1);
  Pass pass{satisfiedBy_.data(), copies, grid.Cells().data(), grid.Cells().size()};
  threshold_ = threshold;
  if (general_) {
    evaluateAll_ = evaluateAll_ || all;
    EvaluateGeneral(pass);
  } else if (all || countRows_) {
    // Counting a block per change would cost more than counting every row.
    EvaluateRows(pass, all);
  } else if (aroundKnown_) {
    EvaluateAround(pass);
  } else {
    EvaluateBlocks(pass);
  }
  WriteFlags(copies, agents);
  // The moves keep the neighbour bytes for the next evaluation where they were few enough since
  // this one's copies were made: then the next are likely few too. After many, the moves would
  // keep them only to have the rows counted again.
  const bool sameCopy = copies.Identity() == evaluatedCopy_;
  if (!general_ && keepsAround_ && !aroundKnown_ && sameCopy && (copies.Moves() - evaluatedMoves_) * 2 * 16 <= counts_.size()) {
    MakeAround(copies);
  }
  evaluatedCopy_ = copies.Identity();
  evaluatedMoves_ = copies.Moves();
  changed_.clear();
  countRows_ = false;
  evaluateAll_ = false;
  evaluatedThreshold_ = threshold;
}

// Each changed cell marks its block once; then the marked occupied cells are counted. The cells
// and agents to write lie anywhere on the grid: they are written afterwards, a few fetched ahead.
void NeighbourCounts::EvaluateBlocks(Pass& pass) {
  const std::uint8_t* const state = pass.copies.State();
  const std::int32_t* const occupant = pass.copies.Occupant();
  block_.clear();
  for (const std::uint32_t k : changed_) {
    ForBlock<true>(k % std::uint32_t(cols_), k / std::uint32_t(cols_), [&](std::size_t n) {
      if (marked_[n]) return;
      marked_[n] = 1;
      block_.push_back(std::uint32_t(n));
    });
  }
  constexpr std::size_t ahead = 16;
  std::size_t written = 0;  // block_[0, written): cells whose counts changed
  for (std::size_t j = 0; j < block_.size(); ++j) {
    if (j + ahead < block_.size()) __builtin_prefetch(&occupant[block_[j + ahead]]);
    const std::uint32_t k = block_[j];
    marked_[k] = 0;
    if (state[k] == 0) continue;
    const std::uint8_t packed = CountCell(state, k, std::int32_t(k % std::uint32_t(cols_)),
                                          std::int32_t(k / std::uint32_t(cols_)));
    if (counts_[k] != packed) {
      counts_[k] = packed;
      block_[written++] = k;
    }
    pass.Flag(*this, std::size_t(occupant[k]), packed);
  }
  TCell* cells = pass.cells;
  for (std::size_t j = 0; j < written; ++j) {
    if (j + ahead < written) __builtin_prefetch(&cells[block_[j + ahead]].sameNeighbours, 1);
    TCell& cell = cells[block_[j]];
    cell.sameNeighbours = counts_[block_[j]] & 15;
    cell.otherNeighbours = counts_[block_[j]] >> 4;
  }
  for (const std::uint32_t k : changed_) {
    arrived_[k / std::uint32_t(cols_) * words_ + k % std::uint32_t(cols_) / 64] = 0;
  }
}

// Every cell's neighbour byte, from the occupancy: the column sums of each cell's part
// (occupied | white << 4) over three rows, added over three columns, less the cell's own part.
void NeighbourCounts::MakeAround(const OccupancyCopy& copies) {
  const std::size_t cols = std::size_t(cols_);
  const std::uint8_t* const state = copies.State();
  std::vector<std::uint8_t> column(cols + 2), none(shape_.torus ? 0 : cols, 0);
  for (std::int32_t row = 0; row < rows_; ++row) {
    const std::size_t first = std::size_t(row) * cols;
    const std::uint8_t* here = &state[first];
    const std::uint8_t* above = Above(state, row, none.data());
    const std::uint8_t* below = Below(state, row, none.data());
    const auto part = [](std::uint8_t s) { return std::uint8_t(Occupied(s) | White(s) << 4); };
    for (std::size_t c = 0; c < cols; ++c) column[c + 1] = std::uint8_t(part(above[c]) + part(here[c]) + part(below[c]));
    column[0] = shape_.torus ? column[cols] : 0;
    column[cols + 1] = shape_.torus ? column[1] : 0;
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
void NeighbourCounts::EvaluateAround(Pass& pass) {
  const std::size_t cols = std::size_t(cols_);
  block_.resize(changed_.size() * 9);
  std::uint32_t* list = block_.data();
  const std::uint8_t* state = pass.copies.State();
  const std::int32_t* const occupant = pass.copies.Occupant();
  const std::uint8_t* around = around_.data();
  std::uint64_t* arrived = arrived_.data();
  const std::size_t words = words_;
  std::size_t listed = 0;
  for (const std::uint32_t k : changed_) {
    const std::uint32_t col = k % std::uint32_t(cols), row = k / std::uint32_t(cols);
    arrived[row * words + col / 64] = 0;  // the arrivals are visited here: their blocks hold them
    ForBlock<true>(col, row, [&](std::size_t n) {
      list[listed] = std::uint32_t(n);
      listed += state[n] != 0;
    });
  }
  std::size_t written = 0;  // list[0, written): cells whose counts changed
  for (std::size_t j = 0; j < listed; ++j) {
    const std::uint32_t k = list[j];
    const std::uint8_t packed = kCountsByAround.packed[state[k]][around[k]];
    const bool differ = counts_[k] != packed;
    counts_[k] = packed;
    list[written] = k;
    written += differ;
    pass.Flag(*this, std::size_t(occupant[k]), packed);
  }
  TCell* cells = pass.cells;
  for (std::size_t j = 0; j < written; ++j) {
    TCell& cell = cells[list[j]];
    cell.sameNeighbours = counts_[list[j]] & 15;
    cell.otherNeighbours = counts_[list[j]] >> 4;
  }
}

// Counts every row at once; writes the cells whose counts changed and sets the flags of their
// agents, or of every agent with everyFlag.
void NeighbourCounts::EvaluateRows(Pass& pass, bool everyFlag) {
  const std::size_t cols = std::size_t(cols_);
  std::vector<std::uint8_t> column(cols + 2), white(cols + 2), counts(cols);
  std::vector<std::uint32_t> visits(cols);  // the row's columns to visit, in order
  std::vector<std::uint8_t> none(shape_.torus ? 0 : cols, 0);
  TCell* const cells = pass.cells;
  const std::uint8_t* const state = pass.copies.State();
  const std::int32_t* const occupant = pass.copies.Occupant();
  // Where the cells outgrow the caches, a row's visits are listed first and the lines of the
  // cells fetched a few visits ahead, so that the misses overlap; on smaller grids the cells
  // stay in cache and the list would only cost.
  const bool fetch = pass.cellCount > DrawAheadCells;
  constexpr std::size_t ahead = 8;
  for (std::int32_t row = 0; row < rows_; ++row) {
    const std::size_t first = std::size_t(row) * cols;
    const std::uint8_t* here = &state[first];
    CountRow(Above(state, row, none.data()), here, Below(state, row, none.data()), cols_, shape_.torus, column.data(),
             white.data(), counts.data());
    const auto visitCell = [&](std::size_t c) {
      const std::size_t k = first + c;
      const std::uint8_t packed = counts[c];
      if (counts_[k] != packed) {
        cells[k].sameNeighbours = packed & 15;
        cells[k].otherNeighbours = packed >> 4;
        counts_[k] = packed;
      }
      pass.Flag(*this, std::size_t(occupant[k]), packed);
    };
    std::uint64_t* arrived = &arrived_[std::size_t(row) * words_];
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
}

// The agents whose flags flipped in the copy, a few fetched ahead.
void NeighbourCounts::WriteFlags(const OccupancyCopy& copies, std::vector<TAgent>& agents) {
  constexpr std::size_t ahead = 16;
  for (std::size_t j = 0; j < flippedCount_; ++j) {
    if (j + ahead < flippedCount_) __builtin_prefetch(&agents[flipped_[j + ahead]].satisfied, 1);
    const std::uint32_t i = flipped_[j];
    agents[i].satisfied = !copies.Unsatisfied(i);
  }
  flippedCount_ = 0;
}

// The general neighbourhood: a move takes the agent's part (occupied | white << 8) off the kept
// occupancy of the cells around its old cell and adds it around the new one, and notes both
// cells. Past so many changes that an evaluation would rather walk every occupied cell, it does.
void NeighbourCounts::MovedGeneral(std::size_t fromCol, std::size_t fromRow, std::size_t toCol, std::size_t toRow,
                                   std::int32_t colour) {
  const std::size_t cols = std::size_t(cols_);
  if (liveKnown_) {
    const std::uint16_t part = std::uint16_t(1 + (colour << 8));
    std::uint16_t* live = live_.data();
    ForEachNeighbour(shape_, cols_, rows_, std::int32_t(fromCol), std::int32_t(fromRow),
                     [&](std::int32_t c, std::int32_t r) { live[std::size_t(r) * cols + std::size_t(c)] -= part; });
    ForEachNeighbour(shape_, cols_, rows_, std::int32_t(toCol), std::int32_t(toRow),
                     [&](std::int32_t c, std::int32_t r) { live[std::size_t(r) * cols + std::size_t(c)] += part; });
  }
  if (evaluateAll_ || countRows_) return;
  changed_.push_back(std::uint32_t(fromRow * cols + fromCol));
  changed_.push_back(std::uint32_t(toRow * cols + toCol));
  // Visiting the cells around a change costs a few cache misses each, a cell of the walk over
  // every occupied cell a few instructions: the walk pays past a quarter of the grid's worth of
  // visits. The kept occupancy is then made afresh rather than followed, (2r + 1)^2 - 1 cells a
  // move.
  const std::size_t side = std::size_t(2 * shape_.radius + 1);
  if (changed_.size() * side * side * 4 > counts_.size()) {
    countRows_ = true;
    liveKnown_ = false;
    changed_.clear();
  }
}

// Every cell's neighbours' occupancy and colours from the occupancy copy: the parts summed down
// each column over the 2r + 1 rows around a row, then along the row over the 2r + 1 columns
// around a cell, each sum slid by one cell at a time; the cell's own part taken off. On the torus
// the rows and columns wrap (2r + 1 is at most a side: none comes twice); on a bounded grid those
// off the grid are left out.
void NeighbourCounts::MakeLive(const std::uint8_t* state) {
  CountLive(state, live_.data());
  liveKnown_ = true;
}

void NeighbourCounts::CountLive(const std::uint8_t* state, std::uint16_t* out) const {
  const std::int32_t r = shape_.radius;
  const std::size_t cols = std::size_t(cols_);
  const auto part = [](std::uint8_t s) { return std::uint16_t(Occupied(s) | White(s) << 8); };
  const auto wrapped = [&](std::int32_t v, std::int32_t size) -> std::int32_t {
    if (v >= 0 && v < size) return v;
    if (!shape_.torus) return -1;
    return v < 0 ? v + size : v - size;
  };
  std::vector<std::uint16_t> column(cols, 0);
  const auto addRow = [&](std::int32_t row, int sign) {
    const std::int32_t at = wrapped(row, rows_);
    if (at < 0) return;
    const std::uint8_t* line = &state[std::size_t(at) * cols];
    for (std::size_t c = 0; c < cols; ++c) column[c] = std::uint16_t(column[c] + sign * part(line[c]));
  };
  for (std::int32_t row = -r; row <= r - 1; ++row) addRow(row, +1);
  for (std::int32_t row = 0; row < rows_; ++row) {
    addRow(row + r, +1);
    const std::uint8_t* here = &state[std::size_t(row) * cols];
    std::uint16_t* live = &out[std::size_t(row) * cols];
    std::uint16_t sum = 0;
    for (std::int32_t c = -r; c <= r - 1; ++c) {
      const std::int32_t at = wrapped(c, cols_);
      if (at >= 0) sum = std::uint16_t(sum + column[std::size_t(at)]);
    }
    for (std::int32_t c = 0; c < cols_; ++c) {
      const std::int32_t in = wrapped(c + r, cols_), out = wrapped(c - r - 1, cols_);
      if (in >= 0) sum = std::uint16_t(sum + column[std::size_t(in)]);
      if (c - r - 1 >= -r && out >= 0) sum = std::uint16_t(sum - column[std::size_t(out)]);
      live[c] = std::uint16_t(sum - part(here[c]));
    }
    addRow(row - r, -1);
  }
}

// Every occupied cell to evaluate: its counts from the kept occupancy of its neighbours, written
// where they differ from the cell's, and its agent's flag.
void NeighbourCounts::EvaluateGeneral(Pass& pass) {
  const std::uint8_t* const state = pass.copies.State();
  const std::int32_t* const occupant = pass.copies.Occupant();
  const auto visit = [&](std::size_t k) {
    const std::uint8_t s = state[k];
    const std::uint16_t live = live_[k];
    const std::int32_t occupied = live & 255, white = live >> 8;
    const std::int32_t same = s == 2 ? white : occupied - white, other = occupied - same;
    const std::uint16_t held = std::uint16_t(same | other << 8);
    if (held_[k] != held) {
      held_[k] = held;
      counts_[k] = detail::PackCounts(same, other);
      pass.cells[k].sameNeighbours = same;
      pass.cells[k].otherNeighbours = other;
    }
    flipped_[flippedCount_] = std::uint32_t(occupant[k]);
    flippedCount_ += pass.copies.Flag(std::size_t(occupant[k]), detail::IsSatisfied(same, other, threshold_));
  };
  if (evaluateAll_ || countRows_ || !liveKnown_) {
    // Every occupied cell, its flag set as the plain phase sets every flag.
    if (!liveKnown_) MakeLive(state);
    const std::uint64_t* bits = pass.copies.OccupiedBits();
    const std::size_t words = (counts_.size() + 63) / 64;
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t b = bits[w]; b != 0; b &= b - 1) visit(w * 64 + std::size_t(std::countr_zero(b)));
    }
    return;
  }
  // The cells around each changed one, and the changed one itself (an agent that arrived has its
  // flag set even where its counts stand), each once.
  block_.clear();
  const std::size_t cols = std::size_t(cols_);
  const auto mark = [&](std::size_t n) {
    if (marked_[n]) return;
    marked_[n] = 1;
    block_.push_back(std::uint32_t(n));
  };
  for (const std::uint32_t k : changed_) {
    mark(k);
    ForEachNeighbour(shape_, cols_, rows_, std::int32_t(k % cols), std::int32_t(k / cols),
                     [&](std::int32_t c, std::int32_t r) { mark(std::size_t(r) * cols + std::size_t(c)); });
  }
  for (const std::uint32_t k : block_) {
    marked_[k] = 0;
    if (state[k] != 0) visit(k);
  }
}

void NeighbourCounts::Check(const ModelState& world, const OccupancyCopy& copies) const {
  const TGrid::CellVector& cells = world.grid.Cells();
  const std::uint8_t* const state = copies.State();
  // The kept occupancy around every cell, as the occupancy copy (held to the cells by its own
  // check) gives it now.
  std::vector<std::uint16_t> live(general_ && liveKnown_ ? cells.size() : 0);
  if (!live.empty()) CountLive(state, live.data());
  for (std::size_t k = 0; k < cells.size(); ++k) {
    const TCell& cell = cells[k];
    const auto stale = [&](const char* field) { detail::Stale(detail::CellName(k, cols_), field); };
    if (counts_[k] != detail::UnknownCounts &&
        counts_[k] != detail::PackCounts(cell.sameNeighbours, cell.otherNeighbours)) {
      stale("sameNeighbours or otherNeighbours");
    }
    if (general_) {
      if (held_[k] != UnknownHeld && held_[k] != Hold(cell.sameNeighbours, cell.otherNeighbours)) {
        stale("sameNeighbours or otherNeighbours");
      }
      if (!live.empty() && live_[k] != live[k]) stale("neighbours' occupancy (a neighbour's occupied or State)");
      continue;
    }
    if (!aroundKnown_) continue;
    // The neighbour bytes follow the occupancy copy, which its own check holds to the cells.
    std::uint8_t around = 0;
    ForEachNeighbour(shape_, cols_, rows_, std::int32_t(k % std::size_t(cols_)), std::int32_t(k / std::size_t(cols_)),
                     [&](std::int32_t c, std::int32_t r) {
                       const std::uint8_t s = state[std::size_t(r) * std::size_t(cols_) + std::size_t(c)];
                       if (s != 0) around = std::uint8_t(around + 1 + (s == 2 ? 16 : 0));
                     });
    if (around_[k] != around) stale("neighbours' occupancy (a neighbour's occupied or State)");
  }
}

}  // namespace zelmora
