#pragma once

#include "ChartTypes.h"
#include "Canvas.h"

#include <QString>

#include <functional>

namespace zelmora {

// Settings the chart stores and reports but never draws in this program:
// crosshairs other than chOff, text labels and background pictures.

enum class TCrossHairMode { chOff, chHoriz, chVert, chBoth };
enum class TBkgFill { bfSimple, bfStretch, bfTile };

class TCrossHair {
 public:
  using ChangeHandler = std::function<void()>;

  int Layer() const { return layer_; }
  void SetLayer(int v) { layer_ = v; Changed(); }
  TColor Color() const { return color_; }
  void SetColor(TColor v) { color_ = v; Changed(); }
  TCrossHairMode Mode() const { return mode_; }
  void SetMode(TCrossHairMode v) { mode_ = v; Changed(); }
  PenStyle LineType() const { return lineType_; }
  void SetLineType(PenStyle v) { lineType_ = v; Changed(); }
  int LineWidth() const { return lineWidth_; }
  void SetLineWidth(int v) { lineWidth_ = v; Changed(); }
  double PosX() const { return posX_; }
  void SetPosX(double v) { posX_ = v; Changed(); }
  double PosY() const { return posY_; }
  void SetPosY(double v) { posY_ = v; Changed(); }

  void SetOnChange(ChangeHandler handler) { onChange_ = std::move(handler); }

 private:
  void Changed() { if (onChange_) onChange_(); }

  int layer_ = 1;
  TColor color_ = colors::kBlack;
  TCrossHairMode mode_ = TCrossHairMode::chOff;
  PenStyle lineType_ = PenStyle::Solid;
  int lineWidth_ = 1;
  double posX_ = 0;
  double posY_ = 0;
  ChangeHandler onChange_;
};

class TTextLabel {
 public:
  QString Caption;
  double PosX = 0;
  double PosY = 0;
  int Layer = 1;
  bool Visible = false;
  TColor Color = colors::kBlack;
};

class TBakGndImg {
 public:
  using ChangeHandler = std::function<void()>;

  const QString& Name() const { return name_; }
  void SetName(const QString& v) { name_ = v; Changed(); }
  bool IncludePath() const { return includePath_; }
  void SetIncludePath(bool v) { includePath_ = v; Changed(); }
  TBkgFill FillMode() const { return fillMode_; }
  void SetFillMode(TBkgFill v) { fillMode_ = v; Changed(); }

  void SetOnChange(ChangeHandler handler) { onChange_ = std::move(handler); }

 private:
  void Changed() { if (onChange_) onChange_(); }

  QString name_;
  bool includePath_ = false;
  TBkgFill fillMode_ = TBkgFill::bfStretch;
  ChangeHandler onChange_;
};

}  // namespace zelmora
