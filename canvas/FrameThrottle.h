#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <functional>

namespace zelmora {

// Limits how often a finished image is brought to the screen. The model may change the picture
// a thousand times a second; the screen needs it about sixty times. Each Request() leads to one
// call of the repaint function, at once if the last repaint is at least one frame ago, else at
// the start of the next frame; requests in between are merged.
class FrameThrottle {
 public:
  static constexpr int kFrameMillis = 16;

  explicit FrameThrottle(std::function<void()> repaint);

  void Request();
  // The repaint happened (call from the paint event).
  void Painted();
  // Forget a pending request (its repaint will not come, e.g. the widget was hidden).
  void Cancel();
  bool Pending() const { return pending_; }

 private:
  std::function<void()> repaint_;
  QTimer timer_;
  QElapsedTimer sinceRepaint_;
  bool pending_ = false;
};

}  // namespace zelmora
