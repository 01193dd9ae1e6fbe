#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "simulation/LargePageAllocator.h"
#include "simulation/ModelShape.h"

namespace zelmora {

// The same-colour clusters of an occupancy (a byte per cell: 0 free, 1 + the colour of its
// agent), kept from change to change in any neighbourhood: every occupied cell holds its
// cluster's label and every label its cluster's size. A cell taken joins the clusters around it,
// the smaller ones relabelled into the largest; a cell left splits its cluster only where the
// neighbours of its colour fall into groups not joined within the neighbourhood itself, which
// the caller finds (at most four) and searches from each in turn then settle.
//
// The neighbourhood comes as a visitor, around(x, visit), calling visit(n) for every neighbour n
// of cell x; the occupancy as the caller keeps it. Join and Leave return the change they make in
// the count of clusters, which the caller keeps with its other measures.
class ClusterLabels {
 public:
  // The most neighbours a cell has: those of the widest neighbourhood.
  static constexpr std::size_t kMostNeighbours = (2 * MaxRadius + 1) * (2 * MaxRadius + 1) - 1;

  // Forgets every label, for a grid of `cells` cells that the caller labels afresh: each occupied
  // cell's label in Labels(), labels made by AddLabels and their sizes in Sizes(), then
  // SpareUnused.
  void Clear(std::size_t cells);
  std::int32_t* Labels() { return label_.data(); }
  std::int32_t* Sizes() { return size_.data(); }
  // Adds `count` labels of no cells; returns the first.
  std::int32_t AddLabels(std::size_t count);
  // Every label from `first` on that no cell holds is spare, the lowest taken first.
  void SpareUnused(std::int32_t first);
  // The size of the cluster of cell k, a change or two ahead, fetched toward the cache.
  void FetchSizeOf(std::size_t k) const { __builtin_prefetch(&size_[std::size_t(label_[k])], 1); }

  // An agent of this colour has come to cell k (set in state): it joins the clusters around it.
  // nearby(visit) visits k's neighbours.
  template <class Nearby, class Around>
  int Join(std::size_t k, std::uint8_t colour, const std::uint8_t* state, const Nearby& nearby, const Around& around);
  // An agent has left cell k (already free, or of the other colour, in state). Its colour's
  // neighbours fall into `groups` groups not joined around k, one cell of each in starts (read
  // only where there are two groups or more): none, and its cluster is gone; one, and it stands.
  template <class Around>
  int Leave(std::size_t k, std::uint8_t colour, int groups, const std::array<std::uint32_t, 4>& starts,
            const std::uint8_t* state, const Around& around);

 private:
  template <class T>
  using Big = std::vector<T, LargePageAllocator<T>>;

  std::int32_t NewLabel() {
    if (spare_.empty()) {
      size_.push_back(0);
      return std::int32_t(size_.size() - 1);
    }
    const std::int32_t label = spare_.back();
    spare_.pop_back();
    return label;
  }
  template <class Around>
  int Split(std::int32_t label, std::uint8_t colour, int groups, const std::array<std::uint32_t, 4>& starts,
            const std::uint8_t* state, const Around& around);
  template <class Around>
  void Relabel(std::size_t from, std::int32_t label, std::int32_t to, const std::uint8_t* state, const Around& around);

  // The changes fall anywhere on the grid: the big arrays lie on large pages, so that a change
  // costs its few cache misses and no walks of the page tables.
  Big<std::int32_t> label_;          // per occupied cell: its cluster
  Big<std::int32_t> size_;           // per label: its cells, 0 for a spare label
  std::vector<std::int32_t> spare_;  // labels of no cluster
  Big<std::uint32_t> mark_;          // scratch of the searches: search number * 8 + group
  std::uint32_t search_ = 0;
  std::vector<std::uint32_t> queue_[4], reached_[4];
};

template <class Nearby, class Around>
int ClusterLabels::Join(std::size_t k, std::uint8_t colour, const std::uint8_t* state, const Nearby& nearby,
                        const Around& around) {
  std::array<std::int32_t, kMostNeighbours> labels;
  std::array<std::uint32_t, kMostNeighbours> at;
  std::size_t distinct = 0;
  nearby([&](std::size_t n) {
    if (state[n] != colour) return;
    const std::int32_t l = label_[n];
    const auto seen = labels.begin() + std::ptrdiff_t(distinct);
    if (std::find(labels.begin(), seen, l) != seen) return;
    labels[distinct] = l;
    at[distinct++] = std::uint32_t(n);
  });
  if (distinct == 0) {
    const std::int32_t fresh = NewLabel();
    label_[k] = fresh;
    size_[std::size_t(fresh)] = 1;
    return 1;
  }
  std::size_t largest = 0;
  for (std::size_t i = 1; i < distinct; ++i) {
    if (size_[std::size_t(labels[i])] > size_[std::size_t(labels[largest])]) largest = i;
  }
  const std::int32_t keep = labels[largest];
  label_[k] = keep;
  for (std::size_t i = 0; i < distinct; ++i) {
    if (i == largest) continue;
    Relabel(at[i], labels[i], keep, state, around);
    size_[std::size_t(keep)] += size_[std::size_t(labels[i])];
    size_[std::size_t(labels[i])] = 0;
    spare_.push_back(labels[i]);
  }
  size_[std::size_t(keep)] += 1;
  return 1 - int(distinct);
}

template <class Around>
int ClusterLabels::Leave(std::size_t k, std::uint8_t colour, int groups, const std::array<std::uint32_t, 4>& starts,
                         const std::uint8_t* state, const Around& around) {
  const std::int32_t label = label_[k];
  --size_[std::size_t(label)];
  if (groups == 0) {
    // It was a cluster of its own.
    spare_.push_back(label);
    return -1;
  }
  if (groups == 1) return 0;  // its neighbours still join each other around it
  return Split(label, colour, groups, starts, state, around);
}

// Searches from one neighbour of each group, a cell at a time in turn: two that meet join their
// groups; a set of groups whose searches all ran out while another goes on is a cluster of its
// own, and takes a new label. The last set keeps the old one. Each search visits at most as many
// cells as the smaller side, times the groups. Returns the clusters split off.
template <class Around>
int ClusterLabels::Split(std::int32_t label, std::uint8_t colour, int groups, const std::array<std::uint32_t, 4>& starts,
                         const std::uint8_t* state, const Around& around) {
  if (++search_ > 0xffffffffu / 8 - 1) {
    std::fill(mark_.begin(), mark_.end(), 0);
    search_ = 1;
  }
  const std::uint32_t base = search_ * 8;
  std::array<int, 4> sets;  // a tiny union-find over the groups
  for (int g = 0; g < groups; ++g) {
    const std::uint32_t start = starts[std::size_t(g)];
    sets[std::size_t(g)] = g;
    queue_[g].assign(1, start);
    reached_[g].assign(1, start);
    mark_[start] = base + std::uint32_t(g);
  }
  const auto set = [&](int g) {
    while (sets[std::size_t(g)] != g) g = sets[std::size_t(g)];
    return g;
  };
  std::array<std::size_t, 4> head{};
  int open = groups;  // sets of joined groups whose searches have not all run out
  std::array<bool, 4> out{};  // per set (by its root): every search of it ran out
  int split = 0;
  while (open > 1) {
    bool progressed = false;
    for (int g = 0; g < groups && open > 1; ++g) {
      if (head[std::size_t(g)] == queue_[g].size()) continue;
      progressed = true;
      const std::size_t x = queue_[g][head[std::size_t(g)]++];
      around(x, [&](std::size_t n) {
        if (state[n] != colour) return;
        const std::uint32_t m = mark_[n];
        if (m >= base && m < base + 8) {
          const int a = set(g), b = set(int(m - base));
          if (a != b) {
            sets[std::size_t(std::max(a, b))] = std::min(a, b);
            --open;
          }
          return;
        }
        mark_[n] = base + std::uint32_t(g);
        queue_[g].push_back(std::uint32_t(n));
        reached_[g].push_back(std::uint32_t(n));
      });
    }
    // A set whose searches all ran out is cut off from the rest.
    for (int g = 0; g < groups && open > 1; ++g) {
      const int r = set(g);
      if (out[std::size_t(r)]) continue;
      bool done = true;
      for (int h = 0; h < groups; ++h) done = done && (set(h) != r || head[std::size_t(h)] == queue_[h].size());
      if (!done) continue;
      out[std::size_t(r)] = true;
      const std::int32_t fresh = NewLabel();
      std::int32_t moved = 0;
      for (int h = 0; h < groups; ++h) {
        if (set(h) != r) continue;
        for (const std::uint32_t c : reached_[h]) label_[c] = fresh;
        moved += std::int32_t(reached_[h].size());
      }
      size_[std::size_t(fresh)] = moved;
      size_[std::size_t(label)] -= moved;
      ++split;
      --open;
    }
    if (!progressed) break;
  }
  return split;
}

// Every cell of the cluster labelled `label` that holds `from`'s colour takes label `to`.
template <class Around>
void ClusterLabels::Relabel(std::size_t from, std::int32_t label, std::int32_t to, const std::uint8_t* state,
                            const Around& around) {
  const std::uint8_t colour = state[from];
  std::vector<std::uint32_t>& stack = queue_[0];
  stack.assign(1, std::uint32_t(from));
  label_[from] = to;
  while (!stack.empty()) {
    const std::size_t x = stack.back();
    stack.pop_back();
    around(x, [&](std::size_t n) {
      if (state[n] != colour || label_[n] != label) return;
      label_[n] = to;
      stack.push_back(std::uint32_t(n));
    });
  }
}

}  // namespace zelmora
