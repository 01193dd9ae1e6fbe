#pragma once

#include <string>
#include <string_view>

#include "sweep/Request.h"

namespace zelmora::testing {

// Sets a parameter of every run by its name in the table.
inline void Given(sweep::Request& request, std::string_view name, double value) {
  request.base.Set(*sweep::FindParameter(name), value);
}

// A sweep of `repeats` runs of `steps` steps on a side x side grid with `agents` agents, recorded
// every `every` steps, master seed `seed`, into `out` (none when empty), quietly.
inline sweep::Request Small(const std::string& out, std::int32_t side = 20, double agents = 200, std::int32_t steps = 12,
                            std::int32_t every = 5, std::int64_t repeats = 4, std::uint64_t seed = 3) {
  sweep::Request r;
  Given(r, "grid_cols", side);
  Given(r, "grid_rows", side);
  Given(r, "agents", agents);
  r.steps = steps;
  r.recordEvery = every;
  r.repeats = repeats;
  r.seed = seed;
  r.quiet = true;
  r.out = out;
  r.commandLine = {"zelmora-batch", "--out", out};
  return r;
}

}  // namespace zelmora::testing
