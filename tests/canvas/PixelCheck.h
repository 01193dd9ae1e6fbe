#pragma once

#include "Canvas.h"

#include <functional>
#include <sstream>
#include <string>

namespace zelmora::testing_support {

// Compares every pixel of the canvas with expected(x, y); returns a short
// description of the first mismatches, or "" when all match.
inline std::string Mismatches(const Canvas& canvas,
                              const std::function<TColor(int, int)>& expected) {
  std::ostringstream out;
  int count = 0;
  for (int y = 0; y < canvas.Height(); ++y) {
    for (int x = 0; x < canvas.Width(); ++x) {
      const TColor want = expected(x, y);
      const TColor got = canvas.Pixel(x, y);
      if (want != got) {
        if (count < 8) out << "(" << x << "," << y << ") got " << got << " want " << want << "; ";
        ++count;
      }
    }
  }
  if (count > 0) out << count << " pixel(s) differ";
  return out.str();
}

// Fills the whole canvas with one colour without using the drawing code
// under test.
inline void Clear(Canvas& canvas, TColor color) { canvas.Image().fill(ToQRgb(color)); }

}  // namespace zelmora::testing_support
