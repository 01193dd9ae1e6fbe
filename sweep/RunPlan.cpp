#include "sweep/RunPlan.h"

#include <random>

namespace zelmora::sweep {

std::uint64_t RunSeed(std::uint64_t masterSeed, std::int64_t index) {
  // Mixing the master seed first keeps neighbouring master seeds' runs apart; the index is
  // spread by the golden-ratio increment as in SplitMix64.
  return Mix64(Mix64(masterSeed) + GoldenGamma * (std::uint64_t(index) + 1));
}

std::uint64_t DrawMasterSeed() {
  std::random_device device;
  return (std::uint64_t(device()) << 32) ^ device();
}

}  // namespace zelmora::sweep
