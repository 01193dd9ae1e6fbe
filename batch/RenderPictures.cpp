#include "batch/RenderPictures.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include "batch/Output.h"
#include "render/ChartPictures.h"
#include "render/GridPicture.h"
#include "simulation/World.h"

namespace zelmora::batch {
namespace {

// The PNG's bytes, then SavePicture puts them under the name whole.
std::string Png(const QImage& image, const std::string& path) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) throw IoError(path, "the picture cannot be encoded");
  return bytes.toStdString();
}

}  // namespace

void RenderPictures::SaveSnapshot(const World& world, const std::string& path) {
  // Catchment areas shown, as the window starts.
  SavePicture(path, Png(DrawGridPicture(world, true), path));
}

void RenderPictures::SaveCharts(const ChartSamples& samples, const std::string& marketPath,
                                const std::string& segregationPath) {
  SavePicture(marketPath, Png(DrawMarketChart(samples.market), marketPath));
  SavePicture(segregationPath, Png(DrawSegregationChart(samples.segregation), segregationPath));
}

}  // namespace zelmora::batch
