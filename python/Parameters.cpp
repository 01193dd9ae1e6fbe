#include "python/Parameters.h"

#include <cmath>
#include <string_view>

#include "sweep/Printable.h"
#include "sweep/RunPlan.h"

namespace zelmora::python {
namespace {

using sweep::Parameters;
using sweep::ParameterCount;
using sweep::ParameterKind;
using Source = sweep::RequestError::Source;

constexpr std::size_t Cols = sweep::ParameterIndex("grid_cols");
constexpr std::size_t Rows = sweep::ParameterIndex("grid_rows");

// Python's and NumPy's numbers alike, through the standard number classes.
bool IsA(py::handle value, const char* numberClass) {
  static py::object* numbers = new py::object(py::module_::import("numbers"));  // kept for the process
  return !IsBool(value) && py::isinstance(value, numbers->attr(numberClass));
}

std::string Names() {
  std::string names;
  for (const sweep::ParameterRow& row : Parameters) names += (names.empty() ? "" : ", ") + std::string(row.name);
  return names + ", price_scape";
}

}  // namespace

// NumPy's bool is no int, but it can pass for one: both are refused where a number is expected.
bool IsBool(py::handle value) {
  return PyBool_Check(value.ptr()) || std::string_view(Py_TYPE(value.ptr())->tp_name) == "numpy.bool_";
}

bool IsInteger(py::handle value) { return PyLong_CheckExact(value.ptr()) || IsA(value, "Integral"); }

bool IsReal(py::handle value) {
  return PyFloat_CheckExact(value.ptr()) || PyLong_CheckExact(value.ptr()) || IsA(value, "Real");
}

GridSize WorldParameters::Grid() const {
  const sweep::ParameterValues v = Values();
  return {std::int32_t(v[Cols]), std::int32_t(v[Rows])};
}

WorldParameters DefaultParameters(const GridSize& grid) {
  WorldParameters parameters;
  parameters.given.Set(Cols, grid.cols);
  parameters.given.Set(Rows, grid.rows);
  return parameters;
}

py::object ParameterObject(std::size_t parameter, double value) {
  switch (Parameters[parameter].kind) {
    case ParameterKind::Integer:
      // 3.2 eighths where a threshold of 40 % was given.
      if (value != std::floor(value)) return py::float_(value);
      return py::int_(std::int64_t(value));
    case ParameterKind::Real: return py::float_(value);
    case ParameterKind::Switch: return py::bool_(value != 0);
    case ParameterKind::Choice: return py::str(sweep::ValueText(parameter, value));
  }
  return py::none();
}

double ParameterValue(std::size_t parameter, py::handle value, const std::string& label) {
  switch (Parameters[parameter].kind) {
    case ParameterKind::Integer: {
      if (!IsInteger(value) && IsReal(value)) {
        // A whole number as a sweep's rows hold it where the column is real (2.0) is that number.
        const double real = py::float_(py::reinterpret_borrow<py::object>(value));
        if (real == std::floor(real) && std::isfinite(real)) return real;
        throw py::value_error(label + ": expects " + sweep::Expects(parameter) + "; got " + std::string(py::repr(value)));
      }
      if (!IsInteger(value)) throw py::type_error(label + ": expects a whole number (int); got " + TypeName(value));
      int overflow = 0;
      const py::int_ number(py::reinterpret_borrow<py::object>(value));
      const long long whole = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
      // Past 2^53 no double holds the number; past every range, it is refused by its range.
      return overflow != 0 ? (overflow > 0 ? 9e18 : -9e18) : double(whole);
    }
    case ParameterKind::Real:
      if (!IsReal(value)) throw py::type_error(label + ": expects a number (int or float); got " + TypeName(value));
      return py::float_(py::reinterpret_borrow<py::object>(value));
    case ParameterKind::Switch:
      if (!IsBool(value) && IsReal(value)) {
        // 1 or 0, as a sweep's CSV writes a switch.
        const double number = py::float_(py::reinterpret_borrow<py::object>(value));
        if (number == 0 || number == 1) return number;
        throw py::value_error(label + ": expects True or False, or 1 or 0; got " + std::string(py::repr(value)));
      }
      if (!IsBool(value)) throw py::type_error(label + ": expects True or False, or 1 or 0; got " + TypeName(value));
      return PyObject_IsTrue(value.ptr()) ? 1 : 0;
    case ParameterKind::Choice: {
      if (!py::isinstance<py::str>(value)) throw py::type_error(label + ": expects a str; got " + TypeName(value));
      const auto choice = sweep::ParseValue(parameter, std::string(py::str(value)));
      if (!choice) throw py::value_error(label + ": expects " + sweep::Expects(parameter) + "; got " + std::string(py::repr(value)));
      return *choice;
    }
  }
  return 0;
}

WorldParameters Applied(const WorldParameters& current, const py::dict& values) {
  WorldParameters next = current;
  const GridSize grid = current.Grid();
  std::uint32_t named = 0;  // the parameters of this call, for messages
  for (const auto& [key, value] : values) {
    if (!py::isinstance<py::str>(key)) throw py::type_error("parameter names are strings; got " + TypeName(key));
    const std::string name = py::str(key);
    if (name == "price_scape") {
      if (!IsBool(value)) throw py::type_error(name + ": expects True or False; got " + TypeName(value));
      next.priceScape = PyObject_IsTrue(value.ptr());
      continue;
    }
    const auto parameter = sweep::FindParameter(name);
    if (!parameter) throw py::type_error(sweep::Printable("unknown parameter '" + name + "'; parameters: " + Names()));
    const double v = ParameterValue(*parameter, value, name);
    if (Parameters[*parameter].reach == sweep::Reach::Grid && v != (*parameter == Cols ? grid.cols : grid.rows)) {
      throw py::type_error(name + ": fixed for the World's life (grid=(cols, rows) when it is made)");
    }
    if (!sweep::InRange(*parameter, v)) {
      throw py::value_error(name + ": expects " + sweep::Expects(*parameter) + "; got " + std::string(py::str(value)));
    }
    // One fact, one name: the other name of what is given now is forgotten.
    for (std::size_t k = 0; k < ParameterCount; ++k) {
      if (k == *parameter || sweep::FactOf(k) != sweep::FactOf(*parameter) || !next.given.Given(k)) continue;
      if ((named >> k) & 1u) {
        throw py::value_error(std::string(Parameters[k].name) + " and " + name + " exclude each other; give one of them");
      }
      next.given.given &= ~(1u << k);
    }
    next.given.Set(*parameter, v);
    named |= 1u << *parameter;
  }
  if (const auto broken = sweep::CheckRules(next.Values())) {
    std::size_t at = broken->parameters.front();
    for (const std::size_t p : broken->parameters) {
      for (std::size_t k = 0; k < ParameterCount; ++k) {
        if ((named >> k) & 1u && sweep::FactOf(k) == sweep::FactOf(p)) {
          throw py::value_error(std::string(Parameters[k].name) + ": " + broken->reason);
        }
      }
    }
    throw py::value_error(std::string(Parameters[at].name) + ": " + broken->reason);
  }
  return next;
}

py::dict ParameterDict(const sweep::ParameterValues& values) {
  py::dict dict;
  for (std::size_t k = 0; k < ParameterCount; ++k) dict[py::str(Parameters[k].name.data())] = ParameterObject(k, values[k]);
  return dict;
}

std::string ParameterDoc(std::size_t parameter) {
  const sweep::ParameterRow& row = Parameters[parameter];
  const char* acts[] = {"Fixed for the World's life (grid=(cols, rows)).", "Acts at the next setup().",
                        "Acts from the next step."};
  return std::string(row.description) + ".\n" + "Takes " + sweep::Expects(parameter) + "; default " +
         sweep::DefaultText(parameter) + ". " + acts[int(row.reach)];
}

ModelSettings SettingsOf(const WorldParameters& parameters) {
  ModelSettings settings = sweep::SettingsOf(parameters.Values());
  settings.priceScape = parameters.priceScape;
  return settings;
}

std::int64_t WholeFrom(py::handle value, const std::string& name, std::int64_t low, std::int64_t high) {
  // A plain int needs no look at the number classes: step(n) is called once per step.
  if (!PyLong_CheckExact(value.ptr()) && !IsA(value, "Integral"))
    throw py::type_error(name + ": expects a whole number (int); got " + TypeName(value));
  const py::int_ number(py::reinterpret_borrow<py::object>(value));
  int overflow = 0;
  const long long whole = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow != 0 || whole < low || whole > high) {
    throw py::value_error(name + ": expects a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                          "; got " + std::string(py::str(py::handle(number))));
  }
  return whole;
}

std::uint64_t SeedFrom(py::handle seed, const std::string& name) {
  if (seed.is_none()) return sweep::DrawMasterSeed();
  if (!IsA(seed, "Integral")) throw py::type_error(name + ": expects a whole number (int) or None; got " + TypeName(seed));
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
    throw py::type_error("grid: expects (cols, rows), a pair of whole numbers; got " + TypeName(grid));
  }
  const py::sequence pair = py::reinterpret_borrow<py::sequence>(grid);
  GridSize size;
  size.cols = std::int32_t(WholeFrom(pair[0], "grid", std::int64_t(Parameters[Cols].low), std::int64_t(Parameters[Cols].high)));
  size.rows = std::int32_t(WholeFrom(pair[1], "grid", std::int64_t(Parameters[Rows].low), std::int64_t(Parameters[Rows].high)));
  sweep::ParameterSet given;
  given.Set(Cols, size.cols);
  given.Set(Rows, size.rows);
  given.Set(sweep::ParameterIndex("agents"), 0);
  if (const auto broken = sweep::CheckRules(sweep::Resolve(given))) throw py::value_error("grid: " + broken->reason);
  const std::int64_t memory = sweep::PhysicalMemory();
  if (memory > 0 && size.Cells() * sweep::BytesPerCell > memory / 2) {
    throw py::value_error("grid: " + std::to_string(size.cols) + " x " + std::to_string(size.rows) + " needs about " +
                          std::to_string(size.Cells() * sweep::BytesPerCell >> 20) +
                          " MiB, more than half of this machine's memory");
  }
  return size;
}

std::string Worded(const sweep::RequestError& error) {
  return sweep::Printable(sweep::Word(error, [](Source source, const std::string& name, std::int64_t row, std::int64_t column) {
    switch (source) {
      case Source::Field:
        if (name == "from") return std::string("from_manifest");
        return name == "resume" || name == "force" ? name + "=True" : name;
      case Source::Parameter:
        return name;
      case Source::Set:
        return "set " + name;
      case Source::Design:
        break;
    }
    if (row < 0) return "column '" + name + "'";
    const std::string design = "design DataFrame";
    if (row > 0) {
      return design + ": row " + std::to_string(row) + " (line " + std::to_string(row + 1) + "), column '" + name + "'";
    }
    if (column > 0) return design + ": column " + std::to_string(column) + (name.empty() ? "" : " '" + name + "'");
    return name.empty() ? design : design + ": column '" + name + "'";
  }));
}

}  // namespace zelmora::python
