#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "sweep/Run.h"
#include "python/Parameters.h"
#include "python/StateArrays.h"
#include "simulation/Measures.h"
#include "simulation/World.h"

namespace zelmora::python {

// A World as Python drives it: the model, the settings it reads at every phase, the seed its setups
// draw from, and a guard so that nothing changes it while it steps with the GIL released.
class PyWorld {
 public:
  // Made as a sweep makes a run's World: grid, markets and agents drawn from the seed's stream.
  PyWorld(std::uint64_t seed, const WorldParameters& parameters);

  // Claims the World for one call; raises RuntimeError while another thread steps it.
  class Claim {
   public:
    explicit Claim(PyWorld& world);
    ~Claim();
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;

   private:
    std::atomic<bool>& busy_;
  };

  const World& Model() const { return model_.world; }
  const GridSize& Grid() const { return grid_; }
  std::uint64_t Seed() const { return seed_; }
  const WorldParameters& Parameters() const { return parameters_; }

  // All the named values or, on any error, none.
  void Set(const py::dict& values);
  // With the GIL released; a pending signal (Ctrl-C) raises between two steps.
  void Step(std::int64_t steps);
  void Setup();
  void PlaceMarkets(const std::array<MarketPosition, MarketCount>& markets);
  void PlaceAgents(const std::vector<AgentPlace>& places);
  void UsePlainPhases(bool plain);
  py::dict Measures();
  py::array_t<std::uint8_t> Picture(bool showCatchment);
  void SavePicture(const std::string& path, bool showCatchment);
  // The same steps as Step, timed in C++ alone (thread CPU seconds): the baseline of bench/python.
  double StepsCpuSeconds(std::int64_t steps);

  // The state arrays handed out since the last change of the state, which StateVersion numbers:
  // every call that changes the World (step, setup, a configuration) numbers it anew, when it
  // starts and when it ends.
  ArrayCache& Arrays() const { return arrays_; }
  std::uint64_t StateVersion() const { return stateVersion_; }

 private:
  // Numbers the state anew for as long as it lives: the arrays read meanwhile are made again at
  // the next read after it.
  class Change {
   public:
    explicit Change(PyWorld& world) : world_(world) { ++world_.stateVersion_; }
    ~Change() { ++world_.stateVersion_; }
    Change(const Change&) = delete;
    Change& operator=(const Change&) = delete;

   private:
    PyWorld& world_;
  };

  GridSize grid_;
  std::uint64_t seed_;
  WorldParameters parameters_;
  // Made as zelmora-batch makes a run's World; its settings, read at every phase, are replaced
  // only whole, between steps.
  sweep::RunWorld model_;
  std::atomic<bool> busy_{false};
  // Kept from call to call, so that measures cost what changed since the last ones; given the
  // threshold of each call.
  Measurer measurer_{ModelSettings{}.thresholdPercent};
  mutable ArrayCache arrays_;
  std::uint64_t stateVersion_ = 0;
};

}  // namespace zelmora::python
