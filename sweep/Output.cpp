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

#include <algorithm>

namespace zelmora::sweep {
namespace fs = std::filesystem;
namespace {

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

std::string Reason(int error) {
  // A file size limit (ulimit -f) is a reason of its own: SIGXFSZ is ignored, so writes past it fail.
  return error == EFBIG ? std::string(std::strerror(error)) + " (past the file size limit, ulimit -f)"
                        : std::string(std::strerror(error));
}

// Outputs take the mode the umask leaves of 0666, as files a shell creates; read once, while the
// process has one thread (umask reads only by setting).
mode_t OutputMode() {
  static const mode_t mode = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mode_t(0666 & ~mask);
  }();
  return mode;
}

// Opens for writing a file that must not exist: never follows a link planted at the path.
int CreateNew(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, OutputMode());
}

void WriteAll(int fd, std::string_view text, const std::string& path) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw IoError(path, "cannot be written: " + Reason(n < 0 ? errno : ENOSPC));
    text.remove_prefix(std::size_t(n));
  }
}

}  // namespace

int CreateTemporary(const std::string& path, std::string& temporary) {
  temporary = path + ".tmpXXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) throw IoError(path, "no temporary file can be created beside it: " + Reason(errno));
  ::fchmod(fd, OutputMode());
  return fd;
}

namespace {

// Whether `name` is `stem` followed by `.run`, digits and `rest`.
bool RunFile(std::string_view name, std::string_view stem, std::string_view rest) {
  if (name.substr(0, stem.size()) != stem) return false;
  name.remove_prefix(stem.size());
  if (name.substr(0, 4) != ".run") return false;
  name.remove_prefix(4);
  std::size_t digits = 0;
  while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') ++digits;
  return digits > 0 && name.substr(digits) == rest;
}

// A temporary's name: its file's, then ".tmp" and six characters.
std::optional<std::string_view> TemporaryOf(std::string_view name) {
  if (name.size() < 10 || name.substr(name.size() - 10, 4) != ".tmp") return std::nullopt;
  return name.substr(0, name.size() - 10);
}

}  // namespace

OutputPaths::OutputPaths(const std::string& out)
    : csv(out),
      partial(out + ".partial"),
      manifest(out.substr(0, out.size() - 4) + ".json"),
      journal(out.substr(0, out.size() - 4) + ".runs.jsonl"),
      spool(out + ".spool"),
      lock(out + ".lock"),
      stem(out.substr(0, out.size() - 4)) {}

std::string OutputPaths::SpoolFile(std::int64_t run) const {
  return spool + "/run" + std::to_string(run) + ".csv";
}
std::string OutputPaths::Snapshot(std::int64_t run, std::int32_t step) const {
  return stem + ".run" + std::to_string(run) + ".step" + std::to_string(step) + ".png";
}
std::string OutputPaths::SettledSnapshot(std::int64_t run, std::int32_t step) const {
  return stem + ".run" + std::to_string(run) + ".step" + std::to_string(step) + ".settled.png";
}
std::string OutputPaths::MarketChart(std::int64_t run) const {
  return stem + ".run" + std::to_string(run) + ".chart.png";
}
std::string OutputPaths::SegregationChart(std::int64_t run) const {
  return stem + ".run" + std::to_string(run) + ".segregation.png";
}

std::string OutputPaths::VideoFile(std::int64_t run, Video format) const {
  return stem + ".run" + std::to_string(run) + (format == Video::Gif ? ".gif" : ".mp4");
}

std::string FolderOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

void CheckFolder(const std::string& field, const std::string& path) {
  const std::string folder = FolderOf(path);
  std::error_code ec;
  const fs::file_status status = fs::status(folder, ec);
  using Source = RequestError::Source;
  if (!fs::exists(status)) throw RequestError(Source::Field, field, "", "the folder '" + folder + "' does not exist");
  if (!fs::is_directory(status)) throw RequestError(Source::Field, field, "", "'" + folder + "' is not a folder");
  if (fs::is_directory(fs::status(path, ec))) {
    throw RequestError(Source::Field, field, "", "'" + path + "' is a folder; expects a file name ending in .csv");
  }
}

OutputLock::OutputLock(const std::string& field, const std::string& path) : path_(path) {
  using Source = RequestError::Source;
  // The holder removes the lock file at its end, so a lock taken on a file unlinked meanwhile is
  // taken again on the file now at the path.
  for (int attempt = 0; attempt < 100; ++attempt) {
    struct stat standing {};
    if (::lstat(path.c_str(), &standing) == 0 && !S_ISREG(standing.st_mode)) {
      throw RequestError(Source::Field, field, "",
                         "'" + path + "' is " + (S_ISLNK(standing.st_mode) ? "a link" : "not a file") +
                             ", where this program keeps its lock (a file it makes and removes); remove it");
    }
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, OutputMode());
    if (fd_ < 0) {
      throw RequestError(Source::Field, field, "", "cannot write in the folder '" + FolderOf(path) + "' (" +
                                                       Reason(errno) + "); expects a writable folder");
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      char text[32] = {};
      const ssize_t n = ::pread(fd_, text, sizeof text - 1, 0);
      ::close(fd_);
      fd_ = -1;
      std::string holder = n > 0 ? std::string(text, std::size_t(n)) : "";
      holder = holder.substr(0, holder.find('\n'));
      throw RequestError(Source::Field, field, "",
                         "'" + path.substr(0, path.size() - 5) + "' is being written by process " +
                             (holder.empty() ? "(unknown)" : holder) + "; wait for it to end or choose another {out}");
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
  throw RequestError(Source::Field, field, "", "the lock file '" + path + "' keeps changing; is another process removing it?");
}

OutputLock::~OutputLock() {
  if (fd_ < 0) return;
  ::unlink(path_.c_str());  // while still held: whoever opened it meanwhile finds it gone and retries
  ::close(fd_);
}

OutputState LookAtOutput(const OutputPaths& paths) {
  if (Exists(paths.partial)) return OutputState::Partial;
  if (Exists(paths.csv)) return OutputState::Complete;
  if (Exists(paths.manifest) || Exists(paths.journal) || Exists(paths.spool)) return OutputState::ManifestOnly;
  return OutputState::Nothing;
}

void RemoveStaleTemporaries(const OutputPaths& paths) {
  const std::string stem = fs::path(paths.stem).filename().string();
  const std::string own[] = {fs::path(paths.csv).filename().string(), fs::path(paths.manifest).filename().string(),
                             fs::path(paths.journal).filename().string()};
  const std::string_view pictures[] = {".chart.png", ".segregation.png", ".mp4", ".gif"};
  const auto stale = [&](std::string_view file) {
    if (std::find(std::begin(own), std::end(own), file) != std::end(own)) return true;
    if (RunFile(file, stem, ".png")) return false;  // no picture is named so: a snapshot has its step
    for (const std::string_view picture : pictures) {
      if (RunFile(file, stem, picture)) return true;
    }
    const std::size_t step = file.rfind(".step");
    return step != std::string_view::npos && file.substr(file.size() - 4) == ".png" && RunFile(file.substr(0, step), stem, "");
  };
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(FolderOf(paths.csv), ec)) {
    const std::string name = entry.path().filename().string();
    const auto file = TemporaryOf(name);
    if (file && stale(*file)) fs::remove(entry.path(), ec);
  }
  if (!fs::is_directory(fs::symlink_status(paths.spool, ec))) return;
  for (const auto& entry : fs::directory_iterator(paths.spool, ec)) {
    const std::string name = entry.path().filename().string();
    if (TemporaryOf(name)) fs::remove(entry.path(), ec);
  }
}

PartialScan ScanPartial(const std::string& path, const std::string& header,
                        const std::function<RunPlan(std::int64_t)>& runAt, std::int64_t runs, const RunLength& length) {
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
  std::string prefix;
  while (scan.completeRuns < runs && std::getline(in, line) && !in.eof() && whole()) {
    if (rowsOfRun == 0) prefix = RowPrefix(runAt(scan.completeRuns));
    if (line.rfind(prefix, 0) != 0) break;
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

}  // namespace zelmora::sweep
