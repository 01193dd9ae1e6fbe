#include "simulation/Registers.h"

#include <algorithm>
#include <atomic>

namespace zelmora {

namespace {
std::atomic<int> widestAllowed{2};  // read by Worlds on any thread
}  // namespace

void LimitRegisters(int widest) { widestAllowed.store(widest, std::memory_order_relaxed); }

int AllowedRegisters(int machine) {
  return std::min(machine, widestAllowed.load(std::memory_order_relaxed));
}

}  // namespace zelmora
