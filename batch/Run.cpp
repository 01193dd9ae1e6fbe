#include "batch/Run.h"

#include "simulation/Measures.h"
#include "simulation/ModelPorts.h"
#include "simulation/World.h"

namespace zelmora::batch {

bool RunModel(const Options& options, const RunPlan& run, std::span<RunSink* const> sinks,
              const std::atomic<bool>& stop, std::atomic<std::int64_t>& stepsDone) {
  const ModelSettings settings = SettingsOf(run.parameters);
  World world(settings);
  world.SetSeedSource(SeedStream(run.seed));
  world.SizeGrid(options.cols * World::CellPitch, options.rows * World::CellPitch);
  world.CreateGrid();
  world.CreateAgents();

  Measurer measurer(settings.thresholdPercent);
  const auto handOn = [&] {
    for (RunSink* sink : sinks) sink->Stepped(world);
    if (!IsRecorded(world.StepCount, options.steps, options.recordEvery)) return;
    const StepMeasures measures = measurer.Measure(world);
    for (RunSink* sink : sinks) sink->Recorded(world, measures);
  };
  handOn();
  for (std::int32_t step = 1; step <= options.steps; ++step) {
    if (stop.load(std::memory_order_relaxed)) return false;
    world.SimulationStep();
    stepsDone.fetch_add(1, std::memory_order_relaxed);
    handOn();
  }
  return true;
}

}  // namespace zelmora::batch
