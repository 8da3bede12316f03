// The call table's own behaviour: options, time-outs, version parsing, the
// column descriptions it hands the driver, and the slots Direct mode lacks.
#include "mysql/MySqlApiDirect.h"

#include <gtest/gtest.h>

#include "ScriptedServer.h"
#include "WireTestSupport.h"
#include "mysql/MySqlSession.h"

namespace da::mysql {
namespace {

using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;
using namespace wiretest;

struct Session {
  TMySQLAPIDirect& api = DirectApi();
  TMySqlSession* s = api.mysql_init(nullptr);
  ~Session() { api.mysql_close(s); }
};

TEST(CallTable, OneInstanceWithTheClientVersion) {
  EXPECT_EQ(&DirectApi(), &DirectApi());
  EXPECT_EQ(DirectApi().mysql_get_client_info(), "7.0.0 Direct");
  EXPECT_EQ(DirectApi().ClientVersion(), "7.0.0 Direct");
  EXPECT_EQ(DirectApi().ClientStructVer(), 0);
  EXPECT_TRUE(DirectApi().IsClientLoaded());
}

TEST(CallTable, OptionsAndCommandTimeout) {
  Session t;
  t.api.ApplyCommandTimeout(t.s, 0);
  EXPECT_EQ(t.s->ReadWriteTimeout(), 31536000);
  t.api.ApplyCommandTimeout(t.s, 20);
  EXPECT_EQ(t.s->ReadWriteTimeout(), 20);
  int32_t fifteen = 15;
  t.api.mysql_options(t.s, MYSQL_OPT_CONNECT_TIMEOUT, &fifteen);
  EXPECT_EQ(t.s->ConnectTimeout(), 15);
  EXPECT_FALSE(t.s->AllowLocalInfile());
  int32_t on = 1, off = 0;
  t.api.mysql_options(t.s, MYSQL_OPT_LOCAL_INFILE, &on);
  EXPECT_TRUE(t.s->AllowLocalInfile());
  t.api.mysql_options(t.s, MYSQL_OPT_LOCAL_INFILE, &off);
  EXPECT_FALSE(t.s->AllowLocalInfile());
  int32_t ignored = 12345;
  t.api.mysql_options(t.s, MYSQL_OPT_NAMED_PIPE, &ignored);
  EXPECT_EQ(t.s->Protocol(), mpPipe);
  int32_t tcp = mpTCP;
  t.api.mysql_options(t.s, MYSQL_OPT_PROTOCOL, &tcp);
  EXPECT_EQ(t.s->Protocol(), mpTCP);
  t.api.mysql_options(t.s, MYSQL_SET_CHARSET_NAME, std::string("utf8"));
  EXPECT_EQ(t.s->CharsetName(), "utf8");
  t.api.mysql_ssl_set(t.s, "k", "c", "ca", "", "");
  EXPECT_EQ(t.s->Protocol(), mpSSL);
}

TEST(CallTable, ParseVersion) {
  int major, minor, release;
  TMySQLAPI::ParseVersion("5.0.95-log", major, minor, release);
  EXPECT_EQ((std::vector<int>{major, minor, release}), (std::vector<int>{5, 0, 95}));
  TMySQLAPI::ParseVersion("10.11.6-MariaDB-0+deb12u1", major, minor, release);
  EXPECT_EQ((std::vector<int>{major, minor, release}), (std::vector<int>{10, 11, 6}));
  TMySQLAPI::ParseVersion("8", major, minor, release);
  EXPECT_EQ((std::vector<int>{major, minor, release}), (std::vector<int>{8, 0, 0}));
}

TEST(CallTable, SlotsDirectModeDoesNotServe) {
  Session t;
  EXPECT_THROW(t.api.mysql_character_set_name(t.s), Exception);
  EXPECT_THROW(t.api.mysql_stmt_execute(nullptr), Exception);
  EXPECT_THROW(t.api.mysql_fetch_lengths(nullptr), EAssertionFailed);
  TMySqlStmt* stmt = t.api.mysql_stmt_init(t.s);
  EXPECT_THROW(t.api.StmtBindParams(stmt, {}), Exception);
  t.api.mysql_stmt_close(stmt);
}

TEST(CallTable, UnconnectedSessionReportsGoneAway) {
  Session t;
  EXPECT_EQ(t.api.mysql_ping(t.s), 2006);
  EXPECT_EQ(t.api.mysql_error(t.s), "MySQL server has gone away");
  EXPECT_EQ(t.api.mysql_real_query(t.s, "SELECT 1", 8), 2006);
  EXPECT_EQ(t.api.mysql_select_db(t.s, "x"), 2006);
}

TEST(CallTable, FieldDescriptionsCapLengthsAndAdjustOldConnections) {
  // A 4.1 server and a pre-4.1 one, each announcing a long VARCHAR.
  for (bool protocol41 : {true, false}) {
    ScriptedServer server([&](ScriptedConnection& c) {
      if (protocol41) {
        c.SendPacket(0, Greeting41());
      } else {
        Bytes greeting = Greeting41(kCaps41 & ~CLIENT_PROTOCOL_41);
        c.SendPacket(0, greeting);
      }
      c.ReadPacket();
      c.SendPacket(2, OkPacket());
      c.ReadPacket();
      c.SendPacket(1, Bytes{2});
      if (protocol41) {
        c.SendPacket(2, ColumnDefinition("long", MYSQL_TYPE_VAR_STRING, 70000));
        c.SendPacket(3, ColumnDefinition("v", MYSQL_TYPE_VAR_STRING, 100, 0, "tbl"));
      } else {
        for (uint8_t seq : {2, 3}) {
          Bytes def;
          PutLengthCodedText(def, "tbl");
          PutLengthCodedText(def, seq == 2 ? "long" : "v");
          def.push_back(3);
          PutLE(def, seq == 2 ? 70000 : 100, 3);
          def.push_back(1);
          def.push_back(MYSQL_TYPE_VAR_STRING);
          def.push_back(3);
          PutLE(def, NOT_NULL_FLAG, 2);
          def.push_back(0);
          c.SendPacket(seq, def);
        }
      }
      c.SendPacket(4, EofPacket());
      c.SendPacket(5, EofPacket());
      c.SetTimeoutMs(3000);
      c.WaitForClose();
    });
    Session t;
    ASSERT_NE(t.api.mysql_real_connect(t.s, "127.0.0.1", "u", "p", "", static_cast<uint32_t>(server.port()), "", 0),
              nullptr)
        << t.api.mysql_error(t.s);
    ASSERT_EQ(t.api.mysql_real_query(t.s, "SELECT", 6), 0) << t.api.mysql_error(t.s);
    TMySqlResultSet* result = t.api.mysql_use_result(t.s);
    ASSERT_NE(result, nullptr);
    TMYSQL_FIELD field;
    t.api.GetFieldDesc(result, 0, field, false);
    EXPECT_EQ(field.length, 65535u);
    EXPECT_EQ(field.name, "long");
    t.api.GetFieldDesc(result, 1, field, true);
    EXPECT_EQ(field.length, protocol41 ? 100u : 300u);
    EXPECT_EQ(field.org_name, "v");
    if (!protocol41) {
      EXPECT_EQ(field.flags, NOT_NULL_FLAG);
    }
    EXPECT_THROW(t.api.GetFieldDesc(result, 2, field, false), EAssertionFailed);
    EXPECT_EQ(t.api.mysql_fetch_row(result), nullptr);
    t.api.mysql_free_result(result);
  }
}

TEST(CallTable, ResultFreedAfterItsSessionWasClosed) {
  ScriptedServer server([](ScriptedConnection& c) {
    c.SendPacket(0, Greeting41());
    c.ReadPacket();
    c.SendPacket(2, OkPacket());
    c.ReadPacket();
    c.SendPacket(1, Bytes{1});
    c.SendPacket(2, ColumnDefinition("a", MYSQL_TYPE_LONG));
    c.SendPacket(3, EofPacket());
    c.SetTimeoutMs(3000);
    c.WaitForClose();
  });
  TMySQLAPIDirect& api = DirectApi();
  TMySqlSession* s = api.mysql_init(nullptr);
  ASSERT_NE(api.mysql_real_connect(s, "127.0.0.1", "u", "p", "", static_cast<uint32_t>(server.port()), "", 0), nullptr);
  ASSERT_EQ(api.mysql_real_query(s, "SELECT a", 8), 0);
  TMySqlResultSet* result = api.mysql_use_result(s);
  ASSERT_NE(result, nullptr);
  api.mysql_close(s);
  EXPECT_EQ(result->Session(), nullptr);
  EXPECT_EQ(api.mysql_fetch_row(result), nullptr);
  api.mysql_free_result(result);  // touches nothing freed (the sanitizers would tell)
}

}  // namespace
}  // namespace da::mysql
