#pragma once

#include <atomic>
#include <cstdint>
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
