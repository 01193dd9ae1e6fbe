#include "sweep/Printable.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace zelmora::sweep {

namespace {

// The length of the UTF-8 sequence at `k`, or 0 where none begins there.
std::size_t SequenceAt(std::string_view text, std::size_t k) {
  const auto c = std::uint8_t(text[k]);
  const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || k + n > text.size()) return 0;
  for (std::size_t j = 1; j < n; ++j) {
    if ((std::uint8_t(text[k + j]) >> 6) != 0x2) return 0;
  }
  return n;
}

}  // namespace

std::string Printable(std::string_view text) {
  static constexpr std::string_view Named = "\a\b\t\n\v\f\r\x1b", Letters = "abtnvfre";
  std::string shown;
  shown.reserve(text.size());
  char escape[8];
  for (std::size_t k = 0; k < text.size();) {
    const auto c = std::uint8_t(text[k]);
    const std::size_t n = SequenceAt(text, k);
    if (n == 2 && c == 0xC2 && std::uint8_t(text[k + 1]) <= 0x9F) {
      // C1 controls are U+0080 to U+009F.
      std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(std::uint8_t(text[k + 1])));
    } else if (n == 0 && c >= 0x80 && c <= 0x9F) {
      // A lone byte of no UTF-8 that 8-bit terminals take as a C1 control.
      std::snprintf(escape, sizeof escape, "\\x%02x", unsigned(c));
    } else if (n == 1 && (c < 0x20 || c == 0x7F)) {
      const std::size_t named = Named.find(char(c));
      if (named != std::string_view::npos) {
        std::snprintf(escape, sizeof escape, "\\%c", Letters[named]);
      } else {
        std::snprintf(escape, sizeof escape, "\\x%02x", unsigned(c));
      }
    } else {
      // Printable, UTF-8 or a byte of none kept as it is.
      shown.append(text.substr(k, std::max<std::size_t>(n, 1)));
      k += std::max<std::size_t>(n, 1);
      continue;
    }
    shown += escape;
    k += std::max<std::size_t>(n, 1);
  }
  return shown;
}

}  // namespace zelmora::sweep
