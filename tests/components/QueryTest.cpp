// The query component against the real server, through TMyConnection and
// TMyQuery only: the numbered promises the application relies on, then the
// edge cases around them (events, parameters across text changes, bad
// input that must neither crash nor hang).

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ComponentTestSupport.h"
#include "common/DAErrors.h"
#include "common/DateTime.h"
#include "common/RegionalSettings.h"
#include "components/MyAccess.h"
#include "driver/CRAccess.h"

namespace da {
namespace {

using componenttest::Exec;
using componenttest::KillSession;
using componenttest::MessageOf;
using componenttest::NewConnection;
using componenttest::Scalar;

class QueryTest : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    testsupport::ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    cn = NewConnection(server());
    q = std::make_unique<TMyQuery>();
    q->SetName("q");
    q->SetConnection(cn.get());
  }
  void TearDown() override {
    q.reset();
    cn.reset();
  }
  // A fresh table `name` with (id INT AUTO_INCREMENT, s VARCHAR(255), n INT, d DATETIME).
  void MakeTable(const std::string& name) {
    Exec(*cn, "DROP TABLE IF EXISTS " + name);
    Exec(*cn, "CREATE TABLE " + name +
                  " (id INT AUTO_INCREMENT PRIMARY KEY, s VARCHAR(255), n INT, d DATETIME) ENGINE=InnoDB");
  }
  std::unique_ptr<TMyConnection> cn;
  std::unique_ptr<TMyQuery> q;
};

// 1. Connected := true opens with the current settings; failures leave it closed.
TEST_F(QueryTest, Contract1_ConnectedOpensAndFailuresLeaveItClosed) {
  cn->SetConnected(true);
  EXPECT_EQ(Scalar(*cn, "SELECT CURRENT_USER() LIKE '" + server().user + "@%'"), "1");
  cn->SetConnected(false);
  cn->SetUsername("no_such_user_i11");
  try {
    cn->SetConnected(true);
    ADD_FAILURE();
  } catch (const EMyError& e) {
    EXPECT_EQ(e.ErrorCode(), 1045);
    EXPECT_FALSE(e.Message().empty());
  }
  EXPECT_FALSE(cn->Connected());
}

// 2. Server and Database on a closed connection only store the value.
TEST_F(QueryTest, Contract2_SettingsOnAClosedConnectionWaitForTheOpen) {
  cn->SetDatabase("information_schema");
  EXPECT_FALSE(cn->Connected());
  q->SetSQLText("SELECT DATABASE() AS db");
  q->Open();
  EXPECT_EQ(q->FieldNamed("db").AsString(), "information_schema");
}

// 3. Open and Execute connect a closed connection, which stays open.
TEST_F(QueryTest, Contract3_OpenAndExecuteConnectAndLeaveTheConnectionOpen) {
  q->SetSQLText("SELECT 1 AS one");
  q->Open();
  q->Close();
  EXPECT_TRUE(cn->Connected());
  cn->Disconnect();
  q->SetSQLText("DO 1");
  q->Execute();
  EXPECT_TRUE(cn->Connected());
  EXPECT_FALSE(q->Active());
}

// 4. Open reads every row and makes the first current; Eof, Next, HasNoRows.
TEST_F(QueryTest, Contract4_OpenWalkAndEof) {
  q->SetSQLText("SELECT 1 AS n UNION ALL SELECT 2 UNION ALL SELECT 3");
  q->Open();
  EXPECT_FALSE(q->Eof());
  EXPECT_FALSE(q->HasNoRows());
  EXPECT_EQ(q->RecordCount(), 3);
  std::vector<int> seen;
  while (!q->Eof()) {
    seen.push_back(q->FieldNamed("n").AsInteger());
    q->Next();
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(q->FieldNamed("n").AsInteger(), 3);  // the last row stays current

  q->SetSQLText("SELECT 1 AS n FROM DUAL WHERE 1 = 0");
  q->Open();
  EXPECT_TRUE(q->Eof());
  EXPECT_TRUE(q->HasNoRows());

  q->SetSQLText("DO 1");
  const std::string text = "Query must return exactly result set - use Execute";
  const std::string message = MessageOf<EDatabaseError>([&] { q->Open(); });
  EXPECT_EQ(message.substr(message.size() - std::min(message.size(), text.size())), text) << message;
  EXPECT_FALSE(q->Active());
}

// 5. Execute applies a statement at once (auto-commit).
TEST_F(QueryTest, Contract5_ExecuteIsCommittedAtOnce) {
  MakeTable("i11_c5");
  q->SetSQLText("INSERT INTO i11_c5 (s) VALUES ('a')");
  q->Execute();
  auto other = NewConnection(server(), "other");
  EXPECT_EQ(Scalar(*other, "SELECT COUNT(*) FROM i11_c5"), "1");
}

// 6. Unset parameters are NULL; values stay until set again; literal forms.
TEST_F(QueryTest, Contract6_ParameterValuesAndTheirLiterals) {
  MakeTable("i11_c6");
  q->SetSQLText("INSERT INTO i11_c6 (s, n, d) VALUES (:s, :n, :d)");
  q->Execute();  // nothing set: all NULL
  q->ParamNamed("S").SetValue(Variant("it's \\ \"quoted\"\r\n\x1a"));
  q->ParamNamed("n").SetValue(Variant(int32_t{-42}));
  q->ParamNamed("d").SetValue(Variant::FromDateTime(EncodeDate(2024, 2, 29) + EncodeTime(23, 59, 58, 0)));
  q->Execute();
  q->ParamNamed("n").SetValue(Variant(int32_t{7}));  // s and d keep their values
  q->Execute();

  TMyQuery r;
  r.SetConnection(cn.get());
  r.SetSQLText("SELECT s, n, DATE_FORMAT(d, '%Y-%m-%d %H:%i:%s') AS d FROM i11_c6 ORDER BY id");
  r.Open();
  EXPECT_TRUE(r.FieldNamed("s").IsNull());
  EXPECT_TRUE(r.FieldNamed("n").IsNull());
  EXPECT_TRUE(r.FieldNamed("d").IsNull());
  r.Next();
  EXPECT_EQ(r.FieldNamed("s").AsString(), "it's \\ \"quoted\"\r\n\x1a");
  EXPECT_EQ(r.FieldNamed("n").AsInteger(), -42);
  EXPECT_EQ(r.FieldNamed("d").AsString(), "2024-02-29 23:59:58");
  r.Next();
  EXPECT_EQ(r.FieldNamed("s").AsString(), "it's \\ \"quoted\"\r\n\x1a");
  EXPECT_EQ(r.FieldNamed("n").AsInteger(), 7);
  EXPECT_EQ(r.FieldNamed("d").AsString(), "2024-02-29 23:59:58");
  r.Next();
  EXPECT_TRUE(r.Eof());
}

// 7. On an empty result every field reads as null.
TEST_F(QueryTest, Contract7_FieldsOfAnEmptyResultReadAsNull) {
  MakeTable("i11_c7");
  q->SetSQLText("SELECT s, n, d FROM i11_c7");
  q->Open();
  ASSERT_TRUE(q->HasNoRows());
  EXPECT_EQ(q->FieldNamed("s").AsString(), "");
  EXPECT_EQ(q->FieldNamed("n").AsInteger(), 0);
  EXPECT_EQ(q->FieldNamed("d").AsDateTime(), 0.0);
  EXPECT_TRUE(q->FieldNamed("s").Value().IsNull());
  EXPECT_TRUE(q->FieldNamed("n").AsVariant().IsNull());
  // A null string field read as a number fails clearly.
  EXPECT_EQ(MessageOf<EConvertError>([&] { q->FieldNamed("s").AsInteger(); }), "'' is not a valid integer value");
}

// 8. Server errors come out of Open/Execute with the server's text; the
// query is closed afterwards.
TEST_F(QueryTest, Contract8_ServerErrorsReachTheCallerAndCloseTheQuery) {
  MakeTable("i11_c8");
  q->SetSQLText("SELECT 1 AS x");
  q->Open();
  q->SetSQLText("SELECT * FROM no_such_table_i11");
  try {
    q->Open();
    ADD_FAILURE();
  } catch (const EMyError& e) {
    EXPECT_EQ(e.ErrorCode(), 1146);
    EXPECT_NE(e.Message().find("no_such_table_i11"), std::string::npos) << e.Message();
  }
  EXPECT_FALSE(q->Active());
  q->SetSQLText("INSERT INTO i11_c8 (no_such_column) VALUES (1)");
  try {
    q->Execute();
    ADD_FAILURE();
  } catch (const EMyError& e) {
    EXPECT_EQ(e.ErrorCode(), 1054);
  }
  // A declared field the result does not have.
  q->SetSQLText("SELECT n FROM i11_c8");
  q->AddField("servidor", ftString, 255);
  EXPECT_THROW(q->Open(), EDatabaseError);
  EXPECT_FALSE(q->Active());
}

// 9. Unknown parameter and field names.
TEST_F(QueryTest, Contract9_UnknownNames) {
  q->SetSQLText("SELECT :a AS x");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { q->ParamNamed("b"); }), "Parameter 'b' not found");
  q->Open();
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { q->FieldNamed("y"); }), "q: Field 'y' not found");
  EXPECT_TRUE(q->FieldNamed("X").IsNull());  // found in another letter case
}

TEST_F(QueryTest, ExecuteReportsAffectedRowsAndInsertIdAndASelectStaysOpen) {
  MakeTable("i11_ins");
  EXPECT_EQ(q->AffectedRows(), -1);
  q->SetSQLText("INSERT INTO i11_ins (s) VALUES (:s)");
  q->ParamNamed("s").SetAsString("x");
  q->Execute();
  EXPECT_FALSE(q->Active());
  EXPECT_EQ(q->AffectedRows(), 1);
  const int64_t first = q->InsertId();
  EXPECT_GT(first, 0);
  q->Execute();
  EXPECT_EQ(q->InsertId(), first + 1);
  q->SetSQLText("UPDATE i11_ins SET n = 1");
  q->Execute();
  EXPECT_EQ(q->AffectedRows(), 2);
  q->SetSQLText("SELECT id FROM i11_ins ORDER BY id");
  q->Execute();
  EXPECT_TRUE(q->Active());
  EXPECT_EQ(q->FieldNamed("id").AsInteger(), first);
  EXPECT_EQ(q->AffectedRows(), -1);
}

TEST_F(QueryTest, EventsInOrder) {
  std::vector<std::string> log;
  q->BeforeExecute = [&](TComponent* s) {
    EXPECT_EQ(s, q.get());
    log.push_back("BeforeExecute");
  };
  q->AfterExecute = [&](TComponent*, bool result) { log.push_back(result ? "AfterExecute ok" : "AfterExecute failed"); };
  cn->AfterConnect = [&](TComponent*) { log.push_back("AfterConnect"); };
  q->SetSQLText("DO 1");
  q->Execute();
  q->SetSQLText("DO no_such_function_i11()");
  EXPECT_THROW(q->Execute(), EMyError);
  q->SetSQLText("SELECT 1 AS x");
  q->Open();
  EXPECT_EQ(log, (std::vector<std::string>{"AfterConnect", "BeforeExecute", "AfterExecute ok", "BeforeExecute",
                                           "AfterExecute failed", "BeforeExecute", "AfterExecute ok"}));
}

TEST_F(QueryTest, ParametersSurviveTextChangesByName) {
  q->SetSQLText("SELECT :server AS a, :database AS b");
  q->ParamNamed("server").SetAsString("srv");
  q->ParamNamed("database").SetAsInteger(5);
  q->Open();
  EXPECT_EQ(q->FieldNamed("a").AsString(), "srv");
  // A text change closes the query; a surviving name keeps value and type.
  q->SetSQLText("SELECT :database AS b, :other AS c");
  EXPECT_FALSE(q->Active());
  ASSERT_EQ(q->Params().Count(), 2);
  EXPECT_EQ(q->Params()[0].Name(), "database");
  EXPECT_EQ(q->Params()[0].DataType(), ftInteger);
  EXPECT_EQ(q->Params()[0].AsInteger(), 5);
  EXPECT_TRUE(q->Params()[1].IsNull());
  q->Open();
  EXPECT_EQ(q->FieldNamed("b").AsInteger(), 5);
  EXPECT_TRUE(q->FieldNamed("c").IsNull());
}

TEST_F(QueryTest, AMarkerUsedTwiceFillsOnlyTheFirst) {
  q->SetSQLText("SELECT :a AS first, :a AS second");
  q->ParamNamed("a").SetAsInteger(9);
  q->Open();
  EXPECT_EQ(q->FieldNamed("first").AsInteger(), 9);
  EXPECT_TRUE(q->FieldNamed("second").IsNull());
}

TEST_F(QueryTest, MisuseErrors) {
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { q->Open(); }), "q: No SQL statement provided");
  q->SetSQLText("SELECT 1 AS x");
  q->SQL().Clear();
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { q->Open(); }), "q: No SQL statement provided");
  EXPECT_EQ(cn->UsageCount(), 0);  // the failed opens gave their uses back
  TMyQuery lone;
  lone.SetSQLText("SELECT 1");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { lone.Open(); }), "Connection is not defined");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { lone.Execute(); }), "Connection is not defined");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { q->SetFetchRows(0); }), "FetchRows must be 1..65535");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { q->SetFetchRows(65536); }), "FetchRows must be 1..65535");
  q->SetSQLText("SELECT 1 AS x");
  q->Open();
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { q->SetFetchRows(10); }),
            "q: Cannot perform this operation on an open dataset");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { q->SetUniDirectional(true); }),
            "q: Cannot perform this operation on an open dataset");
  EXPECT_EQ(q->FetchRows(), 25);
}

TEST_F(QueryTest, ExecuteOnADroppedConnectionFailsAndTheQueryStaysUsable) {
  auto killer = NewConnection(server(), "killer");
  cn->Connect();
  KillSession(*killer, cn->ThreadId());
  q->SetSQLText("DO 1");
  EXPECT_THROW(q->Execute(), EMyError);
  EXPECT_FALSE(q->Active());
  q->Execute();  // reconnected in the background
  EXPECT_TRUE(cn->Connected());
  // With the reconnect refused as well, the connection ends closed.
  cn->Options().SetLocalFailover(true);
  cn->OnConnectionLost = [](TComponent*, TComponent*, TConnLostCause, TRetryMode& m) { m = rmRaise; };
  KillSession(*killer, cn->ThreadId());
  EXPECT_THROW(q->Execute(), EMyError);
  EXPECT_FALSE(cn->Connected());
  EXPECT_EQ(cn->UsageCount(), 0);
  q->Execute();  // connects again
  EXPECT_TRUE(cn->Connected());
}

TEST_F(QueryTest, FetchOnDemandKeepsTheUseUntilTheLastRow) {
  q->SetFetchAll(false);
  q->SetFetchRows(2);
  q->SetSQLText("SELECT seq FROM seq_1_to_5");
  int before = 0, after = 0;
  q->BeforeFetch = [&](TCustomDADataSet& ds, bool& cancel) {
    EXPECT_EQ(&ds, q.get());
    EXPECT_FALSE(cancel);
    ++before;
  };
  q->AfterFetch = [&](TCustomDADataSet& ds) {
    EXPECT_EQ(&ds, q.get());
    ++after;
  };
  cn->Connect();
  q->Open();
  EXPECT_EQ(cn->UsageCount(), 2);  // the connect's use and the unfinished read
  int n = 0;
  while (!q->Eof()) {
    ++n;
    q->Next();
  }
  EXPECT_EQ(n, 5);
  EXPECT_EQ(cn->UsageCount(), 1);
  EXPECT_GE(before, 3);  // blocks of two rows
  EXPECT_GE(after, 3);
  q->Open();
  q->Close();  // closing early gives the use back too
  EXPECT_EQ(cn->UsageCount(), 1);
}

}  // namespace
}  // namespace da
