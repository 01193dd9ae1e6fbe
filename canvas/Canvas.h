#pragma once

#include "Color.h"

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QString>

#include <vector>

namespace zelmora {

// Pen styles. Dashed styles apply to one-pixel LineTo only; see LineTo.
enum class PenStyle { Solid, Dash, Dot, DashDot, DashDotDot, Clear };
enum class BrushStyle { Solid, Clear };

// A pen/brush canvas painting onto an off-screen QImage (Format_RGB32).
// Rectangles, one-pixel lines and ellipses are written straight into the
// scanlines, so every pixel they touch is exactly as stated below; QPainter
// is only used for text and for lines whose pen is wider than one pixel.
//
// Coordinates are image pixels, x to the right, y down; (0, 0) is the
// top-left pixel. Everything is clipped to the image; coordinates may lie
// anywhere in the int range.
//
// Defaults: black solid pen of width 1, white solid brush, black font
// colour, a default QFont, pen position (0, 0).
class Canvas {
 public:
  // An empty (0x0) image.
  Canvas();
  // A width x height image filled white; negative sizes count as 0.
  Canvas(int width, int height);

  // Negative sizes count as 0. Keeps the top-left content that still fits;
  // any new area is white. Width() and Height() report the size asked for,
  // even when the other one is 0 and the image so has no pixels.
  void Resize(int width, int height);
  int Width() const;
  int Height() const;

  // The image painted on. Callers may read or write its pixels but must not
  // change its size or format (use Resize).
  const QImage& Image() const;
  QImage& Image();

  // The pen: colour, width (kept as given; anything below 2, 0 included,
  // draws one pixel wide) and style. Pixels are always copied, never
  // combined.
  void SetPenColor(TColor color);
  TColor PenColor() const;
  void SetPenWidth(int width);
  int PenWidth() const;
  void SetPenStyle(PenStyle style);
  PenStyle GetPenStyle() const;

  void SetBrushColor(TColor color);
  TColor BrushColor() const;
  void SetBrushStyle(BrushStyle style);
  BrushStyle GetBrushStyle() const;

  void SetFont(const QFont& font);
  const QFont& Font() const;
  void SetFontColor(TColor color);
  TColor FontColor() const;

  // Rectangle(l, t, r, b): the corners are swapped as needed so that l <= r
  // and t <= b; right and bottom are exclusive, so the rectangle's area is
  // columns l..r-1 and rows t..b-1. Nothing is drawn if that area is empty.
  //
  // With the pen Clear, the brush fills the whole area (if brush Solid).
  // Otherwise, with pen width w (w <= 1 taken as 1), let o = (w-1)/2 and
  // i = w/2 + 1 (integer division):
  //  - outline, pen colour: every pixel of columns l-o..r-1+o, rows
  //    t-o..b-1+o that is not in the inner part;
  //  - inner part, brush colour unless brush Clear (then left untouched):
  //    columns l+i..r-1-i, rows t+i..b-1-i.
  // So w = 1 draws the ring of columns l and r-1 and rows t and b-1 and fills
  // l+1..r-2 x t+1..b-2 (a 10x10 cell at (0,0,10,10): outline on 0 and 9,
  // fill 1..8). w = 2 draws that ring plus the ring just inside it (both
  // within the area; fill l+2..r-3). w = 3 draws the ring, one ring outside
  // and one inside. The fill never overwrites the outline.
  // Dashed pen styles are drawn as Solid here.
  void Rectangle(int left, int top, int right, int bottom);

  // Ellipse(l, t, r, b): corners normalised like Rectangle; the box is
  // columns l..r-1, rows t..b-1 (W = r-l columns, H = b-t rows); nothing is
  // drawn if W or H is 0. Every pixel set lies in the box.
  //
  // Shape: box pixel (i, j) (column l+i, row t+j) belongs to the ellipse when
  // its centre lies inside or on the ellipse inscribed in the box, i.e.
  //     (2i+1-W)^2 * H^2 + (2j+1-H)^2 * W^2 <= W^2 * H^2.
  // Each row of the shape is one run of pixels, symmetric about the box's
  // middle (it may be empty for very flat or thin boxes).
  // With a visible pen of width w (w <= 1 taken as 1) the outline is the
  // shape minus the inner shape, the inner shape being the same rule applied
  // to the box shrunk by w on every side (box l+w, t+w, r-w, b-w); the outline
  // is pen colour, the inner shape brush colour (unless brush Clear). With the
  // pen Clear the whole shape is brush. Dashed pen styles are drawn as Solid.
  //
  // An 8x8 box gives the rows (columns i covered)
  //     j=0: 2..5   j=1: 1..6   j=2..5: 0..7   j=6: 1..6   j=7: 2..5
  // with the one-pixel outline on j=0: 2..5, j=1: 1 and 6, j=2..5: 0 and 7,
  // j=6: 1 and 6, j=7: 2..5.
  void Ellipse(int left, int top, int right, int bottom);

  // MoveTo sets the pen position; nothing is drawn.
  void MoveTo(int x, int y);
  // LineTo draws from the pen position (x0, y0) to (x1, y1) and then moves the
  // pen there. With pen width <= 1 the pixels are, with dx = |x1-x0|,
  // dy = |y1-y0|, sx, sy the signs of x1-x0, y1-y0:
  //  - if dx >= dy (and dx > 0): for k = 0..dx-1, the pixel
  //      (x0 + sx*k, y0 + sy*floor((2*k*dy + dx) / (2*dx)))
  //  - if dy > dx: the same with the roles of x and y swapped.
  // So the start pixel is set, the end pixel is not, a line to the pen's own
  // position sets nothing, and the minor coordinate rounds halves away from
  // the start. Far-off endpoints are clipped without walking off-image
  // pixels; the pixels set are exactly those of the unclipped line.
  // Dashed styles follow an on/off pattern counted by k from the start of
  // each LineTo (gaps are left untouched), repeating:
  //   Dash 6 on 2 off; Dot 2 on 2 off; DashDot 6 on 2 off 2 on 2 off;
  //   DashDotDot 6 on 2 off 2 on 2 off 2 on 2 off.
  // Pen Clear draws nothing. With pen width > 1 the line is drawn solid by
  // QPainter (aliased, flat caps): a band about w pixels wide along the line.
  void LineTo(int x, int y);
  QPoint PenPos() const;

  // Sets exactly that pixel; ignored outside the image.
  void SetPixel(int x, int y, TColor color);
  // The pixel's colour; 0 outside the image.
  TColor Pixel(int x, int y) const;

  // Draws text with the current font in the font colour. (x, y) is the
  // top-left corner of the text cell (the baseline is at y + ascent). The
  // background is left as it is unless the brush is Solid; then the cell,
  // TextWidth(text) x TextHeight(text) pixels from (x, y), is first filled
  // with the brush colour. Glyph pixels are QPainter's (antialiased as the
  // font asks). The pen position does not move. Text and its metrics need a
  // QGuiApplication; the other operations do not.
  void TextOut(int x, int y, const QString& text);
  // From QFontMetrics of the current font: horizontalAdvance and height.
  int TextWidth(const QString& text) const;
  int TextHeight(const QString& text) const;

  // Copies source's pixels unchanged with its top-left at (x, y), clipped to
  // this image. source may be this canvas.
  void Draw(int x, int y, const Canvas& source);

 private:
  // Per-row runs of an ellipse box, cached because the program draws many
  // ellipses of one size.
  struct EllipseRows {
    int width = -1;
    int height = -1;
    int inset = -1;
    // Per row: outer run [first, last], inner run [first, last]; first > last
    // means empty.
    std::vector<int> runs;
  };

  void DrawWideLine(int x0, int y0, int x1, int y1);

  QImage image_;
  TColor pen_color_ = colors::kBlack;
  int pen_width_ = 1;
  PenStyle pen_style_ = PenStyle::Solid;
  TColor brush_color_ = colors::kWhite;
  BrushStyle brush_style_ = BrushStyle::Solid;
  QFont font_;
  TColor font_color_ = colors::kBlack;
  QPoint pen_pos_;
  // As asked for: a QImage with no columns also reports no rows.
  int width_ = 0;
  int height_ = 0;
  EllipseRows ellipse_rows_;
};

}  // namespace zelmora
