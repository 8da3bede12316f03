// The local socket end to end: the session reaches the throwaway server
// through its own socket when the protocol asks for the named pipe.
#include <gtest/gtest.h>

#include "TransportTestSupport.h"
#include "mysql/MySqlErrors.h"

namespace da::mysql {
namespace {

using transporttest::SqlClient;

class LocalSocket : public testsupport::ServerTest {
 protected:
  void UsePipe(SqlClient& client) { client.SetInt(MYSQL_OPT_PROTOCOL, mpPipe); }
};

TEST_F(LocalSocket, TheSessionConnectsThroughTheServersSocket) {
  for (const char* host : {"localhost", ".", ""}) {
    SCOPED_TRACE(host);
    SqlClient client;
    UsePipe(client);
    ASSERT_TRUE(client.Connect(host, 0, server().user, server().password, server().database, server().socket))
        << client.Error();
    EXPECT_EQ(client.HostInfo(), std::string(*host ? host : "localhost") + " via pipes");
    // The server sees a local connection, not one from 127.0.0.1:port.
    EXPECT_EQ(client.Scalar("SELECT HOST FROM information_schema.PROCESSLIST WHERE ID = CONNECTION_ID()"),
              "localhost");
    EXPECT_EQ(client.Scalar("SELECT 6 * 7"), "42");
  }
}

TEST_F(LocalSocket, LargeStatementsAndResultsTravelWhole) {
  SqlClient client;
  int32_t ignored = 0;  // the option selects the pipe whatever its value
  client.api.mysql_options(client.session, MYSQL_OPT_NAMED_PIPE, &ignored);
  ASSERT_TRUE(client.Connect("localhost", 0, server().user, server().password, server().database, server().socket))
      << client.Error();
  std::string value(1000000, 'p');
  EXPECT_EQ(client.Scalar("SELECT LENGTH('" + value + "')"), "1000000");
  std::string expected;
  for (int i = 0; i < 500000; ++i) expected += "ab";
  auto rows = client.Rows("SELECT REPEAT('ab', 500000)");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(rows[0][0] && *rows[0][0] == expected);
}

TEST_F(LocalSocket, FailuresAreConnectErrorsWithTheReason) {
  const struct {
    const char* host;
    std::string path;
    std::string detail;
  } cases[] = {
      {"localhost", "/nonexistent/mysqld.sock",
       "Can't open named pipe to host: localhost  pipe: /nonexistent/mysqld.sock (No such file or directory)"},
      {"db.example", server().socket,
       "Can't open named pipe to host: db.example  pipe: " + server().socket +
           " (a local socket reaches only this machine)"},
  };
  for (const auto& c : cases) {
    SqlClient client;
    UsePipe(client);
    EXPECT_FALSE(client.Connect(c.host, 0, server().user, server().password, server().database, c.path));
    EXPECT_EQ(client.Errno(), CR_CONN_HOST_ERROR);
    EXPECT_EQ(client.Error(), "Can't connect to MySQL server on '" + std::string(c.host) + "' (10061)\r\n" + c.detail);
  }
}

}  // namespace
}  // namespace da::mysql
