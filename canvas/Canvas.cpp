#include "Canvas.h"

#include <QFontMetrics>
#include <QLineF>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

namespace zelmora {

namespace {

using i64 = std::int64_t;
using u64 = std::uint64_t;
// Line clipping and ellipse rows multiply two coordinate-sized numbers of up
// to 33 bits each, which does not fit 64 bits.
__extension__ using i128 = __int128;
__extension__ using u128 = unsigned __int128;

// Ellipses up to this size keep their per-row runs between calls.
constexpr i64 kCachedEllipseMax = 4096;

QRgb* PixelsOf(QImage& image, i64& stride) {
  stride = image.bytesPerLine() / static_cast<i64>(sizeof(QRgb));
  return reinterpret_cast<QRgb*>(image.bits());
}

// Fills the inclusive rectangle [x0, x1] x [y0, y1], clipped to the image.
void FillRect(QImage& image, i64 x0, i64 y0, i64 x1, i64 y1, QRgb color) {
  x0 = std::max<i64>(x0, 0);
  y0 = std::max<i64>(y0, 0);
  x1 = std::min<i64>(x1, image.width() - 1);
  y1 = std::min<i64>(y1, image.height() - 1);
  if (x0 > x1 || y0 > y1) return;
  i64 stride = 0;
  QRgb* row = PixelsOf(image, stride) + y0 * stride + x0;
  const i64 count = x1 - x0 + 1;
  for (i64 y = y0; y <= y1; ++y, row += stride) std::fill_n(row, count, color);
}

u64 ISqrt(u64 q) {
  u64 r = static_cast<u64>(std::sqrt(static_cast<long double>(q)));
  while (r > 0 && static_cast<u128>(r) * r > q) --r;
  while (static_cast<u128>(r + 1) * (r + 1) <= q) ++r;
  return r;
}

// The run of pixel columns [first, last] that row j of a w x h ellipse box
// covers (see Canvas::Ellipse); first > last when empty.
void EllipseRun(i64 w, i64 h, i64 j, i64& first, i64& last) {
  first = 0;
  last = -1;
  if (w <= 0 || h <= 0 || j < 0 || j >= h) return;
  const i64 dy = 2 * j + 1 - h;
  const u64 ady = static_cast<u64>(dy < 0 ? -dy : dy);
  const u128 h2 = static_cast<u128>(h) * static_cast<u128>(h);
  const u128 room = h2 - static_cast<u128>(ady) * ady;
  const u128 w2 = static_cast<u128>(w) * static_cast<u128>(w);
  // Largest dx = 2i+1-w with dx^2 * h^2 <= w^2 * room.
  i64 dx = static_cast<i64>(ISqrt(static_cast<u64>(w2 * room / h2)));
  if (((dx + w + 1) & 1) != 0) --dx;  // dx has the parity of w+1
  if (dx < 0) return;
  first = (w - 1 - dx) / 2;
  last = (w - 1 + dx) / 2;
}

// The inner run for an outline of the given inset: the same rule on the box
// shrunk by inset on each side, in the outer box's columns.
void InnerRun(i64 w, i64 h, i64 inset, i64 j, i64& first, i64& last) {
  EllipseRun(w - 2 * inset, h - 2 * inset, j - inset, first, last);
  first += inset;
  last += inset;
}

// On/off masks by step, bit k set means step k is drawn.
struct DashPattern {
  std::uint32_t mask;
  int length;
};

DashPattern PatternOf(PenStyle style) {
  switch (style) {
    case PenStyle::Dash: return {0x3F, 8};
    case PenStyle::Dot: return {0x3, 4};
    case PenStyle::DashDot: return {0x33F, 12};
    case PenStyle::DashDotDot: return {0x333F, 16};
    case PenStyle::Solid:
    case PenStyle::Clear: break;
  }
  return {0xFFFFFFFFu, 32};
}

}  // namespace

Canvas::Canvas() : Canvas(0, 0) {}

Canvas::Canvas(int width, int height)
    : image_(std::max(width, 0), std::max(height, 0), QImage::Format_RGB32),
      width_(std::max(width, 0)),
      height_(std::max(height, 0)) {
  image_.fill(ToQRgb(colors::kWhite));
}

void Canvas::Resize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == width_ && height == height_) return;
  QImage resized(width, height, QImage::Format_RGB32);
  resized.fill(ToQRgb(colors::kWhite));
  // An image with no columns has no rows either, whatever height_ says.
  const int keep_w = std::min(width, image_.width());
  const int keep_h = keep_w > 0 ? std::min(height, image_.height()) : 0;
  for (int y = 0; y < keep_h; ++y) {
    std::memcpy(resized.scanLine(y), image_.constScanLine(y),
                static_cast<std::size_t>(keep_w) * sizeof(QRgb));
  }
  image_ = std::move(resized);
  width_ = width;
  height_ = height;
}

int Canvas::Width() const { return width_; }
int Canvas::Height() const { return height_; }
const QImage& Canvas::Image() const { return image_; }
QImage& Canvas::Image() { return image_; }

void Canvas::SetPenColor(TColor color) { pen_color_ = color; }
TColor Canvas::PenColor() const { return pen_color_; }
void Canvas::SetPenWidth(int width) { pen_width_ = width; }
int Canvas::PenWidth() const { return pen_width_; }
void Canvas::SetPenStyle(PenStyle style) { pen_style_ = style; }
PenStyle Canvas::GetPenStyle() const { return pen_style_; }
void Canvas::SetBrushColor(TColor color) { brush_color_ = color; }
TColor Canvas::BrushColor() const { return brush_color_; }
void Canvas::SetBrushStyle(BrushStyle style) { brush_style_ = style; }
BrushStyle Canvas::GetBrushStyle() const { return brush_style_; }
void Canvas::SetFont(const QFont& font) { font_ = font; }
const QFont& Canvas::Font() const { return font_; }
void Canvas::SetFontColor(TColor color) { font_color_ = color; }
TColor Canvas::FontColor() const { return font_color_; }

void Canvas::Rectangle(int left, int top, int right, int bottom) {
  i64 l = left, t = top, r = right, b = bottom;
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  if (l == r || t == b || image_.isNull()) return;
  const bool brush_on = brush_style_ == BrushStyle::Solid;
  const QRgb brush = ToQRgb(brush_color_);
  if (pen_style_ == PenStyle::Clear) {
    if (brush_on) FillRect(image_, l, t, r - 1, b - 1, brush);
    return;
  }
  const QRgb pen = ToQRgb(pen_color_);
  const i64 w = std::max(pen_width_, 1);
  const i64 out = (w - 1) / 2;
  const i64 in = w / 2 + 1;
  const i64 ox0 = l - out, oy0 = t - out, ox1 = r - 1 + out, oy1 = b - 1 + out;
  const i64 ix0 = l + in, iy0 = t + in, ix1 = r - 1 - in, iy1 = b - 1 - in;
  if (ix0 > ix1 || iy0 > iy1) {
    FillRect(image_, ox0, oy0, ox1, oy1, pen);
    return;
  }

  // One pass over the rows; every column range is clipped once up front.
  const i64 max_x = image_.width() - 1;
  const i64 y0 = std::max<i64>(oy0, 0);
  const i64 y1 = std::min<i64>(oy1, image_.height() - 1);
  const i64 cx0 = std::max<i64>(ox0, 0), cx1 = std::min<i64>(ox1, max_x);
  if (y0 > y1 || cx0 > cx1) return;
  const i64 left_end = std::min<i64>(ix0 - 1, max_x);   // pen cx0..left_end
  const i64 fill_x0 = std::max<i64>(ix0, 0);
  const i64 fill_x1 = std::min<i64>(ix1, max_x);
  const i64 right_x0 = std::max<i64>(ix1 + 1, 0);        // pen right_x0..cx1
  i64 stride = 0;
  QRgb* row = PixelsOf(image_, stride) + y0 * stride;
  for (i64 y = y0; y <= y1; ++y, row += stride) {
    if (y < iy0 || y > iy1) {
      std::fill_n(row + cx0, cx1 - cx0 + 1, pen);
      continue;
    }
    if (cx0 <= left_end) std::fill_n(row + cx0, left_end - cx0 + 1, pen);
    if (brush_on && fill_x0 <= fill_x1) std::fill_n(row + fill_x0, fill_x1 - fill_x0 + 1, brush);
    if (right_x0 <= cx1) std::fill_n(row + right_x0, cx1 - right_x0 + 1, pen);
  }
}

void Canvas::Ellipse(int left, int top, int right, int bottom) {
  i64 l = left, t = top, r = right, b = bottom;
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  const i64 w = r - l, h = b - t;
  const bool pen_on = pen_style_ != PenStyle::Clear;
  const bool brush_on = brush_style_ == BrushStyle::Solid;
  if (w == 0 || h == 0 || image_.isNull() || (!pen_on && !brush_on)) return;
  const i64 inset = pen_on ? std::max(pen_width_, 1) : 0;

  const i64 j0 = std::max<i64>(0, -t);
  const i64 j1 = std::min<i64>(h - 1, image_.height() - 1 - t);
  if (j0 > j1) return;

  const bool cached = w <= kCachedEllipseMax && h <= kCachedEllipseMax;
  if (cached && (ellipse_rows_.width != w || ellipse_rows_.height != h ||
                 ellipse_rows_.inset != inset)) {
    ellipse_rows_.width = static_cast<int>(w);
    ellipse_rows_.height = static_cast<int>(h);
    ellipse_rows_.inset = static_cast<int>(inset);
    ellipse_rows_.runs.resize(static_cast<std::size_t>(4 * h));
    for (i64 j = 0; j < h; ++j) {
      i64 of, ol, inf, inl;
      EllipseRun(w, h, j, of, ol);
      InnerRun(w, h, inset, j, inf, inl);
      int* run = &ellipse_rows_.runs[static_cast<std::size_t>(4 * j)];
      run[0] = static_cast<int>(of);
      run[1] = static_cast<int>(ol);
      run[2] = static_cast<int>(inf);
      run[3] = static_cast<int>(inl);
    }
  }

  const QRgb pen = ToQRgb(pen_color_);
  const QRgb brush = ToQRgb(brush_color_);
  const i64 max_x = image_.width() - 1;
  i64 stride = 0;
  QRgb* pixels = PixelsOf(image_, stride);
  auto fill = [&](QRgb* row, i64 x0, i64 x1, QRgb color) {
    x0 = std::max<i64>(x0, 0);
    x1 = std::min<i64>(x1, max_x);
    if (x0 <= x1) std::fill_n(row + x0, x1 - x0 + 1, color);
  };

  for (i64 j = j0; j <= j1; ++j) {
    i64 of, ol, inf, inl;
    if (cached) {
      const int* run = &ellipse_rows_.runs[static_cast<std::size_t>(4 * j)];
      of = run[0];
      ol = run[1];
      inf = run[2];
      inl = run[3];
    } else {
      EllipseRun(w, h, j, of, ol);
      InnerRun(w, h, inset, j, inf, inl);
    }
    if (of > ol) continue;
    QRgb* row = pixels + (t + j) * stride;
    if (!pen_on) {
      fill(row, l + of, l + ol, brush);
    } else if (inf > inl) {
      fill(row, l + of, l + ol, pen);
    } else {
      fill(row, l + of, l + inf - 1, pen);
      if (brush_on) fill(row, l + inf, l + inl, brush);
      fill(row, l + inl + 1, l + ol, pen);
    }
  }
}

void Canvas::MoveTo(int x, int y) { pen_pos_ = QPoint(x, y); }

QPoint Canvas::PenPos() const { return pen_pos_; }

void Canvas::LineTo(int x, int y) {
  const int x0 = pen_pos_.x(), y0 = pen_pos_.y();
  pen_pos_ = QPoint(x, y);
  if (pen_style_ == PenStyle::Clear || (x0 == x && y0 == y) || image_.isNull()) return;
  if (pen_width_ > 1) {
    DrawWideLine(x0, y0, x, y);
    return;
  }

  const i64 dx = std::abs(static_cast<i64>(x) - x0);
  const i64 dy = std::abs(static_cast<i64>(y) - y0);
  const i64 sx = x > x0 ? 1 : -1;
  const i64 sy = y > y0 ? 1 : (y < y0 ? -1 : 0);
  const bool x_major = dx >= dy;
  const i64 dmaj = x_major ? dx : dy;
  const i64 dmin = x_major ? dy : dx;
  const i64 maj0 = x_major ? x0 : y0;
  const i64 min0 = x_major ? y0 : x0;
  const i64 smaj = x_major ? sx : sy;
  const i64 smin = x_major ? sy : (dx == 0 ? 0 : sx);
  const i64 maj_size = x_major ? image_.width() : image_.height();
  const i64 min_size = x_major ? image_.height() : image_.width();

  // Steps k whose major coordinate is on the image.
  i64 k_lo = 0, k_hi = dmaj - 1;
  if (smaj > 0) {
    k_lo = std::max(k_lo, -maj0);
    k_hi = std::min(k_hi, maj_size - 1 - maj0);
  } else {
    k_lo = std::max(k_lo, maj0 - (maj_size - 1));
    k_hi = std::min(k_hi, maj0);
  }
  if (k_lo > k_hi) return;

  // Minor offsets m(k) = floor((2k*dmin + dmaj) / (2*dmaj)) on the image; m
  // never decreases with k, so this narrows [k_lo, k_hi] to one range.
  const i64 m_lo = smin >= 0 ? -min0 : min0 - (min_size - 1);
  const i64 m_hi = smin >= 0 ? min_size - 1 - min0 : min0;
  if (dmin == 0) {
    if (m_lo > 0 || m_hi < 0) return;
  } else {
    if (m_hi < 0) return;
    const i128 two_min = 2 * static_cast<i128>(dmin);
    if (m_lo > 0) {
      const i128 num = (2 * static_cast<i128>(m_lo) - 1) * dmaj;
      k_lo = std::max<i64>(k_lo, static_cast<i64>((num + two_min - 1) / two_min));
    }
    const i128 num = (2 * static_cast<i128>(m_hi) + 1) * dmaj;
    const i128 first_past = (num + two_min - 1) / two_min;
    k_hi = static_cast<i64>(std::min<i128>(k_hi, first_past - 1));
  }
  if (k_lo > k_hi) return;

  const i128 start = 2 * static_cast<i128>(k_lo) * dmin + dmaj;
  const i64 two_maj = 2 * dmaj;
  const i64 m = static_cast<i64>(start / two_maj);
  i64 rem = static_cast<i64>(start % two_maj);
  const i64 two_min = 2 * dmin;

  i64 stride = 0;
  QRgb* p = PixelsOf(image_, stride);
  const i64 px = x_major ? maj0 + smaj * k_lo : min0 + smin * m;
  const i64 py = x_major ? min0 + smin * m : maj0 + smaj * k_lo;
  p += py * stride + px;
  const i64 maj_step = x_major ? smaj : smaj * stride;
  const i64 min_step = x_major ? smin * stride : smin;
  const QRgb color = ToQRgb(pen_color_);

  if (pen_style_ == PenStyle::Solid) {
    for (i64 k = k_lo; k <= k_hi; ++k) {
      *p = color;
      p += maj_step;
      rem += two_min;
      if (rem >= two_maj) {
        rem -= two_maj;
        p += min_step;
      }
    }
  } else {
    const DashPattern pattern = PatternOf(pen_style_);
    int phase = static_cast<int>(k_lo % pattern.length);
    for (i64 k = k_lo; k <= k_hi; ++k) {
      if ((pattern.mask >> phase) & 1u) *p = color;
      if (++phase == pattern.length) phase = 0;
      p += maj_step;
      rem += two_min;
      if (rem >= two_maj) {
        rem -= two_maj;
        p += min_step;
      }
    }
  }
}

void Canvas::DrawWideLine(int x0, int y0, int x1, int y1) {
  QPainter painter(&image_);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(QPen(ToQColor(pen_color_), pen_width_, Qt::SolidLine, Qt::FlatCap,
                      Qt::MiterJoin));
  painter.drawLine(QLineF(x0, y0, x1, y1));
}

void Canvas::SetPixel(int x, int y, TColor color) {
  if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return;
  reinterpret_cast<QRgb*>(image_.scanLine(y))[x] = ToQRgb(color);
}

TColor Canvas::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return 0;
  return FromQRgb(reinterpret_cast<const QRgb*>(image_.constScanLine(y))[x]);
}

void Canvas::TextOut(int x, int y, const QString& text) {
  if (image_.isNull()) return;
  const QFontMetrics metrics(font_);
  QPainter painter(&image_);
  painter.setFont(font_);
  if (brush_style_ == BrushStyle::Solid) {
    painter.fillRect(x, y, metrics.horizontalAdvance(text), metrics.height(),
                     ToQColor(brush_color_));
  }
  painter.setPen(ToQColor(font_color_));
  painter.drawText(x, y + metrics.ascent(), text);
}

int Canvas::TextWidth(const QString& text) const {
  return QFontMetrics(font_).horizontalAdvance(text);
}

int Canvas::TextHeight(const QString& /*text*/) const {
  return QFontMetrics(font_).height();
}

void Canvas::Draw(int x, int y, const Canvas& source) {
  // A shallow copy keeps the source's pixels intact when source is this
  // canvas: writing below detaches image_ from it.
  const QImage src = source.image_;
  const i64 x0 = std::max<i64>(x, 0);
  const i64 y0 = std::max<i64>(y, 0);
  const i64 x1 = std::min<i64>(static_cast<i64>(x) + src.width(), image_.width());
  const i64 y1 = std::min<i64>(static_cast<i64>(y) + src.height(), image_.height());
  if (x0 >= x1 || y0 >= y1) return;
  i64 stride = 0;
  QRgb* dst = PixelsOf(image_, stride);
  for (i64 row = y0; row < y1; ++row) {
    const QRgb* from = reinterpret_cast<const QRgb*>(src.constScanLine(static_cast<int>(row - y))) +
                       (x0 - x);
    std::memcpy(dst + row * stride + x0, from, static_cast<std::size_t>(x1 - x0) * sizeof(QRgb));
  }
}

}  // namespace zelmora
