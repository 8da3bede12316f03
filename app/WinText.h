#pragma once
// The window's texts meet the data-access layer's 8-bit strings here: every
// 8-bit string is Windows-1252, and the conversion keeps every byte (see
// common/CodePage.h), so a text read back from a control is the one put in.

#include <QString>
#include <string>
#include <string_view>

namespace app {

QString FromWin1252(std::string_view bytes);
// Characters the code page cannot hold become '?'.
std::string ToWin1252(const QString& text);

}  // namespace app
