#include "sweep/Run.h"

#include "simulation/Measures.h"

namespace zelmora::sweep {

bool IsSettled(const World& world) {
  return world.StepCount != 0 && world.MovesMade == 0 && world.UnsatisfiedAgents() == 0;
}

RunWorld::RunWorld(const RunPlan& run) : settings(SettingsOf(run.parameters)), world(settings) {
  world.SetSeedSource(SeedStream(run.seed));
  world.SizeGrid(std::int32_t(run.parameters[ParameterIndex("grid_cols")]) * World::CellPitch,
                 std::int32_t(run.parameters[ParameterIndex("grid_rows")]) * World::CellPitch);
  world.CreateGrid();
  world.CreateAgents();
}

bool RunModel(const RunLength& length, const RunPlan& run, std::span<RunSink* const> sinks,
              const std::atomic<bool>& stop, std::atomic<std::int64_t>& stepsDone) {
  RunWorld model(run);
  return RunModel(length, model, sinks, stop, stepsDone);
}

bool RunModel(const RunLength& length, RunWorld& model, std::span<RunSink* const> sinks,
              const std::atomic<bool>& stop, std::atomic<std::int64_t>& stepsDone) {
  World& world = model.world;
  Measurer measurer(model.settings.thresholdPercent);
  const auto handOn = [&](bool last) {
    for (RunSink* sink : sinks) sink->Stepped(world);
    if (!last && !IsRecorded(world.StepCount, length.steps, length.recordEvery)) return;
    const StepMeasures measures = measurer.Measure(world);
    for (RunSink* sink : sinks) sink->Recorded(world, measures);
  };
  handOn(false);
  std::int32_t quiet = 0;  // quiet steps in a row, up to this one
  for (std::int32_t step = 1; step <= length.steps; ++step) {
    if (stop.load(std::memory_order_relaxed)) return false;
    world.SimulationStep();
    stepsDone.fetch_add(1, std::memory_order_relaxed);
    if (length.quietSteps > 0) quiet = IsSettled(world) ? quiet + 1 : 0;
    const bool settled = length.quietSteps > 0 && quiet == length.quietSteps;
    if (settled) {
      for (RunSink* sink : sinks) sink->Settled(world, step - quiet + 1);
    }
    handOn(settled);
    if (settled) break;
  }
  return true;
}

}  // namespace zelmora::sweep
