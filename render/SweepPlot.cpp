#include "render/SweepPlot.h"

#include <QFont>
#include <QString>
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "RChart.h"
#include "render/ChartFeed.h"

namespace zelmora {
namespace {

constexpr int kPlotWidth = 800;
constexpr int kPlotHeight = 480;

// Distinct on white and from each other; a series past them takes them again.
constexpr TColor kSeriesColours[] = {RGBColor(200, 0, 0),   RGBColor(0, 0, 220),   RGBColor(0, 140, 0),
                                     RGBColor(170, 0, 170), RGBColor(220, 120, 0), RGBColor(0, 140, 160),
                                     RGBColor(0, 0, 0),     RGBColor(130, 80, 30)};

// The colour a third of the way to white: the band behind its line.
TColor Lighter(TColor colour) {
  const auto toward = [](int c) { return c + (255 - c) * 2 / 3; };
  return RGBColor(toward(RedOf(colour)), toward(GreenOf(colour)), toward(BlueOf(colour)));
}

// A range holding every finite value, with a twentieth of the span to spare at either end.
std::pair<double, double> Fitted(double low, double high) {
  if (!(high >= low)) return {0, 1};
  const double margin = high > low ? (high - low) / 20 : std::max(std::abs(high) / 20, 0.5);
  return {low - margin, high + margin};
}

}  // namespace

double DrawnX(const sweep::PlotData& plot, std::size_t k, std::size_t i) {
  const double x = plot.series[k].x[i];
  if (plot.overSteps || plot.series.size() < 2) return x;
  double low = x, high = x;
  for (const sweep::PlotSeries& s : plot.series) {
    for (const double v : s.x) low = std::min(low, v), high = std::max(high, v);
  }
  const double gap = (high > low ? high - low : 1.0) / 120;
  return x + gap * (double(k) - double(plot.series.size() - 1) / 2);
}

TColor SeriesColour(std::size_t k) { return kSeriesColours[k % std::size(kSeriesColours)]; }
TColor BandColour(std::size_t k) { return Lighter(SeriesColour(k)); }

void PlotSweep(TRChart& chart, const sweep::PlotData& plot) {
  chart.BeginLoading();
  chart.SetAutoRedraw(false);
  chart.ClearGraphics();
  chart.SetLRim(70);
  chart.SetRRim(24);
  chart.SetTRim(30);
  chart.SetBRim(48);
  chart.SetBounds(0, 0, kPlotWidth, kPlotHeight);
  std::size_t items = 16;
  for (const sweep::PlotSeries& s : plot.series) items += 8 * s.x.size();
  chart.SetAllocSize(int(std::min<std::size_t>(items, ItemStore::kMaxAllocSize)));
  SetUpCaptionAndFonts(chart, "");

  double xLow = INFINITY, xHigh = -INFINITY, yLow = INFINITY, yHigh = -INFINITY;
  for (const sweep::PlotSeries& s : plot.series) {
    for (std::size_t i = 0; i < s.x.size(); ++i) {
      xLow = std::min(xLow, s.x[i]), xHigh = std::max(xHigh, s.x[i]);
      for (const double y : {s.mean[i], s.low[i], s.high[i]}) {
        if (std::isfinite(y)) yLow = std::min(yLow, y), yHigh = std::max(yHigh, y);
      }
    }
  }
  const std::pair<double, double> xRange =
      plot.overSteps ? std::pair(xLow, std::max(xHigh, xLow + 1)) : Fitted(xLow, xHigh);
  const std::pair<double, double> yRange = Fitted(yLow, yHigh);
  chart.Scale1X()->SetCaption(QString::fromStdString(plot.xTitle));
  chart.Scale1Y()->SetCaption(QString::fromStdString(plot.yTitle));
  chart.Scale1X()->SetRangeLow(xRange.first);
  chart.Scale1X()->SetRangeHigh(xRange.second);
  chart.Scale1Y()->SetRangeLow(yRange.first);
  chart.Scale1Y()->SetRangeHigh(yRange.second);

  // The legend, where the caption would stand: each series' name in its colour.
  chart.OnScalesRendered = [&chart, &plot](TCustomRChart&, Canvas& canvas, int, int) {
    const TColor plain = canvas.FontColor();
    const QString gap = "    ";
    int width = 0;
    for (const sweep::PlotSeries& s : plot.series) width += canvas.TextWidth(QString::fromStdString(s.legend) + gap);
    int x = chart.ChartWidth() - chart.RRim() - width;
    for (std::size_t k = 0; k < plot.series.size(); ++k) {
      const QString text = QString::fromStdString(plot.series[k].legend);
      canvas.SetFontColor(SeriesColour(k));
      canvas.TextOut(x, chart.TRim() - 18, text);
      x += canvas.TextWidth(text + gap);
    }
    canvas.SetFontColor(plain);
  };
  // Over the steps, the bands go under every line: a vertical stroke at each pixel column.
  chart.OnBeforeRenderData = [&chart, &plot](TCustomRChart&, Canvas& canvas, int top, int left) {
    if (!plot.overSteps) return;
    for (std::size_t k = 0; k < plot.series.size(); ++k) {
      const sweep::PlotSeries& s = plot.series[k];
      canvas.SetPenColor(BandColour(k));
      for (std::size_t i = 1; i < s.x.size(); ++i) {
        if (!std::isfinite(s.low[i - 1] + s.high[i - 1] + s.low[i] + s.high[i])) continue;
        const QPoint a = chart.DataToPixel(1, s.x[i - 1], 0), b = chart.DataToPixel(1, s.x[i], 0);
        for (int px = a.x(); px <= b.x(); ++px) {
          const double f = b.x() > a.x() ? double(px - a.x()) / (b.x() - a.x()) : 0;
          const double low = s.low[i - 1] + f * (s.low[i] - s.low[i - 1]);
          const double high = s.high[i - 1] + f * (s.high[i] - s.high[i - 1]);
          canvas.MoveTo(px - left, chart.DataToPixel(1, s.x[i], high).y() - top);
          canvas.LineTo(px - left, chart.DataToPixel(1, s.x[i], low).y() - top + 1);
        }
      }
    }
  };

  // Error bars with caps a hundredth of the x span wide on each side, and a cross at each mean.
  const double cap = (xRange.second - xRange.first) / 100;
  const double markY = (yRange.second - yRange.first) / 120;
  for (std::size_t k = 0; k < plot.series.size(); ++k) {
    const sweep::PlotSeries& s = plot.series[k];
    std::vector<double> x(s.x.size());
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = DrawnX(plot, k, i);
    chart.SetDataColor(SeriesColour(k));
    chart.SetLineWidth(2);
    for (std::size_t i = 1; i < x.size(); ++i) {
      if (std::isfinite(s.mean[i - 1]) && std::isfinite(s.mean[i]))
        chart.AddLine(x[i - 1], s.mean[i - 1], x[i], s.mean[i]);
    }
    chart.SetLineWidth(1);
    if (plot.overSteps) continue;
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (std::isfinite(s.low[i]) && std::isfinite(s.high[i])) {
        chart.AddLine(x[i], s.low[i], x[i], s.high[i]);
        chart.AddLine(x[i] - cap, s.low[i], x[i] + cap, s.low[i]);
        chart.AddLine(x[i] - cap, s.high[i], x[i] + cap, s.high[i]);
      }
      if (std::isfinite(s.mean[i])) {
        chart.AddLine(x[i] - cap, s.mean[i] - markY, x[i] + cap, s.mean[i] + markY);
        chart.AddLine(x[i] - cap, s.mean[i] + markY, x[i] + cap, s.mean[i] - markY);
      }
    }
  }
  chart.SetAutoRedraw(true);
  chart.WindowCreated();
  chart.Loaded();
}

QImage DrawSweepPlot(const sweep::PlotData& plot) {
  TRChart chart;
  PlotSweep(chart, plot);
  return chart.PresentedImage().copy();
}

}  // namespace zelmora
