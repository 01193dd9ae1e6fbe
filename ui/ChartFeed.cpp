#include "ui/ChartFeed.h"

#include "ChartFonts.h"
#include "RChart.h"
#include "simulation/World.h"

namespace zelmora {

void SetUpChart(TRChart& chart) {
  chart.SetAllocSize(1000);
  chart.SetAutoRedraw(true);
  chart.SetRRim(20);
  chart.SetTRim(20);
  chart.SetBRim(40);
  chart.SetGridStyle(TGridStyle::gsNone);
  chart.SetCaption("yellow market -> red : customers  ||  green : bid price");
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

void FeedChart(World& world, TRChart& chart) {
  if (world.StepCount % SweepLength == 0) {
    ResetChart(chart);
    world.SweepCount += 1;
  }
  const double x = world.StepCount - SweepLength * world.SweepCount;
  const TCell& market = world.MarketCell(PlottedMarket);

  chart.SelectLayer(1);  // repaints everything stored so far
  chart.SetDataColor(RGBColor(255, 0, 0));
  // Raised before the segment is added, so its end lies within the range.
  if (market.customers > chart.Scale1Y()->RangeHigh()) {
    chart.Scale1Y()->SetRangeHigh(market.customers + 50);
  }
  if (chart.Scale1Y()->RangeHigh() < market.unitCost) {
    chart.Scale1Y()->SetRangeHigh(market.unitCost + 50.0);
  }
  chart.AddLine(x - 1, world.LastCustomers, x, market.customers);
  world.LastCustomers = market.customers;

  chart.SetDataColor(RGBColor(0, 128, 0));
  chart.AddLine(x - 1, world.LastBidPrice, x, market.unitCost);
  world.LastBidPrice = market.unitCost;
}

}  // namespace zelmora
