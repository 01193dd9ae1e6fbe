#include "simulation/NeighbourhoodMeasures.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>

#include "simulation/ModelMath.h"

namespace zelmora {

std::int32_t NeighbourhoodMeasures::Find(std::int32_t k) {
  while (parent_[std::size_t(k)] != k) {
    const std::int32_t up = parent_[std::size_t(parent_[std::size_t(k)])];
    parent_[std::size_t(k)] = up;  // halves the path as it goes
    k = up;
  }
  return k;
}

NeighbourhoodMeasures::Result NeighbourhoodMeasures::Measure(const std::uint8_t* occupancy, std::int32_t cols,
                                                             std::int32_t rows, const ModelShape& shape,
                                                             double thresholdPercent) {
  const std::size_t cells = std::size_t(cols) * std::size_t(rows);
  parent_.resize(cells);
  for (std::size_t k = 0; k < cells; ++k) parent_[k] = std::int32_t(k);
  // Per count of occupied neighbours, the like ones summed: the shares are added per count, each
  // a whole number divided once, so the sum does not depend on the order of the cells.
  std::array<std::int64_t, (2 * MaxRadius + 1) * (2 * MaxRadius + 1)> likeByCount{};
  Result result;
  for (std::int32_t row = 0; row < rows; ++row) {
    for (std::int32_t col = 0; col < cols; ++col) {
      const std::size_t k = std::size_t(row) * std::size_t(cols) + std::size_t(col);
      const std::uint8_t own = occupancy[k];
      if (own == 0) continue;
      std::int32_t like = 0, neighbours = 0;
      ForEachNeighbour(shape, cols, rows, col, row, [&](std::int32_t c, std::int32_t n) {
        const std::size_t j = std::size_t(n) * std::size_t(cols) + std::size_t(c);
        if (occupancy[j] == 0) return;
        ++neighbours;
        if (occupancy[j] != own) return;
        ++like;
        // Each pair is joined once, from the later cell of the two in row-major order.
        if (j < k) parent_[std::size_t(Find(std::int32_t(j)))] = Find(std::int32_t(k));
      });
      result.unsatisfied += !detail::IsSatisfied(like, neighbours - like, thresholdPercent);
      if (neighbours == 0) continue;
      ++result.counted;
      likeByCount[std::size_t(neighbours)] += like;
    }
  }
  for (std::size_t n = 1; n < likeByCount.size(); ++n) result.likeShares += double(likeByCount[n]) / double(n);
  for (std::size_t k = 0; k < cells; ++k) result.clusters += occupancy[k] != 0 && parent_[k] == std::int32_t(k);
  return result;
}

void NeighbourhoodMeasures::SetThreshold(double thresholdPercent) {
  for (std::size_t n = 0; n < kCounts; ++n) {
    for (std::size_t like = 0; like <= n; ++like) {
      unsatisfiedBy_[n * kCounts + like] =
          !detail::IsSatisfied(std::int32_t(like), std::int32_t(n - like), thresholdPercent);
    }
  }
  if (!kept_) return;
  unsatisfied_ = 0;
  for (std::size_t k = 0; k < state_.size(); ++k) {
    if (state_[k] == 0) continue;
    unsatisfied_ += Unsatisfied(state_[k] == 1 ? black_[k] : white_[k], black_[k] + white_[k]);
  }
}

// The neighbourhood of cell k with each neighbour's offset, in the order of ForEachNeighbour.
void NeighbourhoodMeasures::Around(std::size_t k, std::vector<Neighbour>& out) const {
  out.clear();
  const std::int32_t row = std::int32_t(k / std::size_t(cols_)), col = std::int32_t(k % std::size_t(cols_));
  const ModelShape shape{.radius = radius_, .torus = torus_};
  ForEachNeighbour(shape, cols_, rows_, col, row, [&](std::int32_t c, std::int32_t n) {
    // Offsets from the torus's wrapped cells: within the radius whichever way they wrapped.
    std::int32_t dc = c - col, dr = n - row;
    dc += cols_ * ((dc < -radius_) - (dc > radius_));
    dr += rows_ * ((dr < -radius_) - (dr > radius_));
    out.push_back({std::uint32_t(std::size_t(n) * std::size_t(cols_) + std::size_t(c)), std::int8_t(dc), std::int8_t(dr)});
  });
}

// Adds (sign 1) or takes off (-1) what the agent on cell k, if any, gives the measures.
void NeighbourhoodMeasures::Contribute(std::size_t k, std::int64_t sign) {
  const std::uint8_t own = state_[k];
  if (own == 0) return;
  const std::int32_t neighbours = black_[k] + white_[k], like = own == 1 ? black_[k] : white_[k];
  unsatisfied_ += sign * Unsatisfied(like, neighbours);
  if (neighbours == 0) return;
  counted_ += sign;
  likeByCount_[std::size_t(neighbours)] += sign * like;
}

void NeighbourhoodMeasures::Rebuild(const std::uint8_t* occupancy, std::int32_t cols, std::int32_t rows,
                                    const ModelShape& shape) {
  cols_ = cols;
  rows_ = rows;
  radius_ = shape.radius;
  torus_ = shape.torus;
  const std::size_t cells = std::size_t(cols) * std::size_t(rows);
  state_.assign(occupancy, occupancy + cells);
  // Each colour's neighbours by sliding sums: along the rows, then down the columns of those.
  const std::int32_t r = radius_;
  const auto wrap = [&](std::int32_t i, std::int32_t n) { return i + n * ((i < 0) - (i >= n)); };
  std::vector<std::uint8_t>& along = rowSums_;
  along.resize(cells);
  for (const std::uint8_t colour : {std::uint8_t(1), std::uint8_t(2)}) {
    std::vector<std::uint8_t>& counts = colour == 1 ? black_ : white_;
    counts.resize(cells);
    for (std::int32_t row = 0; row < rows; ++row) {
      const std::uint8_t* in = occupancy + std::size_t(row) * std::size_t(cols);
      std::uint8_t* out = along.data() + std::size_t(row) * std::size_t(cols);
      const auto at = [&](std::int32_t c) -> int {
        if (torus_) return in[wrap(c, cols)] == colour;
        return c >= 0 && c < cols && in[c] == colour;
      };
      int sum = 0;
      for (std::int32_t c = -r; c <= r; ++c) sum += at(c);
      for (std::int32_t col = 0; col < cols; ++col) {
        out[col] = std::uint8_t(sum);
        sum += at(col + r + 1) - at(col - r);
      }
    }
    for (std::int32_t col = 0; col < cols; ++col) {
      const auto at = [&](std::int32_t n) -> int {
        if (torus_) n = wrap(n, rows);
        else if (n < 0 || n >= rows) return 0;
        return along[std::size_t(n) * std::size_t(cols) + std::size_t(col)];
      };
      int sum = 0;
      for (std::int32_t n = -r; n <= r; ++n) sum += at(n);
      for (std::int32_t row = 0; row < rows; ++row) {
        const std::size_t k = std::size_t(row) * std::size_t(cols) + std::size_t(col);
        counts[k] = std::uint8_t(sum - (occupancy[k] == colour));
        sum += at(row + r + 1) - at(row - r);
      }
    }
  }
  // Each pair of same-colour neighbours joined once, from the later cell's offsets before it:
  // the rows above and the cells to its left (on the torus too, an offset within the radius is
  // the only one between two cells, 2r + 1 being at most a side).
  parent_.resize(cells);
  for (std::size_t k = 0; k < cells; ++k) parent_[k] = std::int32_t(k);
  for (std::int32_t row = 0; row < rows; ++row) {
    for (std::int32_t col = 0; col < cols; ++col) {
      const std::size_t k = std::size_t(row) * std::size_t(cols) + std::size_t(col);
      const std::uint8_t own = occupancy[k];
      if (own == 0) continue;
      for (std::int32_t dr = -r; dr <= 0; ++dr) {
        std::int32_t n = row + dr;
        if (torus_) n = wrap(n, rows);
        else if (n < 0) continue;
        for (std::int32_t dc = -r; dc <= (dr < 0 ? r : -1); ++dc) {
          std::int32_t c = col + dc;
          if (torus_) c = wrap(c, cols);
          else if (c < 0 || c >= cols) continue;
          const std::size_t j = std::size_t(n) * std::size_t(cols) + std::size_t(c);
          if (occupancy[j] == own) parent_[std::size_t(Find(std::int32_t(j)))] = Find(std::int32_t(k));
        }
      }
    }
  }
  likeByCount_.fill(0);
  counted_ = unsatisfied_ = clusters_ = 0;
  for (std::size_t k = 0; k < cells; ++k) Contribute(k, 1);
  // Each cluster labelled by its root cell; the other cells' labels are spare.
  label_.assign(cells, 0);
  size_.assign(cells, 0);
  for (std::size_t k = 0; k < cells; ++k) {
    if (occupancy[k] == 0) continue;
    const std::int32_t root = Find(std::int32_t(k));
    label_[k] = root;
    clusters_ += size_[std::size_t(root)]++ == 0;
  }
  spare_.clear();
  for (std::size_t k = cells; k-- > 0;) {
    if (size_[k] == 0) spare_.push_back(std::int32_t(k));
  }
  mark_.assign(cells, 0);
  search_ = 0;
  kept_ = true;
}

NeighbourhoodMeasures::Result NeighbourhoodMeasures::Kept() const {
  Result result;
  result.counted = counted_;
  result.unsatisfied = unsatisfied_;
  result.clusters = clusters_;
  for (std::size_t n = 1; n < likeByCount_.size(); ++n) result.likeShares += double(likeByCount_[n]) / double(n);
  return result;
}

bool NeighbourhoodMeasures::Update(const std::uint8_t* now) {
  const std::size_t cells = state_.size();
  // Past these, Rebuild costs less, about: a change costs its neighbourhood twice and the
  // searches and relabelling of the clusters it touches, a Rebuild half a neighbourhood an agent.
  // In busy windows (bench/simulation/MeasuresBench.cpp) a change in 8 cells still paid at
  // radius 5 and on a bounded grid, while radius 2, whose loose clusters split often, paid
  // already from one in 64; one in 24 serves both within a third of their best.
  const std::size_t most = cells / 24;
  changed_.clear();
  for (std::size_t k = 0; k < cells; ++k) {
    if (state_[k] == now[k]) continue;
    if (changed_.size() == most) return false;
    changed_.push_back(std::uint32_t(k));
  }
  // One cell after another: its agent leaves, then the new one comes.
  for (const std::uint32_t c : changed_) {
    const std::uint8_t from = state_[c], to = now[c];
    ChangeShares(c, to);
    if (from != 0) Leave(c, from);
    if (to != 0) Join(c, to);
  }
  return true;
}

// One cell's change in the contributions of its neighbourhood and in its neighbours' counts.
void NeighbourhoodMeasures::ChangeShares(std::size_t k, std::uint8_t to) {
  Around(k, around_);
  Contribute(k, -1);
  for (const Neighbour& n : around_) Contribute(n.at, -1);
  const std::uint8_t from = state_[k];
  state_[k] = to;
  for (const Neighbour& n : around_) {
    if (from != 0) --(from == 1 ? black_ : white_)[n.at];
    if (to != 0) ++(to == 1 ? black_ : white_)[n.at];
  }
  Contribute(k, 1);
  for (const Neighbour& n : around_) Contribute(n.at, 1);
}

std::int32_t NeighbourhoodMeasures::NewLabel() {
  if (spare_.empty()) {
    size_.push_back(0);
    return std::int32_t(size_.size() - 1);
  }
  const std::int32_t label = spare_.back();
  spare_.pop_back();
  return label;
}

// An agent of this colour has left cell k (already free, or of the other colour, in state_);
// around_ holds k's neighbourhood.
void NeighbourhoodMeasures::Leave(std::size_t k, std::uint8_t colour) {
  const std::int32_t label = label_[k];
  --size_[std::size_t(label)];
  // The neighbours of its colour by quadrant: two of one quadrant are each other's neighbours.
  std::array<std::vector<Neighbour>, 4>& quadrant = quadrants_;
  for (std::vector<Neighbour>& q : quadrant) q.clear();
  for (const Neighbour& n : around_) {
    if (state_[n.at] == colour) quadrant[std::size_t((n.dc >= 0) + 2 * (n.dr >= 0))].push_back(n);
  }
  std::array<int, 4> joined{0, 1, 2, 3};
  const auto root = [&](int g) {
    while (joined[std::size_t(g)] != g) g = joined[std::size_t(g)];
    return g;
  };
  int present = 0;
  for (const auto& q : quadrant) present += !q.empty();
  if (present == 0) {
    // It was a cluster of its own.
    --clusters_;
    spare_.push_back(label);
    return;
  }
  int count = present;  // groups not yet found joined within the neighbourhood
  for (int a = 0; a < 4 && count > 1; ++a) {
    for (int b = a + 1; b < 4 && count > 1; ++b) {
      if (quadrant[std::size_t(a)].empty() || quadrant[std::size_t(b)].empty() || root(a) == root(b)) continue;
      bool touch = false;
      for (const Neighbour& x : quadrant[std::size_t(a)]) {
        for (const Neighbour& y : quadrant[std::size_t(b)]) {
          if (std::abs(x.dc - y.dc) <= radius_ && std::abs(x.dr - y.dr) <= radius_) {
            touch = true;
            break;
          }
        }
        if (touch) break;
      }
      if (!touch) continue;
      const int ra = root(a), rb = root(b);
      joined[std::size_t(std::max(ra, rb))] = std::min(ra, rb);
      --count;
    }
  }
  if (count == 1) return;  // its neighbours still join each other around it

  // Groups renumbered 0..count - 1, each searched from one of its cells, a cell at a time in
  // turn: two that meet join their groups; a set of groups whose searches all ran out while
  // another goes on is a cluster of its own, and takes a new label. The last set keeps the old
  // one. Each search visits at most as many cells as the smaller side, times the groups.
  std::array<int, 4> group{};
  std::array<std::uint32_t, 4> start{};
  int groups = 0;
  for (int q = 0; q < 4; ++q) {
    if (quadrant[std::size_t(q)].empty() || root(q) != q) continue;
    group[std::size_t(q)] = groups;
    start[std::size_t(groups++)] = quadrant[std::size_t(q)].front().at;
  }
  if (++search_ > 0xffffffffu / 8 - 1) {
    std::fill(mark_.begin(), mark_.end(), 0);
    search_ = 1;
  }
  const std::uint32_t base = search_ * 8;
  std::array<int, 4> sets{};  // a tiny union-find over the groups
  for (int g = 0; g < groups; ++g) {
    sets[std::size_t(g)] = g;
    queue_[g].assign(1, start[std::size_t(g)]);
    reached_[g].assign(1, start[std::size_t(g)]);
    mark_[start[std::size_t(g)]] = base + std::uint32_t(g);
  }
  const auto set = [&](int g) {
    while (sets[std::size_t(g)] != g) g = sets[std::size_t(g)];
    return g;
  };
  std::array<std::size_t, 4> head{};
  int open = groups;  // sets of joined groups whose searches have not all run out
  std::array<bool, 4> out{};  // per set (by its root): every search of it ran out
  while (open > 1) {
    bool progressed = false;
    for (int g = 0; g < groups && open > 1; ++g) {
      if (head[std::size_t(g)] == queue_[g].size()) continue;
      progressed = true;
      const std::size_t x = queue_[g][head[std::size_t(g)]++];
      Around(x, next_);
      for (const Neighbour& n : next_) {
        if (state_[n.at] != colour) continue;
        const std::uint32_t m = mark_[n.at];
        if (m >= base && m < base + 8) {
          const int a = set(g), b = set(int(m - base));
          if (a != b) {
            sets[std::size_t(std::max(a, b))] = std::min(a, b);
            --open;
          }
          continue;
        }
        mark_[n.at] = base + std::uint32_t(g);
        queue_[g].push_back(n.at);
        reached_[g].push_back(n.at);
      }
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
      ++clusters_;
      --open;
    }
    if (!progressed) break;
  }
}

// An agent of this colour has come to cell k (set in state_): it joins the clusters around it,
// the smaller ones relabelled into the largest.
void NeighbourhoodMeasures::Join(std::size_t k, std::uint8_t colour) {
  // around_ is k's neighbourhood still; Relabel's searches use next_.
  std::array<std::int32_t, kCounts> labels;
  std::array<std::uint32_t, kCounts> at;
  std::size_t distinct = 0;
  for (const Neighbour& n : around_) {
    if (state_[n.at] != colour) continue;
    const std::int32_t l = label_[n.at];
    if (std::find(labels.begin(), labels.begin() + std::ptrdiff_t(distinct), l) != labels.begin() + std::ptrdiff_t(distinct)) continue;
    labels[distinct] = l;
    at[distinct++] = n.at;
  }
  if (distinct == 0) {
    const std::int32_t fresh = NewLabel();
    label_[k] = fresh;
    size_[std::size_t(fresh)] = 1;
    ++clusters_;
    return;
  }
  std::size_t largest = 0;
  for (std::size_t i = 1; i < distinct; ++i) {
    if (size_[std::size_t(labels[i])] > size_[std::size_t(labels[largest])]) largest = i;
  }
  const std::int32_t keep = labels[largest];
  label_[k] = keep;
  for (std::size_t i = 0; i < distinct; ++i) {
    if (i == largest) continue;
    Relabel(at[i], labels[i], keep);
    size_[std::size_t(keep)] += size_[std::size_t(labels[i])];
    size_[std::size_t(labels[i])] = 0;
    spare_.push_back(labels[i]);
    --clusters_;
  }
  size_[std::size_t(keep)] += 1;
}

// Every cell of the cluster labelled `label` that holds `from`'s colour takes label `to`.
void NeighbourhoodMeasures::Relabel(std::size_t from, std::int32_t label, std::int32_t to) {
  const std::uint8_t colour = state_[from];
  std::vector<std::uint32_t>& stack = queue_[0];
  stack.assign(1, std::uint32_t(from));
  label_[from] = to;
  while (!stack.empty()) {
    const std::size_t x = stack.back();
    stack.pop_back();
    Around(x, next_);
    for (const Neighbour& n : next_) {
      if (state_[n.at] != colour || label_[n.at] != label) continue;
      label_[n.at] = to;
      stack.push_back(n.at);
    }
  }
}

}  // namespace zelmora
