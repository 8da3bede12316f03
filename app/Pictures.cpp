#include "Pictures.h"

#include <QString>

// Registers the compiled-in resources; outside any namespace, as Qt requires.
static void RegisterPictureResources() { Q_INIT_RESOURCE(pictures); }

namespace app {
namespace {

QPixmap Load(const char* file) {
  static const bool registered = (RegisterPictureResources(), true);
  (void)registered;
  return QPixmap(QStringLiteral(":/pictures/") + QString::fromLatin1(file));
}

}  // namespace

QPixmap Picture(TPicture picture) {
  switch (picture) {
    case picLogo: return Load("logo.png");
    case picCheckMark: return Load("checkmark.png");
    case picIcon: return Load("icon.png");
  }
  return {};
}

QPixmap Glyph(TGlyph glyph) {
  switch (glyph) {
    case glyphAccept: return Load("accept.png");
    case glyphCancel: return Load("cancel.png");
    case glyphNext: return Load("next.png");
    case glyphDatabase: return Load("database.png");
    case glyphAgenda: return Load("agenda.png");
    case glyphCheckAll: return Load("checkall.png");
    case glyphUncheckAll: return Load("uncheckall.png");
    case glyphSchedule: return Load("schedule.png");
    case glyphRemove: return Load("remove.png");
    case glyphHelp: return Load("help.png");
  }
  return {};
}

}  // namespace app
