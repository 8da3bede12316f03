#pragma once
// A driver connection to the throwaway server for the record set and
// dataset tests, and small helpers to run statements and read a column.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestServer.h"
#include "driver/MyClasses.h"
#include "driver/MyRecordSet.h"

namespace da::testutil {

class RecordSetServerTest : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped() || HasFailure()) return;
    Configure(conn);
    conn.Connect();
  }

  void Configure(TMySQLConnection& c) const {
    c.PutServer(server().host);
    c.PutUsername(server().user);
    c.PutPassword(server().password);
    c.SetProp(propPort, int32_t{server().port});
    c.SetProp(propDatabase, server().database);
  }

  void Run(const std::string& sql) { conn.RunStatement(sql); }

  // A record set on `conn` with FetchAll on (the query component's default).
  void Prepare(TMySQLRecordset& rs, const std::string& sql, bool fetchAll = true) {
    rs.SetConnection(&conn);
    rs.SetProp(propFetchAll, fetchAll);
    rs.GetCommand()->SetSQL(sql);
  }

  // The first column of every row of `sql`, as text ("NULL" for null).
  std::vector<std::string> Column(const std::string& sql) {
    TMySQLRecordset rs;
    Prepare(rs, sql);
    rs.Open();
    std::vector<std::string> values;
    TRecBuf buf = rs.AllocRecBuf();
    rs.SetToBegin();
    for (rs.StepNextRecord(buf.get()); !rs.Eof(); rs.StepNextRecord(buf.get())) {
      Variant v = rs.GetFieldAsVariant(1, buf.get());
      values.push_back(v.IsNull() ? "NULL" : v.AsString());
    }
    rs.Close();
    return values;
  }

  TMySQLConnection conn;
};

}  // namespace da::testutil
