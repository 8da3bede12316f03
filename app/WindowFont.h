#pragma once
// The window's font: Tahoma, from the copy Debian's fonts-wine ships (a
// folder fontconfig does not scan, so the application registers it itself),
// or the default sans-serif font where that copy is missing.

#include <QFont>
#include <QString>

namespace app {

// Only the regular face: the bold file beside it draws a light, wide face,
// and Qt's emboldening of the regular one is far closer to Tahoma Bold.
inline constexpr char kTahomaPath[] = "/usr/share/wine/fonts/tahoma.ttf";

// Registers a font file with the application and returns its family; the
// default sans-serif family when it cannot be loaded. Needs the
// QGuiApplication.
QString LoadFontFamily(const QString& path);

// The family of the window's font, loaded once.
QString WindowFontFamily();

// The window's font at a size in points.
QFont WindowFont(qreal points = 8, bool bold = false);

}  // namespace app
