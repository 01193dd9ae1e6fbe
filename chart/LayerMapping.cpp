#include "LayerMapping.h"

#include <cmath>

namespace zelmora {

namespace {

long double AxisValue(double v, bool log) { return log ? std::log(static_cast<long double>(v)) : v; }

}  // namespace

LayerMapping ComputeLayerMapping(const ChartGeometry& g, const AxisRange& x, const AxisRange& y) {
  LayerMapping m;
  m.logX = x.logarithmic;
  m.logY = y.logarithmic;
  m.xRising = x.high >= x.low;
  m.yRising = y.high >= y.low;
  m.width = g.width;
  m.height = g.height;
  const long double W = g.width;
  const long double H = g.height;
  const long double sw = g.shadowWidth;

  const long double xLo = AxisValue(x.low, x.logarithmic);
  const long double xHi = AxisValue(x.high, x.logarithmic);
  const long double dw = W - g.lRim - g.rRim - sw;
  m.kx = 0;
  m.dx = W / 2;
  if (dw > 0) {
    // The reciprocal first, then the product, as the stored mapping has it.
    const long double kx = dw * (1 / (xHi - xLo));
    const long double dx = (g.lRim * xHi - (W - g.rRim - sw) * xLo) / (xHi - xLo);
    if (std::isfinite(kx) && std::isfinite(dx) && kx != 0) {
      m.kx = kx;
      m.dx = dx;
    }
  }

  const long double yLo = AxisValue(y.low, y.logarithmic);
  const long double yHi = AxisValue(y.high, y.logarithmic);
  const long double dh = H - g.tRim - g.bRim - sw;
  m.ky = 0;
  m.dy = H / 2;
  if (dh > 0) {
    const long double ky = -dh / (yHi - yLo);
    const long double dy = ((H - g.bRim - sw) * yHi - g.tRim * yLo) / (yHi - yLo);
    if (std::isfinite(ky) && std::isfinite(dy) && ky != 0) {
      m.ky = ky;
      m.dy = dy;
    }
  }
  return m;
}

LimitedAxisMap::LimitedAxisMap(long double k, long double d, int limit)
    : k_(k),
      d_(d),
      kd_(static_cast<double>(k)),
      dd_(static_cast<double>(d)),
      far_(limit + 1.0),
      limit_(limit),
      constant_(k == 0) {
  // kd * v + dd is off from k * v + d by at most (2|kd v| + |dd| + |pd|) 2^-53,
  // and |kd v| <= |pd| + |dd|; 2^-50 leaves a factor 8 over that bound.
  eps_ = (4 * far_ + 3 * std::fabs(dd_)) * std::ldexp(1.0, -50);
  const int p = LimitAndRound(static_cast<double>(d));
  constantPixel_ = p < -limit ? -limit : (p > limit ? limit : p);
}

}  // namespace zelmora
