#include "batch/RenderPictures.h"

#include <QImage>
#include <QString>

#include "render/ChartPictures.h"
#include "render/GridPicture.h"
#include "simulation/World.h"

namespace zelmora::batch {
namespace {

void Save(const QImage& image, const std::string& path) {
  if (!image.save(QString::fromStdString(path), "PNG")) throw IoError(path, "the picture cannot be written");
}

}  // namespace

void RenderPictures::SaveSnapshot(const World& world, const std::string& path) {
  // Catchment areas shown, as the window starts.
  Save(DrawGridPicture(world, true), path);
}

void RenderPictures::SaveCharts(const RunResult& result, const std::string& marketPath,
                                const std::string& segregationPath) {
  std::vector<MarketSample> market;
  market.reserve(result.market.size());
  for (const MarketPoint& p : result.market) market.push_back({p.customers, p.bidPrice});
  Save(DrawMarketChart(market), marketPath);
  std::vector<SegregationSample> segregation;
  segregation.reserve(result.segregation.size());
  for (const SegregationPoint& p : result.segregation) {
    segregation.push_back({p.step, p.percentSimilar, p.meanClusterSize, p.unsatisfiedShare});
  }
  Save(DrawSegregationChart(segregation), segregationPath);
}

}  // namespace zelmora::batch
