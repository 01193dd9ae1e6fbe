#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zelmora {

// A setup that cannot go ahead because of what the user entered. The message is shown as is,
// with a full stop appended by the window.
class SetupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads a 32-bit integer the way the agent-count box accepts it: leading blanks, an optional
// sign, then decimal digits or hexadecimal digits after "$", "x" or "0x" (either case), and
// nothing after. Throws SetupError "'<text>' is not a valid integer value" otherwise.
std::int32_t ParseInt32(const std::string& text);

}  // namespace zelmora
