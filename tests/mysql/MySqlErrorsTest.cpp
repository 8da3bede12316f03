#include "mysql/MySqlErrors.h"

#include <gtest/gtest.h>

namespace da::mysql {
namespace {

struct TextCase {
  int32_t code;
  const char* text;
};

// The texts callers match on, blanks included.
TEST(ClientErrorTable, TextsByCode) {
  const TextCase cases[] = {
      {2000, "Unknown MySQL error"},
      {2002, "Can't connect to local MySQL server through socket '%-.64s' (%d)"},
      {2003, "Can't connect to MySQL server on '%s' (%d)"},
      {2006, "MySQL server has gone away"},
      {2007, "Protocol mismatch. Server Version = %d Client Version = %d"},
      {2013, "Lost connection to MySQL server during query"},
      {2014, "Commands out of sync;  You can't run this command now"},
      {2016, "Can't wait for named pipe to host: %s  pipe: %s (%s)"},
      {2027, "Malformed packet"},
      {2035, "Using unsupported buffer type: %s  (parameter: %s)"},
      {2037, "Can't open shared memory. Request event don't create  (%s)"},
      {2044, "Can't open shared memory. Server abandoded and don't sent the answer event (%s)"},
      {2046, "Wrong or unknown protocol"},
      {2047, "Invalid connection handle"},
  };
  for (const auto& c : cases) EXPECT_EQ(ClientErrorText(c.code), c.text) << c.code;
  for (int32_t code = 2000; code <= 2047; ++code) EXPECT_FALSE(ClientErrorText(code).empty()) << code;
  EXPECT_EQ(ClientErrorText(1999), "");
  EXPECT_EQ(ClientErrorText(2048), "");
  EXPECT_EQ(ClientErrorText(1045), "");
}

struct MessageCase {
  const char* name;
  EMySqlException error;
  int32_t code;
  std::string message;
};

TEST(EMySqlException, MessageForms) {
  const MessageCase cases[] = {
      {"code alone keeps placeholders", EMySqlException(2016), 2016,
       "Can't wait for named pipe to host: %s  pipe: %s (%s)"},
      {"server error", EMySqlException(1045, "Access denied for user 'x'@'%' (using password: YES)"), 1045,
       "\r\nAccess denied for user 'x'@'%' (using password: YES)"},
      {"host lookup timed out", EMySqlException(2003, "Connection timed out", {"db.example", 10061}), 2003,
       "Can't connect to MySQL server on 'db.example' (10061)\r\nConnection timed out"},
      {"use_result in state 2", EMySqlException(2014, "mysql.status = 2"), 2014,
       "Commands out of sync;  You can't run this command now\r\nmysql.status = 2"},
      {"protocol mismatch", EMySqlException(2007, "", {9, 10}), 2007,
       "Protocol mismatch. Server Version = 9 Client Version = 10"},
      {"lost connection", EMySqlException(2013, "Socket error on read"), 2013,
       "Lost connection to MySQL server during query\r\nSocket error on read"},
      {"out of order", EMySqlException(1156, "ReceiveHeader: Net packets out of order: received[3], expected[1]"),
       1156, "\r\nReceiveHeader: Net packets out of order: received[3], expected[1]"},
      {"no text at all", EMySqlException(1157), 1157, ""},
      {"empty detail adds nothing", EMySqlException(2006, ""), 2006, "MySQL server has gone away"},
      // Created with a detail and no arguments: formats without failing.
      {"pipe open", EMySqlException(2017, "The system cannot find the file specified."), 2017,
       "Can't open named pipe to host: %s  pipe: %s (%s)\r\nThe system cannot find the file specified."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.ErrorCode(), c.code) << c.name;
    EXPECT_EQ(c.error.Message(), c.message) << c.name;
  }
}

TEST(EMySqlException, LongHostIsCutInSocketMessage) {
  EMySqlException e(2002, "", {std::string(80, 's'), 2});
  EXPECT_EQ(e.Message(), "Can't connect to local MySQL server through socket '" + std::string(64, 's') + "' (2)");
}

}  // namespace
}  // namespace da::mysql
