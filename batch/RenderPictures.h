#pragma once

#include "sweep/Pictures.h"
#include "render/ChartPictures.h"

namespace zelmora::batch {

using sweep::Frame;
using sweep::PictureMaker;
using sweep::RunCharts;

// The pictures drawn by the window's own drawing code (render/): the grid as DrawingImage shows
// it, and the charts by our chart control. Needs a QApplication on the thread that runs the sweep.
class RenderPictures : public PictureMaker {
 public:
  void SaveSnapshot(const World& world, const std::string& path) override;
  void SaveCharts(const RunCharts& charts, const std::string& marketPath,
                  const std::string& segregationPath) override;
  bool DrawFrame(const World& world, Frame& frame) override;

 private:
  // Through SavePicture: a temporary beside the file, then a rename.
  void Save(const QImage& image, const std::string& path);

  RunChartPictures runCharts_;
};

}  // namespace zelmora::batch
