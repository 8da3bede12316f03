#pragma once
// Where the throwaway test server is. ctest starts it (fixture `mariadb`)
// and writes its address and accounts into server.env in the build folder;
// DATEST_* environment variables of the same names override that file.

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

struct TestServerInfo {
  std::string host;  // 127.0.0.1
  int port = 0;
  std::string socket;
  std::string database;
  std::string user, password;  // mysql_native_password account
  std::string nopwUser;        // account with an empty password
  std::string oldUser, oldPassword;  // pre-4.1 password account
  std::string sslCa, sslCert, sslKey;
  std::string sslOtherCa;              // a CA the server's certificate does not chain to
  std::string x509User, x509Password;  // account that requires a client certificate
};

// The running server, or null when there is none (or it does not answer).
const TestServerInfo* FindTestServer();

// True when a missing server must fail the test rather than skip it (CI=true).
bool ServerRequired();

// Base for tests that need the server: SetUp fails (under CI=true) or skips
// when it is missing, and `server()` gives its address.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  const TestServerInfo& server() const { return *server_; }

 private:
  const TestServerInfo* server_ = nullptr;
};

}  // namespace testsupport

// For a test body that is not a ServerTest: binds `var` to the server info
// or fails/skips the test.
#define REQUIRE_TEST_SERVER(var)                                                              \
  const ::testsupport::TestServerInfo* var##_found = ::testsupport::FindTestServer();          \
  if (!var##_found) {                                                                          \
    if (::testsupport::ServerRequired()) FAIL() << "the throwaway test server is not running"; \
    GTEST_SKIP() << "no test server (run the tests through ctest)";                           \
  }                                                                                            \
  const ::testsupport::TestServerInfo& var = *var##_found
