#include "simulation/ClusterLabels.h"

namespace zelmora {

void ClusterLabels::Clear(std::size_t cells) {
  label_.resize(cells);
  size_.clear();
  spare_.clear();
  // Marks of earlier searches lie below every later search's: they need clearing only for
  // another grid.
  if (mark_.size() != cells) {
    mark_.assign(cells, 0);
    search_ = 0;
  }
}

std::int32_t ClusterLabels::AddLabels(std::size_t count) {
  const std::int32_t first = std::int32_t(size_.size());
  size_.resize(size_.size() + count, 0);
  return first;
}

void ClusterLabels::SpareUnused(std::int32_t first) {
  const std::size_t spare = spare_.size();
  spare_.resize(spare + (size_.size() - std::size_t(first)));
  std::int32_t* out = spare_.data() + spare;
  // Highest first, so that the lowest is taken first; without a branch on whether a label is
  // held, which is a coin toss.
  for (std::int32_t l = std::int32_t(size_.size()) - 1; l >= first; --l) {
    *out = l;
    out += size_[std::size_t(l)] == 0;
  }
  spare_.resize(std::size_t(out - spare_.data()));
}

}  // namespace zelmora
