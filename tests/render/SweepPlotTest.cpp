#include <gtest/gtest.h>

#include <cmath>

#include "RChart.h"
#include "render/SweepPlot.h"

namespace zelmora {
namespace {

TColor PixelAt(const TRChart& chart, QPoint p) { return FromQRgb(chart.PresentedImage().pixel(p)); }

// Two series far apart, so no mark of one falls on the other's.
sweep::PlotData TwoSeries(bool overSteps) {
  sweep::PlotData plot{"markets", "percent_similar (%)", overSteps, {}};
  plot.series.push_back({"relocation = nearby", {1, 3, 5}, {20, 25, 22}, {15, 21, 19}, {25, 29, 25}});
  plot.series.push_back({"relocation = anywhere", {1, 3, 5}, {70, 80, 75}, {60, 78, 70}, {80, 82, 80}});
  return plot;
}

TEST(SweepPlot, EachMeanAndBothEndsOfItsErrorBarStandWhereTheAxesPutThem) {
  TRChart chart;
  const sweep::PlotData plot = TwoSeries(false);
  PlotSweep(chart, plot);
  for (std::size_t k = 0; k < plot.series.size(); ++k) {
    const sweep::PlotSeries& s = plot.series[k];
    for (std::size_t i = 0; i < s.x.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "series " << k << ", point " << i);
      const double x = DrawnX(plot, k, i);
      EXPECT_NE(x, s.x[i]);  // side by side
      for (const double y : {s.mean[i], s.low[i], s.high[i]}) {
        EXPECT_EQ(PixelAt(chart, chart.DataToPixel(1, x, y)), SeriesColour(k)) << "at " << y;
      }
      // Nothing of the bar past its ends.
      const QPoint above = chart.DataToPixel(1, x, s.high[i]) - QPoint(0, 3);
      const QPoint below = chart.DataToPixel(1, x, s.low[i]) + QPoint(0, 3);
      EXPECT_NE(PixelAt(chart, above), SeriesColour(k));
      EXPECT_NE(PixelAt(chart, below), SeriesColour(k));
    }
  }
  // Both axes hold every interval.
  const QPoint lowest = chart.DataToPixel(1, 1, 15), highest = chart.DataToPixel(1, 3, 82);
  EXPECT_LT(lowest.y(), chart.ChartHeight() - chart.BRim());
  EXPECT_GT(highest.y(), chart.TRim());
}

TEST(SweepPlot, OverTheStepsTheIntervalIsABandUnderTheMean) {
  TRChart chart;
  const sweep::PlotData plot = TwoSeries(true);
  PlotSweep(chart, plot);
  for (std::size_t k = 0; k < plot.series.size(); ++k) {
    const sweep::PlotSeries& s = plot.series[k];
    // The first and last steps lie on the frame.
    for (std::size_t i = 1; i + 1 < s.x.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "series " << k << ", point " << i);
      EXPECT_EQ(PixelAt(chart, chart.DataToPixel(1, s.x[i], s.mean[i])), SeriesColour(k));
      const double inside = (s.mean[i] + s.high[i]) / 2;
      if (chart.DataToPixel(1, s.x[i], inside).y() < chart.DataToPixel(1, s.x[i], s.mean[i]).y() - 2) {
        EXPECT_EQ(PixelAt(chart, chart.DataToPixel(1, s.x[i], inside)), BandColour(k));
      }
      EXPECT_EQ(PixelAt(chart, chart.DataToPixel(1, s.x[i], s.high[i] + 2)), RGBColor(255, 255, 255));
    }
  }
}

}  // namespace
}  // namespace zelmora
