#include "python/Parameters.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

#include "sweep/RunPlan.h"
#include "simulation/World.h"

namespace zelmora::python {
namespace {

enum class Kind { Whole, Number, Switch };

struct Row {
  ParameterInfo info;
  Kind kind;
  py::object (*read)(const WorldParameters& parameters, const GridSize& grid);
};

// In the order of zelmora-batch's options. Each value is read by the model where the phase that
// needs it starts, so a change between two steps acts from the next step on.
const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {{"agents",
        "Agents placed by the next setup, 0 to the number of cells (the window's agent count: it\n"
        "acts at setup(), not on the agents standing). Default: 800 on 40 x 40, otherwise half\n"
        "the cells."},
       Kind::Whole,
       [](const WorldParameters& p, const GridSize&) -> py::object {
         return py::int_(p.batch.agents);
       }},
      {{"density",
        "Agents as a share of the cells, 0 to 1; setting it sets agents to density x cells,\n"
        "rounded to the nearest (halves to even). Reads as agents / cells."},
       Kind::Number,
       [](const WorldParameters& p, const GridSize& grid) -> py::object {
         return py::float_(double(p.batch.agents) / double(grid.Cells()));
       }},
      {{"threshold",
        "Segregation threshold in eighths, 0 to 8: an agent is satisfied when its like share is\n"
        "strictly above 12.5 x threshold percent. Default 3."},
       Kind::Whole,
       [](const WorldParameters& p, const GridSize&) -> py::object {
         return py::int_(p.batch.threshold);
       }},
      {{"production_costs", "Production costs, 0 to 1000000 (the window: 1 to 500). Default 100."},
       Kind::Number,
       [](const WorldParameters& p, const GridSize&) -> py::object {
         return py::float_(p.batch.productionCosts);
       }},
      {{"travel_expenses",
        "Travel expenses per cell, 0 to 1000000 (the window: 0.02 to 2). Default 1."},
       Kind::Number,
       [](const WorldParameters& p, const GridSize&) -> py::object {
         return py::float_(p.batch.travelExpenses);
       }},
      {{"returns_to_scale", "Returns to scale, 0 to 10 (the window: 0.9 to 1.3). Default 1."},
       Kind::Number,
       [](const WorldParameters& p, const GridSize&) -> py::object {
         return py::float_(p.batch.returnsToScale);
       }},
      {{"segregation", "The segregation phase, on (True, the default) or off."},
       Kind::Switch,
       [](const WorldParameters& p, const GridSize&) -> py::object {
         return py::bool_(p.batch.segregation);
       }},
      {{"centers", "The look-for-centers phase, on (True, the default) or off."},
       Kind::Switch,
       [](const WorldParameters& p, const GridSize&) -> py::object {
         return py::bool_(p.batch.centers);
       }},
      {{"price_scape",
        "The window's 'show local price scape': when on, every step sets each cell's grey level\n"
        "from its local price. Off by default, as in zelmora-batch."},
       Kind::Switch,
       [](const WorldParameters& p, const GridSize&) -> py::object {
         return py::bool_(p.priceScape);
       }},
  };
  return rows;
}

const Row* Find(const std::string& name) {
  for (const Row& row : Rows()) {
    if (name == row.info.name) return &row;
  }
  return nullptr;
}

std::string Names() {
  std::string names;
  for (const Row& row : Rows()) names += std::string(names.empty() ? "" : ", ") + row.info.name;
  return names;
}

}  // namespace

// NumPy's bool is no int, but it can pass for one: both are refused where a number is expected.
bool IsBool(py::handle value) {
  return PyBool_Check(value.ptr()) ||
         std::string_view(Py_TYPE(value.ptr())->tp_name) == "numpy.bool_";
}

namespace {

// Python's and NumPy's integers and reals alike, through the standard number classes.
bool IsA(py::handle value, const char* numberClass) {
  static py::object* numbers =
      new py::object(py::module_::import("numbers"));  // kept for the process
  return !IsBool(value) && py::isinstance(value, numbers->attr(numberClass));
}

std::string NumberText(double value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, ec == std::errc() ? end : buffer);
}

// The value as zelmora-batch's command line would spell it, so that it checks it as it checks an
// option; a float's shortest form reads back to the same double.
std::string TextOf(py::handle value, const std::string& name, Kind kind) {
  switch (kind) {
    case Kind::Switch:
      if (!IsBool(value))
        throw py::type_error(name + ": expects True or False; got " + TypeName(value));
      return PyObject_IsTrue(value.ptr()) ? "on" : "off";
    case Kind::Whole:
      if (!IsA(value, "Integral"))
        throw py::type_error(name + ": expects a whole number (int); got " + TypeName(value));
      return py::str(py::int_(py::reinterpret_borrow<py::object>(value)));
    case Kind::Number:
      if (!IsA(value, "Real"))
        throw py::type_error(name + ": expects a number (int or float); got " + TypeName(value));
      if (IsA(value, "Integral"))
        return py::str(py::int_(py::reinterpret_borrow<py::object>(value)));
      return NumberText(py::float_(py::reinterpret_borrow<py::object>(value)));
  }
  return {};
}

// The rule zelmora-batch checks before every run: delivered prices below the model's ceiling.
void CheckPrices(const batch::Parameters& p, const GridSize& grid, const std::string& names) {
  const double dearest = batch::DearestPrice(p, grid.cols, grid.rows);
  if (!(dearest < World::PriceCeiling)) {
    throw py::value_error(
        names + ": production costs " + NumberText(p.productionCosts) + ", travel expenses " +
        NumberText(p.travelExpenses) + " and returns to scale " + NumberText(p.returnsToScale) +
        " with " + std::to_string(p.agents) + " agents could price cells at about " +
        NumberText(std::round(dearest)) + " on the " + std::to_string(grid.cols) + " x " +
        std::to_string(grid.rows) +
        " grid; expects costs whose delivered prices stay below the model's ceiling 9999");
  }
}

}  // namespace

bool IsReal(py::handle value) {
  return PyFloat_CheckExact(value.ptr()) || PyLong_CheckExact(value.ptr()) || IsA(value, "Real");
}

std::optional<std::string> ParameterText(const std::string& name, py::handle value, const std::string& label) {
  const Row* row = Find(name);
  if (row == nullptr) return std::nullopt;
  return TextOf(value, label, row->kind);
}

std::string WholeText(py::handle value, const std::string& label) { return TextOf(value, label, Kind::Whole); }

const std::vector<ParameterInfo>& ParameterTable() {
  static const std::vector<ParameterInfo> table = [] {
    std::vector<ParameterInfo> infos;
    for (const Row& row : Rows()) infos.push_back(row.info);
    return infos;
  }();
  return table;
}

WorldParameters DefaultParameters(const GridSize& grid) {
  WorldParameters parameters;
  parameters.batch.agents = grid.cols == 40 && grid.rows == 40 ? 800 : grid.Cells() / 2;
  return parameters;
}

WorldParameters Applied(const WorldParameters& current, const py::dict& values,
                        const GridSize& grid) {
  WorldParameters next = current;
  std::optional<double> density;
  std::string priced;  // the names given that the price check reads
  for (const auto& [key, value] : values) {
    if (!py::isinstance<py::str>(key))
      throw py::type_error("parameter names are strings; got " + TypeName(key));
    const std::string name = py::str(key);
    const Row* row = Find(name);
    if (row == nullptr)
      throw py::type_error("unknown parameter '" + name + "'; parameters: " + Names());
    const std::string text = TextOf(value, name, row->kind);
    if (name == "price_scape") {
      next.priceScape = text == "on";
      continue;
    }
    std::string batchName = name;
    std::replace(batchName.begin(), batchName.end(), '_', '-');
    try {
      const batch::Knob knob = *batch::KnobNamed(batchName);  // every row but price_scape is a knob
      batch::SetKnob(knob, batch::ParseKnob(name, knob, text), next.batch, density);
    } catch (const batch::UsageError& e) {
      throw py::value_error(e.what());
    }
    if (name != "threshold" && name != "segregation" && name != "centers") {
      priced += std::string(priced.empty() ? "" : "/") + name;
    }
  }
  if (values.contains("agents") && values.contains("density")) {
    throw py::value_error("agents, density: exclude each other; give one of them");
  }
  if (density) next.batch.agents = std::int64_t(std::nearbyint(*density * double(grid.Cells())));
  if (next.batch.agents > grid.Cells()) {
    throw py::value_error(std::string(density ? "density" : "agents") + ": " +
                          std::to_string(next.batch.agents) + " agents do not fit on the " +
                          std::to_string(grid.cols) + " x " + std::to_string(grid.rows) +
                          " grid; expects at most " + std::to_string(grid.Cells()) +
                          " (one per cell)");
  }
  CheckPrices(next.batch, grid, priced.empty() ? "production_costs/travel_expenses" : priced);
  return next;
}

py::object ReadParameter(const WorldParameters& parameters, const std::string& name,
                         const GridSize& grid) {
  const Row* row = Find(name);
  if (row == nullptr)
    throw py::type_error("unknown parameter '" + name + "'; parameters: " + Names());
  return row->read(parameters, grid);
}

ModelSettings SettingsOf(const WorldParameters& parameters) {
  ModelSettings settings = batch::SettingsOf(parameters.batch);
  settings.priceScape = parameters.priceScape;
  return settings;
}

std::int64_t WholeFrom(py::handle value, const std::string& name, std::int64_t low,
                       std::int64_t high) {
  // A plain int needs no look at the number classes: step(n) is called once per step.
  if (!PyLong_CheckExact(value.ptr()) && !IsA(value, "Integral"))
    throw py::type_error(name + ": expects a whole number (int); got " + TypeName(value));
  const py::int_ number(py::reinterpret_borrow<py::object>(value));
  int overflow = 0;
  const long long whole = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow != 0 || whole < low || whole > high) {
    throw py::value_error(name + ": expects a whole number from " + std::to_string(low) + " to " +
                          std::to_string(high) + "; got " +
                          std::string(py::str(py::handle(number))));
  }
  return whole;
}

std::uint64_t SeedFrom(py::handle seed, const std::string& name) {
  if (seed.is_none()) return batch::DrawMasterSeed();
  if (!IsA(seed, "Integral"))
    throw py::type_error(name + ": expects a whole number (int) or None; got " + TypeName(seed));
  const py::int_ number(py::reinterpret_borrow<py::object>(seed));
  const unsigned long long value = PyLong_AsUnsignedLongLong(number.ptr());
  if (PyErr_Occurred() != nullptr) {
    PyErr_Clear();  // negative or too large
    throw py::value_error(name + ": expects a whole number from 0 to 18446744073709551615; got " +
                          std::string(py::str(py::handle(number))));
  }
  return value;
}

GridSize GridFrom(py::handle grid) {
  if (!(py::isinstance<py::tuple>(grid) || py::isinstance<py::list>(grid)) || py::len(grid) != 2) {
    throw py::type_error("grid: expects (cols, rows), a pair of whole numbers; got " +
                         TypeName(grid));
  }
  const py::sequence pair = py::reinterpret_borrow<py::sequence>(grid);
  GridSize size;
  size.cols = std::int32_t(WholeFrom(pair[0], "grid", 10, batch::MaxGridSide));
  size.rows = std::int32_t(WholeFrom(pair[1], "grid", 10, batch::MaxGridSide));
  if (size.Cells() > 2147483647) {
    throw py::value_error("grid: expects at most 2^31-1 cells; got " + std::to_string(size.cols) +
                          " x " + std::to_string(size.rows));
  }
  const std::int64_t memory = batch::PhysicalMemory();
  if (memory > 0 && size.Cells() * batch::BytesPerCell > memory / 2) {
    throw py::value_error("grid: " + std::to_string(size.cols) + " x " + std::to_string(size.rows) +
                          " needs about " +
                          std::to_string(size.Cells() * batch::BytesPerCell >> 20) +
                          " MiB, more than half of this machine's memory");
  }
  return size;
}

}  // namespace zelmora::python
