#include "common/Format.h"

#include <gtest/gtest.h>

namespace da {
namespace {

struct FormatCase {
  const char* pattern;
  std::string expected;
};

TEST(Format, FillsPlaceholders) {
  EXPECT_EQ(Format("Can't connect to MySQL server on '%s' (%d)", {"db.local", 10061}),
            "Can't connect to MySQL server on 'db.local' (10061)");
  EXPECT_EQ(Format("error %d($%X)", {255, 255}), "error 255($FF)");
  EXPECT_EQ(Format("%x|%u|%%", {255, 7}), "ff|7|%");
  EXPECT_EQ(Format("[%5s][%-5s][%3d]", {"ab", "ab", 7}), "[   ab][ab   ][  7]");
}

TEST(Format, CutsTextAtPrecision) {
  std::string host(100, 'h');
  EXPECT_EQ(Format("'%-.64s'", {host}), "'" + std::string(64, 'h') + "'");
  EXPECT_EQ(Format("'%-.64s'", {"short"}), "'short'");
}

TEST(Format, KeepsPlaceholdersWithoutArguments) {
  EXPECT_EQ(Format("Can't open named pipe to host: %s  pipe: %s (%s)", {}),
            "Can't open named pipe to host: %s  pipe: %s (%s)");
  EXPECT_EQ(Format("%s and %d and %-.64s", {"one"}), "one and %d and %-.64s");
}

TEST(Format, KeepsUnknownOrBrokenPlaceholders) {
  EXPECT_EQ(Format("100% sure %q %", {1}), "100% sure %q %");
  EXPECT_EQ(Format("%-.", {"x"}), "%-.");
}

}  // namespace
}  // namespace da
