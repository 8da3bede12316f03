// The login and transport settings on their way from TMyConnection through
// the driver connection to the wire: the authentication options, the local
// socket named in Server, SSL and the HTTP tunnel, each against the real
// throwaway server (and its tunnel script).

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "ComponentTestSupport.h"
#include "common/DAErrors.h"
#include "driver/CRAccess.h"
#include "driver/MyClasses.h"
#include "transports/CRVioHttp.h"

namespace {

using namespace da;
using componenttest::MessageOf;
using componenttest::NewConnection;
using componenttest::Scalar;

// The tunnel script's base URL ("http://127.0.0.1:port"); empty when it is
// not running.
std::string TunnelUrl() {
  if (const char* env = std::getenv("DATEST_TUNNEL_URL"); env && *env) return env;
  std::ifstream in(DA_TUNNEL_ENV);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("DATEST_TUNNEL_URL=", 0) == 0) return line.substr(18);
  return {};
}

// One status variable of the session, through a query component.
std::string SessionStatus(TMyConnection& cn, const std::string& name) {
  TMyQuery q;
  q.SetConnection(&cn);
  q.SetSQLText("SHOW SESSION STATUS LIKE '" + name + "'");
  q.Open();
  if (q.HasNoRows()) return "<missing>";
  return q.FieldByName("Value").AsString();
}

Variant Prop(TCRConnection& c, int prop) {
  Variant v;
  EXPECT_TRUE(c.GetProp(prop, v)) << prop;
  return v;
}

// --- The driver connection ------------------------------------------------------

TEST(DriverLoginSettings, PropertiesDefaultsAndCopies) {
  TMySQLConnection source;
  EXPECT_EQ(Prop(source, propAuthPlugin), Variant(std::string()));
  EXPECT_EQ(Prop(source, propServerPublicKeyFile), Variant(std::string()));
  EXPECT_EQ(Prop(source, propGetServerPublicKey), Variant(true));

  source.SetProp(propAuthPlugin, std::string("caching_sha2_password"));
  source.SetProp(propServerPublicKeyFile, std::string("/keys/server.pem"));
  source.SetProp(propGetServerPublicKey, false);
  source.SetProp(propSSLCACert, std::string("/ca.pem"));
  source.SetProp(propProtocol, int32_t{mysql::mpHttp});
  THttpOptions http;
  http.SetUrl("http://127.0.0.1:1/tunnel/");
  http.SetUsername("tunnel");
  source.SetHttpOptions(&http);
  http.SetUrl("changed afterwards");  // the driver keeps its own copy
  EXPECT_EQ(Prop(source, propAuthPlugin), Variant(std::string("caching_sha2_password")));
  EXPECT_EQ(Prop(source, propServerPublicKeyFile), Variant(std::string("/keys/server.pem")));
  EXPECT_EQ(Prop(source, propGetServerPublicKey), Variant(false));

  // A further session is opened the same way as the first.
  TMySQLConnection copy;
  copy.TakeSettingsFrom(source);
  EXPECT_EQ(Prop(copy, propAuthPlugin), Variant(std::string("caching_sha2_password")));
  EXPECT_EQ(Prop(copy, propServerPublicKeyFile), Variant(std::string("/keys/server.pem")));
  EXPECT_EQ(Prop(copy, propGetServerPublicKey), Variant(false));
  EXPECT_EQ(Prop(copy, propSSLCACert), Variant(std::string("/ca.pem")));
  ASSERT_NE(copy.HttpOptions(), nullptr);
  EXPECT_NE(copy.HttpOptions(), source.HttpOptions());
  EXPECT_EQ(copy.HttpOptions()->Url(), "http://127.0.0.1:1/tunnel/");
  EXPECT_EQ(copy.HttpOptions()->Username(), "tunnel");
}

TEST(DriverLoginSettings, HostAndSocketComeFromServer) {
  const struct {
    const char* server;
    const char* host;
    const char* socket;
  } cases[] = {
      {"", "localhost", ""},
      {"db1", "db1", ""},
      {"localhost,/tmp/my.sock", "localhost", "/tmp/my.sock"},
      {",/tmp/my.sock", "localhost", "/tmp/my.sock"},
      {"db1,shm", "db1", "shm"},
      {"db1,a,b", "db1", "a,b"},
  };
  for (const auto& c : cases) {
    TMySQLConnection connection;
    connection.PutServer(c.server);
    EXPECT_EQ(connection.HostOfServer(), c.host) << c.server;
    EXPECT_EQ(connection.SocketOfServer(), c.socket) << c.server;
  }
}

TEST(DriverLoginSettings, ATunnelWithoutAUrlIsRefusedNotTakenAsTcp) {
  TMyConnection cn;
  cn.SetName("cn");
  cn.SetLoginPrompt(false);
  cn.SetServer("127.0.0.1");
  cn.SetProtocol(mpHttp);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { cn.Connect(); }),
            "The HTTP tunnel needs the URL of its tunnel script (HttpOptions.Url)");
  EXPECT_FALSE(cn.Connected());
}

// --- The connection component ---------------------------------------------------

class LoginOptions : public testsupport::ServerTest {};

TEST_F(LoginOptions, DefaultsReachTheDriverAndAreRefusedWhileOpen) {
  auto cn = NewConnection(server());
  EXPECT_EQ(cn->Options().AuthPlugin(), "");
  EXPECT_EQ(cn->Options().ServerPublicKeyFile(), "");
  EXPECT_TRUE(cn->Options().GetServerPublicKey());
  // Set before the first connect: the new driver connection receives them.
  cn->Options().SetAuthPlugin("mysql_native_password");
  cn->Options().SetServerPublicKeyFile("/nonexistent/key.pem");
  cn->Options().SetGetServerPublicKey(false);
  cn->Connect();
  TCRConnection& driver = *cn->DriverConnection();
  EXPECT_EQ(Prop(driver, propAuthPlugin), Variant(std::string("mysql_native_password")));
  EXPECT_EQ(Prop(driver, propServerPublicKeyFile), Variant(std::string("/nonexistent/key.pem")));
  EXPECT_EQ(Prop(driver, propGetServerPublicKey), Variant(false));

  const std::string refused = "cn: Cannot perform this operation on an open connection";
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { cn->Options().SetAuthPlugin("caching_sha2_password"); }), refused);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { cn->Options().SetServerPublicKeyFile(""); }), refused);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { cn->Options().SetGetServerPublicKey(true); }), refused);
  EXPECT_EQ(cn->Options().AuthPlugin(), "mysql_native_password");
  EXPECT_EQ(cn->Options().ServerPublicKeyFile(), "/nonexistent/key.pem");
  EXPECT_FALSE(cn->Options().GetServerPublicKey());
  EXPECT_TRUE(cn->Connected());

  // Closed, a change goes to the existing driver connection at once.
  cn->Disconnect();
  cn->Options().SetAuthPlugin("");
  EXPECT_EQ(Prop(driver, propAuthPlugin), Variant(std::string()));
  // Assigning an option set copies the three as well.
  TMyConnection other;
  other.Options().Assign(cn->Options());
  EXPECT_EQ(other.Options().ServerPublicKeyFile(), "/nonexistent/key.pem");
  EXPECT_FALSE(other.Options().GetServerPublicKey());
}

TEST_F(LoginOptions, ThePluginAnnouncedDecidesTheLogin) {
  const std::string clearRefused =
      "Authentication plugin 'mysql_clear_password' cannot be loaded: the password would travel in clear over a "
      "connection that is not secure";
  const struct {
    const char* plugin;
    bool localSocket;
    int error;  // 0: the login succeeds
    std::string message;
  } cases[] = {
      // The server does not know caching_sha2_password: it switches the
      // client to the account's mysql_native_password.
      {"caching_sha2_password", false, 0, ""},
      {"mysql_native_password", false, 0, ""},
      {"", false, 0, ""},
      {"mysql_clear_password", false, 2059, clearRefused},
      // A local socket is a secure link: the clear password may go.
      {"mysql_clear_password", true, 0, ""},
      {"no_such_plugin", false, 2059, "Authentication plugin 'no_such_plugin' cannot be loaded"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.plugin) + (c.localSocket ? " over the local socket" : " over TCP"));
    auto cn = NewConnection(server());
    if (c.localSocket) {
      cn->SetServer("localhost," + server().socket);
      cn->SetProtocol(mpSocket);
    }
    cn->Options().SetAuthPlugin(c.plugin);
    if (c.error == 0) {
      ASSERT_NO_THROW(cn->Connect());
      EXPECT_EQ(Scalar(*cn, "SELECT CURRENT_USER()").rfind(server().user + "@", 0), 0u);
    } else {
      try {
        cn->Connect();
        ADD_FAILURE() << "connected";
      } catch (const EMyError& e) {
        EXPECT_EQ(e.ErrorCode(), c.error);
        EXPECT_NE(e.Message().find(c.message), std::string::npos) << e.Message();
      }
      EXPECT_FALSE(cn->Connected());
      EXPECT_EQ(cn->UsageCount(), 0);
    }
  }
}

// --- The transports through the components ----------------------------------

class TransportOptions : public testsupport::ServerTest {};

TEST_F(TransportOptions, EveryTransportRunsAQuery) {
  const std::string tunnel = TunnelUrl();
  if (tunnel.empty() && testsupport::ServerRequired()) FAIL() << "the tunnel script is not running";
  const std::string peerHost = "SELECT SUBSTRING_INDEX(HOST, ':', 1) FROM information_schema.PROCESSLIST "
                               "WHERE ID = CONNECTION_ID()";
  const struct {
    const char* what;
    TMyProtocol protocol;
    std::string server;
    std::string url;
    std::string host;  // as the server sees the client
  } cases[] = {
      {"socket", mpSocket, "localhost," + server().socket, "", "localhost"},
      {"pipe", mpPipe, "localhost," + server().socket, "", "localhost"},
      {"pipe, empty host", mpPipe, "," + server().socket, "", "localhost"},
      {"ssl", mpSSL, server().host, "", server().host},
      {"http tunnel", mpHttp, server().host, tunnel + "/tunnel/", server().host},
      {"tcp", mpTCP, server().host, "", server().host},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.protocol == mpHttp && tunnel.empty()) continue;
    auto cn = NewConnection(server());
    cn->SetServer(c.server);
    cn->SetProtocol(c.protocol);
    cn->SetSSLOptions({"", server().sslCa, "", ""});
    cn->SetHttpOptions({c.url, "", "", {}});
    ASSERT_NO_THROW(cn->Connect());
    EXPECT_EQ(Scalar(*cn, peerHost), c.host);
    // Encrypted exactly when SSL was asked for.
    if (c.protocol == mpSSL)
      EXPECT_NE(SessionStatus(*cn, "Ssl_cipher"), "");
    else
      EXPECT_EQ(SessionStatus(*cn, "Ssl_cipher"), "");
    EXPECT_EQ(Scalar(*cn, "SELECT 6 * 7"), "42");
  }
}

TEST_F(TransportOptions, EachTransportFailsWithItsReason) {
  const std::string tunnel = TunnelUrl();
  if (tunnel.empty() && testsupport::ServerRequired()) FAIL() << "the tunnel script is not running";
  const struct {
    const char* what;
    TMyProtocol protocol;
    std::string server;
    TMyConnectionSSLOptions ssl;
    TMyHttpOptions http;
    int error;
    std::string message;
  } cases[] = {
      {"socket not there", mpSocket, "localhost,/nonexistent/mysqld.sock", {}, {}, 2003,
       "Can't open named pipe to host: localhost  pipe: /nonexistent/mysqld.sock (No such file or directory)"},
      {"ssl, a CA the server does not chain to", mpSSL, server().host, {"", server().sslOtherCa, "", ""}, {}, 2026,
       "SSL connection error"},
      {"tunnel without the web server's credentials", mpHttp, server().host, {}, {tunnel + "/auth/", "", "", {}},
       2003, "Cannot establish HTTP connection"},
      {"tunnel script refusing", mpHttp, server().host, {}, {tunnel + "/er/", "", "", {}}, 2013,
       "The relay refused the request"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.protocol == mpHttp && tunnel.empty()) continue;
    auto cn = NewConnection(server());
    cn->SetServer(c.server);
    cn->SetProtocol(c.protocol);
    cn->SetSSLOptions(c.ssl);
    cn->SetHttpOptions(c.http);
    // The tunnel's tests wait up to the time-out for a script that refuses.
    cn->SetConnectionTimeout(2);
    try {
      cn->Connect();
      ADD_FAILURE() << "connected";
    } catch (const EMyError& e) {
      EXPECT_EQ(e.ErrorCode(), c.error) << e.Message();
      EXPECT_NE(e.Message().find(c.message), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(cn->Connected());
  }
  // With the credentials, the same tunnel lets the login through.
  if (!tunnel.empty()) {
    auto cn = NewConnection(server());
    cn->SetProtocol(mpHttp);
    cn->SetHttpOptions({tunnel + "/auth/", "tunnel", "secret", {}});
    ASSERT_NO_THROW(cn->Connect());
    EXPECT_EQ(Scalar(*cn, "SELECT 6 * 7"), "42");
  }
}

}  // namespace
