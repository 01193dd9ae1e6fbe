#include "simulation/Measures.h"

#include <algorithm>

#include "simulation/World.h"

namespace zelmora {
namespace {

std::int32_t Find(std::vector<std::int32_t>& parent, std::int32_t i) {
  while (parent[std::size_t(i)] != i) {
    parent[std::size_t(i)] = parent[std::size_t(parent[std::size_t(i)])];
    i = parent[std::size_t(i)];
  }
  return i;
}

}  // namespace

StepMeasures Measurer::Measure(const World& world) {
  StepMeasures m;
  for (const TAgent& agent : world.Agents) (agent.satisfied ? m.satisfied : m.unsatisfied) += 1;

  const TGrid& grid = world.grid;
  const std::int32_t cols = grid.Cols(), rows = grid.Rows();
  const std::size_t cells = std::size_t(cols) * std::size_t(rows);
  if (cells == 0 || !grid.HasCells()) return m;

  double priceSum = 0.0;
  for (const TCell& cell : grid.Cells()) priceSum += cell.localPrice;
  m.meanLocalPrice = priceSum / double(cells);

  // Markets on one cell share one count, so each cell counts once.
  std::vector<std::size_t> marketCells;
  for (const MarketPosition& p : world.Markets) {
    marketCells.push_back(std::size_t(p.row) * std::size_t(cols) + std::size_t(p.col));
  }
  std::sort(marketCells.begin(), marketCells.end());
  marketCells.erase(std::unique(marketCells.begin(), marketCells.end()), marketCells.end());
  double customers = 0.0;
  for (std::size_t i : marketCells) customers += grid.Cells()[i].customers;
  if (customers > 0) {
    double h = 0.0;
    for (std::size_t i : marketCells) {
      const double share = grid.Cells()[i].customers / customers;
      h += share * share;
    }
    m.herfindahl = h;
  }

  parent_.resize(cells);
  std::int64_t agents = 0, counted = 0;
  double similarSum = 0.0;
  for (std::int32_t row = 0; row < rows; ++row) {
    for (std::int32_t col = 0; col < cols; ++col) {
      const std::size_t here = std::size_t(row) * std::size_t(cols) + std::size_t(col);
      parent_[here] = std::int32_t(here);
    }
  }
  for (std::int32_t row = 0; row < rows; ++row) {
    for (std::int32_t col = 0; col < cols; ++col) {
      const TCell& cell = grid.At(col, row);
      if (!cell.occupied) continue;
      ++agents;
      int like = 0, other = 0;
      for (int dr = -1; dr <= 1; ++dr) {
        for (int dc = -1; dc <= 1; ++dc) {
          if (dr == 0 && dc == 0) continue;
          const std::int32_t c = (col + dc + cols) % cols, r = (row + dr + rows) % rows;
          const TCell& n = grid.At(c, r);
          if (!n.occupied) continue;
          if (n.State() == cell.State()) {
            ++like;
            const auto a = Find(parent_, std::int32_t(std::size_t(row) * cols + col));
            const auto b = Find(parent_, std::int32_t(std::size_t(r) * cols + c));
            parent_[std::size_t(std::max(a, b))] = std::min(a, b);
          } else {
            ++other;
          }
        }
      }
      if (like + other > 0) {
        similarSum += 100.0 * like / (like + other);
        ++counted;
      }
    }
  }
  if (counted > 0) m.percentSimilar = similarSum / double(counted);
  for (std::size_t i = 0; i < cells; ++i) {
    if (grid.Cells()[i].occupied && parent_[i] == std::int32_t(i)) ++m.clusterCount;
  }
  if (agents > 0) m.meanClusterSize = double(agents) / double(m.clusterCount);
  return m;
}

}  // namespace zelmora
