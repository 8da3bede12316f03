// The wire client against the real throwaway server, through the call table
// only, the way the driver uses it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <optional>

#include "TestServer.h"
#include "mysql/CRVioTcp.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlErrors.h"
#include "mysql/MySqlSession.h"

namespace da::mysql {
namespace {

using Row = std::vector<std::optional<std::string>>;
using Bytes = std::vector<uint8_t>;

class WireClient : public testsupport::ServerTest {
 protected:
  void TearDown() override {
    for (TMySqlSession* s : sessions_) api.mysql_close(s);
  }

  // A new session (closed at the end of the test), not yet connected.
  TMySqlSession* NewSession() {
    TMySqlSession* s = api.mysql_init(nullptr);
    sessions_.push_back(s);
    return s;
  }
  TMySqlSession* ConnectAs(const std::string& user, const std::string& password, const std::string& database,
                           uint32_t flags = 0, TMySqlSession* s = nullptr) {
    if (!s) s = NewSession();
    return api.mysql_real_connect(s, server().host, user, password, database, static_cast<uint32_t>(server().port),
                                  "", flags);
  }
  TMySqlSession* Connect(uint32_t flags = 0) {
    TMySqlSession* s = ConnectAs(server().user, server().password, server().database, flags);
    EXPECT_NE(s, nullptr) << api.mysql_error(sessions_.back());
    return s;
  }
  void Run(TMySqlSession* s, const std::string& sql) {
    ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0)
        << sql << ": " << api.mysql_error(s);
    if (TMySqlResultSet* r = api.mysql_use_result(s)) api.mysql_free_result(r);
  }
  // Reads a row with the row-access routines.
  Row ReadRow(TMySqlResultSet* result, TMySqlBinds* row) {
    std::vector<int32_t> lengths;
    api.GetRowLengths(result, lengths);
    Row out;
    for (uint32_t i = 0; i < lengths.size(); ++i) {
      const uint8_t* bytes = reinterpret_cast<const uint8_t*>("x");
      size_t length = 99;
      const bool present = api.GetFieldBytes(row, i, bytes, length);
      if (api.IsNullField(row, i)) {
        EXPECT_EQ(api.GetFieldPointer(result, row, i), nullptr);
        EXPECT_FALSE(present);
        EXPECT_EQ(bytes, nullptr);
        EXPECT_EQ(length, 0u);
        out.emplace_back();
        continue;
      }
      const uint8_t* p = api.GetFieldPointer(result, row, i);
      std::string viaPointer = lengths[i] ? std::string(reinterpret_cast<const char*>(p), lengths[i]) : "";
      EXPECT_EQ(api.GetFieldText(row, i), viaPointer);
      // The one-call form gives the same bytes.
      EXPECT_TRUE(present);
      EXPECT_EQ(length, static_cast<size_t>(lengths[i]));
      EXPECT_EQ(length ? std::string(reinterpret_cast<const char*>(bytes), length) : "", viaPointer);
      out.emplace_back(viaPointer);
    }
    return out;
  }
  std::vector<Row> Select(TMySqlSession* s, const std::string& sql) {
    std::vector<Row> rows;
    EXPECT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0) << api.mysql_error(s);
    TMySqlResultSet* result = api.mysql_use_result(s);
    if (!result) return rows;
    while (TMySqlBinds* row = api.mysql_fetch_row(result)) rows.push_back(ReadRow(result, row));
    EXPECT_EQ(api.mysql_errno(s), 0) << api.mysql_error(s);
    api.mysql_free_result(result);
    return rows;
  }
  std::string Scalar(TMySqlSession* s, const std::string& sql) {
    std::vector<Row> rows = Select(s, sql);
    return rows.empty() || rows[0].empty() || !rows[0][0] ? "<null>" : *rows[0][0];
  }

  TMySqlSession*& LastSession() { return sessions_.back(); }

  TMySQLAPIDirect& api = DirectApi();

 private:
  std::vector<TMySqlSession*> sessions_;
};

// --- Logging in -----------------------------------------------------------------

TEST_F(WireClient, LoginWithPasswordAndDatabase) {
  TMySqlSession* s = Connect();
  ASSERT_NE(s, nullptr);
  EXPECT_NE(api.mysql_get_server_info(s).find("10.11."), std::string::npos) << api.mysql_get_server_info(s);
  EXPECT_EQ(Scalar(s, "SELECT DATABASE()"), server().database);
  EXPECT_EQ(Scalar(s, "SELECT CONNECTION_ID()"), std::to_string(api.mysql_thread_id(s)));
  EXPECT_EQ(api.mysql_get_host_info(s), server().host + " via TCP/IP");
  EXPECT_EQ(api.mysql_get_client_info(), "7.0.0 Direct");
}

TEST_F(WireClient, LoginWithAnOldStylePassword) {
  TMySqlSession* s = ConnectAs(server().oldUser, server().oldPassword, "");
  ASSERT_NE(s, nullptr) << api.mysql_error(LastSession());
  EXPECT_EQ(Scalar(s, "SELECT CURRENT_USER()").rfind(server().oldUser + "@", 0), 0u);
}

TEST_F(WireClient, WrongPasswordIsTheServers1045) {
  TMySqlSession* s = NewSession();
  EXPECT_EQ(ConnectAs(server().user, "wrong", server().database, 0, s), nullptr);
  EXPECT_EQ(api.mysql_errno(s), 1045);
  EXPECT_EQ(api.mysql_error(s),
            "\r\n#28000Access denied for user '" + server().user + "'@'127.0.0.1' (using password: YES)");
  // A failed session can still be asked and closed.
  EXPECT_NE(api.mysql_ping(s), 0);
}

TEST_F(WireClient, WrongOldStylePasswordIsRefusedToo) {
  TMySqlSession* s = NewSession();
  EXPECT_EQ(ConnectAs(server().oldUser, "wrong", "", 0, s), nullptr);
  EXPECT_EQ(api.mysql_errno(s), 1045);
}

TEST_F(WireClient, EmptyPassword) {
  TMySqlSession* s = ConnectAs(server().nopwUser, "", "");
  ASSERT_NE(s, nullptr) << api.mysql_error(LastSession());
  EXPECT_EQ(Scalar(s, "SELECT DATABASE()"), "<null>");
}

TEST_F(WireClient, SelectDbPingKill) {
  TMySqlSession* s = ConnectAs(server().user, server().password, "");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(api.mysql_select_db(s, server().database), 0);
  EXPECT_EQ(Scalar(s, "SELECT DATABASE()"), server().database);
  EXPECT_EQ(s->Database(), server().database);
  EXPECT_EQ(api.mysql_select_db(s, "no_such_db"), 1049);
  EXPECT_EQ(api.mysql_error(s), "\r\n#42000Unknown database 'no_such_db'");
  EXPECT_EQ(api.mysql_ping(s), 0);

  TMySqlSession* victim = Connect();
  ASSERT_NE(victim, nullptr);
  EXPECT_EQ(api.mysql_kill(s, api.mysql_thread_id(victim)), 0) << api.mysql_error(s);
  EXPECT_NE(api.mysql_ping(victim), 0);
  EXPECT_EQ(api.mysql_kill(s, 999999), 1094);
}

TEST_F(WireClient, CloseSendsQuit) {
  // A client that leaves without COM_QUIT counts as aborted. The count is
  // the server's, shared with tests running beside this one: a close counts
  // as clean when one of a few attempts leaves it unchanged (a close that
  // never sends COM_QUIT raises it every time).
  TMySqlSession* watcher = Connect();
  ASSERT_NE(watcher, nullptr);
  auto aborted = [&] {
    return Select(watcher, "SHOW GLOBAL STATUS LIKE 'Aborted_clients'")[0][1].value_or("");
  };
  bool clean = false;
  for (int attempt = 0; attempt < 5 && !clean; ++attempt) {
    const std::string before = aborted();
    TMySqlSession* s = api.mysql_init(nullptr);
    ASSERT_NE(ConnectAs(server().user, server().password, "", 0, s), nullptr);
    unsigned long id = api.mysql_thread_id(s);
    api.mysql_close(s);
    for (int i = 0; i < 100; ++i) {
      if (Scalar(watcher, "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " + std::to_string(id)) ==
          "0")
        break;
      usleep(20000);
    }
    clean = aborted() == before;
  }
  EXPECT_TRUE(clean) << "every close counted as an aborted client";
  api.mysql_close(nullptr);
}

TEST_F(WireClient, ConnectionsThroughAnIOHandler) {
  // A program-supplied transport: here one that forwards to plain TCP.
  class ForwardingHandler : public TCRIOHandler {
   public:
    std::string ClassName() const override { return "TForwardingHandler"; }
    THandle Connect(const std::string& host, int32_t port, const std::string&, const std::string&,
                    const std::string&) override {
      vio = std::make_unique<TCRVioTcp>(host, port);
      vio->Connect();
      return vio.get();
    }
    void Disconnect(THandle) override { vio->Close(); }
    int32_t Read(THandle, uint8_t* b, int32_t o, int32_t c) override { return vio->ReceiveOnce(b, o, c); }
    int32_t Write(THandle, const uint8_t* b, int32_t o, int32_t c) override { return vio->Write(b, o, c); }
    int32_t GetTimeout(THandle) override { return vio->GetIoTimeout(); }
    void SetTimeout(THandle, int32_t s) override { vio->SetIoTimeout(s); }
    std::unique_ptr<TCRVioTcp> vio;
  } handler;
  TMySqlSession* s = NewSession();
  AttachIOHandler(s, &handler);
  ASSERT_NE(ConnectAs(server().user, server().password, server().database, 0, s), nullptr) << api.mysql_error(s);
  EXPECT_EQ(api.mysql_get_host_info(s), server().host + " via TForwardingHandler");
  EXPECT_EQ(Scalar(s, "SELECT 40 + 2"), "42");
  api.mysql_close(s);
  LastSession() = nullptr;
}

// --- Queries read row by row ------------------------------------------------------

TEST_F(WireClient, ConstantOneStepByStep) {
  TMySqlSession* s = Connect();
  ASSERT_EQ(api.mysql_real_query(s, "SELECT 1", 8), 0);
  EXPECT_EQ(api.mysql_field_count(s), 1);
  EXPECT_EQ(s->State(), TMySqlSession::kColumnsRead);
  TMySqlResultSet* result = api.mysql_use_result(s);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(api.mysql_num_fields(result), 1);
  TMySqlBinds* row = api.mysql_fetch_row(result);
  ASSERT_NE(row, nullptr);
  int32_t offset = -1;
  const uint8_t* buffer = api.GetRowBufferAndOffset(row, 0, 0, offset);
  EXPECT_EQ(offset, 1);
  EXPECT_EQ(buffer[offset], '1');
  EXPECT_EQ((*row)[0].Length, 1);
  EXPECT_EQ(api.mysql_fetch_row(result), nullptr);
  EXPECT_EQ(api.mysql_errno(s), 0);
  EXPECT_EQ(s->State(), TMySqlSession::kReady);
  api.mysql_free_result(result);
}

TEST_F(WireClient, NullsAndA300ByteValue) {
  TMySqlSession* s = Connect();
  ASSERT_EQ(api.mysql_real_query(s, "SELECT NULL, REPEAT('a', 300), '', NULL", 39), 0) << api.mysql_error(s);
  TMySqlResultSet* result = api.mysql_use_result(s);
  TMySqlBinds* row = api.mysql_fetch_row(result);
  ASSERT_NE(row, nullptr);
  EXPECT_TRUE(api.IsNullField(row, 0));
  EXPECT_EQ((*row)[0].Offset, 0);
  EXPECT_EQ((*row)[0].Length, 0);
  std::vector<int32_t> lengths;
  api.GetRowLengths(result, lengths);
  EXPECT_EQ(lengths, (std::vector<int32_t>{0, 300, 0, 0}));
  // The 300-byte value follows its prefix 252 0x2C 0x01.
  const uint8_t* value = api.GetFieldPointer(result, row, 1);
  EXPECT_EQ(Bytes(value - 3, value), (Bytes{252, 0x2C, 0x01}));
  EXPECT_EQ(api.GetFieldText(row, 1), std::string(300, 'a'));
  EXPECT_FALSE(api.IsNullField(row, 2));

  // CopyFieldText with an offset writes only the terminator for a NULL column;
  // without an offset it writes nothing.
  uint8_t dest[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  api.CopyFieldText(row, 0, 0, dest, 2);
  EXPECT_EQ(Bytes(dest, dest + 4), (Bytes{9, 9, 0, 9}));
  api.CopyFieldText(row, 3, 0, dest + 4);
  EXPECT_EQ(dest[4], 9);
  uint8_t copy[301];
  api.CopyFieldText(row, 1, 300, copy);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(copy)), std::string(300, 'a'));
  uint8_t part[5] = {0};
  api.CopyFieldData(row, 1, 4, part);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(part)), "aaaa");
  api.mysql_free_result(result);
}

TEST_F(WireClient, HundredThousandRows) {
  TMySqlSession* s = Connect();
  std::string sql = "SELECT seq, CONCAT('row ', seq) FROM seq_1_to_100000";
  ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0) << api.mysql_error(s);
  TMySqlResultSet* result = api.mysql_use_result(s);
  ASSERT_NE(result, nullptr);
  int64_t count = 0, sum = 0;
  while (TMySqlBinds* row = api.mysql_fetch_row(result)) {
    ++count;
    sum += std::stoll(api.GetFieldText(row, 0));
    if (api.GetFieldText(row, 1) != "row " + std::to_string(count)) {
      ADD_FAILURE() << "row " << count;
      break;
    }
  }
  EXPECT_EQ(api.mysql_errno(s), 0);
  EXPECT_EQ(count, 100000);
  EXPECT_EQ(sum, 100000LL * 100001 / 2);
  api.mysql_free_result(result);
}

struct ColumnCase {
  const char* declaration;
  const char* value;     // SQL literal inserted
  uint8_t type;
  bool numeric;          // NUM_FLAG expected
  uint32_t flags;        // further flags expected
  const char* text;      // text the row gives
};

TEST_F(WireClient, EveryColumnType) {
  const ColumnCase cases[] = {
      {"TINYINT", "-5", MYSQL_TYPE_TINY, true, 0, "-5"},
      {"SMALLINT UNSIGNED", "65535", MYSQL_TYPE_SHORT, true, UNSIGNED_FLAG, "65535"},
      {"MEDIUMINT", "-8388608", MYSQL_TYPE_INT24, true, 0, "-8388608"},
      {"INT NOT NULL", "2147483647", MYSQL_TYPE_LONG, true, NOT_NULL_FLAG, "2147483647"},
      {"BIGINT", "-9223372036854775808", MYSQL_TYPE_LONGLONG, true, 0, "-9223372036854775808"},
      {"FLOAT", "1.5", MYSQL_TYPE_FLOAT, true, 0, "1.5"},
      {"DOUBLE", "-2.25e100", MYSQL_TYPE_DOUBLE, true, 0, "-2.25e100"},
      {"DECIMAL(10,2)", "12345678.91", MYSQL_TYPE_NEWDECIMAL, false, 0, "12345678.91"},
      {"DATE", "'2024-05-06'", MYSQL_TYPE_DATE, false, 0, "2024-05-06"},
      {"TIME(3)", "'-838:59:59.123'", MYSQL_TYPE_TIME, false, 0, "-838:59:59.123"},
      {"DATETIME", "'2024-05-06 07:08:09'", MYSQL_TYPE_DATETIME, false, 0, "2024-05-06 07:08:09"},
      {"TIMESTAMP NULL", "'2024-05-06 07:08:09'", MYSQL_TYPE_TIMESTAMP, false, 0, "2024-05-06 07:08:09"},
      {"YEAR", "2024", MYSQL_TYPE_YEAR, true, 0, "2024"},
      {"CHAR(5)", "'ab'", MYSQL_TYPE_STRING, false, 0, "ab"},
      {"VARCHAR(20)", "'a\\'b'", MYSQL_TYPE_VAR_STRING, false, 0, "a'b"},
      {"BINARY(3)", "'x'", MYSQL_TYPE_STRING, false, BINARY_FLAG, nullptr},
      {"VARBINARY(8)", "'\\0z'", MYSQL_TYPE_VAR_STRING, false, BINARY_FLAG, nullptr},
      {"TINYBLOB", "'tb'", MYSQL_TYPE_BLOB, false, BLOB_FLAG | BINARY_FLAG, "tb"},
      {"BLOB", "'b'", MYSQL_TYPE_BLOB, false, BLOB_FLAG | BINARY_FLAG, "b"},
      {"MEDIUMBLOB", "'mb'", MYSQL_TYPE_BLOB, false, BLOB_FLAG, "mb"},
      {"LONGBLOB", "'lb'", MYSQL_TYPE_BLOB, false, BLOB_FLAG, "lb"},
      {"TEXT", "'t\xE9'", MYSQL_TYPE_BLOB, false, BLOB_FLAG, "t\xE9"},
      {"LONGTEXT", "'lt'", MYSQL_TYPE_BLOB, false, BLOB_FLAG, "lt"},
      {"ENUM('a','b')", "'b'", MYSQL_TYPE_STRING, false, ENUM_FLAG, "b"},
      {"SET('x','y')", "'x,y'", MYSQL_TYPE_STRING, false, SET_FLAG, "x,y"},
      {"BIT(8)", "b'00000101'", MYSQL_TYPE_BIT, false, UNSIGNED_FLAG, "\x05"},
      {"POINT", "POINT(1,2)", MYSQL_TYPE_GEOMETRY, false, BINARY_FLAG, nullptr},
      {"JSON", "'{\"k\": 1}'", MYSQL_TYPE_BLOB, false, BLOB_FLAG, "{\"k\": 1}"},
      {"INET6", "'::1'", MYSQL_TYPE_STRING, false, 0, "::1"},
      {"UUID", "'123e4567-e89b-12d3-a456-426614174000'", MYSQL_TYPE_STRING, false, 0,
       "123e4567-e89b-12d3-a456-426614174000"},
      {"INT AUTO_INCREMENT PRIMARY KEY", "7", MYSQL_TYPE_LONG, true, AUTO_INCREMENT_FLAG | PRI_KEY_FLAG, "7"},
  };
  TMySqlSession* s = Connect();
  ASSERT_NE(s, nullptr);
  std::string create = "CREATE TEMPORARY TABLE every_type (", insert = "INSERT INTO every_type VALUES (";
  for (size_t i = 0; i < std::size(cases); ++i) {
    create += (i ? ", c" : "c") + std::to_string(i) + " " + cases[i].declaration;
    insert += (i ? ", " : "") + std::string(cases[i].value);
  }
  Run(s, create + ")");
  Run(s, insert + ")");
  ASSERT_EQ(api.mysql_real_query(s, "SELECT * FROM every_type", 24), 0);
  TMySqlResultSet* result = api.mysql_use_result(s);
  ASSERT_NE(result, nullptr);
  ASSERT_EQ(api.mysql_num_fields(result), static_cast<int32_t>(std::size(cases)));
  TMySqlBinds* row = api.mysql_fetch_row(result);
  ASSERT_NE(row, nullptr);
  for (uint32_t i = 0; i < std::size(cases); ++i) {
    const ColumnCase& c = cases[i];
    TMYSQL_FIELD field;
    api.GetFieldDesc(result, i, field, false);
    EXPECT_EQ(field.name, "c" + std::to_string(i));
    EXPECT_EQ(field.org_name, field.name);
    EXPECT_EQ(field.table, "every_type");
    EXPECT_EQ(int{field.type}, int{c.type}) << c.declaration;
    EXPECT_EQ((field.flags & NUM_FLAG) != 0, c.numeric) << c.declaration;
    EXPECT_EQ(field.flags & c.flags, c.flags) << c.declaration << " flags " << field.flags;
    EXPECT_LE(field.length, 65535u);
    if (c.text) {
      EXPECT_EQ(api.GetFieldText(row, i), c.text) << c.declaration;
    }
  }
  // Values whose bytes are binary.
  EXPECT_EQ(api.GetFieldText(row, 15), std::string("x\0\0", 3));
  EXPECT_EQ(api.GetFieldText(row, 16), std::string("\0z", 2));
  EXPECT_EQ(api.GetFieldText(row, 26).size(), 25u);  // WKB point with its SRID
  TMYSQL_FIELD decimal;
  api.GetFieldDesc(result, 7, decimal, false);
  EXPECT_EQ(decimal.decimals, 2u);
  TMYSQL_FIELD longBlob;
  api.GetFieldDesc(result, 20, longBlob, false);
  EXPECT_EQ(longBlob.length, 65535u);  // capped
  EXPECT_EQ(api.mysql_fetch_row(result), nullptr);
  api.mysql_free_result(result);
}

TEST_F(WireClient, InsertGivesAffectedRowsAndInsertId) {
  TMySqlSession* s = Connect();
  Run(s, "CREATE TEMPORARY TABLE ins (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(10)) AUTO_INCREMENT = 41");
  std::string sql = "INSERT INTO ins (v) VALUES ('a')";
  ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0);
  EXPECT_EQ(api.mysql_affected_rows(s), 1u);
  EXPECT_EQ(api.mysql_insert_id(s), 41u);
  EXPECT_EQ(api.mysql_field_count(s), 0);
  EXPECT_EQ(api.mysql_use_result(s), nullptr);
  EXPECT_EQ(s->State(), TMySqlSession::kReady);
  sql = "INSERT INTO ins (v) VALUES ('b'), ('c'), ('d')";
  ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0);
  EXPECT_EQ(api.mysql_affected_rows(s), 3u);
  EXPECT_EQ(api.mysql_insert_id(s), 42u);
  EXPECT_EQ(api.mysql_info(s), "Records: 3  Duplicates: 0  Warnings: 0");
}

TEST_F(WireClient, InsertIdAboveTheSignedRangeIsASuccess) {
  // The server writes the row and counts ids unsigned; refusing its answer
  // would report a written row as a failure and invite a second insert.
  TMySqlSession* s = Connect();
  Run(s,
      "CREATE TEMPORARY TABLE bigid (id BIGINT UNSIGNED AUTO_INCREMENT PRIMARY KEY, v INT)"
      " AUTO_INCREMENT = 18446744073709551600");
  std::string sql = "INSERT INTO bigid (v) VALUES (1)";
  ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0) << api.mysql_error(s);
  EXPECT_EQ(api.mysql_affected_rows(s), 1u);
  EXPECT_EQ(api.mysql_insert_id(s), 18446744073709551600u);
  EXPECT_EQ(Scalar(s, "SELECT COUNT(*) FROM bigid"), "1");

  TMySqlStmt* st = api.mysql_stmt_init(s);
  ASSERT_NE(st, nullptr);
  sql = "INSERT INTO bigid (v) VALUES (2)";
  ASSERT_EQ(api.mysql_stmt_prepare(st, sql.data(), static_cast<uint32_t>(sql.size())), 0) << api.mysql_stmt_error(st);
  ASSERT_EQ(api.StmtExecute(st, {}, false), 0) << api.mysql_stmt_error(st);
  EXPECT_EQ(api.mysql_stmt_affected_rows(st), 1u);
  EXPECT_EQ(api.mysql_insert_id(s), 18446744073709551601u);
  EXPECT_EQ(api.mysql_stmt_close(st), 0);
  EXPECT_EQ(Scalar(s, "SELECT COUNT(*) FROM bigid"), "2");
}

TEST_F(WireClient, BatchOfTwoSelects) {
  TMySqlSession* s = Connect(CLIENT_MULTI_STATEMENTS);
  std::string sql = "SELECT 1; SELECT 'two', 2";
  ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0) << api.mysql_error(s);
  TMySqlResultSet* first = api.mysql_use_result(s);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(api.mysql_fetch_row(first), nullptr);
  EXPECT_EQ(api.mysql_fetch_row(first), nullptr);
  api.mysql_free_result(first);
  EXPECT_TRUE(api.mysql_more_results(s));
  EXPECT_EQ(api.mysql_next_result(s), 0);
  EXPECT_EQ(api.mysql_field_count(s), 2);
  TMySqlResultSet* second = api.mysql_use_result(s);
  ASSERT_NE(second, nullptr);
  TMySqlBinds* row = api.mysql_fetch_row(second);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(api.GetFieldText(row, 0), "two");
  EXPECT_EQ(api.mysql_fetch_row(second), nullptr);
  api.mysql_free_result(second);
  EXPECT_FALSE(api.mysql_more_results(s));
  EXPECT_EQ(api.mysql_next_result(s), -1);
}

TEST_F(WireClient, SecondQueryWhileRowsAreUnreadIsOutOfSync) {
  TMySqlSession* s = Connect();
  std::string sql = "SELECT seq FROM seq_1_to_1000";
  ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0);
  TMySqlResultSet* result = api.mysql_use_result(s);
  ASSERT_NE(result, nullptr);
  ASSERT_NE(api.mysql_fetch_row(result), nullptr);
  EXPECT_EQ(api.mysql_real_query(s, "SELECT 2", 8), 2014);
  EXPECT_EQ(api.mysql_error(s), "Commands out of sync;  You can't run this command now");
  EXPECT_EQ(api.mysql_next_result(s), 2014);
  EXPECT_EQ(api.mysql_error(s), "Commands out of sync;  You can't run this command now\r\nmysql.status = 2");
  EXPECT_EQ(api.mysql_use_result(s), nullptr);
  // The first result is still readable.
  TMySqlBinds* row = api.mysql_fetch_row(result);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(api.GetFieldText(row, 0), "2");
  api.mysql_free_result(result);
}

TEST_F(WireClient, UseResultTwiceIsOutOfSync) {
  TMySqlSession* s = Connect();
  ASSERT_EQ(api.mysql_real_query(s, "SELECT 1", 8), 0);
  TMySqlResultSet* result = api.mysql_use_result(s);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(api.mysql_use_result(s), nullptr);  // nothing pending any more
  api.mysql_free_result(result);
}

TEST_F(WireClient, FreeingAHalfReadResultLeavesTheSessionUsable) {
  TMySqlSession* s = Connect();
  // Large enough that most rows are still on the wire.
  std::string sql = "SELECT seq, REPEAT('z', 500) FROM seq_1_to_20000";
  ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0);
  TMySqlResultSet* result = api.mysql_use_result(s);
  for (int i = 0; i < 10; ++i) ASSERT_NE(api.mysql_fetch_row(result), nullptr);
  api.mysql_free_result(result);
  EXPECT_EQ(s->State(), TMySqlSession::kReady);
  EXPECT_EQ(Scalar(s, "SELECT 'next'"), "next");
}

TEST_F(WireClient, ServerErrorInsideTheRows) {
  TMySqlSession* s = Connect();
  // The error comes after the header, while rows are read.
  std::string sql = "SELECT seq, IF(seq = 3, (SELECT 1 UNION SELECT 2), seq) FROM seq_1_to_5";
  ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0) << api.mysql_error(s);
  TMySqlResultSet* result = api.mysql_use_result(s);
  ASSERT_NE(result, nullptr);
  int rows = 0;
  while (api.mysql_fetch_row(result)) ++rows;
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(api.mysql_errno(s), 1242);
  api.mysql_free_result(result);
  EXPECT_EQ(Scalar(s, "SELECT 'after'"), "after");
}

TEST_F(WireClient, ProcedureWithSeveralResultsIsDrainedWhole) {
  TMySqlSession* s = Connect(CLIENT_MULTI_STATEMENTS);
  Run(s, "DROP PROCEDURE IF EXISTS three_results");
  Run(s, "CREATE PROCEDURE three_results() BEGIN SELECT seq FROM seq_1_to_3000; SELECT 'b'; SELECT 'c', 2; END");
  s->SetStoredProc(true);
  std::string sql = "CALL three_results()";
  ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0) << api.mysql_error(s);
  TMySqlResultSet* result = api.mysql_use_result(s);
  ASSERT_NE(result, nullptr);
  ASSERT_NE(api.mysql_fetch_row(result), nullptr);
  api.mysql_free_result(result);
  EXPECT_FALSE(s->StoredProc());
  EXPECT_FALSE(api.mysql_more_results(s));
  EXPECT_EQ(Scalar(s, "SELECT 'in step'"), "in step");
  Run(s, "DROP PROCEDURE three_results");
}

// --- Compression ------------------------------------------------------------------

TEST_F(WireClient, CompressedProtocolEndToEnd) {
  TMySqlSession* s = Connect(CLIENT_COMPRESS);
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(s->Net().IsCompressed());
  EXPECT_EQ(Scalar(s, "SELECT 'small'"), "small");

  // A row longer than 16 MiB, and rows after it.
  std::string sql = "SELECT REPEAT('x', 17000000) UNION ALL SELECT 'after'";
  ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0) << api.mysql_error(s);
  TMySqlResultSet* result = api.mysql_use_result(s);
  ASSERT_NE(result, nullptr);
  TMySqlBinds* row = api.mysql_fetch_row(result);
  ASSERT_NE(row, nullptr) << api.mysql_error(s);
  std::vector<int32_t> lengths;
  api.GetRowLengths(result, lengths);
  EXPECT_EQ(lengths[0], 17000000);
  const uint8_t* p = api.GetFieldPointer(result, row, 0);
  EXPECT_EQ(std::count(p, p + 17000000, 'x'), 17000000);
  row = api.mysql_fetch_row(result);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(api.GetFieldText(row, 0), "after");
  EXPECT_EQ(api.mysql_fetch_row(result), nullptr);
  api.mysql_free_result(result);

  // A large query text goes compressed too.
  std::string big = "SELECT LENGTH('" + std::string(3000000, 'q') + "')";
  EXPECT_EQ(Scalar(s, big), "3000000");

  // Draining a compressed result with a huge row and many small ones.
  sql = "SELECT REPEAT('y', 17000000) UNION ALL SELECT seq FROM seq_1_to_50000";
  ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0);
  result = api.mysql_use_result(s);
  api.mysql_free_result(result);
  EXPECT_EQ(Scalar(s, "SELECT COUNT(*) FROM seq_1_to_100000"), "100000");
  std::vector<Row> many = Select(s, "SELECT seq FROM seq_1_to_100000");
  ASSERT_EQ(many.size(), 100000u);
  EXPECT_EQ(*many.back()[0], "100000");
}

TEST_F(WireClient, PlainResultLargerThan16MiB) {
  TMySqlSession* s = Connect();
  std::string sql = "SELECT REPEAT('p', 16777215), REPEAT('q', 10)";
  ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0);
  TMySqlResultSet* result = api.mysql_use_result(s);
  TMySqlBinds* row = api.mysql_fetch_row(result);
  ASSERT_NE(row, nullptr) << api.mysql_error(s);
  EXPECT_EQ(api.GetFieldText(row, 0).size(), 16777215u);
  EXPECT_EQ(api.GetFieldText(row, 1), "qqqqqqqqqq");
  api.mysql_free_result(result);
  // Half-read: the drain skips the huge row in pieces.
  ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0);
  api.mysql_free_result(api.mysql_use_result(s));
  EXPECT_EQ(Scalar(s, "SELECT 'ok'"), "ok");
}

TEST_F(WireClient, QueriesOfExactly16MiBMinus1AndLonger) {
  // A payload of exactly 16777215 bytes is followed by an empty packet; the
  // server would wait for the rest of it otherwise.
  for (uint32_t flags : {0u, CLIENT_COMPRESS}) {
    TMySqlSession* s = Connect(flags);
    ASSERT_NE(s, nullptr);
    const std::string head = "SELECT LENGTH('", tail = "')";
    for (size_t payload : {size_t{16777215}, size_t{16777216}, size_t{2 * 16777215}}) {
      size_t filler = payload - 1 - head.size() - tail.size();
      std::string sql = head + std::string(filler, 'w') + tail;
      ASSERT_EQ(sql.size() + 1, payload);
      EXPECT_EQ(Scalar(s, sql), std::to_string(filler)) << "payload " << payload << " flags " << flags;
    }
  }
}

// --- LOAD DATA LOCAL INFILE -----------------------------------------------------

class LocalInfile : public WireClient {
 protected:
  void SetUp() override {
    WireClient::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    path_ = ::testing::TempDir() + "infile_" + std::to_string(::getpid()) + ".txt";
    std::ofstream out(path_);
    for (int i = 1; i <= 3000; ++i) out << i << "\tline " << i << "\n";
  }
  void TearDown() override {
    std::remove(path_.c_str());
    WireClient::TearDown();
  }
  std::string LoadStatement() const {
    return "LOAD DATA LOCAL INFILE '" + path_ + "' INTO TABLE infile_target";
  }
  std::string path_;
};

TEST_F(LocalInfile, SentWhenTheSessionAllowsIt) {
  TMySqlSession* s = NewSession();
  int32_t on = 1;
  api.mysql_options(s, MYSQL_OPT_LOCAL_INFILE, &on);
  ASSERT_NE(ConnectAs(server().user, server().password, server().database, 0, s), nullptr);
  Run(s, "CREATE TEMPORARY TABLE infile_target (n INT, t VARCHAR(20))");
  std::string sql = LoadStatement();
  ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0) << api.mysql_error(s);
  EXPECT_EQ(api.mysql_affected_rows(s), 3000u);
  EXPECT_EQ(Scalar(s, "SELECT CONCAT(COUNT(*), ' ', SUM(n), ' ', MAX(t)) FROM infile_target"),
            "3000 4501500 line 999");

  // A file that cannot be opened: the exchange still ends cleanly.
  std::string missing = "LOAD DATA LOCAL INFILE '/no/such/file' INTO TABLE infile_target";
  EXPECT_THROW(api.mysql_real_query(s, missing.data(), static_cast<uint32_t>(missing.size())), EFOpenError);
  EXPECT_EQ(Scalar(s, "SELECT COUNT(*) FROM infile_target"), "3000");
}

TEST_F(LocalInfile, RefusedByDefault) {
  TMySqlSession* s = Connect();
  Run(s, "CREATE TEMPORARY TABLE infile_target (n INT, t VARCHAR(20))");
  std::string sql = LoadStatement();
  EXPECT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 2068);
  EXPECT_EQ(api.mysql_error(s),
            "\r\nLOAD DATA LOCAL INFILE file request refused: local files are not allowed on this connection (file '" +
                path_ + "')");
  EXPECT_EQ(Scalar(s, "SELECT COUNT(*) FROM infile_target"), "0");
  // The login still announces local files.
  EXPECT_NE(s->ClientFlags() & CLIENT_LOCAL_FILES, 0u);
}

TEST_F(LocalInfile, CompressedAllowedLoad) {
  TMySqlSession* s = NewSession();
  api.mysql_options(s, MYSQL_OPT_LOCAL_INFILE, nullptr);
  ASSERT_NE(ConnectAs(server().user, server().password, server().database, CLIENT_COMPRESS, s), nullptr);
  Run(s, "CREATE TEMPORARY TABLE infile_target (n INT, t VARCHAR(20))");
  std::string sql = LoadStatement();
  ASSERT_EQ(api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())), 0) << api.mysql_error(s);
  EXPECT_EQ(Scalar(s, "SELECT COUNT(*) FROM infile_target"), "3000");
}

}  // namespace
}  // namespace da::mysql
