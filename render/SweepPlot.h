#pragma once

#include <QImage>

#include <string>

#include "Color.h"
#include "sweep/Summary.h"

namespace zelmora {

class TRChart;

// A sweep's plot, 800 x 480, drawn by a chart control (a TRChart never shown; on the thread that
// owns the QApplication): each series' mean as a line with a mark at each x, its 95 % interval as
// error bars over a parameter or as a band in a lighter shade over the steps, the axes titled,
// and a legend above the data area naming each series in its colour. Both axes fit every mean and
// interval with a twentieth of their span to spare.
void PlotSweep(TRChart& chart, const sweep::PlotData& plot);
QImage DrawSweepPlot(const sweep::PlotData& plot);

// The same plot as SVG text, for figures that scale: the size, rims, ranges, ticks, colours and
// legend of DrawSweepPlot, each series a path of its means (class "mean"), its intervals as error
// bars (class "interval") or a band (class "band") and its legend's text. Needs no QApplication.
std::string SweepPlotSvg(const sweep::PlotData& plot);

// Where series k's i-th point is drawn: over a parameter, the series side by side around its x
// (a hundred-and-twentieth of the x span apart), so their error bars do not hide each other.
double DrawnX(const sweep::PlotData& plot, std::size_t k, std::size_t i);

// The colour of the k-th series, and of its band (a third of the way to white).
TColor SeriesColour(std::size_t k);
TColor BandColour(std::size_t k);

}  // namespace zelmora
