#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "simulation/ClusterLabels.h"
#include "simulation/LargePageAllocator.h"
#include "simulation/ModelShape.h"

namespace zelmora {

// The neighbourhood measures of a grid's occupancy (a byte per cell, row-major: 0 free, 1 + the
// colour of its agent): the like shares of the agents with a neighbour, the agents a
// segregation rule leaves unsatisfied, and the same-colour clusters, 8-connected on the torus.
//
// Rebuild measures a grid afresh: each colour's occupancy packed into bit rows (64 cells a
// word), the neighbour counts added bit-parallel, 64 cells at a time, and the clusters labelled
// over runs of same-colour cells in a row rather than over single cells. Update then brings the
// measures to another occupancy of the same grid at the cost of the cells that changed, one
// cell after another: every cell keeps its neighbours' occupancy and colours in a byte, so a
// change moves the shares of its 3 x 3 block alone; every occupied cell keeps the label of its
// cluster and every label its size, so a cell taken joins the clusters beside it (the smaller
// ones relabelled), and a cell left splits its cluster only where the neighbours of its colour
// around it fall apart into groups that a search from each, in turn, shows are no longer joined.
// The count of agents a rule leaves unsatisfied moves with the shares; a change of rule counts
// them again from what is kept: the neighbour bytes, or the bit planes of a fresh measure.
class IncrementalMeasures {
 public:
  static constexpr std::int64_t ShareUnit = 840;  // 1..8 all divide it: the sums are exact
  // The eight neighbours of the torus; NeighbourhoodMeasures keeps those of other shapes.
  static constexpr bool Handles(const ModelShape& shape) { return shape.radius == 1 && shape.torus; }
  // A segregation rule: per count of occupied neighbours (0..8), the fewest like ones that
  // satisfy an agent; 9 where none do.
  using Rule = std::array<std::uint8_t, 9>;
  // The rule of a threshold in percent (detail::IsSatisfied).
  static Rule RuleOf(double thresholdPercent);
  // The rule of UnsatisfiedByRule, from now on. Every agent is satisfied until one is given.
  void SetRule(const Rule& rule);
  // Measures the occupancy afresh; with track, keeps what Update needs.
  void Rebuild(const std::uint8_t* occupancy, std::int32_t cols, std::int32_t rows, bool track);
  // Brings the measures from the occupancy measured last (with track) to this one, of the same
  // grid. Returns false, having changed nothing, where Rebuild would cost less.
  bool Update(const std::uint8_t* occupancy);
  // The cells that differed in the last Update; where it gave up, more than it would follow.
  std::size_t Changed() const { return changed_.size(); }

  std::int64_t Shares() const { return shares_; }    // like / neighbours, in ShareUnit-ths
  std::int64_t Counted() const { return counted_; }  // agents with at least one neighbour
  std::int64_t Clusters() const { return clusters_; }
  std::int64_t UnsatisfiedByRule() const { return unsatisfied_; }  // agents the rule leaves unsatisfied

 private:
  using Word = std::uint64_t;
  using Ring = std::array<std::size_t, 8>;

  void PackPlanes(const std::uint8_t* occupancy);
  void AddShares();
  void CountSimilar();
  void CountNeighbours();
  std::int32_t Find(std::int32_t run);
  std::int64_t LabelRuns(int colour, bool label);
  void Around(std::size_t k, Ring& ring) const;
  auto Visitor() const;
  void ChangeShares(std::size_t k, std::uint8_t to, const Ring& ring);
  void Leave(std::size_t k, std::uint8_t colour, const Ring& ring);
  void Join(std::size_t k, std::uint8_t colour, const Ring& ring);

  std::int32_t cols_ = 0, rows_ = 0;
  std::size_t words_ = 0;  // per bit row
  Word lastMask_ = 0;      // the cells of the last word of a row
  std::vector<Word> planes_;  // black rows, then white rows
  const Word* Plane(int colour) const { return planes_.data() + std::size_t(colour) * words_ * std::size_t(rows_); }
  // Per colour and row: west + centre + east as two bit planes, and west + east.
  std::vector<Word> three_[2][2], two_[2][2];
  std::vector<Word> west_, east_;
  // Runs of same-colour cells: first and last column, and the first run of each row.
  std::vector<std::int32_t> runFirst_, runLast_, rowRuns_, parent_;
  std::vector<Word> edges_;  // scratch of the joins
  std::vector<std::int32_t> edgesBefore_;

  std::int64_t shares_ = 0, counted_ = 0, clusters_ = 0, unsatisfied_ = 0;
  Rule rule_{};
  std::array<std::array<Word, 4>, 9> fewest_{};  // the rule's bits as whole words, for the bit planes
  // The rule by a cell's byte and its neighbours' byte: 1 where it holds an unsatisfied agent.
  std::array<std::array<std::uint8_t, 256>, 3> unsatisfiedBy_{};
  // What Update keeps, after a Rebuild with track. The changes fall anywhere on the grid: the
  // big arrays lie on large pages, so that a change costs its few cache misses and no walks of
  // the page tables.
  template <typename T>
  using Big = std::vector<T, LargePageAllocator<T>>;
  Big<std::uint8_t> state_;       // the occupancy measured last
  Big<std::uint8_t> neighbours_;  // per cell: occupied | white << 4 of its 8 neighbours
  ClusterLabels labels_;
  std::vector<std::uint32_t> changed_;
};

}  // namespace zelmora
