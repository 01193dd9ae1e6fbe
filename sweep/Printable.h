#pragma once

#include <string>
#include <string_view>

namespace zelmora::sweep {

// A message that may quote input, safe to print on a terminal: control characters (C0, DEL and
// C1, in UTF-8 or as a lone byte) shown as escapes (\r, \e, \x01, \u009b, \x9b), so a value or a
// file's bytes cannot move the cursor or set a title. Every other byte, UTF-8 or not, is kept.
// Showing an escaped text again changes nothing.
std::string Printable(std::string_view text);

}  // namespace zelmora::sweep
