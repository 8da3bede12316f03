#pragma once
// The window's font: Tahoma, from the copy Debian's fonts-wine ships (a
// folder fontconfig does not scan, so the application registers it itself),
// or the default sans-serif font where that copy is missing.

#include <QFont>
#include <QString>

namespace app {

inline constexpr char kTahomaRegularPath[] = "/usr/share/wine/fonts/tahoma.ttf";
inline constexpr char kTahomaBoldPath[] = "/usr/share/wine/fonts/tahomabd.ttf";

// Registers the font files with the application and returns the family of
// the regular one; the default sans-serif family when it cannot be loaded.
// Needs the QGuiApplication.
QString LoadFontFamily(const QString& regularPath, const QString& boldPath);

// The family of the window's font, loaded once.
QString WindowFontFamily();

// The window's font at a size in points.
QFont WindowFont(qreal points = 8, bool bold = false);

}  // namespace app
