#pragma once

#include "batch/RunSeries.h"
#include "batch/Runner.h"
#include "render/ChartPictures.h"

namespace zelmora::batch {

// The pictures drawn by the window's own drawing code (render/): the grid as DrawingImage shows
// it, and the charts by our chart control. Needs a QApplication on the thread that runs the sweep.
class RenderPictures : public PictureMaker {
 public:
  // The market chart shows the whole run, or, with windowView, the window's chart after the last
  // step (the last sweep of 499 steps only).
  explicit RenderPictures(bool windowView = false) : windowView_(windowView) {}

  void SaveSnapshot(const World& world, const std::string& path) override;
  void SaveCharts(const RunResult& result, const std::string& marketPath,
                  const std::string& segregationPath) override;
  void SaveCharts(const RunCharts& charts, const std::string& marketPath, const std::string& segregationPath);

 private:
  bool windowView_;
  RunChartPictures runCharts_;
};

}  // namespace zelmora::batch
