#pragma once

#include <pybind11/pybind11.h>

namespace zelmora::python {

namespace py = pybind11;

// zelmora._core's summaries and plots of a sweep on disk, as zelmora-batch summary and plot make
// them: summary(path, by, at, measures) gives the summary's CSV text and what it read;
// plot_data(path, x, y, by, at) the lines a plot draws. Errors are ValueError in Python's words.
void DefineStudy(py::module_& module);

}  // namespace zelmora::python
