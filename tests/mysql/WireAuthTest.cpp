// Authentication plugins against the real throwaway server: plugin
// authentication forced with caching_sha2_password announced (the server,
// which does not have it, switches the client to the account's plugin), the
// old-password and empty-password accounts in both kinds of login, and the
// login packet of a plain greeting, seen on the way through a relay.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "ScriptedServer.h"
#include "TestServer.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlAuth.h"
#include "mysql/MySqlErrors.h"
#include "mysql/MySqlSession.h"

namespace da::mysql {
namespace {

using testsupport::Bytes;
using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;
using testsupport::ScriptError;

const std::string kCachingSha2 = "caching_sha2_password";

void Expect(bool ok, const std::string& what) {
  if (!ok) throw ScriptError(what);
}

// What passed through the relay during one login.
struct Exchange {
  Bytes greeting;
  Bytes login;
  std::vector<Bytes> fromServer;  // the answers after the login packet
  std::vector<Bytes> fromClient;  // the client's replies to them
};

// Passes one login between the client and the real server packet by
// packet, recording it; ends after the server's OK or error packet.
ScriptedServer::Script Relay(const testsupport::TestServerInfo& info, Exchange& seen) {
  return [&info, &seen](ScriptedConnection& client) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(info.port));
    ::inet_pton(AF_INET, info.host.c_str(), &addr.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      throw ScriptError("cannot reach the test server");
    }
    ScriptedConnection server(fd);
    ScriptedConnection::Packet p = server.ReadPacket();
    seen.greeting = p.payload;
    client.SendPacket(p.seq, p.payload);
    p = client.ReadPacket();
    seen.login = p.payload;
    server.SendPacket(p.seq, p.payload);
    for (int round = 0; round < 8; ++round) {
      p = server.ReadPacket();
      seen.fromServer.push_back(p.payload);
      client.SendPacket(p.seq, p.payload);
      Expect(!p.payload.empty(), "empty answer from the server");
      if (p.payload[0] == 0x00 || p.payload[0] == 0xFF) return;
      p = client.ReadPacket();
      seen.fromClient.push_back(p.payload);
      server.SendPacket(p.seq, p.payload);
    }
    throw ScriptError("the login did not end");
  };
}

Bytes Sha1(const Bytes& data) {
  Bytes digest(20);
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), digest.data(), &size, EVP_sha1(), nullptr);
  return digest;
}

// The 20-byte challenge of a 4.1 greeting.
Bytes ChallengeOf(const Bytes& greeting) {
  auto versionEnd = std::find(greeting.begin() + 1, greeting.end(), 0);
  size_t p = static_cast<size_t>(versionEnd - greeting.begin()) + 1 + 4;  // thread id
  Bytes challenge(greeting.begin() + p, greeting.begin() + p + 8);
  const size_t filler = p + 8;
  challenge.insert(challenge.end(), greeting.begin() + filler + 19, greeting.begin() + filler + 31);
  return challenge;
}

std::string PluginOf(const Bytes& greeting) {
  // The plugin name is the greeting's last text.
  auto last = greeting.end() - 1;
  Expect(*last == 0, "greeting without a final zero byte");
  auto start = std::find(std::make_reverse_iterator(last), greeting.rend(), 0).base();
  return std::string(start, last);
}

class WireAuth : public testsupport::ServerTest {
 protected:
  void TearDown() override {
    for (TMySqlSession* s : sessions_) api.mysql_close(s);
  }
  TMySqlSession* NewSession(const std::string& plugin = "") {
    TMySqlSession* s = api.mysql_init(nullptr);
    sessions_.push_back(s);
    if (!plugin.empty()) api.mysql_options(s, MYSQL_DEFAULT_AUTH, plugin);
    return s;
  }
  bool Connect(TMySqlSession* s, const std::string& user, const std::string& password, int port = 0) {
    return api.mysql_real_connect(s, server().host, user, password, server().database,
                                  static_cast<uint32_t>(port ? port : server().port), "", 0) != nullptr;
  }
  std::string Scalar(TMySqlSession* s, const std::string& sql) {
    if (api.mysql_real_query(s, sql.data(), static_cast<uint32_t>(sql.size())) != 0) return api.mysql_error(s);
    TMySqlResultSet* result = api.mysql_use_result(s);
    if (!result) return "<no result>";
    std::string value = "<no row>";
    if (TMySqlBinds* row = api.mysql_fetch_row(result)) value = api.GetFieldText(row, 0);
    while (api.mysql_fetch_row(result)) {
    }
    api.mysql_free_result(result);
    return value;
  }

  TMySQLAPIDirect& api = DirectApi();

 private:
  std::vector<TMySqlSession*> sessions_;
};

TEST_F(WireAuth, PlainGreetingGetsTheLoginPacketOfOld) {
  Exchange seen;
  ScriptedServer relay(Relay(server(), seen));
  TMySqlSession* s = NewSession();
  ASSERT_TRUE(Connect(s, server().user, server().password, relay.port())) << api.mysql_error(s);
  ASSERT_EQ(relay.Finish(), "");
  ASSERT_EQ(PluginOf(seen.greeting), "mysql_native_password");

  // Flags, maximum packet, character set, 23 zero bytes, the user, the 4.1
  // token (computed here from its definition), the database; nothing after.
  Bytes expected = {0x8D, 0xA2, 0x03, 0x00, 0x00, 0x00, 0x00, 0x40, 8};
  expected.insert(expected.end(), 23, 0);
  expected.insert(expected.end(), server().user.begin(), server().user.end());
  expected.push_back(0);
  const Bytes challenge = ChallengeOf(seen.greeting);
  const Bytes s1 = Sha1(Bytes(server().password.begin(), server().password.end()));
  Bytes joined = challenge;
  const Bytes s2 = Sha1(s1);
  joined.insert(joined.end(), s2.begin(), s2.end());
  const Bytes t = Sha1(joined);
  expected.push_back(20);
  for (size_t i = 0; i < 20; ++i) expected.push_back(static_cast<uint8_t>(t[i] ^ s1[i]));
  expected.insert(expected.end(), server().database.begin(), server().database.end());
  expected.push_back(0);
  EXPECT_EQ(seen.login, expected);
  ASSERT_EQ(seen.fromServer.size(), 1u);
  EXPECT_EQ(seen.fromServer[0][0], 0x00);
}

TEST_F(WireAuth, ForcedCachingSha2IsSwitchedToTheNativePlugin) {
  Exchange seen;
  ScriptedServer relay(Relay(server(), seen));
  TMySqlSession* s = NewSession(kCachingSha2);
  ASSERT_TRUE(Connect(s, server().user, server().password, relay.port())) << api.mysql_error(s);
  ASSERT_EQ(relay.Finish(), "");

  // The login announces plugin authentication with caching_sha2_password...
  const Bytes& login = seen.login;
  const uint32_t flags = login[0] | login[1] << 8 | login[2] << 16 | uint32_t{login[3]} << 24;
  EXPECT_EQ(flags & CLIENT_PLUGIN_AUTH, CLIENT_PLUGIN_AUTH);
  const std::string tail(login.end() - static_cast<long>(kCachingSha2.size()) - 1, login.end());
  EXPECT_EQ(tail, kCachingSha2 + std::string(1, '\0'));
  // ... the server switches to the account's plugin, and takes its answer.
  ASSERT_EQ(seen.fromServer.size(), 2u);
  const std::string native = "mysql_native_password";
  ASSERT_GT(seen.fromServer[0].size(), native.size() + 1);
  EXPECT_EQ(seen.fromServer[0][0], 0xFE);
  EXPECT_EQ(std::string(seen.fromServer[0].begin() + 1, seen.fromServer[0].begin() + 1 + native.size()), native);
  ASSERT_EQ(seen.fromClient.size(), 1u);
  EXPECT_EQ(seen.fromClient[0].size(), 20u);
  EXPECT_EQ(seen.fromServer[1][0], 0x00);

  // Directly, the session is usable.
  TMySqlSession* direct = NewSession(kCachingSha2);
  ASSERT_TRUE(Connect(direct, server().user, server().password)) << api.mysql_error(direct);
  EXPECT_EQ(Scalar(direct, "SELECT CURRENT_USER()").rfind(server().user + "@", 0), 0u);
}

TEST_F(WireAuth, EveryAccountLogsInWithAndWithoutPluginAuthentication) {
  struct Account {
    std::string user, password;
  };
  const Account accounts[] = {{server().user, server().password},
                              {server().nopwUser, ""},
                              {server().oldUser, server().oldPassword}};
  for (const char* plugin : {"", "caching_sha2_password", "mysql_native_password"}) {
    for (const Account& a : accounts) {
      TMySqlSession* s = NewSession(plugin);
      ASSERT_TRUE(Connect(s, a.user, a.password)) << a.user << " / '" << plugin << "': " << api.mysql_error(s);
      EXPECT_EQ(Scalar(s, "SELECT CURRENT_USER()").rfind(a.user + "@", 0), 0u) << a.user << " / " << plugin;
    }
  }
}

TEST_F(WireAuth, WrongPasswordIsRefusedInBothKindsOfLogin) {
  for (const char* plugin : {"", "caching_sha2_password"}) {
    for (const std::string& user : {server().user, server().oldUser}) {
      TMySqlSession* s = NewSession(plugin);
      EXPECT_FALSE(Connect(s, user, "wrong")) << user << " / " << plugin;
      EXPECT_EQ(api.mysql_errno(s), 1045) << user << " / " << plugin << ": " << api.mysql_error(s);
    }
  }
}

TEST_F(WireAuth, ClearPasswordAskedForOverPlainTcpIsRefused) {
  TMySqlSession* s = NewSession("mysql_clear_password");
  EXPECT_FALSE(Connect(s, server().user, server().password));
  EXPECT_EQ(api.mysql_errno(s), CR_AUTH_PLUGIN_CANNOT_LOAD);
}

}  // namespace
}  // namespace da::mysql
