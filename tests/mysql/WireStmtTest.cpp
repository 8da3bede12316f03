// Prepared statements against the real server, through the call table:
// every parameter type, nulls, repeated execution, binary rows of every
// column type, procedure calls.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "TestServer.h"
#include "common/DateTime.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlSession.h"

namespace da::mysql {
namespace {

using Bytes = std::vector<uint8_t>;

class WireStmt : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    s = api.mysql_init(nullptr);
    ASSERT_NE(api.mysql_real_connect(s, server().host, server().user, server().password, server().database,
                                     static_cast<uint32_t>(server().port), "", CLIENT_MULTI_STATEMENTS),
              nullptr)
        << api.mysql_error(s);
  }
  void TearDown() override {
    for (TMySqlStmt* st : stmts_) api.mysql_stmt_close(st);
    api.mysql_close(s);
  }
  void Run(const std::string& sql) {
    ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0)
        << sql << ": " << api.mysql_error(s);
    if (TMySqlResultSet* r = api.mysql_use_result(s)) api.mysql_free_result(r);
  }
  std::vector<std::string> TextRow(const std::string& sql) {
    std::vector<std::string> out;
    EXPECT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0) << api.mysql_error(s);
    TMySqlResultSet* r = api.mysql_use_result(s);
    if (!r) return out;
    if (TMySqlBinds* row = api.mysql_fetch_row(r))
      for (uint32_t i = 0; i < row->Count(); ++i)
        out.push_back(api.IsNullField(row, i) ? "<null>" : api.GetFieldText(row, i));
    while (api.mysql_fetch_row(r)) {
    }
    api.mysql_free_result(r);
    return out;
  }
  TMySqlStmt* Prepare(const std::string& sql) {
    TMySqlStmt* st = api.mysql_stmt_init(s);
    stmts_.push_back(st);
    EXPECT_EQ(api.mysql_stmt_prepare(st, sql.data(), static_cast<uint32_t>(sql.size())), 0)
        << sql << ": " << api.mysql_stmt_error(st);
    return st;
  }

  TMySQLAPIDirect& api = DirectApi();
  TMySqlSession* s = nullptr;

 private:
  std::vector<TMySqlStmt*> stmts_;
};

TMySqlParamDesc Param(TDataType type, const Variant* value, int32_t size = 0) {
  TMySqlParamDesc p;
  p.DataType = type;
  p.Value = value;
  p.Size = size;
  p.IsNull = !value || value->IsNull();
  return p;
}

// A blob value handed out in pieces.
class PiecesBlob : public TMySqlBlobSource {
 public:
  explicit PiecesBlob(std::vector<std::string> pieces) : pieces_(std::move(pieces)) {}
  uint64_t Size() const override {
    uint64_t n = 0;
    for (const std::string& p : pieces_) n += p.size();
    return n;
  }
  void ForEachPiece(const std::function<void(const uint8_t*, size_t)>& sink) const override {
    for (const std::string& p : pieces_) sink(reinterpret_cast<const uint8_t*>(p.data()), p.size());
  }

 private:
  std::vector<std::string> pieces_;
};

TEST_F(WireStmt, EveryParameterTypeRepeatedAndNull) {
  Run("CREATE TEMPORARY TABLE params (n INT, i8 TINYINT, b BOOLEAN, i16 SMALLINT, i32 INT, u16 INT UNSIGNED, "
      "u32 INT UNSIGNED, i64 BIGINT, f DOUBLE, d DATE, t TIME(3), dt DATETIME(3), bcd DECIMAL(12,4), "
      "fbcd DECIMAL(12,4), s VARCHAR(50), m TEXT, w VARCHAR(50), wm TEXT, bl BLOB, byt VARBINARY(10), "
      "vb VARBINARY(10), src BLOB, nul INT, unk VARCHAR(10))");
  TMySqlStmt* st = Prepare("INSERT INTO params VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                           "?, ?, ?)");
  EXPECT_EQ(api.mysql_stmt_param_count(st), 24);
  EXPECT_EQ(api.mysql_stmt_field_count(st), 0);
  PiecesBlob blob({"first ", "second ", std::string("\0third", 6)});

  for (int run = 1; run <= 3; ++run) {
    Variant n(int32_t{run}), i8(int8_t(-100)), b(run % 2 == 1), i16(int16_t(-30000)), i32(int32_t{-2000000000 + run}),
        u16(uint16_t{65535}), u32(int64_t{4000000000LL}), i64(int64_t{-9000000000000000000LL}), f(0.25 * run),
        moment(Variant::FromDateTime(EncodeDateTime({2024, 5, 6, 7, 8, 9, 10}))),
        bcd(Currency::FromDouble(-1234.5678)), fbcd(1234.25), str("caf\xE9 " + std::to_string(run)),
        memo(std::string(3000, 'm')), wide(std::u16string(u"\u00e7\u00e3o")), wideMemo(std::u16string(u"wm")),
        bytes(Variant::Bytes{0, 1, 2, 255}), text10("abcdefghijkl"), vb("xyz");
    std::vector<TMySqlParamDesc> params = {
        Param(dtInt32, &n),        Param(dtInt8, &i8),       Param(dtBoolean, &b),      Param(dtInt16, &i16),
        Param(dtInt32, &i32),      Param(dtUInt16, &u16),    Param(dtUInt32, &u32),     Param(dtInt64, &i64),
        Param(dtFloat, &f),        Param(dtDate, &moment),   Param(dtTime, &moment),    Param(dtDateTime, &moment),
        Param(dtBCD, &bcd),        Param(dtFmtBCD, &fbcd),   Param(dtString, &str),     Param(dtMemo, &memo),
        Param(dtWideString, &wide), Param(dtWideMemo, &wideMemo), Param(dtBlob, &bytes), Param(dtBytes, &text10, 5),
        Param(dtVarBytes, &vb),    Param(dtBlob, nullptr),   Param(dtInt32, nullptr),   Param(dtUnknown, nullptr)};
    params[21].Blob = &blob;
    params[21].IsNull = false;
    ASSERT_EQ(api.StmtExecute(st, params, false), 0) << api.mysql_stmt_error(st);
    EXPECT_EQ(api.mysql_stmt_affected_rows(st), 1u);
  }

  for (int run = 1; run <= 3; ++run) {
    std::vector<std::string> row =
        TextRow("SELECT n, i8, b, i16, i32, u16, u32, i64, f, d, t, dt, bcd, fbcd, s, LENGTH(m), HEX(w), wm, HEX(bl), "
                "byt, vb, HEX(src), nul, unk FROM params WHERE n = " +
                std::to_string(run));
    std::vector<std::string> expected = {std::to_string(run),
                                         "-100",
                                         run % 2 == 1 ? "1" : "0",
                                         "-30000",
                                         std::to_string(-2000000000 + run),
                                         "65535",
                                         "4000000000",
                                         "-9000000000000000000",
                                         run == 1 ? "0.25" : run == 2 ? "0.5" : "0.75",
                                         "2024-05-06",
                                         "07:08:09.010",
                                         "2024-05-06 07:08:09.010",
                                         "-1234.5678",
                                         "1234.2500",
                                         "caf\xE9 " + std::to_string(run),
                                         "3000",
                                         "E7E36F",
                                         "wm",
                                         "000102FF",
                                         "abcde",
                                         "xyz",
                                         "6669727374207365636F6E6420007468697264",
                                         "<null>",
                                         "<null>"};
    EXPECT_EQ(row, expected) << "run " << run;
  }
}

TEST_F(WireStmt, UnicodeTextTravelsAsUtf8) {
  Run("SET NAMES utf8mb4");
  Run("CREATE TEMPORARY TABLE u (w VARCHAR(20) CHARACTER SET utf8mb4, s VARCHAR(20) CHARACTER SET utf8mb4)");
  TMySqlStmt* st = Prepare("INSERT INTO u VALUES (?, ?)");
  Variant wide(std::u16string(u"a\u00e7\u20ac")), narrow("\xE9t\x80");
  std::vector<TMySqlParamDesc> params = {Param(dtWideString, &wide), Param(dtString, &narrow)};
  ASSERT_EQ(api.StmtExecute(st, params, true), 0) << api.mysql_stmt_error(st);
  EXPECT_EQ(TextRow("SELECT HEX(w), HEX(s) FROM u"), (std::vector<std::string>{"61C3A7E282AC", "C3A974E282AC"}));
}

// Decoders of the binary row values of the test below.
int64_t Signed(const uint8_t* p, int width) {
  uint64_t v = 0;
  for (int i = 0; i < width; ++i) v |= uint64_t{p[i]} << (8 * i);
  if (width < 8 && (v >> (8 * width - 1)) & 1) v |= ~uint64_t{0} << (8 * width);
  return static_cast<int64_t>(v);
}

TEST_F(WireStmt, BinaryRowsOfEveryColumnType) {
  Run("CREATE TEMPORARY TABLE bin (t TINYINT, s SMALLINT, m MEDIUMINT, i INT, b BIGINT, f FLOAT, d DOUBLE, "
      "dc DECIMAL(8,3), da DATE, ti TIME(6), dt DATETIME(6), ts TIMESTAMP NULL, y YEAR, c CHAR(4), v VARCHAR(10), "
      "bi BINARY(2), bl BLOB, tx TEXT, e ENUM('p','q'), st SET('x','y'), bit BIT(9), g POINT, n INT, "
      "dz DATETIME, tz TIME)");
  Run("INSERT INTO bin VALUES (-7, -300, -70000, 123456789, -5000000000, 1.5, -0.125, -12345.678, '2024-02-29', "
      "'-25:01:02.000003', '2024-05-06 07:08:09.123456', '2001-02-03 04:05:06', 1999, 'ab', 'vv', 'z', "
      "'blob', 'text', 'q', 'x,y', b'100000001', POINT(3, 4), NULL, '2024-05-06 00:00:00', '00:00:00')");
  TMySqlStmt* st = Prepare("SELECT * FROM bin WHERE n IS NULL OR n = ?");
  EXPECT_EQ(api.mysql_stmt_field_count(st), 25);
  Variant none = Variant::Null();
  std::vector<TMySqlParamDesc> params = {Param(dtInt32, &none)};
  ASSERT_EQ(api.StmtExecute(st, params, false), 0) << api.mysql_stmt_error(st);
  TMySqlResultSet* meta = api.mysql_stmt_result_metadata(st);
  ASSERT_NE(meta, nullptr);
  EXPECT_EQ(api.mysql_num_fields(meta), 25);
  ASSERT_EQ(api.StmtBindResult(st), 0);
  TMySqlBinds* row = nullptr;
  ASSERT_EQ(api.StmtFetch(st, row), 0) << api.mysql_stmt_error(st);
  ASSERT_NE(row, nullptr);
  std::vector<int32_t> lengths;
  api.StmtGetRowLengths(row, lengths);
  ASSERT_EQ(lengths.size(), 25u);
  auto at = [&](uint32_t i) { return api.StmtGetFieldPointer(st, i); };
  auto bytes = [&](uint32_t i) { return Bytes(at(i), at(i) + lengths[i]); };
  auto type = [&](uint32_t i) { return int{(*row)[i].Type}; };

  EXPECT_EQ(type(0), MYSQL_TYPE_TINY);
  EXPECT_EQ(Signed(at(0), 1), -7);
  EXPECT_EQ(type(1), MYSQL_TYPE_SHORT);
  EXPECT_EQ(Signed(at(1), 2), -300);
  EXPECT_EQ(type(2), MYSQL_TYPE_INT24);
  EXPECT_EQ(lengths[2], 4);
  EXPECT_EQ(Signed(at(2), 4), -70000);
  EXPECT_EQ(Signed(at(3), 4), 123456789);
  EXPECT_EQ(type(4), MYSQL_TYPE_LONGLONG);
  EXPECT_EQ(Signed(at(4), 8), -5000000000LL);
  float fl;
  std::memcpy(&fl, at(5), 4);
  EXPECT_EQ(fl, 1.5f);
  double db;
  std::memcpy(&db, at(6), 8);
  EXPECT_EQ(db, -0.125);
  EXPECT_EQ(type(7), MYSQL_TYPE_NEWDECIMAL);
  EXPECT_EQ(api.GetFieldText(row, 7), "-12345.678");
  EXPECT_EQ(type(8), MYSQL_TYPE_DATE);
  EXPECT_EQ(bytes(8), (Bytes{0xE8, 0x07, 2, 29}));                    // after the length prefix 4
  EXPECT_EQ(at(8)[-1], 4);
  EXPECT_EQ(type(9), MYSQL_TYPE_TIME);
  EXPECT_EQ(bytes(9), (Bytes{1, 1, 0, 0, 0, 1, 1, 2, 3, 0, 0, 0}));   // negative, 1 day 1:01:02.000003
  EXPECT_EQ(type(10), MYSQL_TYPE_DATETIME);
  EXPECT_EQ(bytes(10), (Bytes{0xE8, 0x07, 5, 6, 7, 8, 9, 0x40, 0xE2, 0x01, 0}));
  EXPECT_EQ(type(11), MYSQL_TYPE_TIMESTAMP);
  EXPECT_EQ(bytes(11), (Bytes{0xD1, 0x07, 2, 3, 4, 5, 6}));
  EXPECT_EQ(type(12), MYSQL_TYPE_YEAR);
  EXPECT_EQ(Signed(at(12), 2), 1999);
  EXPECT_EQ(api.GetFieldText(row, 13), "ab");
  EXPECT_EQ(api.GetFieldText(row, 14), "vv");
  EXPECT_EQ(bytes(15), (Bytes{'z', 0}));
  EXPECT_EQ(api.GetFieldText(row, 16), "blob");
  EXPECT_EQ(api.GetFieldText(row, 17), "text");
  EXPECT_EQ(api.GetFieldText(row, 18), "q");
  EXPECT_EQ(api.GetFieldText(row, 19), "x,y");
  EXPECT_EQ(type(20), MYSQL_TYPE_BIT);
  EXPECT_EQ(bytes(20), (Bytes{1, 1}));
  EXPECT_EQ(type(21), MYSQL_TYPE_GEOMETRY);
  EXPECT_EQ(lengths[21], 25);
  EXPECT_TRUE(api.IsNullField(row, 22));
  EXPECT_EQ(at(22), nullptr);
  EXPECT_EQ(bytes(23), (Bytes{0xE8, 0x07, 5, 6}));                    // a datetime at midnight: date only
  EXPECT_EQ(lengths[24], 0);                                         // a zero time: no bytes
  EXPECT_FALSE(api.IsNullField(row, 24));
  EXPECT_EQ(api.StmtFetch(st, row), 100);
  EXPECT_EQ(s->State(), TMySqlSession::kReady);

  // Executed again, the bound row object keeps serving.
  ASSERT_EQ(api.StmtExecute(st, params, false), 0);
  ASSERT_EQ(api.StmtFetch(st, row), 0) << api.mysql_stmt_error(st);
  EXPECT_EQ(Signed(api.StmtGetFieldPointer(st, 3), 4), 123456789);
  EXPECT_EQ(api.StmtFetch(st, row), 100);
}

TEST_F(WireStmt, PendingRowsKeepOtherCommandsOutUntilFreed) {
  TMySqlStmt* st = Prepare("SELECT seq FROM seq_1_to_5000");
  ASSERT_EQ(api.StmtExecute(st, {}, false), 0);
  ASSERT_EQ(api.StmtBindResult(st), 0);
  TMySqlBinds* row = nullptr;
  ASSERT_EQ(api.StmtFetch(st, row), 0);
  EXPECT_EQ(api.mysql_real_query(s, "SELECT 1", 8), 2014);
  EXPECT_EQ(api.StmtExecute(st, {}, false), 2014);
  EXPECT_EQ(api.mysql_stmt_free_result(st), 0);
  EXPECT_EQ(TextRow("SELECT 'free'"), std::vector<std::string>{"free"});
}

TEST_F(WireStmt, ErrorsAreStoredInTheStatement) {
  TMySqlStmt* st = api.mysql_stmt_init(s);
  EXPECT_EQ(api.mysql_stmt_prepare(st, "SELEC 1", 7), 1064);
  EXPECT_EQ(api.mysql_stmt_errno(st), 1064);
  EXPECT_EQ(api.mysql_stmt_error(st).rfind("\r\n#42000You have an error in your SQL syntax", 0), 0u);
  EXPECT_EQ(api.mysql_errno(s), 0);
  EXPECT_EQ(api.mysql_stmt_close(st), 0);
  EXPECT_EQ(TextRow("SELECT 'usable'"), std::vector<std::string>{"usable"});
}

TEST_F(WireStmt, PreparingAgainClosesTheEarlierStatement) {
  auto closes = [&] { return std::stoi(TextRow("SHOW SESSION STATUS LIKE 'Com_stmt_close'")[1]); };
  int before = closes();
  TMySqlStmt* st = Prepare("SELECT 1");
  uint32_t first = st->StatementId();
  ASSERT_EQ(api.mysql_stmt_prepare(st, "SELECT 2", 8), 0);
  EXPECT_NE(st->StatementId(), first);
  EXPECT_EQ(closes(), before + 1);
}

TEST_F(WireStmt, ResultFreedByTheCallerStaysTheStatements) {
  // The driver frees the statement's result at its end like any other;
  // the statement keeps it and frees it once, at its next execute or close.
  TMySqlStmt* st = Prepare("SELECT seq FROM seq_1_to_3");
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(api.StmtExecute(st, {}, false), 0) << api.mysql_stmt_error(st);
    TMySqlResultSet* meta = api.mysql_stmt_result_metadata(st);
    ASSERT_NE(meta, nullptr);
    ASSERT_EQ(api.StmtBindResult(st), 0);
    TMySqlBinds* row = nullptr;
    ASSERT_EQ(api.StmtFetch(st, row), 0) << api.mysql_stmt_error(st);  // a row left unread
    api.mysql_free_result(meta);
    EXPECT_EQ(s->State(), TMySqlSession::kReady);
    EXPECT_EQ(api.StmtFetch(st, row), 100);  // freed: no rows left
    EXPECT_EQ(api.mysql_stmt_errno(st), 0);
    // Binding again describes no columns, and reads none past the freed ones.
    EXPECT_EQ(api.StmtBindResult(st), 0);
    EXPECT_EQ(api.StmtFetch(st, row), 100);
  }
  EXPECT_EQ(TextRow("SELECT 'in step'"), std::vector<std::string>{"in step"});
  // The fixture closes the statement: the sanitizers watch for a second free.
}

TEST_F(WireStmt, FetchWithNoRowsComingReadsNothingFromTheWire) {
  // The prepare announced columns, but no execute (or one answered by an
  // OK) sent rows: a fetch that read the wire would wait for the next
  // command's answer, or take it for a row (a short time-out makes such a
  // wait fail rather than hang).
  api.ApplyCommandTimeout(s, 2);
  TMySqlStmt* st = Prepare("SELECT seq FROM seq_1_to_3");
  ASSERT_EQ(api.StmtBindResult(st), 0);
  TMySqlBinds* row = nullptr;
  EXPECT_EQ(api.StmtFetch(st, row), 100);
  EXPECT_EQ(TextRow("SELECT 'in step'"), std::vector<std::string>{"in step"});

  ASSERT_EQ(api.mysql_real_query(s, "DO 1", 4), 0);
  ASSERT_EQ(api.StmtExecute(st, {}, false), 0) << api.mysql_stmt_error(st);
  int rows = 0;
  while (api.StmtFetch(st, row) == 0) ++rows;
  EXPECT_EQ(api.mysql_stmt_errno(st), 0) << api.mysql_stmt_error(st);
  EXPECT_EQ(rows, 3);
}

TEST_F(WireStmt, ClosingWhileAnotherResultIsPendingClosesOnTheServerLater) {
  auto closes = [&] { return std::stoi(TextRow("SHOW SESSION STATUS LIKE 'Com_stmt_close'")[1]); };
  int before = closes();
  TMySqlStmt* st = api.mysql_stmt_init(s);
  ASSERT_EQ(api.mysql_stmt_prepare(st, "SELECT 1", 8), 0) << api.mysql_stmt_error(st);
  ASSERT_EQ(api.mysql_real_query(s, "SELECT seq FROM seq_1_to_1000", 29), 0);
  TMySqlResultSet* result = api.mysql_use_result(s);
  ASSERT_NE(result, nullptr);
  ASSERT_NE(api.mysql_fetch_row(result), nullptr);
  EXPECT_EQ(api.mysql_stmt_close(st), 0);
  api.mysql_free_result(result);
  EXPECT_EQ(closes(), before + 1);
}

TEST_F(WireStmt, FailedPrepareLeavesTheStatementUnprepared) {
  TMySqlStmt* st = Prepare("SELECT 1");
  EXPECT_EQ(api.mysql_stmt_prepare(st, "SELEC 1", 7), 1064);
  EXPECT_EQ(st->State(), TMySqlStmt::kNotPrepared);
  EXPECT_EQ(api.StmtBindResult(st), 2029 & 0xFF);
  EXPECT_EQ(api.mysql_stmt_errno(st), 2029);
  ASSERT_EQ(api.mysql_stmt_prepare(st, "SELECT 3", 8), 0) << api.mysql_stmt_error(st);
  ASSERT_EQ(api.StmtExecute(st, {}, false), 0) << api.mysql_stmt_error(st);
  ASSERT_EQ(api.StmtBindResult(st), 0);
  TMySqlBinds* row = nullptr;
  ASSERT_EQ(api.StmtFetch(st, row), 0) << api.mysql_stmt_error(st);
  EXPECT_EQ(api.mysql_stmt_errno(st), 0);
  EXPECT_EQ(api.StmtFetch(st, row), 100);
}

TEST_F(WireStmt, ProcedureCallInPreparedMode) {
  Run("DROP PROCEDURE IF EXISTS two_results");
  Run("CREATE PROCEDURE two_results() BEGIN SELECT seq FROM seq_1_to_3; SELECT 'second'; END");
  TMySqlStmt* st = Prepare("CALL two_results()");
  s->SetStoredProc(true);
  ASSERT_EQ(api.StmtExecute(st, {}, false), 0) << api.mysql_stmt_error(st);
  ASSERT_EQ(api.StmtBindResult(st), 0);
  TMySqlBinds* row = nullptr;
  int rows = 0;
  while (api.StmtFetch(st, row) == 0) ++rows;
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(api.mysql_stmt_errno(st), 0);
  EXPECT_FALSE(s->StoredProc());
  EXPECT_FALSE(api.mysql_more_results(s));
  EXPECT_EQ(TextRow("SELECT 'in step'"), std::vector<std::string>{"in step"});
  Run("DROP PROCEDURE two_results");
}

}  // namespace
}  // namespace da::mysql
