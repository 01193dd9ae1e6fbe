#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <utility>

#include "python/StateArrays.h"
#include "sweep/Run.h"
#include "sweep/RunPlan.h"
#include "simulation/Measures.h"

namespace zelmora::python {

namespace py = pybind11;

// What a measure written in Python is handed at a recorded step of a sweep's run: the run's World,
// read-only, with its plan and the step's measures. The view, and every array taken from it, holds
// the run's World, so nothing handed out dangles when the run ends; it shows the World as it is
// when read, which during the measure's call is the recorded step.
class RunView {
 public:
  // `arrays`: the run's, shared by its views, so that each step's arrays are written into the
  // last step's where nobody holds those.
  RunView(std::shared_ptr<const sweep::RunWorld> model, const sweep::RunPlan& run, const StepMeasures& measures,
          std::shared_ptr<ArrayCache> arrays)
      : model_(std::move(model)), run_(run), measures_(measures), arrays_(std::move(arrays)) {}

  const World& Model() const { return model_->world; }
  const sweep::RunPlan& Run() const { return run_; }
  const StepMeasures& Measures() const { return measures_; }
  // The state arrays, made again once the run has stepped on.
  ArrayCache& Arrays() const { return *arrays_; }
  std::uint64_t StateVersion() const { return std::uint64_t(model_->world.StepCount); }

 private:
  std::shared_ptr<const sweep::RunWorld> model_;
  sweep::RunPlan run_;
  StepMeasures measures_;
  std::shared_ptr<ArrayCache> arrays_;
};

}  // namespace zelmora::python
