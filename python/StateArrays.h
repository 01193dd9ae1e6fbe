#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "python/PyWorld.h"
#include "python/RunView.h"

namespace zelmora::python {

// The World's state as read-only NumPy arrays, and its grid and counters, on a class whose objects
// give `const World& Model()` and `py::object AgentsBase(py::handle self)` (what keeps the agents
// an array shows alive). Cell and agent arrays are strided views of the model's own cells and
// agents: no copy, whatever the grid's size; their base keeps the memory alive. Writing to one
// raises ValueError. The per-market customers and unit costs, ten values found on the market
// cells, are copies.
template <class Owner>
void DefineStateArrays(py::class_<Owner>& world);

}  // namespace zelmora::python
