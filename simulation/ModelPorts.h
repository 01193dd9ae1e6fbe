#pragma once

#include <string>

#include "simulation/ChartPoint.h"
#include "simulation/ModelShape.h"

namespace zelmora {

class TAgent;
class TCell;

// What the model reads from the window: the parameter labels, the check boxes and the agent
// count box. Each value is asked for where the phase that needs it starts, so a change made
// between two steps acts at the next step.
class ModelInputs {
 public:
  virtual ~ModelInputs() = default;
  virtual double ReturnsToScale() const = 0;
  virtual double ProductionCost() const = 0;
  virtual double TravelCost() const = 0;
  virtual double ThresholdPercent() const = 0;
  virtual bool PriceScapeShown() const = 0;       // "show local price scape"
  virtual bool SegregationActive() const = 0;     // "activate: segregation"
  virtual bool LookForCentersActive() const = 0;  // "activate: look for centers"
  virtual bool CatchmentShown() const = 0;        // "show catchment areas"
  virtual std::string AgentCountText() const = 0;
  // The model's structure, read at every setup: the window always runs the model of its design.
  virtual ModelShape Structure() const { return {}; }
};

// Plain values with the window's start settings, for runs without a window.
class ModelSettings : public ModelInputs {
 public:
  double returnsToScale = 1.0;
  double productionCost = 100.0;
  double travelCost = 1.0;
  double thresholdPercent = 37.5;
  bool priceScape = false;
  bool segregation = true;
  bool lookForCenters = true;
  bool showCatchment = true;
  std::string agentCount = "800";
  ModelShape shape;

  double ReturnsToScale() const override { return returnsToScale; }
  double ProductionCost() const override { return productionCost; }
  double TravelCost() const override { return travelCost; }
  double ThresholdPercent() const override { return thresholdPercent; }
  bool PriceScapeShown() const override { return priceScape; }
  bool SegregationActive() const override { return segregation; }
  bool LookForCentersActive() const override { return lookForCenters; }
  bool CatchmentShown() const override { return showCatchment; }
  std::string AgentCountText() const override { return agentCount; }
  ModelShape Structure() const override { return shape; }
};

// Where the model shows itself. Every call defaults to doing nothing, so the model runs and is
// tested without a screen.
class WorldView {
 public:
  virtual ~WorldView() = default;
  virtual void DrawCell(const TCell& /*cell*/, bool /*showCatchment*/) {}
  virtual void DrawAgent(const TAgent& /*agent*/) {}
  // The chart's part of a reset: ClearGraphics, then MovePen(0, 0).
  virtual void ClearChart() {}
  // A new setup puts the top of the chart's vertical range back to 200.
  virtual void ResetChartRange() {}
  virtual void ShowStepCount(int /*stepCount*/) {}
  // The chart's point of the step just completed.
  virtual void FeedChart(const ChartPoint& /*point*/) {}
  // False for a view whose DrawCell and DrawAgent do nothing: the fast step then skips the calls.
  virtual bool DrawsCells() const { return true; }
};

}  // namespace zelmora
