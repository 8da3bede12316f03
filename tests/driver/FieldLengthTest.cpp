// The length rules of result columns that a current server does not
// exercise (the SHOW corrections of older servers, EXPLAIN's "type"),
// and those it does, as one table: column, statement, server version and
// settings in; data type and length out.
#include <gtest/gtest.h>

#include "common/Exception.h"
#include "driver/MyFieldTypes.h"

namespace da {
namespace {

using mysql::TMYSQL_FIELD;

struct LengthCase {
  const char* what;
  const char* sql;
  const char* name;
  const char* table;
  uint8_t type;
  uint32_t length;
  uint32_t flags;
  uint32_t charset;
  TDataType typeIn;
  int major, minor, release;
  bool useUnicode, longStrings, flatBuffers;
  TDataType typeOut;
  int lengthOut;
};

constexpr uint8_t kVar = mysql::MYSQL_TYPE_VAR_STRING;
constexpr uint8_t kBlob = 252;
constexpr uint32_t kBin = mysql::BINARY_FLAG;

TEST(FieldLength, RulesInTheirOrder) {
  const LengthCase cases[] = {
      // what, sql, name, table, type, length, flags, charset, in, version, unicode, long, flat, out, length
      {"plain column", "SELECT v FROM t", "v", "t", kVar, 40, 0, 8, dtString, 10, 11, 6, false, true, true, dtString, 40},
      {"UTF-8 characters", "SELECT v FROM t", "v", "t", kVar, 120, 0, 33, dtWideString, 10, 11, 6, true, true, true,
       dtWideString, 40},
      {"binary set keeps bytes", "SELECT v FROM t", "v", "t", kVar, 120, kBin, 63, dtWideString, 10, 11, 6, true, true,
       true, dtWideString, 120},
      {"memo divided too", "SELECT x FROM t", "x", "t", kBlob, 196605, 0, 33, dtMemo, 10, 11, 6, true, true, true,
       dtMemo, 65535},
      {"expression of unknown size", "SELECT CONCAT(a)", "c", "", kVar, 65535, 0, 8, dtString, 10, 11, 6, false, true,
       true, dtMemo, 65535},
      {"binary expression", "SELECT CONCAT(a)", "c", "", kVar, 65535, kBin, 63, dtBytes, 10, 11, 6, false, true, true,
       dtBlob, 65535},
      {"processlist state", "SHOW PROCESSLIST", "State", "", kVar, 30, 0, 33, dtString, 10, 11, 6, false, true, true,
       dtString, 90},
      {"no division in SHOW", "SHOW PROCESSLIST", "Info", "", kVar, 300, 0, 33, dtWideString, 10, 11, 6, true, true,
       true, dtWideString, 300},
      {"privileges", "SHOW PRIVILEGES", "Context", "", kVar, 20, 0, 8, dtString, 10, 11, 6, false, true, true, dtString,
       40},
      {"slave io state", "SHOW SLAVE STATUS", "Slave_IO_State", "", kVar, 30, 0, 8, dtString, 10, 11, 6, false, true,
       true, dtString, 80},
      {"slave running", "SHOW SLAVE STATUS", "Slave_SQL_Running", "", kVar, 2, 0, 8, dtString, 10, 11, 6, false, true,
       true, dtString, 6},
      {"last error", "SHOW SLAVE STATUS", "Last_Error", "", kVar, 20, 0, 8, dtString, 10, 11, 6, false, true, true,
       dtString, 2048},
      {"create table on 5.x", "SHOW CREATE TABLE t", "Create Table", "", kVar, 1024, 0, 8, dtString, 5, 1, 73, false,
       true, true, dtString, 65535},
      {"create table on 10.x", "SHOW CREATE TABLE t", "Create Table", "", kVar, 1024, 0, 8, dtString, 10, 11, 6, false,
       true, true, dtString, 1024},
      {"engines on 5.0", "SHOW ENGINES", "Comment", "", kVar, 80, 0, 8, dtString, 5, 0, 96, false, true, true, dtString,
       241},
      {"user on 5.1.52", "SHOW GRANTS", "User", "", kVar, 10, 0, 8, dtString, 5, 1, 52, false, true, true, dtString, 16},
      {"host on 5.5.60", "SHOW GRANTS", "Host", "", kVar, 10, 0, 8, dtString, 5, 5, 60, false, true, true, dtString, 60},
      {"explain type on 4.1", "EXPLAIN SELECT 1", "type", "", kVar, 10, 0, 8, dtString, 4, 1, 22, false, true, true,
       dtString, 65534},
      {"explain type on 10.x", "EXPLAIN SELECT 1", "type", "", kVar, 10, 0, 8, dtString, 10, 11, 6, false, true, true,
       dtString, 10},
      {"long string as memo", "SELECT v FROM t", "v", "t", kVar, 300, 0, 8, dtString, 10, 11, 6, false, false, true,
       dtMemo, 300},
      {"256 stays a string", "SELECT v FROM t", "v", "t", kVar, 256, 0, 8, dtString, 10, 11, 6, false, false, true,
       dtString, 256},
      {"no flat buffers", "SELECT v FROM t", "v", "t", kVar, 32, 0, 8, dtString, 10, 11, 6, false, true, false,
       dtExtString, 32},
      {"short stays flat", "SELECT v FROM t", "v", "t", kVar, 31, 0, 8, dtString, 10, 11, 6, false, true, false,
       dtString, 31},
      {"length 0 goes to the heap", "SELECT ''", "e", "", kVar, 0, kBin, 63, dtVarBytes, 10, 11, 6, false, true, false,
       dtExtVarBytes, 0},
  };
  for (const LengthCase& c : cases) {
    TMYSQL_FIELD column;
    column.name = c.name;
    column.table = c.table;
    column.type = c.type;
    column.length = c.length;
    column.flags = c.flags;
    column.charsetnr = c.charset;
    TMyLengthContext context;
    context.keywords = TMyLengthContext::KeywordsOf(c.sql);
    context.serverMajor = c.major;
    context.serverMinor = c.minor;
    context.serverRelease = c.release;
    context.useUnicode = c.useUnicode;
    context.longStrings = c.longStrings;
    context.flatBuffers = c.flatBuffers;
    TDataType type = c.typeIn;
    EXPECT_EQ(MySqlFieldLength(column, type, context), c.lengthOut) << c.what;
    EXPECT_EQ(type, c.typeOut) << c.what;
  }
}

TEST(FieldLength, ColumnTypesNoServerDefinesAreProgrammingErrors) {
  TMYSQL_FIELD column;
  column.name = "x";
  for (int code : {17, 100, 245}) {
    column.type = static_cast<uint8_t>(code);
    try {
      MySqlDataType(column, {});
      ADD_FAILURE() << code;
    } catch (const EAssertionFailed& e) {
      EXPECT_EQ(e.Message(), "Unknown MySQL datatype (" + std::to_string(code) + ")");
    }
  }
}

}  // namespace
}  // namespace da
