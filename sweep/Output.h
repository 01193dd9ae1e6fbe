#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sweep/Record.h"
#include "sweep/Request.h"
#include "sweep/RunPlan.h"

namespace zelmora::sweep {

// A file could not be read or written: the message names the path and the reason.
class IoError : public std::runtime_error {
 public:
  IoError(const std::string& path, const std::string& reason) : std::runtime_error(path + ": " + reason) {}
};

// The files of one output: FILE.csv, FILE.csv.partial while the sweep runs, the manifest FILE.json
// and its journal FILE.runs.jsonl, the spool FILE.csv.spool/ of runs not yet in the partial file,
// FILE.csv.lock while a process writes them, and the pictures FILE.run*.png and videos
// FILE.run*.mp4 or .gif.
struct OutputPaths {
  explicit OutputPaths(const std::string& out);
  std::string csv, partial, manifest, journal, spool, lock, stem;

  std::string SpoolFile(std::int64_t run) const;
  std::string Snapshot(std::int64_t run, std::int32_t step) const;
  // The picture of a run that settled at `step`, before steps --snapshot-at chose.
  std::string SettledSnapshot(std::int64_t run, std::int32_t step) const;
  std::string MarketChart(std::int64_t run) const;
  std::string SegregationChart(std::int64_t run) const;
  std::string VideoFile(std::int64_t run, Video format) const;
};

// The folder a path lies in ("." for a bare name).
std::string FolderOf(const std::string& path);

// Checks that the folder of `path` exists and is a folder; throws RequestError naming `field`.
void CheckFolder(const std::string& field, const std::string& path);

// The claim of one output by one process: an exclusive flock on the lock file, held until the
// object goes. Taking it is the first thing a run does after checking its request, so the check of
// the output's state and the claim are one step: two processes never both pass it.
class OutputLock {
 public:
  // Throws RequestError naming `field` when another process holds the lock (with that process's
  // id), something else stands at the lock's name, or the folder is not writable.
  OutputLock(const std::string& field, const std::string& path);
  ~OutputLock();
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;

 private:
  std::string path_;
  int fd_ = -1;
};

// What stands at an output: nothing of it, a manifest alone (a sweep that wrote nothing yet), a
// sweep begun (its partial file) or a complete one (its CSV).
enum class OutputState { Nothing, ManifestOnly, Partial, Complete };
OutputState LookAtOutput(const OutputPaths& paths);

// Removes what a process killed while writing this output left: temporaries of its files (the
// CSV, the manifest and its journal, a merge's output, pictures and videos, spooled runs), which
// only the holder of the output's lock writes. Call with the lock held.
void RemoveStaleTemporaries(const OutputPaths& paths);

// How much of a partial file to keep: the header and the complete runs in shard order. A torn
// row, a run with too few rows, or a row of an unexpected run ends what is kept. `runAt(k)` is the
// shard's k-th run, of `runs`.
struct PartialScan {
  std::uint64_t keepBytes = 0;  // 0: not even the header is whole
  std::int64_t completeRuns = 0;
};
PartialScan ScanPartial(const std::string& path, const std::string& header,
                        const std::function<RunPlan(std::int64_t)>& runAt, std::int64_t runs, const RunLength& length);

// Whether a spooled run's file holds all of its rows and nothing else; read in pieces, so a run of
// any length costs little memory.
bool SpooledRunIsWhole(const std::string& path, const RunPlan& run, const RunLength& length);

// A temporary beside `path` (its name, ".tmp" and six characters), created new with the mode the
// umask leaves of 0666 (mkstemp's O_EXCL follows no link); its name is returned in `temporary`.
// Throws IoError.
int CreateTemporary(const std::string& path, std::string& temporary);

// Writes text to a file through a temporary created beside it (never through a link planted
// there) and a rename, so the file is never torn; the temporary is removed on failure.
void WriteWhole(const std::string& path, std::string_view text);

// A file written as it is made and put under its name only when whole: rows go to a temporary
// beside `path` created with O_EXCL, and Finish renames it. Removed if never finished.
class StreamedFile {
 public:
  explicit StreamedFile(const std::string& path);
  ~StreamedFile();
  StreamedFile(const StreamedFile&) = delete;
  StreamedFile& operator=(const StreamedFile&) = delete;

  // Appends `text` and empties it.
  void Write(std::string& text);
  void Finish();
  // Where the text is until Finish, to be read back.
  const std::string& Temporary() const { return temporary_; }

 private:
  std::string path_, temporary_;
  int fd_ = -1;
};

// A file of whole records, appended to only: the partial CSV (whole runs) and the manifest's
// journal (whole lines). If a write fails, the file is cut back to its last whole record, so it
// stays resumable, and IoError is thrown.
class PartialFile {
 public:
  // pwrite's shape; tests inject failures through it.
  using WriteFunction = std::function<long(int fd, const char* data, std::size_t size, std::int64_t offset)>;

  // Creates the file holding the header only (fresh: whatever stood at the path, a link
  // included, is replaced), or opens it and cuts it to keepBytes.
  PartialFile(const std::string& path, const std::string& header, std::optional<std::uint64_t> keepBytes,
              WriteFunction write = {});
  ~PartialFile();
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  void Append(std::string_view rows);
  // Appends a whole run's file, read in pieces.
  void AppendFile(const std::string& path);
  // Flushes to disk and renames the file to its final name.
  void Finish(const std::string& finalPath);

 private:
  void WriteAt(std::string_view text, std::uint64_t offset, std::uint64_t runStart);

  std::string path_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
  WriteFunction write_;
};

// Time as ISO 8601 in UTC with milliseconds.
std::string UtcNow();

}  // namespace zelmora::sweep
