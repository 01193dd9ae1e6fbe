#pragma once

#include "Color.h"

#include <stdexcept>
#include <string>

namespace zelmora {

// Which point of a text lies at its anchor point.
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

// Anchor of a scale caption along its axis: start (left/top), middle, end.
enum class TScaleUnitAnchor { uaSclTopLft, uaSclCenter, uaSclBotRgt };

// Kind of tick label.
enum class TFigType { ftNoFigs, ftNum, ftTime, ftDateTime, ftUserText };

enum class TScaleLocationHoriz { slTop, slBottom };
enum class TScaleLocationVert { slLeft, slRight };

// Placement of an axis object: sctXT is an x axis at the bottom, sctXB at the
// top, sctYR a y axis at the left, sctYL at the right (the names say on which
// side of the axis line the data area lies).
enum class TScaleType { sctXT, sctXB, sctYR, sctYL };

enum class TGridStyle {
  gsNone, gsPoints, gsVertLines, gsHorizLines, gsLines, gsHorizDotLines, gsVertDotLines,
  gsDotLines
};

enum class TCaptionAnchorHoriz {
  cahControlLeft, cahChartLeft, cahChartCenter, cahChartRight, cahControlRight
};
enum class TCaptionAnchorVert {
  cavControlTop, cavChartTop, cavChartCenter, cavChartBottom, cavControlBottom
};

enum class TMouseAction {
  maNone, maPan, maPanHoriz, maPanVert, maRubberBand, maZoom, maZoomWind, maZoomWindPos,
  maZoomDrag, maDragCrossH, maDragLabel
};

enum class TShadowStyle { ssFlying, ssBox };
enum class TTextBkStyle { tbClear, tbSolid };

// Item kinds kept in the store; the values are those of the stored form.
constexpr unsigned char kindLine = 2;
constexpr unsigned char kindMovePen = 8;

// Colours with the top byte set name system colours; they are resolved to the
// desktop palette when drawn (ResolveColor).
constexpr TColor clBtnFace = 0xFF00000Fu;
constexpr TColor clGrayText = 0xFF000011u;
constexpr TColor clMaroon = RGBColor(128, 0, 0);

// A plain colour stays as it is; a system colour becomes the palette's.
TColor ResolveColor(TColor color);

// The chart's own error: invalid layer joints.
class EVrelRChartError : public std::runtime_error {
 public:
  explicit EVrelRChartError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace zelmora
