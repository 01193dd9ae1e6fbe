#pragma once

#include <QColor>
#include <QRgb>

#include <cstdint>

namespace zelmora {

// A colour as the drawing code passes it around: red in the lowest byte,
// then green, then blue; the top byte is always 0. 255 is pure red and
// 32768 is (0, 128, 0).
using TColor = std::uint32_t;

// Each component is cut to its low 8 bits, so out-of-range values wrap
// rather than bleed into the neighbouring component.
constexpr TColor RGBColor(int r, int g, int b) {
  return static_cast<TColor>(r & 0xFF) | (static_cast<TColor>(g & 0xFF) << 8) |
         (static_cast<TColor>(b & 0xFF) << 16);
}

constexpr int RedOf(TColor c) { return static_cast<int>(c & 0xFF); }
constexpr int GreenOf(TColor c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int BlueOf(TColor c) { return static_cast<int>((c >> 16) & 0xFF); }

// Opaque QRgb (alpha 255), as stored in a Format_RGB32 image. The top byte
// of the TColor is ignored.
constexpr QRgb ToQRgb(TColor c) {
  return 0xFF000000u | (static_cast<QRgb>(RedOf(c)) << 16) |
         (static_cast<QRgb>(GreenOf(c)) << 8) | static_cast<QRgb>(BlueOf(c));
}

// Alpha is dropped.
constexpr TColor FromQRgb(QRgb q) {
  return RGBColor(static_cast<int>((q >> 16) & 0xFF),
                  static_cast<int>((q >> 8) & 0xFF), static_cast<int>(q & 0xFF));
}

inline QColor ToQColor(TColor c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

namespace colors {
constexpr TColor kBlack = RGBColor(0, 0, 0);
constexpr TColor kWhite = RGBColor(255, 255, 255);
constexpr TColor kRed = RGBColor(255, 0, 0);
constexpr TColor kGreen = RGBColor(0, 128, 0);
constexpr TColor kLime = RGBColor(0, 255, 0);
constexpr TColor kBlue = RGBColor(0, 0, 255);
}  // namespace colors

}  // namespace zelmora
