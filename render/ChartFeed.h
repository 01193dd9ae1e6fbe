#pragma once

#include "simulation/ChartPoint.h"

namespace zelmora {

class TRChart;

// The chart under the grid follows the yellow market: its customers in red and its bid price in
// green, in sweeps of 499 steps across the range 0..500.
inline constexpr double ChartRangeHigh = 200.0;  // top of the vertical range at each sweep

// The window's settings of its chart, and the ranges it starts with (then a refresh).
void SetUpChart(TRChart& chart);
void SetChartRanges(TRChart& chart);
// The look the program's charts share: no grid, the caption above the data area's right end,
// Tahoma 11 on every axis.
void SetUpCaptionAndFonts(TRChart& chart, const char* caption);

// One step's two segments, after emptying the chart when the point starts a new sweep.
void FeedChart(TRChart& chart, const ChartPoint& point);
void ResetChart(TRChart& chart);

}  // namespace zelmora
