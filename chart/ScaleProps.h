#pragma once

#include "ChartTypes.h"

#include <QFont>
#include <QString>

#include <functional>

namespace zelmora {

enum class TTimeFormat { tfHHMMSS, tfHHhMM, tfAMPM };
enum class TYearLength { ylNone, ylYY, ylYYYY };
enum class TDateOrder { doDDMMYY, doMMDDYY, doYYMMDD };
enum class TDateForTime { dtNone, dtOnePerDay, dtOnePerChart, dtAllTicks };

// Format of date and time labels. Stored and reported only: the axes label
// time values numerically.
class TDTLabel {
 public:
  using ChangeHandler = std::function<void()>;

  TTimeFormat TimeFormat() const { return timeFormat_; }
  void SetTimeFormat(TTimeFormat v) { timeFormat_ = v; Changed(); }
  const QString& DateSeparator() const { return dateSeparator_; }
  void SetDateSeparator(const QString& v) { dateSeparator_ = v; Changed(); }
  const QString& TimeSeparator() const { return timeSeparator_; }
  void SetTimeSeparator(const QString& v) { timeSeparator_ = v; Changed(); }
  TYearLength YearLength() const { return yearLength_; }
  void SetYearLength(TYearLength v) { yearLength_ = v; Changed(); }
  bool MonthName() const { return monthName_; }
  void SetMonthName(bool v) { monthName_ = v; Changed(); }
  TDateOrder DateOrder() const { return dateOrder_; }
  void SetDateOrder(TDateOrder v) { dateOrder_ = v; Changed(); }
  TDateForTime DateForTime() const { return dateForTime_; }
  void SetDateForTime(TDateForTime v) { dateForTime_ = v; Changed(); }

  void SetOnChange(ChangeHandler handler) { onChange_ = std::move(handler); }

 private:
  void Changed() { if (onChange_) onChange_(); }

  TTimeFormat timeFormat_ = TTimeFormat::tfHHMMSS;
  QString dateSeparator_ = QStringLiteral("-");
  QString timeSeparator_ = QStringLiteral(":");
  TYearLength yearLength_ = TYearLength::ylYYYY;
  bool monthName_ = true;
  TDateOrder dateOrder_ = TDateOrder::doDDMMYY;
  TDateForTime dateForTime_ = TDateForTime::dtOnePerDay;
  ChangeHandler onChange_;
};

// The settings of one axis as the chart's user sets them. Every setter stores
// by its rule and then raises OnChange, also when nothing changed (MinRange
// only when it widens the range); the chart answers by copying all scales and
// repainting.
class TScaleProps {
 public:
  using ChangeHandler = std::function<void()>;

  TScaleProps();
  virtual ~TScaleProps();
  TScaleProps(const TScaleProps&) = delete;
  TScaleProps& operator=(const TScaleProps&) = delete;

  // Where the axis lies, as the axis object's placement.
  virtual TScaleType ScaleType() const = 0;

  const QString& Caption() const { return caption_; }
  void SetCaption(const QString& v);
  int CaptionPosX() const { return captionPosX_; }
  void SetCaptionPosX(int v);
  int CaptionPosY() const { return captionPosY_; }
  void SetCaptionPosY(int v);
  TAlignment CaptionAlignment() const { return captionAlignment_; }
  void SetCaptionAlignment(TAlignment v);
  TScaleUnitAnchor CaptionAnchor() const { return captionAnchor_; }
  void SetCaptionAnchor(TScaleUnitAnchor v);
  TColor ColorScale() const { return colorScale_; }
  void SetColorScale(TColor v);
  TDTLabel* DateFormat() { return &dateFormat_; }
  const TDTLabel* DateFormat() const { return &dateFormat_; }
  // Stored clamped to -3..12; -2 and -3 automatic, -1 scientific.
  int DecPlaces() const { return decPlaces_; }
  void SetDecPlaces(int v);
  // Font of labels and caption; its colour is ColorScale when drawn.
  const QFont& Font() const { return font_; }
  void SetFont(const QFont& v);
  bool Logarithmic() const { return logarithmic_; }
  // Refused while either range end is below 1e-100 or labels are ftDateTime,
  // except while loading.
  void SetLogarithmic(bool v);
  TFigType LabelType() const { return labelType_; }
  void SetLabelType(TFigType v);
  // Stored as given; axes use it clamped to 2..10.
  int MinTicks() const { return minTicks_; }
  void SetMinTicks(int v);
  double MinRange() const { return minRange_; }
  void SetMinRange(double v);
  double RangeLow() const { return rangeLow_; }
  void SetRangeLow(double v);
  double RangeHigh() const { return rangeHigh_; }
  void SetRangeHigh(double v);
  bool ShortTicks() const { return shortTicks_; }
  void SetShortTicks(bool v);
  const QString& ScaleInscript() const { return scaleInscript_; }
  void SetScaleInscript(const QString& v);
  int ScalePos() const { return scalePos_; }
  void SetScalePos(int v);
  const QString& UserTickText() const { return userTickText_; }
  void SetUserTickText(const QString& v);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);

  void SetOnChange(ChangeHandler handler) { onChange_ = std::move(handler); }

  // Stores both ends as they are, without the setters' rules and without
  // OnChange (the chart's own range bookkeeping).
  void StoreRange(double low, double high);

  // While loading from a stored form the Logarithmic check is suspended.
  bool Loading() const { return loading_; }
  void SetLoading(bool v) { loading_ = v; }

 protected:
  void Changed();

 private:
  QString caption_;
  int captionPosX_ = 0;
  int captionPosY_ = 0;
  TAlignment captionAlignment_ = TAlignment::taCenter;
  TScaleUnitAnchor captionAnchor_ = TScaleUnitAnchor::uaSclTopLft;
  TColor colorScale_ = colors::kBlack;
  TDTLabel dateFormat_;
  int decPlaces_ = -2;
  QFont font_;
  bool logarithmic_ = false;
  TFigType labelType_ = TFigType::ftNum;
  int minTicks_ = 3;
  double minRange_ = 1e-10;
  double rangeLow_ = 0.0;
  double rangeHigh_ = 1.0;
  bool shortTicks_ = true;
  QString scaleInscript_;
  int scalePos_ = 0;
  QString userTickText_;
  bool visible_ = false;
  bool loading_ = false;
  ChangeHandler onChange_;
};

class TScalePropsHoriz : public TScaleProps {
 public:
  TScaleType ScaleType() const override;
  TScaleLocationHoriz ScaleLocation() const { return location_; }
  void SetScaleLocation(TScaleLocationHoriz v);

 private:
  TScaleLocationHoriz location_ = TScaleLocationHoriz::slBottom;
};

class TScalePropsVert : public TScaleProps {
 public:
  TScaleType ScaleType() const override;
  TScaleLocationVert ScaleLocation() const { return location_; }
  void SetScaleLocation(TScaleLocationVert v);

 private:
  TScaleLocationVert location_ = TScaleLocationVert::slLeft;
};

}  // namespace zelmora
