#pragma once

#include <memory>

#include "sweep/Pictures.h"

namespace zelmora::python {

// The pictures of a sweep with out=, drawn as zelmora-batch draws them (render/'s RenderPictures):
// the grid's on the workers, the charts by a chart control on the module's own Qt thread, which
// owns a QApplication on the platform that needs no display. Made on any thread.
std::unique_ptr<sweep::PictureMaker> MakeSweepPictures();

}  // namespace zelmora::python
