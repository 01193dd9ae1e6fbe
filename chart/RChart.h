#pragma once

#include "Canvas.h"
#include "FrameThrottle.h"
#include "ChartExtras.h"
#include "ChartTypes.h"
#include "ItemStore.h"
#include "JointLayers.h"
#include "LayerMapping.h"
#include "Scale.h"
#include "ScaleProps.h"

#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <vector>

namespace zelmora {

// A line chart that keeps drawing items in data units on two layers and draws
// them again, through its axis scales, at every repaint. All drawing goes to
// two off-screen images (ControlImage, DataImage); only finished images reach
// the window.
//
// Painting and the window: PresentImage copies a finished image into the
// window image (PresentedImage) and schedules a Qt update; paintEvent only
// copies the window image. A paint event that the chart did not schedule
// (window uncovered, exposed, ...) runs PaintChart first. So the drawing
// commands never wait for the screen.
//
// PaintSuspended is set by the constructor and cleared by WindowCreated,
// which the first showEvent calls (and which headless users may call
// themselves). Before that PaintChart draws nothing and PresentImage keeps
// nothing, so a RefreshChart before the window is shown only brings
// DataImage up to date.
//
// "Visible" below means not explicitly hidden (setVisible(false)), whether or
// not the parent window is shown yet.
class TCustomRChart : public QWidget {
  Q_OBJECT

 public:
  using RenderHandler =
      std::function<void(TCustomRChart& sender, Canvas& canvas, int top, int left)>;
  using TickDrawnHandler = std::function<void(TCustomRChart& sender, Canvas& canvas,
                                              TScaleType type, double value, int x, int y)>;

  explicit TCustomRChart(QWidget* parent = nullptr);
  ~TCustomRChart() override;

  // ---- sub-objects
  TScalePropsHoriz* Scale1X() { return scale1X_.get(); }
  TScalePropsVert* Scale1Y() { return scale1Y_.get(); }
  TScalePropsHoriz* Scale2X() { return scale2X_.get(); }
  TScalePropsVert* Scale2Y() { return scale2Y_.get(); }
  TScaleProps* ScalePropsX(int layer);
  TScaleProps* ScalePropsY(int layer);
  // The axis objects "RC_FScale_X_1" ... "RC_FScale_Y_2".
  TScale* ScaleX(int layer) { return &axes_[AxisIndex(layer, true)]; }
  TScale* ScaleY(int layer) { return &axes_[AxisIndex(layer, false)]; }
  TJointLayers* JointLayers() { return &joints_; }
  TCrossHair* CrossHair1() { return &crossHairs_[0]; }
  TCrossHair* CrossHair2() { return &crossHairs_[1]; }
  TCrossHair* CrossHair3() { return &crossHairs_[2]; }
  TCrossHair* CrossHair4() { return &crossHairs_[3]; }
  // Text labels 1..20 (never shown by this chart).
  TTextLabel* TextLabel(int index);
  TBakGndImg* BackGroundImg() { return &backGroundImg_; }

  // ---- properties only stored
  int AllocSize() const { return store_.AllocSize(); }
  void SetAllocSize(int v) { store_.SetAllocSize(v); }
  bool AutoRedraw() const { return autoRedraw_; }
  void SetAutoRedraw(bool v) { autoRedraw_ = v; }
  TColor DataColor() const { return dataColor_; }
  void SetDataColor(TColor v) { dataColor_ = v; }
  zelmora::PenStyle PenStyle() const { return penStyle_; }
  void SetPenStyle(zelmora::PenStyle v) { penStyle_ = v; }
  int LineWidth() const { return lineWidth_; }
  void SetLineWidth(std::uint8_t v) { lineWidth_ = v; }
  int ClassDefault() const { return classDefault_; }
  // 255 is ignored.
  void SetClassDefault(std::uint8_t v);
  TMouseAction MouseAction() const { return mouseAction_; }
  void SetMouseAction(TMouseAction v) { mouseAction_ = v; }
  bool MouseCursorFixed() const { return mouseCursorFixed_; }
  void SetMouseCursorFixed(bool v) { mouseCursorFixed_ = v; }

  // ---- rims: DataImage resized, scales applied, mapping, repaint if AutoRedraw
  int LRim() const { return lRim_; }
  void SetLRim(int v);
  int RRim() const { return rRim_; }
  void SetRRim(int v);
  int TRim() const { return tRim_; }
  void SetTRim(int v);
  int BRim() const { return bRim_; }
  void SetBRim(int v);
  // Clamped to 0..32.
  int ShadowWidth() const { return shadowWidth_; }
  void SetShadowWidth(int v);

  // ---- looks: stored, then a repaint if AutoRedraw
  TColor ChartColor() const { return chartColor_; }
  void SetChartColor(TColor v);
  TColor ChartFrameColor() const { return chartFrameColor_; }
  void SetChartFrameColor(TColor v);
  TColor WindColor() const { return windColor_; }
  void SetWindColor(TColor v);
  TGridStyle GridStyle() const { return gridStyle_; }
  void SetGridStyle(TGridStyle v);
  TColor GridColor() const { return gridColor_; }
  void SetGridColor(TColor v);
  double GridDx() const { return gridDx_; }
  void SetGridDx(double v);
  double GridDy() const { return gridDy_; }
  void SetGridDy(double v);
  const QString& Caption() const { return caption_; }
  void SetCaption(const QString& v);
  int CaptionPosX() const { return captionPosX_; }
  void SetCaptionPosX(int v);
  int CaptionPosY() const { return captionPosY_; }
  void SetCaptionPosY(int v);
  TAlignment CaptionAlignment() const { return captionAlignment_; }
  void SetCaptionAlignment(TAlignment v);
  TCaptionAnchorHoriz CaptionAnchorHoriz() const { return captionAnchorHoriz_; }
  void SetCaptionAnchorHoriz(TCaptionAnchorHoriz v);
  TCaptionAnchorVert CaptionAnchorVert() const { return captionAnchorVert_; }
  void SetCaptionAnchorVert(TCaptionAnchorVert v);
  TShadowStyle ShadowStyle() const { return shadowStyle_; }
  void SetShadowStyle(TShadowStyle v);
  TColor ShadowColor() const { return shadowColor_; }
  void SetShadowColor(TColor v);
  TColor ShadowBakColor() const { return shadowBakColor_; }
  void SetShadowBakColor(TColor v);
  // Font style flags of text items (bold 1, italic 2, underline 4, strike 8).
  int TextFontStyle() const { return textFontStyle_; }
  void SetTextFontStyle(int v);
  TTextBkStyle TextBkStyle() const { return textBkStyle_; }
  void SetTextBkStyle(TTextBkStyle v);
  TColor TextBkColor() const { return textBkColor_; }
  void SetTextBkColor(TColor v);
  TAlignment TextAlignment() const { return textAlignment_; }
  void SetTextAlignment(TAlignment v);

  // ---- bounds: the size is raised to at least LRim + RRim + ShadowWidth + 80
  // by TRim + BRim + ShadowWidth + 20, the widget's geometry set, the scales
  // resized, the mapping updated, then a repaint if AutoRedraw.
  void SetBounds(int left, int top, int width, int height);
  int ChartWidth() const { return width_; }
  int ChartHeight() const { return height_; }

  // ---- layers and mapping
  int CurrentLayer() const { return currentLayer_; }
  virtual void UpdateLayerMapping();
  // Layer numbers below 1 count as 1, above 2 as 2.
  const LayerMapping& Mapping(int layer) const;
  QPoint DataToPixel(int layer, double x, double y) const;
  // Copies all four TScaleProps into their axes, resets both layers' ranges
  // from them and repaints, whatever AutoRedraw is.
  void ScalePropsChanged();
  // Sets a layer's ranges (an axis that follows another layer keeps its
  // range), passes them on to the layers that follow it, and repaints unless
  // painting was already suspended.
  void SetLayerRanges(int layer, double xLow, double xHigh, double yLow, double yHigh);

  // ---- painting
  bool PaintSuspended() const { return paintSuspended_; }
  // The window exists: painting may start (no repaint by itself).
  void WindowCreated();
  // Full repaint: background, caption, scales, items, frame, then presented.
  void PaintChart();
  // DataImage resized and filled with ChartColor inside a ChartFrameColor ring.
  void ClearDataImage();
  // Every item in store order on a canvas in DataImage coordinates, then the
  // data-area frame.
  void RenderItems(Canvas& canvas);
  // Copies a finished image into the window image at (left, top) and
  // schedules the window's repaint; nothing before WindowCreated.
  void PresentImage(const Canvas& image, int left, int top);

  // ---- stored-form loading
  void BeginLoading();
  bool Loading() const { return loading_; }
  // The hook after the settings were loaded: scales applied, mapping, repaint.
  void Loaded();

  // ---- inspection
  const ItemStore& Items() const { return store_; }
  int ItemCount() const { return static_cast<int>(store_.Count()); }
  int ItemCapacity() const { return static_cast<int>(store_.Capacity()); }
  const ChartItem& Item(int index) const { return store_[static_cast<std::size_t>(index)]; }
  const Canvas& ControlImage() const { return controlImage_; }
  const Canvas& DataImage() const { return dataImage_; }
  // What the window shows (or will show at its next paint event).
  const QImage& PresentedImage() const { return window_.Image(); }
  // Full repaints drawn (PaintChart calls that were not suppressed).
  int PaintCount() const { return paintCount_; }
  // Images handed to the window by PresentImage.
  int PresentCount() const { return presentCount_; }
  // Paint events handled, and those that came from the window system.
  int PaintEventCount() const { return paintEventCount_; }
  int SystemPaintCount() const { return systemPaintCount_; }
  // An update of ours was asked of the window and its paint event has not come.
  bool UpdatePending() const { return updatePending_; }

  // ---- events (none needed by the program)
  RenderHandler OnScalesRendered;
  RenderHandler OnBeforeRenderData;
  RenderHandler OnDataRendered;
  TickDrawnHandler OnScaleTickDrawn;

 protected:
  // ---- drawing commands, published by TRChart
  // 1 or 2 becomes CurrentLayer (then a repaint if AutoRedraw); anything else
  // is ignored entirely.
  void SelectLayer(int layer);
  // Append an item on CurrentLayer; never repaint.
  void MovePen(double x, double y);
  void AddLine(double x1, double y1, double x2, double y2);
  // Empties the store and DataImage; the window keeps its picture.
  void ClearGraphics();
  // AutoRedraw: only the data area is redrawn and presented; otherwise a
  // full repaint. Nothing while hidden.
  void RefreshChart();

  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  static int AxisIndex(int layer, bool x) { return (x ? 0 : 2) + (layer == 2 ? 1 : 0); }
  bool IsShownState() const;
  ChartGeometry Geometry() const;
  void RepaintIfAuto();
  // A setting that changes how the chart looks: the rims are drawn afresh.
  void LooksChanged();
  QRect DataRect() const;
  bool ReuseRims(TColor wind);
  void KeepRims(TColor wind, const QFont& captionFont, TColor captionColor);
  void RimsChanged();
  void ApplyScaleProps(int layer, bool x);
  void ApplyAllScales();
  void StoreLayerRanges(int layer, double xLow, double xHigh, double yLow, double yHigh);
  void OnJoined(int layer, bool xAxis);
  void DrawChartCaption(Canvas& canvas);
  void FillOutsideDataArea(Canvas& canvas, TColor color);
  void MapItems();
  void AddItem(unsigned char kind, double x1, double y1, double x2, double y2);

  std::unique_ptr<TScalePropsHoriz> scale1X_;
  std::unique_ptr<TScalePropsVert> scale1Y_;
  std::unique_ptr<TScalePropsHoriz> scale2X_;
  std::unique_ptr<TScalePropsVert> scale2Y_;
  // X1, X2, Y1, Y2.
  std::array<TScale, 4> axes_;
  std::array<TCrossHair, 4> crossHairs_;
  std::array<TTextLabel, 20> textLabels_;
  TBakGndImg backGroundImg_;
  TJointLayers joints_;

  Canvas controlImage_;
  Canvas dataImage_;
  // The window's picture, copied to the screen by paintEvent.
  Canvas window_;
  // A second full-size buffer: ControlImage swaps to it when the window still
  // shares its last picture, so a repaint neither allocates nor copies it.
  QImage spareControl_;
  // End points of the items in control pixels, rewritten by every
  // RenderItems (scratch space, not kept between repaints).
  std::vector<QPoint> mapped_;
  // ControlImage as the last full drawing of background, caption and scales
  // left it, with what that drawing depended on.
  struct RimCache {
    bool valid = false;
    quint64 version = 0;
    TColor wind = 0;
    QFont captionFont;
    TColor captionColor = 0;
    QFont endFont;
    TColor endFontColor = 0;
    TColor endPenColor = 0;
    QImage image;
  };
  RimCache rims_;
  quint64 looksVersion_ = 0;
  ItemStore store_;
  std::array<LayerMapping, 2> mappings_;
  // Each layer's ranges as SetLayerRanges last stored them: what an axis that
  // follows another layer keeps.
  struct LayerRanges {
    double xLow = 0.0, xHigh = 1.0, yLow = 0.0, yHigh = 1.0;
  };
  std::array<LayerRanges, 2> layerRanges_;

  int width_ = 0;
  int height_ = 0;
  int currentLayer_ = 1;
  bool autoRedraw_ = true;
  TColor dataColor_ = colors::kBlack;
  zelmora::PenStyle penStyle_ = zelmora::PenStyle::Solid;
  int lineWidth_ = 1;
  int classDefault_ = 0;
  int lRim_ = 50;
  int rRim_ = 20;
  int tRim_ = 20;
  int bRim_ = 40;
  int shadowWidth_ = 0;
  TColor chartColor_ = colors::kWhite;
  TColor chartFrameColor_ = colors::kBlack;
  TColor windColor_ = clBtnFace;
  TGridStyle gridStyle_ = TGridStyle::gsNone;
  TColor gridColor_ = colors::kBlack;
  double gridDx_ = 0;
  double gridDy_ = 0;
  QString caption_;
  int captionPosX_ = 0;
  int captionPosY_ = -16;
  TAlignment captionAlignment_ = TAlignment::taRightJustify;
  TCaptionAnchorHoriz captionAnchorHoriz_ = TCaptionAnchorHoriz::cahChartRight;
  TCaptionAnchorVert captionAnchorVert_ = TCaptionAnchorVert::cavChartTop;
  TMouseAction mouseAction_ = TMouseAction::maNone;
  bool mouseCursorFixed_ = true;
  TShadowStyle shadowStyle_ = TShadowStyle::ssFlying;
  TColor shadowColor_ = clGrayText;
  TColor shadowBakColor_ = clBtnFace;
  int textFontStyle_ = 0;
  TTextBkStyle textBkStyle_ = TTextBkStyle::tbClear;
  TColor textBkColor_ = colors::kWhite;
  TAlignment textAlignment_ = TAlignment::taCenter;

  bool paintSuspended_ = true;
  bool windowCreated_ = false;
  bool loading_ = false;
  // Set while our own update() is pending, so paintEvent only copies.
  bool updatePending_ = false;
  // The finished image reaches the screen at most once a frame.
  // updatePending_ marks the paint event as ours, not the window system's.
  FrameThrottle throttle_{[this]() {
    updatePending_ = true;
    update();
  }};
  bool inPaintEvent_ = false;
  int paintCount_ = 0;
  int presentCount_ = 0;
  int paintEventCount_ = 0;
  int systemPaintCount_ = 0;
};

// The chart as the program uses it: publishes the drawing commands.
class TRChart : public TCustomRChart {
  Q_OBJECT

 public:
  explicit TRChart(QWidget* parent = nullptr);

  using TCustomRChart::AddLine;
  using TCustomRChart::ClearGraphics;
  using TCustomRChart::MovePen;
  using TCustomRChart::RefreshChart;
  using TCustomRChart::SelectLayer;
};

}  // namespace zelmora
