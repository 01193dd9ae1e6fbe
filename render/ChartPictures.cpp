#include "render/ChartPictures.h"

#include <algorithm>
#include <cmath>

#include "RChart.h"
#include "render/ChartFeed.h"

namespace zelmora {
namespace {

// The window's chart: its bounds, settings and first ranges.
constexpr int kMarketChartWidth = 777;
constexpr int kMarketChartHeight = 265;

// The caption's font is the one the previous repaint left on the canvas, so a picture is taken
// from a second full repaint, as the window shows it after its first.
QImage FinishedPicture(TRChart& chart) {
  chart.PaintChart();
  chart.PaintChart();
  return chart.PresentedImage().copy();
}

}  // namespace

QImage DrawMarketChart(const std::vector<MarketSample>& samples) {
  TRChart chart;
  chart.WindowCreated();
  chart.SetBounds(0, 0, kMarketChartWidth, kMarketChartHeight);
  SetUpChart(chart);
  chart.ClearGraphics();  // the window's first ResetWorld
  chart.MovePen(0, 0);
  SetChartRanges(chart);

  // Only the last sweep's segments stay in the chart, and its ranges start afresh with it, so
  // the steps before it only carry the feed's counters forward. Repaints while feeding would
  // be overdrawn by the final one.
  const std::int32_t steps = samples.empty() ? 0 : samples.back().step;
  const std::int32_t first = steps - static_cast<std::int32_t>(samples.size()) + 1;  // step of samples[0]
  const auto at = [&](std::int32_t step) -> const MarketSample& { return samples[std::size_t(step - first)]; };
  const std::int32_t sweepStart = steps / SweepLength * SweepLength;  // 0: the first sweep
  std::int32_t sweepCount = 0;
  double lastCustomers = 0.0;
  double lastBidPrice = 0.0;
  if (sweepStart > 0) {
    sweepCount = sweepStart / SweepLength - 1;
    if (sweepStart >= 2) {
      lastCustomers = at(sweepStart - 1).customers;
      lastBidPrice = at(sweepStart - 1).bidPrice;
    }
  }
  chart.SetAutoRedraw(false);
  for (std::int32_t step = std::max(sweepStart, 1); step <= steps; ++step) {
    const MarketSample& s = at(step);
    FeedChartPoint(chart, step, s.customers, s.bidPrice, sweepCount, lastCustomers, lastBidPrice);
  }
  chart.SetAutoRedraw(true);
  return FinishedPicture(chart);
}

QImage DrawSegregationChart(const std::vector<SegregationSample>& samples) {
  TRChart chart;
  chart.WindowCreated();
  chart.SetAutoRedraw(false);
  chart.SetBounds(0, 0, 800, 360);
  chart.SetAllocSize(int(std::min<std::size_t>(3 * samples.size() + 16, 1 << 20)));
  chart.SetLRim(50);
  chart.SetRRim(60);
  chart.SetTRim(24);
  chart.SetBRim(44);
  SetUpCaptionAndFonts(chart, "red : % similar  ||  blue : % unsatisfied  ||  green : mean cluster size (right)");

  double firstStep = 0, lastStep = 1, maxCluster = 0;
  if (!samples.empty()) {
    firstStep = samples.front().step;
    lastStep = std::max<double>(samples.back().step, firstStep + 1);
  }
  for (const SegregationSample& s : samples) {
    if (std::isfinite(s.meanClusterSize)) maxCluster = std::max(maxCluster, s.meanClusterSize);
  }
  const double clusterTop = maxCluster > 0 ? maxCluster * 1.1 : 1.0;
  chart.Scale1X()->SetCaption("step");
  chart.Scale1Y()->SetCaption("%");
  chart.Scale2Y()->SetColorScale(RGBColor(0, 128, 0));
  chart.Scale2Y()->SetScaleLocation(TScaleLocationVert::slRight);
  chart.Scale2Y()->SetVisible(true);
  for (int layer = 1; layer <= 2; ++layer) {
    chart.ScalePropsX(layer)->SetRangeLow(firstStep);
    chart.ScalePropsX(layer)->SetRangeHigh(lastStep);
  }
  chart.Scale1Y()->SetRangeLow(0);
  chart.Scale1Y()->SetRangeHigh(100);
  chart.Scale2Y()->SetRangeLow(0);
  chart.Scale2Y()->SetRangeHigh(clusterTop);

  // One polyline per measure; a NaN at either end leaves the segment out.
  const auto plot = [&](int layer, TColor colour, auto value) {
    chart.SelectLayer(layer);
    chart.SetDataColor(colour);
    for (std::size_t i = 1; i < samples.size(); ++i) {
      const double y0 = value(samples[i - 1]);
      const double y1 = value(samples[i]);
      if (std::isnan(y0) || std::isnan(y1)) continue;
      chart.AddLine(samples[i - 1].step, y0, samples[i].step, y1);
    }
  };
  plot(1, RGBColor(255, 0, 0), [](const SegregationSample& s) { return s.percentSimilar; });
  plot(1, RGBColor(0, 0, 255), [](const SegregationSample& s) { return 100.0 * s.unsatisfiedShare; });
  plot(2, RGBColor(0, 128, 0), [](const SegregationSample& s) { return s.meanClusterSize; });
  chart.SetAutoRedraw(true);
  return FinishedPicture(chart);
}

}  // namespace zelmora
