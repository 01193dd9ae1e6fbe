#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>

#include "sweep/Columns.h"
#include "simulation/Measures.h"
#include "simulation/World.h"

namespace zelmora::python {

namespace py = pybind11;

// A row of zelmora-batch's CSV as a dict keyed by its column names, in their order, from the table
// of columns: every column, or with `runColumns` false those of the step only (the source's run
// is then not read). What the CSV leaves empty is NaN, a whole number's too.
py::dict ColumnsDict(const sweep::RowSource& source, bool runColumns);

// The NumPy type of a column's kind: int64, uint64 or float64 (an IntegerOrEmpty's values are
// int64, beside a mask of the missing ones; a Text column's, each value's place among its names).
py::dtype DtypeOf(sweep::ColumnKind kind);

// A Text column's values as Python str (a NumPy object array), from their places.
py::object TextArray(const sweep::Column& column, const py::array& places);

// The grid as the window shows it, drawn by the shared drawing code: rows x cols x 3 RGB bytes at
// render's pixels per cell. A new array.
py::array_t<std::uint8_t> PictureArray(const World& world, bool showCatchment);

// The same picture as a PNG file; raises OSError naming the path when it cannot be written.
void SavePicture(const World& world, const std::string& path, bool showCatchment);

}  // namespace zelmora::python
