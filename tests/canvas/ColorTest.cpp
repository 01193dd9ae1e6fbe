#include "Color.h"

#include <gtest/gtest.h>

namespace zelmora {
namespace {

TEST(Color, PacksRedLowThenGreenThenBlue) {
  EXPECT_EQ(RGBColor(255, 0, 0), 255u);
  EXPECT_EQ(RGBColor(0, 128, 0), 32768u);
  EXPECT_EQ(RGBColor(0, 0, 1), 65536u);
  EXPECT_EQ(RGBColor(255, 255, 255), 0xFFFFFFu);
  static_assert(RGBColor(1, 2, 3) == 0x030201u, "usable at compile time");
}

TEST(Color, ComponentsRoundTripAndOutOfRangeDoesNotLeak) {
  const TColor c = RGBColor(12, 200, 77);
  EXPECT_EQ(RedOf(c), 12);
  EXPECT_EQ(GreenOf(c), 200);
  EXPECT_EQ(BlueOf(c), 77);
  // 256 must not carry into green, nor -1 set the top byte.
  EXPECT_EQ(RGBColor(256, 0, 0), 0u);
  EXPECT_EQ(RGBColor(0, 0, -1) >> 24, 0u);
}

TEST(Color, ConvertsToAndFromOpaqueQRgb) {
  const TColor c = RGBColor(10, 20, 30);
  const QRgb q = ToQRgb(c);
  EXPECT_EQ(qRed(q), 10);
  EXPECT_EQ(qGreen(q), 20);
  EXPECT_EQ(qBlue(q), 30);
  EXPECT_EQ(qAlpha(q), 255);
  EXPECT_EQ(FromQRgb(q), c);
  EXPECT_EQ(FromQRgb(qRgba(10, 20, 30, 7)), c);
  EXPECT_EQ(ToQRgb(c | 0xAB000000u), q);
}

}  // namespace
}  // namespace zelmora
