#pragma once

#include <pybind11/pybind11.h>

#include "sweep/Request.h"

namespace zelmora::python {

namespace py = pybind11;

// The request of zelmora.sweep's keyword arguments, built directly: the one place where a keyword
// meets the request. A model parameter is a keyword by its table name; `grid` (cols, rows) gives
// both of the grid's; `set` values are a list, tuple, range (kept as a range: never listed) or
// array, one value, or the command line's own text ("1:7:1"); `design` is a list of (name,
// array) columns. Types are checked here (TypeError naming the keyword); values are the request's
// to check (Validate), whose errors Worded turns into Python's words. A keyword whose value is None
// is left out.
sweep::Request RequestFrom(const py::dict& keywords);

}  // namespace zelmora::python
