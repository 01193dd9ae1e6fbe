#include "simulation/OccupancyCopy.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <string>

#include "simulation/CopyCheck.h"
#include "simulation/ModelState.h"

namespace zelmora {

void OccupancyCopy::Size(std::int32_t cols, std::int32_t rows) {
  const std::size_t cellCount = std::size_t(cols) * std::size_t(rows);
  cols_ = cols;
  valid_ = false;
  freeKnown_ = false;
  shadesDrawn_ = false;
  state_.assign(cellCount, 0);
  occupied_.assign((cellCount + 63) / 64, 0);
  occupant_.assign(cellCount, 0);
  pending_.clear();
  const auto wrap = [](std::int32_t v, std::int32_t size) { return v + size * ((v < 0) - (v > size - 1)); };
  wrapCol_.resize(std::size_t(cols) + 20);
  for (std::int32_t j = 0; j < cols + 20; ++j) wrapCol_[std::size_t(j)] = std::size_t(wrap(j - 10, cols));
  wrapRowStart_.resize(std::size_t(rows) + 20);
  for (std::int32_t j = 0; j < rows + 20; ++j) {
    wrapRowStart_[std::size_t(j)] = std::size_t(wrap(j - 10, rows)) * std::size_t(cols);
  }
}

void OccupancyCopy::KeepFreeCells() {
  if (freeKnown_) return;
  const std::size_t words = occupied_.size();
  freeTree_.assign(words + 1, 0);
  freeCount_ = 0;
  for (std::size_t i = 1; i <= words; ++i) {
    const std::uint32_t free = std::uint32_t(std::popcount(FreeBits(i - 1)));
    freeCount_ += free;
    freeTree_[i] += free;
    const std::size_t up = i + (i & (0 - i));
    if (up <= words) freeTree_[up] += freeTree_[i];
  }
  freeHigh_ = std::bit_floor(words | 1);
  freeKnown_ = true;
}

std::size_t OccupancyCopy::NthFree(std::uint32_t rank) const {
  // The word: the tree's descent to the last word whose free cells before it are at most rank.
  std::size_t at = 0;
  for (std::size_t step = freeHigh_; step > 0; step /= 2) {
    if (at + step < freeTree_.size() && freeTree_[at + step] <= rank) {
      at += step;
      rank -= freeTree_[at];
    }
  }
  // The cell: the free bit of that word with `rank` free bits before it, halving the word.
  std::uint64_t bits = FreeBits(at);
  std::size_t base = 0;
  for (unsigned width = 32; width >= 8; width /= 2) {
    const std::uint32_t low = std::uint32_t(std::popcount(bits & ((std::uint64_t(1) << width) - 1)));
    if (rank >= low) {
      rank -= low;
      bits >>= width;
      base += width;
    }
  }
  for (; rank > 0; --rank) bits &= bits - 1;
  return at * 64 + base + std::size_t(std::countr_zero(bits));
}

void OccupancyCopy::Vacate() {
  freeKnown_ = false;
  std::fill(state_.begin(), state_.end(), 0);
  std::fill(occupied_.begin(), occupied_.end(), 0);
}

// Agent i's flag is not set: its bits, which had it satisfied.
void OccupancyCopy::CopyUnsatisfied(std::size_t i) {
  unsatisfied_[i / 64] |= std::uint64_t(1) << (i % 64);
  unsatisfiedWords_[i / 64 / 64] |= std::uint64_t(1) << (i / 64 % 64);
  ++unsatisfiedCount_;
}

bool OccupancyCopy::Stand(std::size_t index, const TAgent& agent, std::size_t k) {
  if (state_[k] != 0 || (agent.colour != 0 && agent.colour != 1)) return false;
  freeKnown_ = false;
  state_[k] = std::uint8_t(1 + agent.colour);
  occupied_[k / 64] |= std::uint64_t(1) << (k % 64);
  occupant_[k] = std::int32_t(index);
  return true;
}

bool OccupancyCopy::Finish(const std::vector<TAgent>& agents, bool agree, bool allSatisfied, bool cellsCopied) {
  fresh_ = false;
  valid_ = false;
  freeKnown_ = false;
  if (cellsCopied) {
    // Each agent on a cell of its own that names it, and no other cell occupied.
    std::size_t occupiedCells = 0;
    for (const std::uint64_t bits : occupied_) occupiedCells += std::size_t(std::popcount(bits));
    agree = agree && occupiedCells == agents.size();
  }
  if (!agree) return false;
  unsatisfied_.assign((agents.size() + 63) / 64, 0);
  unsatisfiedWords_.assign((unsatisfied_.size() + 63) / 64, 0);
  unsatisfiedCount_ = 0;
  const std::int32_t rows = cols_ == 0 ? 0 : std::int32_t(state_.size() / std::size_t(cols_));
  for (std::size_t i = 0; i < agents.size(); ++i) {
    const TAgent& agent = agents[i];
    if (cellsCopied) {
      if (agent.col < 0 || agent.col >= cols_ || agent.row < 0 || agent.row >= rows) return false;
      const std::size_t k = std::size_t(agent.row) * std::size_t(cols_) + std::size_t(agent.col);
      if (state_[k] != 1 + agent.colour || occupant_[k] != std::int32_t(i)) return false;
    }
    if (!allSatisfied && !agent.satisfied) CopyUnsatisfied(i);
  }
  agents_ = agents.data();
  agentCount_ = agents.size();
  // Shared by every World of the process, so a reader handed another World never mistakes it.
  static std::atomic<std::uint64_t> lastId{0};
  id_ = lastId.fetch_add(1, std::memory_order_relaxed) + 1;
  moves_ = 0;
  valid_ = true;
  return true;
}

void OccupancyCopy::Check(const ModelState& world) const {
  const TGrid::CellVector& cells = world.grid.Cells();
  for (std::size_t k = 0; k < cells.size(); ++k) {
    const TCell& cell = cells[k];
    const auto stale = [&](const char* field) { detail::Stale(detail::CellName(k, cols_), field); };
    if ((state_[k] != 0) != cell.occupied) stale("occupied");
    if (cell.occupied && state_[k] != 1 + cell.State()) stale("State");
    if (((occupied_[k / 64] >> (k % 64)) & 1) != (state_[k] != 0)) stale("occupied");
    if (cell.occupied && occupant_[k] != cell.occupant) stale("occupant");
  }
  if (freeKnown_) {
    // The kept free cells follow the copy, held to the cells above: the k-th free cell by order.
    std::uint32_t rank = 0;
    for (std::size_t k = 0; k < state_.size(); ++k) {
      if (state_[k] == 0 && NthFree(rank++) != k) detail::Stale(detail::CellName(k, cols_), "occupied (the free cells kept)");
    }
    if (freeCount_ != rank) detail::Stale("the free cells kept", "occupied");
  }
  for (std::size_t i = 0; i < world.agents.size(); ++i) {
    const TAgent& agent = world.agents[i];
    const auto stale = [i](const char* field) { detail::Stale("agent " + std::to_string(i), field); };
    if (agent.col < 0 || agent.col >= world.Cols() || agent.row < 0 || agent.row >= world.Rows()) stale("col or row");
    const std::size_t k = std::size_t(agent.row) * std::size_t(cols_) + std::size_t(agent.col);
    if (state_[k] == 0 || occupant_[k] != std::int32_t(i)) stale("col or row");
    if (state_[k] != 1 + agent.colour) stale("colour");
    if (Unsatisfied(i) == agent.satisfied) stale("satisfied");
    if (shadesDrawn_ && agent.shade != agent.colour * 255) stale("shade");
  }
}

}  // namespace zelmora
