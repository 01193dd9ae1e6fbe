#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "simulation/Agent.h"
#include "simulation/Cell.h"
#include "simulation/ModelMath.h"
#include "simulation/ModelShape.h"

namespace zelmora {

class OccupancyCopy;
class TGrid;
struct ModelState;

// EvaluateSegregation at the cost of what changed (SegregationFast.cpp; the plain phase is in
// Segregation.cpp). Kept: every cell's neighbour counts as the cell holds them (same | other << 4,
// detail::UnknownCounts where an edit put them outside 0..8); the cells whose occupant changed
// since the last evaluation, and those an agent arrived at; the threshold evaluated last and the
// rule by packed counts; and, on grids of at most DrawAheadCells cells, per cell its neighbours'
// occupancy and colours (occupied | white << 4). At radius 1 the torus and a bounded grid share
// this path: an edge cell of a bounded grid has fewer neighbours, which changes no count's width.
//
// Invariant: the counts are the cells' own; every cell whose occupant changed since the last
// evaluation is listed (or, past one in 128, or one in 16 where the neighbour bytes are kept, the
// list is given up for counting every row), and every cell an agent arrived at has its bit; while
// the neighbour bytes are known, each is its cell's neighbours' in the occupancy copy.
// Current: with the World's copies (Copy, then Made, which has every cell evaluated next); the
// moves keep the lists and the neighbour bytes. The neighbour bytes are made by an evaluation that
// followed few moves and dropped once so many come that the rows will be counted.
//
// Any wider neighbourhood (a radius of 2 to 5) is kept apart from the eight cells around: per cell the counts as the cell holds
// them, in full (held_), and, while liveKnown_, its neighbours' occupancy and colours now
// (occupied | white << 8), which every move updates in the (2r + 1)^2 - 1 cells around its two
// cells. An evaluation then counts nothing: it reads the kept occupancy of the cells around the
// changed ones, or of every occupied cell where the changes were many (the kept occupancy then
// made afresh, by sliding sums, rather than followed move by move).
class NeighbourCounts {
 public:
  // Every neighbourhood: radius 1 on its own path, any wider on the general one.
  static constexpr bool Handles(const ModelShape&) { return true; }

  // Sized for the grid and the shape; keepsAround: the moves keep the neighbour bytes where they
  // are known (radius 1).
  void Size(std::int32_t cols, std::int32_t rows, bool keepsAround, const ModelShape& shape);
  void Copy(std::size_t k, const TCell& cell) {
    counts_[k] = detail::PackCounts(cell.sameNeighbours, cell.otherNeighbours);
    if (general_) held_[k] = Hold(cell.sameNeighbours, cell.otherNeighbours);
  }
  // Every cell may have changed hands: the next evaluation counts them all.
  void Made() {
    evaluateAll_ = true;
    aroundKnown_ = false;
    liveKnown_ = false;
    changed_.clear();
  }

  // A move in the occupancy copy of an agent of this colour from (fromCol, fromRow) to (toCol, toRow).
  void Moved(std::size_t fromCol, std::size_t fromRow, std::size_t toCol, std::size_t toRow, std::int32_t colour) {
    if (general_) {
      MovedGeneral(fromCol, fromRow, toCol, toRow, colour);
      return;
    }
    if (aroundKnown_) {
      // The agent leaves its neighbours' bytes at its old cell and enters them at the new one.
      const std::uint8_t part = std::uint8_t(1 + (colour << 4));
      MoveAround(fromCol, fromRow, std::uint8_t(0 - part));
      MoveAround(toCol, toRow, part);
    }
    const std::size_t cols = std::size_t(cols_);
    NoteChanged(fromRow * cols + fromCol);
    NoteChanged(toRow * cols + toCol);
    arrived_[toRow * words_ + toCol / 64] |= std::uint64_t(1) << (toCol % 64);
  }

  void Evaluate(double threshold, OccupancyCopy& copies, TGrid& grid, std::vector<TAgent>& agents);
  const std::uint8_t* Counts() const { return counts_.data(); }

  // Throws CopiesStale where a cell's counts, or a neighbour byte, differ from the cells.
  void Check(const ModelState& world, const OccupancyCopy& copies) const;

 private:
  struct Pass;  // what an evaluation reads and writes; see SegregationFast.cpp
  // A cell's counts in full, same | other << 8; UnknownHeld where they are not 0..255.
  static constexpr std::uint16_t UnknownHeld = 0xffff;
  static std::uint16_t Hold(std::int32_t same, std::int32_t other) {
    if (same < 0 || same > 255 || other < 0 || other > 255) return UnknownHeld;
    return std::uint16_t(same | other << 8);
  }
  void MovedGeneral(std::size_t fromCol, std::size_t fromRow, std::size_t toCol, std::size_t toRow, std::int32_t colour);
  void EvaluateGeneral(Pass& pass);
  void MakeLive(const std::uint8_t* state);
  void CountLive(const std::uint8_t* state, std::uint16_t* out) const;

  // Calls visit(n) for each cell n of the 3 x 3 block around (col, row), the cell itself only
  // with `self`.
  template <bool self, class Visit>
  void ForBlock(std::size_t col, std::size_t row, Visit visit) const;
  const std::uint8_t* Above(const std::uint8_t* state, std::int32_t row, const std::uint8_t* none) const;
  const std::uint8_t* Below(const std::uint8_t* state, std::int32_t row, const std::uint8_t* none) const;
  void MoveAround(std::size_t col, std::size_t row, std::uint8_t part);
  void NoteChanged(std::size_t cell) {
    if (evaluateAll_ || countRows_) return;
    changed_.push_back(std::uint32_t(cell));
    // Past this many the next evaluation counts every row anyway: the rest need not be noted.
    // Where the neighbour bytes are kept, a block costs a few instructions a cell, and the rows
    // pay only past many more.
    if (changed_.size() * (aroundKnown_ ? 16 : 128) > counts_.size()) {
      countRows_ = true;
      changed_.clear();
      aroundKnown_ = false;  // nor need the moves keep the neighbour bytes
    }
  }
  void EvaluateBlocks(Pass& pass);
  void EvaluateAround(Pass& pass);
  void EvaluateRows(Pass& pass, bool everyFlag);
  void MakeAround(const OccupancyCopy& copies);
  std::uint8_t CountCell(const std::uint8_t* state, std::size_t k, std::int32_t col, std::int32_t row) const;
  void WriteFlags(const OccupancyCopy& copies, std::vector<TAgent>& agents);

  std::int32_t cols_ = 0, rows_ = 0;
  ModelShape shape_;
  bool general_ = false;  // a neighbourhood wider than radius 1
  std::vector<std::uint16_t> held_, live_;
  bool liveKnown_ = false;
  double threshold_ = 0.0;  // of the evaluation under way
  std::size_t words_ = 0;  // of a row of arrived_
  bool keepsAround_ = false;
  std::vector<std::uint8_t> counts_;
  std::vector<std::uint32_t> changed_;
  // So many cells changed since the last evaluation that it counts every row: changed_ is no
  // longer kept.
  bool countRows_ = false;
  // The cells an agent arrived at since the last evaluation, one bit each, row after row with
  // each row starting a word: an arrived agent's flag is set even where the counts stand.
  std::vector<std::uint64_t> arrived_;
  std::vector<std::uint8_t> around_;
  bool aroundKnown_ = false;
  bool evaluateAll_ = true;  // every occupied cell must be evaluated
  double evaluatedThreshold_ = 0.0;
  // The copy and its moves at the last evaluation: how many moves came since.
  std::uint64_t evaluatedCopy_ = 0, evaluatedMoves_ = 0;
  std::array<bool, 256> satisfiedBy_{};  // the rule by packed counts at tabledThreshold_
  double tabledThreshold_ = 0.0;
  bool tableKnown_ = false;
  // Scratch, empty or all 0 between evaluations: the cells marked and listed, and the agents
  // whose flag flipped in the copy (with room for every agent and one more, as a flag is written
  // past the flipped ones).
  std::vector<std::uint8_t> marked_;
  std::vector<std::uint32_t> block_;
  std::vector<std::uint32_t> flipped_;
  std::size_t flippedCount_ = 0;
};

}  // namespace zelmora
