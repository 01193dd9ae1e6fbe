#include "simulation/MoveLog.h"

#include <algorithm>

namespace zelmora {

std::vector<AgentMove>* MoveLog::Open(std::uint64_t copy, std::uint64_t first, std::size_t count, std::size_t cells) {
  if (!following_) return nullptr;
  if (copy != copy_ || first != first_ + moves_.size() || read_ == first) {
    Restart(copy, first);  // another copy, moves not kept, or the reader has had them all
  }
  if ((moves_.size() + count) * 4 > cells) {
    // The moves the reader has had go; if too many are left, all of them, and these are not
    // kept either: the reader starts afresh. If it has not asked since the last time, the moves
    // are no longer kept at all until it asks again.
    const std::size_t had = std::size_t(std::min(read_, first) - first_);
    moves_.erase(moves_.begin(), moves_.begin() + std::ptrdiff_t(had));
    first_ += had;
    if ((moves_.size() + count) * 4 > cells) {
      Restart(copy, first + count);
      following_ = asked_;
      asked_ = false;
      return nullptr;
    }
  }
  moves_.reserve(moves_.size() + count);
  return &moves_;
}

}  // namespace zelmora
