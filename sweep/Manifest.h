#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

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

// On resume: the journal cut back to its first `keep` lines (the runs the partial file keeps), and
// lines without times added for kept runs it lacks, `runAt(k)` being the shard's k-th run. Returns
// the journal's size, from which it is appended to.
std::uint64_t MendJournal(const std::string& path, std::int64_t keep, const std::function<RunPlan(std::int64_t)>& runAt);

}  // namespace zelmora::sweep
