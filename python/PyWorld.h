#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sweep/Run.h"
#include "python/Parameters.h"
#include "simulation/Measures.h"
#include "simulation/World.h"

namespace zelmora::python {

// What keeps the storage of handed-out agent arrays alive: the Python World while they show its
// current agents, and the old list itself once the World has replaced it (a setup, place_agents),
// so that an array handed out earlier never points at freed memory.
struct AgentHold {
  py::object world;
  std::vector<TAgent> retired;
};

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

  // The base of an agent array: keeps the agents it shows alive, whatever the World does later.
  py::object AgentsBase(py::handle self);

 private:
  void RetireAgentArrays();

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
  std::weak_ptr<AgentHold> agentHold_;  // of the current agent list, while arrays of it exist
};

}  // namespace zelmora::python
