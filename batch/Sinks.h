#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "batch/Output.h"
#include "batch/Pictures.h"
#include "batch/Record.h"
#include "batch/Run.h"

namespace zelmora::batch {

// The run's CSV rows, written to a temporary beside `path` as they are made (in pieces of about
// 64 KiB); the file is put under its name by its Finish, so a run never finished leaves nothing.
class CsvSink : public RunSink {
 public:
  CsvSink(const RunPlan& run, std::int32_t cols, std::int32_t rows, const std::string& path);
  void Recorded(const World& world, const StepMeasures& measures) override;
  // Writes what is left and hands the file over, whole but not yet under its name.
  std::unique_ptr<StreamedFile> Release();

 private:
  RowWriter writer_;
  std::unique_ptr<StreamedFile> file_;
  std::string rows_;
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

// The grid's pictures after the chosen steps (sorted).
class SnapshotSink : public RunSink {
 public:
  SnapshotSink(PictureMaker& pictures, const OutputPaths& paths, std::int64_t run,
               const std::vector<std::int32_t>& steps)
      : pictures_(pictures), paths_(paths), run_(run), steps_(steps) {}
  void Stepped(const World& world) override;

 private:
  PictureMaker& pictures_;
  const OutputPaths& paths_;
  std::int64_t run_;
  const std::vector<std::int32_t>& steps_;
  std::size_t next_ = 0;
};

}  // namespace zelmora::batch
