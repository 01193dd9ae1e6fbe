#include "JointLayers.h"

#include "ChartTypes.h"

#include <string>

namespace zelmora {

void TJointLayers::Join(int layer, bool xAxis, int m) {
  if (m != 1 && m != 2) {
    throw EVrelRChartError("Destination layer " + std::to_string(m) + " is out of range");
  }
  int* joints = xAxis ? x_ : y_;
  if (m == layer) {
    joints[layer - 1] = m;
    return;
  }
  // Chains are not allowed: the destination must control its own axis.
  if (joints[m - 1] != m) {
    throw EVrelRChartError("Destination layer " + std::to_string(m) + " is already joined");
  }
  joints[layer - 1] = m;
  if (onJoin_) onJoin_(layer, xAxis);
}

}  // namespace zelmora
