#pragma once

#include <cstdint>

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
// The look the program's charts share: no grid, the caption above the data area's right end,
// Tahoma 11 on every axis.
void SetUpCaptionAndFonts(TRChart& chart, const char* caption);

// One step's two segments; starts a new sweep every 499 steps.
void FeedChart(World& world, TRChart& chart);
// The same from values: the step just completed, the plotted market's customers and bid price,
// and the feed's counters (the World's SweepCount, LastCustomers, LastBidPrice), updated.
void FeedChartPoint(TRChart& chart, std::int32_t stepCount, double customers, double bidPrice,
                    std::int32_t& sweepCount, double& lastCustomers, double& lastBidPrice);
void ResetChart(TRChart& chart);

}  // namespace zelmora
