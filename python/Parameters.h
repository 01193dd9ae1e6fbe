#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "batch/Options.h"
#include "simulation/ModelPorts.h"

namespace zelmora::python {

namespace py = pybind11;

// The name of a value's Python type, for messages.
inline std::string TypeName(py::handle value) { return Py_TYPE(value.ptr())->tp_name; }

// A World's grid, fixed when it is made.
struct GridSize {
  std::int32_t cols = 40;
  std::int32_t rows = 40;
  std::int64_t Cells() const { return std::int64_t(cols) * rows; }
};

// A World's parameters: zelmora-batch's, checked as it checks them, and the window's price scape
// switch, which the batch program keeps off.
struct WorldParameters {
  batch::Parameters batch;
  bool priceScape = false;
};

// One row of the parameter table: the name a World takes it by (zelmora-batch's option name with
// underscores) and what it means.
struct ParameterInfo {
  const char* name;
  const char* doc;
};
const std::vector<ParameterInfo>& ParameterTable();

// zelmora-batch's defaults on this grid: 800 agents on 40 x 40, otherwise half the cells.
WorldParameters DefaultParameters(const GridSize& grid);

// `current` with the named values applied. Raises TypeError for an unknown name or a value of the
// wrong type and ValueError for a value out of range, agents that do not fit, or costs that could
// price a cell above the model's ceiling; each message starts with the parameter's name.
WorldParameters Applied(const WorldParameters& current, const py::dict& values,
                        const GridSize& grid);

py::object ReadParameter(const WorldParameters& parameters, const std::string& name,
                         const GridSize& grid);

// What the model reads at each phase: the batch program's settings for these parameters.
ModelSettings SettingsOf(const WorldParameters& parameters);

// `grid` as (cols, rows), each side from 10 to 100000, checked as zelmora-batch checks --grid.
GridSize GridFrom(py::handle grid);

// A whole number from low to high; TypeError or ValueError naming `name` otherwise.
std::int64_t WholeFrom(py::handle value, const std::string& name, std::int64_t low,
                       std::int64_t high);

// The value of parameter `name` as zelmora-batch's command line spells it (a switch as on or off,
// a float in its shortest form that reads back the same). TypeError naming `label` for a value of
// the wrong type; nothing for a name that is no parameter.
std::optional<std::string> ParameterText(const std::string& name, py::handle value, const std::string& label);

// A whole number (Python's or NumPy's, never a bool) as its decimal text; TypeError naming `label`.
std::string WholeText(py::handle value, const std::string& label);

// Python's and NumPy's bools; and their integers and reals, bools apart.
bool IsBool(py::handle value);
bool IsReal(py::handle value);

// A seed, 0 to 2^64-1; None draws one from the system's entropy source.
std::uint64_t SeedFrom(py::handle seed, const std::string& name);

}  // namespace zelmora::python
