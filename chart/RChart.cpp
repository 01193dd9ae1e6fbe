#include "RChart.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QShowEvent>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zelmora {

namespace {

// RenderItems limits every end point to this many pixels off the control, so
// the line walker never sees the full int range.
constexpr int kRenderLimit = 30000;

// Smallest data area the bounds setter leaves.
constexpr int kMinDataWidth = 80;
constexpr int kMinDataHeight = 20;

int LimitRender(int v) { return std::clamp(v, -kRenderLimit, kRenderLimit); }

// A pen move uses only its first point; a line both. v - v is 0 for a finite v and NaN
// otherwise, so one comparison tests all coordinates, without a branch for each.
bool HasFinitePoints(const ChartItem& item) {
  const double first = (item.x1 - item.x1) + (item.y1 - item.y1);
  if (item.kind != kindLine) return first == 0;
  return first + (item.x2 - item.x2) + (item.y2 - item.y2) == 0;
}

}  // namespace

TCustomRChart::TCustomRChart(QWidget* parent)
    : QWidget(parent),
      scale1X_(std::make_unique<TScalePropsHoriz>()),
      scale1Y_(std::make_unique<TScalePropsVert>()),
      scale2X_(std::make_unique<TScalePropsHoriz>()),
      scale2Y_(std::make_unique<TScalePropsVert>()),
      axes_{TScale(QStringLiteral("RC_FScale_X_1")), TScale(QStringLiteral("RC_FScale_X_2")),
            TScale(QStringLiteral("RC_FScale_Y_1")), TScale(QStringLiteral("RC_FScale_Y_2"))} {
  setAttribute(Qt::WA_OpaquePaintEvent);

  // Standard layout: x scales at the bottom, y scales at the left, layer 1's
  // visible and black, layer 2's hidden and maroon. Set before the change
  // handlers are attached, so construction raises no repaints.
  const struct {
    TScaleProps* props;
    TColor color;
    bool visible;
    int capX, capY;
    TAlignment align;
    TScaleUnitAnchor anchor;
  } layout[] = {
      {scale1X_.get(), colors::kBlack, true, 0, 22, TAlignment::taCenter,
       TScaleUnitAnchor::uaSclCenter},
      {scale1Y_.get(), colors::kBlack, true, 0, -16, TAlignment::taLeftJustify,
       TScaleUnitAnchor::uaSclTopLft},
      {scale2X_.get(), clMaroon, false, 10, 100, TAlignment::taCenter,
       TScaleUnitAnchor::uaSclCenter},
      {scale2Y_.get(), clMaroon, false, 10, 100, TAlignment::taRightJustify,
       TScaleUnitAnchor::uaSclTopLft},
  };
  for (const auto& l : layout) {
    l.props->SetColorScale(l.color);
    l.props->SetScalePos(0);
    l.props->SetVisible(l.visible);
    l.props->SetCaptionPosX(l.capX);
    l.props->SetCaptionPosY(l.capY);
    l.props->SetCaptionAlignment(l.align);
    l.props->SetCaptionAnchor(l.anchor);
  }
  scale1X_->SetScaleLocation(TScaleLocationHoriz::slBottom);
  scale2X_->SetScaleLocation(TScaleLocationHoriz::slBottom);
  scale1Y_->SetScaleLocation(TScaleLocationVert::slLeft);
  scale2Y_->SetScaleLocation(TScaleLocationVert::slLeft);

  for (TScaleProps* p : {static_cast<TScaleProps*>(scale1X_.get()),
                         static_cast<TScaleProps*>(scale1Y_.get()),
                         static_cast<TScaleProps*>(scale2X_.get()),
                         static_cast<TScaleProps*>(scale2Y_.get())}) {
    p->SetOnChange([this] { ScalePropsChanged(); });
    p->DateFormat()->SetOnChange([this] { ScalePropsChanged(); });
  }
  for (int i = 0; i < 4; ++i) {
    crossHairs_[static_cast<std::size_t>(i)].SetLayer(i + 1);
    crossHairs_[static_cast<std::size_t>(i)].SetOnChange([this] { LooksChanged(); });
  }
  backGroundImg_.SetOnChange([this] { LooksChanged(); });
  joints_.SetOnJoin([this](int layer, bool xAxis) { OnJoined(layer, xAxis); });

  for (TScale& axis : axes_) {
    axis.SetTransparent(true);
    axis.SetBackgroundColor(windColor_);
    axis.SetCanvas(&controlImage_, QPoint(0, 0));
    axis.OnScaleTickDrawn = [this](TScale&, Canvas& canvas, TScaleType type, double value,
                                   int x, int y) {
      if (OnScaleTickDrawn) OnScaleTickDrawn(*this, canvas, type, value, x, y);
    };
  }

  SetBounds(0, 0, 280, 200);  // draws nothing: PaintSuspended
  ClearDataImage();
  ScalePropsChanged();
}

TCustomRChart::~TCustomRChart() = default;

TScaleProps* TCustomRChart::ScalePropsX(int layer) {
  return layer == 2 ? static_cast<TScaleProps*>(scale2X_.get()) : scale1X_.get();
}

TScaleProps* TCustomRChart::ScalePropsY(int layer) {
  return layer == 2 ? static_cast<TScaleProps*>(scale2Y_.get()) : scale1Y_.get();
}

TTextLabel* TCustomRChart::TextLabel(int index) {
  if (index < 1 || index > static_cast<int>(textLabels_.size())) return nullptr;
  return &textLabels_[static_cast<std::size_t>(index - 1)];
}

void TCustomRChart::SetClassDefault(std::uint8_t v) {
  if (v != 255) classDefault_ = v;
}

bool TCustomRChart::IsShownState() const {
  return !(testAttribute(Qt::WA_WState_ExplicitShowHide) && testAttribute(Qt::WA_WState_Hidden));
}

ChartGeometry TCustomRChart::Geometry() const {
  return ChartGeometry{width_, height_, lRim_, rRim_, tRim_, bRim_, shadowWidth_};
}

void TCustomRChart::RepaintIfAuto() {
  if (autoRedraw_) PaintChart();
}

void TCustomRChart::LooksChanged() {
  ++looksVersion_;
  RepaintIfAuto();
}

// ---------------------------------------------------------------- setters

void TCustomRChart::RimsChanged() {
  dataImage_.Resize(std::max(0, width_ - lRim_ - rRim_ - shadowWidth_ + 1),
                    std::max(0, height_ - tRim_ - bRim_ - shadowWidth_ + 1));
  ApplyAllScales();
  UpdateLayerMapping();
  LooksChanged();
}

void TCustomRChart::SetLRim(int v) { lRim_ = v; RimsChanged(); }
void TCustomRChart::SetRRim(int v) { rRim_ = v; RimsChanged(); }
void TCustomRChart::SetTRim(int v) { tRim_ = v; RimsChanged(); }
void TCustomRChart::SetBRim(int v) { bRim_ = v; RimsChanged(); }
void TCustomRChart::SetShadowWidth(int v) { shadowWidth_ = std::clamp(v, 0, 32); RimsChanged(); }

void TCustomRChart::SetChartColor(TColor v) { chartColor_ = v; LooksChanged(); }
void TCustomRChart::SetChartFrameColor(TColor v) { chartFrameColor_ = v; LooksChanged(); }
void TCustomRChart::SetWindColor(TColor v) {
  windColor_ = v;
  // The axes stand on the background outside the data area.
  for (TScale& axis : axes_) axis.SetBackgroundColor(v);
  LooksChanged();
}
void TCustomRChart::SetGridStyle(TGridStyle v) { gridStyle_ = v; LooksChanged(); }
void TCustomRChart::SetGridColor(TColor v) { gridColor_ = v; LooksChanged(); }
void TCustomRChart::SetGridDx(double v) { gridDx_ = v; LooksChanged(); }
void TCustomRChart::SetGridDy(double v) { gridDy_ = v; LooksChanged(); }
void TCustomRChart::SetCaption(const QString& v) { caption_ = v; LooksChanged(); }
void TCustomRChart::SetCaptionPosX(int v) { captionPosX_ = v; LooksChanged(); }
void TCustomRChart::SetCaptionPosY(int v) { captionPosY_ = v; LooksChanged(); }
void TCustomRChart::SetCaptionAlignment(TAlignment v) { captionAlignment_ = v; LooksChanged(); }
void TCustomRChart::SetCaptionAnchorHoriz(TCaptionAnchorHoriz v) {
  captionAnchorHoriz_ = v;
  LooksChanged();
}
void TCustomRChart::SetCaptionAnchorVert(TCaptionAnchorVert v) {
  captionAnchorVert_ = v;
  LooksChanged();
}
void TCustomRChart::SetShadowStyle(TShadowStyle v) { shadowStyle_ = v; LooksChanged(); }
void TCustomRChart::SetShadowColor(TColor v) { shadowColor_ = v; LooksChanged(); }
void TCustomRChart::SetShadowBakColor(TColor v) { shadowBakColor_ = v; LooksChanged(); }
void TCustomRChart::SetTextFontStyle(int v) { textFontStyle_ = v; LooksChanged(); }
void TCustomRChart::SetTextBkStyle(TTextBkStyle v) { textBkStyle_ = v; LooksChanged(); }
void TCustomRChart::SetTextBkColor(TColor v) { textBkColor_ = v; LooksChanged(); }
void TCustomRChart::SetTextAlignment(TAlignment v) { textAlignment_ = v; LooksChanged(); }

void TCustomRChart::SetBounds(int left, int top, int width, int height) {
  width = std::max(width, lRim_ + rRim_ + shadowWidth_ + kMinDataWidth);
  height = std::max(height, tRim_ + bRim_ + shadowWidth_ + kMinDataHeight);
  width_ = width;
  height_ = height;
  // Stored first: the resize event this may send finds the size unchanged.
  setGeometry(left, top, width, height);
  ApplyAllScales();
  UpdateLayerMapping();
  LooksChanged();
}

// ---------------------------------------------------------------- scales and layers

void TCustomRChart::ApplyScaleProps(int layer, bool x) {
  TScaleProps& props = x ? *ScalePropsX(layer) : *ScalePropsY(layer);
  TScale& axis = axes_[static_cast<std::size_t>(AxisIndex(layer, x))];
  ++looksVersion_;
  axis.Assign(props);
  axis.SetScaleType(props.ScaleType());
  const int pos = props.ScalePos();
  switch (props.ScaleType()) {
    case TScaleType::sctXB: axis.SetMarginBottom(pos + height_ - tRim_ - 1); break;
    case TScaleType::sctXT: axis.SetMarginTop(pos + height_ - bRim_ - shadowWidth_); break;
    case TScaleType::sctYL: axis.SetMarginLeft(pos + width_ - rRim_ - shadowWidth_); break;
    case TScaleType::sctYR: axis.SetMarginRight(pos + width_ - lRim_ - 1); break;
  }
}

void TCustomRChart::ApplyAllScales() {
  ++looksVersion_;
  for (int layer = 1; layer <= 2; ++layer) {
    TScale* x = ScaleX(layer);
    x->SetSize(width_, height_);
    x->SetMarginLeft(lRim_);
    x->SetMarginRight(rRim_ + shadowWidth_ - 1);
    TScale* y = ScaleY(layer);
    y->SetSize(width_, height_);
    y->SetMarginTop(tRim_);
    y->SetMarginBottom(bRim_ + shadowWidth_ - 1);
  }
  for (int layer = 1; layer <= 2; ++layer) {
    ApplyScaleProps(layer, true);
    ApplyScaleProps(layer, false);
  }
}

const LayerMapping& TCustomRChart::Mapping(int layer) const {
  return mappings_[layer >= 2 ? 1 : 0];
}

QPoint TCustomRChart::DataToPixel(int layer, double x, double y) const {
  return zelmora::DataToPixel(Mapping(layer), x, y);
}

void TCustomRChart::UpdateLayerMapping() {
  if (loading_) return;
  const ChartGeometry g = Geometry();
  for (int layer = 1; layer <= 2; ++layer) {
    const TScaleProps& x = *ScalePropsX(layer);
    const TScaleProps& y = *ScalePropsY(layer);
    mappings_[static_cast<std::size_t>(layer - 1)] = ComputeLayerMapping(
        g, AxisRange{x.RangeLow(), x.RangeHigh(), x.Logarithmic()},
        AxisRange{y.RangeLow(), y.RangeHigh(), y.Logarithmic()});
  }
}

void TCustomRChart::ScalePropsChanged() {
  ApplyScaleProps(1, true);
  ApplyScaleProps(1, false);
  ApplyScaleProps(2, true);
  ApplyScaleProps(2, false);
  // The layers' own repaints are held back: the one below shows the same.
  const bool suspended = paintSuspended_;
  paintSuspended_ = true;
  for (int layer = 1; layer <= 2; ++layer) {
    const TScaleProps& x = *ScalePropsX(layer);
    const TScaleProps& y = *ScalePropsY(layer);
    SetLayerRanges(layer, x.RangeLow(), x.RangeHigh(), y.RangeLow(), y.RangeHigh());
  }
  paintSuspended_ = suspended;
  PaintChart();
}

// Stores both ranges without notification, applies them to the axes and
// updates the mapping: the part of SetLayerRanges that joins reuse.
void TCustomRChart::StoreLayerRanges(int layer, double xLow, double xHigh, double yLow,
                                     double yHigh) {
  layerRanges_[static_cast<std::size_t>(layer - 1)] = LayerRanges{xLow, xHigh, yLow, yHigh};
  ScalePropsX(layer)->StoreRange(xLow, xHigh);
  ScalePropsY(layer)->StoreRange(yLow, yHigh);
  ApplyScaleProps(layer, true);
  ApplyScaleProps(layer, false);
  UpdateLayerMapping();
}

void TCustomRChart::SetLayerRanges(int layer, double xLow, double xHigh, double yLow,
                                   double yHigh) {
  layer = std::clamp(layer, 1, 2);
  const bool suspended = paintSuspended_;
  paintSuspended_ = true;
  const LayerRanges& current = layerRanges_[static_cast<std::size_t>(layer - 1)];
  if (joints_.XControlledBy(layer) != layer) {
    xLow = current.xLow;
    xHigh = current.xHigh;
  }
  if (joints_.YControlledBy(layer) != layer) {
    yLow = current.yLow;
    yHigh = current.yHigh;
  }
  StoreLayerRanges(layer, xLow, xHigh, yLow, yHigh);
  const int other = layer == 1 ? 2 : 1;
  if (joints_.XControlledBy(other) == layer || joints_.YControlledBy(other) == layer) {
    const TScaleProps& xs = *ScalePropsX(joints_.XControlledBy(other));
    const TScaleProps& ys = *ScalePropsY(joints_.YControlledBy(other));
    StoreLayerRanges(other, xs.RangeLow(), xs.RangeHigh(), ys.RangeLow(), ys.RangeHigh());
  }
  paintSuspended_ = suspended;
  if (!suspended) PaintChart();
}

void TCustomRChart::OnJoined(int layer, bool xAxis) {
  const int source = xAxis ? joints_.XControlledBy(layer) : joints_.YControlledBy(layer);
  const TScaleProps& xs = *ScalePropsX(xAxis ? source : layer);
  const TScaleProps& ys = *ScalePropsY(xAxis ? layer : source);
  StoreLayerRanges(layer, xs.RangeLow(), xs.RangeHigh(), ys.RangeLow(), ys.RangeHigh());
  RepaintIfAuto();
}

// ---------------------------------------------------------------- commands

void TCustomRChart::SelectLayer(int layer) {
  if (layer != 1 && layer != 2) return;
  currentLayer_ = layer;
  RepaintIfAuto();
}

void TCustomRChart::AddItem(unsigned char kind, double x1, double y1, double x2, double y2) {
  ChartItem item;
  item.x1 = x1;
  item.y1 = y1;
  item.x2 = x2;
  item.y2 = y2;
  item.colour = dataColor_;
  item.penStyle = static_cast<std::uint8_t>(penStyle_);
  item.lineWidth = lineWidth_;
  item.itemClass = static_cast<std::uint8_t>(classDefault_);
  item.kind = kind;
  item.layer = currentLayer_;
  store_.Add(item);
}

void TCustomRChart::MovePen(double x, double y) { AddItem(kindMovePen, x, y, 0, 0); }

void TCustomRChart::AddLine(double x1, double y1, double x2, double y2) {
  AddItem(kindLine, x1, y1, x2, y2);
}

void TCustomRChart::ClearGraphics() {
  ClearDataImage();
  store_.Clear();
}

void TCustomRChart::RefreshChart() {
  if (!IsShownState()) return;
  if (!autoRedraw_) {
    PaintChart();
    return;
  }
  ClearDataImage();
  RenderItems(dataImage_);
  PresentImage(dataImage_, lRim_, tRim_);
}

// ---------------------------------------------------------------- painting

void TCustomRChart::WindowCreated() {
  if (windowCreated_) return;
  windowCreated_ = true;
  paintSuspended_ = false;
}

void TCustomRChart::DrawChartCaption(Canvas& canvas) {
  // Written in the canvas' current font: the one the last visible scale set
  // at the previous repaint.
  const int tw = caption_.isEmpty() ? 0 : canvas.TextWidth(caption_);
  const int dw = width_ - lRim_ - rRim_ - shadowWidth_;
  const int dh = height_ - tRim_ - bRim_ - shadowWidth_;
  int ax = 0;
  switch (captionAnchorHoriz_) {
    case TCaptionAnchorHoriz::cahControlLeft: ax = 0; break;
    case TCaptionAnchorHoriz::cahChartLeft: ax = lRim_; break;
    case TCaptionAnchorHoriz::cahChartCenter: ax = lRim_ + dw / 2; break;
    case TCaptionAnchorHoriz::cahChartRight: ax = width_ - rRim_ - shadowWidth_; break;
    case TCaptionAnchorHoriz::cahControlRight: ax = width_; break;
  }
  int ay = 0;
  switch (captionAnchorVert_) {
    case TCaptionAnchorVert::cavControlTop: ay = 0; break;
    case TCaptionAnchorVert::cavChartTop: ay = tRim_; break;
    case TCaptionAnchorVert::cavChartCenter: ay = tRim_ + dh / 2; break;
    case TCaptionAnchorVert::cavChartBottom: ay = height_ - bRim_; break;
    case TCaptionAnchorVert::cavControlBottom: ay = height_; break;
  }
  int x = ax + captionPosX_;
  const int y = ay + captionPosY_;
  if (captionAlignment_ == TAlignment::taRightJustify) x -= tw;
  if (captionAlignment_ == TAlignment::taCenter) x -= tw / 2;
  if (!caption_.isEmpty()) canvas.TextOut(x, y, caption_);
}

// The whole control but the rectangle that DataImage covers when copied in:
// the same pixels as filling everything first, with less to write.
void TCustomRChart::FillOutsideDataArea(Canvas& c, TColor color) {
  const QRect data = DataRect();
  c.SetPenStyle(zelmora::PenStyle::Clear);
  c.SetBrushStyle(BrushStyle::Solid);
  c.SetBrushColor(color);
  if (data.isEmpty()) {
    c.Rectangle(0, 0, width_, height_);
  } else {
    const int top = data.top(), bottom = data.bottom() + 1;
    c.Rectangle(0, 0, width_, top);
    c.Rectangle(0, bottom, width_, height_);
    c.Rectangle(0, top, data.left(), bottom);
    c.Rectangle(data.right() + 1, top, width_, bottom);
  }
  c.SetPenStyle(zelmora::PenStyle::Solid);
  c.SetPenColor(color);
}

// The rims (background, caption, scales) come out the same as at the last
// repaint when nothing they depend on has changed: the looks version (bumped
// by every setter and every scale update), the resolved background colour and
// the canvas font the caption is written in. Handlers that draw or look on
// are given their calls: no reuse while any is set.
bool TCustomRChart::ReuseRims(TColor wind) {
  Canvas& c = controlImage_;
  bool hooked = OnScalesRendered || OnScaleTickDrawn;
  for (const TScale& axis : axes_) {
    hooked = hooked || axis.OnBeforeScaleRendered || axis.OnAfterScaleRendered;
  }
  if (hooked || !rims_.valid || rims_.version != looksVersion_ || rims_.wind != wind ||
      rims_.captionColor != c.FontColor() || rims_.image.size() != c.Image().size() ||
      !(rims_.captionFont == c.Font())) {
    return false;
  }
  const QRect data = DataRect();
  const int w = width_;
  auto copyRows = [&](int x0, int x1, int y0, int y1) {
    if (x0 >= x1) return;
    for (int y = y0; y < y1; ++y) {
      std::memcpy(reinterpret_cast<QRgb*>(c.Image().scanLine(y)) + x0,
                  reinterpret_cast<const QRgb*>(rims_.image.constScanLine(y)) + x0,
                  static_cast<std::size_t>(x1 - x0) * sizeof(QRgb));
    }
  };
  if (data.isEmpty()) {
    copyRows(0, w, 0, height_);
  } else {
    copyRows(0, w, 0, data.top());
    copyRows(0, w, data.bottom() + 1, height_);
    copyRows(0, data.left(), data.top(), data.bottom() + 1);
    copyRows(data.right() + 1, w, data.top(), data.bottom() + 1);
  }
  // The canvas is left as the scales would have left it.
  c.SetFont(rims_.endFont);
  c.SetFontColor(rims_.endFontColor);
  c.SetPenColor(rims_.endPenColor);
  c.SetPenStyle(zelmora::PenStyle::Solid);
  c.SetBrushStyle(BrushStyle::Clear);
  return true;
}

void TCustomRChart::KeepRims(TColor wind, const QFont& captionFont, TColor captionColor) {
  const Canvas& c = controlImage_;
  if (rims_.image.size() != c.Image().size()) rims_.image = QImage(c.Image().size(), c.Image().format());
  std::memcpy(rims_.image.bits(), c.Image().constBits(),
              static_cast<std::size_t>(c.Image().sizeInBytes()));
  rims_.valid = true;
  rims_.version = looksVersion_;
  rims_.wind = wind;
  rims_.captionFont = captionFont;
  rims_.captionColor = captionColor;
  rims_.endFont = c.Font();
  rims_.endFontColor = c.FontColor();
  rims_.endPenColor = c.PenColor();
}

QRect TCustomRChart::DataRect() const {
  return QRect(lRim_, tRim_, dataImage_.Width(), dataImage_.Height())
      .intersected(QRect(0, 0, width_, height_));
}

void TCustomRChart::PaintChart() {
  if (!IsShownState() || loading_ || paintSuspended_) return;
  ++paintCount_;
  Canvas& c = controlImage_;
  c.Resize(width_, height_);
  // Every pixel is drawn afresh below, so a buffer the window is not using
  // serves as well as a copy of the old picture.
  if (!c.Image().isDetached()) {
    if (spareControl_.size() != c.Image().size() || !spareControl_.isDetached()) {
      spareControl_ = QImage(c.Image().size(), c.Image().format());
    }
    std::swap(c.Image(), spareControl_);
  }
  // The data area itself is covered by DataImage further down.
  ClearDataImage();
  UpdateLayerMapping();
  const TColor wind = ResolveColor(windColor_);
  if (!ReuseRims(wind)) {
    FillOutsideDataArea(c, wind);
    c.SetPenColor(ResolveColor(chartFrameColor_));
    c.SetBrushStyle(BrushStyle::Clear);
    const QFont captionFont = c.Font();
    const TColor captionColor = c.FontColor();
    DrawChartCaption(c);
    ScaleX(1)->DrawScale();
    ScaleX(2)->DrawScale();
    ScaleY(1)->DrawScale();
    ScaleY(2)->DrawScale();
    if (OnScalesRendered) OnScalesRendered(*this, c, 0, 0);
    KeepRims(wind, captionFont, captionColor);
  }
  RenderItems(dataImage_);
  c.Draw(lRim_, tRim_, dataImage_);
  PresentImage(c, 0, 0);
}

void TCustomRChart::ClearDataImage() {
  Canvas& d = dataImage_;
  d.Resize(std::max(0, width_ - lRim_ - rRim_ - shadowWidth_ + 1),
           std::max(0, height_ - tRim_ - bRim_ - shadowWidth_ + 1));
  d.SetPenStyle(zelmora::PenStyle::Solid);
  d.SetPenWidth(1);
  d.SetBrushStyle(BrushStyle::Solid);
  d.SetBrushColor(ResolveColor(chartColor_));
  d.SetPenColor(ResolveColor(chartFrameColor_));
  d.Rectangle(0, 0, d.Width(), d.Height());
}

// Both end points of every item in control pixels, DataToPixel limited to
// +-30000, in one tight pass so the extended-precision coefficients stay in
// registers.
void TCustomRChart::MapItems() {
  mapped_.resize(2 * store_.Count());
  QPoint* out = mapped_.data();
  const LayerMapping& m1 = mappings_[0];
  const LayerMapping& m2 = mappings_[1];
  if (m1.logX || m1.logY || m2.logX || m2.logY) {
    for (const ChartItem& item : store_) {
      const LayerMapping& m = item.layer >= 2 ? m2 : m1;
      const QPoint a = zelmora::DataToPixel(m, item.x1, item.y1);
      const QPoint b = zelmora::DataToPixel(m, item.x2, item.y2);
      *out++ = QPoint(LimitRender(a.x()), LimitRender(a.y()));
      *out++ = QPoint(LimitRender(b.x()), LimitRender(b.y()));
    }
    return;
  }
  const LimitedAxisMap x1(m1.kx, m1.dx, kRenderLimit), y1(m1.ky, m1.dy, kRenderLimit);
  const LimitedAxisMap x2(m2.kx, m2.dx, kRenderLimit), y2(m2.ky, m2.dy, kRenderLimit);
  for (const ChartItem& item : store_) {
    const bool second = item.layer >= 2;
    const LimitedAxisMap& mx = second ? x2 : x1;
    const LimitedAxisMap& my = second ? y2 : y1;
    *out++ = QPoint(mx(item.x1), my(item.y1));
    *out++ = QPoint(mx(item.x2), my(item.y2));
  }
}

void TCustomRChart::RenderItems(Canvas& canvas) {
  if (OnBeforeRenderData) {
    const TColor brush = canvas.BrushColor();
    const TColor pen = canvas.PenColor();
    OnBeforeRenderData(*this, canvas, tRim_, lRim_);
    canvas.SetBrushColor(brush);
    canvas.SetPenColor(pen);
  }
  const TColor chartColor = ResolveColor(chartColor_);
  int penWidth = lineWidth_;
  canvas.SetPenWidth(penWidth);
  canvas.MoveTo(0, 0);
  TColor penColor = chartColor_;
  canvas.SetPenColor(chartColor);
  zelmora::PenStyle penStyle = zelmora::PenStyle::Solid;
  canvas.SetPenStyle(penStyle);
  canvas.SetBrushColor(chartColor);

  MapItems();
  const QPoint* p = mapped_.data();
  const int ox = lRim_;
  const int oy = tRim_;
  for (const ChartItem& item : store_) {
    if (item.lineWidth != penWidth) {
      penWidth = item.lineWidth;
      canvas.SetPenWidth(penWidth);
    }
    if (!HasFinitePoints(item)) {
      // No pixel stands for such a point, so the item is left out; a line with
      // one finite end is left out whole rather than drawn in a made-up direction.
    } else if (item.kind == kindMovePen) {
      canvas.MoveTo(p[0].x() - ox, p[0].y() - oy);
    } else if (item.kind == kindLine) {
      if (item.colour != penColor) {
        penColor = item.colour;
        canvas.SetPenColor(ResolveColor(penColor));
      }
      const auto style = static_cast<zelmora::PenStyle>(item.penStyle);
      if (style != penStyle) {
        penStyle = style;
        canvas.SetPenStyle(penStyle);
      }
      if (p[0] == p[1]) {
        canvas.SetPixel(p[0].x() - ox, p[0].y() - oy, ResolveColor(item.colour));
      } else {
        canvas.MoveTo(p[0].x() - ox, p[0].y() - oy);
        canvas.LineTo(p[1].x() - ox, p[1].y() - oy);
      }
    }
    p += 2;
  }
  canvas.SetPenWidth(1);
  if (OnDataRendered) OnDataRendered(*this, canvas, tRim_, lRim_);

  const int dw = width_ - lRim_ - rRim_ - shadowWidth_;
  const int dh = height_ - tRim_ - bRim_ - shadowWidth_;
  canvas.SetPenColor(ResolveColor(chartFrameColor_));
  canvas.SetPenStyle(zelmora::PenStyle::Solid);
  canvas.MoveTo(0, 0);
  canvas.LineTo(dw, 0);
  canvas.LineTo(dw, dh);
  canvas.LineTo(0, dh);
  canvas.LineTo(0, 0);
}

void TCustomRChart::PresentImage(const Canvas& image, int left, int top) {
  // Crosshairs other than chOff are not drawn by this chart.
  if (!windowCreated_) return;
  ++presentCount_;
  if (left == 0 && top == 0 && image.Width() == width_ && image.Height() == height_) {
    // The whole picture: share it; the next repaint's writes detach it.
    window_.Image() = image.Image();
  } else {
    if (window_.Width() != width_ || window_.Height() != height_) {
      window_.Resize(width_, height_);
      window_.SetPenStyle(zelmora::PenStyle::Clear);
      window_.SetBrushStyle(BrushStyle::Solid);
      window_.SetBrushColor(ResolveColor(windColor_));
      window_.Rectangle(0, 0, width_, height_);
    }
    window_.Draw(left, top, image);
  }
  if (!inPaintEvent_) {
    throttle_.Request();
  }
}

void TCustomRChart::paintEvent(QPaintEvent* /*event*/) {
  ++paintEventCount_;
  // Our own update() only needs the presented picture copied. Should the
  // window system ask in the same event, that picture is complete and
  // current anyway.
  if (!updatePending_) {
    // Asked by the window system (uncovered, exposed): draw afresh.
    ++systemPaintCount_;
    inPaintEvent_ = true;
    PaintChart();
    inPaintEvent_ = false;
  }
  updatePending_ = false;
  throttle_.Painted();
  QPainter painter(this);
  // PresentImage may hand the window image over whole, so ask the image, not the canvas size.
  if (window_.Image().isNull()) {
    painter.fillRect(rect(), ToQColor(ResolveColor(windColor_)));
    return;
  }
  painter.drawImage(0, 0, window_.Image());
}

void TCustomRChart::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  WindowCreated();
  // Qt drops update() on a hidden widget, so an update asked for while hidden
  // never came: the first paint after showing is the window system's and draws
  // what the chart holds now, not the picture presented before.
  updatePending_ = false;
  throttle_.Cancel();
}

void TCustomRChart::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // Resized from outside (a layout, the window): keep the chart's own size.
  if (event->size().width() != width_ || event->size().height() != height_) {
    SetBounds(x(), y(), event->size().width(), event->size().height());
  }
}

// ---------------------------------------------------------------- loading

void TCustomRChart::BeginLoading() {
  loading_ = true;
  for (int layer = 1; layer <= 2; ++layer) {
    ScalePropsX(layer)->SetLoading(true);
    ScalePropsY(layer)->SetLoading(true);
  }
}

void TCustomRChart::Loaded() {
  loading_ = false;
  for (int layer = 1; layer <= 2; ++layer) {
    ScalePropsX(layer)->SetLoading(false);
    ScalePropsY(layer)->SetLoading(false);
  }
  ApplyAllScales();
  UpdateLayerMapping();
  PaintChart();
}

TRChart::TRChart(QWidget* parent) : TCustomRChart(parent) {}

}  // namespace zelmora
