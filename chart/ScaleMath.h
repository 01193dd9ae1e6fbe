#pragma once

#include "ChartTypes.h"

#include <QString>

#include <cmath>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zelmora {

// Nearest integer, halves to the even neighbour (1.5 -> 2, 2.5 -> 2, -0.5 -> -0).
long double RoundHalfEven(long double v);

// Limits v to -2147483647 .. 2147483647 and rounds it half to even. A NaN
// gives 0, so no caller ever converts an undefined value to int. Inline: the
// chart rounds every end point of every item with it.
inline int LimitAndRound(double v) {
  constexpr double kLimit = 2147483647.0;
  if (!(v >= -kLimit)) return v != v ? 0 : -2147483647;
  if (v > kLimit) v = kLimit;
#if defined(__SSE2__)
  // cvtsd2si rounds by MXCSR: to nearest, halves to even, by default.
  return _mm_cvtsd_si32(_mm_set_sd(v));
#else
  return static_cast<int>(std::nearbyint(v));
#endif
}

// The major ticks of a linear axis: the first tick, the signed step (0 when
// the range is empty: no ticks at all) and the minor intervals per step.
struct TickStep {
  long double first = 0;
  long double step = 0;
  int minorIntervals = 1;
};

// Major step 1, 2 or 5 times a power of ten, the largest not above
// |hi - lo| / minTicks, signed like hi - lo; first is the first multiple of the
// step at or beyond lo (lo may be passed by a thousandth of a step). A range
// whose ends are not finite numbers gives no ticks, like an empty one.
TickStep NiceTickStep(int minTicks, long double lo, long double hi);

// One tick of a linear axis: minor ticks come first (also where major ticks
// fall), then the major ones; index counts the major ticks from 1.
struct TickMark {
  long double value = 0;
  bool major = false;
  int index = 0;
};

// The ticks of a linear axis from NiceTickStep: minor ticks (if shortTicks)
// from the first one at or beyond lo, major ticks from first; each run goes on
// while the next value passes hi, in the axis' direction, by no more than a
// thousandth of its step. An empty range has none.
std::vector<TickMark> LinearTicks(int minTicks, long double lo, long double hi, bool shortTicks);

// Decimal places of the labels: -2 and -3 choose from the range's width (-1,
// scientific, for widths of 1e6 and more or 1e-4 and less); any other value
// is used as it is.
int ResolveDecPlaces(int decPlaces, long double lo, long double hi);

// What of a scale's settings the label text depends on.
struct TickLabelStyle {
  TFigType labelType = TFigType::ftNum;
  QString scaleInscript;
  QString userTickText;
};

// Label of the index-th major tick (counted from 1) of value v on the range
// lo..hi with decPlaces from ResolveDecPlaces. Always a point as decimal
// separator, whatever the locale.
QString FormatTickLabel(long double v, int index, int decPlaces, long double lo, long double hi,
                        const TickLabelStyle& style = {});

}  // namespace zelmora
