#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "simulation/Agent.h"
#include "simulation/Cell.h"
#include "simulation/ModelShape.h"

namespace zelmora {

struct ModelState;

// Who stands where, as every fast phase reads it, and what the fast relocation phase reads alone:
// per cell a byte (0 free, 1 + the colour of its agent), a bit (occupied) and the occupant; per
// agent a bit, set where its `satisfied` is not, under a bit per 64 of them, and their count;
// the search window's wrapped places; and the moves made in the copy whose cells are written
// after the phase's tries.
//
// Invariant, while current: outside a phase every cell and agent agree with the copy (cell k
// occupied exactly where byte k is not 0, by the agent it names, in its colour; agent i on a cell
// that names it, its bit set exactly where it is not satisfied), and no move is pending; within
// a fast phase the pending moves are in the copy and not yet in the cells.
// Current: from a setup that made it as it wrote the cells (Stand, Finish), or from the cells
// (Copy), until Drop (World::CellsEdited, a plain phase, an edit the World cannot follow) or
// until the agent list is replaced or resized, which Current notices by itself.
// Version: a copy made afresh takes an identity no copy of any World had before, and every move
// counts one: equal versions mean the same occupancy.
//
// Relocation anywhere reads the free cells by their order: the free cells of each word of the
// occupied bits counted, and those of each group of eight words (512 cells) summed in a complete
// binary tree over the groups, small enough to stay in the nearest cache where a tree over the
// cells would miss at every level; the cell is found in its group by the words' counts, and in
// its word by its bits. Made from the copy by the first relocation that asks for it
// (KeepFreeCells) and from then on kept by every move in the copy, until the copy is made or
// stood in again.
class OccupancyCopy {
 public:
  // Every shape: the window of the torus's default width on its own tables (ColAt, RowStartAt),
  // any other window, and relocation anywhere on the kept free cells.
  static constexpr bool Handles(const ModelShape&) { return true; }

  struct PendingMove {
    std::uint32_t from, to;
    std::int32_t agent;
  };

  // Sized for the grid, every cell free and no agent copied; not yet current.
  void Size(std::int32_t cols, std::int32_t rows);
  bool Current(const std::vector<TAgent>& agents) const {
    return valid_ && agents_ == agents.data() && agentCount_ == agents.size();
  }
  void Drop() {
    valid_ = false;
    fresh_ = false;
    freeKnown_ = false;
  }
  // Whether every cell is free in the copy, as a reset leaves them: agents may stand in next
  // (Stand). Anything else the World does to the cells makes it false.
  void Emptied(bool empty) { fresh_ = empty; }
  bool Empty() const { return fresh_; }
  // Every cell free, as SetAgents leaves them before the agents stand.
  void Vacate();

  // Cell k as it stands, into a copy just sized; false where its colour is not 0 or 1. Copy every
  // cell, then Finish.
  bool Copy(std::size_t k, const TCell& cell) {
    state_[k] = 0;
    occupant_[k] = 0;
    if (!cell.occupied) return true;
    state_[k] = std::uint8_t(1 + (cell.State() & 1));
    occupied_[k / 64] |= std::uint64_t(1) << (k % 64);
    occupant_[k] = cell.occupant;
    return cell.State() == 0 || cell.State() == 1;
  }
  // Agent `index` on the cell k of a copy that has it free; false, changing nothing, where the
  // cell is taken in the copy already or the colour is not 0 or 1.
  bool Stand(std::size_t index, const TAgent& agent, std::size_t k);
  // After every cell was copied (cellsCopied: also checks that each agent stands on its cell and
  // the cells hold no other), or every agent stood: copies the flags (allSatisfied: every flag is
  // set), takes a new identity and is current where all agree. Returns whether it is.
  bool Finish(const std::vector<TAgent>& agents, bool agree, bool allSatisfied, bool cellsCopied);

  // A move in the copy: the cell left is free, the cell taken holds the colour.
  void Move(std::size_t from, std::size_t to, std::int32_t colour) {
    state_[from] = 0;
    state_[to] = std::uint8_t(1 + colour);
    occupied_[from / 64] &= ~(std::uint64_t(1) << (from % 64));
    occupied_[to / 64] |= std::uint64_t(1) << (to % 64);
    ++moves_;
    if (freeKnown_) {
      ChangeFree(from / 64, +1);
      ChangeFree(to / 64, -1);
    }
  }
  // The free cells by their order kept from now on, made where they are not.
  void KeepFreeCells();
  // While kept: the free cells, and the index of the free cell with `rank` free cells before it
  // in row-major order (rank below FreeCount()).
  std::uint32_t FreeCount() const { return freeCount_; }
  std::size_t NthFree(std::uint32_t rank) const;
  void NoteOccupant(std::size_t k, std::int32_t agent) { occupant_[k] = agent; }

  // Sets agent's bit where `satisfied` is false and clears it where true, keeping the summary
  // bits and the count; returns whether it flipped. Without a branch: where the counts moved,
  // whether a flag flips is a coin toss.
  bool Flag(std::size_t agent, bool satisfied) {
    const std::size_t w = agent / 64;
    const std::uint64_t bit = std::uint64_t(1) << (agent % 64);
    std::uint64_t& word = unsatisfied_[w];
    const bool flips = ((word & bit) != 0) == satisfied;
    word ^= bit & (0 - std::uint64_t(flips));
    unsatisfiedCount_ += std::int64_t(flips) * (1 - 2 * std::int64_t(satisfied));
    flips_ += flips;
    // The summary bit is written as its word stands, the same bit where nothing flipped.
    const std::uint64_t summary = std::uint64_t(1) << (w % 64);
    std::uint64_t& words = unsatisfiedWords_[w / 64];
    words = (words & ~summary) | (summary & (0 - std::uint64_t(word != 0)));
    return flips;
  }
  bool Unsatisfied(std::size_t agent) const { return (unsatisfied_[agent / 64] >> (agent % 64)) & 1; }

  // The agents' shades were written from their colours since the agents were copied; DrawAgents
  // then need not write them again.
  void ShadesDrawn(bool drawn) { shadesDrawn_ = drawn; }
  bool ShadesDrawn(const std::vector<TAgent>& agents) const { return shadesDrawn_ && Current(agents); }

  std::uint64_t Identity() const { return id_; }
  std::uint64_t Moves() const { return moves_; }
  // Flags flipped in this copy: equal identities, moves and flips mean the same unsatisfied
  // agents on the same cells.
  std::uint64_t Flips() const { return flips_; }
  std::size_t Cells() const { return state_.size(); }
  std::int32_t Cols() const { return cols_; }

  const std::uint8_t* State() const { return state_.data(); }
  const std::vector<std::uint8_t>& StateVector() const { return state_; }
  const std::uint64_t* OccupiedBits() const { return occupied_.data(); }
  const std::int32_t* Occupant() const { return occupant_.data(); }
  // One bit per agent in list order, set where `satisfied` is false; one bit per word of them,
  // set where the word is not 0; and their count.
  const std::vector<std::uint64_t>& UnsatisfiedBits() const { return unsatisfied_; }
  const std::vector<std::uint64_t>& UnsatisfiedWords() const { return unsatisfiedWords_; }
  std::int64_t UnsatisfiedCount() const { return unsatisfiedCount_; }
  // The search window's places: ColAt()[c + d] is the column c + d - 10 and RowStartAt()[r + d]
  // the index of the first cell of row r + d - 10, both wrapped on the torus. Full words, so an
  // index is one addition with nothing to widen.
  const std::size_t* ColAt() const { return wrapCol_.data(); }
  const std::size_t* RowStartAt() const { return wrapRowStart_.data(); }
  // Moves made in the copy whose cells are still to be written, in their order.
  std::vector<PendingMove>& Pending() { return pending_; }
  // Scratch of the relocation: the unsatisfied agents, listed.
  std::vector<std::uint32_t>& Listed() { return listed_; }

  // Throws CopiesStale where a cell or agent of the World differs from the copy.
  void Check(const ModelState& world) const;

 private:
  void CopyUnsatisfied(std::size_t i);

  bool valid_ = false;
  bool fresh_ = false;                // every cell is free in the copy, as a reset left them
  const TAgent* agents_ = nullptr;    // the agents' storage and number when copied: a replaced
  std::size_t agentCount_ = 0;        // list is noticed without CellsEdited
  bool shadesDrawn_ = false;
  std::uint64_t id_ = 0, moves_ = 0;  // see Version
  std::uint64_t flips_ = 0;
  std::int32_t cols_ = 0;
  std::vector<std::uint8_t> state_;
  std::vector<std::uint64_t> occupied_;
  std::vector<std::int32_t> occupant_;  // `occupant` of occupied cells, 0 elsewhere
  std::vector<std::uint64_t> unsatisfied_, unsatisfiedWords_;
  std::int64_t unsatisfiedCount_ = 0;
  std::vector<std::size_t> wrapCol_, wrapRowStart_;
  std::vector<PendingMove> pending_;
  std::vector<std::uint32_t> listed_;
  // The free cells of word w of occupied_ (bits past the last cell are no cells).
  std::uint64_t FreeBits(std::size_t w) const {
    const std::size_t past = state_.size() - w * 64;
    return ~occupied_[w] & (past >= 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << past) - 1);
  }
  static constexpr std::size_t FreeGroupWords = 8;
  void ChangeFree(std::size_t word, std::int32_t by) {
    freeCount_ = std::uint32_t(std::int64_t(freeCount_) + by);
    wordFree_[word] = std::uint8_t(wordFree_[word] + by);
    // The group and the nodes above it: as many on every path, so the loop's end is foreseen.
    for (std::size_t n = freeSpan_ + word / FreeGroupWords; n > 0; n /= 2) {
      freeTree_[n] = std::uint32_t(std::int64_t(freeTree_[n]) + by);
    }
  }
  // Per word of occupied_, its free cells; 0 for the words past the grid that fill its last group.
  std::vector<std::uint8_t> wordFree_;
  // Per group of words, its free cells, at node freeSpan_ + the group of a complete binary tree
  // whose node n sums its children 2n and 2n + 1; over a power of two of groups (those past the
  // grid with none), so every descent takes as many steps.
  std::vector<std::uint32_t> freeTree_;
  std::size_t freeSpan_ = 1;
  std::uint32_t freeCount_ = 0;
  bool freeKnown_ = false;
};

}  // namespace zelmora
