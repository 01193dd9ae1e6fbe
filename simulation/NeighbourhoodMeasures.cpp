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
  labels_.Clear(cells);
  labels_.AddLabels(cells);
  std::int32_t* label = labels_.Labels();
  std::int32_t* size = labels_.Sizes();
  for (std::size_t k = 0; k < cells; ++k) {
    if (occupancy[k] == 0) continue;
    const std::int32_t root = Find(std::int32_t(k));
    label[k] = root;
    clusters_ += size[std::size_t(root)]++ == 0;
  }
  labels_.SpareUnused(0);
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

// The neighbourhood of the cluster labels, in the order of Around.
auto NeighbourhoodMeasures::Visitor() const {
  return [this](std::size_t x, const auto& visit) {
    const std::int32_t row = std::int32_t(x / std::size_t(cols_)), col = std::int32_t(x % std::size_t(cols_));
    const ModelShape shape{.radius = radius_, .torus = torus_};
    ForEachNeighbour(shape, cols_, rows_, col, row, [&](std::int32_t c, std::int32_t n) {
      visit(std::size_t(n) * std::size_t(cols_) + std::size_t(c));
    });
  };
}

// An agent of this colour has left cell k (already free, or of the other colour, in state_);
// around_ holds k's neighbourhood.
void NeighbourhoodMeasures::Leave(std::size_t k, std::uint8_t colour) {
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
  int count = 0;  // groups not found joined within the neighbourhood
  for (const auto& q : quadrant) count += !q.empty();
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
  // One cell of each group, the groups numbered in order of their quadrants.
  std::array<std::uint32_t, 4> starts;
  int groups = 0;
  for (int q = 0; q < 4 && count > 1; ++q) {
    if (quadrant[std::size_t(q)].empty() || root(q) != q) continue;
    starts[std::size_t(groups++)] = quadrant[std::size_t(q)].front().at;
  }
  clusters_ += labels_.Leave(k, colour, count, starts, state_.data(), Visitor());
}

// An agent of this colour has come to cell k (set in state_); around_ is k's neighbourhood still.
void NeighbourhoodMeasures::Join(std::size_t k, std::uint8_t colour) {
  const auto nearby = [&](const auto& visit) {
    for (const Neighbour& n : around_) visit(std::size_t(n.at));
  };
  clusters_ += labels_.Join(k, colour, state_.data(), nearby, Visitor());
}

}  // namespace zelmora
