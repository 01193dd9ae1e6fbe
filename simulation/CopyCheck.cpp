#include "simulation/CopyCheck.h"

namespace zelmora::detail {

std::string CellName(std::size_t k, std::int32_t cols) {
  return "cell (" + std::to_string(k % std::size_t(cols)) + ", " + std::to_string(k / std::size_t(cols)) + ")";
}

void Stale(const std::string& what, const std::string& field) {
  throw CopiesStale(what + " no longer agrees with the fast phases' copy of its " + field +
                    ": a field was written without World::CellsEdited()");
}

}  // namespace zelmora::detail
