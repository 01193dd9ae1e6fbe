#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sweep/Output.h"
#include "sweep/Pictures.h"
#include "sweep/Record.h"
#include "sweep/Run.h"
#include "sweep/VideoEncoder.h"

namespace zelmora::sweep {

// A whole run's rows: in memory while they are few, else in a file not yet under its name.
struct RunRows {
  std::string text;
  std::unique_ptr<StreamedFile> file;
};

// The run's CSV rows, kept in memory up to about 64 KiB (a short run's rows go to the CSV from
// there), past that written to a temporary beside `path` as they are made, which the writer puts
// under its name (StreamedFile::Finish), so a run never finished leaves nothing. A run that
// settles has its stop step filled into every row by Release. With `means`, each row ends with
// the means of the per-step columns since the row before; with `added`, a front end's `count`
// columns after all of them.
class CsvSink : public RunSink {
 public:
  CsvSink(const RunPlan& run, const std::string& path, bool means = false, RunMeasures* added = nullptr,
          std::size_t count = 0);
  void Stepped(const World& world) override;
  void Recorded(const World& world, const StepMeasures& measures) override;
  void Settled(const World& world, std::int32_t stopStep) override;
  // Hands the rows over, whole.
  RunRows Release();

 private:
  RowWriter writer_;
  std::optional<StepMeans> means_;
  RunMeasures* added_;
  std::vector<double> addedValues_;
  std::string path_;
  std::unique_ptr<StreamedFile> file_;  // made once the rows pass 64 KiB
  std::string rows_;
  std::optional<std::int32_t> stopStep_;
};

// What the charts are drawn from, in memory bounded whatever the run's length: the yellow market
// after every step, the segregation measures at the recorded steps.
class ChartSink : public RunSink {
 public:
  explicit ChartSink(bool windowView) : charts_(windowView) {}
  void Stepped(const World& world) override;
  void Recorded(const World& world, const StepMeasures& measures) override;
  RunCharts Take() { return std::move(charts_); }

 private:
  RunCharts charts_;
};

// The steps --snapshot-every K pictures: every K-th and the run's last (--steps, or the last quiet
// step of a run that settled). K 0 picks none.
class EveryKth {
 public:
  EveryKth(std::int32_t every, std::int32_t steps) : every_(every), steps_(steps) {}
  void Settled() { settled_ = true; }
  bool PicksNone() const { return every_ == 0; }
  bool Picks(std::int32_t step) const {
    return every_ > 0 && (step % every_ == 0 || step == steps_ || settled_);
  }

 private:
  std::int32_t every_, steps_;
  bool settled_ = false;
};

// The grid's pictures after the chosen steps (sorted), and after those `every` picks. A run that
// settles before a chosen step is pictured where it stopped, under a name that says so.
class SnapshotSink : public RunSink {
 public:
  SnapshotSink(PictureMaker& pictures, const OutputPaths& paths, std::int64_t run,
               const std::vector<std::int32_t>& steps, EveryKth every = {0, 0})
      : pictures_(pictures), paths_(paths), run_(run), steps_(steps), every_(every) {}
  void Stepped(const World& world) override;
  void Settled(const World&, std::int32_t) override {
    every_.Settled();
    settled_ = true;
  }

 private:
  PictureMaker& pictures_;
  const OutputPaths& paths_;
  std::int64_t run_;
  const std::vector<std::int32_t>& steps_;
  EveryKth every_;
  std::size_t next_ = 0;
  bool settled_ = false;
};

// The run's video: a frame at every step `every` picks, or at every recorded step when it picks
// none, each drawn and streamed to the encoder at once. Finish puts the video under its name; a
// sink gone before leaves nothing, so a run cut short has no video until --resume makes it.
class VideoSink : public RunSink {
 public:
  static constexpr double FramesPerSecond = 10;

  VideoSink(PictureMaker& pictures, std::string path, EveryKth every)
      : pictures_(pictures), path_(std::move(path)), every_(every), recorded_(every.PicksNone()) {}
  ~VideoSink() override;
  void Stepped(const World& world) override;
  void Recorded(const World& world, const StepMeasures& measures) override;
  void Settled(const World&, std::int32_t) override { every_.Settled(); }
  void Finish();

 private:
  void AddFrame(const World& world);

  PictureMaker& pictures_;
  std::string path_;
  EveryKth every_;
  bool recorded_;  // a frame per recorded step
  Frame frame_;
  std::unique_ptr<VideoEncoder> encoder_;  // started with the first frame, which gives the size
};

}  // namespace zelmora::sweep
