#include "render/ChartFeed.h"

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

void FeedChart(World& world, TRChart& chart) {
  const TCell& market = world.MarketCell(PlottedMarket);
  FeedChartPoint(chart, world.StepCount, market.customers, market.unitCost, world.SweepCount,
                 world.LastCustomers, world.LastBidPrice);
}

void FeedChartPoint(TRChart& chart, std::int32_t stepCount, double customers, double bidPrice,
                    std::int32_t& sweepCount, double& lastCustomers, double& lastBidPrice) {
  if (stepCount % SweepLength == 0) {
    ResetChart(chart);
    sweepCount += 1;
  }
  const double x = stepCount - SweepLength * sweepCount;

  chart.SelectLayer(1);  // repaints everything stored so far
  chart.SetDataColor(RGBColor(255, 0, 0));
  // Raised before the segment is added, so its end lies within the range.
  if (customers > chart.Scale1Y()->RangeHigh()) {
    chart.Scale1Y()->SetRangeHigh(customers + 50);
  }
  if (chart.Scale1Y()->RangeHigh() < bidPrice) {
    chart.Scale1Y()->SetRangeHigh(bidPrice + 50.0);
  }
  chart.AddLine(x - 1, lastCustomers, x, customers);
  lastCustomers = customers;

  chart.SetDataColor(RGBColor(0, 128, 0));
  chart.AddLine(x - 1, lastBidPrice, x, bidPrice);
  lastBidPrice = bidPrice;
}

}  // namespace zelmora
