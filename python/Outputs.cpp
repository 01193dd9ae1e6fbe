#include "python/Outputs.h"

#include <QImage>
#include <QString>

#include <cmath>

#include "render/GridPicture.h"

namespace zelmora::python {

using namespace pybind11::literals;

namespace {

QImage Draw(const World& world, bool showCatchment) {
  py::gil_scoped_release release;
  return DrawGridPicture(world, showCatchment);
}

}  // namespace

py::dict ColumnsDict(const sweep::RowSource& source, bool runColumns) {
  py::dict row;
  for (const sweep::Column& column : sweep::Columns()) {
    if (column.perRun && !runColumns) continue;
    const sweep::ColumnValue value = column.Read(source);
    switch (column.kind) {
      case sweep::ColumnKind::Integer: row[column.name.c_str()] = std::int64_t(value.integer); break;
      case sweep::ColumnKind::Unsigned: row[column.name.c_str()] = value.integer; break;
      case sweep::ColumnKind::IntegerOrEmpty:
        row[column.name.c_str()] =
            value.missing ? py::object(py::float_(std::nan(""))) : py::int_(std::int64_t(value.integer));
        break;
      case sweep::ColumnKind::Real: row[column.name.c_str()] = value.real; break;
      case sweep::ColumnKind::Text: row[column.name.c_str()] = py::str(value.text.data(), value.text.size()); break;
    }
  }
  return row;
}

py::dtype DtypeOf(sweep::ColumnKind kind) {
  switch (kind) {
    case sweep::ColumnKind::Integer:
    case sweep::ColumnKind::IntegerOrEmpty:
    case sweep::ColumnKind::Text: return py::dtype::of<std::int64_t>();  // a choice's place, named by TextArray
    case sweep::ColumnKind::Unsigned: return py::dtype::of<std::uint64_t>();
    case sweep::ColumnKind::Real: break;
  }
  return py::dtype::of<double>();
}

py::object TextArray(const sweep::Column& column, const py::array& places) {
  py::list names;
  for (const std::string_view name : sweep::Parameters[*column.parameter].choices) names.append(py::str(name.data(), name.size()));
  const py::module_ numpy = py::module_::import("numpy");
  return numpy.attr("array")(names, "dtype"_a = "object").attr("take")(places);
}

py::array_t<std::uint8_t> PictureArray(const World& world, bool showCatchment) {
  const QImage image = Draw(world, showCatchment);
  py::array_t<std::uint8_t> rgb(
      {py::ssize_t(image.height()), py::ssize_t(image.width()), py::ssize_t(3)});
  std::uint8_t* out = rgb.mutable_data();
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x, out += 3) {
      out[0] = std::uint8_t(qRed(line[x]));
      out[1] = std::uint8_t(qGreen(line[x]));
      out[2] = std::uint8_t(qBlue(line[x]));
    }
  }
  return rgb;
}

void SavePicture(const World& world, const std::string& path, bool showCatchment) {
  const QImage image = Draw(world, showCatchment);
  if (!image.save(QString::fromStdString(path), "PNG")) {
    PyErr_SetString(PyExc_OSError, ("cannot write the picture '" + path + "'").c_str());
    throw py::error_already_set();
  }
}

}  // namespace zelmora::python
