#pragma once

#include <QLocale>
#include <QString>

namespace zelmora {

// The parameters live as label texts. These are the conversions between a control's position
// and its label's text, in the user's decimal separator.

// A value in the general format: at most 15 significant digits, no trailing zeros, no decimal
// separator when whole, no digit grouping.
QString FormatGeneral(long double value, const QLocale& locale = QLocale());

// A label's text back as a number. Reads the given locale's form and, should the separator
// have changed since the text was written, the plain form with a point.
double ParseLabelNumber(const QString& text, const QLocale& locale = QLocale());

QString ProductionCostText(int position, const QLocale& locale = QLocale());
QString TravelCostText(int position, const QLocale& locale = QLocale());      // (position * 2) / 100
QString ReturnsToScaleText(int position, const QLocale& locale = QLocale());  // position / 1000 + 1 - 0.1
QString ThresholdPercentText(int position, const QLocale& locale = QLocale());  // position * 12.5
QString ThresholdFractionText(int position);                                    // "3/8"

}  // namespace zelmora
