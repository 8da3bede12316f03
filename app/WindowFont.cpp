#include "WindowFont.h"

#include <QFontDatabase>
#include <QStringList>

namespace app {

QString LoadFontFamily(const QString& regularPath, const QString& boldPath) {
  const int regular = QFontDatabase::addApplicationFont(regularPath);
  const QStringList families = regular >= 0 ? QFontDatabase::applicationFontFamilies(regular) : QStringList();
  if (families.isEmpty()) return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  // Without the bold face Qt emboldens the regular one.
  QFontDatabase::addApplicationFont(boldPath);
  return families.front();
}

QString WindowFontFamily() {
  static const QString family =
      LoadFontFamily(QString::fromLatin1(kTahomaRegularPath), QString::fromLatin1(kTahomaBoldPath));
  return family;
}

QFont WindowFont(qreal points, bool bold) {
  QFont font(WindowFontFamily());
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

}  // namespace app
