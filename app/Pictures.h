#pragma once
// The window's pictures: the header logo, the completion check mark and the
// button glyphs. They are PNG files of our own, drawn at build time by
// pictures/MakePictures.cpp and compiled into the program as Qt resources.

#include <QPixmap>

namespace app {

enum TPicture {
  picLogo,       // 60 x 48, orange on transparent
  picCheckMark,  // 48 x 48, green check mark
  picIcon,       // 64 x 64, the program's icon: the logo on a grey tile
};

enum TGlyph {
  glyphAccept,     // green check
  glyphCancel,     // the standard cancel glyph: red cross
  glyphNext,       // arrow to the right
  glyphDatabase,   // stacked disks
  glyphAgenda,     // calendar sheet
  glyphCheckAll,   // checked boxes
  glyphUncheckAll, // empty boxes
  glyphSchedule,   // clock
  glyphRemove,     // waste bin
  glyphHelp,       // question mark
};

// A null pixmap only if the resources were not linked in.
QPixmap Picture(TPicture picture);
// 16 x 16.
QPixmap Glyph(TGlyph glyph);

}  // namespace app
