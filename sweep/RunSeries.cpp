#include "sweep/RunSeries.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace zelmora::sweep {

RunSeries::RunSeries(std::size_t columns, std::size_t capacity)
    : columns_(columns), capacity_(std::max<std::size_t>(capacity, 2) & ~std::size_t(1)) {
  spans_.resize(capacity_);
  extents_.resize(capacity_ * columns_);
}

std::int64_t RunSeries::FirstStep() const { return used_ ? spans_[0].firstStep : 0; }
std::int64_t RunSeries::LastStep() const { return used_ ? spans_[used_ - 1].lastStep : 0; }

std::size_t RunSeries::MemoryBytes() const {
  return sizeof(*this) + spans_.capacity() * sizeof(Span) + extents_.capacity() * sizeof(Extent);
}

RunSeries::Extent RunSeries::Start(std::int64_t step, double value) {
  const bool finite = !std::isnan(value);
  return {value, value, value, value, step, step, step, step, finite ? 1 : 0, !finite};
}

// Ties keep the earlier step, so a flat stretch is drawn from where it begins.
void RunSeries::Merge(Extent& into, const Extent& later) {
  if (later.finite > 0) {
    if (into.finite == 0) {
      into.first = later.first, into.firstStep = later.firstStep;
      into.low = later.low, into.lowStep = later.lowStep;
      into.high = later.high, into.highStep = later.highStep;
    } else {
      if (later.low < into.low) into.low = later.low, into.lowStep = later.lowStep;
      if (later.high > into.high) into.high = later.high, into.highStep = later.highStep;
    }
    into.last = later.last, into.lastStep = later.lastStep;
  }
  into.finite += later.finite;
  into.gap = into.gap || later.gap;
}

void RunSeries::HalveBuckets() {
  for (std::size_t to = 0, from = 0; from < used_; ++to, from += 2) {
    spans_[to] = spans_[from];
    std::copy_n(ExtentsOf(from), columns_, ExtentsOf(to));
    if (from + 1 == used_) continue;
    spans_[to].lastStep = spans_[from + 1].lastStep;
    spans_[to].count += spans_[from + 1].count;
    for (std::size_t c = 0; c < columns_; ++c) Merge(ExtentsOf(to)[c], ExtentsOf(from + 1)[c]);
  }
  used_ = (used_ + 1) / 2;
  perBucket_ *= 2;
}

void RunSeries::Add(std::int64_t step, const double* values) {
  ++count_;
  if (used_ > 0 && spans_[used_ - 1].count < perBucket_) {
    Span& span = spans_[used_ - 1];
    span.lastStep = step;
    span.count += 1;
    Extent* extents = ExtentsOf(used_ - 1);
    for (std::size_t c = 0; c < columns_; ++c) Merge(extents[c], Start(step, values[c]));
    return;
  }
  if (used_ == capacity_) HalveBuckets();
  spans_[used_] = {step, step, 1};
  Extent* extents = ExtentsOf(used_);
  for (std::size_t c = 0; c < columns_; ++c) extents[c] = Start(step, values[c]);
  ++used_;
}

std::vector<RunPoint> RunSeries::Line(std::size_t column) const {
  constexpr double Break = std::numeric_limits<double>::quiet_NaN();
  std::vector<RunPoint> line;
  line.reserve(4 * used_ + 2);
  const auto breakLine = [&] {
    if (!line.empty() && !std::isnan(line.back().value)) line.push_back({line.back().step, Break});
  };
  for (std::size_t b = 0; b < used_; ++b) {
    const Extent& e = extents_[b * columns_ + column];
    if (e.gap) breakLine();
    if (e.finite == 0) continue;
    std::array<RunPoint, 4> points{{{double(e.firstStep), e.first},
                                    {double(e.lowStep), e.low},
                                    {double(e.highStep), e.high},
                                    {double(e.lastStep), e.last}}};
    std::sort(points.begin(), points.end(), [](const RunPoint& a, const RunPoint& b) { return a.step < b.step; });
    for (std::size_t k = 0; k < points.size(); ++k) {
      if (k == 0 || points[k].step != points[k - 1].step) line.push_back(points[k]);
    }
    if (e.gap) breakLine();
  }
  return line;
}

void RunCharts::Add(std::int32_t step, const MarketSample& market) {
  market_.Add(step, {market.customers, market.bidPrice});
  if (windowView_) window_.Add(step, market.customers, market.bidPrice);
}

void RunCharts::Add(const SegregationSample& measures) {
  segregation_.Add(measures.step, {measures.percentSimilar, 100.0 * measures.unsatisfiedShare, measures.meanClusterSize});
}

}  // namespace zelmora::sweep
