// Macros: the scan of a statement text, the expansion, lookup by name and
// the change notification.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Component.h"
#include "common/DAErrors.h"
#include "components/DAMacros.h"
#include "driver/MyParser.h"

namespace da {
namespace {

std::vector<std::string> NamesOf(const TMacros& macros) {
  std::vector<std::string> names;
  for (int i = 0; i < macros.Count(); ++i) names.push_back(macros.Items(i).Name());
  return names;
}

TEST(MacrosTest, ScanFindsNamesOutsideStringsAndComments) {
  struct Case {
    const char* text;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"SELECT * FROM &t WHERE &cond AND &T", {"t", "cond"}},
      {"SELECT '&a', \"&b\", `&c` /* &d */ -- &e\n# &f\nFROM &g", {"g"}},
      {"SELECT a & b, c && d, e &1, &", {}},
      {"ORDER BY &order", {"order"}},
      {"SELECT &a&b", {"a", "b"}},
      {"SELECT 1", {}},
  };
  for (const Case& c : cases) {
    TMacros macros;
    macros.SetParserClass(&TMyParser::Create);
    macros.Scan(c.text);
    EXPECT_EQ(NamesOf(macros), c.names) << c.text;
  }
  // The default lexer class takes "#" for a letter, so "&f" counts there.
  TMacros sql;
  sql.Scan("SELECT 1 # &f");
  EXPECT_EQ(NamesOf(sql), (std::vector<std::string>{"f"}));
}

TEST(MacrosTest, RescanKeepsValuesOfSurvivingMacros) {
  TMacros macros;
  macros.SetParserClass(&TMyParser::Create);
  EXPECT_TRUE(macros.Scan("SELECT * FROM &t WHERE &w"));
  TMacro& t = macros.MacroByName("t");
  t.SetValue("users");
  t.SetActive(false);

  EXPECT_FALSE(macros.Scan("SELECT a FROM &t WHERE &w"));  // same list: nothing replaced
  EXPECT_TRUE(macros.Scan("SELECT * FROM &x, &T"));
  EXPECT_EQ(NamesOf(macros), (std::vector<std::string>{"x", "T"}));
  EXPECT_EQ(&macros.Items(1), &t);  // the surviving macro is the same object
  EXPECT_EQ(t.Value(), "users");
  EXPECT_FALSE(t.Active());

  EXPECT_TRUE(macros.Scan("SELECT 1"));
  EXPECT_EQ(macros.Count(), 0);
}

TEST(MacrosTest, Expansion) {
  TMacros macros;
  macros.SetParserClass(&TMyParser::Create);
  const std::string text = "SELECT * FROM &t";
  macros.Scan(text);
  macros.MacroByName("t").SetValue("users");
  EXPECT_EQ(macros.Expand(text), "SELECT * FROM users");
  macros.MacroByName("t").SetActive(false);
  EXPECT_EQ(macros.Expand(text), "SELECT * FROM ");
  macros.MacroByName("t").SetActive(true);

  // Unknown macros vanish; other "&"s, strings and comments stay as written.
  EXPECT_EQ(macros.Expand("SELECT a & b, c && d, '&t' /* &t */, `&t`, &t, &missing, &1, &"),
            "SELECT a & b, c && d, '&t' /* &t */, `&t`, users, , &1, &");
  EXPECT_EQ(macros.Expand("select &T\r\n-- x\n"), "select users\r\n-- x\n");

  TMacros none;
  EXPECT_EQ(none.Expand("SELECT &t"), "SELECT &t");
}

TEST(MacrosTest, LookupIgnoresLetterCase) {
  TComponent owner;
  owner.SetName("q_lojas");
  TMacros macros(&owner);
  macros.Add("Ca\xE7\xE3o");
  EXPECT_NE(macros.FindMacro("CA\xC7\xC3O"), nullptr);
  EXPECT_EQ(macros.FindMacro("other"), nullptr);
  try {
    macros.MacroByName("other");
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "q_lojas: Macro other not found");
  }
}

TEST(MacrosTest, ValueChangesAreReportedOutsideUpdates) {
  TMacros macros;
  std::vector<std::string> reported;
  macros.OnMacroChanged = [&](TMacro& m) { reported.push_back(m.Name()); };
  TMacro& m = macros.Add("t");
  m.SetValue("a");
  m.SetValue("a");  // unchanged: not reported
  m.SetActive(false);
  macros.BeginUpdate();
  m.SetValue("b");
  macros.EndUpdate();
  EXPECT_EQ(reported, (std::vector<std::string>{"t", "t"}));
}

TEST(MacrosTest, LexerErrorsReachTheCaller) {
  TMacros macros;
  EXPECT_THROW(macros.Scan("SELECT &t \x01"), EParserError);
  EXPECT_EQ(macros.Count(), 0);
}

}  // namespace
}  // namespace da
