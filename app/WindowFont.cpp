#include "WindowFont.h"

#include <QFontDatabase>
#include <QStringList>

namespace app {

QString LoadFontFamily(const QString& path) {
  const int id = QFontDatabase::addApplicationFont(path);
  const QStringList families = id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList();
  if (families.isEmpty()) return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  return families.front();
}

QString WindowFontFamily() {
  static const QString family = LoadFontFamily(QString::fromLatin1(kTahomaPath));
  return family;
}

QFont WindowFont(qreal points, bool bold) {
  QFont font(WindowFontFamily());
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

}  // namespace app
