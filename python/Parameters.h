#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>

#include "simulation/ModelPorts.h"
#include "sweep/ParameterTable.h"
#include "sweep/Request.h"

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

// A World's parameters: those of the table as given (a second name, density, kept as given), and
// the window's price scape switch, which sweeps keep off.
struct WorldParameters {
  sweep::ParameterSet given;
  bool priceScape = false;

  sweep::ParameterValues Values() const { return sweep::Resolve(given); }
  GridSize Grid() const;
};

// The defaults on this grid: 800 agents on 40 x 40, otherwise half the cells.
WorldParameters DefaultParameters(const GridSize& grid);

// `current` with the named values applied (names with underscores or dashes). Raises TypeError for
// an unknown name, a grid parameter (fixed for a World's life) or a value of the wrong type, and
// ValueError for a value out of range, both names of one fact, or values that break a rule of the
// table (agents that do not fit, prices above the model's ceiling); each message starts with the
// parameter's name.
WorldParameters Applied(const WorldParameters& current, const py::dict& values);

// A parameter's value as Python reads it: an int, a float, a bool or a choice's name.
py::object ParameterObject(std::size_t parameter, double value);

// A Python value of a parameter as the table holds it, its type checked against the parameter's
// kind (an int for an integer, an int or float for a real, a bool for a switch, a str for a
// choice); TypeError naming `label` otherwise. The range is not checked here.
double ParameterValue(std::size_t parameter, py::handle value, const std::string& label);

// Every parameter's value, name: value in the table's order.
py::dict ParameterDict(const sweep::ParameterValues& values);

// A parameter's attribute documentation: its description, what it takes and its default, and when
// a change acts (its reach).
std::string ParameterDoc(std::size_t parameter);

// What the model reads at each phase for these parameters.
ModelSettings SettingsOf(const WorldParameters& parameters);

// `grid` as (cols, rows), each side checked as the table checks grid_cols and grid_rows.
GridSize GridFrom(py::handle grid);

// A whole number from low to high; TypeError or ValueError naming `name` otherwise.
std::int64_t WholeFrom(py::handle value, const std::string& name, std::int64_t low, std::int64_t high);

// Python's and NumPy's bools; and their integers and reals, bools apart.
bool IsBool(py::handle value);
bool IsInteger(py::handle value);
bool IsReal(py::handle value);

// A seed, 0 to 2^64-1; None draws one from the system's entropy source.
std::uint64_t SeedFrom(py::handle seed, const std::string& name);

// A request's error in Python's words: options and parameters as their keywords, a list as
// "set NAME", a design's cell as "design DataFrame: row R (line L), column 'C'".
std::string Worded(const sweep::RequestError& error);

}  // namespace zelmora::python
