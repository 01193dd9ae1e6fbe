#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sweep/Request.h"

namespace zelmora::sweep {

// A replay: chosen runs of a sweep made again from its manifest alone (the whole sweep's, a
// shard's or a merge's), with the sweep's parameters and seeds, to draw their pictures or record
// them more often. What a front end was asked besides its own outputs, threads and pictures.
struct ReplayAsked {
  std::string manifest;  // FILE.json
  RunSelection runs;
  std::optional<std::int32_t> steps;        // no more than the sweep's; its own when not given
  std::optional<std::int32_t> recordEvery;  // the sweep's when not given
  std::optional<bool> means;                // the sweep's when not given
};

// Whether a replay takes the request's field `field` (options and keywords by their request names,
// with underscores: steps, record_every, means, the outputs, pictures and threads). Every other
// field or parameter would change what the runs are: a front end refuses it, naming it.
bool ReplayTakes(std::string_view field);

// The request that replays `asked.runs` of the sweep in `asked.manifest`: that sweep's parameters,
// lists, design, repeats, seed and stop, with the steps, recording and means asked for, as a sweep
// of the runs chosen (shard 0/1), and the outputs, pictures and threads of `invocation`. Throws
// RequestError naming "from" (a manifest that cannot be read, is damaged, of another format or of
// another build, both ids named), "runs" (none, or one the sweep does not hold) or "steps" (more
// than the sweep's).
Request ReplayRequest(const ReplayAsked& asked, const Request& invocation);

}  // namespace zelmora::sweep
