#include "python/PyWorld.h"

#include <time.h>

#include <chrono>
#include <stdexcept>
#include <utility>

#include "python/Outputs.h"
#include "sweep/RunPlan.h"

namespace zelmora::python {

PyWorld::PyWorld(std::uint64_t seed, const WorldParameters& parameters)
    : grid_(parameters.Grid()),
      seed_(seed),
      parameters_(parameters),
      model_(sweep::RunPlan{0, seed, parameters.Values()}) {
  // The price scape is read by the steps only.
  model_.settings = SettingsOf(parameters);
}

PyWorld::Claim::Claim(PyWorld& world) : busy_(world.busy_) {
  if (busy_.exchange(true))
    throw std::runtime_error("the World is stepping in another thread; wait for it");
}

PyWorld::Claim::~Claim() { busy_ = false; }

void PyWorld::Set(const py::dict& values) {
  Claim claim(*this);
  parameters_ = Applied(parameters_, values);
  model_.settings = SettingsOf(parameters_);
}

void PyWorld::Step(std::int64_t steps) {
  using Clock = std::chrono::steady_clock;
  Claim claim(*this);
  const Change change(*this);
  std::int64_t done = 0;
  while (done < steps) {
    {
      py::gil_scoped_release release;
      // A long call looks for a pending signal about every tenth of a second; the clock is read
      // every 16 steps, which costs nothing next to them.
      const auto until = Clock::now() + std::chrono::milliseconds(100);
      do {
        model_.world.SimulationStep();
        ++done;
      } while (done < steps && (done % 16 != 0 || Clock::now() < until));
    }
    if (done < steps && PyErr_CheckSignals() != 0) throw py::error_already_set();
  }
}

void PyWorld::Setup() {
  Claim claim(*this);
  const Change change(*this);
  {
    py::gil_scoped_release release;
    model_.world.NewSetup();  // cannot refuse: the agent count was checked when it was set
  }
}

void PyWorld::PlaceMarkets(const std::array<MarketPosition, MarketCount>& markets) {
  Claim claim(*this);
  const Change change(*this);
  try {
    model_.world.SetMarkets(markets);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(std::string("place_markets: ") + e.what());
  }
}

void PyWorld::PlaceAgents(const std::vector<AgentPlace>& places) {
  Claim claim(*this);
  const Change change(*this);
  try {
    model_.world.SetAgents(places);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(std::string("place_agents: ") + e.what());
  }
}

void PyWorld::UsePlainPhases(bool plain) {
  Claim claim(*this);
  model_.world.UsePlainPhases(plain);
}

py::dict PyWorld::Measures() {
  Claim claim(*this);
  StepMeasures measures;
  {
    py::gil_scoped_release release;
    measurer_.SetThreshold(model_.settings.thresholdPercent);  // perhaps set since the last call
    measures = measurer_.Measure(model_.world);
  }
  const sweep::RowSource source{nullptr, &model_.world, &measures, nullptr, std::nullopt};
  return ColumnsDict(source, false);
}

py::array_t<std::uint8_t> PyWorld::Picture(bool showCatchment) {
  Claim claim(*this);
  return PictureArray(model_.world, showCatchment);
}

void PyWorld::SavePicture(const std::string& path, bool showCatchment) {
  Claim claim(*this);
  python::SavePicture(model_.world, path, showCatchment);
}

double PyWorld::StepsCpuSeconds(std::int64_t steps) {
  Claim claim(*this);
  const Change change(*this);
  timespec start{}, end{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
  for (std::int64_t k = 0; k < steps; ++k) model_.world.SimulationStep();
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
  return double(end.tv_sec - start.tv_sec) + 1e-9 * double(end.tv_nsec - start.tv_nsec);
}

}  // namespace zelmora::python
