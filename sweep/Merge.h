#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace zelmora::sweep {

// `merge OUT.csv SHARD.csv...`: checks that the shards' manifests describe one sweep (the same
// build, and the same request: every parameter of every run, the design, steps, recording and
// master seed; the first difference is named with the parameter and both values), that every
// shard of it is there once and complete and every run whole, then writes OUT.csv, OUT.json and
// its journal as the unsharded sweep would have: the CSV byte for byte, the manifest's request
// and its hash alike (times, command line and jobs are the shards'; docs/EXPERIMENTS.md). `args`
// are those after "merge". Throws RequestError (naming "merge": a missing, repeated or foreign
// shard) or IoError. Each shard's journal line is checked against its run: one missing or damaged
// is written as the run's rows prove it (run and seed, without times) and named on `err`; a line
// past the shard's runs is refused.
void MergeShards(const std::vector<std::string>& args, std::ostream& err);

}  // namespace zelmora::sweep
