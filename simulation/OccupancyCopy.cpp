#include "simulation/OccupancyCopy.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <string>

#include "simulation/Bits.h"
#include "simulation/CopyCheck.h"
#include "simulation/ModelState.h"

namespace zelmora {

namespace {

using detail::ByteOnes;
using detail::kEveryByte;
using detail::Ones;

// Per byte and rank, the place of the set bit of the byte with `rank` set bits below it.
struct BitsByRank {
  std::array<std::array<std::uint8_t, 8>, 256> place{};
  constexpr BitsByRank() {
    for (unsigned byte = 0; byte < 256; ++byte) {
      unsigned rank = 0;
      for (unsigned bit = 0; bit < 8; ++bit) {
        if ((byte >> bit) & 1) place[byte][rank++] = std::uint8_t(bit);
      }
    }
  }
};
constexpr BitsByRank kBitsByRank;

// The place of the set bit of x with `rank` set bits below it (rank below the set bits of x).
// The byte: those whose set bits up to and including them are at most rank number it, each
// comparison made in the byte's top bit (every number is below 128).
constexpr std::size_t SelectBit(std::uint64_t x, std::uint32_t rank) {
  constexpr std::uint64_t top = 0x8080808080808080u;
  const std::uint64_t upTo = ByteOnes(x) * kEveryByte;  // byte i: the set bits of bytes 0..i
  const std::uint64_t atMost = ((rank * kEveryByte | top) - upTo) & top;
  const unsigned byte = unsigned(((atMost >> 7) * kEveryByte) >> 56);
  const std::uint32_t below = std::uint32_t((upTo << 8) >> (8 * byte)) & 0xff;
  return 8 * byte + kBitsByRank.place[(x >> (8 * byte)) & 0xff][rank - below];
}
static_assert(SelectBit(1, 0) == 0 && SelectBit(std::uint64_t(1) << 63, 0) == 63 &&
              SelectBit(~std::uint64_t(0), 63) == 63 && SelectBit(0x0123456789ABCDEFu, 0) == 0 &&
              SelectBit(0x0123456789ABCDEFu, 31) == 56 && SelectBit(0xF000000000000100u, 1) == 60);

}  // namespace

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
  const std::size_t groups = (words + FreeGroupWords - 1) / FreeGroupWords;
  freeSpan_ = std::bit_ceil(std::max<std::size_t>(groups, 1));
  wordFree_.assign(groups * FreeGroupWords, 0);
  freeTree_.assign(2 * freeSpan_, 0);
  freeCount_ = 0;
  for (std::size_t w = 0; w < words; ++w) {
    const std::uint32_t free = std::uint32_t(Ones(FreeBits(w)));
    wordFree_[w] = std::uint8_t(free);
    freeTree_[freeSpan_ + w / FreeGroupWords] += free;
    freeCount_ += free;
  }
  for (std::size_t n = freeSpan_ - 1; n > 0; --n) freeTree_[n] = freeTree_[2 * n] + freeTree_[2 * n + 1];
  freeKnown_ = true;
}

// Without branches, by masks (a compiler turns a choice of two values back into a branch): which
// way the descent goes and which word and byte hold the cell are as random as the rank, and a
// mispredicted branch would cost more than the operations that replace it. So the tries of the
// agents that follow one another overlap.
std::size_t OccupancyCopy::NthFree(std::uint32_t rank) const {
  // The group: down the tree, to the right child where the left one's free cells are at most
  // rank (the groups past the grid, with none free, lie past every rank).
  const std::uint32_t* const tree = freeTree_.data();
  std::size_t node = 1;
  while (node < freeSpan_) {
    const std::uint32_t left = tree[2 * node];
    const std::uint32_t right = 0 - std::uint32_t(left <= rank);
    rank -= left & right;
    node = 2 * node + (right & 1);
  }
  // The word: the last of the group whose free cells before it are at most rank, the eight
  // counts (at most 64 each) taken as one number and summed in four 16-bit lanes, each lane
  // compared in its top bit (every number is below 2^15, so no lane borrows from the next).
  const std::size_t first = (node - freeSpan_) * FreeGroupWords;
  std::uint64_t counts = 0;  // byte i: the free cells of word first + i
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&counts, &wordFree_[first], sizeof counts);  // one load, where the loop below is eight
  } else {
    for (std::size_t i = 0; i < FreeGroupWords; ++i) counts |= std::uint64_t(wordFree_[first + i]) << (8 * i);
  }
  constexpr std::uint64_t lanes = 0x0001000100010001u, low = 0x00FF00FF00FF00FFu, top = 0x8000800080008000u;
  const std::uint64_t even = counts & low, odd = (counts >> 8) & low;  // lane j: word 2j, word 2j + 1
  const std::uint64_t beforeEven = ((even + odd) * lanes) << 16;       // lane j: before word 2j
  const std::uint64_t beforeOdd = beforeEven + even;                   // lane j: before word 2j + 1
  const std::uint64_t ranks = rank * lanes | top;
  const std::uint64_t atMost = (((ranks - beforeEven) & top) >> 15) + (((ranks - beforeOdd) & top) >> 15);
  const std::size_t word = std::size_t((atMost * lanes) >> 48) - 1;  // word 0 has none before it
  const std::uint64_t odds = 0 - std::uint64_t(word & 1);
  const std::uint32_t before = std::uint32_t(((beforeOdd & odds) | (beforeEven & ~odds)) >> (16 * (word / 2))) & 0xFFFF;
  return (first + word) * 64 + SelectBit(FreeBits(first + word), rank - before);
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
