#include "ScaleMath.h"

#include <QStringList>

#include <charconv>
#include <cmath>
#include <string>

namespace zelmora {

namespace {

// No sane range needs more; the caps only keep a broken range from looping.
constexpr int kMaxFirstTickSteps = 1000;
constexpr int kMaxTickLoops = 2000;

// v with exactly p decimals, '.' as separator: to_chars ignores the locale.
std::string FixedText(long double v, int p) {
  // A finite long double in fixed notation never needs more than this.
  std::string buf(5000, '\0');
  const auto result =
      std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, p);
  if (result.ec != std::errc()) return "*";
  buf.resize(static_cast<std::size_t>(result.ptr - buf.data()));
  return buf;
}

// " 1.2E+06" / "-1.2E+06"; a three-digit exponent turns every character into '*'.
std::string ScientificText(long double v) {
  char buf[64];
  const auto result =
      std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, 1);
  if (result.ec != std::errc()) return "*";
  std::string digits(buf, result.ptr);  // "d.de+XX"
  const std::size_t e = digits.find('e');
  if (e == std::string::npos) return "*";
  std::string text = (std::signbit(v) ? "-" : " ") + digits.substr(0, e) + "E" + digits.substr(e + 1);
  if (digits.size() - e - 2 > 2) text.assign(text.size(), '*');
  return text;
}

}  // namespace

long double RoundHalfEven(long double v) {
  // The default rounding mode is to nearest, halves to even; nearbyint keeps
  // it without raising the inexact flag.
  return std::nearbyint(v);
}

TickStep NiceTickStep(int minTicks, long double lo, long double hi) {
  TickStep r;
  r.first = lo;
  if (lo == hi || !std::isfinite(lo) || !std::isfinite(hi)) return r;
  if (minTicks < 1) minTicks = 1;

  const long double q = std::fabs(hi - lo) / minTicks;
  long double L = std::log(q) / std::log(10.0L);
  // log10 of an exact power of ten may miss the integer by a few ulps.
  const long double frac = std::fabs(L - std::trunc(L));
  if (frac < 1e-10L || frac > 0.9999999999L) L = RoundHalfEven(L);
  const long double e = std::floor(L);
  const long double f = L - e;

  // The tolerance lets the smaller mantissa win when q is exactly 2 or 5
  // times a power of ten.
  long double mantissa = 5;
  r.minorIntervals = 5;
  if (f < std::log10(2.0L) + 1e-10L) {
    mantissa = 1;
  } else if (f < std::log10(5.0L) + 1e-10L) {
    mantissa = 2;
    r.minorIntervals = 4;
  }
  const long double dir = hi > lo ? 1.0L : -1.0L;
  r.step = dir * mantissa * std::pow(10.0L, e);
  if (!std::isfinite(r.step) || r.step == 0) {
    r.step = 0;
    r.minorIntervals = 1;
    return r;
  }

  long double first = (std::trunc(lo / r.step) - 1) * r.step;
  const long double slack = 0.001L * std::fabs(r.step);
  for (int n = 0; n < kMaxFirstTickSteps && dir * (lo - first) > slack; ++n) first += r.step;
  r.first = first;
  return r;
}

std::vector<TickMark> LinearTicks(int minTicks, long double lo, long double hi, bool shortTicks) {
  std::vector<TickMark> marks;
  const TickStep t = NiceTickStep(minTicks, lo, hi);
  if (t.step == 0) return marks;
  const long double dir = t.step > 0 ? 1.0L : -1.0L;
  if (shortTicks) {
    const long double minor = t.step / t.minorIntervals;
    const long double slack = 0.001L * std::fabs(minor);
    for (int j = 0; j < kMaxTickLoops; ++j) {
      const long double u = t.first - t.step + j * minor;
      if (dir * u >= dir * lo) marks.push_back({u, false, 0});
      if (dir * (t.first - t.step + (j + 1) * minor - hi) > slack) break;
    }
  }
  const long double slack = 0.001L * std::fabs(t.step);
  for (int i = 0; i < kMaxTickLoops; ++i) {
    marks.push_back({t.first + i * t.step, true, i + 1});
    if (dir * (t.first + (i + 1) * t.step - hi) > slack) break;
  }
  return marks;
}

int ResolveDecPlaces(int decPlaces, long double lo, long double hi) {
  if (decPlaces != -2 && decPlaces != -3) return decPlaces;
  const long double w = std::fabs(hi - lo);
  if (w >= 1000000.0L || w <= 0.0001L) return -1;
  if (w >= 100.0L) return 0;
  return 2 - static_cast<int>(RoundHalfEven(std::log(w) / 2.5L));
}

QString FormatTickLabel(long double v, int index, int decPlaces, long double lo, long double hi,
                        const TickLabelStyle& style) {
  const long double width = hi - lo;
  std::string text;
  if (std::fabs(v / width) < 1e-14L) {
    // Rounding noise around zero must never show as "-0" or "1E-17".
    if (std::fabs(width) <= 100000.0L) {
      text = decPlaces >= 0 ? FixedText(0.0L, decPlaces) : ScientificText(0.0L);
    } else {
      text = decPlaces != 0 ? "0.0" : "0";
    }
  } else if (decPlaces >= 0) {
    text = FixedText(v, decPlaces);
  } else {
    text = ScientificText(v);
  }
  if (text.size() > 14) text.resize(14);

  QString label = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  if (style.labelType == TFigType::ftUserText) {
    const QStringList items = style.userTickText.split(QLatin1Char('|'));
    const qsizetype i = std::max<qsizetype>(index, 1) - 1;
    return items.at(std::min(i, items.size() - 1));
  }
  if (!label.isEmpty() && !style.scaleInscript.isEmpty()) {
    const qsizetype amp = style.scaleInscript.indexOf(QLatin1Char('&'));
    if (amp < 0) return style.scaleInscript + label;
    return style.scaleInscript.left(amp) + label + style.scaleInscript.mid(amp + 1);
  }
  return label;
}

}  // namespace zelmora
