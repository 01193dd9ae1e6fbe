#pragma once

#include <string>
#include <string_view>

#include "batch/Options.h"

namespace zelmora::batch {

// The largest design file taken: the manifest keeps its content, and rewrites it as runs finish.
inline constexpr std::size_t MaxDesignBytes = std::size_t(64) << 20;

// A design file's bytes. Throws UsageError naming --design and why it cannot be read.
std::string ReadDesignFile(const std::string& file);

// Parses a design: a header line of parameter names (those --set takes), then one line of values
// per point, values as --set takes them (switches also as 1 and 0, or True and False as pandas
// writes bools), lines ended by LF or CR LF.
// Throws UsageError naming the file, the row and the column: an empty file, a header without
// points, an unnamed, unknown or repeated column, agents beside density, a ragged row, a value out
// of range.
Design ParseDesign(const std::string& file, std::string content);

// Refuses a design column that --set also varies, and agents from two places: a design's density
// beside --agents (given) or --set agents, its agents beside --density or --set density.
void CheckDesignAgainst(const Design& design, const Options& options, bool agentsGiven);

// The design's content hashed (FNV-1a, 64 bits, as 16 hex digits), recorded beside it.
std::string DesignHash(std::string_view content);

}  // namespace zelmora::batch
