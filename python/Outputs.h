#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>

#include "simulation/Measures.h"
#include "simulation/World.h"

namespace zelmora::python {

namespace py = pybind11;

// The measures zelmora-batch records after a step, keyed by the names of its CSV columns, in their
// order: step, satisfied, ..., mean_cluster_size. What the CSV leaves empty is NaN.
py::dict MeasuresDict(const World& world, const StepMeasures& measures);

// The grid as the window shows it, drawn by the shared drawing code: rows x cols x 3 RGB bytes at
// render's pixels per cell. A new array.
py::array_t<std::uint8_t> PictureArray(const World& world, bool showCatchment);

// The same picture as a PNG file; raises OSError naming the path when it cannot be written.
void SavePicture(const World& world, const std::string& path, bool showCatchment);

}  // namespace zelmora::python
