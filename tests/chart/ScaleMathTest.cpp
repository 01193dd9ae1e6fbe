#include "ScaleMath.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace zelmora {
namespace {

struct Split {
  std::vector<long double> minors;
  std::vector<long double> majors;
};

Split Ticks(int minTicks, double lo, double hi, bool shortTicks = true) {
  Split s;
  for (const TickMark& m : LinearTicks(minTicks, lo, hi, shortTicks)) {
    (m.major ? s.majors : s.minors).push_back(m.value);
  }
  return s;
}

std::vector<long double> Range(double from, double to, double step) {
  std::vector<long double> v;
  const int n = static_cast<int>(std::lround((to - from) / step));
  for (int i = 0; i <= n; ++i) v.push_back(from + i * step);
  return v;
}

void ExpectValues(const std::vector<long double>& actual, const std::vector<long double>& expected,
                  const char* what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    EXPECT_NEAR(static_cast<double>(actual[i]), static_cast<double>(expected[i]), 1e-9) << what
                                                                                         << " #" << i;
  }
}

QStringList Labels(double lo, double hi, int minTicks = 3, int decPlaces = -2) {
  QStringList out;
  const int p = ResolveDecPlaces(decPlaces, lo, hi);
  for (const TickMark& m : LinearTicks(minTicks, lo, hi, false)) {
    out << FormatTickLabel(m.value, m.index, p, lo, hi);
  }
  return out;
}

// The worked table of the program's scales (MinTicks 3, DecPlaces -2).
struct WorkedRow {
  double lo, hi;
  double step, minorStep, first;
  std::vector<long double> majors, minors;
  int decimals;
};

TEST(NiceTickStep, WorkedTableOfTheProgramsScales) {
  const WorkedRow rows[] = {
      {0, 500, 100, 20, 0, Range(0, 500, 100), Range(0, 500, 20), 0},
      {-10, 200, 50, 10, 0, Range(0, 200, 50), Range(-10, 200, 10), 0},
      {-10, 280, 50, 10, 0, Range(0, 250, 50), Range(-10, 280, 10), 0},
      {-10, 1000, 200, 50, 0, Range(0, 1000, 200), Range(0, 1000, 50), 0},
      {0, 1, 0.2, 0.05, 0, Range(0, 1, 0.2), Range(0, 1, 0.05), 2},
  };
  for (const WorkedRow& r : rows) {
    SCOPED_TRACE(testing::Message() << r.lo << " to " << r.hi);
    const TickStep t = NiceTickStep(3, r.lo, r.hi);
    EXPECT_NEAR(static_cast<double>(t.step), r.step, 1e-12);
    EXPECT_NEAR(static_cast<double>(t.step / t.minorIntervals), r.minorStep, 1e-12);
    EXPECT_NEAR(static_cast<double>(t.first), r.first, 1e-12);
    const Split s = Ticks(3, r.lo, r.hi);
    ExpectValues(s.majors, r.majors, "major");
    ExpectValues(s.minors, r.minors, "minor");
    EXPECT_EQ(ResolveDecPlaces(-2, r.lo, r.hi), r.decimals);
  }
  EXPECT_EQ(Labels(0, 500), (QStringList{"0", "100", "200", "300", "400", "500"}));
  EXPECT_EQ(Labels(-10, 200), (QStringList{"0", "50", "100", "150", "200"}));
  EXPECT_EQ(Labels(0, 1), (QStringList{"0.00", "0.20", "0.40", "0.60", "0.80", "1.00"}));
}

TEST(NiceTickStep, ReversedRangeRunsDownwards) {
  const TickStep t = NiceTickStep(3, 600, 500);
  EXPECT_NEAR(static_cast<double>(t.step), -20, 1e-12);
  EXPECT_EQ(t.minorIntervals, 4);
  const Split s = Ticks(3, 600, 500);
  ExpectValues(s.majors, {600, 580, 560, 540, 520, 500}, "major");
  ExpectValues(s.minors, Range(600, 500, -5), "minor");
  EXPECT_EQ(Labels(600, 500), (QStringList{"600", "580", "560", "540", "520", "500"}));
}

TEST(NiceTickStep, ExactMultiplesTakeTheSmallerMantissa) {
  // q = 200 gives 100 (seven major ticks), q = 500 gives 200.
  EXPECT_NEAR(static_cast<double>(NiceTickStep(3, 0, 600).step), 100, 1e-12);
  EXPECT_EQ(Ticks(3, 0, 600).majors.size(), 7u);
  EXPECT_NEAR(static_cast<double>(NiceTickStep(3, 0, 1500).step), 200, 1e-12);
  EXPECT_NEAR(static_cast<double>(NiceTickStep(2, 0, 0.02).step), 0.01, 1e-15);
}

TEST(NiceTickStep, EmptyOrBrokenRangesHaveNoTicks) {
  const TickStep t = NiceTickStep(3, 5, 5);
  EXPECT_EQ(t.step, 0);
  EXPECT_EQ(t.first, 5);
  EXPECT_EQ(t.minorIntervals, 1);
  EXPECT_TRUE(LinearTicks(3, 5, 5, true).empty());
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_TRUE(LinearTicks(3, nan, 1, true).empty());
  EXPECT_TRUE(LinearTicks(3, 0, inf, true).empty());
}

TEST(ResolveDecPlaces, AutomaticDecimalsFromTheWidth) {
  EXPECT_EQ(ResolveDecPlaces(-2, 0, 1), 2);
  EXPECT_EQ(ResolveDecPlaces(-2, 0, 10), 1);
  EXPECT_EQ(ResolveDecPlaces(-2, 0, 20), 1);
  EXPECT_EQ(ResolveDecPlaces(-2, 0, 50), 0);
  EXPECT_EQ(ResolveDecPlaces(-3, 0, 0.05), 3);
  EXPECT_EQ(ResolveDecPlaces(-2, 0, 0.001), 5);
  EXPECT_EQ(ResolveDecPlaces(-2, 0, 100), 0);
  EXPECT_EQ(ResolveDecPlaces(-2, 0, 999999), 0);
  EXPECT_EQ(ResolveDecPlaces(-2, 0, 1000000), -1);
  EXPECT_EQ(ResolveDecPlaces(-2, 5, 5.0001), -1);
  EXPECT_EQ(ResolveDecPlaces(-2, 500, 0), 0);  // reversed counts by its width
  EXPECT_EQ(ResolveDecPlaces(4, 0, 500), 4);
  EXPECT_EQ(ResolveDecPlaces(-1, 0, 500), -1);
}

TEST(FormatTickLabel, NoiseAroundZeroIsZero) {
  EXPECT_EQ(FormatTickLabel(1e-17, 1, 0, -10, 200), "0");
  EXPECT_EQ(FormatTickLabel(-1e-17, 1, 0, -10, 200), "0");
  EXPECT_EQ(FormatTickLabel(-1e-17, 1, 2, 0, 1), "0.00");
  // Wider than 100,000: "0" without decimals, "0.0" otherwise.
  EXPECT_EQ(FormatTickLabel(1e-12, 1, 0, 0, 150000), "0");
  EXPECT_EQ(FormatTickLabel(1e-12, 1, -1, 0, 2000000), "0.0");
  EXPECT_EQ(FormatTickLabel(0, 1, -1, 0, 0.0001), " 0.0E+00");
}

TEST(FormatTickLabel, WideRangesInScientificAndPlainNotation) {
  EXPECT_EQ(Labels(0, 2000000),
            (QStringList{"0.0", " 5.0E+05", " 1.0E+06", " 1.5E+06", " 2.0E+06"}));
  EXPECT_EQ(Labels(-2000000, 0),
            (QStringList{"-2.0E+06", "-1.5E+06", "-1.0E+06", "-5.0E+05", "0.0"}));
  EXPECT_EQ(Labels(0, 150000), (QStringList{"0", "20000", "40000", "60000", "80000", "100000",
                                            "120000", "140000"}));
  // Rounded to two significant digits; a third exponent digit stars it all.
  EXPECT_EQ(FormatTickLabel(996000, 1, -1, 0, 2e6), " 1.0E+06");
  EXPECT_EQ(FormatTickLabel(1.24e-7, 1, -1, 0, 1e-6), " 1.2E-07");
  EXPECT_EQ(FormatTickLabel(2e100, 1, -1, 0, 3e100), "*********");
}

TEST(FormatTickLabel, FixedDecimalsCutAndInscriptions) {
  EXPECT_EQ(FormatTickLabel(-7.5, 1, 2, -10, 10), "-7.50");
  EXPECT_EQ(FormatTickLabel(2.5, 1, 0, 0, 10), "2");  // half to even
  EXPECT_EQ(FormatTickLabel(123456789012345678.0, 1, 0, 0, 1e18), "12345678901234");

  TickLabelStyle style;
  style.scaleInscript = QStringLiteral("$&k");
  EXPECT_EQ(FormatTickLabel(100, 1, 0, 0, 500, style), "$100k");
  style.scaleInscript = QStringLiteral("~");
  EXPECT_EQ(FormatTickLabel(100, 1, 0, 0, 500, style), "~100");

  style.labelType = TFigType::ftUserText;
  style.userTickText = QStringLiteral("low|mid|high");
  EXPECT_EQ(FormatTickLabel(0, 1, 0, 0, 500, style), "low");
  EXPECT_EQ(FormatTickLabel(100, 2, 0, 0, 500, style), "mid");
  EXPECT_EQ(FormatTickLabel(400, 5, 0, 0, 500, style), "high");
}

// Qt's default locale and, where the machine has one, a C locale with a decimal comma.
class PointWhateverTheLocale : public ::testing::TestWithParam<bool> {};

TEST_P(PointWhateverTheLocale, FormatTickLabel) {
  const QLocale savedQt;
  const std::string savedC = std::setlocale(LC_ALL, nullptr);
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  bool commaC = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8"}) {
    if (!GetParam() || commaC) break;
    commaC = std::setlocale(LC_ALL, name) != nullptr;
  }
  const QString fixed = FormatTickLabel(0.2, 2, 2, 0, 1);
  const QString sci = FormatTickLabel(1.5e6, 4, -1, 0, 2e6);
  std::setlocale(LC_ALL, savedC.c_str());
  QLocale::setDefault(savedQt);
  if (GetParam() && !commaC) GTEST_SKIP() << "no German or French C locale is installed";
  EXPECT_EQ(fixed, "0.20");
  EXPECT_EQ(sci, " 1.5E+06");
}

INSTANTIATE_TEST_SUITE_P(QtAndC, PointWhateverTheLocale, ::testing::Bool());

}  // namespace
}  // namespace zelmora
