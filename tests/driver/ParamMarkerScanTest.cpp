// The parameter-marker scan: which colons start markers, the names, the
// final text and the recorded "?" positions.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MarkerRecorder.h"
#include "driver/MyParser.h"
#include "driver/ParamMarkerScan.h"

namespace da {
namespace {

using testutil::CheckOnlyMarkersChanged;
using testutil::MarkerRecorder;
using Names = std::vector<std::string>;

struct ScanCase {
  const char* input;
  const char* final;
  Names names;
};

TEST(ParamMarkerScanTest, MarkerCases) {
  const ScanCase cases[] = {
      {"SELECT bd, host FROM ligacoes\r\nWHERE serial = :serial", "SELECT bd, host FROM ligacoes\r\nWHERE serial = ?",
       {"serial"}},
      {"WHERE servidor=:server AND basedados=:database ORDER BY cliente",
       "WHERE servidor=? AND basedados=? ORDER BY cliente", {"server", "database"}},
      // Colons inside strings, quoted identifiers and comments.
      {"SELECT ':x', \":y\" FROM t", "SELECT ':x', \":y\" FROM t", {}},
      {"SELECT `a:b` FROM t", "SELECT `a:b` FROM t", {}},
      {"SELECT /* :x */ 1", "SELECT /* :x */ 1", {}},
      {"SELECT 1 # :x\n, :y", "SELECT 1 # :x\n, ?", {"y"}},
      {"SELECT 1 -- :x\n, :y", "SELECT 1 -- :x\n, ?", {"y"}},
      {"SELECT 1 --:x", "SELECT 1 --?", {"x"}},
      // Colons that start no marker.
      {"SET @a := 1", "SET @a := 1", {}},
      {"SELECT a::int", "SELECT a::int", {}},
      {"SELECT : x", "SELECT : x", {}},
      {"SELECT a:", "SELECT a:", {}},
      {"SELECT :'s'", "SELECT :'s'", {}},
      {"SELECT :@ v", "SELECT :@ v", {}},
      // Names: back quotes removed, "@" kept, numbers, keywords upper-cased.
      {"WHERE a = :`my name`", "WHERE a = ?", {"my name"}},
      {"WHERE a = :@v", "WHERE a = ?", {"@v"}},
      {"WHERE a = :1", "WHERE a = ?", {"1"}},
      {"WHERE a = :order", "WHERE a = ?", {"ORDER"}},
      {"VALUES (:a,:b):c", "VALUES (?,?)?", {"a", "b", "c"}},
      {"x=:a:b", "x=??", {"a", "b"}},
      {"x=:`open", "x=?", {"`open"}},
      {"x=:@`v`", "x=?", {"@`v`"}},
      {"x=:``", "x=?", {""}},
      // Escaped and doubled quotes.
      {R"(WHERE s = 'a\':x' AND t = :t)", R"(WHERE s = 'a\':x' AND t = ?)", {"t"}},
      {R"(WHERE s = 'a\\':x')", R"(WHERE s = 'a\\'?')", {"x"}},
      {"WHERE s = 'a'':x'", "WHERE s = 'a'':x'", {}},
      {R"(WHERE s = "a\":x")", R"(WHERE s = "a\":x")", {}},
      // A comment between the colon and the name belongs to the marker.
      {"x=:/*c*/y", "x=?", {"y"}},
      {"", "", {}},
  };
  for (const ScanCase& c : cases) {
    MarkerRecorder rec;
    std::string final = MySqlParseSQL(c.input, rec);
    EXPECT_EQ(final, c.final) << c.input;
    EXPECT_EQ(rec.Names(), c.names) << c.input;
    EXPECT_EQ(CheckOnlyMarkersChanged(c.input, final, rec), "") << c.input;
  }
}

TEST(ParamMarkerScanTest, RecordsOneBasedPositions) {
  MarkerRecorder rec;
  std::string final = MySqlParseSQL("SELECT bd, host FROM ligacoes\r\nWHERE serial = :serial", rec);
  ASSERT_EQ(rec.positions.size(), 1u);
  EXPECT_EQ(rec.positions[0], final.size());
  EXPECT_EQ(final[rec.positions[0] - 1], '?');

  MySqlParseSQL(":a, :b", rec);
  EXPECT_EQ(rec.positions, (std::vector<size_t>{1, 4}));
  EXPECT_EQ(rec.markers[1].sourcePos, 4u);
  EXPECT_EQ(rec.markers[1].sourceLength, 2u);
}

TEST(ParamMarkerScanTest, EveryScanStartsWithAnEmptyList) {
  MarkerRecorder rec;
  MySqlParseSQL("x = :a", rec);
  EXPECT_EQ(MySqlParseSQL("no markers", rec), "no markers");
  EXPECT_EQ(rec.clears, 2);
  EXPECT_TRUE(rec.markers.empty());
}

TEST(ParamMarkerScanTest, TextWithoutColonIsNotLexed) {
  MarkerRecorder rec;
  const std::string odd = "SELECT \x01";
  EXPECT_EQ(MySqlParseSQL(odd, rec), odd);
  EXPECT_THROW(MySqlParseSQL(odd + " :x", rec), EParserError);

  // The generic scan lexes every text.
  TParamMarkerScan generic(&TMyParser::Create, &rec);
  EXPECT_THROW(generic.ParseSQL(odd), EParserError);
}

TEST(ParamMarkerScanTest, WithoutListMarkersAreCopiedOrRenamed) {
  TParamMarkerScan scan(&TMyParser::Create, nullptr);
  EXPECT_EQ(scan.ParseSQL("a = :order AND b = :`x y` AND c = ':s'"), "a = :order AND b = :`x y` AND c = ':s'");
  EXPECT_EQ(scan.ParseSQL("a = :order AND b = :`x y`", "p_"), "a = p_ORDER AND b = p_x y");
}

TEST(ParamMarkerScanTest, SqlLexerClassUsesItsOwnQuotes) {
  MarkerRecorder rec;
  TParamMarkerScan scan(&TSQLParser::Create, &rec);
  EXPECT_EQ(scan.ParseSQL("a = :\"q n\" -- :x\n AND `b` = :b"), "a = ? -- :x\n AND `b` = ?");
  EXPECT_EQ(rec.Names(), (Names{"q n", "b"}));
}

}  // namespace
}  // namespace da
