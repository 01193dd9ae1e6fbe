#include "ui/ParameterText.h"

namespace zelmora {

QString FormatGeneral(long double value, const QLocale& locale) {
  QLocale plain = locale;
  plain.setNumberOptions(plain.numberOptions() | QLocale::OmitGroupSeparator);
  return plain.toString(static_cast<double>(value), 'g', 15);
}

double ParseLabelNumber(const QString& text, const QLocale& locale) {
  // Labels are written without grouping, so a separator that reads as grouping is not ours.
  QLocale strict = locale;
  strict.setNumberOptions(strict.numberOptions() | QLocale::RejectGroupSeparator);
  bool ok = false;
  const double value = strict.toDouble(text, &ok);
  if (ok) return value;
  return QLocale::c().toDouble(text.trimmed(), &ok);
}

QString ProductionCostText(int position, const QLocale& locale) {
  QLocale plain = locale;
  plain.setNumberOptions(plain.numberOptions() | QLocale::OmitGroupSeparator);
  return plain.toString(position);
}

QString TravelCostText(int position, const QLocale& locale) {
  return FormatGeneral(static_cast<long double>(position) * 2 / 100, locale);
}

QString ReturnsToScaleText(int position, const QLocale& locale) {
  return FormatGeneral(static_cast<long double>(position) / 1000 + 1 - 0.1L, locale);
}

QString ThresholdPercentText(int position, const QLocale& locale) {
  return FormatGeneral(static_cast<long double>(position) * 12.5L, locale);
}

QString ThresholdFractionText(int position) { return QString::number(position) + "/8"; }

}  // namespace zelmora
