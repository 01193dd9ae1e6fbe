#include "ChartTypes.h"

#include <QGuiApplication>
#include <QPalette>

namespace zelmora {

TColor ResolveColor(TColor color) {
  if ((color & 0xFF000000u) == 0) return color;
  // Without an application object there is no palette: fall back to the
  // classic light grey face and mid grey text.
  if (QGuiApplication::instance() == nullptr) {
    return color == clGrayText ? RGBColor(109, 109, 109) : RGBColor(240, 240, 240);
  }
  const QPalette palette = QGuiApplication::palette();
  // The face matches the window background so the chart's rims blend into it.
  const QColor c = color == clGrayText
                       ? palette.color(QPalette::Disabled, QPalette::WindowText)
                       : palette.color(QPalette::Active, QPalette::Window);
  return RGBColor(c.red(), c.green(), c.blue());
}

}  // namespace zelmora
