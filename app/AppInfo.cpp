#include "AppInfo.h"

#include <QApplication>
#include <QIcon>
#include <QStyleFactory>

#include "Pictures.h"

namespace app {

const char* ApplicationTitle() { return "Agendar IVA"; }

void InitApplication(QApplication& application) {
  // The name only: a display name would be added to every window caption.
  application.setApplicationName(QString::fromUtf8(ApplicationTitle()));
  if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) application.setStyle(style);
  application.setWindowIcon(QIcon(Picture(picIcon)));
}

}  // namespace app
