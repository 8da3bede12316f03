#include "common/DAErrors.h"

#include <gtest/gtest.h>

#include "common/Component.h"

namespace da {
namespace {

TEST(EMyError, CarriesCodeTextAndOriginUnchanged) {
  TComponent query;
  EMyError e(1045, "\r\nAccess denied for user 'x'@'localhost' (using password: YES)", &query);
  EXPECT_EQ(e.ErrorCode(), 1045);
  EXPECT_EQ(e.Message(), "\r\nAccess denied for user 'x'@'localhost' (using password: YES)");
  EXPECT_EQ(e.Origin(), &query);
  const EDatabaseError& asBase = e;  // caught as the family's base
  EXPECT_STREQ(asBase.what(), e.Message().c_str());
}

struct RuleCase {
  int32_t code;
  bool fatal;
  bool duplicate;
};

TEST(EMyError, FatalAndDuplicateKeyRules) {
  const RuleCase cases[] = {
      {1053, true, false}, {2003, true, false}, {2006, true, false}, {2013, true, false},
      {1045, false, false}, {1062, false, true}, {1064, false, false}, {2014, false, false},
      {0, false, false},   {1586, false, false},
  };
  for (const auto& c : cases) {
    EMyError e(c.code, "x");
    EXPECT_EQ(e.IsFatal(), c.fatal) << c.code;
    EXPECT_EQ(e.IsDuplicateKey(), c.duplicate) << c.code;
  }
  EDAError plain(2013, "x");
  EXPECT_FALSE(plain.IsFatal());
  EXPECT_FALSE(plain.IsDuplicateKey());
}

struct LineCase {
  int32_t code;
  const char* message;
  int line;
};

TEST(EMyError, ErrorLineOfSyntaxErrors) {
  const LineCase cases[] = {
      {1064, "You have an error in your SQL syntax near 'x' at line 12", 12},
      {1064, "near 'SELEC 1' at line 3 of the batch", 3},
      {1064, "error 42 in the middle, nothing at the end", 42},
      {1064, "no digits at all", 0},
      {1064, "", 0},
      {1064, "line 99999999999999999999", 0},  // does not convert
      {1062, "Duplicate entry '5' for key 1", 0},
      {1146, "Table 'x' doesn't exist at line 7", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(EMyError(c.code, c.message).ErrorLine(), c.line) << c.message;
}

TEST(EDatabaseError, NamedComponentPrefixesItsName) {
  TComponent q;
  q.SetName("q");
  EXPECT_EQ(ComponentErrorText("Parameter 'x' not found", &q), "q: Parameter 'x' not found");
  TComponent unnamed;
  EXPECT_EQ(ComponentErrorText("No SQL statement provided", &unnamed), "No SQL statement provided");
  try {
    DatabaseError("Connection is not defined", &q);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "q: Connection is not defined");
  }
}

TEST(EFailOver, CarriesItsCauseAndNoText) {
  EFailOver e(clOpen);
  EXPECT_EQ(e.ConnLostCause(), clOpen);
  EXPECT_EQ(e.Message(), "");
  EXPECT_EQ(static_cast<int>(clConnect), 8);
  // Not part of the database-error family.
  EXPECT_EQ(dynamic_cast<const EDatabaseError*>(static_cast<const Exception*>(&e)), nullptr);
}

TEST(EAbort, IsSilent) {
  EAbort e;
  EXPECT_EQ(e.Message(), "");
}

}  // namespace
}  // namespace da
