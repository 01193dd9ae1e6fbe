#pragma once

namespace zelmora {

class TRChart;
class World;

// The chart under the grid follows market 2, the yellow market: its customers in red and its
// bid price in green, in sweeps of 499 steps across the range 0..500.
inline constexpr int PlottedMarket = 2;
inline constexpr int SweepLength = 499;
inline constexpr double ChartRangeHigh = 200.0;  // top of the vertical range at each sweep

// The window's settings of its chart, and the ranges it starts with (then a refresh).
void SetUpChart(TRChart& chart);
void SetChartRanges(TRChart& chart);

// One step's two segments; starts a new sweep every 499 steps.
void FeedChart(World& world, TRChart& chart);
void ResetChart(TRChart& chart);

}  // namespace zelmora
