#include "render/ChartFeed.h"

#include "ChartFonts.h"
#include "RChart.h"

namespace zelmora {

void SetUpChart(TRChart& chart) {
  chart.SetAllocSize(1000);
  chart.SetAutoRedraw(true);
  chart.SetRRim(20);
  chart.SetTRim(20);
  chart.SetBRim(40);
  SetUpCaptionAndFonts(chart, "yellow market -> red : customers  ||  green : bid price");
}

void SetUpCaptionAndFonts(TRChart& chart, const char* caption) {
  chart.SetGridStyle(TGridStyle::gsNone);
  chart.SetCaption(caption);
  chart.SetCaptionPosX(0);
  chart.SetCaptionPosY(-16);
  chart.SetCaptionAlignment(TAlignment::taRightJustify);
  chart.SetCaptionAnchorHoriz(TCaptionAnchorHoriz::cahChartRight);
  chart.SetCaptionAnchorVert(TCaptionAnchorVert::cavChartTop);
  const QFont font = TahomaFont(11);
  for (int layer = 1; layer <= 2; ++layer) {
    chart.ScalePropsX(layer)->SetFont(font);
    chart.ScalePropsY(layer)->SetFont(font);
  }
}

void SetChartRanges(TRChart& chart) {
  chart.Scale1X()->SetRangeLow(0);
  chart.Scale1X()->SetRangeHigh(500);
  chart.Scale1Y()->SetRangeLow(-10);
  chart.Scale1Y()->SetRangeHigh(ChartRangeHigh);
  chart.RefreshChart();
}

void ResetChart(TRChart& chart) {
  chart.Scale1Y()->SetRangeHigh(ChartRangeHigh);
  chart.ClearGraphics();
  chart.MovePen(0, 0);
}

void FeedChart(TRChart& chart, const ChartPoint& point) {
  if (point.newSweep) ResetChart(chart);
  const double x = double(point.x);
  chart.SelectLayer(1);  // repaints everything stored so far
  chart.SetDataColor(RGBColor(255, 0, 0));
  // Raised before the segment is added, so its end lies within the range.
  if (point.customers > chart.Scale1Y()->RangeHigh()) {
    chart.Scale1Y()->SetRangeHigh(point.customers + 50);
  }
  if (chart.Scale1Y()->RangeHigh() < point.bidPrice) {
    chart.Scale1Y()->SetRangeHigh(point.bidPrice + 50.0);
  }
  chart.AddLine(x - 1, point.lastCustomers, x, point.customers);
  chart.SetDataColor(RGBColor(0, 128, 0));
  chart.AddLine(x - 1, point.lastBidPrice, x, point.bidPrice);
}

}  // namespace zelmora
