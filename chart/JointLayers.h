#pragma once

#include <functional>

namespace zelmora {

// For each of the two layers, the layer whose x range and the layer whose y
// range it follows. Every axis starts controlled by its own layer.
class TJointLayers {
 public:
  // Called after a layer has been joined to another: layer, true for x.
  using JoinHandler = std::function<void(int layer, bool xAxis)>;

  int L01xControlledBy() const { return x_[0]; }
  int L01yControlledBy() const { return y_[0]; }
  int L02xControlledBy() const { return x_[1]; }
  int L02yControlledBy() const { return y_[1]; }
  // Throw EVrelRChartError for a layer other than 1 or 2 ("... is out of
  // range") or one whose own axis already follows another ("... is already
  // joined"); the joint then keeps its value.
  void SetL01xControlledBy(int m) { Join(1, true, m); }
  void SetL01yControlledBy(int m) { Join(1, false, m); }
  void SetL02xControlledBy(int m) { Join(2, true, m); }
  void SetL02yControlledBy(int m) { Join(2, false, m); }

  // The controlling layer of layer 1 or 2's x or y axis.
  int XControlledBy(int layer) const { return x_[layer - 1]; }
  int YControlledBy(int layer) const { return y_[layer - 1]; }

  void SetOnJoin(JoinHandler handler) { onJoin_ = std::move(handler); }

 private:
  void Join(int layer, bool xAxis, int m);

  int x_[2] = {1, 2};
  int y_[2] = {1, 2};
  JoinHandler onJoin_;
};

}  // namespace zelmora
