#pragma once
// Lossless conversion between Windows-1252 bytes and Unicode. The five
// bytes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to
// the C1 controls of the same value, so every byte string survives a round
// trip. Characters that Windows-1252 cannot hold become '?'.

#include <string>
#include <string_view>

namespace da {

char16_t Win1252ToChar16(unsigned char byte);
// The byte for a character, or 0 when the code page has none (U+0000 maps to 0 too).
unsigned char Char16ToWin1252(char16_t ch, bool& ok);

std::u16string Win1252ToUtf16(std::string_view bytes);
std::string Utf16ToWin1252(std::u16string_view text);

std::string Win1252ToUtf8(std::string_view bytes);
// Invalid UTF-8 sequences become '?' byte by byte.
std::string Utf8ToWin1252(std::string_view utf8);

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view utf8);

}  // namespace da
