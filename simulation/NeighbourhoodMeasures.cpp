#include "simulation/NeighbourhoodMeasures.h"

#include <array>
#include <cstddef>

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

}  // namespace zelmora
