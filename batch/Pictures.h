#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "batch/RunSeries.h"

namespace zelmora {
class World;
}

namespace zelmora::batch {

// The pictures, drawn by the shared drawing code; the program supplies them, the tests and
// benchmarks may pass none.
class PictureMaker {
 public:
  virtual ~PictureMaker() = default;
  // Called on a worker thread with the run's World after the step. Throws IoError.
  virtual void SaveSnapshot(const World& world, const std::string& path) = 0;
  // Called on the thread that runs the sweep, once per complete run. Throws IoError.
  virtual void SaveCharts(const RunCharts& charts, const std::string& marketPath,
                          const std::string& segregationPath) = 0;

 protected:
  // Puts a picture's bytes under `path` through a temporary beside it and a rename, so no torn
  // picture stands under its name and a link planted there is replaced, not followed.
  static void SavePicture(const std::string& path, std::string_view bytes);
};

}  // namespace zelmora::batch
