#pragma once

#include <string>
#include <string_view>

#include "sweep/Request.h"

namespace zelmora::sweep {

// The largest design file taken.
inline constexpr std::size_t MaxDesignBytes = std::size_t(64) << 20;

// A design file's bytes. Throws RequestError naming the design and why it cannot be read.
std::string ReadDesignFile(const std::string& file);

// Parses a design as researchers write it: a header of parameter names (with underscores or
// dashes, quoted or not), then one line of values per point, values as the command line takes
// them (switches also as 1/0 or true/false in any case, as pandas and R write them); fields may be
// quoted as RFC 4180 has it, lines end in LF or CR LF, a spreadsheet's byte-order mark and blank
// lines at the end are skipped, and so is an unnamed first column of row numbers (R's row names, a
// pandas index). Throws RequestError naming the row and column: an empty file, a header without
// points, an unnamed or unknown column, a ragged row, a value that is no value of its parameter.
// The parsed points are the design: the same points in another file's bytes are the same design.
Design ParseDesign(const std::string& file, std::string_view content);

}  // namespace zelmora::sweep
