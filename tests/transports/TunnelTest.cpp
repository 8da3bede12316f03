// The HTTP tunnel: end to end through the tunnel script of the tests to the
// real throwaway server, the script's failures as the user sees them, and
// scripted tunnels for the exact request sequences.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "TransportTestSupport.h"
#include "mysql/MySqlErrors.h"
#include "transports/CRHttp.h"
#include "transports/CRVioHttp.h"

namespace da::transports {
namespace {

using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;
using transporttest::ReadHttpRequest;
using transporttest::SendText;
using transporttest::SqlClient;
using transporttest::TunnelUrl;
using Clock = std::chrono::steady_clock;

// --- Through the tunnel script ----------------------------------------------

class Tunnel : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped() || HasFailure()) return;
    base_ = TunnelUrl();
    if (base_.empty()) {
      if (testsupport::ServerRequired()) FAIL() << "the tunnel script is not running";
      GTEST_SKIP() << "no tunnel script (run the tests through ctest)";
    }
  }

  // A client whose connection goes through the script under `mode`, with
  // every time-out set to `timeout` seconds when given.
  void Attach(SqlClient& client, const std::string& mode, int timeout = 0) {
    options_.SetUrl(base_ + "/" + mode);
    mysql::AttachHttpOptions(client.session, &options_);
    if (timeout <= 0) return;
    for (int option : {mysql::MYSQL_OPT_CONNECT_TIMEOUT, mysql::MYSQL_OPT_READ_TIMEOUT, mysql::MYSQL_OPT_WRITE_TIMEOUT})
      client.SetInt(option, timeout);
  }

  static TCRVioHttp& Transport(SqlClient& client) {
    return dynamic_cast<TCRVioHttp&>(*client.session->Net().Transport());
  }

  // What the script saw on connection `number`: "w <POST sizes>\nl <keep-alives>\n".
  std::string Stats(int32_t number) {
    TCRHttp http(base_ + "/tunnel/?a=stats&port=" + std::to_string(number));
    http.GetRequest();
    std::string out;
    uint8_t buffer[4096];
    while (int32_t n = http.ReadBody(buffer, 0, sizeof buffer)) out.append(reinterpret_cast<char*>(buffer), n);
    return out;
  }

  std::string base_;
  THttpOptions options_;
};

TEST_F(Tunnel, LoginAndQueriesEndToEnd) {
  SqlClient client;
  Attach(client, "tunnel");  // no trailing "/": one is added
  ASSERT_TRUE(client.Connect(server())) << client.Error();
  EXPECT_EQ(client.HostInfo(), server().host + " via HTTP");
  EXPECT_EQ(Transport(client).BaseUrl(), base_ + "/tunnel/");
  EXPECT_EQ(client.Scalar("SELECT 6 * 7"), "42");
  ASSERT_TRUE(client.Exec("CREATE TEMPORARY TABLE tun (id INT, v VARCHAR(20))")) << client.Error();
  ASSERT_TRUE(client.Exec("INSERT INTO tun VALUES (1, 'um'), (2, NULL), (3, 'tr\xEAs')")) << client.Error();
  auto rows = client.Rows("SELECT id, v FROM tun ORDER BY id");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][1], "um");
  EXPECT_FALSE(rows[1][1]);
  EXPECT_EQ(rows[2][1], "tr\xEAs");
  // A result far larger than one read: answered over many read requests,
  // each read on through its look-ahead byte.
  std::string expected;
  for (int i = 0; i < 1000000; ++i) expected += "xyz";
  auto big = client.Rows("SELECT REPEAT('xyz', 1000000), 'after'");
  ASSERT_EQ(big.size(), 1u);
  EXPECT_TRUE(big[0][0] && *big[0][0] == expected);
  EXPECT_EQ(big[0][1], "after");
  EXPECT_EQ(client.Scalar("SELECT CONNECTION_ID() > 0"), "1");
}

TEST_F(Tunnel, SslAskedForIsNeverDroppedForTheTunnel) {
  // The tunnel cannot start SSL: asked for both, the login does not go out
  // in clear through it.
  SqlClient client;
  Attach(client, "tunnel");
  client.SetInt(mysql::MYSQL_OPT_PROTOCOL, mysql::mpSSL);
  EXPECT_FALSE(client.Connect(server()));
  EXPECT_EQ(client.Errno(), 2026);
  EXPECT_NE(client.Error().find("SSL cannot be started over this transport"), std::string::npos) << client.Error();
}

TEST_F(Tunnel, AFiveMiBStatementGoesAsPostsOfAtMostTwoMiB) {
  SqlClient client;
  Attach(client, "tunnel");
  ASSERT_TRUE(client.Connect(server())) << client.Error();
  std::string value(5 * 1048576, 'k');
  EXPECT_EQ(client.Scalar("SELECT LENGTH('" + value + "')"), "5242880") << client.Error();
  std::string stats = Stats(Transport(client).ConnectionNumber());
  EXPECT_NE(stats.find(",2097152,2097152,"), std::string::npos) << stats;
}

TEST_F(Tunnel, AFiveMiBWriteIsThreePosts) {
  THttpOptions options;
  options.SetUrl(base_ + "/sink/");
  TCRVioHttp vio(options, server().port, server().host);
  vio.SetIoTimeout(10);
  vio.Connect();
  std::string data(5 * 1048576, 'w');
  EXPECT_EQ(vio.Write(reinterpret_cast<const uint8_t*>(data.data()), 0, static_cast<int32_t>(data.size())),
            5 * 1048576);
  EXPECT_EQ(Stats(vio.ConnectionNumber()), "OK:w 2097152,2097152,1048576\nl 0\n");
  vio.Close();
}

TEST_F(Tunnel, KeepAliveHoldsAnIdleConnection) {
  // This script drops a connection idle for 4 s and asks for a keep-alive
  // every 4 s: the client sends one after 2 s of idleness.
  SqlClient client;
  Attach(client, "ka4");
  ASSERT_TRUE(client.Connect(server())) << client.Error();
  EXPECT_EQ(Transport(client).KeepAliveInterval(), 2000);
  EXPECT_EQ(client.Scalar("SELECT 1"), "1");
  std::this_thread::sleep_for(std::chrono::seconds(7));
  EXPECT_EQ(client.Scalar("SELECT 2"), "2") << client.Error();
  std::string stats = Stats(Transport(client).ConnectionNumber());
  EXPECT_EQ(stats.find("l 0\n"), std::string::npos) << stats;
  EXPECT_EQ(stats.find("l 1\n"), std::string::npos) << stats;
}

TEST_F(Tunnel, ACaseInsensitiveOkAndBasicCredentialsAreAccepted) {
  {
    SqlClient client;
    Attach(client, "lower");
    ASSERT_TRUE(client.Connect(server())) << client.Error();
    EXPECT_EQ(client.Scalar("SELECT 'lower ok'"), "lower ok");
  }
  {
    SqlClient client;
    options_.SetUsername("tunnel");
    options_.SetPassword("secret");
    Attach(client, "auth");
    ASSERT_TRUE(client.Connect(server())) << client.Error();
    EXPECT_EQ(client.Scalar("SELECT 'auth ok'"), "auth ok");
  }
}

TEST_F(Tunnel, ScriptFailuresReachTheUser) {
  const std::string cannot = "Can't connect to MySQL server on '127.0.0.1' (10061)\r\nCannot establish HTTP connection";
  const struct {
    const char* mode;
    int32_t code;
    std::string message;  // the whole message, or its end after "..."
  } cases[] = {
      {"er", mysql::CR_SERVER_LOST, "...The relay refused the request"},
      {"junk", mysql::CR_SERVER_LOST, "...HTTP Script unknown error: XYZ is not an answer"},
      {"badtest", mysql::CR_CONN_HOST_ERROR, cannot},
      {"auth", mysql::CR_CONN_HOST_ERROR, cannot},  // no credentials: 401
      {"nosuchmode", mysql::CR_CONN_HOST_ERROR, cannot},  // 404
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    SqlClient client;
    Attach(client, c.mode, 2);
    EXPECT_FALSE(client.Connect(server()));
    EXPECT_EQ(client.Errno(), c.code) << client.Error();
    std::string error = client.Error();
    if (c.message.rfind("...", 0) == 0) {
      std::string tail = c.message.substr(3);
      EXPECT_TRUE(error.size() >= tail.size() && error.compare(error.size() - tail.size(), tail.size(), tail) == 0)
          << error;
    } else {
      EXPECT_EQ(error, c.message);
    }
  }
}

TEST_F(Tunnel, AScriptThatStopsAnsweringCostsOnlyTheTimeOut) {
  auto started = Clock::now();
  {
    SqlClient client;
    Attach(client, "mute", 2);
    EXPECT_FALSE(client.Connect(server()));
    EXPECT_EQ(client.Errno(), mysql::CR_SERVER_LOST) << client.Error();
    EXPECT_NE(client.Error().find("Socket error on read"), std::string::npos) << client.Error();
  }  // closing sends the close request, which gets no answer either
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(30));
}

TEST_F(Tunnel, AScriptThatIsNotThereFailsTheConnect) {
  SqlClient client;
  options_.SetUrl("http://127.0.0.1:" + std::to_string(testsupport::UnusedPort()) + "/tunnel/");
  mysql::AttachHttpOptions(client.session, &options_);
  client.SetInt(mysql::MYSQL_OPT_CONNECT_TIMEOUT, 2);
  auto started = Clock::now();
  EXPECT_FALSE(client.Connect(server()));
  EXPECT_EQ(client.Errno(), mysql::CR_CONN_HOST_ERROR);
  EXPECT_EQ(client.Error(), "Can't connect to MySQL server on '127.0.0.1' (10061)\r\nCannot establish HTTP connection");
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(30));
}

// --- Scripted tunnels -------------------------------------------------------

// Answers tunnel requests by their action; counts them.
struct ScriptedTunnel {
  std::map<char, std::string> answers;  // body per action
  std::map<char, int> seen;
  std::vector<std::string> requestLines;
  std::vector<transporttest::HttpRequest> requests;

  ScriptedServer::Script Script() {
    return [this](ScriptedConnection& c) {
      transporttest::HttpRequest request;
      try {
        request = ReadHttpRequest(c);
      } catch (const testsupport::ScriptError&) {
        // A connect request the client aborted before this server took it
        // (the server serves one connection at a time): nothing to answer.
        return;
      }
      requests.push_back(request);
      requestLines.push_back(request.lines[0]);
      size_t at = request.lines[0].find("?a=");
      char action = at == std::string::npos ? '?' : request.lines[0][at + 3];
      ++seen[action];
      SendText(c, "HTTP/1.0 200 OK\r\n\r\n" + answers[action]);
    };
  }
};

TEST(TunnelScripted, ReadsGoOnFromTheLookAheadByteWithoutANewRequest) {
  ScriptedTunnel script;
  script.answers = {{'c', "OK:"}, {'t', "OK:17\r\n0\r\n"}, {'r', "OK:abcdefghij"}, {'x', "OK:"}};
  {
    ScriptedServer server(script.Script(), 4);
    THttpOptions options;
    options.SetUrl("http://127.0.0.1:" + std::to_string(server.port()) + "/t.php");
    TCRVioHttp vio(options, 3306, "db.local");
    vio.SetIoTimeout(10);
    vio.Connect();
    EXPECT_EQ(vio.ConnectionNumber(), 17);
    EXPECT_EQ(vio.KeepAliveInterval(), 0);  // keep-alive 0: no timer
    uint8_t buffer[16] = {};
    EXPECT_FALSE(vio.WaitForReadable(0));
    EXPECT_EQ(vio.ReceiveOnce(buffer, 0, 4), 4);
    EXPECT_TRUE(vio.WaitForReadable(0));
    EXPECT_EQ(vio.ReceiveOnce(buffer, 4, 4), 4);
    EXPECT_EQ(vio.ReceiveOnce(buffer, 8, 8), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), "abcdefghij");
    EXPECT_FALSE(vio.WaitForReadable(0));
    vio.Close();
    EXPECT_EQ(vio.ReceiveOnce(buffer, 0, 4), 0);  // closed
    EXPECT_EQ(server.Finish(), "");
  }
  EXPECT_EQ(script.seen['r'], 1);
  EXPECT_EQ(script.seen['x'], 1);
  ASSERT_GE(script.requestLines.size(), 4u);
  for (const std::string& line : script.requestLines) {
    if (line.find("?a=t") != std::string::npos) {
      EXPECT_EQ(line.find("GET /t.php/?a=t&s=db.local&p=3306&id="), 0u) << line;
    }
    if (line.find("?a=r") != std::string::npos) {
      EXPECT_EQ(line, "GET /t.php/?a=r&port=17 HTTP/1.0");
    }
  }
}

TEST(TunnelScripted, RequestsGoThroughTheProxyWithBothCredentials) {
  ScriptedTunnel script;
  script.answers = {{'c', "OK:"}, {'t', "OK:3\r\n0\r\n"}, {'x', "OK:"}};
  {
    ScriptedServer proxy(script.Script(), 3);
    THttpOptions options;
    options.SetUrl("http://tunnel.example/t.php");
    options.SetUsername("web");
    options.SetPassword("pw");
    options.ProxyOptions().SetHostname("127.0.0.1");
    options.ProxyOptions().SetPort(proxy.port());
    options.ProxyOptions().SetUsername("px");
    options.ProxyOptions().SetPassword("ppw");
    TCRVioHttp vio(options, 3307, "10.0.0.5");
    vio.SetIoTimeout(10);
    vio.Connect();
    vio.Close();
    EXPECT_EQ(proxy.Finish(), "");
  }
  ASSERT_EQ(script.requests.size(), 3u);
  for (const auto& request : script.requests) {
    EXPECT_EQ(request.lines[0].rfind("GET http://tunnel.example/t.php/?a=", 0), 0u) << request.lines[0];
    EXPECT_EQ(request.Header("Authorization"), "Basic d2ViOnB3");
    EXPECT_EQ(request.Header("Proxy-Authorization"), "Basic cHg6cHB3");
    EXPECT_EQ(request.Header("Port"), " 80");
  }
  EXPECT_EQ(script.seen['x'], 1);
  for (const std::string& line : script.requestLines) {
    if (line.find("?a=c") != std::string::npos) {
      EXPECT_NE(line.find("?a=c&s=10.0.0.5&p=3307&id="), std::string::npos) << line;
      EXPECT_NE(line.find("&port=0 HTTP/1.0"), std::string::npos) << line;
    }
    if (line.find("?a=x") != std::string::npos) {
      EXPECT_EQ(line, "GET http://tunnel.example/t.php/?a=x&port=3 HTTP/1.0");
    }
  }
}

TEST(TunnelScripted, CloseAfterTheScriptHasGoneReturnsAtOnce) {
  ScriptedTunnel script;
  script.answers = {{'c', "OK:"}, {'t', "OK:5\r\n0\r\n"}};
  THttpOptions options;
  std::unique_ptr<TCRVioHttp> vio;
  {
    ScriptedServer server(script.Script(), 2);
    options.SetUrl("http://127.0.0.1:" + std::to_string(server.port()) + "/");
    vio = std::make_unique<TCRVioHttp>(options, 3306, "127.0.0.1");
    vio->SetIoTimeout(30);
    vio->Connect();
    EXPECT_EQ(server.Finish(), "");
  }
  auto started = Clock::now();
  uint8_t buffer[4];
  EXPECT_EQ(vio->ReceiveOnce(buffer, 0, 4), 0);
  EXPECT_NE(vio->ErrorText(), "");
  vio->Close();
  EXPECT_TRUE(vio->IsClosed());
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));
}

TEST(TunnelScripted, AnErrorAnswerClosesTheTunnel) {
  ScriptedTunnel script;
  script.answers = {{'c', "OK:"}, {'t', "OK:5\r\n0\r\n"}, {'w', "ER:"}, {'x', "OK:"}};
  ScriptedServer server(script.Script(), 4);
  THttpOptions options;
  options.SetUrl("http://127.0.0.1:" + std::to_string(server.port()) + "/");
  TCRVioHttp vio(options, 3306, "127.0.0.1");
  vio.SetIoTimeout(10);
  vio.Connect();
  const uint8_t bytes[3] = {1, 2, 3};
  EXPECT_EQ(vio.Write(bytes, 0, 3), 0);
  EXPECT_EQ(vio.ErrorText(), "HTTP Script reported error");
  EXPECT_TRUE(vio.IsClosed());
  EXPECT_EQ(vio.Write(bytes, 0, 3), 0);  // closed: nothing sent
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(script.seen['w'], 1);
}

TEST(TunnelScripted, AFailedKeepAliveIsReportedByTheNextRead) {
  ScriptedTunnel script;
  // A keep-alive of 2 s: one after 1 s of idleness.
  script.answers = {{'c', "OK:"}, {'t', "OK:9\r\n2\r\n"}, {'l', "ER:relay expired"}, {'x', "OK:"}};
  ScriptedServer server(script.Script(), 4);
  THttpOptions options;
  options.SetUrl("http://127.0.0.1:" + std::to_string(server.port()) + "/");
  TCRVioHttp vio(options, 3306, "127.0.0.1");
  vio.SetIoTimeout(10);
  vio.Connect();
  EXPECT_EQ(vio.KeepAliveInterval(), 1000);
  auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!vio.IsClosed() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(vio.IsClosed());
  uint8_t buffer[4];
  EXPECT_EQ(vio.ReceiveOnce(buffer, 0, 4), 0);
  EXPECT_EQ(vio.ErrorText(), "relay expired");
  EXPECT_EQ(vio.ReceiveOnce(buffer, 0, 4), 0);
  EXPECT_EQ(vio.ErrorText(), "");  // reported once
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(script.seen['l'], 1);
  EXPECT_EQ(script.seen['r'], 0);
}

TEST(TunnelUnit, KeepAliveInterval) {
  const struct {
    int32_t keepAlive, timeout;
    int64_t ms;
  } cases[] = {{60, 15, 45000}, {20, 15, 10000}, {0, 15, 0}, {4, 0, 2000}, {20, 0, 13000}, {31, 15, 16000}};
  for (const auto& c : cases)
    EXPECT_EQ(TCRVioHttp::KeepAliveIntervalMs(c.keepAlive, c.timeout), c.ms) << c.keepAlive << "/" << c.timeout;
}

TEST(TunnelUnit, TheTunnelIdIsTwoNumbersAndTheUrlGetsItsSlash) {
  THttpOptions options;
  options.SetUrl("  http://web.example/tunnel.php ");
  TCRVioHttp vio(options, 3306, "localhost");
  EXPECT_EQ(vio.BaseUrl(), "http://web.example/tunnel.php/");
  const std::string& id = vio.TunnelId();
  size_t sep = id.find('_');
  ASSERT_NE(sep, std::string::npos) << id;
  EXPECT_TRUE(sep >= 1 && sep <= 6 && id.size() - sep - 1 >= 1 && id.size() - sep - 1 <= 6) << id;
  EXPECT_EQ(id.find_first_not_of("0123456789_"), std::string::npos) << id;
  EXPECT_TRUE(vio.IsClosed());
  uint8_t buffer[1];
  EXPECT_EQ(vio.ReceiveOnce(buffer, 0, 1), 0);
  EXPECT_EQ(vio.Write(buffer, 0, 1), 0);
}

}  // namespace
}  // namespace da::transports
