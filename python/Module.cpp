// zelmora._core: the model's World for Python. The package's __init__.py gives World its signature
// and documentation; everything that touches the model is here.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <limits>
#include <string>
#include <vector>

#include "python/Parameters.h"
#include "python/PySweep.h"
#include "python/Study.h"
#include "python/PyWorld.h"
#include "python/StateArrays.h"
#include "sweep/Build.h"
#include "sweep/RunPlan.h"

#ifndef ZELMORA_VERSION
#define ZELMORA_VERSION "0"
#endif

namespace zelmora::python {
namespace {

// A one-dimensional array of whole numbers that fit in 32 bits, from any sequence or array.
std::vector<std::int32_t> WholeNumbers(py::handle values, const std::string& name) {
  const py::array array = py::module_::import("numpy").attr("asarray")(values);
  if (array.ndim() != 1) {
    throw py::value_error(name + ": expects a one-dimensional sequence; got " +
                          std::to_string(array.ndim()) + " dimensions");
  }
  const char kind = array.dtype().kind();
  if (array.size() > 0 && kind != 'i' && kind != 'u') {
    throw py::type_error(name + ": expects whole numbers; got an array of " +
                         std::string(py::str(array.dtype())));
  }
  std::vector<std::int32_t> out;
  out.reserve(std::size_t(array.size()));
  const py::array_t<std::int64_t, py::array::forcecast> whole(array);
  for (py::ssize_t k = 0; k < whole.size(); ++k) {
    const std::int64_t v = whole.at(k);
    if (v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max()) {
      throw py::value_error(name + ": " + std::to_string(v) + " is off every grid");
    }
    out.push_back(std::int32_t(v));
  }
  return out;
}

void SameLength(const std::string& names, std::size_t a, std::size_t b) {
  if (a != b) {
    throw py::value_error(names + ": expects sequences of one length; got " + std::to_string(a) +
                          " and " + std::to_string(b));
  }
}

py::dict WorldParameterDict(const PyWorld& w) {
  py::dict values = ParameterDict(w.Parameters().Values());
  values["price_scape"] = w.Parameters().priceScape;
  return values;
}

std::string Repr(const PyWorld& w) {
  std::string text = "zelmora.World(grid=(" + std::to_string(w.Grid().cols) + ", " +
                     std::to_string(w.Grid().rows) + "), seed=" + std::to_string(w.Seed());
  const sweep::ParameterSet& given = w.Parameters().given;
  for (const auto& [name, value] : WorldParameterDict(w)) {
    const auto parameter = sweep::FindParameter(std::string(py::str(name)));
    // One name of each fact, the second where it was given (threshold_percent=40 is no whole
    // threshold), and the grid is given first.
    if (parameter && ((!sweep::Parameters[*parameter].sameFactAs.empty() && !given.Given(*parameter)) ||
                      sweep::GivenBySecondName(given, *parameter) ||
                      sweep::Parameters[*parameter].reach == sweep::Reach::Grid)) {
      continue;
    }
    text += ", " + std::string(py::str(name)) + "=" + std::string(py::repr(value));
  }
  return text + ") at step " + std::to_string(w.Model().StepCount);
}

// Each starts with the call as Python writes it: pybind11's own signatures would show C++ types.
namespace doc {

constexpr const char* Step = R"(step(n=1)

Runs n steps, each the model's ten phases in order, with the GIL released so that other
Python threads run meanwhile. Ctrl-C stops a long call between two steps
(KeyboardInterrupt); the World is then whole, at the step it reached.)";

constexpr const char* Set = R"(set(**parameters)

Changes several parameters at once, e.g. w.set(production_costs=200, travel_expenses=0.5).
Every value is checked first: on an error nothing changes. Each value acts where the model
next reads it, as in the window: costs, threshold and switches from the next step, agents,
density and the model's structure (markets, radius, search_window, wrap, relocation) at the
next setup().)";

constexpr const char* Setup = R"(setup()

A new setup on the same grid, as the window's Setup button: step count 0, markets and
agents drawn afresh from the World's seed stream, as many agents as the parameter says now.)";

constexpr const char* PlaceMarkets = R"(place_markets(col, row)

Puts market k at cell (col[k], row[k]), k = 0..9; places may coincide. As a setup places
drawn markets: catchments go to the nearest market, customers are counted again, grey
levels go back to 180 and unit costs to 1 until the next step prices them. The agents stay.
Raises ValueError, changing nothing, for a place off the grid.)";

constexpr const char* PlaceAgents = R"(place_agents(col, row, colour)

Replaces the agents: agent i at cell (col[i], row[i]) with colour[i] (0 black, 1 white),
satisfied, as a setup places drawn agents. The markets stay; the step count goes on.
Raises ValueError, changing nothing, for a place off the grid, another colour, or two
agents on one cell. Every agent changing colour, for example:
    w.place_agents(w.agent_col, w.agent_row, 1 - w.agent_colour))";

constexpr const char* Measures = R"(measures()

What zelmora-batch records after a step, as a dict keyed by its CSV's columns of the
step, in their order (zelmora.columns() lists and describes them): the step, the agents'
counts, the markets' customers and unit costs, prices, concentration and segregation.
Where the CSV leaves a field empty the value is NaN: costs and prices at step 0, a share
with nothing to share.)";

constexpr const char* Picture = R"(picture(catchment=True)

The grid as the window draws it, by the same drawing code: a new uint8 array
[y, x, rgb], 10 pixels per cell (1 where 10 would make a side over 4000 pixels).
catchment=False shows the cells' grey levels instead of their markets' colours.)";

constexpr const char* SavePicture = R"(save_picture(path, catchment=True)

Writes picture(catchment) to path as a PNG. Raises OSError when it cannot.)";

constexpr const char* StepsCpuSeconds = R"(_steps_cpu_seconds(n)

Runs n steps from C++ alone and returns their thread CPU seconds: the baseline of the
Python benchmarks.)";

constexpr const char* RunSeed = R"(run_seed(master_seed, index)

The seed of run `index` of a zelmora-batch sweep made with --seed master_seed:
zelmora.World(seed=zelmora.run_seed(m, i), ...) with that run's parameters steps exactly
as the run did.)";

}  // namespace doc

void DefineWorld(py::module_& m) {
  py::class_<PyWorld> world(m, "World", "The model's World; zelmora.World documents it.");
  world.def(py::init([](py::handle grid, py::handle seed, const py::dict& parameters) {
              const GridSize size = GridFrom(grid);
              const std::uint64_t s = SeedFrom(seed, "seed");
              const WorldParameters p = Applied(DefaultParameters(size), parameters);
              py::gil_scoped_release release;
              return std::make_unique<PyWorld>(s, p);
            }),
            py::arg("grid"), py::arg("seed"), py::arg("parameters"),
            "__init__(grid, seed, parameters): made through zelmora.World.");

  world.def(
      "step",
      [](PyWorld& w, py::handle n) {
        w.Step(WholeFrom(n, "n", 0, std::numeric_limits<std::int64_t>::max()));
      },
      py::arg("n") = 1, doc::Step);
  world.def(
      "set", [](PyWorld& w, const py::kwargs& values) { w.Set(values); }, doc::Set);
  world.def("parameters", &WorldParameterDict, "parameters()\n\nThe parameters as a dict, name: value.");
  for (std::size_t k = 0; k < sweep::ParameterCount; ++k) {
    const std::string name(sweep::Parameters[k].name);
    world.def_property(
        name.c_str(), [k](const PyWorld& w) { return ParameterObject(k, w.Parameters().Values()[k]); },
        [name](PyWorld& w, py::object value) {
          py::dict values;
          values[py::str(name)] = value;
          w.Set(values);
        },
        ParameterDoc(k).c_str());
  }
  world.def_property(
      "price_scape", [](const PyWorld& w) { return w.Parameters().priceScape; },
      [](PyWorld& w, py::object value) {
        py::dict values;
        values["price_scape"] = value;
        w.Set(values);
      },
      "The window's 'show local price scape': when on, every step sets each cell's grey level\n"
      "from its local price. Off by default, as in sweeps.");
  world.def("setup", &PyWorld::Setup, doc::Setup);
  world.def(
      "place_markets",
      [](PyWorld& w, py::handle col, py::handle row) {
        const std::vector<std::int32_t> cols = WholeNumbers(col, "col"),
                                        rows = WholeNumbers(row, "row");
        SameLength("col, row", cols.size(), rows.size());
        if (cols.size() != std::size_t(MarketCount)) {
          throw py::value_error("col, row: expects one place for each of the 10 markets; got " +
                                std::to_string(cols.size()));
        }
        std::array<MarketPosition, MarketCount> markets;
        for (std::size_t k = 0; k < markets.size(); ++k) markets[k] = {cols[k], rows[k]};
        w.PlaceMarkets(markets);
      },
      py::arg("col"), py::arg("row"), doc::PlaceMarkets);
  world.def(
      "place_agents",
      [](PyWorld& w, py::handle col, py::handle row, py::handle colour) {
        const std::vector<std::int32_t> cols = WholeNumbers(col, "col"),
                                        rows = WholeNumbers(row, "row"),
                                        colours = WholeNumbers(colour, "colour");
        SameLength("col, row", cols.size(), rows.size());
        SameLength("col, colour", cols.size(), colours.size());
        std::vector<AgentPlace> places(cols.size());
        for (std::size_t k = 0; k < places.size(); ++k) places[k] = {cols[k], rows[k], colours[k]};
        w.PlaceAgents(places);
      },
      py::arg("col"), py::arg("row"), py::arg("colour"), doc::PlaceAgents);
  world.def("measures", &PyWorld::Measures, doc::Measures);
  world.def("picture", &PyWorld::Picture, py::arg("catchment") = true, doc::Picture);
  world.def(
      "save_picture",
      [](PyWorld& w, const py::object& path, bool catchment) {
        w.SavePicture(py::str(py::module_::import("os").attr("fspath")(path)), catchment);
      },
      py::arg("path"), py::arg("catchment") = true, doc::SavePicture);

  world.def_property_readonly(
      "seed", &PyWorld::Seed,
      "The seed the World was made with: World(seed=w.seed, ...) repeats it.");
  world.def_property(
      "plain_phases", [](const PyWorld& w) { return w.Model().PlainPhases(); },
      [](PyWorld& w, py::handle plain) {
        if (!PyBool_Check(plain.ptr())) {
          throw py::type_error("plain_phases: expects True or False; got " +
                               std::string(Py_TYPE(plain.ptr())->tp_name));
        }
        w.UsePlainPhases(plain.ptr() == Py_True);
      },
      "True runs the plain reference phases instead of the fast ones: the same results,\n"
      "slower; for checking.");
  DefineStateArrays(world);
  world.def("__repr__", &Repr);
  world.def("_steps_cpu_seconds", &PyWorld::StepsCpuSeconds, py::arg("n"), doc::StepsCpuSeconds);
}

}  // namespace
}  // namespace zelmora::python

PYBIND11_MODULE(_core, m) {
  namespace py = pybind11;
  using namespace zelmora::python;
  py::options options;
  options.disable_function_signatures();
  m.doc() = "The Zelmora model's core; use the package zelmora.";
  m.attr("__version__") = ZELMORA_VERSION;
  // The id zelmora-batch --version prints and every manifest carries: the same id, the same bytes.
  m.attr("build_id") = zelmora::sweep::BuildId();
  DefineWorld(m);
  DefineSweep(m);
  DefineStudy(m);
  m.def(
      "run_seed",
      [](py::handle masterSeed, py::handle index) {
        if (masterSeed.is_none()) {
          throw py::type_error("master_seed: expects a whole number (int); got None");
        }
        return zelmora::sweep::RunSeed(
            SeedFrom(masterSeed, "master_seed"),
            WholeFrom(index, "index", 0, std::numeric_limits<std::int64_t>::max()));
      },
      py::arg("master_seed"), py::arg("index"), doc::RunSeed);
}
