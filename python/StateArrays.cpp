#include "python/StateArrays.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "python/PyWorld.h"
#include "python/RunView.h"
#include "simulation/ModelMath.h"

namespace zelmora::python {
namespace {

// A read-only array of this shape to write, and where its values go: `reuse` where it is one
// of that dtype and shape, else a new one over values it holds alone. The memory is owned by a
// capsule, not by the array, so that it cannot be made writeable either.
template <class T>
struct Written {
  py::object array;
  T* values;
};

template <class T>
Written<T> ToWrite(py::object reuse, const std::vector<py::ssize_t>& shape) {
  if (reuse) {
    const py::array old = py::reinterpret_borrow<py::array>(reuse);
    if (old.dtype().is(py::dtype::of<T>()) &&
        std::equal(shape.begin(), shape.end(), old.shape(), old.shape() + old.ndim()) &&
        std::size_t(old.ndim()) == shape.size()) {
      return {std::move(reuse), static_cast<T*>(const_cast<void*>(old.data()))};
    }
  }
  std::size_t n = 1;
  for (const py::ssize_t extent : shape) n *= std::size_t(extent);
  T* values = new T[n];
  const py::capsule owner(values, [](void* v) { delete[] static_cast<T*>(v); });
  py::array array(py::dtype::of<T>(), shape, {}, values, owner);
  py::detail::array_proxy(array.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return {std::move(array), values};
}

std::vector<py::ssize_t> GridShape(const World& w) { return {w.grid.Rows(), w.grid.Cols()}; }

// One field of every cell, [row, col]: the cells lie row after row, so a row of the array is a
// row of the grid.
template <class T, class Field>
py::object CellField(const World& w, py::object reuse, Field field) {
  const TGrid::CellVector& cells = w.grid.Cells();
  const Written<T> out = ToWrite<T>(std::move(reuse), GridShape(w));
  for (std::size_t k = 0; k < cells.size(); ++k) out.values[k] = T(field(cells[k]));
  return out.array;
}

template <class T, class Field>
py::object AgentField(const World& w, py::object reuse, Field field) {
  const Written<T> out = ToWrite<T>(std::move(reuse), {py::ssize_t(w.Agents.size())});
  for (std::size_t i = 0; i < w.Agents.size(); ++i) out.values[i] = T(field(w.Agents[i]));
  return out.array;
}

template <class T, class Field>
py::object MarketField(const World& w, py::object reuse, Field field) {
  // One entry per market the World's structure has: the places beyond them name no market.
  const int markets = w.Shape().markets;
  const Written<T> out = ToWrite<T>(std::move(reuse), {py::ssize_t(markets)});
  for (int m = 0; m < markets; ++m) out.values[m] = T(field(w, m));
  return out.array;
}

const TCell& MarketCell(const World& w, int m) { return w.grid.At(w.Markets[m].col, w.Markets[m].row); }

// The cells' neighbour counts, same or other, from the World's packed copy where it has one;
// from the cell where a count is out of the packed range.
py::object CountsOfCells(const World& w, py::object reuse, bool same) {
  std::vector<std::uint8_t> scratch;
  const std::uint8_t* packed = w.PackedCounts(scratch);
  const TGrid::CellVector& cells = w.grid.Cells();
  const Written<std::int32_t> out = ToWrite<std::int32_t>(std::move(reuse), GridShape(w));
  for (std::size_t k = 0; k < cells.size(); ++k) {
    if (packed[k] != detail::UnknownCounts) {
      out.values[k] = same ? packed[k] & 15 : packed[k] >> 4;
    } else {
      out.values[k] = same ? cells[k].sameNeighbours : cells[k].otherNeighbours;
    }
  }
  return out.array;
}

// Per cell, the occupied neighbours of its agent's colour (like) or of the other (!like), as the
// occupancy stands, in the model's own neighbourhood (its radius, wrapped or cut at the edges);
// 0 for a free cell.
py::object NeighboursNow(const World& w, py::object reuse, bool like) {
  const std::int32_t cols = w.grid.Cols(), rows = w.grid.Rows();
  std::vector<std::uint8_t> scratch;
  const std::uint8_t* state = w.Occupancy(scratch);
  const Written<std::int32_t> out = ToWrite<std::int32_t>(std::move(reuse), GridShape(w));
  const std::size_t width = std::size_t(cols);
  for (std::int32_t row = 0; row < rows; ++row) {
    for (std::int32_t col = 0; col < cols; ++col) {
      const std::size_t k = std::size_t(row) * width + std::size_t(col);
      const std::uint8_t self = state[k];
      std::int32_t occupied = 0, same = 0;
      if (self != 0) {
        ForEachNeighbour(w.Shape(), cols, rows, col, row, [&](std::int32_t c, std::int32_t r) {
          const std::uint8_t n = state[std::size_t(r) * width + std::size_t(c)];
          occupied += n != 0;
          same += n == self;
        });
      }
      out.values[k] = like ? same : occupied - same;
    }
  }
  return out.array;
}

struct ArrayInfo {
  const char* name;
  py::object (*make)(const World&, py::object reuse);
  const char* doc;
};

// Every state array: its name, how it is made and what it holds, when written.
const ArrayInfo kArrays[] = {
    {"occupied",
     [](const World& w, py::object reuse) {
       std::vector<std::uint8_t> scratch;
       const std::uint8_t* state = w.Occupancy(scratch);
       const Written<bool> out = ToWrite<bool>(std::move(reuse), GridShape(w));
       for (std::size_t k = 0; k < w.grid.Cells().size(); ++k) out.values[k] = state[k] != 0;
       return out.array;
     },
     "Per cell [row, col], bool: an agent stands here. A copy of the state when read."},
    {"occupant", [](const World& w, py::object reuse) { return CellField<std::int32_t>(w, std::move(reuse), [](const TCell& c) { return c.occupant; }); },
     "Per cell [row, col], int32: index of the agent standing here (meaningful where occupied). A copy of the state when read."},
    {"colour", [](const World& w, py::object reuse) { return CellField<std::int32_t>(w, std::move(reuse), [](const TCell& c) { return c.State(); }); },
     "Per cell [row, col], int32: colour of the agent standing here, 0 black, 1 white\n"
     "(meaningful where occupied). A copy of the state when read."},
    {"same_neighbours",
     [](const World& w, py::object reuse) { return CountsOfCells(w, std::move(reuse), true); },
     "Per cell [row, col], int32: occupied neighbours of the occupant's colour as the last\n"
     "segregation phase counted them, before look for centers moved agents; same_neighbours_now\n"
     "counts them where the agents stand now. A copy of the state when read."},
    {"other_neighbours",
     [](const World& w, py::object reuse) { return CountsOfCells(w, std::move(reuse), false); },
     "Per cell [row, col], int32: occupied neighbours of the other colour as the last\n"
     "segregation phase counted them; other_neighbours_now counts them now. A copy of the state when read."},
    {"same_neighbours_now", [](const World& w, py::object reuse) { return NeighboursNow(w, std::move(reuse), true); },
     "Per cell [row, col], int32: occupied neighbours of the occupant's colour where the agents\n"
     "stand now, counted when read (0 for a free cell). A copy of the state when read."},
    {"other_neighbours_now", [](const World& w, py::object reuse) { return NeighboursNow(w, std::move(reuse), false); },
     "Per cell [row, col], int32: occupied neighbours of the other colour where the agents\n"
     "stand now, counted when read (0 for a free cell). A copy of the state when read."},
    {"catchment", [](const World& w, py::object reuse) { return CellField<std::int32_t>(w, std::move(reuse), [](const TCell& c) { return c.catchment; }); },
     "Per cell [row, col], int32: the market 0..9 the cell buys from, as the last price phase\n"
     "(or setup) chose it. A copy of the state when read."},
    {"local_price",
     [](const World& w, py::object reuse) {
       std::vector<double> scratch;
       const double* prices = w.LocalPrices(scratch);
       const Written<double> out = ToWrite<double>(std::move(reuse), GridShape(w));
       std::memcpy(out.values, prices, w.grid.Cells().size() * sizeof(double));
       return out.array;
     },
     "Per cell [row, col], float64: cheapest delivered price, as the last price phase computed\n"
     "it (0 before the first step). A copy of the state when read."},
    {"grey", [](const World& w, py::object reuse) { return CellField<std::int32_t>(w, std::move(reuse), [](const TCell& c) { return c.grey; }); },
     "Per cell [row, col], int32: grey level (180, or the price scape of the last step with\n"
     "price_scape on); pictures use its lowest byte. A copy of the state when read."},
    {"is_market", [](const World& w, py::object reuse) { return CellField<bool>(w, std::move(reuse), [](const TCell& c) { return c.isMarket; }); },
     "Per cell [row, col], bool: a market stands here. A copy of the state when read."},
    {"agent_col", [](const World& w, py::object reuse) { return AgentField<std::int32_t>(w, std::move(reuse), [](const TAgent& a) { return a.col; }); },
     "Per agent, int32: its column. A copy of the state when read."},
    {"agent_row", [](const World& w, py::object reuse) { return AgentField<std::int32_t>(w, std::move(reuse), [](const TAgent& a) { return a.row; }); },
     "Per agent, int32: its row. A copy of the state when read."},
    {"agent_colour", [](const World& w, py::object reuse) { return AgentField<std::int32_t>(w, std::move(reuse), [](const TAgent& a) { return a.colour; }); },
     "Per agent, int32: 0 black, 1 white. A copy of the state when read."},
    {"agent_satisfied",
     [](const World& w, py::object reuse) { return AgentField<bool>(w, std::move(reuse), [](const TAgent& a) { return a.satisfied; }); },
     "Per agent, bool: satisfied at the last segregation phase (True after a setup). A copy of the state when read."},
    {"market_col",
     [](const World& w, py::object reuse) { return MarketField<std::int32_t>(w, std::move(reuse), [](const World& v, int m) { return v.Markets[m].col; }); },
     "Per market 0..markets-1, int32: its column. A copy of the state when read."},
    {"market_row",
     [](const World& w, py::object reuse) { return MarketField<std::int32_t>(w, std::move(reuse), [](const World& v, int m) { return v.Markets[m].row; }); },
     "Per market 0..markets-1, int32: its row. A copy of the state when read."},
    {"market_customers",
     [](const World& w, py::object reuse) {
       return MarketField<std::int32_t>(w, std::move(reuse), [](const World& v, int m) { return MarketCell(v, m).customers; });
     },
     "Per market 0..markets-1, int32: agents in its catchment (markets sharing a cell show the same\n"
     "count). A copy of the state when read."},
    {"market_unit_cost",
     [](const World& w, py::object reuse) {
       return MarketField<double>(w, std::move(reuse), [](const World& v, int m) { return MarketCell(v, m).unitCost; });
     },
     "Per market 0..markets-1, float64: its unit cost (bid price) as the last step computed it (1\n"
     "before the first step). A copy of the state when read."},
};

}  // namespace

template <class Owner>
void DefineStateArrays(py::class_<Owner>& world) {
  for (std::size_t k = 0; k < std::size(kArrays); ++k) {
    world.def_property_readonly(
        kArrays[k].name,
        [k](py::object self) {
          const Owner& owner = self.cast<const Owner&>();
          return owner.Arrays().Get(k, owner.StateVersion(),
                                    [&](py::object reuse) { return kArrays[k].make(owner.Model(), std::move(reuse)); });
        },
        kArrays[k].doc);
  }

  world.def_property_readonly(
      "grid", [](const Owner& w) { return py::make_tuple(w.Model().grid.Cols(), w.Model().grid.Rows()); },
      "(cols, rows), fixed when the World is made. State arrays are [row, col].");
  world.def_property_readonly(
      "step_count", [](const Owner& w) { return w.Model().StepCount; }, "Steps since the last setup.");
  world.def_property_readonly(
      "agent_count", [](const Owner& w) { return w.Model().Agents.size(); },
      "Agents standing on the grid now (the agents parameter acts at the next setup).");
  world.def_property_readonly(
      "moved_count", [](const Owner& w) { return w.Model().MovedCount; },
      "Agents that were unsatisfied when the last relocation began, moved or not.");
  world.def_property_readonly(
      "satisfied_count", [](const Owner& w) { return w.Model().SatisfiedCount; },
      "Agents that were satisfied when the last relocation began.");
  world.def_property_readonly(
      "candidates_drawn", [](const Owner& w) { return w.Model().CandidatesDrawn; },
      "Candidate cells the relocation phases have drawn, since the World was made.");
}

template void DefineStateArrays(py::class_<PyWorld>& world);
template void DefineStateArrays(py::class_<RunView>& world);

}  // namespace zelmora::python
