#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zelmora {

// A move as the World reports it to readers that follow the changes (World::MovesSince): the
// cells the agent left and took, row-major, its colour, and the `localPrice` of both cells then.
struct AgentMove {
  std::uint32_t from, to;
  std::int32_t colour;
  double fromPrice, toPrice;
};

// The moves of a World since some point, for readers that keep a measure from one call to the
// next. Kept only once a reader has asked (a step that nobody follows pays one test a phase), from
// the last the reader had on, and only while they are fewer than a quarter of the cells: past
// that, following them costs about what measuring afresh does, and they are dropped; if the
// reader has not asked since the last drop, they are no longer kept until it asks again.
// Each move is numbered as the occupancy copy counts it (World::OccupancyVersion's `changes`);
// entry j holds move first_ + j + 1 of the copy `copy_`. A new copy starts the log again.
class MoveLog {
 public:
  bool Following() const { return following_; }
  // A reader asks for the moves after move `since` of copy `copy`, the copy having made `now`.
  // Null where they are not all kept; the first ask starts keeping them.
  std::optional<std::span<const AgentMove>> Since(std::uint64_t copy, std::uint64_t since, std::uint64_t now) {
    asked_ = true;
    if (!following_ || copy != copy_ || first_ + moves_.size() != now) {
      following_ = true;
      Restart(copy, now);
      return std::nullopt;
    }
    if (since < first_ || since > now) return std::nullopt;
    read_ = now;
    return std::span<const AgentMove>(moves_).subspan(std::size_t(since - first_));
  }
  // Where the `count` moves after move `first` of copy `copy`, on a grid of `cells` cells, are
  // noted, in their order: the list to append them to, with room made for them; null where they
  // are not kept.
  std::vector<AgentMove>* Open(std::uint64_t copy, std::uint64_t first, std::size_t count, std::size_t cells);

 private:
  void Restart(std::uint64_t copy, std::uint64_t first) {
    copy_ = copy;
    first_ = read_ = first;
    moves_.clear();
  }

  bool following_ = false;
  std::uint64_t copy_ = 0, first_ = 0;
  std::uint64_t read_ = 0;  // the reader has had the moves up to this one
  bool asked_ = false;      // the reader asked since the moves were last dropped
  std::vector<AgentMove> moves_;
};

}  // namespace zelmora
