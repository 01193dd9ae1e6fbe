#include "ChartFonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QString>

namespace zelmora {

namespace {

QString TahomaFamily() {
  static const QString family = [] {
    const QString tahoma = QStringLiteral("Tahoma");
    if (QFontDatabase::families().contains(tahoma, Qt::CaseInsensitive)) return tahoma;
    // Debian's Wine fonts carry a Tahoma that fontconfig does not index.
    const QString wine = QStringLiteral("/usr/share/wine/fonts/tahoma.ttf");
    if (QFile::exists(wine)) {
      const int id = QFontDatabase::addApplicationFont(wine);
      if (id >= 0) {
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (!families.isEmpty()) return families.first();
      }
    }
    return QStringLiteral("DejaVu Sans");
  }();
  return family;
}

}  // namespace

QFont TahomaFont(int pixelHeight) {
  QFont font(TahomaFamily());
  font.setPixelSize(pixelHeight);
  font.setStyle(QFont::StyleNormal);
  font.setWeight(QFont::Normal);
  return font;
}

}  // namespace zelmora
