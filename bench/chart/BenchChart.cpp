// Repaint cost of the program's chart holding one full sweep, against plain
// QPainter line drawing of the same segments.

#include "ChartFonts.h"
#include "RChart.h"
#include "tests/chart/ProgramChart.h"

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPen>

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

using zelmora::TRChart;

// Customers and bid price of step x, plausible and within 0..200.
double Customers(int x) { return 90 + 70 * std::sin(x / 23.0) + 20 * std::sin(x / 3.1); }
double BidPrice(int x) { return 110 + 60 * std::cos(x / 41.0) + 15 * std::sin(x / 5.3); }

// Set up as the program's window does, fed with one full sweep: a pen move
// and 998 segments alternating red and green, x from -1 to 498.
std::unique_ptr<TRChart> MakeSweepChart() {
  auto chart = zelmora::testing::MakeProgramChart();
  chart->ClearGraphics();
  chart->MovePen(0, 0);
  double lastC = Customers(-1), lastB = BidPrice(-1);
  for (int x = 0; x <= 498; ++x) {
    chart->SelectLayer(1);
    chart->SetDataColor(255);
    chart->AddLine(x - 1, lastC, x, Customers(x));
    lastC = Customers(x);
    chart->SetDataColor(32768);
    chart->AddLine(x - 1, lastB, x, BidPrice(x));
    lastB = BidPrice(x);
  }
  chart->PaintChart();
  return chart;
}

void BM_PaintChart(benchmark::State& state) {
  auto chart = MakeSweepChart();
  for (auto _ : state) {
    chart->PaintChart();
    benchmark::DoNotOptimize(chart->PresentedImage().constBits());
  }
  state.counters["items"] = chart->ItemCount();
}
BENCHMARK(BM_PaintChart)->Unit(benchmark::kMicrosecond);

void BM_RefreshChart(benchmark::State& state) {
  auto chart = MakeSweepChart();
  for (auto _ : state) {
    chart->RefreshChart();
    benchmark::DoNotOptimize(chart->PresentedImage().constBits());
  }
}
BENCHMARK(BM_RefreshChart)->Unit(benchmark::kMicrosecond);

// The item drawing alone, like for like with the baseline below: every item
// mapped and drawn on an image of the data area's size, then the frame.
void BM_RenderItems(benchmark::State& state) {
  auto chart = MakeSweepChart();
  zelmora::Canvas target(chart->DataImage().Width(), chart->DataImage().Height());
  for (auto _ : state) {
    chart->RenderItems(target);
    benchmark::DoNotOptimize(target.Image().constBits());
  }
}
BENCHMARK(BM_RenderItems)->Unit(benchmark::kMicrosecond);

// The same 998 segments, already mapped to DataImage pixels, drawn with
// QPainter::drawLine on an image of the data area's size.
void BM_QPainterLinesBaseline(benchmark::State& state) {
  auto chart = MakeSweepChart();
  struct Segment {
    QPoint a, b;
    QColor color;
  };
  std::vector<Segment> segments;
  for (int i = 0; i < chart->ItemCount(); ++i) {
    const zelmora::ChartItem& item = chart->Item(i);
    if (item.kind != zelmora::kindLine) continue;
    const QPoint offset(chart->LRim(), chart->TRim());
    segments.push_back({chart->DataToPixel(1, item.x1, item.y1) - offset,
                        chart->DataToPixel(1, item.x2, item.y2) - offset,
                        zelmora::ToQColor(item.colour)});
  }
  QImage image(chart->DataImage().Width(), chart->DataImage().Height(), QImage::Format_RGB32);
  image.fill(Qt::white);
  for (auto _ : state) {
    QPainter painter(&image);
    QPen pen(Qt::black, 1);
    for (const Segment& s : segments) {
      if (pen.color() != s.color) {
        pen.setColor(s.color);
        painter.setPen(pen);
      }
      painter.drawLine(s.a, s.b);
    }
    painter.end();
    benchmark::DoNotOptimize(image.constBits());
  }
  state.counters["lines"] = static_cast<double>(segments.size());
}
BENCHMARK(BM_QPainterLinesBaseline)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
