#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "simulation/Cell.h"
#include "simulation/LargePageAllocator.h"
#include "simulation/ModelMath.h"
#include "simulation/ModelShape.h"

namespace zelmora {

struct ModelState;

// What the fast LookForCenters (LookForCentersFast.cpp; the plain phase is in Relocation.cpp)
// tests its tries against (CentersFast.cpp): one double per cell, its free price (the cell's `localPrice` where it is free,
// +infinity where it is taken), and, on grids of whole blocks of kBlock x kBlock cells at least
// three a side, per block a bound on the lowest free price in it and in the three by three blocks
// around it, which hold the search window of every cell of the block.
//
// Invariant: while Known, every free price is the cell's as the cells stand between phases (the
// moves of a phase enter at once, before their cells are written); while the blocks are known, no
// free price of a block or of the blocks around it is below its bounds.
// Known: as a setup or the cells are copied (Copy, then Made), or in one pass from the occupancy
// and the prices by the LookForCenters that finds them unknown (MakeIfUnknown); then kept by
// every move and pricing, except that a pricing in full, or a relocation of many agents, leaves
// them unknown where the last step did not look for centers or its relocation moved many (the
// next LookForCenters likely makes them afresh at less cost); dropped with the World's copies.
// Blocks known: made again from the free prices at the start of LookForCenters where a pricing
// changed prices or too many blocks had a cell taken; a cell freed lowers them at once, a block
// where a cell was taken is made again from its cells.
class FreePrices {
 public:
  // Every shape: the blocks hold the window of today's shape on the torus (WindowOfTen); any other
  // window tests its tries on the free prices alone.
  static constexpr bool Handles(const ModelShape&) { return true; }
  static constexpr std::int32_t kBlock = 10;

  void Size(std::int32_t cols, std::int32_t rows);
  void Copy(std::size_t k, const TCell& cell) { free_[k] = cell.occupied ? detail::Taken : cell.localPrice; }
  // An agent stood on the free cell k, as a setup places it.
  void Take(std::size_t k) { free_[k] = detail::Taken; }
  // Every cell free at its price, as SetAgents leaves them before the agents stand.
  void Vacate(const double* prices);
  // Written afresh, all of them.
  void Made() {
    known_ = true;
    blocksKnown_ = false;
  }
  bool Known() const { return known_; }
  // Made from the occupancy copy and the prices where they are not known.
  void MakeIfUnknown(const std::uint8_t* states, const double* prices);

  // A pricing is about to write prices (everyCell: every cell in full): where it may, it writes
  // the free prices along through the pointer, else they are left to the next LookForCenters.
  double* WhilePricing(bool everyCell) {
    blocksKnown_ = false;  // free prices may fall anywhere
    if (everyCell && (!centersLastStep_ || relocationDropped_)) known_ = false;
    return known_ ? free_.data() : nullptr;
  }
  // A relocation made `moves` moves on a grid of `cells`: whether the free prices follow them.
  // Many moves would each fetch two more lines, which only the next LookForCenters reads: it
  // makes them afresh instead, as it does after a step that did not look for centers.
  bool FollowRelocation(std::size_t moves, std::size_t cells) {
    relocationDropped_ = moves > cells / 32;
    if (relocationDropped_ || !centersLastStep_) known_ = false;
    return known_;
  }
  // A move: the cell left is free at its price, the cell taken is not.
  void Move(std::size_t from, std::size_t to, const double* prices);

  void LookingThisStep() { centersThisStep_ = true; }
  void StepEnded() {
    centersLastStep_ = centersThisStep_;
    centersThisStep_ = false;
  }
  // More than one agent in eight moved in the last LookForCenters.
  bool MovedMuch() const { return movedMuch_; }
  void MovedMuch(bool much) { movedMuch_ = much; }

  const double* Data() const { return free_.data(); }
  std::size_t Cells() const { return free_.size(); }

  // Blocks: whether the grid has them, and the bound of a cell's block.
  bool KeepsBlocks() const {
    return cols_ % kBlock == 0 && rows_ % kBlock == 0 && cols_ >= 3 * kBlock && rows_ >= 3 * kBlock;
  }
  void RefreshBlocks();
  const double* AroundLowest() const { return aroundLowest_.data(); }
  std::size_t BlockAt(std::size_t col, std::size_t row) const {
    return row / kBlock * std::size_t(cols_ / kBlock) + col / kBlock;
  }

  // Throws where a free price differs from the cells or falls below its blocks' bounds.
  void Check(const ModelState& world) const;

 private:
  std::size_t BlockOf(std::size_t cell) const {
    return BlockAt(cell % std::size_t(cols_), cell / std::size_t(cols_));
  }
  // f(b) for the 3 x 3 blocks b around block, itself among them.
  template <class F>
  void ForBlocksAround(std::size_t block, F&& f) const {
    const std::size_t blockCols = std::size_t(cols_ / kBlock), blockRows = std::size_t(rows_ / kBlock);
    const std::size_t row = block / blockCols, col = block % blockCols;
    for (const std::size_t r : {row + blockRows - 1, row, row + 1}) {
      for (const std::size_t c : {col + blockCols - 1, col, col + 1}) f(r % blockRows * blockCols + c % blockCols);
    }
  }
  double LowestInBlock(std::size_t block) const;
  void LowestAround(std::size_t block);

  std::int32_t cols_ = 0, rows_ = 0;
  std::vector<double, LargePageAllocator<double>> free_;
  bool known_ = false;
  // Whether the last step looked for centers, the one phase that reads the free prices; a step
  // that did not sets it false. Where false, a pricing in full and many moves leave them to be
  // made afresh by the next LookForCenters instead of writing them. A hint only: either way the
  // free prices are exact when read.
  bool centersLastStep_ = false;
  bool centersThisStep_ = false;
  bool relocationDropped_ = false;  // the last relocation moved too many to keep them
  bool movedMuch_ = true;
  // Per block, no more than the lowest free price in it, and no more than the lowest in the
  // three by three blocks around it. A cell taken can only raise them, so its block is made again
  // later (staleBlocks_), from the free prices.
  std::vector<double> blockLowest_, aroundLowest_;
  std::vector<std::uint32_t> staleBlocks_;
  bool allBlocksStale_ = false;  // too many for the list
  bool blocksKnown_ = false;
};

}  // namespace zelmora
