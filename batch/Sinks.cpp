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
  charts_.Add(world.StepCount, {double(yellow.customers), yellow.unitCost});
}

void ChartSink::Recorded(const World& world, const StepMeasures& measures) {
  const double agents = double(world.Agents.size());
  charts_.Add(SegregationSample{world.StepCount, measures.percentSimilar, measures.meanClusterSize,
                                agents > 0 ? double(measures.unsatisfiedByRule) / agents : std::nan("")});
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
