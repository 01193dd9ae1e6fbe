#include "sweep/Output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "sweep/Columns.h"

namespace zelmora::batch {
namespace fs = std::filesystem;
namespace {

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

std::string Reason(int error) { return std::strerror(error); }

// Opens for writing a file that must not exist: never follows a link planted at the path.
int CreateNew(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
}

// A temporary beside `path`, created new (mkstemp's O_EXCL follows no link); its name is returned
// in `temporary`.
int CreateTemporary(const std::string& path, std::string& temporary) {
  temporary = path + ".tmpXXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) throw IoError(path, "no temporary file can be created beside it: " + Reason(errno));
  ::fchmod(fd, 0644);
  return fd;
}

void WriteAll(int fd, std::string_view text, const std::string& path) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw IoError(path, "cannot be written: " + Reason(n < 0 ? errno : ENOSPC));
    text.remove_prefix(std::size_t(n));
  }
}

// The first field of a manifest that is missing or not of its type, or nothing.
std::optional<std::string> ManifestFault(const nlohmann::json& m) {
  using J = nlohmann::json;
  const auto is = [](const J& j, const std::string& type) {
    if (type == "a string") return j.is_string();
    if (type == "a whole number") return j.is_number_unsigned();
    if (type == "true or false") return j.is_boolean();
    if (type == "a list") return j.is_array();
    if (type == "an object") return j.is_object();
    if (type == "a pair of whole numbers") {
      return j.is_array() && j.size() == 2 && j[0].is_number_unsigned() && j[1].is_number_unsigned();
    }
    return type == "a string or null" && (j.is_string() || j.is_null());
  };
  const auto check = [&](const J& j, const std::string& where, const char* field,
                         const char* type) -> std::optional<std::string> {
    if (!j.contains(field) || !is(j[field], type)) return "field '" + where + field + "' is missing or not " + type;
    return std::nullopt;
  };
  if (!m.is_object()) return "it is not a JSON object";
  const std::pair<const char*, const char*> top[] = {
      {"program", "a string"},          {"build", "a string"},           {"command_line", "a list"},
      {"master_seed", "a whole number"}, {"started", "a string"},        {"finished", "a string or null"},
      {"status", "a string"},           {"runs_in_shard", "a whole number"}, {"completed_runs", "a whole number"},
      {"pictures", "an object"},        {"sweep", "an object"},          {"run_times", "an object"}};
  for (const auto& [field, type] : top) {
    if (auto fault = check(m, "", field, type)) return fault;
  }
  if (m.contains("resumed") && !m["resumed"].is_array()) return "field 'resumed' is not a list";
  for (const auto& [run, times] : m["run_times"].items()) {
    for (const char* field : {"started", "finished"}) {
      if (!times.is_object()) return "field 'run_times." + run + "' is not an object";
      if (auto fault = check(times, "run_times." + run + ".", field, "a string")) return fault;
    }
  }
  const J& sweep = m["sweep"];
  const std::pair<const char*, const char*> fields[] = {
      {"master_seed", "a whole number"}, {"grid", "a pair of whole numbers"}, {"steps", "a whole number"},
      {"record_every", "a whole number"}, {"shard", "a pair of whole numbers"}, {"size", "a whole number"},
      {"runs", "a list"}};
  for (const auto& [field, type] : fields) {
    if (auto fault = check(sweep, "sweep.", field, type)) return fault;
  }
  // Written by this build: resume and merge read a run's length with `until`, and a resume without
  // the design's file reads the design from here.
  if (sweep.contains("until") && !sweep["until"].is_string()) return "field 'sweep.until' is not a string";
  if (sweep.contains("design") && !sweep["design"].is_null()) {
    if (!sweep["design"].is_object()) return "field 'sweep.design' is not an object";
    for (const char* field : {"file", "hash", "content"}) {
      if (auto fault = check(sweep["design"], "sweep.design.", field, "a string")) return fault;
    }
  }
  for (std::size_t k = 0; k < sweep["runs"].size(); ++k) {
    const J& run = sweep["runs"][k];
    const std::string where = "sweep.runs[" + std::to_string(k) + "]";
    if (!run.is_object()) return "field '" + where + "' is not an object";
    const std::pair<const char*, const char*> parts[] = {
        {"run", "a whole number"}, {"seed", "a whole number"}, {"parameters", "an object"}};
    for (const auto& [field, type] : parts) {
      if (auto fault = check(run, where + ".", field, type)) return fault;
    }
  }
  if (auto fault = check(m["pictures"], "pictures.", "charts", "a string")) return fault;
  if (auto fault = check(m["pictures"], "pictures.", "snapshot_at", "a list")) return fault;
  return std::nullopt;
}

}  // namespace

OutputPaths::OutputPaths(const std::string& out)
    : csv(out),
      partial(out + ".partial"),
      manifest(out.substr(0, out.size() - 4) + ".json"),
      spool(out + ".spool"),
      lock(out + ".lock"),
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

std::string OutputPaths::Video(std::int64_t run, VideoFormat format) const {
  return stem + ".run" + std::to_string(run) + (format == VideoFormat::Gif ? ".gif" : ".mp4");
}

std::string FolderOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

void CheckFolder(const std::string& option, const std::string& path) {
  const std::string folder = FolderOf(path);
  std::error_code ec;
  const fs::file_status status = fs::status(folder, ec);
  if (!fs::exists(status)) throw UsageError(option + ": the folder '" + folder + "' does not exist");
  if (!fs::is_directory(status)) throw UsageError(option + ": '" + folder + "' is not a folder");
  if (fs::is_directory(fs::status(path, ec))) {
    throw UsageError(option + ": '" + path + "' is a folder; expects a file name ending in .csv");
  }
}

OutputLock::OutputLock(const std::string& option, const std::string& path) : path_(path) {
  // The holder removes the lock file at its end, so a lock taken on a file unlinked meanwhile is
  // taken again on the file now at the path.
  for (int attempt = 0; attempt < 100; ++attempt) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      throw UsageError(option + ": cannot write in the folder '" + FolderOf(path) + "' (" + Reason(errno) +
                       "); expects a writable folder");
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      char text[32] = {};
      const ssize_t n = ::pread(fd_, text, sizeof text - 1, 0);
      ::close(fd_);
      fd_ = -1;
      std::string holder = n > 0 ? std::string(text, std::size_t(n)) : "";
      holder = holder.substr(0, holder.find('\n'));
      throw UsageError(option + ": '" + path.substr(0, path.size() - 5) + "' is being written by process " +
                       (holder.empty() ? "(unknown)" : holder) + "; wait for it to end or choose another --out");
    }
    struct stat held {}, now {};
    if (::fstat(fd_, &held) == 0 && ::stat(path.c_str(), &now) == 0 && held.st_ino == now.st_ino &&
        held.st_dev == now.st_dev) {
      // The pid is for the message above only; the lock holds without it.
      const std::string pid = std::to_string(::getpid()) + "\n";
      if (::ftruncate(fd_, 0) == 0) static_cast<void>(::pwrite(fd_, pid.data(), pid.size(), 0));
      return;
    }
    ::close(fd_);
    fd_ = -1;
  }
  throw UsageError(option + ": the lock file '" + path + "' keeps changing; is another process removing it?");
}

OutputLock::~OutputLock() {
  if (fd_ < 0) return;
  ::unlink(path_.c_str());  // while still held: whoever opened it meanwhile finds it gone and retries
  ::close(fd_);
}

StartPlan CheckOutputs(const Options& options, const OutputPaths& paths) {
  CheckFolder("--out", paths.csv);
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
  plan.manifest = ReadManifest("--resume", paths.manifest);
  plan.kind = partial ? StartKind::Resume : StartKind::Complete;
  return plan;
}

nlohmann::json ReadManifest(const std::string& option, const std::string& path) {
  std::ifstream in(path);
  nlohmann::json manifest;
  try {
    if (!in) throw std::runtime_error("missing");
    manifest = nlohmann::json::parse(in);
  } catch (const std::exception&) {
    throw UsageError(option + ": the manifest '" + path + "' is missing or not JSON, so the sweep is unknown");
  }
  if (const auto fault = ManifestFault(manifest)) {
    throw UsageError(option + ": the manifest '" + path + "' is damaged: " + *fault);
  }
  return manifest;
}

PartialScan ScanPartial(const std::string& path, const std::string& header, const std::vector<RunPlan>& runs,
                        const RunLength& length) {
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
  std::optional<std::size_t> rowsPerRun;  // the run's, from its first row
  while (scan.completeRuns < runs.size() && std::getline(in, line) && !in.eof() && whole()) {
    if (line.rfind(RowPrefix(runs[scan.completeRuns]), 0) != 0) break;
    if (rowsOfRun == 0 && !(rowsPerRun = length.RowsOf(line))) break;
    offset += line.size() + 1;
    if (++rowsOfRun == *rowsPerRun) {
      ++scan.completeRuns;
      scan.keepBytes = offset;
      rowsOfRun = 0;
    }
  }
  return scan;
}

bool SpooledRunIsWhole(const std::string& path, const RunPlan& run, const RunLength& length) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  const std::string prefix = RowPrefix(run);
  std::size_t count = 0;
  std::optional<std::size_t> rowsPerRun;
  while (std::getline(in, line) && !in.eof()) {
    if (line.empty() || line.back() != '\r' || line.rfind(prefix, 0) != 0) return false;
    if (count++ == 0 && !(rowsPerRun = length.RowsOf(line))) return false;
  }
  return rowsPerRun && count == *rowsPerRun && line.empty();
}

void WriteWhole(const std::string& path, std::string_view text) {
  std::string temporary;
  const int fd = CreateTemporary(path, temporary);
  try {
    WriteAll(fd, text, temporary);
    if (::close(fd) != 0) throw IoError(temporary, "cannot be written: " + Reason(errno));
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw IoError(path, "cannot be replaced: " + Reason(error));
  }
}

StreamedFile::StreamedFile(const std::string& path) : path_(path) { fd_ = CreateTemporary(path, temporary_); }

StreamedFile::~StreamedFile() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(temporary_.c_str());
}

void StreamedFile::Write(std::string& text) {
  WriteAll(fd_, text, temporary_);
  text.clear();
}

void StreamedFile::Finish() {
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 || std::rename(temporary_.c_str(), path_.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary_.c_str());
    throw IoError(path_, "cannot be written: " + Reason(error));
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
  if (fresh) {
    // Whatever stands at the path goes, a link included (unlink removes the link, not its target).
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw IoError(path, "cannot be replaced: " + Reason(errno));
    fd_ = CreateNew(path);
  } else {
    fd_ = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd_ < 0) throw IoError(path, "cannot be opened for writing: " + Reason(errno));
  if (fresh) {
    WriteAt(header, 0, 0);
    size_ = header.size();
  } else {
    size_ = *keepBytes;
    if (::ftruncate(fd_, off_t(size_)) != 0) throw IoError(path, "cannot be cut back: " + Reason(errno));
  }
}

PartialFile::~PartialFile() {
  if (fd_ >= 0) ::close(fd_);
}

void PartialFile::WriteAt(std::string_view text, std::uint64_t offset, std::uint64_t runStart) {
  std::size_t done = 0;
  while (done < text.size()) {
    const long n = write_(fd_, text.data() + done, text.size() - done, std::int64_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      // Cut off what part of the run got there, so the file ends with a whole run.
      if (::ftruncate(fd_, off_t(runStart)) != 0) {
        throw IoError(path_, "write failed (" + Reason(error) + ") and the file could not be cut back");
      }
      size_ = runStart;
      throw IoError(path_, "write failed: " + Reason(error));
    }
    done += std::size_t(n);
  }
}

void PartialFile::Append(std::string_view rows) {
  WriteAt(rows, size_, size_);
  size_ += rows.size();
}

void PartialFile::AppendFile(const std::string& path) {
  const int in = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) throw IoError(path, "cannot be read: " + Reason(errno));
  const std::uint64_t runStart = size_;
  std::string buffer(std::size_t(1) << 16, '\0');
  try {
    while (true) {
      const ssize_t n = ::read(in, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw IoError(path, "cannot be read: " + Reason(errno));
      if (n == 0) break;
      WriteAt(std::string_view(buffer.data(), std::size_t(n)), size_, runStart);
      size_ += std::uint64_t(n);
    }
  } catch (...) {
    ::close(in);
    if (size_ != runStart && ::ftruncate(fd_, off_t(runStart)) == 0) size_ = runStart;
    throw;
  }
  ::close(in);
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
