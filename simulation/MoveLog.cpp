#include "simulation/MoveLog.h"

#include <algorithm>

namespace zelmora {

void MoveLog::Add(std::uint64_t copy, std::uint64_t number, std::size_t cells, const AgentMove& move) {
  if (!following_) return;
  if (copy != copy_ || number != first_ + moves_.size() + 1) {
    Restart(copy, number - 1);
  } else if (read_ == number - 1) {
    Restart(copy, read_);  // the reader has had them all
  } else if (moves_.size() * 4 >= cells) {
    // The moves the reader has had go; if too many are left, all of them.
    const std::size_t had = std::size_t(std::min(read_, number - 1) - first_);
    moves_.erase(moves_.begin(), moves_.begin() + std::ptrdiff_t(had));
    first_ += had;
    if (moves_.size() * 4 >= cells) {
      Restart(copy, number - 1);
      following_ = asked_;
      asked_ = false;
      if (!following_) return;
    }
  }
  moves_.push_back(move);
}

}  // namespace zelmora
