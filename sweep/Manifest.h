#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "batch/Options.h"
#include "sweep/Record.h"
#include "sweep/RunPlan.h"

namespace zelmora::batch {

// What defines a sweep's bytes: master seed, grid, steps and --until, recording, shard, the sweep's
// size, its design (file, content and hash) and every run's index, seed and parameters. A resumed sweep must have the same, and merged shards
// the same but for the shard and its runs.
nlohmann::json SweepDefinition(const Options& options, std::uint64_t masterSeed, const std::vector<RunPlan>& runs);

// How many rows the runs of the sweep a manifest defines have.
RunLength LengthOf(const nlohmann::json& sweep);

// The pictures a sweep makes for every run; a resume must make the same, so no run lacks them.
nlohmann::json PicturesDefinition(const Options& options);

// The first difference between a sweep's definition in its manifest (`kept`) and the one the
// command gives, as one line naming the option and both values; nothing when they agree.
std::optional<std::string> SweepDifference(const nlohmann::json& kept, const nlohmann::json& given);

// Checks that a manifest (shape already checked) was written by this build and describes the
// sweep and pictures the command gives; throws UsageError naming `option` and what differs.
void CheckSameSweep(const std::string& option, const std::string& path, const nlohmann::json& manifest,
                    const nlohmann::json& sweep, const nlohmann::json& pictures);

}  // namespace zelmora::batch
