#pragma once

#include <string>
#include <vector>

namespace zelmora::batch {

// `zelmora-batch merge OUT.csv SHARD.csv...`: checks that the shards' manifests describe one
// sweep (the same build, options and master seed), that every shard of it is there once and
// complete and every run whole, then writes OUT.csv and OUT.json as the unsharded sweep would
// have: the CSV byte for byte, the manifest's build, master seed, pictures, sweep and counts
// alike (times, command line and jobs are the shards'; docs/EXPERIMENTS.md). `args` are those
// after "merge". Throws UsageError (a missing, repeated or foreign shard named) or IoError.
void MergeShards(const std::vector<std::string>& args);

}  // namespace zelmora::batch
