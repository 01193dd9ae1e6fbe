#include <gtest/gtest.h>

#include <QLocale>

#include "ui/ParameterText.h"

namespace zelmora {
namespace {

const QLocale kPoint(QLocale::English, QLocale::UnitedStates);
const QLocale kComma(QLocale::German, QLocale::Germany);

TEST(ParameterText, ControlEndsGiveTheirLabelTexts) {
  EXPECT_EQ(ReturnsToScaleText(0, kPoint), "0.9");
  EXPECT_EQ(ReturnsToScaleText(1, kPoint), "0.901");
  EXPECT_EQ(ReturnsToScaleText(100, kPoint), "1");
  EXPECT_EQ(ReturnsToScaleText(400, kPoint), "1.3");
  EXPECT_EQ(ReturnsToScaleText(333, kPoint), "1.233");
  EXPECT_EQ(TravelCostText(1, kPoint), "0.02");
  EXPECT_EQ(TravelCostText(50, kPoint), "1");
  EXPECT_EQ(TravelCostText(100, kPoint), "2");
  EXPECT_EQ(TravelCostText(37, kPoint), "0.74");
  EXPECT_EQ(ProductionCostText(1, kPoint), "1");
  EXPECT_EQ(ProductionCostText(500, kPoint), "500");
  EXPECT_EQ(ThresholdPercentText(0, kPoint), "0");
  EXPECT_EQ(ThresholdPercentText(3, kPoint), "37.5");
  EXPECT_EQ(ThresholdPercentText(8, kPoint), "100");
  EXPECT_EQ(ThresholdFractionText(0), "0/8");
  EXPECT_EQ(ThresholdFractionText(8), "8/8");
}

TEST(ParameterText, EveryPositionReadsBackAsTheValueWrittenInEitherSeparator) {
  for (const QLocale& locale : {kPoint, kComma}) {
    for (int p = 0; p <= 400; ++p) {
      const long double exact = static_cast<long double>(p) / 1000 + 1 - 0.1L;
      ASSERT_NEAR(ParseLabelNumber(ReturnsToScaleText(p, locale), locale), double(exact), 1e-12);
    }
    for (int p = 1; p <= 100; ++p) {
      ASSERT_DOUBLE_EQ(ParseLabelNumber(TravelCostText(p, locale), locale), p * 2 / 100.0);
    }
    for (int p = 0; p <= 8; ++p) {
      ASSERT_EQ(ParseLabelNumber(ThresholdPercentText(p, locale), locale), p * 12.5);
    }
    for (int p = 1; p <= 500; ++p) {
      ASSERT_EQ(ParseLabelNumber(ProductionCostText(p, locale), locale), p);
    }
  }
  EXPECT_EQ(ThresholdPercentText(3, kComma), "37,5");
  EXPECT_EQ(ReturnsToScaleText(1, kComma), "0,901");
  EXPECT_EQ(ProductionCostText(500, kComma), "500");
}

TEST(ParameterText, AChangedSeparatorStillReadsBack) {
  EXPECT_EQ(ParseLabelNumber("37.5", kComma), 37.5);
  EXPECT_EQ(ParseLabelNumber("0.901", kComma), 0.901);
}

}  // namespace
}  // namespace zelmora
