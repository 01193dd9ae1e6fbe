#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "sweep/ChartSamples.h"
#include "simulation/ChartPoint.h"

namespace zelmora::sweep {

// Values over the steps of a run, for drawing its lines, in memory fixed when the series is made
// whatever the run's length. Points go into at most `capacity` buckets: one point each while they
// fit, then neighbouring buckets are merged in pairs whenever all are taken, so a bucket holds
// 1, 2, 4, ... consecutive points. A bucket keeps, per column, its first, lowest, highest and last
// finite value with their steps: the line through them runs through every extreme of the run, and
// through every point while each bucket holds one.
class RunSeries {
 public:
  static constexpr std::size_t DefaultCapacity = 2048;

  // At least 2 buckets; an odd capacity is taken one lower.
  explicit RunSeries(std::size_t columns, std::size_t capacity = DefaultCapacity);

  // One value per column at a step above the last one; a NaN value is a gap in its line.
  void Add(std::int64_t step, std::initializer_list<double> values) { Add(step, values.begin()); }
  void Add(std::int64_t step, const double* values);

  std::size_t Columns() const { return columns_; }
  std::int64_t Count() const { return count_; }
  bool Empty() const { return used_ == 0; }
  std::int64_t FirstStep() const;
  std::int64_t LastStep() const;
  // Points per full bucket: 1 while every point is kept.
  std::int64_t PerBucket() const { return perBucket_; }
  std::size_t Buckets() const { return used_; }
  // What the series holds, which does not change as points are added.
  std::size_t MemoryBytes() const;

  // The points a column's line runs through, in step order, with a NaN value where it breaks:
  // in a bucket without a finite value, and on both sides of a bucket that also holds a NaN.
  std::vector<RunPoint> Line(std::size_t column) const;

 private:
  struct Span {
    std::int64_t firstStep, lastStep, count;
  };
  // One column's values within a bucket; the steps lie in the bucket's span.
  struct Extent {
    double first, low, high, last;
    std::int64_t firstStep, lowStep, highStep, lastStep;
    std::int64_t finite;  // values that are not NaN
    bool gap;             // a NaN among the values
  };
  static Extent Start(std::int64_t step, double value);
  static void Merge(Extent& into, const Extent& later);
  void HalveBuckets();
  Extent* ExtentsOf(std::size_t bucket) { return extents_.data() + bucket * columns_; }

  std::size_t columns_;
  std::size_t capacity_;
  std::vector<Span> spans_;
  std::vector<Extent> extents_;  // bucket after bucket, one per column
  std::size_t used_ = 0;
  std::int64_t perBucket_ = 1;
  std::int64_t count_ = 0;
};

// What a run keeps for its charts: the yellow market after every step, the segregation measures
// at the recorded steps, and, when asked for, the window's chart. Bounded whatever the run's length.
class RunCharts {
 public:
  explicit RunCharts(bool windowView = false) : windowView_(windowView) {}

  void Add(std::int32_t step, const MarketSample& market);
  void Add(const SegregationSample& measures);

  // Customers, bid price.
  const RunSeries& Market() const { return market_; }
  // % similar, % unsatisfied, mean cluster size.
  const RunSeries& Segregation() const { return segregation_; }
  bool WindowView() const { return windowView_; }
  // A run with fewer markets than the yellow market's index has no market line to draw.
  void SetNoYellowMarket() { noYellowMarket_ = true; }
  bool NoYellowMarket() const { return noYellowMarket_; }
  const ChartSweep& Window() const { return window_; }

 private:
  RunSeries market_{2};
  RunSeries segregation_{3};
  bool windowView_;
  bool noYellowMarket_ = false;
  ChartSweep window_;
};

}  // namespace zelmora::sweep
