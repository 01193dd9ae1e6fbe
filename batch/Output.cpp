#include "batch/Output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace zelmora::batch {
namespace fs = std::filesystem;
namespace {

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

std::string Reason(int error) { return std::strerror(error); }

std::string Folder(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

nlohmann::json ParametersJson(const Parameters& p) {
  return {{"threshold", p.threshold},           {"production_costs", p.productionCosts},
          {"travel_expenses", p.travelExpenses}, {"returns_to_scale", p.returnsToScale},
          {"segregation", p.segregation},       {"centers", p.centers},
          {"agents", p.agents}};
}

}  // namespace

OutputPaths::OutputPaths(const std::string& out)
    : csv(out),
      partial(out + ".partial"),
      manifest(out.substr(0, out.size() - 4) + ".json"),
      spool(out + ".spool"),
      stem(out.substr(0, out.size() - 4)) {}

std::string OutputPaths::SpoolFile(std::int64_t run) const {
  return spool + "/run" + std::to_string(run) + ".csv";
}
std::string OutputPaths::Snapshot(std::int64_t run, std::int32_t step) const {
  return stem + ".run" + std::to_string(run) + ".step" + std::to_string(step) + ".png";
}
std::string OutputPaths::MarketChart(std::int64_t run) const {
  return stem + ".run" + std::to_string(run) + ".chart.png";
}
std::string OutputPaths::SegregationChart(std::int64_t run) const {
  return stem + ".run" + std::to_string(run) + ".segregation.png";
}

StartPlan CheckOutputs(const Options& options, const OutputPaths& paths) {
  const std::string folder = Folder(paths.csv);
  std::error_code ec;
  const fs::file_status status = fs::status(folder, ec);
  if (!fs::exists(status)) throw UsageError("--out: the folder '" + folder + "' does not exist");
  if (!fs::is_directory(status)) throw UsageError("--out: '" + folder + "' is not a folder");
  if (fs::is_directory(fs::status(paths.csv, ec))) {
    throw UsageError("--out: '" + paths.csv + "' is a folder; expects a file name ending in .csv");
  }

  const bool anything = Exists(paths.csv) || Exists(paths.partial) || Exists(paths.manifest) ||
                        Exists(paths.spool);
  StartPlan plan;
  if (options.force || !anything) return plan;
  if (!options.resume) {
    throw UsageError("--out: '" + paths.csv +
                     "' or its partial file or manifest exists; give --resume to finish it or --force "
                     "to replace it");
  }
  const bool partial = Exists(paths.partial);
  if (!partial && !Exists(paths.csv)) return plan;  // nothing was written yet: start afresh
  std::ifstream in(paths.manifest);
  try {
    if (!in) throw std::runtime_error("missing");
    plan.manifest = nlohmann::json::parse(in);
    if (!plan.manifest.contains("sweep")) throw std::runtime_error("no sweep");
  } catch (const std::exception&) {
    throw UsageError("--resume: the manifest '" + paths.manifest +
                     "' is missing or unreadable, so the sweep to finish is unknown; use --force to start afresh");
  }
  plan.kind = partial ? StartKind::Resume : StartKind::Complete;
  return plan;
}

nlohmann::json SweepDefinition(const Options& options, std::uint64_t masterSeed,
                               const std::vector<RunPlan>& runs) {
  nlohmann::json list = nlohmann::json::array();
  for (const RunPlan& run : runs) {
    list.push_back({{"run", run.index}, {"seed", run.seed}, {"parameters", ParametersJson(run.parameters)}});
  }
  return {{"master_seed", masterSeed},
          {"grid", {options.cols, options.rows}},
          {"steps", options.steps},
          {"record_every", options.recordEvery},
          {"shard", {options.shardIndex, options.shardCount}},
          {"runs", std::move(list)}};
}

std::string RowPrefix(const RunPlan& run) {
  return std::to_string(run.index) + "," + std::to_string(run.seed) + ",";
}

PartialScan ScanPartial(const std::string& path, const std::string& header, const std::vector<RunPlan>& runs,
                        std::size_t rowsPerRun) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw IoError(path, "cannot be read");
  PartialScan scan;
  std::string line;
  // Only lines ended by CR LF count: a line without its end was torn by an interruption.
  const auto whole = [&line] { return line.size() >= 1 && line.back() == '\r'; };
  if (!std::getline(in, line) || in.eof() || !whole()) return scan;
  if (line + "\n" != header) return scan;
  std::uint64_t offset = header.size();
  scan.keepBytes = offset;
  std::size_t rowsOfRun = 0;
  while (scan.completeRuns < runs.size() && std::getline(in, line) && !in.eof() && whole()) {
    if (line.rfind(RowPrefix(runs[scan.completeRuns]), 0) != 0) break;
    offset += line.size() + 1;
    if (++rowsOfRun == rowsPerRun) {
      ++scan.completeRuns;
      scan.keepBytes = offset;
      rowsOfRun = 0;
    }
  }
  return scan;
}

std::optional<std::string> ReadSpooled(const std::string& path, const RunPlan& run, std::size_t rowsPerRun) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string rows, line;
  const std::string prefix = RowPrefix(run);
  std::size_t count = 0;
  while (std::getline(in, line) && !in.eof()) {
    if (line.empty() || line.back() != '\r' || line.rfind(prefix, 0) != 0) return std::nullopt;
    rows += line + "\n";
    ++count;
  }
  if (count != rowsPerRun || !line.empty()) return std::nullopt;
  return rows;
}

void WriteWhole(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) throw IoError(temporary, "cannot be created: " + Reason(errno));
    out.write(text.data(), std::streamsize(text.size()));
    out.flush();
    if (!out) throw IoError(temporary, "cannot be written: " + Reason(errno));
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    std::remove(temporary.c_str());
    throw IoError(path, "cannot be replaced: " + Reason(error));
  }
}

PartialFile::PartialFile(const std::string& path, const std::string& header,
                         std::optional<std::uint64_t> keepBytes, WriteFunction write)
    : path_(path), write_(std::move(write)) {
  if (!write_) {
    write_ = [](int fd, const char* data, std::size_t size, std::int64_t offset) {
      return long(::pwrite(fd, data, size, off_t(offset)));
    };
  }
  const bool fresh = !keepBytes || *keepBytes == 0;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (fresh ? O_TRUNC : 0), 0644);
  if (fd_ < 0) throw IoError(path, "cannot be opened for writing: " + Reason(errno));
  if (fresh) {
    WriteAt(header, 0);
    size_ = header.size();
  } else {
    size_ = *keepBytes;
    if (::ftruncate(fd_, off_t(size_)) != 0) throw IoError(path, "cannot be cut back: " + Reason(errno));
  }
}

PartialFile::~PartialFile() {
  if (fd_ >= 0) ::close(fd_);
}

void PartialFile::WriteAt(const std::string& text, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < text.size()) {
    const long n = write_(fd_, text.data() + done, text.size() - done, std::int64_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      // Cut off what part of the text got there, so the file ends with a whole run.
      if (::ftruncate(fd_, off_t(offset)) != 0) {
        throw IoError(path_, "write failed (" + Reason(error) + ") and the file could not be cut back");
      }
      throw IoError(path_, "write failed: " + Reason(error));
    }
    done += std::size_t(n);
  }
}

void PartialFile::Append(const std::string& rows) {
  WriteAt(rows, size_);
  size_ += rows.size();
}

void PartialFile::Finish(const std::string& finalPath) {
  if (::fsync(fd_) != 0) throw IoError(path_, "cannot be flushed: " + Reason(errno));
  ::close(fd_);
  fd_ = -1;
  if (std::rename(path_.c_str(), finalPath.c_str()) != 0) {
    throw IoError(finalPath, "cannot be renamed from " + path_ + ": " + Reason(errno));
  }
}

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, int(millis));
  return text;
}

}  // namespace zelmora::batch
