#pragma once

#include "ChartFonts.h"
#include "RChart.h"

#include <QString>

#include <memory>

namespace zelmora::testing {

inline const QString kProgramCaption =
    QStringLiteral("yellow market -> red : customers  ||  green : bid price");

// The chart as the program's window sets it up: 777 x 265, rims 50/20/20/40,
// x 0..500, y -10..200, Tahoma 11 px on every scale, window created.
inline std::unique_ptr<TRChart> MakeProgramChart(bool windowCreated = true) {
  auto chart = std::make_unique<TRChart>(nullptr);
  chart->SetBounds(0, 0, 777, 265);
  chart->SetAllocSize(1000);
  chart->SetAutoRedraw(true);
  chart->SetRRim(20);
  chart->SetTRim(20);
  chart->SetBRim(40);
  chart->SetGridStyle(TGridStyle::gsNone);
  chart->SetCaption(kProgramCaption);
  chart->SetCaptionPosX(0);
  chart->SetCaptionPosY(-16);
  chart->SetCaptionAlignment(TAlignment::taRightJustify);
  chart->SetCaptionAnchorHoriz(TCaptionAnchorHoriz::cahChartRight);
  chart->SetCaptionAnchorVert(TCaptionAnchorVert::cavChartTop);
  for (TScaleProps* s : {static_cast<TScaleProps*>(chart->Scale1X()),
                         static_cast<TScaleProps*>(chart->Scale1Y()),
                         static_cast<TScaleProps*>(chart->Scale2X()),
                         static_cast<TScaleProps*>(chart->Scale2Y())}) {
    s->SetFont(TahomaFont(11));
  }
  chart->Scale1X()->SetRangeLow(0);
  chart->Scale1X()->SetRangeHigh(500);
  chart->Scale1Y()->SetRangeLow(-10);
  chart->Scale1Y()->SetRangeHigh(200);
  if (windowCreated) chart->WindowCreated();
  return chart;
}

}  // namespace zelmora::testing
