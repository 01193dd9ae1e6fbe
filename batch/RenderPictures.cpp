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

// The run's samples as the runner keeps them, into the bounded series the charts are drawn from.
void RenderPictures::SaveCharts(const RunResult& result, const std::string& marketPath,
                                const std::string& segregationPath) {
  RunCharts charts(windowView_);
  for (std::size_t k = 0; k < result.market.size(); ++k) {
    charts.Add(std::int32_t(k + 1), MarketSample{result.market[k].customers, result.market[k].bidPrice});
  }
  for (const SegregationPoint& p : result.segregation) {
    charts.Add(SegregationSample{p.step, p.percentSimilar, p.meanClusterSize, p.unsatisfiedShare});
  }
  SaveCharts(charts, marketPath, segregationPath);
}

void RenderPictures::SaveCharts(const RunCharts& charts, const std::string& marketPath,
                                const std::string& segregationPath) {
  const RunSeries& market = charts.Market();
  if (charts.WindowView()) {
    Save(DrawWindowChart(charts.Window().Points()), marketPath);
  } else {
    Save(DrawMarketRunChart(market.Line(0), market.Line(1), double(market.FirstStep()), double(market.LastStep())),
         marketPath);
  }
  const RunSeries& s = charts.Segregation();
  Save(DrawSegregationRunChart(s.Line(0), s.Line(1), s.Line(2), double(s.FirstStep()), double(s.LastStep())),
       segregationPath);
}

}  // namespace zelmora::batch
