#include "ui/DrawingImage.h"

#include <QPainter>

namespace zelmora {

TDrawingImage::TDrawingImage(QWidget* parent)
    : QWidget(parent), throttle_([this]() { update(); }) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // the bitmap covers the whole control
}

void TDrawingImage::SetBounds(int left, int top, int width, int height) {
  setGeometry(left, top, width, height);
  canvas_.Resize(width, height);
}

void TDrawingImage::paintEvent(QPaintEvent* /*event*/) {
  throttle_.Painted();
  QPainter painter(this);
  painter.drawImage(0, 0, canvas_.Image());
}

}  // namespace zelmora
