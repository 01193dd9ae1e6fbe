#include "render/SweepPlot.h"

#include <QFont>
#include <QString>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>
#include <vector>

#include "RChart.h"
#include "ScaleMath.h"
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

// The axes' ranges: x and y.
std::pair<std::pair<double, double>, std::pair<double, double>> Ranges(const sweep::PlotData& plot) {
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
  return {xRange, Fitted(yLow, yHigh)};
}

constexpr int kLeftRim = 70, kRightRim = 24, kTopRim = 30, kBottomRim = 48;

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
  chart.SetLRim(kLeftRim);
  chart.SetRRim(kRightRim);
  chart.SetTRim(kTopRim);
  chart.SetBRim(kBottomRim);
  chart.SetBounds(0, 0, kPlotWidth, kPlotHeight);
  std::size_t items = 16;
  for (const sweep::PlotSeries& s : plot.series) items += 8 * s.x.size();
  chart.SetAllocSize(int(std::min<std::size_t>(items, ItemStore::kMaxAllocSize)));
  SetUpCaptionAndFonts(chart, "");

  const auto [xRange, yRange] = Ranges(plot);
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

namespace {

// A coordinate as SVG takes it: to a hundredth of a pixel, with a point whatever the locale.
std::string Num(double value) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, std::round(value * 100) / 100 + 0.0);
  return ec == std::errc() ? std::string(text, end) : "0";
}

std::string Colour(TColor colour) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", RedOf(colour), GreenOf(colour), BlueOf(colour));
  return text;
}

// Text as XML character data and attribute values take it.
std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

std::string SweepPlotSvg(const sweep::PlotData& plot) {
  const auto [xRange, yRange] = Ranges(plot);
  const double left = kLeftRim, right = kPlotWidth - kRightRim, top = kTopRim, bottom = kPlotHeight - kBottomRim;
  const auto px = [&, xr = xRange](double x) { return left + (x - xr.first) / (xr.second - xr.first) * (right - left); };
  const auto py = [&, yr = yRange](double y) {
    return bottom - (y - yr.first) / (yr.second - yr.first) * (bottom - top);
  };
  const auto line = [](double x1, double y1, double x2, double y2) {
    return "M" + Num(x1) + " " + Num(y1) + "L" + Num(x2) + " " + Num(y2);
  };
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    Num(kPlotWidth) + "\" height=\"" + Num(kPlotHeight) + "\" viewBox=\"0 0 " + Num(kPlotWidth) + " " +
                    Num(kPlotHeight) + "\" font-family=\"sans-serif\" font-size=\"11\">\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  // The axes: the data area's frame, the ticks with their labels, the titles.
  svg += "<g class=\"axes\" stroke=\"#000000\" fill=\"none\">\n<rect x=\"" + Num(left) + "\" y=\"" + Num(top) +
         "\" width=\"" + Num(right - left) + "\" height=\"" + Num(bottom - top) + "\"/>\n";
  std::string labels;
  for (const bool horizontal : {true, false}) {
    const auto [lo, hi] = horizontal ? xRange : yRange;
    const int places = ResolveDecPlaces(-2, lo, hi);
    for (const TickMark& mark : LinearTicks(3, lo, hi, false)) {
      const std::string text = FormatTickLabel(mark.value, mark.index, places, lo, hi).toStdString();
      if (horizontal) {
        const double x = px(double(mark.value));
        svg += "<path d=\"" + line(x, bottom, x, bottom + 5) + "\"/>\n";
        labels += "<text x=\"" + Num(x) + "\" y=\"" + Num(bottom + 18) + "\" text-anchor=\"middle\">" + Escaped(text) +
                  "</text>\n";
      } else {
        const double y = py(double(mark.value));
        svg += "<path d=\"" + line(left - 5, y, left, y) + "\"/>\n";
        labels += "<text x=\"" + Num(left - 8) + "\" y=\"" + Num(y + 4) + "\" text-anchor=\"end\">" + Escaped(text) +
                  "</text>\n";
      }
    }
  }
  svg += "</g>\n<g class=\"labels\" fill=\"#000000\">\n" + labels;
  svg += "<text class=\"x-title\" x=\"" + Num((left + right) / 2) + "\" y=\"" + Num(kPlotHeight - 10) +
         "\" text-anchor=\"middle\">" + Escaped(plot.xTitle) + "</text>\n";
  svg += "<text class=\"y-title\" transform=\"translate(16 " + Num((top + bottom) / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">" + Escaped(plot.yTitle) + "</text>\n</g>\n";
  // The series: bands under every line, then each series' line, error bars and marks, clipped to
  // the data area as the chart clips them.
  svg += "<clipPath id=\"data\"><rect x=\"" + Num(left) + "\" y=\"" + Num(top) + "\" width=\"" + Num(right - left) +
         "\" height=\"" + Num(bottom - top) + "\"/></clipPath>\n<g clip-path=\"url(#data)\">\n";
  const auto series = [&](std::size_t k) { return " data-series=\"" + Escaped(plot.series[k].legend) + "\""; };
  for (std::size_t k = 0; plot.overSteps && k < plot.series.size(); ++k) {
    const sweep::PlotSeries& s = plot.series[k];
    std::string upper, lower;
    for (std::size_t i = 0; i < s.x.size(); ++i) {
      if (!std::isfinite(s.low[i] + s.high[i])) continue;
      upper += (upper.empty() ? "M" : "L") + Num(px(s.x[i])) + " " + Num(py(s.high[i]));
      lower = "L" + Num(px(s.x[i])) + " " + Num(py(s.low[i])) + lower;
    }
    if (!upper.empty()) {
      svg += "<path class=\"band\"" + series(k) + " fill=\"" + Colour(BandColour(k)) + "\" d=\"" + upper + lower +
             "Z\"/>\n";
    }
  }
  const double cap = (xRange.second - xRange.first) / 100;
  const double markY = (yRange.second - yRange.first) / 120;
  for (std::size_t k = 0; k < plot.series.size(); ++k) {
    const sweep::PlotSeries& s = plot.series[k];
    std::string mean, bars, marks;
    bool drawing = false;
    for (std::size_t i = 0; i < s.x.size(); ++i) {
      const double x = DrawnX(plot, k, i);
      if (std::isfinite(s.mean[i])) {
        mean += (drawing ? "L" : "M") + Num(px(x)) + " " + Num(py(s.mean[i]));
        if (!plot.overSteps) {
          marks += line(px(x - cap), py(s.mean[i] - markY), px(x + cap), py(s.mean[i] + markY)) +
                   line(px(x - cap), py(s.mean[i] + markY), px(x + cap), py(s.mean[i] - markY));
        }
      }
      drawing = std::isfinite(s.mean[i]);
      if (!plot.overSteps && std::isfinite(s.low[i]) && std::isfinite(s.high[i])) {
        bars += line(px(x), py(s.low[i]), px(x), py(s.high[i])) +
                line(px(x - cap), py(s.low[i]), px(x + cap), py(s.low[i])) +
                line(px(x - cap), py(s.high[i]), px(x + cap), py(s.high[i]));
      }
    }
    const std::string colour = Colour(SeriesColour(k));
    if (!mean.empty()) {
      svg += "<path class=\"mean\"" + series(k) + " fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"2\" d=\"" +
             mean + "\"/>\n";
    }
    if (!bars.empty()) {
      svg += "<path class=\"interval\"" + series(k) + " fill=\"none\" stroke=\"" + colour + "\" d=\"" + bars + "\"/>\n";
    }
    if (!marks.empty()) {
      svg += "<path class=\"mark\"" + series(k) + " fill=\"none\" stroke=\"" + colour + "\" d=\"" + marks + "\"/>\n";
    }
  }
  svg += "</g>\n";
  // The legend above the data area, right-aligned, each series' name in its colour.
  if (plot.series.size() > 1 || (!plot.series.empty() && !plot.series[0].legend.empty())) {
    svg += "<text class=\"legend\" x=\"" + Num(right) + "\" y=\"" + Num(top - 10) + "\" text-anchor=\"end\">";
    for (std::size_t k = 0; k < plot.series.size(); ++k) {
      svg += "<tspan" + series(k) + " fill=\"" + Colour(SeriesColour(k)) + "\">" + (k > 0 ? "    " : "") +
             Escaped(plot.series[k].legend) + "</tspan>";
    }
    svg += "</text>\n";
  }
  return svg + "</svg>\n";
}

}  // namespace zelmora
