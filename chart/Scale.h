#pragma once

#include "ChartTypes.h"
#include "ScaleMath.h"
#include "ScaleProps.h"

#include <QFont>
#include <QPoint>
#include <QString>

#include <functional>
#include <vector>

namespace zelmora {

class Canvas;

// One axis as the chart draws it: a copy of its TScaleProps (ApplyScaleProps)
// plus its placement, the chart's size and four margins, and the canvas it
// draws on. An x axis runs from column MarginLeft (RangeLow) to column
// W - MarginRight - 1 (RangeHigh), a y axis from row H - MarginBottom - 1
// (RangeLow) up to row MarginTop (RangeHigh).
class TScale {
 public:
  using TickDrawnHandler =
      std::function<void(TScale& sender, Canvas& canvas, TScaleType type, double value, int x,
                         int y)>;
  using RenderHandler = std::function<void(TScale& sender, Canvas& canvas)>;

  // At most this many tick values are kept for the chart's grid.
  static constexpr int kMaxTicks = 50;

  explicit TScale(const QString& name);

  const QString& Name() const { return name_; }

  // Copies every setting of props except the location and the margins.
  void Assign(const TScaleProps& props);

  double RangeLow() const { return rangeLow_; }
  double RangeHigh() const { return rangeHigh_; }
  void SetRange(double low, double high);
  bool Logarithmic() const { return logarithmic_; }
  void SetLogarithmic(bool v);
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { visible_ = v; }
  const QFont& Font() const { return font_; }
  TColor ColorScale() const { return colorScale_; }
  const QString& Caption() const { return caption_; }

  TScaleType ScaleType() const { return type_; }
  void SetScaleType(TScaleType v);
  bool IsHorizontal() const { return type_ == TScaleType::sctXT || type_ == TScaleType::sctXB; }

  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetSize(int width, int height);
  int MarginLeft() const { return marginLeft_; }
  int MarginRight() const { return marginRight_; }
  int MarginTop() const { return marginTop_; }
  int MarginBottom() const { return marginBottom_; }
  void SetMarginLeft(int v);
  void SetMarginRight(int v);
  void SetMarginTop(int v);
  void SetMarginBottom(int v);

  bool ShowBaseLine() const { return showBaseLine_; }
  void SetShowBaseLine(bool v) { showBaseLine_ = v; }
  // The chart draws its scales transparent, straight on its own canvas; the
  // background colour would only serve a stand-alone axis.
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool v) { transparent_ = v; }
  TColor BackgroundColor() const { return backgroundColor_; }
  void SetBackgroundColor(TColor v) { backgroundColor_ = v; }

  // Where DrawScale draws; offset is added to every pixel position.
  void SetCanvas(Canvas* canvas, QPoint offset = {});

  // Pixel column (x axis) or row (y axis) of v.
  int ScaleToPixel(double v) const;
  // Pixel row (x axis) or column (y axis) of the axis line.
  int AxisLine() const;

  // Draws ticks, labels, caption and base line on the canvas, if Visible.
  void DrawScale();

  // Values of the ticks of the last DrawScale; index 1..NumTicks, else 0.0.
  int NumTicks() const { return static_cast<int>(ticks_.size()); }
  double Tick(int index) const;

  TickDrawnHandler OnScaleTickDrawn;
  RenderHandler OnBeforeScaleRendered;
  RenderHandler OnAfterScaleRendered;

 private:
  void UpdateMapping();
  long double Transform(long double v) const;
  void DrawTick(int pos, int length, double value);
  void DrawLabel(int pos, const QString& text, int th0);
  void DrawCaption();
  void DrawLinearTicks(long double lo, long double hi, int minTicks);
  void DrawLogTicks(int minTicks);
  void AddTick(long double v);

  QString name_;
  double rangeLow_ = 0.0;
  double rangeHigh_ = 1.0;
  bool logarithmic_ = false;
  bool visible_ = false;
  QString caption_;
  int captionPosX_ = 0;
  int captionPosY_ = 0;
  TAlignment captionAlignment_ = TAlignment::taCenter;
  TScaleUnitAnchor captionAnchor_ = TScaleUnitAnchor::uaSclTopLft;
  TColor colorScale_ = colors::kBlack;
  int decPlaces_ = -2;
  TFigType labelType_ = TFigType::ftNum;
  bool shortTicks_ = true;
  int minTicks_ = 3;
  TickLabelStyle labelStyle_;
  QFont font_;

  TScaleType type_ = TScaleType::sctXT;
  int width_ = 0;
  int height_ = 0;
  int marginLeft_ = 0;
  int marginRight_ = 0;
  int marginTop_ = 0;
  int marginBottom_ = 0;
  bool showBaseLine_ = true;
  bool transparent_ = true;
  TColor backgroundColor_ = colors::kWhite;

  Canvas* canvas_ = nullptr;
  QPoint offset_;

  // pixel = k * v + d, v the value or its natural logarithm.
  long double k_ = 0;
  long double d_ = 0;
  std::vector<double> ticks_;
};

}  // namespace zelmora
