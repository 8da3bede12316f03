// The driver objects without a server: statement text with markers and
// values, numbered properties, misuse errors.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/Exception.h"
#include "driver/MyClasses.h"

using namespace da;

namespace {

std::string StatementWith(TMySQLCommand& command, const std::vector<Variant>& values) {
  for (size_t i = 0; i < values.size() && i < command.Params().Count(); ++i) {
    command.Params()[i].SetDataType(dtString);
    command.Params()[i].SetValue(values[i]);
  }
  return command.BuildStatementText();
}

TEST(DriverCommand, MarkerBecomesOneLiteral) {
  TMySQLCommand command;
  command.SetSQL("SELECT bd, host FROM ligacoes\r\nWHERE serial = :serial");
  EXPECT_EQ(command.FinalSQL(), "SELECT bd, host FROM ligacoes\r\nWHERE serial = ?");
  ASSERT_EQ(command.Params().Count(), 1u);
  EXPECT_EQ(command.Params()[0].Name(), "serial");
  EXPECT_EQ(StatementWith(command, {Variant("12'34")}), "SELECT bd, host FROM ligacoes\r\nWHERE serial = '12\\'34'");

  TMySQLConnection closed;  // lends only its settings while not connected
  command.SetConnection(&closed);
  EXPECT_EQ(command.BuildStatementText(), "SELECT bd, host FROM ligacoes\r\nWHERE serial = '12\\'34'");
}

TEST(DriverCommand, PositionsAndPiecesGiveTheSameText) {
  const std::string sql =
      "SELECT '?', `a?`, :a /* ? :x */, \"?\" -- ?\n, :b # :y ?\n FROM t WHERE c=:a AND d = ':z'";
  const std::string expected =
      "SELECT '?', `a?`, 1 /* ? :x */, \"?\" -- ?\n, 'two' # :y ?\n FROM t WHERE c=NULL AND d = ':z'";
  // The component records the positions during the scan (property 1028).
  TMySQLCommand recorded;
  recorded.SetProp(propFillParamPosition, true);
  recorded.SetSQL(sql);
  ASSERT_EQ(recorded.ParamPositions().size(), 3u);
  // Without it the positions are dropped and the text is cut into pieces.
  TMySQLCommand pieces;
  pieces.SetSQL(sql);
  EXPECT_TRUE(pieces.ParamPositions().empty());

  for (TMySQLCommand* c : {&recorded, &pieces}) {
    ASSERT_EQ(c->Params().Count(), 3u);
    EXPECT_EQ(c->Params()[0].Name(), "a");
    EXPECT_EQ(c->Params()[1].Name(), "b");
    c->Params()[0].SetDataType(dtInt32);
    c->Params()[0].SetValue(int32_t{1});
    c->Params()[1].SetDataType(dtString);
    c->Params()[1].SetValue("two");
    EXPECT_EQ(c->BuildStatementText(), expected);
  }
}

TEST(DriverCommand, StalePositionsAreNotTrusted) {
  TMySQLCommand command;
  command.SetSQL("SELECT :a, :b");
  command.SetProp(propFillParamPosition, true);
  command.SetProp(propAddParamPosition, 3);  // not a "?"
  command.SetProp(propAddParamPosition, 11);
  command.Params()[0].SetValue(int32_t{5});
  command.Params()[1].SetValue(int32_t{6});
  command.Params()[0].SetDataType(dtInt32);
  command.Params()[1].SetDataType(dtInt32);
  EXPECT_EQ(command.BuildStatementText(), "SELECT 5, 6");
}

TEST(DriverCommand, EveryMarkerGetsAValueOrTheTextIsRefused) {
  TMySQLCommand command;
  command.SetProp(propDisableParamScan, true);
  command.SetSQL("SELECT ?, ?");
  EXPECT_EQ(command.FinalSQL(), "SELECT ?, ?");
  command.AddParam()->SetValue(int32_t{1});
  EXPECT_THROW(command.BuildStatementText(), EDatabaseError);
  // A result parameter takes no marker.
  TMySQLCommand call;
  call.SetProp(propDisableParamScan, true);
  call.SetSQL("SELECT ?");
  TParamDesc* result = call.AddParam();
  result->SetParamType(ptResult);
  result->SetValue(int32_t{9});
  TParamDesc* input = call.AddParam();
  input->SetDataType(dtInt32);
  input->SetValue(int32_t{4});
  EXPECT_EQ(call.BuildStatementText(), "SELECT 4");
}

TEST(DriverCommand, AValueWithoutLiteralFormStopsTheText) {
  TMySQLCommand command;
  command.SetSQL("DELETE FROM t WHERE id = :id");
  command.Params()[0].SetDataType(dtInt32);
  command.Params()[0].SetValue("1 OR 1=1");
  EXPECT_THROW(command.BuildStatementText(), ELiteralError);
}

TEST(DriverCommand, TheScanCanFillAListOfTheCaller) {
  TMySQLCommand command;
  command.SetSQL("SELECT :own");
  TParamDescs list;
  EXPECT_EQ(command.ParseSQL("SELECT :a, `x:y`, :`b c`", &list), "SELECT ?, `x:y`, ?");
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list[0].Name(), "a");
  EXPECT_EQ(list[1].Name(), "b c");
  EXPECT_EQ(list.FindParam("B C"), &list[1]);
  ASSERT_EQ(command.Params().Count(), 1u);
  EXPECT_EQ(command.Params()[0].Name(), "own");
  // Without a list the markers stay as they are, or take the prefix.
  EXPECT_EQ(command.ParseSQL("SELECT :a", nullptr), "SELECT :a");
  EXPECT_EQ(command.ParseSQL("SELECT :a", nullptr, "@p_"), "SELECT @p_a");
}

TEST(DriverCommand, ScanSwitches) {
  TMySQLCommand command;
  command.SetProp(propScanParams, false);
  command.SetSQL("SELECT :a");
  EXPECT_EQ(command.FinalSQL(), "SELECT :a");
  EXPECT_TRUE(command.Params().Empty());
  command.SetProp(propScanParams, true);  // re-parses the text
  EXPECT_EQ(command.FinalSQL(), "SELECT ?");
  EXPECT_EQ(command.Params().Count(), 1u);

  TMySQLCommand exact;
  exact.SetProp(propDisableParamScan, true);
  exact.SetSQL("SELECT :a, x:=1");
  EXPECT_EQ(exact.FinalSQL(), "SELECT :a, x:=1");
  EXPECT_TRUE(exact.Params().Empty());
  EXPECT_EQ(exact.BuildStatementText(), "SELECT :a, x:=1");
}

TEST(DriverCommand, TraceSeesTheTextAndUnicodeSessionsGetUtf8) {
  TMySQLConnection connection;
  connection.SetProp(propUseUnicode, true);
  TMySQLCommand command;
  command.SetConnection(&connection);
  command.SetSQL("SELECT '\xe7', :p");
  command.Params()[0].SetDataType(dtString);
  command.Params()[0].SetValue("\xe3");
  std::string traced;
  command.OnTrace = [&](const std::string& text) { traced = text; };
  EXPECT_EQ(command.BuildStatementText(), "SELECT '\xc3\xa7', '\xc3\xa3'");
  EXPECT_EQ(traced, "SELECT '\xe7', '\xe3'");
}

TEST(DriverCommand, UnknownPropertyNumbersAreAssertions) {
  TMySQLConnection connection;
  TMySQLCommand command;
  Variant v;
  for (int prop : {0, 2, 36, 9999}) {
    try {
      connection.SetProp(prop, true);
      ADD_FAILURE() << prop;
    } catch (const EUnknownProperty& e) {
      EXPECT_EQ(e.Message(), std::to_string(prop));
    }
    EXPECT_THROW(connection.GetProp(prop, v), EAssertionFailed);
    EXPECT_THROW(command.SetProp(prop, true), EUnknownProperty);
    EXPECT_THROW(command.GetProp(prop, v), EUnknownProperty);
  }
  EXPECT_THROW(connection.GetInternalTransaction()->SetProp(propDatabase, "x"), EUnknownProperty);
}

TEST(DriverCommand, PropertiesReadBack) {
  TMySQLConnection connection;
  Variant v;
  struct P {
    int prop;
    Variant initial;
  };
  // The defaults of a new connection.
  for (const P& p : {P{propConnectionTimeout, int32_t{15}}, P{propDirect, true}, P{propBackslashEscapes, true},
                     P{propCheckBackslashes, false}, P{propMaxStringSize, int32_t{0}}, P{propPort, int32_t{3306}},
                     P{propLastInsertId, int64_t{0}}}) {
    ASSERT_TRUE(connection.GetProp(p.prop, v));
    EXPECT_EQ(v, p.initial) << p.prop;
  }
  connection.SetProp(propDatabase, "db");
  connection.SetProp(propCharset, "latin1");
  connection.PutUsername("me");
  connection.GetProp(propDatabase, v);
  EXPECT_EQ(v, Variant("db"));
  connection.GetProp(propUsername, v);
  EXPECT_EQ(v, Variant("me"));

  TMySQLCommand command;
  command.GetProp(propRowsAffected, v);
  EXPECT_EQ(v, Variant(int64_t{0}));  // unknown (-1) reads as 0
  command.GetProp(propCommandAlwaysFalse, v);
  EXPECT_EQ(v, Variant(false));
  command.SetProp(propCommandTimeout, 7);
  EXPECT_EQ(command.CommandTimeout(), 7);
  EXPECT_TRUE(command.SetProp(propCommandIgnoredFlag, true));
}

TEST(DriverCommand, ExecuteOutsideIdleOrPreparedDoesNothing) {
  TMySQLCommand command;
  command.SetCursorState(csExecuted);
  EXPECT_NO_THROW(command.Execute());
  command.SetCursorState(csIdle);
  EXPECT_THROW(command.Execute(), EAssertionFailed);  // no connection
  TMySQLConnection closed;
  command.SetConnection(&closed);
  EXPECT_THROW(command.Execute(), EDatabaseError);
}

// Runs `call` and checks that it raises EDatabaseError with `text`.
void ExpectError(const std::function<void()>& call, const std::string& text) {
  try {
    call();
    ADD_FAILURE() << "no error; expected: " << text;
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), text);
  }
}

TEST(DriverConnection, MisuseErrors) {
  TMySQLConnection connection;
  TCRTransaction& t = *connection.GetInternalTransaction();
  ExpectError([&] { connection.Enlist(); }, "MS DTC transactions not supported");
  ExpectError([&] { connection.UnEnlist(); }, "MS DTC transactions not supported");
  ExpectError([&] { t.Commit(); }, "Can't perform operation on inactive transaction");
  ExpectError([&] { t.Rollback(); }, "Can't perform operation on inactive transaction");
  ExpectError([&] { t.StartTransaction(); }, "One of the connections in the transaction is not active");
  ExpectError([&] { t.Savepoint("a"); }, "One of the connections in the transaction is not active");
  t.SetProp(propIsolationLevel, 9);
  ExpectError([&] { t.StartTransaction(); }, "Unsupported transaction isolation level");
  t.SetProp(propIsolationLevel, 0);
  t.SetProp(propTransactionReadOnly, true);
  ExpectError([&] { t.StartTransaction(); }, "Readonly transactions are not supported by the database");
  t.SetProp(propTransactionReadOnly, false);
  TMySQLConnection other;
  t.AddConnection(&other);
  ExpectError([&] { t.StartTransaction(); }, "multiple transaction");
  t.RemoveConnection(&other);
  t.RemoveConnection(&connection);
  ExpectError([&] { t.StartTransaction(); }, "There are no connections in the transaction");
}

TEST(DriverConnection, TakeSettingsFromCopiesWhatASecondSessionNeeds) {
  TMySQLConnection source;
  source.PutUsername("u");
  source.PutPassword("p");
  source.PutServer("db1,shm");
  bool called = false;
  source.OnError = [&](EDAError&, bool&, bool&, bool&, int, TConnLostCause&) { called = true; };
  const std::vector<std::pair<int, Variant>> copied = {
      {propEnableBCD, true},         {propEnableFmtBCD, true},   {propConnectionTimeout, int32_t{7}},
      {propDatabase, "d"},           {propPort, int32_t{3307}},  {propCompress, true},
      {propUseUnicode, true},        {propCharset, "gbk"},       {propProtocol, int32_t{1}},
      {propOptimizedBigInt, true},   {propNullForZeroDelphiDate, true}, {propDecimalAsBCDLimited, true},
      // A second session is encrypted, verified and logged in as the first.
      {propSSLKey, "k"},             {propSSLCert, "c"},         {propSSLCACert, "ca"},
      {propSSLCipherList, "x"},      {propAuthPlugin, "caching_sha2_password"},
      {propServerPublicKeyFile, "key.pem"}, {propGetServerPublicKey, false},
  };
  const std::vector<std::pair<int, Variant>> kept = {
      {propCheckBackslashes, true}, {propEmbParams, "a\r\n"}, {propAutoCommit, false},
  };
  for (const auto& [prop, value] : copied) source.SetProp(prop, value);
  for (const auto& [prop, value] : kept) source.SetProp(prop, value);
  source.SetProp(propDirect, false);

  TMySQLConnection target;
  target.TakeSettingsFrom(source);
  EXPECT_EQ(target.Username(), "u");
  EXPECT_EQ(target.Password(), "p");
  EXPECT_EQ(target.Server(), "db1,shm");
  EXPECT_EQ(target.ClientMode(), TMyClientMode::ClientLibrary);
  Variant v;
  for (const auto& [prop, value] : copied) {
    target.GetProp(prop, v);
    EXPECT_EQ(v, value) << prop;
  }
  TMySQLConnection fresh;
  for (const auto& [prop, value] : kept) {
    Variant initial;
    fresh.GetProp(prop, initial);
    target.GetProp(prop, v);
    EXPECT_EQ(v, initial) << prop;
  }
  ASSERT_TRUE(target.OnError);
  EDAError e(1, "x");
  bool fail = true, reconnect = false, reexecute = false;
  TConnLostCause cause = clUnknown;
  target.OnError(e, fail, reconnect, reexecute, 0, cause);
  EXPECT_TRUE(called);
}

TEST(DriverConnection, UnknownProtocolIsRefusedBeforeConnecting) {
  TMySQLConnection connection;
  connection.PutServer("127.0.0.1");
  connection.SetProp(propPort, 1);  // nothing is contacted
  connection.SetProp(propProtocol, 9);
  ExpectError([&] { connection.Connect(); }, "Wrong protocol");
  EXPECT_FALSE(connection.Connected());
  EXPECT_EQ(connection.GetHandle(), nullptr);
}

TEST(DriverConnection, OnlyTheBuiltInClientMode) {
  TMySQLConnection library;
  library.SetProp(propDirect, false);
  EXPECT_EQ(library.ClientMode(), TMyClientMode::ClientLibrary);
  try {
    library.Connect();
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("client library"), std::string::npos) << e.Message();
  }
  EXPECT_FALSE(library.Connected());
  TMySQLConnection embedded;
  embedded.SetProp(propEmbedded, true);
  try {
    embedded.GetClientVersion();
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("embedded"), std::string::npos) << e.Message();
  }
  embedded.SetProp(propEmbedded, false);
  EXPECT_EQ(embedded.GetClientVersion(), "7.0.0 Direct");
}

}  // namespace
