#include "common/CodePage.h"

#include <gtest/gtest.h>

namespace da {
namespace {

std::string AllBytes() {
  std::string s;
  for (int b = 0; b < 256; ++b) s += static_cast<char>(b);
  return s;
}

TEST(CodePage, EveryByteSurvivesRoundTrips) {
  const std::string bytes = AllBytes();
  EXPECT_EQ(Utf16ToWin1252(Win1252ToUtf16(bytes)), bytes);
  EXPECT_EQ(Utf8ToWin1252(Win1252ToUtf8(bytes)), bytes);
}

TEST(CodePage, UndefinedBytesMapToTheirOwnControls) {
  for (unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
    SCOPED_TRACE(int(b));
    EXPECT_EQ(Win1252ToChar16(b), char16_t(b));
    std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToWin1252(Win1252ToUtf8(one)), one);
  }
}

struct CharCase {
  unsigned char byte;
  const char* utf8;
};

TEST(CodePage, MapsPortugueseAndSpecialCharacters) {
  const CharCase cases[] = {
      {0xE7, "ç"}, {0xE3, "ã"}, {0xC9, "É"}, {0xF5, "õ"}, {0xAA, "ª"},
      {0x80, "€"}, {0x96, "–"}, {0x93, "“"}, {0x9F, "Ÿ"}, {0x8A, "Š"},
  };
  for (const auto& c : cases) {
    std::string one(1, static_cast<char>(c.byte));
    EXPECT_EQ(Win1252ToUtf8(one), c.utf8);
    EXPECT_EQ(Utf8ToWin1252(c.utf8), one);
  }
  EXPECT_EQ(Win1252ToUtf8("Ferramenta para agendar altera\xE7\xE3o"), "Ferramenta para agendar alteração");
}

TEST(CodePage, UnmappableAndInvalidInputBecomesQuestionMarks) {
  EXPECT_EQ(Utf8ToWin1252("a\xE2\x82"), "a??");           // truncated sequence
  EXPECT_EQ(Utf8ToWin1252("\xC0\xAF"), "??");             // overlong
  EXPECT_EQ(Utf8ToWin1252("日本"), "??");                  // outside the code page
  EXPECT_EQ(Utf8ToWin1252("\xF0\x9F\x98\x80"), "?");      // one astral character
  EXPECT_EQ(Utf16ToWin1252(u"\U0001F600x"), "?x");
  EXPECT_EQ(Utf16ToWin1252(u"\u0100"), "?");
}

TEST(CodePage, Utf8AndUtf16AgreeOnAstralCharacters) {
  std::string utf8 = "a\xF0\x9F\x98\x80z";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(utf8)), utf8);
  EXPECT_EQ(Utf8ToUtf16(utf8).size(), 4u);
}

}  // namespace
}  // namespace da
