#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelmora {

// The free cells of a grid (anything with `occupied` cells, row-major, or any test of a cell) by
// their order, counted in a binary indexed tree: the k-th of them is found, and a cell taken or freed, in steps of the tree's height.
class FreeCells {
 public:
  FreeCells() = default;
  template <class Cells>
  explicit FreeCells(const Cells& cells) {
    Make(cells.size(), [&cells](std::size_t k) { return !cells[k].occupied; });
  }
  // Made afresh for n cells, cell k free where free(k).
  template <class Free>
  void Make(std::size_t n, Free free) {
    tree_.assign(n + 1, 0);
    count_ = 0;
    for (std::size_t i = 1; i < tree_.size(); ++i) {
      const bool isFree = free(i - 1);
      count_ += isFree;
      tree_[i] += isFree;
      const std::size_t up = i + (i & (0 - i));
      if (up < tree_.size()) tree_[up] += tree_[i];
    }
    high_ = std::bit_floor((tree_.size() - 1) | 1);
  }
  std::uint32_t Count() const { return count_; }
  // The index of the free cell with `rank` free cells before it in row-major order.
  std::size_t Nth(std::uint32_t rank) const {
    std::size_t at = 0;
    for (std::size_t step = high_; step > 0; step /= 2) {
      if (at + step < tree_.size() && tree_[at + step] <= rank) {
        at += step;
        rank -= tree_[at];
      }
    }
    return at;
  }
  void Change(std::size_t k, std::int32_t by) {
    count_ = std::uint32_t(std::int64_t(count_) + by);
    for (std::size_t i = k + 1; i < tree_.size(); i += i & (0 - i)) tree_[i] = std::uint32_t(std::int64_t(tree_[i]) + by);
  }

 private:
  std::vector<std::uint32_t> tree_;
  std::size_t high_ = 1;
  std::uint32_t count_ = 0;
};

}  // namespace zelmora
