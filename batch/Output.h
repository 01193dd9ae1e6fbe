#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "batch/Options.h"
#include "batch/Sweep.h"

namespace zelmora::batch {

// A file could not be read or written: the message names the path and the reason.
class IoError : public std::runtime_error {
 public:
  IoError(const std::string& path, const std::string& reason) : std::runtime_error(path + ": " + reason) {}
};

// The files of one --out: FILE.csv, FILE.csv.partial while the sweep runs, FILE.json, the spool
// FILE.csv.spool/ of runs that finished ahead of an earlier one, and the pictures FILE.run*.png.
struct OutputPaths {
  explicit OutputPaths(const std::string& out);
  std::string csv, partial, manifest, spool, stem;

  std::string SpoolFile(std::int64_t run) const;
  std::string Snapshot(std::int64_t run, std::int32_t step) const;
  std::string MarketChart(std::int64_t run) const;
  std::string SegregationChart(std::int64_t run) const;
};

enum class StartKind {
  Fresh,     // nothing there (or --force): start the sweep
  Resume,    // --resume with a partial file: run what is missing
  Complete,  // --resume and the sweep is already complete: nothing to do
};

struct StartPlan {
  StartKind kind = StartKind::Fresh;
  nlohmann::json manifest;  // the manifest found, when resuming
};

// Checks the state of the output files against --resume and --force, creating and changing
// nothing. Throws UsageError naming --out or --resume.
StartPlan CheckOutputs(const Options& options, const OutputPaths& paths);

// What defines a sweep's bytes: master seed, grid, steps, recording, shard, and every run's index,
// seed and parameters. A resumed sweep must have the same.
nlohmann::json SweepDefinition(const Options& options, std::uint64_t masterSeed,
                               const std::vector<RunPlan>& runs);

// The start of every row of a run: "index,seed,".
std::string RowPrefix(const RunPlan& run);

// How much of a partial file to keep: the header and the complete runs in shard order. A torn
// row, a run with too few rows, or a row of an unexpected run ends what is kept.
struct PartialScan {
  std::uint64_t keepBytes = 0;  // 0: not even the header is whole
  std::size_t completeRuns = 0;
};
PartialScan ScanPartial(const std::string& path, const std::string& header, const std::vector<RunPlan>& runs,
                        std::size_t rowsPerRun);

// A spooled run's rows, if the spool file holds all of them.
std::optional<std::string> ReadSpooled(const std::string& path, const RunPlan& run, std::size_t rowsPerRun);

// Writes text to a file through a temporary beside it and a rename, so the file is never torn.
void WriteWhole(const std::string& path, const std::string& text);

// The partial CSV. Appends whole runs: if a write fails, the file is cut back to its last whole
// run, so it stays resumable, and IoError is thrown.
class PartialFile {
 public:
  // pwrite's shape; tests inject failures through it.
  using WriteFunction = std::function<long(int fd, const char* data, std::size_t size, std::int64_t offset)>;

  // Creates the file holding the header only (fresh), or opens it and cuts it to keepBytes.
  PartialFile(const std::string& path, const std::string& header, std::optional<std::uint64_t> keepBytes,
              WriteFunction write = {});
  ~PartialFile();
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  void Append(const std::string& rows);
  // Flushes to disk and renames the file to its final name.
  void Finish(const std::string& finalPath);

 private:
  void WriteAt(const std::string& text, std::uint64_t offset);

  std::string path_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
  WriteFunction write_;
};

// Time as ISO 8601 in UTC with milliseconds.
std::string UtcNow();

}  // namespace zelmora::batch
