// The lexer classes: lexem codes and texts, settings, character classes,
// tables, the closing-quote rule, line counting and the unknown symbol.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "driver/CRParser.h"
#include "driver/MyParser.h"

namespace da {
namespace {

using Lexems = std::vector<std::pair<int, std::string>>;

Lexems LexAll(TParser& p) {
  Lexems out;
  std::string lexem;
  for (int guard = 0; guard < 1000; ++guard) {
    int code = p.GetNext(lexem);
    if (code == LexEnd) return out;
    out.emplace_back(code, lexem);
  }
  ADD_FAILURE() << "the lexer does not reach the end";
  return out;
}

Lexems LexMy(const std::string& text, bool omitBlank = true, bool omitComment = false, bool quoted = false) {
  TMyParser p(text);
  p.SetOmitBlank(omitBlank);
  p.SetOmitComment(omitComment);
  p.SetQuotedString(quoted);
  p.SetDecSeparator('.');
  return LexAll(p);
}

TEST(MyParserTest, StatementLexems) {
  EXPECT_EQ(LexMy("select a, b.c from t where x=1.5;"),
            (Lexems{{138, "SELECT"},
                    {LexIdent, "a"},
                    {4, ","},
                    {LexIdent, "b"},
                    {5, "."},
                    {LexIdent, "c"},
                    {112, "FROM"},
                    {LexIdent, "t"},
                    {144, "WHERE"},
                    {LexIdent, "x"},
                    {2, "="},
                    {LexNumber, "1.5"},
                    {7, ";"}}));
}

TEST(MyParserTest, KeywordsKeepTheirCaseWhenAsked) {
  TMyParser p("Show Processlist");
  p.SetUppercaseKeywords(false);
  EXPECT_EQ(LexAll(p), (Lexems{{1015, "Show"}, {1024, "Processlist"}}));
}

TEST(MyParserTest, LexemTable) {
  struct Case {
    const char* text;
    Lexems expected;
  };
  const Case cases[] = {
      // Blanks as lexems, with line breaks among them.
      {"a \r\n\tb", {{LexIdent, "a"}, {LexBlank, " \r\n\t"}, {LexIdent, "b"}}},
      // Comments: "#" and "-- " to the end of the line, block comments.
      {"a#c\nb", {{LexIdent, "a"}, {LexComment, "#c"}, {LexBlank, "\n"}, {LexIdent, "b"}}},
      {"a-- c\nb", {{LexIdent, "a"}, {LexComment, "-- c"}, {LexBlank, "\n"}, {LexIdent, "b"}}},
      {"a--c", {{LexIdent, "a"}, {LexSymbol, "-"}, {LexSymbol, "-"}, {LexIdent, "c"}}},
      {"a/* x\n*/b", {{LexIdent, "a"}, {LexComment, "/* x\n*/"}, {LexIdent, "b"}}},
      {"a/* open", {{LexIdent, "a"}, {LexComment, "/* open"}}},
      // Strings: content only; a backslash-escaped quote stays inside, two
      // backslashes end it; a doubled quote is two strings.
      {"'it''s'", {{LexString, "it"}, {LexString, "s"}}},
      {R"('a\'b')", {{LexString, R"(a\'b)"}}},
      {R"('a\\'b)", {{LexString, R"(a\\)"}, {LexIdent, "b"}}},
      {R"("dq")", {{LexString, "dq"}}},
      {"'open", {{LexString, "open"}}},
      // Back-quoted identifiers keep their quotes.
      {"`a b`.c", {{LexIdent, "`a b`"}, {5, "."}, {LexIdent, "c"}}},
      // "#" and "$" are no letters here; "_" starts identifiers.
      {"$x _y1", {{LexSymbol, "$"}, {LexIdent, "x"}, {LexBlank, " "}, {LexIdent, "_y1"}}},
      // Numbers: one decimal separator followed by a digit; no sign, no exponent.
      {"1.2.3,4.,5e3", {{LexNumber, "1.2"}, {5, "."}, {LexNumber, "3"}, {4, ","}, {LexNumber, "4"}, {5, "."},
                        {4, ","}, {LexNumber, "5"}, {LexIdent, "e3"}}},
      {"-7", {{LexSymbol, "-"}, {LexNumber, "7"}}},
      // Letters above 127.
      {"\xE7\xE3o", {{LexIdent, "\xE7\xE3o"}}},
      {"*=:,./;", {{1, "*"}, {2, "="}, {3, ":"}, {4, ","}, {5, "."}, {6, "/"}, {7, ";"}}},
  };
  for (const Case& c : cases) EXPECT_EQ(LexMy(c.text, false), c.expected) << c.text;
}

TEST(MyParserTest, SettingsChangeTheLexems) {
  EXPECT_EQ(LexMy("'a' /*c*/ b", true, true, true), (Lexems{{LexString, "'a'"}, {LexIdent, "b"}}));
  EXPECT_EQ(LexMy("'a\n' b"), (Lexems{{LexString, "a\n"}, {LexIdent, "b"}}));
  TMyParser p("1,5");
  p.SetDecSeparator(',');
  EXPECT_EQ(LexAll(p), (Lexems{{LexNumber, "1,5"}}));
}

TEST(SQLParserTest, CharacterClasses) {
  TSQLParser p(R"(#tmp$1 "q id" 'it\' --c)");
  p.SetOmitComment(false);
  EXPECT_EQ(LexAll(p), (Lexems{{LexIdent, "#tmp$1"}, {LexIdent, "\"q id\""}, {LexString, "it\\"},
                               {LexComment, "--c"}}));
}

TEST(ParserTest, BaseTables) {
  TParser p("! / : @ [ ` _x and // rest");
  EXPECT_EQ(LexAll(p), (Lexems{{1, "!"}, {15, "/"}, {16, ":"}, {22, "@"}, {23, "["}, {28, "`"},
                               {LexIdent, "_x"}, {29, "AND"}, {LexComment, "// rest"}}));
  EXPECT_EQ(p.Symbols().Count(), 28u);
  TParser q("{ \"s\"");
  EXPECT_EQ(LexAll(q), (Lexems{{LexSymbol, "{"}, {LexString, "s"}}));
}

TEST(ParserTest, KeywordTables) {
  EXPECT_EQ(TSQLParser::SqlKeywords().Count(), 44u);
  EXPECT_EQ(TMyParser::MyKeywords().Count(), 69u);
  const std::pair<const char*, int> samples[] = {
      {"all", 100}, {"INTO", 119}, {"with", 145}, {"charset", 1000}, {"Straight_Join", 1018},
      {"processlist", 1024}, {"engines", 1023}, {"or", 130}, {"order", 131},
  };
  for (auto [text, code] : samples) EXPECT_EQ(TMyParser::MyKeywords().Find(text), code) << text;
  EXPECT_EQ(TSQLParser::SqlKeywords().Find("SHOW"), 0);
  EXPECT_EQ(TMyParser::MyKeywords().Find("ORDERS"), 0);
  EXPECT_EQ(TMyParser::MyKeywords().Find(""), 0);
}

TEST(ParserTest, UnknownSymbolNamesTheCharacter) {
  TMyParser p("a \x01");
  std::string lexem;
  EXPECT_EQ(p.GetNext(lexem), LexIdent);
  try {
    p.GetNext(lexem);
    FAIL() << "no error";
  } catch (const EParserError& e) {
    EXPECT_EQ(e.Message(), std::string("Parser: The unknown symbol '\x01'  $0001"));
  }
  // The same characters are fine inside strings and comments.
  EXPECT_EQ(LexMy("'\x7f' #\x02"), (Lexems{{LexString, "\x7f"}, {LexComment, "#\x02"}}));
  EXPECT_THROW(LexMy(std::string("x\0", 2)), EParserError);
}

TEST(ParserTest, LinesAndPositions) {
  TMyParser p("a\rb\nc\r\nd /*\n\n*/ 'x\ny' e");
  std::string lexem;
  const std::pair<int, size_t> lines[] = {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {5, 2}, {6, 2}, {6, 4}};
  for (auto [line, col] : lines) {
    p.GetNext(lexem);
    EXPECT_EQ(p.CurrLine(), line) << lexem;
    EXPECT_EQ(p.CurrCol(), col) << lexem;
  }
  EXPECT_EQ(p.CurrPos(), p.Text().size());
  p.ToBegin();
  EXPECT_EQ(p.GetNext(lexem), LexIdent);
  EXPECT_EQ(p.CurrPos(), 1u);
  p.GetNext(lexem);
  p.Back();
  EXPECT_EQ(p.CurrPos(), 1u);
  EXPECT_EQ(p.GetNext(lexem), LexIdent);
  EXPECT_EQ(lexem, "b");
}

TEST(ParserTest, ToLexemSkipsStringsIdentifiersAndComments) {
  TMyParser p("':' `:` \":\" /* : */ # :\n -- :\n x : y");
  p.SetOmitBlank(false);
  ASSERT_TRUE(p.ToLexem(":"));
  EXPECT_EQ(p.LexemPos(), p.Text().rfind(':'));
  EXPECT_FALSE(p.ToLexem(":"));

  TMyParser q("select `from` from t");
  ASSERT_TRUE(q.ToLexem("FROM"));
  EXPECT_EQ(q.LexemPos(), 14u);
}

}  // namespace
}  // namespace da
