#include "LayerMapping.h"
#include "ProgramChart.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace zelmora {
namespace {

constexpr int kLimit = 30000;

// DataToPixel of one linear axis limited as RenderItems limits it: extended
// precision, held as a double, rounded half to even.
int Exact(long double k, long double d, double v) {
  const int p = LimitAndRound(static_cast<double>(k == 0 ? d : k * v + d));
  return std::clamp(p, -kLimit, kLimit);
}

int PlainDouble(long double k, long double d, double v) {
  const double p = static_cast<double>(k) * v + static_cast<double>(d);
  return std::clamp(LimitAndRound(p), -kLimit, kLimit);
}

// Values whose pixel lies within a few ulps of a half: where plain double
// arithmetic and the extended one part ways.
void CheckAxis(long double k, long double d, std::mt19937_64& rng, int* disagreements) {
  const LimitedAxisMap map(k, d, kLimit);
  std::uniform_real_distribution<double> any(-2000, 2000);
  std::uniform_int_distribution<int> pixel(-400, 1200);
  for (int i = 0; i < 20000; ++i) {
    const double v = any(rng);
    ASSERT_EQ(map(v), Exact(k, d, v)) << v;
  }
  for (int i = 0; i < 20000; ++i) {
    const long double half = pixel(rng) + 0.5L;
    double v = static_cast<double>((half - d) / k);
    for (int step = 0; step < 3; ++step) v = std::nextafter(v, -1e300);
    for (int step = 0; step < 7; ++step, v = std::nextafter(v, 1e300)) {
      ASSERT_EQ(map(v), Exact(k, d, v)) << v;
      *disagreements += PlainDouble(k, d, v) != Exact(k, d, v);
    }
  }
}

TEST(LimitedAxisMap, SamePixelsAsExtendedPrecision) {
  std::mt19937_64 rng(20240611);
  int disagreements = 0;
  const ChartGeometry g{777, 265, 50, 20, 20, 40, 0};
  const double highs[] = {200, 280, 310.5, 1000, 1234.5678};
  for (double high : highs) {
    const LayerMapping m = ComputeLayerMapping(g, {0, 500, false}, {-10, high, false});
    CheckAxis(m.kx, m.dx, rng, &disagreements);
    CheckAxis(m.ky, m.dy, rng, &disagreements);
  }
  // The test reaches the cases where only extended precision is right.
  EXPECT_GT(disagreements, 0);
}

TEST(LimitedAxisMap, FarOffsetsConstantsAndNonFiniteValues) {
  std::mt19937_64 rng(7);
  int disagreements = 0;
  const ChartGeometry g{777, 265, 50, 20, 20, 40, 0};
  const LayerMapping far = ComputeLayerMapping(g, {1e15, 1e15 + 512, false}, {-1e12, 1e12, false});
  const LimitedAxisMap fx(far.kx, far.dx, kLimit);
  for (double v : {1e15, 1e15 + 1, 1e15 + 255.5, 1e15 + 512}) EXPECT_EQ(fx(v), Exact(far.kx, far.dx, v));
  CheckAxis(far.ky, far.dy, rng, &disagreements);

  const LimitedAxisMap constant(0, 388.5L, kLimit);  // no data area: W / 2
  EXPECT_EQ(constant(-1e300), 388);
  EXPECT_EQ(constant(std::numeric_limits<double>::quiet_NaN()), 388);

  const LayerMapping m = ComputeLayerMapping(g, {0, 500, false}, {-10, 200, false});
  const LimitedAxisMap x(m.kx, m.dx, kLimit), y(m.ky, m.dy, kLimit);
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(x(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(x(inf), kLimit);
  EXPECT_EQ(x(-inf), -kLimit);
  EXPECT_EQ(y(inf), -kLimit);  // y grows upwards
  EXPECT_EQ(y(1e9), -kLimit);
  EXPECT_EQ(x(std::numeric_limits<double>::denorm_min()), 50);
  EXPECT_EQ(x(21213.0), kLimit);  // 30,046: just beyond the limit
  EXPECT_EQ(x(21178.0), Exact(m.kx, m.dx, 21178.0));  // 29,996
}

TEST(ChartRims, ReusedRimsEqualAFreshDrawing) {
  auto cached = testing::MakeProgramChart();
  auto fresh = testing::MakeProgramChart();
  // A handler on the scales' output makes the chart draw them every time.
  fresh->OnScalesRendered = [](TCustomRChart&, Canvas&, int, int) {};
  for (auto* chart : {cached.get(), fresh.get()}) {
    chart->MovePen(0, 0);
    chart->SetDataColor(255);
    chart->AddLine(0, 0, 100, 150);
    for (int i = 0; i < 3; ++i) chart->PaintChart();
  }
  EXPECT_EQ(cached->ControlImage().Image(), fresh->ControlImage().Image());
  for (auto* chart : {cached.get(), fresh.get()}) {
    chart->Scale1Y()->SetRangeHigh(280);
    chart->SetCaption(QStringLiteral("another caption"));
    chart->SelectLayer(1);
  }
  EXPECT_EQ(cached->ControlImage().Image(), fresh->ControlImage().Image());
  EXPECT_EQ(cached->PresentedImage(), fresh->PresentedImage());
  // The new labels are there: the image differs from the first one's rims.
  auto before = testing::MakeProgramChart();
  before->PaintChart();
  EXPECT_NE(cached->ControlImage().Image(), before->ControlImage().Image());
}

}  // namespace
}  // namespace zelmora
