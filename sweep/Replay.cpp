#include "sweep/Replay.h"

#include <algorithm>

#include "sweep/Build.h"
#include "sweep/Manifest.h"

namespace zelmora::sweep {

using Source = RequestError::Source;

bool ReplayTakes(std::string_view field) {
  static constexpr std::string_view Taken[] = {"from",  "runs",          "steps",          "record_every", "means",
                                               "out",   "jobs",          "progress_every", "quiet",        "resume",
                                               "force", "charts",        "snapshot_at",    "snapshot_every", "video"};
  return std::find(std::begin(Taken), std::end(Taken), field) != std::end(Taken);
}

Request ReplayRequest(const ReplayAsked& asked, const Request& invocation) {
  const Manifest kept = ReadManifest("from", asked.manifest);
  const std::string build = kept.header["build"];
  if (build != BuildId()) {
    throw RequestError(Source::Field, "from", "",
                       "'" + asked.manifest + "' was written by build " + build + ", this is build " + BuildId() +
                           "; a replay gives the sweep's rows only on the build that ran it");
  }
  const Request& sweep = kept.request;
  if (asked.runs.Empty()) throw RequestError(Source::Field, "runs", "", "expects the runs to replay, e.g. 13,20,100:110");
  // A replay's manifest holds the runs it made; a sweep's, every run of the sweep.
  const RunSelection held = sweep.runs.Empty() ? RunSelection({{0, SweepSize(sweep) - 1}}) : sweep.runs;
  if (const auto missing = held.FirstMissing(asked.runs)) {
    const std::string runs = sweep.runs.Empty() ? "from 0 to " + std::to_string(SweepSize(sweep) - 1) : held.Text();
    throw RequestError(Source::Field, "runs", std::to_string(*missing),
                       "expects runs of the sweep in '" + asked.manifest + "', " + runs);
  }
  if (asked.steps && *asked.steps > sweep.steps) {
    throw RequestError(Source::Field, "steps", std::to_string(*asked.steps),
                       "expects at most the sweep's " + std::to_string(sweep.steps) +
                           " steps: a replay makes the sweep's runs, or their first steps");
  }
  Request r = invocation;
  r.base = sweep.base;
  r.axes = sweep.axes;
  r.design = sweep.design;
  if (r.design) r.design->file.clear();  // the points come from the manifest, not from a file
  r.repeats = sweep.repeats;
  r.seed = sweep.seed;
  r.quietSteps = sweep.quietSteps;
  r.steps = asked.steps.value_or(sweep.steps);
  r.recordEvery = asked.recordEvery.value_or(sweep.recordEvery);
  r.means = asked.means.value_or(sweep.means);
  r.runs = asked.runs;
  r.from = asked.manifest;
  r.shardIndex = 0;
  r.shardCount = 1;
  return r;
}

}  // namespace zelmora::sweep
