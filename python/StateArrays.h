#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "python/PyWorld.h"

namespace zelmora::python {

// The World's state as read-only NumPy arrays. Cell and agent arrays are strided views of the
// model's own cells and agents: no copy, whatever the grid's size. Writing to one raises
// ValueError. The per-market customers and unit costs, ten values found on the market cells, are
// copies.
void DefineStateArrays(py::class_<PyWorld>& world);

}  // namespace zelmora::python
