#include "python/Outputs.h"

#include <QImage>
#include <QString>
#include <limits>

#include "batch/Record.h"
#include "render/GridPicture.h"

namespace zelmora::python {
namespace {

QImage Draw(const World& world, bool showCatchment) {
  py::gil_scoped_release release;
  return DrawGridPicture(world, showCatchment);
}

}  // namespace

py::dict MeasuresDict(const World& world, const StepMeasures& measures) {
  constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
  // Before the first step no price is computed: the CSV leaves costs and prices empty.
  const bool priced = world.StepCount > 0;
  const auto market = [&](int m) -> const TCell& {
    return world.grid.At(world.Markets[m].col, world.Markets[m].row);
  };
  py::dict row;
  row["step"] = world.StepCount;
  row["satisfied"] = measures.satisfied;
  row["unsatisfied"] = measures.unsatisfied;
  row["moved"] = world.MovedCount;
  row["yellow_customers"] = market(batch::YellowMarket).customers;
  row["yellow_bid_price"] = priced ? market(batch::YellowMarket).unitCost : NaN;
  for (int m = 0; m < MarketCount; ++m) {
    const std::string prefix = "market" + std::to_string(m);
    row[py::str(prefix + "_customers")] = market(m).customers;
    row[py::str(prefix + "_unit_cost")] = priced ? market(m).unitCost : NaN;
  }
  row["mean_local_price"] = priced ? measures.meanLocalPrice : NaN;
  row["herfindahl"] = measures.herfindahl;
  row["percent_similar"] = measures.percentSimilar;
  row["cluster_count"] = measures.clusterCount;
  row["mean_cluster_size"] = measures.meanClusterSize;
  return row;
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
