#include "simulation/IntegerText.h"

#include <cstdint>
#include <limits>

namespace zelmora {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::int32_t ParseInt32(const std::string& text) {
  const auto invalid = [&text]() {
    return SetupError("'" + text + "' is not a valid integer value");
  };
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }

  bool hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == text.size()) throw invalid();

  // Accumulated in 64 bits; a magnitude beyond 32 bits is refused as soon as it appears, so
  // any length of digits is safe.
  std::uint64_t magnitude = 0;
  const std::uint64_t limit = hex ? 0xFFFFFFFFULL
                                  : (negative ? 2147483648ULL : 2147483647ULL);
  for (; i < text.size(); ++i) {
    const int digit = hex ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0) throw invalid();
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
    if (magnitude > limit) throw invalid();
  }

  // Hexadecimal spells the 32-bit pattern, so "$FFFFFFFF" is -1.
  const std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
  const std::uint32_t value = negative ? 0u - bits : bits;
  return static_cast<std::int32_t>(value);
}

}  // namespace zelmora
