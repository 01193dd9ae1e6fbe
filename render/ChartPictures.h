#pragma once

#include <QImage>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "Color.h"
#include "sweep/ChartSamples.h"
#include "simulation/ChartPoint.h"

namespace zelmora {

class TRChart;

// These draw with a chart control of their own (a TRChart never shown), so they must run on the
// thread that owns the QApplication.

// The window's chart (RChart1, 777 x 265, set up by SetUpChart/SetChartRanges) as it shows after
// the last point, drawn from the points of its current sweep: the first of them started the sweep
// (or is the run's first step), the last one's segments included, as at the chart's next repaint.
QImage DrawWindowChart(const std::vector<ChartPoint>& sweep);

// Pictures of a whole run, 800 x 360: the x axis spans firstStep..lastStep, each y axis fits the
// lines drawn on it, and the legend names each line in its colour.

struct RunLine {
  const std::vector<RunPoint>* points;
  TColor colour;
  int layer;           // 1: the left axis, 2: the right one
  const char* legend;  // outlives the chart
};

// Draws the lines on a chart (800 x 360), fresh or used by an earlier picture, painting it once:
// the step axis spans firstStep..lastStep (at least one step), the left axis leftRange or, like
// the right one, the values of its lines and 0, with a twentieth of their span to spare.
void PlotRunChart(TRChart& chart, const std::vector<RunLine>& lines, double firstStep, double lastStep,
                  std::optional<std::pair<double, double>> leftRange, const char* leftCaption);

// The yellow market: customers on the left axis, the bid price on the right one.
QImage DrawMarketRunChart(const std::vector<RunPoint>& customers, const std::vector<RunPoint>& bidPrice,
                          double firstStep, double lastStep);

// % similar and % unsatisfied on the left axis (0 to 100, and 5 to spare), the mean cluster size on
// the right one.
QImage DrawSegregationRunChart(const std::vector<RunPoint>& similar, const std::vector<RunPoint>& unsatisfied,
                               const std::vector<RunPoint>& clusterSize, double firstStep, double lastStep);

// The same pictures, one after the other with one chart control: each reuses the images of the
// one before instead of making its own. The same pixels as the functions above. The control is
// made at the first picture, so this may be made before the application.
class RunChartPictures {
 public:
  RunChartPictures();
  ~RunChartPictures();
  QImage Market(const std::vector<RunPoint>& customers, const std::vector<RunPoint>& bidPrice, double firstStep,
                double lastStep);
  // The market chart of a run without a yellow market: no line, and a legend that says so.
  QImage NoMarket(double firstStep, double lastStep);
  QImage Segregation(const std::vector<RunPoint>& similar, const std::vector<RunPoint>& unsatisfied,
                     const std::vector<RunPoint>& clusterSize, double firstStep, double lastStep);

 private:
  QImage Draw(const std::vector<RunLine>& lines, double firstStep, double lastStep,
              std::optional<std::pair<double, double>> leftRange, const char* leftCaption);
  std::unique_ptr<TRChart> chart_;
};

}  // namespace zelmora
