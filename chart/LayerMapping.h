#pragma once

#include "ScaleMath.h"

#include <QPoint>

#include <cmath>

namespace zelmora {

// The chart's size and rims in pixels.
struct ChartGeometry {
  int width = 0;
  int height = 0;
  int lRim = 0;
  int rRim = 0;
  int tRim = 0;
  int bRim = 0;
  int shadowWidth = 0;
};

// One axis' range as the mapping needs it.
struct AxisRange {
  double low = 0.0;
  double high = 1.0;
  bool logarithmic = false;
};

// Data units of one layer to control pixels: column kx * x + dx, row
// ky * y + dy (of ln x, ln y on logarithmic axes), origin at the control's top
// left, y downwards. k = 0 means every value maps to d.
struct LayerMapping {
  long double kx = 0;
  long double dx = 0;
  long double ky = 0;
  long double dy = 0;
  bool logX = false;
  bool logY = false;
  bool xRising = true;  // RangeHigh >= RangeLow
  bool yRising = true;
  int width = 0;
  int height = 0;
};

// xLo falls on column LRim and xHi on W - RRim - SW, yLo on row H - BRim - SW
// and yHi on TRim. A data area of no width (height) maps every x (y) to W / 2
// (H / 2); so does a range of no width or one without a finite mapping, which
// the setters let arise only through rounding.
LayerMapping ComputeLayerMapping(const ChartGeometry& g, const AxisRange& x, const AxisRange& y);

namespace detail {
inline int MapAxis(long double k, long double d, bool log, bool rising, double v, int lowEnd,
                   int highEnd) {
  if (log) {
    if (v <= 1e-100) return rising ? lowEnd : highEnd;
    return LimitAndRound(static_cast<double>(k == 0 ? d : k * std::log(static_cast<long double>(v)) + d));
  }
  return LimitAndRound(static_cast<double>(k == 0 ? d : k * v + d));
}
}  // namespace detail

// Control pixel of a data point: computed in extended precision, held as a
// double, limited to +-2147483647 and rounded half to even. On a logarithmic
// axis a value of 1e-100 or less goes to column 0 (row H), or W (row 0) when
// the axis is reversed.
inline QPoint DataToPixel(const LayerMapping& m, double x, double y) {
  return QPoint(detail::MapAxis(m.kx, m.dx, m.logX, m.xRising, x, 0, m.width),
                detail::MapAxis(m.ky, m.dy, m.logY, m.yRising, y, m.height, 0));
}

// One linear axis of a layer prepared for drawing: the same pixels as
// DataToPixel limited to +-limit, mostly without extended precision. The
// double result is used where it lies too far from a half-integer for the
// extended one to round differently; otherwise the extended value decides.
class LimitedAxisMap {
 public:
  LimitedAxisMap(long double k, long double d, int limit);

  int operator()(double v) const {
    if (constant_) return constantPixel_;
    const double pd = kd_ * v + dd_;
    // Far off either way: limited, whatever the rounding.
    if (pd > far_) return limit_;
    if (pd < -far_) return -limit_;
#if defined(__SSE2__)
    const int r = _mm_cvtsd_si32(_mm_set_sd(pd));
#else
    const int r = static_cast<int>(std::nearbyint(pd));
#endif
    // Also false for a NaN, which the extended path turns into 0.
    if (0.5 - std::fabs(pd - r) > eps_) return Limit(r);
    return Limit(LimitAndRound(static_cast<double>(k_ * v + d_)));
  }

 private:
  int Limit(int p) const { return p < -limit_ ? -limit_ : (p > limit_ ? limit_ : p); }

  long double k_;
  long double d_;
  double kd_;
  double dd_;
  double far_;
  // Bound of the double path's error for |p| <= far_, with room to spare.
  double eps_;
  int limit_;
  bool constant_;
  int constantPixel_;
};

}  // namespace zelmora
