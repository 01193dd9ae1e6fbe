#include "Scale.h"

#include "Canvas.h"

#include <algorithm>
#include <cmath>

namespace zelmora {

namespace {

constexpr long double kLogFloor = 1e-100L;
// Decades drawn at most on a logarithmic axis.
constexpr int kMaxTickLoops = 2000;

// Tick lengths in pixels, pointing away from the data area.
constexpr int kMinorTick = 4;
constexpr int kMajorTickX = 7;
constexpr int kMajorTickY = 6;
// Gaps between the axis line and the labels.
constexpr int kLabelGapX = 7;
constexpr int kLabelGapY = 8;

}  // namespace

TScale::TScale(const QString& name) : name_(name) { UpdateMapping(); }

void TScale::Assign(const TScaleProps& props) {
  rangeLow_ = props.RangeLow();
  rangeHigh_ = props.RangeHigh();
  logarithmic_ = props.Logarithmic();
  visible_ = props.Visible();
  caption_ = props.Caption();
  captionPosX_ = props.CaptionPosX();
  captionPosY_ = props.CaptionPosY();
  captionAlignment_ = props.CaptionAlignment();
  captionAnchor_ = props.CaptionAnchor();
  colorScale_ = props.ColorScale();
  decPlaces_ = props.DecPlaces();
  labelType_ = props.LabelType();
  shortTicks_ = props.ShortTicks();
  minTicks_ = props.MinTicks();
  labelStyle_.labelType = props.LabelType();
  labelStyle_.scaleInscript = props.ScaleInscript();
  labelStyle_.userTickText = props.UserTickText();
  font_ = props.Font();
  UpdateMapping();
}

void TScale::SetRange(double low, double high) {
  rangeLow_ = low;
  rangeHigh_ = high;
  UpdateMapping();
}

void TScale::SetLogarithmic(bool v) {
  logarithmic_ = v;
  UpdateMapping();
}

void TScale::SetScaleType(TScaleType v) {
  type_ = v;
  UpdateMapping();
}

void TScale::SetSize(int width, int height) {
  width_ = width;
  height_ = height;
  UpdateMapping();
}

void TScale::SetMarginLeft(int v) { marginLeft_ = v; UpdateMapping(); }
void TScale::SetMarginRight(int v) { marginRight_ = v; UpdateMapping(); }
void TScale::SetMarginTop(int v) { marginTop_ = v; UpdateMapping(); }
void TScale::SetMarginBottom(int v) { marginBottom_ = v; UpdateMapping(); }

void TScale::SetCanvas(Canvas* canvas, QPoint offset) {
  canvas_ = canvas;
  offset_ = offset;
}

long double TScale::Transform(long double v) const { return logarithmic_ ? std::log(v) : v; }

void TScale::UpdateMapping() {
  const long double lo = Transform(rangeLow_);
  const long double hi = Transform(rangeHigh_);
  long double len;
  long double k;
  long double start;
  if (IsHorizontal()) {
    len = static_cast<long double>(width_) - marginLeft_ - marginRight_ - 1;
    k = len / (hi - lo);
    start = marginLeft_;
    d_ = marginLeft_ - lo * k;
  } else {
    len = static_cast<long double>(height_) - marginTop_ - marginBottom_ - 1;
    k = len / (lo - hi);
    start = static_cast<long double>(height_) - marginBottom_ - 1;
    d_ = marginTop_ - hi * k;
  }
  k_ = k;
  // An empty or broken range has no scale: every value sits at the axis start.
  if (!std::isfinite(k) || !std::isfinite(d_)) {
    k_ = 0;
    d_ = start;
  }
}

int TScale::ScaleToPixel(double v) const {
  if (logarithmic_ && v <= kLogFloor) {
    const bool rising = rangeHigh_ >= rangeLow_;
    if (IsHorizontal()) return rising ? marginLeft_ : width_ - marginRight_ - 1;
    return rising ? height_ - marginBottom_ - 1 : marginTop_;
  }
  const long double p = k_ == 0 ? d_ : k_ * Transform(v) + d_;
  return LimitAndRound(static_cast<double>(p));
}

int TScale::AxisLine() const {
  switch (type_) {
    case TScaleType::sctXT: return marginTop_;
    case TScaleType::sctXB: return height_ - marginBottom_ - 1;
    case TScaleType::sctYR: return width_ - marginRight_ - 1;
    case TScaleType::sctYL: return marginLeft_;
  }
  return 0;
}

double TScale::Tick(int index) const {
  if (index < 1 || index > NumTicks()) return 0.0;
  return ticks_[static_cast<std::size_t>(index - 1)];
}

void TScale::AddTick(long double v) {
  if (NumTicks() < kMaxTicks) ticks_.push_back(static_cast<double>(v));
}

void TScale::DrawTick(int pos, int length, double value) {
  const int a = AxisLine();
  int x0, y0, x1, y1;
  switch (type_) {
    case TScaleType::sctXT: x0 = x1 = pos; y0 = a; y1 = a + length; break;
    case TScaleType::sctXB: x0 = x1 = pos; y0 = a; y1 = a - length; break;
    case TScaleType::sctYR: y0 = y1 = pos; x0 = a; x1 = a - length; break;
    default: y0 = y1 = pos; x0 = a; x1 = a + length; break;
  }
  canvas_->MoveTo(x0 + offset_.x(), y0 + offset_.y());
  canvas_->LineTo(x1 + offset_.x(), y1 + offset_.y());
  if (OnScaleTickDrawn) OnScaleTickDrawn(*this, *canvas_, type_, value, x0, y0);
}

void TScale::DrawLabel(int pos, const QString& text, int th0) {
  if (text.isEmpty()) return;
  const int a = AxisLine();
  const int tw = canvas_->TextWidth(text);
  int left, top;
  if (IsHorizontal()) {
    // Centred under the tick, but kept 2 pixels inside both chart edges.
    const int h = tw / 2;
    left = pos + h < width_ - 2 ? pos - std::min(h, pos - 2) : width_ - 2 * h - 2;
    top = type_ == TScaleType::sctXT ? a + kLabelGapX
                                     : a - canvas_->TextHeight(text) - kLabelGapX;
  } else {
    left = type_ == TScaleType::sctYR ? a - kLabelGapY - tw : a + kLabelGapY;
    top = pos - th0 / 2;
  }
  canvas_->TextOut(left + offset_.x(), top + offset_.y(), text);
}

void TScale::DrawCaption() {
  if (caption_.isEmpty()) return;
  const int a = AxisLine();
  int ax, ay;
  if (IsHorizontal()) {
    ay = a;
    switch (captionAnchor_) {
      case TScaleUnitAnchor::uaSclTopLft: ax = marginLeft_; break;
      case TScaleUnitAnchor::uaSclCenter:
        ax = marginLeft_ + (width_ - marginLeft_ - marginRight_) / 2;
        break;
      default: ax = width_ - marginRight_; break;
    }
  } else {
    ax = a;
    switch (captionAnchor_) {
      case TScaleUnitAnchor::uaSclTopLft: ay = marginTop_; break;
      case TScaleUnitAnchor::uaSclCenter:
        ay = marginTop_ + (height_ - marginTop_ - marginBottom_) / 2;
        break;
      default: ay = height_ - marginBottom_; break;
    }
  }
  int x = ax + captionPosX_;
  const int y = ay + captionPosY_;
  const int tw = canvas_->TextWidth(caption_);
  if (captionAlignment_ == TAlignment::taRightJustify) x -= tw;
  if (captionAlignment_ == TAlignment::taCenter) x -= tw / 2;
  canvas_->TextOut(x + offset_.x(), y + offset_.y(), caption_);
}

void TScale::DrawLinearTicks(long double lo, long double hi, int minTicks) {
  const std::vector<TickMark> marks = LinearTicks(minTicks, lo, hi, shortTicks_);
  const int p = ResolveDecPlaces(decPlaces_, lo, hi);
  const int th0 = canvas_->TextHeight(QStringLiteral("0"));
  const bool horizontal = IsHorizontal();
  for (const TickMark& mark : marks) {
    const double v = static_cast<double>(mark.value);
    if (!mark.major) {
      DrawTick(ScaleToPixel(v), kMinorTick, v);
      AddTick(mark.value);
      continue;
    }
    // An x axis lists its major ticks only when it has no minor ones.
    if (!horizontal || !shortTicks_) AddTick(mark.value);
    const int pos = ScaleToPixel(v);
    DrawTick(pos, horizontal ? kMajorTickX : kMajorTickY, v);
    if (labelType_ != TFigType::ftNoFigs) {
      DrawLabel(pos, FormatTickLabel(mark.value, mark.index, p, lo, hi, labelStyle_), th0);
    }
  }
}

// Logarithmic axes: a labelled tick at every power of ten, with 2 and 5 times
// each power labelled too when fewer decades than wanted ticks are spanned,
// and the other multiples as minor ticks.
void TScale::DrawLogTicks(int minTicks) {
  const long double lo = std::min(rangeLow_, rangeHigh_);
  const long double hi = std::max(rangeLow_, rangeHigh_);
  const long double decades = std::log10(hi) - std::log10(lo);
  // A non-positive end (only a stored form can leave one) has no decades.
  if (!(decades >= 1) || !(lo > 0) || !std::isfinite(decades)) {
    DrawLinearTicks(rangeLow_, rangeHigh_, minTicks);
    return;
  }
  const bool denser = minTicks > decades + 0.5L;
  const long double e0 = std::floor(std::log10(lo));
  const long double e1 = std::ceil(std::log10(hi));
  const int th0 = canvas_->TextHeight(QStringLiteral("0"));
  const bool horizontal = IsHorizontal();
  int index = 0;
  for (long double e = e0; e <= e1 && e - e0 < kMaxTickLoops; e += 1) {
    const long double power = std::pow(10.0L, e);
    for (int m = 1; m <= 9; ++m) {
      const long double v = m * power;
      if (v < lo * (1 - 1e-12L) || v > hi * (1 + 1e-12L)) continue;
      const bool major = m == 1 || (denser && (m == 2 || m == 5));
      if (!major) {
        if (shortTicks_) {
          DrawTick(ScaleToPixel(static_cast<double>(v)), kMinorTick, static_cast<double>(v));
          AddTick(v);
        }
        continue;
      }
      ++index;
      AddTick(v);
      const int pos = ScaleToPixel(static_cast<double>(v));
      DrawTick(pos, horizontal ? kMajorTickX : kMajorTickY, static_cast<double>(v));
      if (labelType_ == TFigType::ftNoFigs) continue;
      QString text;
      if (labelType_ == TFigType::ftUserText) {
        text = FormatTickLabel(v, index, 0, lo, hi, labelStyle_);
      } else {
        if (decPlaces_ == -3 && m == 1) {
          text = QString::number(static_cast<int>(e));
        } else if (decPlaces_ == -2 || decPlaces_ == -3) {
          // Enough decimals for the power, then the trailing zeros trimmed.
          text = FormatTickLabel(v, index, static_cast<int>(std::max(0.0L, -e)), lo, hi);
          if (text.contains(QLatin1Char('.'))) {
            while (text.endsWith(QLatin1Char('0'))) text.chop(1);
            if (text.endsWith(QLatin1Char('.'))) text.chop(1);
          }
        } else {
          text = FormatTickLabel(v, index, decPlaces_, lo, hi);
        }
        const QString& inscript = labelStyle_.scaleInscript;
        if (!inscript.isEmpty()) {
          const qsizetype amp = inscript.indexOf(QLatin1Char('&'));
          text = amp < 0 ? inscript + text : inscript.left(amp) + text + inscript.mid(amp + 1);
        }
      }
      DrawLabel(pos, text, th0);
    }
  }
}

void TScale::DrawScale() {
  if (!visible_ || canvas_ == nullptr) return;
  canvas_->SetFont(font_);
  canvas_->SetFontColor(ResolveColor(colorScale_));
  if (OnBeforeScaleRendered) OnBeforeScaleRendered(*this, *canvas_);
  canvas_->SetPenColor(ResolveColor(colorScale_));
  canvas_->SetBrushStyle(BrushStyle::Clear);

  ticks_.clear();
  const int minTicks = std::clamp(minTicks_, 2, 10);
  if (logarithmic_) {
    DrawLogTicks(minTicks);
  } else {
    DrawLinearTicks(rangeLow_, rangeHigh_, minTicks);
  }
  DrawCaption();

  if (showBaseLine_) {
    const int a = AxisLine();
    if (IsHorizontal()) {
      canvas_->MoveTo(marginLeft_ + offset_.x(), a + offset_.y());
      canvas_->LineTo(width_ - marginRight_ - 1 + offset_.x(), a + offset_.y());
    } else {
      canvas_->MoveTo(a + offset_.x(), marginTop_ + offset_.y());
      canvas_->LineTo(a + offset_.x(), height_ - marginBottom_ - 1 + offset_.y());
    }
  }
  if (OnAfterScaleRendered) OnAfterScaleRendered(*this, *canvas_);
}

}  // namespace zelmora
