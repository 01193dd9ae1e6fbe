// One timer step of the window as the user sees it run: the model's step, all cells and agents
// drawn, the chart fed and repainted, with a full sweep of 999 items in the chart's store.
#include <benchmark/benchmark.h>

#include <QTimer>

#include "RChart.h"
#include "render/ChartFeed.h"
#include "ui/Application.h"
#include "ui/MainWindow.h"

namespace {

// Refills the chart with the full sweep it holds just before step 997, from the model's own
// values, so that every measured step repaints 997 items and adds two.
void FillSweep(zelmora::TForm1& form) {
  zelmora::TRChart& chart = *form.RChart1;
  zelmora::World& world = form.GetWorld();
  chart.ClearGraphics();
  chart.MovePen(0, 0);
  for (int x = 0; x < 498; ++x) {
    const double c = 40 + (x * 37) % 120;
    chart.SetDataColor(zelmora::RGBColor(255, 0, 0));
    chart.AddLine(x - 1, c, x, c + 1);
    chart.SetDataColor(zelmora::RGBColor(0, 128, 0));
    chart.AddLine(x - 1, 95, x, 96);
  }
  world.SweepCount = 1;
  world.StepCount = 996;
}

void BM_TimerStep(benchmark::State& state) {
  zelmora::TForm1 form;
  form.Timer1->stop();
  form.show();
  for (int i = 0; i < 100; ++i) form.Timer1Timer();
  for (auto _ : state) {
    state.PauseTiming();
    FillSweep(form);
    state.ResumeTiming();
    form.Timer1Timer();
  }
  state.counters["items"] = form.RChart1->ItemCount();
}
BENCHMARK(BM_TimerStep)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  zelmora::TApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
