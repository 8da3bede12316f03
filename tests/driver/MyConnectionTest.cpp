// The MySQL driver connection against the real server: connect options,
// errors with their origin, the reconnect loop, transactions.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "DriverServerFixture.h"
#include "common/Component.h"
#include "mysql/MySqlSession.h"

using namespace da;

namespace drivertest {
namespace {

class MyConnection : public DriverServerTest {};

TEST_F(MyConnection, ConnectsAndReportsTheServerVersion) {
  auto c = Connected();
  EXPECT_TRUE(c->Connected());
  EXPECT_TRUE(c->OwnsHandle());
  EXPECT_TRUE(c->IsValid());
  ASSERT_NE(c->GetHandle(), nullptr);
  const std::string full = c->GetServerVersionFull();
  EXPECT_NE(full.find(Scalar(*c, "SELECT VERSION()")), std::string::npos) << full;
  // The three numbers are the start of the text the server sent.
  EXPECT_EQ(full.rfind(c->GetServerVersion() + "-", 0), 0u) << full << " / " << c->GetServerVersion();
  EXPECT_GE(c->ServerMajor(), 5);
  EXPECT_EQ(c->GetClientVersion(), "7.0.0 Direct");
  EXPECT_TRUE(c->CheckIsValid());
  c->Disconnect();
  EXPECT_FALSE(c->Connected());
  EXPECT_EQ(c->GetHandle(), nullptr);
  EXPECT_FALSE(c->CheckIsValid());
  EXPECT_FALSE(c->IsValid());
}

TEST_F(MyConnection, HostIsTheTextBeforeTheComma) {
  auto c = NewConnection();
  c->PutServer(server().host + ",shm");
  c->Connect();
  EXPECT_EQ(Scalar(*c, "SELECT 1"), "1");
  auto local = NewConnection();
  local->PutServer("");  // localhost
  local->Connect();
  EXPECT_EQ(Scalar(*local, "SELECT 1"), "1");
}

TEST_F(MyConnection, FailedConnectsRaiseTheServerErrorWithOrigin) {
  TComponent owner;
  owner.SetName("cn");
  struct Case {
    const char* what;
    std::string database, password;
    int32_t code;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"wrong database", "no_such_db_i9", server().password, 1049, "Unknown database 'no_such_db_i9'"},
      {"wrong password", server().database, "not-the-password", 1045, "Access denied for user"},
  };
  for (const Case& k : cases) {
    auto c = NewConnection();
    c->SetComponent(&owner);
    c->SetProp(propDatabase, k.database);
    c->PutPassword(k.password);
    try {
      c->Connect();
      ADD_FAILURE() << k.what;
    } catch (const EMyError& e) {
      EXPECT_EQ(e.ErrorCode(), k.code) << k.what;
      EXPECT_NE(e.Message().find(k.text), std::string::npos) << e.Message();
      EXPECT_EQ(e.Origin(), &owner);
    }
    EXPECT_FALSE(c->Connected()) << k.what;
    EXPECT_EQ(c->GetHandle(), nullptr) << k.what;
    // The object stays usable: right settings connect.
    c->SetProp(propDatabase, server().database);
    c->PutPassword(server().password);
    c->Connect();
    EXPECT_TRUE(c->Connected()) << k.what;
  }
}

TEST_F(MyConnection, CompressedProtocolOnRequest) {
  for (bool compress : {false, true}) {
    auto c = NewConnection();
    c->SetProp(propCompress, compress);
    c->Connect();
    Rows rows = Query(*c, "SHOW SESSION STATUS LIKE 'Compression'");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][1], compress ? "ON" : "OFF");
    EXPECT_EQ((c->GetHandle()->ClientFlags() & mysql::CLIENT_COMPRESS) != 0, compress);
    // Large enough to be sent compressed.
    EXPECT_EQ(Scalar(*c, "SELECT LENGTH(REPEAT('x', 100000))"), "100000");
  }
}

TEST_F(MyConnection, FoundRowsAndMultipleStatements) {
  auto c = Connected();
  Exec(*c, "CREATE TEMPORARY TABLE fr (id INT, v INT); INSERT INTO fr VALUES (1, 5), (2, 5)");
  TMySQLCommand update;
  update.SetConnection(c.get());
  update.SetSQL("UPDATE fr SET v = 5");
  update.Execute();
  Variant rows;
  update.GetProp(propRowsAffected, rows);
  EXPECT_EQ(rows, Variant(int64_t{2}));  // matched, not changed
}

TEST_F(MyConnection, CharacterSetOfTheSession) {
  {
    auto c = NewConnection();
    c->SetProp(propCharset, "latin1");
    c->Connect();
    EXPECT_EQ(Scalar(*c, "SELECT @@character_set_client"), "latin1");
    c->SetProp(propCharset, "gbk");  // on an open session: SET NAMES again
    EXPECT_EQ(Scalar(*c, "SELECT @@character_set_client"), "gbk");
  }
  {
    auto c = NewConnection();
    c->SetProp(propUseUnicode, true);
    c->Connect();
    EXPECT_EQ(Scalar(*c, "SELECT @@character_set_client").rfind("utf8", 0), 0u);
    // Texts travel as UTF-8 and come back in the code page.
    EXPECT_EQ(Scalar(*c, "SELECT HEX('\xe7\xe3')"), "C3A7C3A3");
    // The server's message comes back in the code page.
    try {
      Exec(*c, "SELECT * FROM no_such_\xe7");
      ADD_FAILURE();
    } catch (const EMyError& e) {
      EXPECT_EQ(e.ErrorCode(), 1146);
      EXPECT_NE(e.Message().find("no_such_\xe7'"), std::string::npos) << e.Message();
    }
  }
  {
    auto c = NewConnection();
    c->SetProp(propCharset, "UTF8");
    c->Connect();
    EXPECT_EQ(Scalar(*c, "SELECT @@character_set_client").rfind("utf8", 0), 0u);
  }
  {
    auto c = NewConnection();
    c->SetProp(propCharset, "latin1; DROP TABLE x");
    EXPECT_THROW(c->Connect(), EDatabaseError);
    EXPECT_FALSE(c->Connected());
    c->SetProp(propCharset, "no_such_charset");
    try {
      c->Connect();
      ADD_FAILURE();
    } catch (const EMyError& e) {
      EXPECT_EQ(e.ErrorCode(), 1115);
    }
    EXPECT_FALSE(c->Connected());
  }
}

TEST_F(MyConnection, BackslashModeAskedOfTheServer) {
  auto c = Connected();
  Variant v;
  c->GetProp(propBackslashEscapes, v);
  EXPECT_EQ(v, Variant(true));
  Exec(*c, "SET SESSION sql_mode = 'ansi_quotes,no_backslash_escapes'");
  EXPECT_TRUE(c->BackslashEscapes());  // not asked yet
  c->SetProp(propCheckBackslashes, true);
  c->GetProp(propBackslashEscapes, v);
  EXPECT_EQ(v, Variant(false));
  Exec(*c, "SET SESSION sql_mode = 'STRICT_ALL_TABLES'");
  c->SetProp(propCheckBackslashes, false);
  EXPECT_TRUE(c->BackslashEscapes());
  c->SetProp(propCheckBackslashes, true);
  EXPECT_TRUE(c->BackslashEscapes());
}

TEST_F(MyConnection, ChangingTheDatabase) {
  auto c = Connected();
  c->SetProp(propDatabase, server().database);  // the same name: nothing sent
  EXPECT_EQ(Scalar(*c, "SELECT DATABASE()"), server().database);
  c->SetProp(propDatabase, "mysql");
  EXPECT_EQ(Scalar(*c, "SELECT DATABASE()"), "mysql");
  try {
    c->SetProp(propDatabase, "no_such_db_i9");
    ADD_FAILURE();
  } catch (const EMyError& e) {
    EXPECT_EQ(e.ErrorCode(), 1049);
  }
  EXPECT_TRUE(c->Connected());
  EXPECT_EQ(Scalar(*c, "SELECT DATABASE()"), "mysql");
}

TEST_F(MyConnection, AssignedSessionsAreNotClosedByTheBorrower) {
  auto owner = Connected();
  Exec(*owner, "SET SESSION sql_mode = 'no_backslash_escapes'");
  owner->SetProp(propCheckBackslashes, true);
  TMySQLConnection borrower;
  borrower.AssignConnect(owner.get());
  EXPECT_TRUE(borrower.Connected());
  EXPECT_FALSE(borrower.OwnsHandle());
  EXPECT_EQ(borrower.GetHandle(), owner->GetHandle());
  EXPECT_FALSE(borrower.BackslashEscapes());
  EXPECT_EQ(Scalar(borrower, "SELECT CONNECTION_ID()"), Scalar(*owner, "SELECT CONNECTION_ID()"));
  borrower.Disconnect();
  EXPECT_FALSE(borrower.Connected());
  EXPECT_TRUE(owner->CheckIsValid());
  EXPECT_EQ(Scalar(*owner, "SELECT 2"), "2");
}

// Kills the session of `victim` from another connection and waits until
// the server has let it go.
void Kill(TMySQLConnection& killer, TMySQLConnection& victim) {
  const std::string id = std::to_string(victim.API().mysql_thread_id(victim.GetHandle()));
  DriverServerTest::Exec(killer, "KILL " + id);
  for (int i = 0; i < 100; ++i) {
    if (DriverServerTest::Scalar(killer, "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " + id) ==
        "0")
      return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ADD_FAILURE() << "session " << id << " still there after KILL";
}

class MyReconnect : public DriverServerTest {
 protected:
  std::vector<std::string> log;
  // The component's part, as a test sees it: log, and ask for one reconnect.
  void Install(TMySQLConnection& c, bool reexecute = false) {
    c.OnError = [this, reexecute](EDAError& e, bool& fail, bool& reconnect, bool& again, int attempt,
                                  TConnLostCause& cause) {
      (void)fail;
      log.push_back("error " + std::to_string(e.ErrorCode() != 0) + " attempt " + std::to_string(attempt));
      reconnect = attempt == 0;
      again = reexecute;
      cause = clExecute;
    };
    c.OnReconnected = [this] { log.push_back("reconnected"); };
    c.OnReconnectFailed = [this, &c] { log.push_back("failed, connected " + std::to_string(c.Connected())); };
  }
};

TEST_F(MyReconnect, AKilledSessionIsReconnected) {
  auto c = Connected();
  auto killer = Connected();
  Install(*c);
  const std::string before = Scalar(*c, "SELECT CONNECTION_ID()");
  Kill(*killer, *c);
  EXPECT_FALSE(c->CheckIsValid());
  EXPECT_FALSE(c->IsValid());
  EXPECT_THROW(Scalar(*c, "SELECT 1"), EMyError);  // the first error reaches the caller
  EXPECT_EQ(log, (std::vector<std::string>{"error 1 attempt 0", "reconnected"}));
  EXPECT_TRUE(c->Connected());
  EXPECT_NE(Scalar(*c, "SELECT CONNECTION_ID()"), before);
}

TEST_F(MyReconnect, RepeatingTheOperationRaisesFailOver) {
  auto c = Connected();
  auto killer = Connected();
  Install(*c, true);
  Kill(*killer, *c);
  try {
    Scalar(*c, "SELECT 1");
    ADD_FAILURE();
  } catch (const EFailOver& e) {
    EXPECT_EQ(e.ConnLostCause(), clExecute);
  }
  EXPECT_EQ(Scalar(*c, "SELECT 3"), "3");
}

TEST_F(MyReconnect, AFailedReconnectIsReported) {
  auto c = Connected();
  auto killer = Connected();
  Install(*c);
  c->PutPassword("no longer valid");
  Kill(*killer, *c);
  EXPECT_THROW(Scalar(*c, "SELECT 1"), EMyError);
  EXPECT_EQ(log, (std::vector<std::string>{"error 1 attempt 0", "error 1 attempt 1", "failed, connected 1"}));
  EXPECT_FALSE(c->Connected());
  EXPECT_EQ(c->GetHandle(), nullptr);
}

TEST_F(MyReconnect, AHandlerThatClearsFailGivesTheSilentAbort) {
  auto c = Connected();
  TComponent owner;
  c->SetComponent(&owner);
  TComponent* origin = nullptr;
  c->OnError = [&](EDAError& e, bool& fail, bool&, bool&, int, TConnLostCause&) {
    origin = e.Origin();
    fail = false;
  };
  TMySQLCommand command;  // errors of a command carry the command's component
  TComponent query;
  command.SetConnection(c.get());
  command.SetComponent(&query);
  command.SetSQL("SELECT * FROM no_such_table_i9");
  EXPECT_THROW(command.Execute(), EAbort);
  EXPECT_EQ(origin, &query);
  c->OnError = nullptr;
  try {
    c->RunStatement("SELECT * FROM no_such_table_i9");
    ADD_FAILURE();
  } catch (const EMyError& e) {
    EXPECT_EQ(e.ErrorCode(), 1146);
    EXPECT_EQ(e.Origin(), &owner);
  }
}

class MyTransaction : public DriverServerTest {};

TEST_F(MyTransaction, CommitRollbackAndSavepoints) {
  auto c = Connected();
  auto other = Connected();
  Exec(*c, "CREATE TABLE IF NOT EXISTS i9_tx (id INT) ENGINE=InnoDB");
  Exec(*c, "DELETE FROM i9_tx");
  TCRTransaction& t = *c->GetInternalTransaction();

  t.StartTransaction();
  EXPECT_TRUE(t.GetInTransaction());
  Exec(*c, "INSERT INTO i9_tx VALUES (1)");
  EXPECT_EQ(Scalar(*other, "SELECT COUNT(*) FROM i9_tx"), "0");  // not committed yet
  t.Rollback();
  EXPECT_FALSE(t.GetInTransaction());
  EXPECT_EQ(Scalar(*c, "SELECT COUNT(*) FROM i9_tx"), "0");

  t.SetProp(propIsolationLevel, ilSerializable);
  t.StartTransaction();
  try {
    t.StartTransaction();
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Can't perform operation on active transaction");
  }
  Exec(*c, "INSERT INTO i9_tx VALUES (1)");
  t.Savepoint("s1");
  Exec(*c, "INSERT INTO i9_tx VALUES (2)");
  t.RollbackToSavepoint("s1");
  t.ReleaseSavepoint("s1");
  t.Commit();
  EXPECT_FALSE(t.GetInTransaction());
  EXPECT_EQ(Scalar(*other, "SELECT GROUP_CONCAT(id) FROM i9_tx"), "1");
  EXPECT_THROW(t.Commit(), EDatabaseError);
  Exec(*c, "DROP TABLE i9_tx");
}

}  // namespace
}  // namespace drivertest
