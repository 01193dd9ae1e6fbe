#include "render/ChartPictures.h"

#include <QFont>
#include <QString>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "RChart.h"
#include "render/ChartFeed.h"

namespace zelmora {
namespace {

// The window's chart's bounds, and those of the pictures of a run.
constexpr int kWindowChartWidth = 777;
constexpr int kWindowChartHeight = 265;
constexpr int kRunChartWidth = 800;
constexpr int kRunChartHeight = 360;

// A y range that holds every finite value of the layer's lines and 0, with a twentieth of the
// span to spare at either end: a line along 0 stays clear of the frame.
std::pair<double, double> FittedRange(const std::vector<RunLine>& lines, int layer) {
  double low = 0, high = 0;
  for (const RunLine& line : lines) {
    if (line.layer != layer) continue;
    for (const RunPoint& p : *line.points) {
      if (std::isfinite(p.value)) low = std::min(low, p.value), high = std::max(high, p.value);
    }
  }
  const double margin = high > low ? (high - low) / 20 : 1.0;
  return {low - margin, high + margin};
}

// The legend in place of the caption, where the caption would end: each entry in its line's
// colour, separated by bars in the frame's colour. The chart control writes its caption in one
// colour, so the legend is written on the canvas once the scales have set the caption's font.
void DrawLegend(TRChart& chart, const std::vector<RunLine>& lines) {
  chart.OnScalesRendered = [&chart, lines](TCustomRChart&, Canvas& canvas, int, int) {
    const QString separator = "  ||  ";
    const TColor plain = canvas.FontColor();
    const TColor bars = chart.ChartFrameColor();
    int width = 0;
    for (std::size_t k = 0; k < lines.size(); ++k) {
      width += canvas.TextWidth(lines[k].legend) + (k > 0 ? canvas.TextWidth(separator) : 0);
    }
    int x = chart.ChartWidth() - chart.RRim() - width;
    const int y = chart.TRim() - 16;
    for (std::size_t k = 0; k < lines.size(); ++k) {
      if (k > 0) {
        canvas.SetFontColor(bars);
        canvas.TextOut(x, y, separator);
        x += canvas.TextWidth(separator);
      }
      canvas.SetFontColor(lines[k].colour);
      canvas.TextOut(x, y, lines[k].legend);
      x += canvas.TextWidth(lines[k].legend);
    }
    canvas.SetFontColor(plain);
  };
}

}  // namespace

void PlotRunChart(TRChart& chart, const std::vector<RunLine>& lines, double firstStep, double lastStep,
                  std::optional<std::pair<double, double>> leftRange, const char* leftCaption) {
  // Painting waits until everything is set, as while a stored form loads: each setting would
  // repaint the chart.
  chart.BeginLoading();
  chart.SetAutoRedraw(false);
  chart.ClearGraphics();
  // Rims before bounds: each rim resizes the data image, which is small until the bounds come.
  chart.SetLRim(50);
  chart.SetRRim(60);
  chart.SetTRim(24);
  chart.SetBRim(44);
  chart.SetBounds(0, 0, kRunChartWidth, kRunChartHeight);
  std::size_t items = 16;
  for (const RunLine& line : lines) items += line.points->size();
  chart.SetAllocSize(int(std::min<std::size_t>(items, ItemStore::kMaxAllocSize)));
  SetUpCaptionAndFonts(chart, "");
  // Text in solid pixels: with few colours a picture is saved with a colour table, several times
  // faster than with 24-bit pixels.
  QFont font = chart.Scale1X()->Font();
  font.setStyleStrategy(QFont::NoAntialias);
  for (int layer = 1; layer <= 2; ++layer) {
    chart.ScalePropsX(layer)->SetFont(font);
    chart.ScalePropsY(layer)->SetFont(font);
  }
  DrawLegend(chart, lines);

  const std::pair<double, double> left = leftRange ? *leftRange : FittedRange(lines, 1);
  const std::pair<double, double> right = FittedRange(lines, 2);
  lastStep = std::max(lastStep, firstStep + 1);
  chart.Scale1X()->SetCaption("step");
  chart.Scale1Y()->SetCaption(leftCaption);
  // The right axis in its line's colour, black without one: a chart that drew an earlier picture
  // keeps the colour that picture gave it.
  TColor rightColour = colors::kBlack;
  for (const RunLine& line : lines) {
    if (line.layer == 2) rightColour = line.colour;
  }
  chart.Scale2Y()->SetColorScale(rightColour);
  chart.Scale2Y()->SetScaleLocation(TScaleLocationVert::slRight);
  chart.Scale2Y()->SetVisible(true);
  for (int layer = 1; layer <= 2; ++layer) {
    chart.ScalePropsX(layer)->SetRangeLow(firstStep);
    chart.ScalePropsX(layer)->SetRangeHigh(lastStep);
  }
  chart.Scale1Y()->SetRangeLow(left.first);
  chart.Scale1Y()->SetRangeHigh(left.second);
  chart.Scale2Y()->SetRangeLow(right.first);
  chart.Scale2Y()->SetRangeHigh(right.second);

  for (const RunLine& line : lines) {
    chart.SelectLayer(line.layer);
    chart.SetDataColor(line.colour);
    const std::vector<RunPoint>& p = *line.points;
    for (std::size_t i = 1; i < p.size(); ++i) {
      if (std::isnan(p[i - 1].value) || std::isnan(p[i].value)) continue;
      chart.AddLine(p[i - 1].step, p[i - 1].value, p[i].step, p[i].value);
    }
  }
  chart.SetAutoRedraw(true);
  chart.WindowCreated();
  // The legend is written once the scales have drawn, so this one repaint is the finished one.
  chart.Loaded();
}

QImage DrawWindowChart(const std::vector<ChartPoint>& sweep) {
  TRChart chart;
  chart.WindowCreated();
  chart.SetBounds(0, 0, kWindowChartWidth, kWindowChartHeight);
  SetUpChart(chart);
  chart.ClearGraphics();  // the window's first ResetWorld
  chart.MovePen(0, 0);
  SetChartRanges(chart);
  // Repaints while feeding would be overdrawn by the final one.
  chart.SetAutoRedraw(false);
  for (const ChartPoint& point : sweep) FeedChart(chart, point);
  chart.SetAutoRedraw(true);
  // The caption's font is the one the previous repaint left on the canvas, so the picture is
  // taken from a second full repaint, as the window shows it after its first.
  chart.PaintChart();
  chart.PaintChart();
  return chart.PresentedImage();
}

RunChartPictures::RunChartPictures() = default;
RunChartPictures::~RunChartPictures() = default;

QImage RunChartPictures::Draw(const std::vector<RunLine>& lines, double firstStep, double lastStep,
                              std::optional<std::pair<double, double>> leftRange, const char* leftCaption) {
  if (!chart_) chart_ = std::make_unique<TRChart>();  // a widget: made once the application is
  PlotRunChart(*chart_, lines, firstStep, lastStep, leftRange, leftCaption);
  return chart_->PresentedImage();  // shared until the next picture paints
}

QImage RunChartPictures::Market(const std::vector<RunPoint>& customers, const std::vector<RunPoint>& bidPrice,
                                double firstStep, double lastStep) {
  return Draw({{&customers, RGBColor(255, 0, 0), 1, "yellow market: customers (left)"},
               {&bidPrice, RGBColor(0, 128, 0), 2, "bid price (right)"}},
              firstStep, lastStep, std::nullopt, "customers");
}

QImage RunChartPictures::NoMarket(double firstStep, double lastStep) {
  static const std::vector<RunPoint> none;
  return Draw({{&none, RGBColor(0, 0, 0), 1, "this run has no yellow market (fewer than 3 markets)"}}, firstStep,
              lastStep, std::nullopt, "customers");
}

QImage RunChartPictures::Segregation(const std::vector<RunPoint>& similar, const std::vector<RunPoint>& unsatisfied,
                                     const std::vector<RunPoint>& clusterSize, double firstStep, double lastStep) {
  return Draw({{&similar, RGBColor(255, 0, 0), 1, "% similar"},
               {&unsatisfied, RGBColor(0, 0, 255), 1, "% unsatisfied"},
               {&clusterSize, RGBColor(0, 128, 0), 2, "mean cluster size (right)"}},
              firstStep, lastStep, std::pair(-5.0, 105.0), "%");
}

QImage DrawMarketRunChart(const std::vector<RunPoint>& customers, const std::vector<RunPoint>& bidPrice,
                          double firstStep, double lastStep) {
  return RunChartPictures().Market(customers, bidPrice, firstStep, lastStep);
}

QImage DrawSegregationRunChart(const std::vector<RunPoint>& similar, const std::vector<RunPoint>& unsatisfied,
                               const std::vector<RunPoint>& clusterSize, double firstStep, double lastStep) {
  return RunChartPictures().Segregation(similar, unsatisfied, clusterSize, firstStep, lastStep);
}

}  // namespace zelmora
