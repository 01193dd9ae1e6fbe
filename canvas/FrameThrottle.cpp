#include "FrameThrottle.h"

namespace zelmora {

FrameThrottle::FrameThrottle(std::function<void()> repaint) : repaint_(std::move(repaint)) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, [this]() { repaint_(); });
}

void FrameThrottle::Request() {
  if (pending_) return;
  pending_ = true;
  const qint64 since = sinceRepaint_.isValid() ? sinceRepaint_.elapsed() : kFrameMillis;
  if (since >= kFrameMillis) {
    repaint_();
  } else {
    timer_.start(static_cast<int>(kFrameMillis - since));
  }
}

void FrameThrottle::Painted() {
  pending_ = false;
  timer_.stop();
  sinceRepaint_.restart();
}

void FrameThrottle::Cancel() {
  pending_ = false;
  timer_.stop();
}

}  // namespace zelmora
