#pragma once

#include "sweep/Pictures.h"
#include "render/ChartPictures.h"

namespace zelmora {

// The pictures drawn by the window's own drawing code (render/): the grid as DrawingImage shows
// it, and the charts by our chart control. The grid's pictures may be drawn on any thread; the
// charts need a QApplication, on the thread that made this and calls SaveCharts.
class RenderPictures : public sweep::PictureMaker {
 public:
  void SaveSnapshot(const World& world, const std::string& path) override;
  void SaveCharts(const sweep::RunCharts& charts, const std::string& marketPath,
                  const std::string& segregationPath) override;
  bool DrawFrame(const World& world, sweep::Frame& frame) override;

 private:
  // Through SavePicture: a temporary beside the file, then a rename.
  void Save(const QImage& image, const std::string& path);

  RunChartPictures runCharts_;
};

}  // namespace zelmora
