#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "sweep/Request.h"
#include "sweep/RequestJson.h"

namespace zelmora::sweep {

// The manifest's format. A manifest names its format; one of another is refused by that name.
inline constexpr const char* ManifestFormat = "zelmora-sweep/2";

// The deepest nesting of lists and objects a manifest may have; its own fields nest 4 deep.
inline constexpr int MaxManifestDepth = 32;

// A manifest read back: its header, and the request it holds.
struct Manifest {
  nlohmann::json header;
  Request request;
};

// The header of a new sweep's manifest: the format, the program and build, the command as typed,
// the request (canonical, the design's points included) and its hash, the master seed, the runs of
// this shard, and the status "running". It is written whole when the sweep starts and again when
// its status changes (at its end); finished runs go to the journal beside it.
nlohmann::json NewManifest(const Request& request, std::uint64_t masterSeed, bool seedDrawn,
                           const std::string& program, const std::string& journal);

// A command line as the manifest keeps it: each argument a string, or its bytes where they are no
// UTF-8.
nlohmann::json CommandLineJson(const std::vector<std::string>& args);

// Reads a manifest and checks its format and shape. Throws RequestError naming `field` ("resume",
// "merge", "out"), the file and what is wrong with it: another format (named), nesting deeper than
// MaxManifestDepth, the first field missing or of the wrong type, a request whose hash does not
// match.
Manifest ReadManifest(const std::string& field, const std::string& path);

// Throws RequestError unless the manifest was written by this build and its sweep, shard and
// pictures are those `given` asks for; the error names the first difference (the field or
// parameter, and for a parameter the run) with both values.
void CheckSameSweep(const std::string& path, const Manifest& kept, const Request& given);

// A difference in words: "threshold: run 3 has 5 in 'a.csv', 6 in 'b.csv'".
std::string DifferenceText(const Difference& difference, const std::string& kept, const std::string& given);

// The journal's line for a run put into the CSV: {"run": i, "seed": s, "started": t, "finished": t}
// (times null for a run an earlier session made whose times were lost).
std::string JournalLine(const RunPlan& run, const std::string& started, const std::string& finished);

// Why a journal line is not `run`'s (another run or seed, a field missing, of the wrong type or
// of no journal line, no JSON object), or nothing when it is.
std::optional<std::string> JournalLineFault(std::string_view line, const RunPlan& run);

// What a resume made of the journal: its size, from which it is appended to, and the lines it
// found damaged (the first named, with why).
struct MendedJournal {
  std::uint64_t size = 0;
  std::int64_t rewritten = 0;
  std::string firstFault;  // "line 3 names run 5, not run 2"
};

// On resume: the journal brought to the `keep` runs the partial file holds, `runAt(k)` being the
// shard's k-th run. Its first `keep` lines are checked: when each is its run's, the journal is cut
// back to them and lines without times are added for kept runs it lacks; otherwise it is rewritten
// whole through a temporary (a failure leaves it as it was), a damaged line replaced by the line
// the CSV proves (run and seed, times null). Lines past the kept runs go: those runs are made
// again. A link or anything but a file at the journal is an IoError, and so is a failed write.
MendedJournal MendJournal(const std::string& path, std::int64_t keep, const std::function<RunPlan(std::int64_t)>& runAt);

}  // namespace zelmora::sweep
