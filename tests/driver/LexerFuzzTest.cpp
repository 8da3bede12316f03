// Bounded random texts over the lexer and the marker scan: fixed seed,
// fixed count, biased towards the characters that matter (quotes,
// backslashes, comment openers, colons, "@").

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "LexerChecks.h"

namespace da {
namespace {

std::string RandomText(std::mt19937& rng) {
  static const char* const kPieces[] = {
      ":", ":", ":", "::", ":=", "@", "'", "'", "\"", "`", "`", "\\", "\\\\", "#", "--", "-- ", "/*", "*/",
      " ", " ", "\n", "\r", "\r\n", "\t", "a", "x", "name", "order", "from", "1", "2.5", ".", ",", "=", "(",
      ")", "?", "&", "$", "_", "\xE7", "my name",
  };
  constexpr size_t kPieceCount = sizeof(kPieces) / sizeof(kPieces[0]);
  std::uniform_int_distribution<size_t> length(0, 40);
  std::uniform_int_distribution<size_t> piece(0, kPieceCount - 1);
  std::uniform_int_distribution<int> anyByte(0, 255);
  std::uniform_int_distribution<int> percent(0, 99);
  std::string text;
  for (size_t n = length(rng); n > 0; --n) {
    if (percent(rng) < 3)
      text += static_cast<char>(anyByte(rng));
    else
      text += kPieces[piece(rng)];
  }
  return text;
}

TEST(LexerFuzzTest, RandomTextsKeepTheInvariants) {
  std::mt19937 rng(20240604);
  for (int i = 0; i < 12000; ++i) {
    std::string text = RandomText(rng);
    std::string problem = testutil::CheckAll(text);
    ASSERT_EQ(problem, "") << "text #" << i << ": \"" << text << "\"";
  }
}

}  // namespace
}  // namespace da
