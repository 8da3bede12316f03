#include "WinText.h"

#include "common/CodePage.h"

namespace app {

QString FromWin1252(std::string_view bytes) {
  return QString::fromStdU16String(da::Win1252ToUtf16(bytes));
}

std::string ToWin1252(const QString& text) {
  return da::Utf16ToWin1252(text.toStdU16String());
}

}  // namespace app
