#include "ScaleProps.h"

#include <algorithm>
#include <cmath>

namespace zelmora {

namespace {
// Below this a value has no logarithm worth drawing.
constexpr double kLogFloor = 1e-100;
}  // namespace

TScaleProps::TScaleProps() = default;
TScaleProps::~TScaleProps() = default;

void TScaleProps::Changed() {
  if (onChange_) onChange_();
}

void TScaleProps::SetCaption(const QString& v) { caption_ = v; Changed(); }
void TScaleProps::SetCaptionPosX(int v) { captionPosX_ = v; Changed(); }
void TScaleProps::SetCaptionPosY(int v) { captionPosY_ = v; Changed(); }
void TScaleProps::SetCaptionAlignment(TAlignment v) { captionAlignment_ = v; Changed(); }
void TScaleProps::SetCaptionAnchor(TScaleUnitAnchor v) { captionAnchor_ = v; Changed(); }
void TScaleProps::SetColorScale(TColor v) { colorScale_ = v; Changed(); }
void TScaleProps::SetDecPlaces(int v) { decPlaces_ = std::clamp(v, -3, 12); Changed(); }
void TScaleProps::SetFont(const QFont& v) { font_ = v; Changed(); }
void TScaleProps::SetMinTicks(int v) { minTicks_ = v; Changed(); }
void TScaleProps::SetShortTicks(bool v) { shortTicks_ = v; Changed(); }
void TScaleProps::SetScaleInscript(const QString& v) { scaleInscript_ = v; Changed(); }
void TScaleProps::SetScalePos(int v) { scalePos_ = v; Changed(); }
void TScaleProps::SetUserTickText(const QString& v) { userTickText_ = v; Changed(); }
void TScaleProps::SetVisible(bool v) { visible_ = v; Changed(); }

void TScaleProps::SetLogarithmic(bool v) {
  if (!v || loading_) {
    logarithmic_ = v;
  } else if (rangeLow_ >= kLogFloor && rangeHigh_ >= kLogFloor &&
             labelType_ != TFigType::ftDateTime) {
    logarithmic_ = true;
  }
  Changed();
}

void TScaleProps::SetLabelType(TFigType v) {
  labelType_ = v;
  if (v == TFigType::ftDateTime) logarithmic_ = false;
  if (v == TFigType::ftTime) decPlaces_ = 4;
  Changed();
}

void TScaleProps::SetMinRange(double v) {
  if (!(v > kLogFloor)) return;  // also refuses NaN
  minRange_ = v;
  if (std::fabs(rangeHigh_ - rangeLow_) < v) {
    const double mid = (rangeLow_ + rangeHigh_) / 2;
    rangeLow_ = mid - v / 2;
    rangeHigh_ = mid + v / 2;
    Changed();
  }
}

// A NaN or infinite end would leave no mapping, no ticks and no labels that
// mean anything, so such a value is ignored like any other invalid setting.
void TScaleProps::SetRangeLow(double v) {
  if (std::isfinite(v)) {
    if (std::fabs(rangeHigh_ - v) < minRange_) {
      rangeLow_ = v;
      rangeHigh_ = v + minRange_;
    } else if (!(logarithmic_ && v < kLogFloor)) {
      rangeLow_ = v;
    }
  }
  Changed();
}

void TScaleProps::SetRangeHigh(double v) {
  if (std::isfinite(v)) {
    if (std::fabs(rangeLow_ - v) < minRange_) {
      rangeHigh_ = v;
      rangeLow_ = v - minRange_;
    } else if (!(logarithmic_ && v < kLogFloor)) {
      rangeHigh_ = v;
    }
  }
  Changed();
}

void TScaleProps::StoreRange(double low, double high) {
  rangeLow_ = low;
  rangeHigh_ = high;
}

TScaleType TScalePropsHoriz::ScaleType() const {
  return location_ == TScaleLocationHoriz::slBottom ? TScaleType::sctXT : TScaleType::sctXB;
}

void TScalePropsHoriz::SetScaleLocation(TScaleLocationHoriz v) { location_ = v; Changed(); }

TScaleType TScalePropsVert::ScaleType() const {
  return location_ == TScaleLocationVert::slLeft ? TScaleType::sctYR : TScaleType::sctYL;
}

void TScalePropsVert::SetScaleLocation(TScaleLocationVert v) { location_ = v; Changed(); }

}  // namespace zelmora
