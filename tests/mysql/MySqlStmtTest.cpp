// Prepared statements against the scripted server: the byte layout of the
// execute packet and of binary rows, and binary rows a server gets wrong.
#include "mysql/MySqlStmt.h"

#include <gtest/gtest.h>

#include "ScriptedServer.h"
#include "WireTestSupport.h"
#include "common/DateTime.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlSession.h"

namespace da::mysql {
namespace {

using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;
using testsupport::ScriptError;
using namespace wiretest;

Bytes PrepareOk(uint32_t id, uint16_t columns, uint16_t params) {
  Bytes p{0};
  PutLE(p, id, 4);
  PutLE(p, columns, 2);
  PutLE(p, params, 2);
  p.push_back(0);
  PutLE(p, 0, 2);
  return p;
}

// A text row of one value, where a server should have sent something else.
Bytes TextRowPacket() { return Bytes{1, '7'}; }

// Handshake, then answers the prepare of a statement with `params`
// parameters and `columns` result columns (all LONG), then runs `rest`.
ScriptedServer::Script PreparedScript(uint16_t params, uint16_t columns,
                                      std::function<void(ScriptedConnection&)> rest) {
  return [=](ScriptedConnection& c) {
    c.SendPacket(0, Greeting41());
    c.ReadPacket();
    c.SendPacket(2, OkPacket());
    ScriptedConnection::Packet prepare = c.ReadPacket();
    if (prepare.payload.empty() || prepare.payload[0] != 22) throw ScriptError("expected COM_STMT_PREPARE");
    uint8_t seq = 1;
    c.SendPacket(seq++, PrepareOk(9, columns, params));
    if (params) {
      for (uint16_t i = 0; i < params; ++i) c.SendPacket(seq++, ColumnDefinition("?", MYSQL_TYPE_VAR_STRING));
      c.SendPacket(seq++, EofPacket());
    }
    if (columns) {
      for (uint16_t i = 0; i < columns; ++i)
        c.SendPacket(seq++, ColumnDefinition("c" + std::to_string(i), MYSQL_TYPE_LONG));
      c.SendPacket(seq++, EofPacket());
    }
    rest(c);
  };
}

struct Client {
  TMySQLAPIDirect& api = DirectApi();
  TMySqlSession* session = api.mysql_init(nullptr);
  TMySqlStmt* stmt = nullptr;
  ~Client() {
    if (stmt) api.mysql_stmt_close(stmt);
    api.mysql_close(session);
  }
  void Prepare(int port, const std::string& sql) {
    ASSERT_NE(api.mysql_real_connect(session, "127.0.0.1", "u", "p", "", static_cast<uint32_t>(port), "", 0), nullptr)
        << api.mysql_error(session);
    stmt = api.mysql_stmt_init(session);
    ASSERT_EQ(api.mysql_stmt_prepare(stmt, sql.data(), static_cast<uint32_t>(sql.size())), 0)
        << api.mysql_stmt_error(stmt);
  }
};

TMySqlParamDesc Param(TDataType type, const Variant* value) {
  TMySqlParamDesc p;
  p.DataType = type;
  p.Value = value;
  p.IsNull = !value || value->IsNull();
  return p;
}

TEST(StmtExecutePacket, NullBitmapAndTypesSentOnce) {
  std::vector<Bytes> executes;
  ScriptedServer server(PreparedScript(3, 0, [&](ScriptedConnection& c) {
    for (int i = 0; i < 2; ++i) {
      executes.push_back(c.ReadPacket().payload);
      c.SendPacket(1, OkPacket(1));
    }
    ScriptedConnection::Packet close = c.ReadPacket();  // no answer
    if (close.seq != 0 || close.payload != Bytes{25, 9, 0, 0, 0}) throw ScriptError("expected COM_STMT_CLOSE of 9");
    c.SetTimeoutMs(3000);
    c.WaitForClose();
  }));
  Client client;
  client.Prepare(server.port(), "INSERT INTO t VALUES (?, ?, ?)");
  EXPECT_EQ(client.api.mysql_stmt_param_count(client.stmt), 3);
  Variant a(int32_t{7}), c("xy");
  std::vector<TMySqlParamDesc> params = {Param(dtInt32, &a), Param(dtString, nullptr), Param(dtString, &c)};
  ASSERT_EQ(client.api.StmtExecute(client.stmt, params, false), 0) << client.api.mysql_stmt_error(client.stmt);
  EXPECT_EQ(client.api.mysql_stmt_affected_rows(client.stmt), 1u);
  ASSERT_EQ(client.api.StmtExecute(client.stmt, params, false), 0);
  client.api.mysql_stmt_close(client.stmt);
  client.stmt = nullptr;
  EXPECT_EQ(server.Finish(), "");

  ASSERT_EQ(executes.size(), 2u);
  Bytes head{23, 9, 0, 0, 0, 0, 1, 0, 0, 0};
  Bytes first = head;
  first.push_back(0x02);                                    // the second parameter is null
  first.push_back(1);                                       // types follow
  for (uint8_t t : {MYSQL_TYPE_LONG, MYSQL_TYPE_VAR_STRING, MYSQL_TYPE_VAR_STRING}) {
    first.push_back(t);
    first.push_back(0);
  }
  Bytes values{7, 0, 0, 0, 2, 'x', 'y'};                   // only two values
  first.insert(first.end(), values.begin(), values.end());
  EXPECT_EQ(executes[0], first);
  Bytes second = head;
  second.push_back(0x02);
  second.push_back(0);                                      // same types: not sent again
  second.insert(second.end(), values.begin(), values.end());
  EXPECT_EQ(executes[1], second);
}

TEST(StmtExecutePacket, DateTimeTimeAndDateValues) {
  Bytes execute;
  ScriptedServer server(PreparedScript(4, 0, [&](ScriptedConnection& c) {
    execute = c.ReadPacket().payload;
    c.SendPacket(1, OkPacket());
  }));
  Client client;
  client.Prepare(server.port(), "DO ?, ?, ?, ?");
  Variant moment = Variant::FromDateTime(EncodeDateTime({2024, 5, 6, 7, 8, 9, 10}));
  Variant amount(Currency::FromDouble(-12.5));
  std::vector<TMySqlParamDesc> params = {Param(dtDateTime, &moment), Param(dtTime, &moment), Param(dtDate, &moment),
                                         Param(dtBCD, &amount)};
  ASSERT_EQ(client.api.StmtExecute(client.stmt, params, false), 0) << client.api.mysql_stmt_error(client.stmt);
  EXPECT_EQ(server.Finish(), "");
  // head (10) + bitmap (1) + flag (1) + 4 types (8)
  ASSERT_GT(execute.size(), 20u);
  Bytes values(execute.begin() + 20, execute.end());
  Bytes expected{11, 0xE8, 0x07, 5, 6, 7, 8, 9, 0x10, 0x27, 0, 0,      // datetime, 10000 microseconds
                 12, 0, 0, 0, 0, 0, 7, 8, 9, 0x10, 0x27, 0, 0,         // time
                 4, 0xE8, 0x07, 5, 6,                                   // date
                 5, '-', '1', '2', '.', '5'};                           // decimal text with a point
  EXPECT_EQ(values, expected);
}

TEST(StmtExecutePacket, ParameterCountMismatchSendsNoParameterBlock) {
  Bytes execute;
  ScriptedServer server(PreparedScript(2, 0, [&](ScriptedConnection& c) {
    execute = c.ReadPacket().payload;
    c.SendPacket(1, ErrorPacket(2031, "#HY000No data supplied for parameters in prepared statement"));
  }));
  Client client;
  client.Prepare(server.port(), "DO ?, ?");
  Variant one(int32_t{1});
  std::vector<TMySqlParamDesc> params = {Param(dtInt32, &one)};
  EXPECT_EQ(client.api.StmtExecute(client.stmt, params, false), 2031);
  EXPECT_EQ(client.api.mysql_stmt_errno(client.stmt), 2031);
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(execute, (Bytes{23, 9, 0, 0, 0, 0, 1, 0, 0, 0}));
}

TEST(StmtExecutePacket, UnknownDataTypeIsAnAssertion) {
  EXPECT_EQ(ParamTypeCode(dtBoolean), MYSQL_TYPE_TINY);
  EXPECT_EQ(ParamTypeCode(dtUInt16), MYSQL_TYPE_LONG);
  EXPECT_EQ(ParamTypeCode(dtFmtBCD), MYSQL_TYPE_VAR_STRING);
  try {
    ParamTypeCode(dtCurrency);
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), "Invalid internal field type $C (12)");
  }
}

// Rows of three LONG columns sent after an execute.
void RunBinaryRows(const std::vector<Bytes>& rows, const std::function<void(Client&)>& check) {
  ScriptedServer server(PreparedScript(0, 3, [&](ScriptedConnection& c) {
    c.ReadPacket();
    uint8_t seq = 1;
    c.SendPacket(seq++, Bytes{3});
    for (int i = 0; i < 3; ++i) c.SendPacket(seq++, ColumnDefinition("c" + std::to_string(i), MYSQL_TYPE_LONG));
    c.SendPacket(seq++, EofPacket());
    for (const Bytes& r : rows) c.SendPacket(seq++, r);
    c.SendPacket(seq++, EofPacket());
    c.SetTimeoutMs(3000);
    c.WaitForClose();
  }));
  Client client;
  client.Prepare(server.port(), "SELECT a, b, c FROM t");
  ASSERT_EQ(client.api.StmtExecute(client.stmt, {}, false), 0) << client.api.mysql_stmt_error(client.stmt);
  ASSERT_EQ(client.api.StmtBindResult(client.stmt), 0);
  check(client);
}

TEST(StmtBinaryRows, FirstColumnNullIsBitTwoOfByteOne) {
  RunBinaryRows({Bytes{0, 0x04, 5, 0, 0, 0, 6, 0, 0, 0}}, [](Client& client) {
    TMySqlBinds* row = nullptr;
    ASSERT_EQ(client.api.StmtFetch(client.stmt, row), 0) << client.api.mysql_stmt_error(client.stmt);
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(client.api.IsNullField(row, 0));
    EXPECT_EQ(client.api.StmtGetFieldPointer(client.stmt, 0), nullptr);
    std::vector<int32_t> lengths;
    client.api.StmtGetRowLengths(row, lengths);
    EXPECT_EQ(lengths, (std::vector<int32_t>{0, 4, 4}));
    EXPECT_EQ(*client.api.StmtGetFieldPointer(client.stmt, 1), 5);
    EXPECT_EQ(*client.api.StmtGetFieldPointer(client.stmt, 2), 6);
    EXPECT_EQ((*row)[1].Offset, 2);
    EXPECT_EQ((*row)[1].Type, MYSQL_TYPE_LONG);
    EXPECT_EQ(client.api.StmtFetch(client.stmt, row), 100);
    EXPECT_EQ(client.session->State(), TMySqlSession::kReady);
  });
}

// After a row that does not parse the rest of the result is still on the
// wire: the next command must fail clearly, never read it as its answer.
void ExpectGoneAway(Client& client) {
  EXPECT_EQ(client.session->State(), TMySqlSession::kReady);
  EXPECT_EQ(client.api.StmtExecute(client.stmt, {}, false), 2006);
  EXPECT_EQ(client.api.mysql_ping(client.session), 2006);
}

TEST(StmtBinaryRows, ValuesPastTheRowAre2027) {
  RunBinaryRows({Bytes{0, 0, 5, 0, 0, 0, 6, 0}, Bytes{0, 0, 5, 0, 0, 0, 6, 0, 0, 0, 7, 0, 0, 0}}, [](Client& client) {
    TMySqlBinds* row = nullptr;
    EXPECT_EQ(client.api.StmtFetch(client.stmt, row), 2027);
    EXPECT_EQ(client.api.mysql_stmt_error(client.stmt), "Malformed packet");
    EXPECT_EQ(row, nullptr);
    EXPECT_EQ(client.api.StmtFetch(client.stmt, row), 100);  // the result has ended
    ExpectGoneAway(client);
  });
  RunBinaryRows({Bytes{0}}, [](Client& client) {
    TMySqlBinds* row = nullptr;
    EXPECT_EQ(client.api.StmtFetch(client.stmt, row), 2027);
    ExpectGoneAway(client);
  });
}

TEST(StmtBinaryRows, FetchWithoutABoundRowIs2028) {
  ScriptedServer server(PreparedScript(0, 1, [&](ScriptedConnection& c) {
    c.ReadPacket();
    c.SendPacket(1, Bytes{1});
    c.SendPacket(2, ColumnDefinition("c0", MYSQL_TYPE_LONG));
    c.SendPacket(3, EofPacket());
    c.SendPacket(4, Bytes{0, 0, 1, 0, 0, 0});
    c.SendPacket(5, EofPacket());
    c.SetTimeoutMs(3000);
    c.WaitForClose();
  }));
  Client client;
  client.Prepare(server.port(), "SELECT 1");
  ASSERT_EQ(client.api.StmtExecute(client.stmt, {}, false), 0);
  TMySqlBinds* row = nullptr;
  EXPECT_EQ(client.api.StmtFetch(client.stmt, row), 2028);
  ExpectGoneAway(client);
  EXPECT_EQ(server.Finish(), "");
}

// --- Prepare answers a server gets wrong -----------------------------------------

struct PrepareCase {
  const char* name;
  std::vector<Bytes> answer;  // numbered from 1
};

void PrintTo(const PrepareCase& c, std::ostream* os) { *os << c.name; }

class StmtPrepareMalformed : public ::testing::TestWithParam<PrepareCase> {};

TEST_P(StmtPrepareMalformed, Is2027AndLeavesNothingForTheNextCommand) {
  ScriptedServer server([answer = GetParam().answer](ScriptedConnection& c) {
    c.SendPacket(0, Greeting41());
    c.ReadPacket();
    c.SendPacket(2, OkPacket());
    c.ReadPacket();
    uint8_t seq = 1;
    for (const Bytes& p : answer) c.SendPacket(seq++, p);
    c.SetTimeoutMs(3000);
    c.WaitForClose();
  });
  Client client;
  ASSERT_NE(client.api.mysql_real_connect(client.session, "127.0.0.1", "u", "p", "",
                                          static_cast<uint32_t>(server.port()), "", 0),
            nullptr);
  client.stmt = client.api.mysql_stmt_init(client.session);
  EXPECT_EQ(client.api.mysql_stmt_prepare(client.stmt, "SELECT ?", 8), 2027);
  EXPECT_EQ(client.stmt->State(), TMySqlStmt::kNotPrepared);
  EXPECT_EQ(client.stmt->StatementId(), 0u);
  EXPECT_EQ(client.api.mysql_stmt_field_count(client.stmt), 0);
  EXPECT_EQ(client.api.mysql_ping(client.session), 2006);
  EXPECT_EQ(server.Finish(), "");
}

Bytes PrepareAnswer(uint16_t columns, uint16_t params) { return PrepareOk(9, columns, params); }

INSTANTIATE_TEST_SUITE_P(
    Cases, StmtPrepareMalformed,
    ::testing::Values(
        // Counts that read negative, with the definitions following.
        PrepareCase{"NegativeColumnCount",
                    {PrepareAnswer(0xFFFF, 0), ColumnDefinition("a", MYSQL_TYPE_LONG), EofPacket()}},
        PrepareCase{"ShortAnswer", {Bytes{0, 9, 0, 0, 0, 1}, ColumnDefinition("a", MYSQL_TYPE_LONG), EofPacket()}},
        PrepareCase{"MoreParameterDefinitionsThanParameters",
                    {PrepareAnswer(0, 1), ColumnDefinition("?", MYSQL_TYPE_VAR_STRING),
                     ColumnDefinition("?", MYSQL_TYPE_VAR_STRING), ColumnDefinition("?", MYSQL_TYPE_VAR_STRING),
                     EofPacket()}},
        PrepareCase{"FewerColumnDefinitionsThanColumns",
                    {PrepareAnswer(2, 0), ColumnDefinition("a", MYSQL_TYPE_LONG), EofPacket(), TextRowPacket()}}),
    [](const ::testing::TestParamInfo<PrepareCase>& info) { return std::string(info.param.name); });

// --- Closing ------------------------------------------------------------------

TEST(StmtClose, WaitsUntilTheSessionIsFreeThenGoesBeforeTheNextCommand) {
  ScriptedServer server(PreparedScript(0, 1, [&](ScriptedConnection& c) {
    ScriptedConnection::Packet query = c.ReadPacket();
    if (query.payload.empty() || query.payload[0] != 3) throw ScriptError("expected COM_QUERY");
    uint8_t seq = 1;
    c.SendPacket(seq++, Bytes{1});
    c.SendPacket(seq++, ColumnDefinition("a", MYSQL_TYPE_LONG));
    c.SendPacket(seq++, EofPacket());
    for (int i = 0; i < 3; ++i) c.SendPacket(seq++, Bytes{1, '7'});
    c.SendPacket(seq++, EofPacket());
    ScriptedConnection::Packet close = c.ReadPacket();
    if (close.seq != 0 || close.payload != Bytes{25, 9, 0, 0, 0}) throw ScriptError("expected COM_STMT_CLOSE of 9");
    ScriptedConnection::Packet ping = c.ReadPacket();
    if (ping.seq != 0 || ping.payload != Bytes{14}) throw ScriptError("expected COM_PING");
    c.SendPacket(1, OkPacket());
    c.SetTimeoutMs(3000);
    c.WaitForClose();
  }));
  Client client;
  client.Prepare(server.port(), "SELECT 1");
  ASSERT_EQ(client.api.mysql_real_query(client.session, "SELECT a", 8), 0) << client.api.mysql_error(client.session);
  TMySqlResultSet* result = client.api.mysql_use_result(client.session);
  ASSERT_NE(result, nullptr);
  ASSERT_NE(client.api.mysql_fetch_row(result), nullptr);
  EXPECT_EQ(client.api.mysql_stmt_close(client.stmt), 0);  // rows pending: nothing can be sent now
  client.stmt = nullptr;
  client.api.mysql_free_result(result);
  EXPECT_EQ(client.api.mysql_ping(client.session), 0) << client.api.mysql_error(client.session);
  client.api.mysql_close(client.session);
  client.session = nullptr;
  EXPECT_EQ(server.Finish(), "");
}

TEST(StmtClose, FailedPrepareLeavesTheStatementUnpreparedAndClosedOnce) {
  ScriptedServer server(PreparedScript(0, 1, [&](ScriptedConnection& c) {
    ScriptedConnection::Packet close = c.ReadPacket();
    if (close.payload != Bytes{25, 9, 0, 0, 0}) throw ScriptError("expected COM_STMT_CLOSE of 9");
    ScriptedConnection::Packet prepare = c.ReadPacket();
    if (prepare.payload.empty() || prepare.payload[0] != 22) throw ScriptError("expected COM_STMT_PREPARE");
    c.SendPacket(1, ErrorPacket(1064, "#42000You have an error in your SQL syntax"));
    ScriptedConnection::Packet quit = c.ReadPacket();
    if (quit.payload != Bytes{1}) throw ScriptError("expected COM_QUIT, nothing else");
    c.SetTimeoutMs(3000);
    c.WaitForClose();
  }));
  Client client;
  client.Prepare(server.port(), "SELECT 1");
  EXPECT_EQ(client.api.mysql_stmt_prepare(client.stmt, "SELEC", 5), 1064);
  EXPECT_EQ(client.stmt->State(), TMySqlStmt::kNotPrepared);
  EXPECT_EQ(client.stmt->StatementId(), 0u);
  EXPECT_EQ(client.api.mysql_stmt_field_count(client.stmt), 0);
  EXPECT_EQ(client.api.StmtBindResult(client.stmt), 2029 & 0xFF);
  client.api.mysql_stmt_close(client.stmt);
  client.stmt = nullptr;
  client.api.mysql_close(client.session);
  client.session = nullptr;
  EXPECT_EQ(server.Finish(), "");
}

TEST(StmtBindResult, UnpreparedAndWithoutColumns) {
  ScriptedServer server(PreparedScript(0, 0, [&](ScriptedConnection& c) {
    c.SetTimeoutMs(3000);
    c.WaitForClose();
  }));
  Client client;
  TMySqlStmt* unprepared = client.api.mysql_stmt_init(client.session);
  EXPECT_EQ(client.api.StmtBindResult(unprepared), 2029 & 0xFF);
  EXPECT_EQ(client.api.mysql_stmt_errno(unprepared), 2029);
  EXPECT_EQ(client.api.mysql_stmt_error(unprepared), "Statement not prepared");
  client.api.mysql_stmt_close(unprepared);
  client.Prepare(server.port(), "DO 1");
  EXPECT_EQ(client.api.StmtBindResult(client.stmt), 2000 & 0xFF);
  EXPECT_EQ(client.api.mysql_stmt_errno(client.stmt), 2000);
}

TEST(StmtLifetime, StatementOutlivingItsSession) {
  ScriptedServer server(PreparedScript(0, 1, [&](ScriptedConnection& c) {
    c.SetTimeoutMs(3000);
    c.WaitForClose();
  }));
  Client client;
  client.Prepare(server.port(), "SELECT 1");
  client.api.mysql_close(client.session);
  client.session = nullptr;
  EXPECT_EQ(client.stmt->Session(), nullptr);
  EXPECT_EQ(client.api.StmtExecute(client.stmt, {}, false), 2006);
  client.api.mysql_stmt_close(client.stmt);  // the sanitizers watch for a touch of the freed session
  client.stmt = nullptr;
}

}  // namespace
}  // namespace da::mysql
