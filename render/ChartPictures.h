#pragma once

#include <QImage>

#include <vector>

#include "render/ChartSamples.h"

namespace zelmora {

// These draw with a chart control of their own (a TRChart never shown), so they must run on the
// thread that owns the QApplication.

// `samples`: the yellow market after consecutive steps ending with the run's last, at least from
// the step before the last sweep began.
// The window's chart (RChart1, 777 x 265, set up by SetUpChart/SetChartRanges) as it shows after
// the last sample's step of a run that started from a fresh window: the same sweeps, ranges and
// segments as FeedChart would give, the last step's segments included (as at the chart's next
// repaint).
QImage DrawMarketChart(const std::vector<MarketSample>& samples);

// A line chart of the segregation measures over the recorded steps, drawn by our own chart
// control (caption, axes, legend in the caption): % similar and % unsatisfied on the left axis,
// the mean cluster size on the right one. A NaN leaves a gap in its line.
QImage DrawSegregationChart(const std::vector<SegregationSample>& samples);

}  // namespace zelmora
