#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace zelmora {

// Thrown by World::CheckCopies when a cell or agent no longer agrees with an accelerator's copy
// of it: a field was written without World::CellsEdited(). The message, one line, names the cell
// or agent and the field.
class CopiesStale : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

namespace detail {

// "cell (col, row)" of the row-major cell k.
std::string CellName(std::size_t k, std::int32_t cols);
// Throws CopiesStale: `what` (a cell or agent) no longer agrees with the copy of its `field`.
[[noreturn]] void Stale(const std::string& what, const std::string& field);

inline bool SameBits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

}  // namespace detail
}  // namespace zelmora
