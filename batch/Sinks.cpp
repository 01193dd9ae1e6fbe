#include "batch/Sinks.h"

#include <cmath>

#include "simulation/Measures.h"
#include "simulation/World.h"

namespace zelmora::batch {

CsvSink::CsvSink(const RunPlan& run, std::int32_t cols, std::int32_t rows, const std::string& path)
    : writer_(run, cols, rows), file_(std::make_unique<StreamedFile>(path)) {}

void CsvSink::Recorded(const World& world, const StepMeasures& measures) {
  writer_.Append(rows_, world, measures);
  if (rows_.size() >= (std::size_t(1) << 16)) file_->Write(rows_);
}

std::unique_ptr<StreamedFile> CsvSink::Release() {
  file_->Write(rows_);
  return std::move(file_);
}

void ChartSink::Stepped(const World& world) {
  if (world.StepCount == 0) return;  // the chart begins after the first step
  const TCell& yellow = world.grid.At(world.Markets[YellowMarket].col, world.Markets[YellowMarket].row);
  market_.push_back({world.StepCount, double(yellow.customers), yellow.unitCost});
  if (market_.size() > MarketKept) market_.pop_front();
}

void ChartSink::Recorded(const World& world, const StepMeasures& measures) {
  const double agents = double(world.Agents.size());
  last_ = {world.StepCount, measures.percentSimilar, measures.meanClusterSize,
           agents > 0 ? double(measures.unsatisfied) / agents : std::nan("")};
  if (recorded_++ % stride_ != 0) return;
  segregation_.push_back(last_);
  if (segregation_.size() < SegregationKept) return;
  // Full: keep every other sample, those at multiples of the doubled stride.
  std::size_t kept = 0;
  for (std::size_t k = 0; k < segregation_.size(); k += 2) segregation_[kept++] = segregation_[k];
  segregation_.resize(kept);
  stride_ *= 2;
}

ChartSamples ChartSink::Take() {
  ChartSamples samples;
  samples.market.assign(market_.begin(), market_.end());
  samples.segregation = std::move(segregation_);
  if (recorded_ > 0 && (samples.segregation.empty() || samples.segregation.back().step != last_.step)) {
    samples.segregation.push_back(last_);
  }
  return samples;
}

void SnapshotSink::Stepped(const World& world) {
  if (next_ < steps_.size() && steps_[next_] == world.StepCount) {
    pictures_.SaveSnapshot(world, paths_.Snapshot(run_, world.StepCount));
    ++next_;
  }
}

}  // namespace zelmora::batch

namespace zelmora::batch {

void PictureMaker::SavePicture(const std::string& path, std::string_view bytes) { WriteWhole(path, bytes); }

}  // namespace zelmora::batch
