// The connection component against the real server: defaults, connecting
// and disconnecting with their events and usage counts, the property
// rules on open and closed connections, options refused while open,
// connection loss with and without local failover, transactions.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ComponentTestSupport.h"
#include "common/DAErrors.h"
#include "components/MyAccess.h"
#include "driver/CRAccess.h"

namespace da {
namespace {

using componenttest::Exec;
using componenttest::KillSession;
using componenttest::MessageOf;
using componenttest::NewConnection;
using componenttest::Scalar;

TEST(ConnectionDefaults, ANewConnection) {
  TMyConnection cn;
  EXPECT_EQ(cn.Port(), 3306);
  EXPECT_EQ(cn.ConnectionTimeout(), 15);
  EXPECT_TRUE(cn.LoginPrompt());
  EXPECT_FALSE(cn.Connected());
  EXPECT_EQ(cn.UsageCount(), 0);
  EXPECT_EQ(cn.DriverConnection(), nullptr);
  EXPECT_EQ(cn.Server(), "");
  EXPECT_EQ(cn.Database(), "");
  EXPECT_FALSE(cn.Pooling());
  EXPECT_EQ(cn.PoolingOptions().MaxPoolSize, 100);
  const TMyConnectionOptions& o = cn.Options();
  EXPECT_FALSE(o.Compress());
  EXPECT_FALSE(o.UseUnicode());
  EXPECT_EQ(o.Charset(), "");
  EXPECT_EQ(o.Protocol(), mpDefault);
  EXPECT_FALSE(o.Embedded());
  EXPECT_TRUE(o.Direct());
  EXPECT_FALSE(o.CheckBackslashes());
  EXPECT_TRUE(o.KeepDesignConnected());
  EXPECT_EQ(o.NumericType(), ntFloat);
  EXPECT_FALSE(o.DisconnectedMode());
  EXPECT_FALSE(o.LocalFailover());
  EXPECT_EQ(o.DefaultSortType(), stCaseSensitive);
  EXPECT_EQ(cn.ClientVersionText(), "7.0.0 Direct");
}

TEST(ConnectionDefaults, NumericTypeReadsFromTheTwoFlags) {
  TMyConnection cn;
  cn.Options().SetNumericType(ntBCD);
  EXPECT_TRUE(cn.Options().EnableBCD());
  EXPECT_EQ(cn.Options().NumericType(), ntBCD);
  cn.Options().SetEnableFmtBCD(true);
  EXPECT_EQ(cn.Options().NumericType(), ntFmtBCD);
  cn.Options().SetNumericType(ntFloat);
  EXPECT_FALSE(cn.Options().EnableBCD());
  EXPECT_FALSE(cn.Options().EnableFmtBCD());
}

class ConnectionTest : public testsupport::ServerTest {
 protected:
  // Records the four events in order.
  void Watch(TMyConnection& cn) {
    cn.BeforeConnect = [this](TComponent*) { events.push_back("BeforeConnect"); };
    cn.AfterConnect = [this](TComponent*) { events.push_back("AfterConnect"); };
    cn.BeforeDisconnect = [this](TComponent*) { events.push_back("BeforeDisconnect"); };
    cn.AfterDisconnect = [this](TComponent*) { events.push_back("AfterDisconnect"); };
  }
  std::vector<std::string> events;
  using Events = std::vector<std::string>;
};

TEST_F(ConnectionTest, ConnectAndDisconnectRaiseTheirEventsOnceAndCountTheUse) {
  auto cn = NewConnection(server());
  Watch(*cn);
  cn->SetConnected(true);
  EXPECT_TRUE(cn->Connected());
  EXPECT_EQ(cn->UsageCount(), 1);
  EXPECT_EQ(events, (Events{"BeforeConnect", "AfterConnect"}));
  cn->SetConnected(true);  // already open: nothing
  EXPECT_EQ(events.size(), 2u);
  EXPECT_EQ(cn->UsageCount(), 1);
  EXPECT_EQ(Scalar(*cn, "SELECT DATABASE()"), server().database);
  cn->SetConnected(false);
  EXPECT_FALSE(cn->Connected());
  EXPECT_EQ(cn->UsageCount(), 0);
  EXPECT_EQ(events, (Events{"BeforeConnect", "AfterConnect", "BeforeDisconnect", "AfterDisconnect"}));
  cn->SetConnected(false);  // already closed: nothing
  EXPECT_EQ(events.size(), 4u);
  // The driver connection stays, closed, for the next connect.
  EXPECT_NE(cn->DriverConnection(), nullptr);
  cn->Connect();
  EXPECT_TRUE(cn->Connected());
}

TEST_F(ConnectionTest, ARefusedLoginLeavesTheConnectionClosedWithItsCountRestored) {
  auto cn = NewConnection(server());
  cn->SetPassword("wrong password");
  Watch(*cn);
  try {
    cn->SetConnected(true);
    ADD_FAILURE() << "connected with a wrong password";
  } catch (const EMyError& e) {
    EXPECT_EQ(e.ErrorCode(), 1045);
    EXPECT_NE(e.Message().find("Access denied for user '" + server().user + "'"), std::string::npos) << e.Message();
    EXPECT_EQ(e.Origin(), cn.get());
  }
  EXPECT_FALSE(cn->Connected());
  EXPECT_EQ(cn->UsageCount(), 0);
  EXPECT_EQ(events, (Events{"BeforeConnect"}));
  // The same component connects once the password is right.
  cn->SetPassword(server().password);
  cn->SetConnected(true);
  EXPECT_TRUE(cn->Connected());
}

TEST_F(ConnectionTest, AnUnreachableServerGivesTheClientError) {
  auto cn = NewConnection(server());
  cn->SetPort(1);  // nothing listens there
  try {
    cn->Connect();
    ADD_FAILURE();
  } catch (const EMyError& e) {
    EXPECT_EQ(e.ErrorCode(), 2003);
    EXPECT_TRUE(e.IsFatal());
  }
  EXPECT_FALSE(cn->Connected());
  EXPECT_EQ(cn->UsageCount(), 0);
}

TEST_F(ConnectionTest, ServerAndDatabaseOnAClosedConnectionAreOnlyStored) {
  auto cn = NewConnection(server());
  cn->SetDatabase("mysql");
  cn->SetServer("some.host.invalid");
  EXPECT_EQ(cn->DriverConnection(), nullptr);
  cn->SetServer(server().host);
  cn->Connect();
  EXPECT_EQ(Scalar(*cn, "SELECT DATABASE()"), "mysql");
}

TEST_F(ConnectionTest, ADatabaseChangeOnAnOpenConnectionSelectsItAtOnce) {
  auto cn = NewConnection(server());
  cn->Connect();
  TMyQuery q;
  q.SetConnection(cn.get());
  q.SetSQLText("SELECT 1 AS one");
  q.Open();
  Watch(*cn);
  cn->SetDatabase("mysql");
  EXPECT_TRUE(cn->Connected());
  EXPECT_TRUE(q.Active());
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(Scalar(*cn, "SELECT DATABASE()"), "mysql");
}

TEST_F(ConnectionTest, AServerChangeDisconnectsAndTheSameTextDoesNot) {
  auto cn = NewConnection(server());
  cn->Connect();
  Watch(*cn);
  cn->SetServer(server().host);
  EXPECT_TRUE(cn->Connected());
  EXPECT_TRUE(events.empty());

  TMyConnection local;
  local.SetServer("LocalHost");
  local.SetServer("localhost");  // differs in letter case: a change (stored)
  EXPECT_EQ(local.Server(), "localhost");

  TMyQuery q;
  q.SetConnection(cn.get());
  q.SetSQLText("SELECT 1 AS one");
  q.Open();
  cn->SetServer("127.0.0.1 ");  // another text: closes the session and the query
  EXPECT_FALSE(cn->Connected());
  EXPECT_FALSE(q.Active());
  EXPECT_EQ(events, (Events{"BeforeDisconnect", "AfterDisconnect"}));
}

TEST_F(ConnectionTest, RefusedOptionsWhileOpenNameTheConnection) {
  auto cn = NewConnection(server());
  cn->Connect();
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { cn->Options().SetCompress(true); }),
            "cn: Cannot perform this operation on an open connection");
  EXPECT_FALSE(cn->Options().Compress());
  EXPECT_TRUE(cn->Connected());
  struct Refused {
    const char* what;
    std::function<void()> change;
  };
  const Refused refused[] = {
      {"UseUnicode", [&] { cn->Options().SetUseUnicode(true); }},
      {"Charset", [&] { cn->Options().SetCharset("utf8"); }},
      {"Protocol", [&] { cn->Options().SetProtocol(mpTCP); }},
      {"Embedded", [&] { cn->Options().SetEmbedded(true); }},
      {"Direct", [&] { cn->Options().SetDirect(false); }},
      {"NullForZeroDelphiDate", [&] { cn->Options().SetNullForZeroDelphiDate(true); }},
      {"OptimizedBigInt", [&] { cn->Options().SetOptimizedBigInt(true); }},
  };
  for (const Refused& r : refused)
    EXPECT_THROW(r.change(), EDatabaseError) << r.what;
  // Allowed ones act at once.
  cn->Options().SetCheckBackslashes(true);
  cn->Options().SetDefaultSortType(stBinary);
  Variant v;
  cn->DriverConnection()->GetProp(propDefaultSortType, v);
  EXPECT_EQ(v.AsInt32(), static_cast<int>(stBinary));
  EXPECT_TRUE(cn->Connected());
  // Closed, the same change is taken and reaches the next session.
  cn->Disconnect();
  cn->Options().SetCompress(true);
  cn->Connect();
  EXPECT_TRUE(cn->Options().Compress());
  EXPECT_EQ(Scalar(*cn, "SELECT 40 + 2"), "42");
}

TEST_F(ConnectionTest, CompressedSessionsWork) {
  auto cn = NewConnection(server());
  cn->Options().SetCompress(true);
  cn->Connect();
  std::string expected;
  for (int i = 0; i < 100; ++i) expected += "ab";
  EXPECT_EQ(Scalar(*cn, "SELECT REPEAT('ab', 100)"), expected);
  EXPECT_EQ(Scalar(*cn, "SELECT LENGTH(REPEAT('ab', 100))"), "200");
}

TEST_F(ConnectionTest, DestroyingAnOpenConnectionRaisesItsEventsWhileItsSettingsLive) {
  const std::string longName = "datest_database_with_a_long_name";
  auto admin = NewConnection(server());
  Exec(*admin, "CREATE DATABASE IF NOT EXISTS " + longName);
  std::string seen;
  auto query = std::make_unique<TMyQuery>();
  {
    auto cn = NewConnection(server());
    cn->SetDatabase(longName);
    cn->Connect();
    query->SetConnection(cn.get());
    query->SetSQLText("SELECT 1");
    query->Open();
    TMyConnection* raw = cn.get();
    cn->BeforeDisconnect = [&seen, raw](TComponent*) { seen = raw->Database(); };
  }
  EXPECT_EQ(seen, longName);
  EXPECT_FALSE(query->Active());
  EXPECT_EQ(query->Connection(), nullptr);
  Exec(*admin, "DROP DATABASE " + longName);
}

TEST_F(ConnectionTest, PoolingIsRefusedClearly) {
  auto cn = NewConnection(server());
  cn->SetPooling(true);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { cn->Connect(); }), "cn: Connection pooling is not supported");
  EXPECT_FALSE(cn->Connected());
  EXPECT_EQ(cn->UsageCount(), 0);

  // Also once a driver connection exists from an earlier session.
  auto used = NewConnection(server());
  used->Connect();
  used->Disconnect();
  used->SetPooling(true);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { used->Connect(); }), "cn: Connection pooling is not supported");
  EXPECT_FALSE(used->Connected());
  used->SetPooling(false);
  used->Connect();
  EXPECT_TRUE(used->Connected());
}

TEST_F(ConnectionTest, ClosingTheConnectionClosesItsQueriesAndDestroyingItDetachesThem) {
  auto cn = NewConnection(server());
  TMyQuery a, b;
  a.SetConnection(cn.get());
  b.SetConnection(cn.get());
  a.SetSQLText("SELECT 1 AS x");
  b.SetSQLText("SELECT 2 AS y");
  a.Open();
  b.Open();
  EXPECT_TRUE(cn->Connected());
  cn->Disconnect();
  EXPECT_FALSE(a.Active());
  EXPECT_FALSE(b.Active());
  a.Open();
  cn.reset();
  EXPECT_FALSE(a.Active());
  EXPECT_EQ(a.Connection(), nullptr);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { a.Open(); }), "Connection is not defined");
}

TEST_F(ConnectionTest, UsageCountsFollowQueriesAndCommands) {
  auto cn = NewConnection(server());
  TMyQuery q;
  q.SetConnection(cn.get());
  q.SetSQLText("SELECT 1 AS x");
  q.Open();  // connects through the query's use, which ends with the read
  EXPECT_TRUE(cn->Connected());
  EXPECT_EQ(cn->UsageCount(), 0);
  q.Close();
  EXPECT_TRUE(cn->Connected());  // the connection stays open
  cn->Disconnect();
  cn->Connect();  // an explicit connect counts one use
  EXPECT_EQ(cn->UsageCount(), 1);
  q.Open();
  EXPECT_EQ(cn->UsageCount(), 1);
  TMyCommand cmd;
  cmd.SetConnection(cn.get());
  cmd.SetSQLText("DO 1");
  cmd.Execute();
  EXPECT_EQ(cn->UsageCount(), 1);
  cmd.SetSQLText("DO no_such_function_i11()");
  EXPECT_THROW(cmd.Execute(), EMyError);
  EXPECT_EQ(cn->UsageCount(), 1);
  // A failed statement gives its use back too.
  q.SetSQLText("SELECT * FROM no_such_table_i11");
  EXPECT_THROW(q.Open(), EMyError);
  EXPECT_EQ(cn->UsageCount(), 1);
  EXPECT_THROW(q.Execute(), EMyError);
  EXPECT_EQ(cn->UsageCount(), 1);
  q.SetSQLText("DO 1");
  EXPECT_THROW(q.Open(), EDatabaseError);  // no result set
  EXPECT_EQ(cn->UsageCount(), 1);
  q.Execute();
  EXPECT_EQ(cn->UsageCount(), 1);
}

TEST_F(ConnectionTest, DisconnectedModeClosesTheSessionWhenTheLastUseEnds) {
  auto cn = NewConnection(server());
  cn->Options().SetDisconnectedMode(true);
  TMyQuery q;
  q.SetConnection(cn.get());
  q.SetSQLText("SELECT 7 AS x");
  q.Open();
  // Every row is in memory, so the last use ended and the session with it;
  // the query stays open on its rows.
  EXPECT_FALSE(cn->Connected());
  EXPECT_TRUE(q.Active());
  EXPECT_EQ(q.FieldNamed("x").AsInteger(), 7);
  q.Close();
  q.Open();
  EXPECT_EQ(q.FieldNamed("x").AsInteger(), 7);
  EXPECT_FALSE(cn->Connected());
}

TEST_F(ConnectionTest, AKilledSessionIsReconnectedAndTheErrorStillReachesTheCaller) {
  auto cn = NewConnection(server());
  auto killer = NewConnection(server(), "killer");
  Watch(*cn);
  cn->Connect();
  killer->Connect();
  const uint64_t before = cn->ThreadId();
  ASSERT_NE(before, 0u);
  events.clear();
  KillSession(*killer, before);
  TMyQuery q;
  q.SetConnection(cn.get());
  q.SetSQLText("SELECT 1 AS x");
  try {
    q.Open();
    ADD_FAILURE() << "a statement on a killed session succeeded";
  } catch (const EMyError& e) {
    EXPECT_TRUE(e.IsFatal()) << e.ErrorCode() << " " << e.Message();
  }
  EXPECT_FALSE(q.Active());
  // One reconnect in the background: AfterConnect again, a new session.
  EXPECT_EQ(events, (Events{"AfterConnect"}));
  EXPECT_TRUE(cn->Connected());
  EXPECT_NE(cn->ThreadId(), before);
  q.Open();
  EXPECT_EQ(q.FieldNamed("x").AsInteger(), 1);
}

TEST_F(ConnectionTest, AFailedReconnectClosesTheConnectionAndTheFirstErrorReachesTheCaller) {
  auto admin = NewConnection(server(), "admin");
  Exec(*admin, "DROP USER IF EXISTS 'i11_gone'@'%'");
  Exec(*admin, "CREATE USER 'i11_gone'@'%' IDENTIFIED BY 'pw'");
  auto cn = NewConnection(server());
  cn->SetDatabase("");  // the account may use no database
  cn->SetUsername("i11_gone");
  cn->SetPassword("pw");
  Watch(*cn);
  cn->Connect();
  Exec(*admin, "DROP USER 'i11_gone'@'%'");  // the reconnect will be refused
  KillSession(*admin, cn->ThreadId());
  events.clear();
  TMyQuery q;
  q.SetConnection(cn.get());
  q.SetSQLText("SELECT 1 AS x");
  try {
    q.Open();
    ADD_FAILURE();
  } catch (const EMyError& e) {
    EXPECT_TRUE(e.IsFatal()) << e.ErrorCode();  // the lost session, not the refused login
  }
  EXPECT_FALSE(cn->Connected());
  EXPECT_FALSE(q.Active());
  EXPECT_EQ(cn->UsageCount(), 0);
  EXPECT_EQ(events, (Events{"BeforeDisconnect", "AfterDisconnect"}));
}

TEST_F(ConnectionTest, OnErrorSeesTheErrorAndMayTurnItIntoTheSilentAbort) {
  auto cn = NewConnection(server());
  int seen = 0;
  cn->OnError = [&](TComponent* sender, EDAError& e, bool& fail) {
    EXPECT_EQ(sender, cn.get());
    seen = e.ErrorCode();
    fail = false;
  };
  TMyQuery q;
  q.SetConnection(cn.get());
  q.SetSQLText("SELECT * FROM no_such_table_i11");
  EXPECT_THROW(q.Open(), EAbort);
  EXPECT_EQ(seen, 1146);
  EXPECT_TRUE(cn->Connected());
}

TEST_F(ConnectionTest, WithoutRetryPermissionTheKilledSessionClosesTheConnection) {
  auto cn = NewConnection(server());
  auto killer = NewConnection(server(), "killer");
  cn->Options().SetLocalFailover(true);
  std::vector<TConnLostCause> causes;
  cn->OnConnectionLost = [&](TComponent*, TComponent*, TConnLostCause cause, TRetryMode& mode) {
    causes.push_back(cause);
    mode = rmRaise;
  };
  cn->Connect();
  killer->Connect();
  KillSession(*killer, cn->ThreadId());
  TMyQuery q;
  q.SetConnection(cn.get());
  q.SetSQLText("SELECT 1 AS x");
  EXPECT_THROW(q.Open(), EMyError);
  EXPECT_EQ(causes, (std::vector<TConnLostCause>{clOpen}));
  EXPECT_FALSE(cn->Connected());
}

TEST_F(ConnectionTest, LocalFailoverRepeatsAnOpenAfterReconnecting) {
  auto cn = NewConnection(server());
  auto killer = NewConnection(server(), "killer");
  cn->Options().SetLocalFailover(true);
  std::vector<TConnLostCause> causes;
  cn->OnConnectionLost = [&](TComponent* sender, TComponent* component, TConnLostCause cause, TRetryMode& mode) {
    EXPECT_EQ(sender, cn.get());
    (void)component;
    causes.push_back(cause);
    EXPECT_EQ(mode, rmReconnectExecute);  // the default for an open
  };
  int connects = 0;
  cn->AfterConnect = [&](TComponent*) { ++connects; };
  cn->Connect();
  killer->Connect();
  const uint64_t before = cn->ThreadId();
  KillSession(*killer, before);
  TMyQuery q;
  q.SetConnection(cn.get());
  q.SetSQLText("SELECT 5 AS x");
  q.Open();  // the lost session is replaced and the open repeated
  EXPECT_TRUE(q.Active());
  EXPECT_EQ(q.FieldNamed("x").AsInteger(), 5);
  EXPECT_EQ(causes, (std::vector<TConnLostCause>{clOpen}));
  EXPECT_EQ(connects, 2);
  EXPECT_NE(cn->ThreadId(), before);
  EXPECT_EQ(cn->UsageCount(), 1);
}

TEST_F(ConnectionTest, TransactionsGroupStatements) {
  auto cn = NewConnection(server());
  cn->Connect();
  Exec(*cn, "CREATE TABLE IF NOT EXISTS i11_tx (id INT) ENGINE=InnoDB");
  Exec(*cn, "DELETE FROM i11_tx");
  cn->StartTransaction();
  EXPECT_TRUE(cn->InTransaction());
  Exec(*cn, "INSERT INTO i11_tx VALUES (1)");
  cn->Rollback();
  EXPECT_FALSE(cn->InTransaction());
  EXPECT_EQ(Scalar(*cn, "SELECT COUNT(*) FROM i11_tx"), "0");
  cn->StartTransaction();
  Exec(*cn, "INSERT INTO i11_tx VALUES (2)");
  cn->Commit();
  EXPECT_EQ(Scalar(*cn, "SELECT COUNT(*) FROM i11_tx"), "1");
  // Disconnecting with an open transaction rolls it back.
  cn->StartTransaction();
  Exec(*cn, "INSERT INTO i11_tx VALUES (3)");
  cn->Disconnect();
  EXPECT_FALSE(cn->InTransaction());
  EXPECT_EQ(Scalar(*cn, "SELECT COUNT(*) FROM i11_tx"), "1");
  Exec(*cn, "DROP TABLE i11_tx");
}

}  // namespace
}  // namespace da
