// myquery's login and transport options: their parsing, and the program
// end to end over the local socket, SSL and the HTTP tunnel, and with the
// authentication plugin it is told to announce.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "MyQueryArgs.h"
#include "MyQueryProgram.h"
#include "TestServer.h"

namespace {

using namespace myquery;

std::optional<std::string> NoEnv(const char*) { return std::nullopt; }

std::string TunnelUrl() {
  if (const char* env = std::getenv("DATEST_TUNNEL_URL"); env && *env) return env;
  std::ifstream in(DA_TUNNEL_ENV);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("DATEST_TUNNEL_URL=", 0) == 0) return line.substr(18);
  return {};
}

TEST(MyQueryLoginArgs, TransportAndAuthenticationOptions) {
  Options o = ParseArgs({"--default-auth=caching_sha2_password", "--server-public-key-path", "/k.pem",
                         "--no-get-server-public-key", "-S", "/run/x.sock", "--protocol=PIPE"},
                        &NoEnv);
  EXPECT_EQ(o.defaultAuth, "caching_sha2_password");
  EXPECT_EQ(o.serverPublicKeyPath, "/k.pem");
  EXPECT_FALSE(o.getServerPublicKey);
  EXPECT_EQ(o.socket, "/run/x.sock");
  EXPECT_EQ(o.protocol, "pipe");

  Options d = ParseArgs({}, &NoEnv);
  EXPECT_TRUE(d.getServerPublicKey);
  EXPECT_EQ(d.defaultAuth, "");
  EXPECT_EQ(d.protocol, "");
  EXPECT_TRUE(ParseArgs({"--no-get-server-public-key", "--get-server-public-key"}, &NoEnv).getServerPublicKey);

  // A socket path or a tunnel URL alone picks its transport.
  EXPECT_EQ(ParseArgs({"--socket=/s"}, &NoEnv).protocol, "socket");
  Options h = ParseArgs({"--http-url=http://w/t.php", "--http-user=u", "--http-password=p", "--http-proxy-host=px",
                         "--http-proxy-port=8080", "--http-proxy-user=pu", "--http-proxy-password=pp"},
                        &NoEnv);
  EXPECT_EQ(h.protocol, "http");
  EXPECT_EQ(h.httpUrl, "http://w/t.php");
  EXPECT_EQ(h.httpUser, "u");
  EXPECT_EQ(h.httpPassword, "p");
  EXPECT_EQ(h.httpProxyHost, "px");
  EXPECT_EQ(h.httpProxyPort, 8080);
  EXPECT_EQ(h.httpProxyUser, "pu");
  EXPECT_EQ(h.httpProxyPassword, "pp");

  const std::vector<std::vector<std::string>> bad = {
      {"--socket="}, {"--socket=/s", "--protocol=tcp"}, {"--protocol=http"},
      {"--http-url=http://w/", "--protocol=ssl"}, {"--http-proxy-port=x"},
  };
  for (const auto& args : bad) EXPECT_THROW(ParseArgs(args, &NoEnv), UsageError) << args[0];
}

// --- The program ----------------------------------------------------------------

using myquerytest::RunMyQuery;
using myquerytest::RunResult;

class MyQueryTransports : public testsupport::ServerTest {
 protected:
  std::vector<std::string> Login(std::vector<std::string> more) const {
    std::vector<std::string> a = {"-u", server().user, "-p" + server().password, "-D", server().database};
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
  std::vector<std::string> Tcp(std::vector<std::string> more) const {
    std::vector<std::string> a = {"-h", server().host, "-P", std::to_string(server().port)};
    a.insert(a.end(), more.begin(), more.end());
    return Login(a);
  }
};

TEST_F(MyQueryTransports, EveryTransportEndToEnd) {
  const std::string tunnel = TunnelUrl();
  if (tunnel.empty() && testsupport::ServerRequired()) FAIL() << "the tunnel script is not running";
  const std::string cipher = "SHOW SESSION STATUS LIKE 'Ssl_cipher'";
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::string peer;  // as the server sees the client
    bool encrypted;
  } cases[] = {
      {"socket", Login({"--socket=" + server().socket}), "localhost", false},
      {"pipe", Login({"--protocol=pipe", "-S", server().socket}), "localhost", false},
      {"ssl with the CA", Tcp({"--ssl-ca=" + server().sslCa}), server().host, true},
      {"ssl with a client certificate",
       {"-h", server().host, "-P", std::to_string(server().port), "-u", server().x509User,
        "-p" + server().x509Password, "--protocol=ssl", "--ssl-ca=" + server().sslCa,
        "--ssl-cert=" + server().sslCert, "--ssl-key=" + server().sslKey},
       server().host, true},
      {"http tunnel", Tcp({"--http-url=" + tunnel + "/auth/", "--http-user=tunnel", "--http-password=secret"}),
       server().host, false},
      {"tcp, caching_sha2_password switched to the native plugin",
       Tcp({"--protocol=tcp", "--default-auth=caching_sha2_password"}), server().host, false},
      {"socket, clear password", Login({"--socket=" + server().socket, "--default-auth=mysql_clear_password"}),
       "localhost", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (tunnel.empty() && std::string(c.what) == "http tunnel") continue;
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-e", "SELECT SUBSTRING_INDEX(HOST, ':', 1) AS peer FROM "
                                   "information_schema.PROCESSLIST WHERE ID = CONNECTION_ID()",
                             "-e", cipher});
    RunResult r = RunMyQuery(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string head = "peer\n" + c.peer + "\nVariable_name\tValue\nSsl_cipher\t";
    ASSERT_EQ(r.out.rfind(head, 0), 0u) << r.out;
    const std::string value = r.out.substr(head.size());
    if (c.encrypted)
      EXPECT_GT(value.size(), 1u) << r.out;  // a cipher name and the line's end
    else
      EXPECT_EQ(value, "\n");
  }
}

TEST_F(MyQueryTransports, FailuresEndWithStatusOneAndTheReason) {
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::string start;  // the start of standard error
  } cases[] = {
      {"clear password over plain TCP", Tcp({"--default-auth=mysql_clear_password", "-e", "SELECT 1"}),
       "ERROR 2059: Authentication plugin 'mysql_clear_password' cannot be loaded: the password would travel in "
       "clear over a connection that is not secure\n"},
      {"a socket that is not there", Login({"--socket=/nonexistent/mysqld.sock", "-e", "SELECT 1"}),
       "ERROR 2003: Can't connect to MySQL server on 'localhost' (10061): Can't open named pipe to host: localhost  "
       "pipe: /nonexistent/mysqld.sock (No such file or directory)\n"},
      {"a CA the server's certificate does not chain to", Tcp({"--ssl-ca=" + server().sslOtherCa, "-e", "SELECT 1"}),
       "ERROR 2026: SSL connection error: "},
      {"no tunnel script there", Tcp({"--http-url=http://127.0.0.1:1/tunnel/", "-e", "SELECT 1"}), "ERROR 2003: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = c.args;
    args.push_back("--connect-timeout=2");  // the tunnel waits that long for a script that is not there
    RunResult r = RunMyQuery(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind(c.start, 0), 0u) << r.err;
  }
}

TEST(MyQueryLoginHelp, ListsTheLoginAndTransportOptions) {
  RunResult h = RunMyQuery({"--help"});
  EXPECT_EQ(h.status, 0);
  for (const char* option : {"--protocol=NAME", "--socket=PATH", "--ssl-ca=FILE", "--ssl-cert=FILE", "--ssl-key=FILE",
                             "--ssl-cipher=LIST", "--http-url=URL", "--http-user=NAME", "--http-password=PASS",
                             "--http-proxy-host=NAME", "--http-proxy-port=N", "--default-auth=PLUGIN",
                             "--server-public-key-path=FILE", "--no-get-server-public-key",
                             "(default: --get-server-public-key)"})
    EXPECT_NE(h.out.find(option), std::string::npos) << option;
}

}  // namespace
