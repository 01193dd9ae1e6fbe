#pragma once

#include <QWidget>

#include "Canvas.h"
#include "FrameThrottle.h"

namespace zelmora {

// The drawing surface of the grid: a bitmap the model's drawing paints into directly, shown by
// copying it at the next paint event. The screen gets the picture at most once a frame, however
// many steps change it meanwhile.
class TDrawingImage : public QWidget {
  Q_OBJECT

 public:
  explicit TDrawingImage(QWidget* parent);

  Canvas& GetCanvas() { return canvas_; }
  // Something was drawn: schedule one repaint if none is pending.
  void Changed() { throttle_.Request(); }
  // Sizes the bitmap with the control, keeping what was drawn.
  void SetBounds(int left, int top, int width, int height);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Canvas canvas_;
  FrameThrottle throttle_;
};

}  // namespace zelmora
