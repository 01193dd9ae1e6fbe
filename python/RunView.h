#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <utility>

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
  RunView(std::shared_ptr<const sweep::RunWorld> model, const sweep::RunPlan& run, const StepMeasures& measures)
      : model_(std::move(model)), run_(run), measures_(measures) {}

  const World& Model() const { return model_->world; }
  const sweep::RunPlan& Run() const { return run_; }
  const StepMeasures& Measures() const { return measures_; }
  // A run keeps one list of agents from its setup to its end, so the view alone holds it.
  py::object AgentsBase(py::handle self) const { return py::reinterpret_borrow<py::object>(self); }

 private:
  std::shared_ptr<const sweep::RunWorld> model_;
  sweep::RunPlan run_;
  StepMeasures measures_;
};

}  // namespace zelmora::python
