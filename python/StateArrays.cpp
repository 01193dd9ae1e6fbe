#include "python/StateArrays.h"

#include <array>
#include <cstddef>
#include <type_traits>

namespace zelmora::python {
namespace {

template <class T>
py::array ReadOnly(const T* first, std::vector<py::ssize_t> shape, std::vector<py::ssize_t> strides,
                   py::handle base) {
  py::array array(py::dtype::of<T>(), std::move(shape), std::move(strides), first, base);
  py::detail::array_proxy(array.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return array;
}

// One field of every cell, [row, col]: the cells lie row after row, so a row of the array is a
// row of the grid. The cells live as long as the World, which the array's base keeps alive.
template <class T>
py::array CellView(const World& world, const T& firstCellsField, py::handle owner) {
  const py::ssize_t cols = world.grid.Cols();
  const py::ssize_t cell = sizeof(TCell);
  return ReadOnly(&firstCellsField, {world.grid.Rows(), cols}, {cols * cell, cell}, owner);
}

template <auto Field, class Owner>
void Cells(py::class_<Owner>& world, const char* name, const char* doc) {
  world.def_property_readonly(
      name,
      [](py::object self) {
        const World& model = self.cast<Owner&>().Model();
        return CellView(model, model.grid.Cells().front().*Field, self);
      },
      doc);
}

template <auto Field, class Owner>
void Agents(py::class_<Owner>& world, const char* name, const char* doc) {
  world.def_property_readonly(
      name,
      [](py::object self) {
        Owner& w = self.cast<Owner&>();
        const std::vector<TAgent>& agents = w.Model().Agents;
        // Without agents NumPy gives the empty array storage of its own.
        const auto* first = agents.empty() ? nullptr : &(agents.front().*Field);
        return ReadOnly(first, {py::ssize_t(agents.size())}, {py::ssize_t(sizeof(TAgent))},
                        w.AgentsBase(self));
      },
      doc);
}

template <auto Field, class Owner>
void MarketPositions(py::class_<Owner>& world, const char* name, const char* doc) {
  world.def_property_readonly(
      name,
      [](py::object self) {
        const World& model = self.cast<Owner&>().Model();
        return ReadOnly(&(model.Markets.front().*Field), {MarketCount},
                        {py::ssize_t(sizeof(MarketPosition))}, self);
      },
      doc);
}

// Ten values found on the market cells, copied.
template <auto Field, class Owner>
void MarketValues(py::class_<Owner>& world, const char* name, const char* doc) {
  world.def_property_readonly(
      name,
      [](const Owner& w) {
        const World& model = w.Model();
        using Values = std::array<std::remove_cvref_t<decltype(model.grid.Cells().front().*Field)>,
                                  MarketCount>;
        // Owned by a capsule, not by the array, so that it cannot be made writeable either.
        auto* values = new Values;
        const py::capsule owner(values, [](void* v) { delete static_cast<Values*>(v); });
        for (int m = 0; m < MarketCount; ++m) {
          (*values)[std::size_t(m)] =
              model.grid.At(model.Markets[m].col, model.Markets[m].row).*Field;
        }
        return ReadOnly(values->data(), {MarketCount}, {py::ssize_t(sizeof(values->front()))},
                        owner);
      },
      doc);
}

}  // namespace

template <class Owner>
void DefineStateArrays(py::class_<Owner>& world) {
  Cells<&TCell::occupied>(world, "occupied",
                          "Per cell [row, col], bool: an agent stands here. A live view.");
  Cells<&TCell::occupant>(
      world, "occupant",
      "Per cell [row, col], int32: index of the agent standing here (meaningful where\n"
      "occupied). A live view.");
  world.def_property_readonly(
      "colour",
      [](py::object self) {
        const World& model = self.cast<Owner&>().Model();
        return CellView(model, model.grid.Cells().front().State(), self);
      },
      "Per cell [row, col], int32: colour of the agent standing here, 0 black, 1 white\n"
      "(meaningful where occupied). A live view.");
  Cells<&TCell::sameNeighbours>(
      world, "same_neighbours",
      "Per cell [row, col], int32: occupied neighbours of the occupant's colour, as the last\n"
      "segregation phase counted them. A live view.");
  Cells<&TCell::otherNeighbours>(
      world, "other_neighbours",
      "Per cell [row, col], int32: occupied neighbours of the other colour, as the last\n"
      "segregation phase counted them. A live view.");
  Cells<&TCell::catchment>(
      world, "catchment",
      "Per cell [row, col], int32: the market 0..9 the cell buys from. A live view.");
  Cells<&TCell::localPrice>(
      world, "local_price",
      "Per cell [row, col], float64: cheapest delivered price, as the last price phase computed\n"
      "it. A live view.");
  Cells<&TCell::grey>(
      world, "grey",
      "Per cell [row, col], int32: grey level (180, or the price scape with price_scape on);\n"
      "pictures use its lowest byte. A live view.");
  Cells<&TCell::isMarket>(world, "is_market",
                          "Per cell [row, col], bool: a market stands here. A live view.");

  Agents<&TAgent::col>(
      world, "agent_col",
      "Per agent, int32: its column. A live view of the current agents; after setup() or\n"
      "place_agents() it keeps the old agents' last values.");
  Agents<&TAgent::row>(world, "agent_row", "Per agent, int32: its row. A live view, as agent_col.");
  Agents<&TAgent::colour>(world, "agent_colour",
                          "Per agent, int32: 0 black, 1 white. A live view, as agent_col.");
  Agents<&TAgent::satisfied>(
      world, "agent_satisfied",
      "Per agent, bool: satisfied at the last segregation phase (True after a setup). A live\n"
      "view, as agent_col.");

  MarketPositions<&MarketPosition::col>(world, "market_col",
                                        "Per market 0..9, int32: its column. A live view.");
  MarketPositions<&MarketPosition::row>(world, "market_row",
                                        "Per market 0..9, int32: its row. A live view.");
  MarketValues<&TCell::customers>(
      world, "market_customers",
      "Per market 0..9, int32: agents in its catchment (markets sharing a cell show the same\n"
      "count). A copy.");
  MarketValues<&TCell::unitCost>(
      world, "market_unit_cost",
      "Per market 0..9, float64: its unit cost (bid price) as the last step computed it (1\n"
      "before the first step). A copy.");

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
