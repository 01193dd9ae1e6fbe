#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sweep/RunSeries.h"

namespace zelmora {
class World;
}

namespace zelmora::sweep {

// A grid picture as rows of 8-bit red, green and blue: a video's frame.
struct Frame {
  std::int32_t width = 0, height = 0;
  std::size_t stride = 0;            // bytes from one row to the next
  std::vector<std::uint8_t> pixels;  // kept from frame to frame
};

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
  // Called on a worker thread: the grid as SaveSnapshot draws it, into `frame`. False when this
  // maker draws no frames.
  virtual bool DrawFrame(const World& /*world*/, Frame& /*frame*/) { return false; }

 protected:
  // Puts a picture's bytes under `path` through a temporary beside it and a rename, so no torn
  // picture stands under its name and a link planted there is replaced, not followed.
  static void SavePicture(const std::string& path, std::string_view bytes);
};

}  // namespace zelmora::sweep
