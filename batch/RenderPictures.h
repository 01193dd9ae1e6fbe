#pragma once

#include "batch/Pictures.h"

namespace zelmora::batch {

// The pictures drawn by the window's own drawing code (render/): the grid as DrawingImage shows
// it, and the charts by our chart control. Needs a QApplication on the thread that runs the sweep.
class RenderPictures : public PictureMaker {
 public:
  void SaveSnapshot(const World& world, const std::string& path) override;
  void SaveCharts(const ChartSamples& samples, const std::string& marketPath,
                  const std::string& segregationPath) override;
};

}  // namespace zelmora::batch
