#pragma once
// Driver connections to the throwaway server, and rows read back through
// the call table so that checks do not depend on the record set.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TestServer.h"
#include "driver/MyClasses.h"
#include "mysql/MySqlApi.h"

namespace drivertest {

using Row = std::vector<std::optional<std::string>>;
using Rows = std::vector<Row>;

class DriverServerTest : public testsupport::ServerTest {
 protected:
  // The test account's settings on a new connection (not connected).
  std::unique_ptr<da::TMySQLConnection> NewConnection() {
    auto c = std::make_unique<da::TMySQLConnection>();
    c->PutServer(server().host);
    c->PutUsername(server().user);
    c->PutPassword(server().password);
    c->SetProp(da::propPort, server().port);
    c->SetProp(da::propDatabase, server().database);
    return c;
  }
  std::unique_ptr<da::TMySQLConnection> Connected() {
    auto c = NewConnection();
    c->Connect();
    return c;
  }


 public:
  // Runs `sql` for its effect through a driver command.
  static void Exec(da::TMySQLConnection& c, const std::string& sql) {
    da::TMySQLCommand command;
    command.SetConnection(&c);
    command.SetProp(da::propDisableParamScan, true);
    command.SetSQL(sql);
    command.Execute();
  }

  // Every row of the result `command` left open (which it then frees).
  static Rows ReadResult(da::TMySQLConnection& c, da::TMySQLCommand& command) {
    da::mysql::TMySQLAPI& api = c.API();
    Rows rows;
    da::mysql::TMySqlResultSet* result = command.SQLResult();
    if (!result) return rows;
    const int32_t columns = api.mysql_num_fields(result);
    while (da::mysql::TMySqlBinds* row = api.FetchRowData(result)) {
      Row r;
      for (int32_t i = 0; i < columns; ++i) {
        if (api.IsNullField(row, static_cast<uint32_t>(i)))
          r.emplace_back();
        else
          r.emplace_back(api.GetFieldText(row, static_cast<uint32_t>(i)));
      }
      rows.push_back(std::move(r));
    }
    EXPECT_EQ(api.mysql_errno(c.GetHandle()), 0) << api.mysql_error(c.GetHandle());
    api.mysql_free_result(result);
    command.SetSQLResult(nullptr);
    command.SetCursorState(da::csIdle);
    return rows;
  }

  // Rows of a query without parameters.
  static Rows Query(da::TMySQLConnection& c, const std::string& sql) {
    da::TMySQLCommand command;
    command.SetConnection(&c);
    command.SetRequestResultset(true);
    command.SetProp(da::propDisableParamScan, true);
    command.SetSQL(sql);
    command.Execute();
    return ReadResult(c, command);
  }

  // The first column of the first row ("NULL" for null, "" for no row).
  static std::string Scalar(da::TMySQLConnection& c, const std::string& sql) {
    Rows rows = Query(c, sql);
    if (rows.empty() || rows[0].empty()) return {};
    return rows[0][0] ? *rows[0][0] : "NULL";
  }
};

}  // namespace drivertest
