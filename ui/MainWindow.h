#pragma once

#include <QWidget>

#include "simulation/ModelPorts.h"
#include "simulation/World.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QSlider;
class QTimer;

namespace zelmora {

class TDrawingImage;
class TRChart;

// The one window: it owns the controls, the drawing surface, the chart and the World. The World
// reads its parameters from the labels and check boxes here and draws through this window.
class TForm1 : public QWidget, private ModelInputs, private WorldView {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  World& GetWorld() { return world_; }

  // Controls, with the names the program has always given them.
  QLabel* lbl_Steps;
  QLabel* lbl_timesteps;
  QLabel* Lbl_TextAnzahl;
  QFrame* ZeichenPanel;
  QPushButton* B_setup;
  QPushButton* B_stop;
  TRChart* RChart1;
  QLineEdit* Edit_anzAg;
  QPushButton* B_oneStep;
  QGroupBox* GroupBox3;
  QLabel* Label4;
  QLabel* Lbl_ProdKost;
  QLabel* Label9;
  QLabel* Lbl_FahrtKost;
  QLabel* Label12;
  QLabel* Lbl_Skalen;
  QScrollBar* SB_ProdKost;
  QScrollBar* SB_FahrtKost;
  QScrollBar* SB_Skalen;
  QGroupBox* GroupBox1;
  QLabel* Lbl_TextSwelle;
  QLabel* Lbl_B;
  QLabel* Label2;
  QLabel* Lbl_P;
  QLabel* Label5;
  QCheckBox* Cb_segregat;
  QCheckBox* Cb_toCenters;
  QCheckBox* Cb_showCatch;
  QCheckBox* Cb_locP;
  QPushButton* Button2;
  QSlider* TrB_thresh;
  QTimer* Timer1;
  TDrawingImage* DrawingImage = nullptr;

  // Handlers.
  void FormCreate();
  void FormDestroy();
  void Timer1Timer();
  void B_setupClick();
  void B_stopClick();
  void B_oneStepClick();
  void SB_ProdKostChange();
  void SB_FahrtKostChange();
  void SB_SkalenChange();
  void TrB_threshChange();
  void Button2Click();

  void CreateDrawingImage();
  void SimulationStep() { world_.SimulationStep(); }

 protected:
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void CreateControls();
  void AdjustToFrame();

  // ModelInputs: the parameter labels, the check boxes and the agent count box.
  double ReturnsToScale() const override;
  double ProductionCost() const override;
  double TravelCost() const override;
  double ThresholdPercent() const override;
  bool PriceScapeShown() const override;
  bool SegregationActive() const override;
  bool LookForCentersActive() const override;
  bool CatchmentShown() const override;
  std::string AgentCountText() const override;

  // WorldView: the drawing surface, the step counter and the chart.
  void DrawCell(const TCell& cell, bool showCatchment) override;
  void DrawAgent(const TAgent& agent) override;
  void ClearChart() override;
  void ResetChartRange() override;
  void ShowStepCount(int stepCount) override;
  void FeedChart(const ChartPoint& point) override;

  World world_;
  bool frameAdjusted_ = false;
};

}  // namespace zelmora
