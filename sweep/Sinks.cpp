#include "sweep/Sinks.h"

#include <cmath>
#include <fstream>

#include "simulation/Measures.h"
#include "simulation/World.h"

namespace zelmora::sweep {

CsvSink::CsvSink(const RunPlan& run, const std::string& path, bool means, RunMeasures* added, std::size_t count)
    : writer_(run, means), added_(added), addedValues_(added ? count : 0), path_(path) {
  if (means) means_.emplace();
}

void CsvSink::Stepped(const World& world) {
  if (means_ && world.StepCount > 0) means_->Add(world);
}

void CsvSink::Recorded(const World& world, const StepMeasures& measures) {
  if (added_) added_->Measure(measures, addedValues_);
  writer_.Append(rows_, world, measures, means_ ? &*means_ : nullptr, addedValues_);
  if (means_) means_->Restart();
  if (rows_.size() >= (std::size_t(1) << 16)) {
    if (!file_) file_ = std::make_unique<StreamedFile>(path_);
    file_->Write(rows_);
  }
}

void CsvSink::Settled(const World&, std::int32_t stopStep) { stopStep_ = stopStep; }

RunRows CsvSink::Release() {
  if (stopStep_ && file_) {
    // The rows written lack the stop step: they are copied through a new temporary with it, in
    // pieces, so a long run costs no more memory than it did while it ran.
    file_->Write(rows_);
    auto filled = std::make_unique<StreamedFile>(path_);
    std::ifstream in(file_->Temporary(), std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      rows_ += line;
      rows_ += '\n';
      if (rows_.size() < (std::size_t(1) << 16)) continue;
      FillStopStep(rows_, *stopStep_);
      filled->Write(rows_);
    }
    if (in.bad()) throw IoError(file_->Temporary(), "cannot be read back");
    file_ = std::move(filled);
  }
  if (stopStep_) FillStopStep(rows_, *stopStep_);
  if (!file_) return {std::move(rows_), nullptr};
  file_->Write(rows_);
  return {{}, std::move(file_)};
}

void ChartSink::Stepped(const World& world) {
  if (world.StepCount == 0) return;  // the chart begins after the first step
  if (world.Shape().markets <= YellowMarket) {
    charts_.SetNoYellowMarket();  // a line at 0 customers would show a market that is not there
    return;
  }
  const TCell& yellow = world.grid.At(world.Markets[YellowMarket].col, world.Markets[YellowMarket].row);
  charts_.Add(world.StepCount, {double(yellow.customers), yellow.unitCost});
}

void ChartSink::Recorded(const World& world, const StepMeasures& measures) {
  const double agents = double(world.Agents.size());
  charts_.Add(SegregationSample{world.StepCount, measures.percentSimilar, measures.meanClusterSize,
                                agents > 0 ? double(measures.unsatisfiedByRule) / agents : std::nan("")});
}

void SnapshotSink::Stepped(const World& world) {
  const bool listed = next_ < steps_.size() && steps_[next_] == world.StepCount;
  if (listed) ++next_;
  if (listed || every_.Picks(world.StepCount)) pictures_.SaveSnapshot(world, paths_.Snapshot(run_, world.StepCount));
  if (settled_ && next_ < steps_.size()) pictures_.SaveSnapshot(world, paths_.SettledSnapshot(run_, world.StepCount));
}

VideoSink::~VideoSink() = default;

void VideoSink::Stepped(const World& world) {
  if (!recorded_ && every_.Picks(world.StepCount)) AddFrame(world);
}

void VideoSink::Recorded(const World& world, const StepMeasures&) {
  if (recorded_) AddFrame(world);
}

void VideoSink::AddFrame(const World& world) {
  if (!pictures_.DrawFrame(world, frame_)) throw IoError(path_, "this program draws no video frames");
  if (!encoder_) encoder_ = std::make_unique<VideoEncoder>(path_, frame_.width, frame_.height, FramesPerSecond);
  encoder_->AddFrame(frame_.pixels.data(), frame_.stride);
}

void VideoSink::Finish() {
  if (encoder_) encoder_->Finish();
}

}  // namespace zelmora::sweep

namespace zelmora::sweep {

void PictureMaker::SavePicture(const std::string& path, std::string_view bytes) { WriteWhole(path, bytes); }

}  // namespace zelmora::sweep
