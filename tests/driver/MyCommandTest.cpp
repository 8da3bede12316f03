// The MySQL driver command against the real server: values written as
// literals come back unchanged, results with and without a record set,
// prepared statements, time-outs and the break of a running statement.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "DriverServerFixture.h"
#include "common/DateTime.h"
#include "common/RegionalSettings.h"
#include "mysql/MySqlSession.h"

using namespace da;

namespace drivertest {
namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char buf[3];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02X", c);
    out += buf;
  }
  return out;
}

class MyCommand : public DriverServerTest {
 protected:
  // Executes `sql` with the given (data type, value) parameters in order.
  static int64_t Run(TMySQLConnection& c, const std::string& sql, const std::vector<std::pair<TDataType, Variant>>& values) {
    TMySQLCommand command;
    command.SetConnection(&c);
    command.SetSQL(sql);
    EXPECT_EQ(command.Params().Count(), values.size()) << sql;
    for (size_t i = 0; i < values.size() && i < command.Params().Count(); ++i) {
      command.Params()[i].SetDataType(values[i].first);
      command.Params()[i].SetValue(values[i].second);
    }
    command.Execute();
    Variant rows;
    command.GetProp(propRowsAffected, rows);
    return rows.AsInt64();
  }

  // Inserts every byte value (one row each, and all of them in one value)
  // and reads them back with HEX().
  void CheckEveryByte(TMySQLConnection& c) {
    Exec(c, "CREATE TEMPORARY TABLE bytes (id INT PRIMARY KEY, v VARBINARY(300))");
    std::string all;
    for (int b = 0; b < 256; ++b) {
      const std::string one(1, static_cast<char>(b));
      all += one;
      ASSERT_EQ(Run(c, "INSERT INTO bytes VALUES (:id, :v)", {{dtInt32, Variant(int32_t{b})}, {dtString, Variant(one)}}),
                1);
    }
    Run(c, "INSERT INTO bytes VALUES (:id, :v)", {{dtInt32, Variant(int32_t{256})}, {dtString, Variant(all)}});
    Rows rows = Query(c, "SELECT id, HEX(v) FROM bytes ORDER BY id");
    ASSERT_EQ(rows.size(), 257u);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(rows[b][1], Hex(std::string(1, static_cast<char>(b)))) << b;
    EXPECT_EQ(rows[256][1], Hex(all));
  }
};

TEST_F(MyCommand, EveryByteRoundTripsWithBackslashEscapes) {
  auto c = Connected();
  ASSERT_TRUE(c->BackslashEscapes());
  CheckEveryByte(*c);
}

TEST_F(MyCommand, EveryByteRoundTripsWithoutBackslashEscapes) {
  auto c = Connected();
  Exec(*c, "SET SESSION sql_mode = CONCAT(@@sql_mode, ',no_backslash_escapes')");
  c->SetProp(propCheckBackslashes, true);
  ASSERT_FALSE(c->BackslashEscapes());
  CheckEveryByte(*c);
  EXPECT_EQ(Run(*c, "INSERT INTO bytes VALUES (999, :v)", {{dtString, Variant("12'34")}}), 1);
  EXPECT_EQ(Scalar(*c, "SELECT v FROM bytes WHERE id = 999"), "12'34");
}

TEST_F(MyCommand, LeadBytesNeverUnbalanceAQuoteInGbk) {
  for (bool backslashes : {true, false}) {
    auto c = NewConnection();
    c->SetProp(propCharset, "gbk");
    c->Connect();
    if (!backslashes) {
      Exec(*c, "SET SESSION sql_mode = CONCAT(@@sql_mode, ',no_backslash_escapes')");
      c->SetProp(propCheckBackslashes, true);
    }
    Exec(*c, "CREATE TEMPORARY TABLE g (id INT, v VARBINARY(64))");
    std::vector<std::string> values = {"\xbf'", "\xbf\\", "\xbf' OR 1=1 -- ", "\xbf\"", "\xbf", "\x81\\'",
                                       "\xbf\x5c\x27", "\xfe\xbf'", "a\xbf''\xbf"};
    for (unsigned lead = 0x81; lead <= 0xFE; lead += 0x1F) values.push_back(std::string(1, char(lead)) + "'\\");
    for (size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(Run(*c, "INSERT INTO g VALUES (:id, :v)",
                    {{dtInt32, Variant(static_cast<int32_t>(i))}, {dtString, Variant(values[i])}}),
                1)
          << Hex(values[i]);
    }
    Rows rows = Query(*c, "SELECT HEX(v) FROM g ORDER BY id");
    ASSERT_EQ(rows.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(rows[i][0], Hex(values[i])) << i << " " << backslashes;
  }
}

TEST_F(MyCommand, LiteralsOfEveryTypeRoundTrip) {
  RegionalSettings comma;
  comma.decimalSeparator = ',';
  comma.timeSeparator = '.';
  ScopedRegionalSettings scope(comma);
  auto c = Connected();
  Exec(*c,
       "CREATE TEMPORARY TABLE lit (id INT, i INT, b BIGINT, s SMALLINT UNSIGNED, d DOUBLE, m DECIMAL(24,4), "
       "dt DATE, ts DATETIME, t TIME, v VARCHAR(40) CHARACTER SET latin1, x TEXT CHARACTER SET latin1, bl BLOB, f TINYINT(1))");
  const std::string insert = "INSERT INTO lit VALUES (:id, :i, :b, :s, :d, :m, :dt, :ts, :t, :v, :x, :bl, :f)";
  const TDateTime when = EncodeDateTime({2026, 12, 31, 23, 5, 9, 600});
  Run(*c, insert,
      {{dtInt32, Variant(int32_t{1})},
       {dtInt32, Variant(int32_t{-2147483647 - 1})},
       {dtInt64, Variant(int64_t{-9223372036854775807LL - 1})},
       {dtUInt16, Variant(uint16_t{65535})},
       {dtFloat, Variant(1.5)},
       {dtBCD, Variant(Currency{-123456789})},
       {dtDate, Variant::FromDateTime(EncodeDate(2026, 2, 28))},
       {dtDateTime, Variant::FromDateTime(when)},
       {dtTime, Variant(1.5)},
       {dtString, Variant("a'b\\c\"d")},
       {dtMemo, Variant(std::string("line1\r\nline2\x1a"))},
       {dtBlob, Variant(Variant::Bytes{0, 1, 0x27, 0x5c, 0xff})},
       {dtBoolean, Variant(true)}});
  Run(*c, insert,
      {{dtInt32, Variant(int32_t{2})},
       {dtInt32, Variant::Null()},
       {dtInt64, Variant(int64_t{9223372036854775807LL})},
       {dtUInt16, Variant(uint16_t{0})},
       {dtFloat, Variant(-1234.5625)},
       {dtFmtBCD, Variant("12345678901234567890,1234")},
       {dtDate, Variant::FromDateTime(MySqlZeroDate())},
       {dtDateTime, Variant::FromDateTime(MySqlZeroDate())},
       {dtTime, Variant(-0.25)},
       {dtWideString, Variant(std::u16string(u"\u00e7\u20ac"))},
       {dtString, Variant("")},
       {dtBlob, Variant()},
       {dtBoolean, Variant(false)}});
  Run(*c, insert,
      {{dtInt32, Variant(int32_t{3})},
       {dtInt32, Variant(int32_t{0})},
       {dtInt64, Variant(int64_t{0})},
       {dtUInt16, Variant(uint16_t{1})},
       {dtCurrency, Variant(Currency{5})},
       {dtBCD, Variant(2.71828)},
       {dtDate, Variant::FromDateTime(EncodeDate(1, 1, 1))},
       {dtDateTime, Variant::FromDateTime(EncodeDateTime({9999, 12, 31, 23, 59, 59, 0}))},
       {dtTime, Variant((838 * 3600 + 59 * 60 + 59) / 86400.0)},
       {dtString, Variant(std::string(1, '\0'))},
       {dtString, Variant("\xe7\xe3o")},
       {dtBytes, Variant("x")},
       {dtBoolean, Variant(int32_t{5})}});
  Rows rows = Query(*c,
                    "SELECT i, b, s, d, m, dt, ts, t, HEX(v), HEX(x), HEX(bl), f FROM lit ORDER BY id");
  ASSERT_EQ(rows.size(), 3u);
  const Rows expected = {
      {"-2147483648", "-9223372036854775808", "65535", "1.5", "-12345.6789", "2026-02-28", "2026-12-31 23:05:09",
       "36:00:00", Hex("a'b\\c\"d"), Hex("line1\r\nline2\x1a"), "0001275CFF", "1"},
      {std::nullopt, "9223372036854775807", "0", "-1234.5625", "12345678901234567890.1234", "0000-00-00",
       "0000-00-00 00:00:00", "-06:00:00", "E780", "", std::nullopt, "0"},
      {"0", "0", "1", "0.0005", "2.7183", "0001-01-01", "9999-12-31 23:59:59", "838:59:59", "00", "E7E36F", "78",
       "1"},
  };
  for (size_t r = 0; r < expected.size(); ++r)
    for (size_t k = 0; k < expected[r].size(); ++k) EXPECT_EQ(rows[r][k], expected[r][k]) << "row " << r << " col " << k;
}

TEST_F(MyCommand, StatementsForTheirEffectDrainEveryResult) {
  auto c = Connected();
  Exec(*c, "CREATE TEMPORARY TABLE mr (id INT)");
  TMySQLCommand batch;
  batch.SetConnection(c.get());
  batch.SetSQL("INSERT INTO mr VALUES (1); SELECT * FROM mr; INSERT INTO mr VALUES (2); SELECT 1, 2");
  batch.Execute();
  EXPECT_EQ(batch.GetCursorState(), csIdle);
  EXPECT_EQ(batch.SQLResult(), nullptr);
  EXPECT_EQ(Scalar(*c, "SELECT COUNT(*) FROM mr"), "2");

  TMySQLCommand failing;
  failing.SetConnection(c.get());
  failing.SetSQL("SELECT 1; SELECT * FROM no_such_table_i9");
  try {
    failing.Execute();
    ADD_FAILURE();
  } catch (const EMyError& e) {
    EXPECT_EQ(e.ErrorCode(), 1146);
  }
  EXPECT_EQ(failing.GetCursorState(), csIdle);
  EXPECT_EQ(Scalar(*c, "SELECT 7"), "7");  // the session is free again
}

TEST_F(MyCommand, TheRecordSetGetsTheFirstResultWithRows) {
  auto c = Connected();
  TMySQLCommand command;
  command.SetConnection(c.get());
  command.SetRequestResultset(true);
  command.SetSQL("SET @i9 = 4; SELECT @i9 + 1, 'x'");
  bool afterExecute = false;
  command.AfterExecute = [&](bool ok) { afterExecute = ok; };
  command.Execute();
  EXPECT_TRUE(afterExecute);
  EXPECT_EQ(command.GetCursorState(), csExecuted);
  ASSERT_NE(command.SQLResult(), nullptr);
  mysql::TMySqlResultSet* first = command.SQLResult();
  command.Execute();  // a result is open: nothing happens
  EXPECT_EQ(command.SQLResult(), first);
  EXPECT_EQ(ReadResult(*c, command), (Rows{{"5", "x"}}));
  EXPECT_EQ(Scalar(*c, "SELECT 8"), "8");
}

TEST_F(MyCommand, RowCountsAndInsertIds) {
  auto c = Connected();
  Exec(*c, "CREATE TEMPORARY TABLE ai (id BIGINT UNSIGNED AUTO_INCREMENT PRIMARY KEY, v INT)");
  EXPECT_EQ(Run(*c, "INSERT INTO ai (v) VALUES (:a), (:b), (:c)",
                {{dtInt32, Variant(int32_t{1})}, {dtInt32, Variant(int32_t{2})}, {dtInt32, Variant(int32_t{3})}}),
            3);
  Variant id;
  c->GetProp(propLastInsertId, id);
  EXPECT_EQ(id, Variant(int64_t{1}));  // the first id of a multi-row insert
  EXPECT_EQ(Run(*c, "UPDATE ai SET v = v + 1 WHERE v >= :v", {{dtInt32, Variant(int32_t{2})}}), 2);
  EXPECT_EQ(Run(*c, "DELETE FROM ai WHERE v > :v", {{dtInt32, Variant(int32_t{100})}}), 0);
  Exec(*c, "INSERT INTO ai VALUES (4000000000, 9)");
  Exec(*c, "INSERT INTO ai (v) VALUES (10)");
  c->GetProp(propLastInsertId, id);
  EXPECT_EQ(id, Variant(int64_t{4000000001}));
  // Ids beyond 2^63-1 keep their bits in the signed variant.
  Exec(*c, "INSERT INTO ai VALUES (18446744073709551610, 11)");
  Exec(*c, "INSERT INTO ai (v) VALUES (12)");
  c->GetProp(propLastInsertId, id);
  EXPECT_EQ(static_cast<uint64_t>(id.AsInt64()), 18446744073709551611ULL);
}

TEST_F(MyCommand, PreparedStatementsOverTheBinaryProtocol) {
  auto c = Connected();
  Exec(*c, "CREATE TEMPORARY TABLE ps (id INT, v VARCHAR(20), d DATETIME)");
  TMySQLCommand insert;
  insert.SetConnection(c.get());
  insert.SetSQL("INSERT INTO ps VALUES (:id, :v, :d)");
  insert.Prepare();
  EXPECT_TRUE(insert.GetPrepared());
  EXPECT_EQ(insert.GetCursorState(), csPrepared);
  for (int i = 1; i <= 3; ++i) {
    insert.Params()[0].SetDataType(dtInt32);
    insert.Params()[0].SetValue(int32_t{i});
    insert.Params()[1].SetDataType(dtString);
    insert.Params()[1].SetValue(std::string("it's ") + std::to_string(i));
    insert.Params()[2].SetDataType(dtDateTime);
    insert.Params()[2].SetValue(Variant::FromDateTime(EncodeDateTime({2026, 1, i, 10, 0, 0, 0})));
    insert.Execute();
    EXPECT_EQ(insert.RowsAffected(), 1);
  }
  insert.Unprepare();
  EXPECT_FALSE(insert.GetPrepared());
  EXPECT_EQ(insert.GetCursorState(), csIdle);
  EXPECT_EQ(Query(*c, "SELECT id, v, d FROM ps ORDER BY id"),
            (Rows{{"1", "it's 1", "2026-01-01 10:00:00"},
                  {"2", "it's 2", "2026-01-02 10:00:00"},
                  {"3", "it's 3", "2026-01-03 10:00:00"}}));

  TMySQLCommand select;
  select.SetConnection(c.get());
  select.SetRequestResultset(true);
  select.SetSQL("SELECT v FROM ps WHERE id > :id");
  select.Prepare();
  select.Params()[0].SetDataType(dtInt32);
  select.Params()[0].SetValue(int32_t{1});
  select.Execute();
  EXPECT_EQ(select.GetCursorState(), csExecuted);
  ASSERT_NE(select.SQLResult(), nullptr);
  EXPECT_EQ(select.SQLResult(), select.Stmt()->Result());
  select.Unprepare();  // drops the statement's result with it
  EXPECT_EQ(select.SQLResult(), nullptr);
  EXPECT_EQ(Scalar(*c, "SELECT COUNT(*) FROM ps"), "3");

  TMySQLCommand bad;
  bad.SetConnection(c.get());
  bad.SetSQL("SELECT * FROM no_such_table_i9");
  EXPECT_THROW(bad.Prepare(), EMyError);
  EXPECT_FALSE(bad.GetPrepared());
  EXPECT_EQ(bad.Stmt(), nullptr);
}

TEST_F(MyCommand, CommandTimeoutBecomesTheSessionTimeouts) {
  auto c = Connected();
  TMySQLCommand command;
  command.SetConnection(c.get());
  command.SetSQL("SELECT 1");
  command.Execute();
  EXPECT_EQ(c->GetHandle()->ReadWriteTimeout(), 31536000);
  command.SetProp(propCommandTimeout, 5);
  command.Execute();
  EXPECT_EQ(c->GetHandle()->ReadWriteTimeout(), 5);
}

TEST_F(MyCommand, BreakExecCancelsARunningStatement) {
  auto c = Connected();
  TMySQLCommand command;
  command.SetConnection(c.get());
  command.SetSQL("SELECT SLEEP(30)");
  std::atomic<int> outcome{0};  // 1 silent abort, 2 other error, 3 no error
  std::thread runner([&] {
    try {
      command.Execute();
      outcome = 3;
    } catch (const EAbort&) {
      outcome = 1;
    } catch (...) {
      outcome = 2;
    }
  });
  // Wait until the statement runs on the server.
  bool running = false;
  auto other = Connected();
  const std::string id = std::to_string(c->API().mysql_thread_id(c->GetHandle()));
  for (int i = 0; i < 200 && !running; ++i) {
    running = command.Executing() &&
              Scalar(*other, "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " + id +
                                 " AND INFO LIKE 'SELECT SLEEP%'") == "1";
    if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ASSERT_TRUE(running);
  const auto start = std::chrono::steady_clock::now();
  command.BreakExec();
  runner.join();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(outcome.load(), 1);
  EXPECT_LT(elapsed, std::chrono::seconds(2));
  EXPECT_FALSE(command.Executing());
  EXPECT_EQ(command.GetCursorState(), csIdle);
  command.BreakExec();  // nothing runs: nothing happens
}

}  // namespace
}  // namespace drivertest
