#include "ui/MainWindow.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>

#include <exception>

#include "ChartFonts.h"
#include "RChart.h"
#include "ui/Application.h"
#include "render/CellDrawing.h"
#include "render/ChartFeed.h"
#include "ui/DrawingImage.h"
#include "ui/ParameterText.h"

namespace zelmora {
namespace {

constexpr int kOuterWidth = 800;
constexpr int kOuterHeight = 724;

void SetLabelText(QLabel* label, const QString& text);

QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top, int width, int height) {
  auto* label = new QLabel(parent);
  label->setGeometry(left, top, width, height);
  SetLabelText(label, QString::fromUtf8(text));
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* text, int left, int top, int width, int height) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setGeometry(left, top, width, height);
  return button;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* text, int left, int top, bool checked) {
  auto* box = new QCheckBox(QString::fromUtf8(text), parent);
  box->setGeometry(left, top, 161, 17);
  box->setChecked(checked);
  return box;
}

QScrollBar* MakeScrollBar(QWidget* parent, int top, int min, int max, int position, int small,
                          int large) {
  auto* bar = new QScrollBar(Qt::Horizontal, parent);
  bar->setGeometry(148, top, 197, 15);
  bar->setRange(min, max);
  bar->setValue(position);
  bar->setSingleStep(small);
  bar->setPageStep(large);
  // Qt's scroll bars take no focus by themselves; these are controls of the tab order.
  bar->setFocusPolicy(Qt::StrongFocus);
  return bar;
}

// Labels grow to show their whole text, as wide as the font needs; a right-aligned label grows
// to the left so its right edge stays put.
void SetLabelText(QLabel* label, const QString& text) {
  label->setText(text);
  const int needed = label->fontMetrics().horizontalAdvance(text) + 1;
  if (needed <= label->width()) return;
  QRect box = label->geometry();
  if (label->alignment() & Qt::AlignRight) {
    box.setLeft(box.right() + 1 - needed);
  } else {
    box.setWidth(needed);
  }
  label->setGeometry(box);
}

// The keys of a focused scroll bar or track bar: Left and Up move it by its small change towards
// the minimum, Right and Down towards the maximum, Page Up and Page Down by its large change, Home
// and End to the ends. Qt's own keys differ between the two kinds (its scroll bars even move left
// on Right), so both get this one table.
class SliderKeys : public QObject {
 public:
  using QObject::QObject;

  void Attach(QAbstractSlider* control) { control->installEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    auto* control = static_cast<QAbstractSlider*>(watched);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & ~Qt::KeypadModifier) return false;
    QAbstractSlider::SliderAction action = QAbstractSlider::SliderNoAction;
    switch (key->key()) {
      case Qt::Key_Left:
      case Qt::Key_Up: action = QAbstractSlider::SliderSingleStepSub; break;
      case Qt::Key_Right:
      case Qt::Key_Down: action = QAbstractSlider::SliderSingleStepAdd; break;
      case Qt::Key_PageUp: action = QAbstractSlider::SliderPageStepSub; break;
      case Qt::Key_PageDown: action = QAbstractSlider::SliderPageStepAdd; break;
      case Qt::Key_Home: action = QAbstractSlider::SliderToMinimum; break;
      case Qt::Key_End: action = QAbstractSlider::SliderToMaximum; break;
      default: return false;
    }
    control->triggerAction(action);  // a change like the mouse's: valueChanged, then the label
    return true;
  }
};

// Qt's signals must not carry an exception out of a slot, so each handler hands an error that
// escapes it to the application's error handler right there.
template <typename Handler>
auto Guarded(TForm1* form, Handler handler) {
  return [form, handler]() {
    try {
      (form->*handler)();
    } catch (const std::exception& e) {
      TApplication::ShowError(QString::fromStdString(e.what()));
    }
  };
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent), world_(*this, *this) {
  setWindowTitle("Zelmora");
  setFont(TahomaFont(10));
  setAutoFillBackground(true);  // the platform's button face behind the controls
  setBackgroundRole(QPalette::Button);
  // A window's position is that of its frame: the window manager puts the frame's top-left at
  // (0, 0), caption and all. The size is the client area's until the frame is known.
  resize(kOuterWidth, kOuterHeight);
  move(0, 0);
  CreateControls();
  FormCreate();
}

TForm1::~TForm1() { FormDestroy(); }

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  AdjustToFrame();
}

bool TForm1::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowActivate:
      AdjustToFrame();
      break;
    default:
      break;
  }
  return handled;
}

// 800 x 724 at (0, 0) are the outer bounds, frame included. A window manager frames the window
// only after it is shown, and the frame's arrival moves or resizes the client area: then the frame
// is taken off the client area, once, and the frame put back at (0, 0).
void TForm1::AdjustToFrame() {
  if (frameAdjusted_ || !isVisible()) return;
  const QRect outer = frameGeometry();
  const QRect inner = geometry();
  const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                       outer.right() - inner.right(), outer.bottom() - inner.bottom());
  if (frame.isNull()) return;  // not framed (yet, or ever)
  frameAdjusted_ = true;
  resize(kOuterWidth - frame.left() - frame.right(), kOuterHeight - frame.top() - frame.bottom());
  move(0, 0);
}

void TForm1::CreateControls() {
  lbl_Steps = new QLabel(this);
  lbl_Steps->setObjectName("lbl_Steps");  // found by name from outside, e.g. by the package's test
  lbl_Steps->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lbl_Steps->setGeometry(646, 88, 39, 12);
  SetLabelText(lbl_Steps, "lbl_Steps");
  lbl_timesteps = MakeLabel(this, ": timesteps", 688, 88, 47, 12);
  Lbl_TextAnzahl = MakeLabel(this, ": number of agents for setup", 472, 88, 129, 12);

  ZeichenPanel = new QFrame(this);
  ZeichenPanel->setGeometry(8, 9, 404, 404);
  ZeichenPanel->setFrameStyle(QFrame::Box | QFrame::Plain);
  ZeichenPanel->setLineWidth(1);

  B_setup = MakeButton(this, "new Setup", 428, 8, 75, 25);
  B_stop = MakeButton(this, "start / stop", 508, 8, 75, 25);

  RChart1 = new TRChart(this);
  RChart1->SetBounds(8, 424, 777, 265);
  SetUpChart(*RChart1);

  Edit_anzAg = new QLineEdit("800", this);
  Edit_anzAg->setGeometry(428, 80, 41, 20);
  B_oneStep = MakeButton(this, "one step", 508, 40, 75, 25);

  GroupBox3 = new QGroupBox("Economies of Scale : Parameters", this);
  GroupBox3->setGeometry(424, 260, 354, 117);
  GroupBox3->setFont(TahomaFont(11));
  {
    QPalette palette = GroupBox3->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Text));  // menu-text colour
    GroupBox3->setPalette(palette);
  }
  Label4 = MakeLabel(GroupBox3, "production costs:", 22, 35, 83, 13);
  Lbl_ProdKost = MakeLabel(GroupBox3, "____", 115, 35, 24, 13);
  Label9 = MakeLabel(GroupBox3, " travel expenses:", 21, 61, 84, 13);
  Lbl_FahrtKost = MakeLabel(GroupBox3, "____", 115, 61, 24, 13);
  Label12 = MakeLabel(GroupBox3, "returns to scale:", 26, 87, 79, 13);
  Lbl_Skalen = MakeLabel(GroupBox3, "____", 115, 87, 24, 13);
  for (QLabel* label : {Label4, Lbl_ProdKost, Label9, Lbl_FahrtKost, Label12, Lbl_Skalen}) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
  }
  SB_ProdKost = MakeScrollBar(GroupBox3, 32, 1, 500, 100, 1, 10);
  SB_FahrtKost = MakeScrollBar(GroupBox3, 58, 1, 100, 50, 1, 5);
  SB_Skalen = MakeScrollBar(GroupBox3, 84, 0, 400, 100, 1, 5);

  GroupBox1 = new QGroupBox("Segregation : Parameters", this);
  GroupBox1->setGeometry(424, 128, 354, 113);
  Lbl_TextSwelle = MakeLabel(GroupBox1, "threshold :", 18, 29, 49, 12);
  Lbl_B = MakeLabel(GroupBox1, "__8", 74, 29, 15, 12);
  Label2 = MakeLabel(GroupBox1, "=", 98, 29, 7, 12);
  Lbl_P = MakeLabel(GroupBox1, "___", 110, 29, 15, 12);
  Label5 = MakeLabel(GroupBox1, "%", 130, 29, 10, 12);
  Cb_segregat = MakeCheckBox(GroupBox1, "activate: segregation", 168, 16, true);
  Cb_toCenters = MakeCheckBox(GroupBox1, "activate: look for centers", 168, 40, true);
  Cb_showCatch = MakeCheckBox(GroupBox1, "show catchment areas", 168, 64, true);
  Cb_locP = MakeCheckBox(GroupBox1, "show local price scape", 168, 88, false);
  Button2 = MakeButton(GroupBox1, "gray cells", 80, 88, 75, 17);
  TrB_thresh = new QSlider(Qt::Horizontal, GroupBox1);
  TrB_thresh->setGeometry(8, 48, 153, 41);
  TrB_thresh->setRange(0, 8);
  TrB_thresh->setValue(3);
  TrB_thresh->setTickInterval(1);
  TrB_thresh->setTickPosition(QSlider::TicksBelow);
  TrB_thresh->setSingleStep(1);
  TrB_thresh->setPageStep(1);
  TrB_thresh->setFocusPolicy(Qt::StrongFocus);

  // A precise timer: one step per millisecond tick. Qt never queues missed ticks.
  Timer1 = new QTimer(this);
  Timer1->setTimerType(Qt::PreciseTimer);
  Timer1->setInterval(1);

  auto* keys = new SliderKeys(this);
  for (QAbstractSlider* control : {static_cast<QAbstractSlider*>(SB_ProdKost),
                                   static_cast<QAbstractSlider*>(SB_FahrtKost),
                                   static_cast<QAbstractSlider*>(SB_Skalen),
                                   static_cast<QAbstractSlider*>(TrB_thresh)}) {
    keys->Attach(control);
  }

  setTabOrder(ZeichenPanel, B_setup);
  setTabOrder(B_setup, B_stop);
  setTabOrder(B_stop, Edit_anzAg);
  setTabOrder(Edit_anzAg, B_oneStep);
  setTabOrder(B_oneStep, SB_ProdKost);
  setTabOrder(SB_ProdKost, SB_FahrtKost);
  setTabOrder(SB_FahrtKost, SB_Skalen);
  setTabOrder(SB_Skalen, Cb_segregat);
  setTabOrder(Cb_segregat, Cb_toCenters);
  setTabOrder(Cb_toCenters, Cb_showCatch);
  setTabOrder(Cb_showCatch, Cb_locP);
  setTabOrder(Cb_locP, Button2);
  setTabOrder(Button2, TrB_thresh);

  connect(Timer1, &QTimer::timeout, this, Guarded(this, &TForm1::Timer1Timer));
  connect(B_setup, &QPushButton::clicked, this, Guarded(this, &TForm1::B_setupClick));
  connect(B_stop, &QPushButton::clicked, this, Guarded(this, &TForm1::B_stopClick));
  connect(B_oneStep, &QPushButton::clicked, this, Guarded(this, &TForm1::B_oneStepClick));
  connect(Button2, &QPushButton::clicked, this, Guarded(this, &TForm1::Button2Click));
  connect(SB_ProdKost, &QScrollBar::valueChanged, this, Guarded(this, &TForm1::SB_ProdKostChange));
  connect(SB_FahrtKost, &QScrollBar::valueChanged, this, Guarded(this, &TForm1::SB_FahrtKostChange));
  connect(SB_Skalen, &QScrollBar::valueChanged, this, Guarded(this, &TForm1::SB_SkalenChange));
  connect(TrB_thresh, &QSlider::valueChanged, this, Guarded(this, &TForm1::TrB_threshChange));

  Timer1->start();  // enabled when the window is created; ticks come once the event loop runs
}

void TForm1::FormCreate() {
  World& w = world_;
  w.SizeGrid(ZeichenPanel->width(), ZeichenPanel->height());
  w.Agents.clear();
  CreateDrawingImage();
  w.CreateGrid();
  w.CreateAgents();
  // The panel is double-buffered by Qt already; the bitmap reaches it in one copy per repaint.
  w.StepCount = 0;
  w.SweepCount = 0;
  SB_SkalenChange();
  SB_ProdKostChange();
  SB_FahrtKostChange();
  TrB_threshChange();
  SetChartRanges(*RChart1);
}

void TForm1::CreateDrawingImage() {
  DrawingImage = new TDrawingImage(ZeichenPanel);
  // The image fills the panel inside its border.
  const QRect inside = ZeichenPanel->contentsRect();
  DrawingImage->SetBounds(inside.left(), inside.top(), inside.width(), inside.height());
}

void TForm1::FormDestroy() {
  Timer1->stop();
  delete DrawingImage;
  DrawingImage = nullptr;
  delete ZeichenPanel;
  ZeichenPanel = nullptr;
  std::vector<TAgent>().swap(world_.Agents);
}

void TForm1::Timer1Timer() { world_.SimulationStep(); }

void TForm1::B_stopClick() {
  if (Timer1->isActive()) {
    Timer1->stop();
  } else {
    Timer1->start();
  }
}

void TForm1::B_oneStepClick() {
  Timer1->stop();
  world_.SimulationStep();
}

void TForm1::B_setupClick() {
  // A refused agent count ends the setup here; the application's handler shows the error.
  world_.NewSetup();
}

void TForm1::SB_ProdKostChange() { SetLabelText(Lbl_ProdKost, ProductionCostText(SB_ProdKost->value())); }

void TForm1::SB_FahrtKostChange() { SetLabelText(Lbl_FahrtKost, TravelCostText(SB_FahrtKost->value())); }

void TForm1::SB_SkalenChange() { SetLabelText(Lbl_Skalen, ReturnsToScaleText(SB_Skalen->value())); }

void TForm1::TrB_threshChange() {
  SetLabelText(Lbl_B, ThresholdFractionText(TrB_thresh->value()));
  SetLabelText(Lbl_P, ThresholdPercentText(TrB_thresh->value()));
}

void TForm1::Button2Click() { world_.GrayCells(); }

double TForm1::ReturnsToScale() const { return ParseLabelNumber(Lbl_Skalen->text()); }
double TForm1::ProductionCost() const { return ParseLabelNumber(Lbl_ProdKost->text()); }
double TForm1::TravelCost() const { return ParseLabelNumber(Lbl_FahrtKost->text()); }
double TForm1::ThresholdPercent() const { return ParseLabelNumber(Lbl_P->text()); }
bool TForm1::PriceScapeShown() const { return Cb_locP->isChecked(); }
bool TForm1::SegregationActive() const { return Cb_segregat->isChecked(); }
bool TForm1::LookForCentersActive() const { return Cb_toCenters->isChecked(); }
bool TForm1::CatchmentShown() const { return Cb_showCatch->isChecked(); }
std::string TForm1::AgentCountText() const { return Edit_anzAg->text().toStdString(); }

void TForm1::DrawCell(const TCell& cell, bool showCatchment) {
  zelmora::DrawCell(DrawingImage->GetCanvas(), cell, showCatchment);
  DrawingImage->Changed();
}

void TForm1::DrawAgent(const TAgent& agent) {
  zelmora::DrawAgent(DrawingImage->GetCanvas(), agent);
  DrawingImage->Changed();
}

void TForm1::ClearChart() {
  RChart1->ClearGraphics();
  RChart1->MovePen(0.0, 0.0);
}

void TForm1::ResetChartRange() { RChart1->Scale1Y()->SetRangeHigh(ChartRangeHigh); }

void TForm1::ShowStepCount(int stepCount) { SetLabelText(lbl_Steps, QString::number(stepCount)); }

void TForm1::FeedChart(const ChartPoint& point) { zelmora::FeedChart(*RChart1, point); }

}  // namespace zelmora
