#pragma once

#include <QFont>

namespace zelmora {

// Tahoma with a character height (em size, internal leading excluded) of
// pixelHeight pixels: QFont::setPixelSize has that meaning. Where Tahoma is
// not installed, the Tahoma-metric face that Wine ships is registered with
// the application; DejaVu Sans is the last resort. Needs a QGuiApplication.
QFont TahomaFont(int pixelHeight);

}  // namespace zelmora
