#include "ui/DrawingImage.h"

#include <QPainter>

namespace zelmora {

TDrawingImage::TDrawingImage(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // the bitmap covers the whole control
}

void TDrawingImage::SetBounds(int left, int top, int width, int height) {
  setGeometry(left, top, width, height);
  canvas_.Resize(width, height);
}

void TDrawingImage::Changed() {
  if (repaintPending_) return;
  repaintPending_ = true;
  update();
}

void TDrawingImage::paintEvent(QPaintEvent* /*event*/) {
  repaintPending_ = false;
  QPainter painter(this);
  painter.drawImage(0, 0, canvas_.Image());
}

}  // namespace zelmora
