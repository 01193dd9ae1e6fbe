// The free prices that the fast LookForCenters (LookForCentersFast.cpp) tests its tries against,
// and their blocks' bounds.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <stdexcept>
#include <string>

#include "simulation/CentersFast.h"
#include "simulation/CopyCheck.h"
#include "simulation/ModelMath.h"
#include "simulation/ModelState.h"

namespace zelmora {

void FreePrices::Size(std::int32_t cols, std::int32_t rows) {
  cols_ = cols;
  rows_ = rows;
  free_.resize(std::size_t(cols) * std::size_t(rows));
  known_ = false;
  blocksKnown_ = false;
}

void FreePrices::Vacate(const double* prices) {
  for (std::size_t k = 0; k < free_.size(); ++k) free_[k] = prices[k];
  Made();
}

void FreePrices::MakeIfUnknown(const std::uint8_t* state, const double* price) {
  if (known_) return;
  // Chosen by a mask, not a branch: a cell is taken or free as a coin falls, and a branch
  // would be mispredicted every other cell.
  const std::uint64_t taken = std::bit_cast<std::uint64_t>(detail::Taken);
  double* freePrices = free_.data();
  for (std::size_t k = 0; k < free_.size(); ++k) {
    const std::uint64_t occupied = 0 - std::uint64_t(state[k] != 0);
    freePrices[k] = std::bit_cast<double>((std::bit_cast<std::uint64_t>(price[k]) & ~occupied) | (taken & occupied));
  }
  Made();
}

void FreePrices::Move(std::size_t from, std::size_t to, const double* prices) {
  const double was = free_[to];
  free_[from] = prices[from];
  free_[to] = detail::Taken;
  if (!blocksKnown_) return;
  const std::size_t taken = BlockOf(to);
  if (!(blockLowest_[taken] < was) && !allBlocksStale_) {
    // Its lowest may have risen. Past a quarter of the blocks they are all made again anyway.
    staleBlocks_.push_back(std::uint32_t(taken));
    allBlocksStale_ = staleBlocks_.size() * 4 > blockLowest_.size();
  }
  const double price = prices[from];
  const std::size_t left = BlockOf(from);
  blockLowest_[left] = std::min(blockLowest_[left], price);
  ForBlocksAround(left, [&](std::size_t block) { aroundLowest_[block] = std::min(aroundLowest_[block], price); });
}

// The lowest free price in a block, from its cells.
double FreePrices::LowestInBlock(std::size_t block) const {
  const std::size_t cols = std::size_t(cols_), blockCols = cols / kBlock;
  const std::size_t first = block / blockCols * kBlock * cols + block % blockCols * kBlock;
  double lowest = detail::Taken;
  for (std::size_t r = 0; r < std::size_t(kBlock); ++r) {
    const double* at = free_.data() + first + r * cols;
    for (std::size_t j = 0; j < std::size_t(kBlock); ++j) lowest = std::min(lowest, at[j]);
  }
  return lowest;
}

void FreePrices::LowestAround(std::size_t block) {
  double lowest = detail::Taken;
  ForBlocksAround(block, [&](std::size_t b) { lowest = std::min(lowest, blockLowest_[b]); });
  aroundLowest_[block] = lowest;
}

// Every block from its cells; or, while the blocks stand, those where a cell was taken since.
void FreePrices::RefreshBlocks() {
  const std::size_t blocks = std::size_t(cols_ / kBlock) * std::size_t(rows_ / kBlock);
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

void FreePrices::Check(const ModelState& world) const {
  const TGrid::CellVector& cells = world.grid.Cells();
  for (std::size_t k = 0; known_ && k < cells.size(); ++k) {
    const double expected = cells[k].occupied ? detail::Taken : cells[k].localPrice;
    if (!detail::SameBits(free_[k], expected)) detail::Stale(detail::CellName(k, cols_), "localPrice or occupied");
  }
  // The blocks' bounds are the phase's own: a free price below one would let it pass over a
  // cheaper cell.
  for (std::size_t k = 0; blocksKnown_ && known_ && k < free_.size(); ++k) {
    bool below = free_[k] < blockLowest_[BlockOf(k)];
    ForBlocksAround(BlockOf(k), [&](std::size_t b) { below = below || free_[k] < aroundLowest_[b]; });
    if (below) throw std::logic_error(detail::CellName(k, cols_) + ": its free price is below its block's bound");
  }
}

}  // namespace zelmora
