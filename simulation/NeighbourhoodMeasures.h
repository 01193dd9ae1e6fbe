#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "simulation/ClusterLabels.h"
#include "simulation/ModelShape.h"

namespace zelmora {

// The occupancy's measures in any shape's neighbourhood (its radius, with or without the torus),
// of an occupancy (a byte per cell, row-major: 0 free, 1 + the colour of its agent): the like
// shares of the agents with a neighbour, the agents a segregation rule leaves unsatisfied, and the
// same-colour clusters, two agents joined where one is in the other's neighbourhood.
//
// Measure counts them afresh and keeps nothing. Rebuild counts them afresh too but keeps what
// Update needs to follow the cells that change at their cost: every cell's counts of black and
// white neighbours, every occupied cell's cluster label and every label's size. A change moves
// the contributions of its own cell and of its neighbourhood; a cell taken joins the clusters
// around it (the smaller relabelled); a cell left splits its cluster only where the neighbours of
// its colour around it fall into groups not joined within the neighbourhood itself (at most four:
// two cells of one quadrant are always neighbours), which searches from each in turn then settle.
// The like shares are summed per count of neighbours as whole numbers and divided once at the end,
// so the kept and the fresh sums are the same to the bit.
class NeighbourhoodMeasures {
 public:
  struct Result {
    std::int64_t counted = 0;      // agents with at least one occupied neighbour
    double likeShares = 0.0;       // the sum of their like / neighbours
    std::int64_t unsatisfied = 0;  // agents the segregation rule leaves unsatisfied
    std::int64_t clusters = 0;     // groups of same-colour agents joined through neighbourhoods
  };
  Result Measure(const std::uint8_t* occupancy, std::int32_t cols, std::int32_t rows, const ModelShape& shape,
                 double thresholdPercent);

  // The threshold of the rule (detail::IsSatisfied) of the kept measures, from now on: the kept
  // count of unsatisfied agents follows from the kept neighbour counts.
  void SetThreshold(double thresholdPercent);
  // Measures the occupancy afresh in the shape's neighbourhood, and keeps what Update needs.
  void Rebuild(const std::uint8_t* occupancy, std::int32_t cols, std::int32_t rows, const ModelShape& shape);
  // Whether Update may follow a grid of this size in this shape's neighbourhood from the last
  // Rebuild: the neighbourhood (radius, torus) and the grid are the same.
  bool Keeps(std::int32_t cols, std::int32_t rows, const ModelShape& shape) const {
    return kept_ && cols == cols_ && rows == rows_ && shape.radius == radius_ && shape.torus == torus_;
  }
  // Brings the kept measures to this occupancy of the same grid. Returns false, having changed
  // nothing, where Rebuild would cost less.
  bool Update(const std::uint8_t* occupancy);
  // Forgets what is kept: the next call must Rebuild.
  void Forget() { kept_ = false; }
  // The kept measures.
  Result Kept() const;

 private:
  struct Neighbour {
    std::uint32_t at;
    std::int8_t dc, dr;  // its offset from the cell
  };
  std::int32_t Find(std::int32_t k);
  void Around(std::size_t k, std::vector<Neighbour>& out) const;
  auto Visitor() const;
  void Contribute(std::size_t k, std::int64_t sign);
  void ChangeShares(std::size_t k, std::uint8_t to);
  void Leave(std::size_t k, std::uint8_t colour);
  void Join(std::size_t k, std::uint8_t colour);
  bool Unsatisfied(std::int32_t like, std::int32_t neighbours) const {
    return unsatisfiedBy_[std::size_t(neighbours) * kCounts + std::size_t(like)] != 0;
  }

  static constexpr std::size_t kCounts = (2 * MaxRadius + 1) * (2 * MaxRadius + 1);  // 0..120 neighbours
  std::vector<std::int32_t> parent_;
  // 1 where an agent with this many neighbours ([n * kCounts + like]) is unsatisfied.
  std::vector<std::uint8_t> unsatisfiedBy_ = std::vector<std::uint8_t>(kCounts * kCounts, 0);

  bool kept_ = false;
  std::int32_t cols_ = 0, rows_ = 0, radius_ = 1;
  bool torus_ = true;
  std::vector<std::uint8_t> state_;          // the occupancy measured last
  std::vector<std::uint8_t> black_, white_;  // per cell: its black and white neighbours
  std::array<std::int64_t, kCounts> likeByCount_{};  // per count of neighbours: the like ones summed
  std::int64_t counted_ = 0, unsatisfied_ = 0, clusters_ = 0;
  ClusterLabels labels_;
  std::vector<std::uint32_t> changed_;
  std::vector<Neighbour> around_;  // the neighbourhood of the cell changing
  std::array<std::vector<Neighbour>, 4> quadrants_;  // Leave's neighbours of a colour by quadrant
  std::vector<std::uint8_t> rowSums_;  // Rebuild's row sums
};

}  // namespace zelmora
