#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

#include "sweep/Record.h"
#include "sweep/RunPlan.h"
#include "simulation/ModelPorts.h"
#include "simulation/World.h"

namespace zelmora {
struct StepMeasures;
}  // namespace zelmora

namespace zelmora::sweep {

// What watches a run: the CSV rows, the charts' samples, snapshots; a front end adds its own.
class RunSink {
 public:
  virtual ~RunSink() = default;
  // After the setup (step 0) and after every step: only what is cheap next to a step.
  virtual void Stepped(const World& /*world*/) {}
  // At every recorded step (RecordedCount of them, step 0 and the last included) with its measures.
  virtual void Recorded(const World& /*world*/, const StepMeasures& /*measures*/) {}
  // With quietSteps, once the run has settled: after its last quiet step and before that step's
  // Stepped and Recorded, which are the run's last. `stopStep` is the first of its quiet steps.
  virtual void Settled(const World& /*world*/, std::int32_t /*stopStep*/) {}
};

// Whether the step just made was quiet: it moved no agent (a move to a cheaper cell counts) and
// left none unsatisfied. Never at step 0, which is no step.
bool IsSettled(const World& world);

// A run's World set up as the sweep sets it up (a World of the run's grid, reseeded from the run's
// seed, with the run's parameters), beside the settings it reads at every phase. A front end that
// hands out views of the World may keep it past the run.
struct RunWorld {
  explicit RunWorld(const RunPlan& run);
  RunWorld(const RunWorld&) = delete;
  RunWorld& operator=(const RunWorld&) = delete;

  ModelSettings settings;
  World world;
};

// The values of a front end's own columns (Request::measures) in one run's rows.
class RunMeasures {
 public:
  virtual ~RunMeasures() = default;
  // At every recorded step, before its row is written: one value per column, in their order
  // (NaN: an empty field).
  virtual void Measure(const StepMeasures& measures, std::span<double> values) = 0;
};

// What computes a front end's own columns in a sweep the library writes to files (Python's
// measures); the front end supplies it with SweepPlan::measures.
class MeasureMaker {
 public:
  virtual ~MeasureMaker() = default;
  // Called on a worker thread once the run's World is set up, before its first step; the World
  // is shared, so a front end may keep views of it past the run.
  virtual std::unique_ptr<RunMeasures> ForRun(std::shared_ptr<const RunWorld> model, const RunPlan& run) = 0;
  // Called on each worker thread of the sweep as it ends.
  virtual void ThreadEnded() {}
};

// Steps a set-up run length.steps times, or with length.quietSteps W until its W-th quiet step in a
// row (the W-th of W consecutive quiet steps),
// handing each step to every sink; the run's last step is recorded. Checks `stop` between steps and
// returns false when it was set; adds each step to `stepsDone`.
bool RunModel(const RunLength& length, RunWorld& model, std::span<RunSink* const> sinks,
              const std::atomic<bool>& stop, std::atomic<std::int64_t>& stepsDone);

// Sets the run up and steps it, as above.
bool RunModel(const RunLength& length, const RunPlan& run, std::span<RunSink* const> sinks,
              const std::atomic<bool>& stop, std::atomic<std::int64_t>& stepsDone);

}  // namespace zelmora::sweep
