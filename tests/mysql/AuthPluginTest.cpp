// Authentication plugins against our scripted server: caching_sha2_password
// on every path (fast, full over TLS, full over plain TCP with the RSA key
// exchange, wrong passwords), plugin switches, servers that ask for the
// password in clear, exchanges that do not end, and the known answers of
// the scrambles.
#include "mysql/MySqlAuth.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "ScriptedServer.h"
#include "TlsTestSupport.h"
#include "WireTestSupport.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlErrors.h"
#include "mysql/MySqlSession.h"

namespace da::mysql {
namespace {

using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;
using testsupport::ScriptError;
using namespace wiretest;

const std::string kUser = "da_user";
const std::string kPassword = "secret pw";
const std::string kCachingSha2 = "caching_sha2_password";

// A second challenge, as a switch request carries it.
const uint8_t kSwitchNonce[20] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J',
                                  'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R', 'S', 'T'};

// Known answers, computed outside this code base (Python's hashlib):
// caching_sha2_password of "secret pw" with "abcdefghijklmnopqrst".
const Bytes kSha2Answer = {0xC8, 0x98, 0x35, 0x67, 0xBC, 0x79, 0x04, 0x54, 0xE4, 0x1D, 0x9D,
                           0xFA, 0x06, 0x3F, 0xC1, 0xE9, 0x0D, 0x22, 0xAD, 0xFE, 0xF1, 0x99,
                           0xAE, 0x33, 0x38, 0x19, 0xB4, 0x23, 0x67, 0x6C, 0xEB, 0x3A};
// ... with "ABCDEFGHIJKLMNOPQRST".
const Bytes kSha2AnswerSwitched = {0x8B, 0x4E, 0x18, 0x9D, 0x2A, 0xE2, 0x44, 0x97, 0x86, 0xE0, 0x1F,
                                   0x6C, 0xEE, 0x0B, 0x0F, 0xFF, 0x2E, 0xA0, 0x9E, 0x27, 0x57, 0xC2,
                                   0xF6, 0x96, 0xAF, 0xDC, 0xD0, 0x63, 0xE5, 0x9D, 0x44, 0x00};
// "\xE7\xE3o pw" (8-bit characters) with "abcdefghijklmnopqrst".
const Bytes kSha2Answer8Bit = {0x6E, 0x39, 0x85, 0x2C, 0x0A, 0x94, 0x74, 0x5D, 0x35, 0x62, 0x5F,
                               0xE7, 0xEE, 0x05, 0xBF, 0xD0, 0x9A, 0xB0, 0xDD, 0x5F, 0x77, 0xDD,
                               0xCE, 0x55, 0x54, 0x65, 0xFF, 0x2C, 0xBE, 0x47, 0x5A, 0xCC};
// mysql_native_password of "secret pw" with "ABCDEFGHIJKLMNOPQRST".
const Bytes kNativeAnswerSwitched = {0x7B, 0x65, 0x18, 0x3B, 0x53, 0x6E, 0x8D, 0x01, 0xA7, 0xAE,
                                     0xB9, 0xB7, 0x5F, 0xFD, 0x7B, 0x6E, 0xFD, 0x11, 0xBE, 0x08};

void Expect(bool ok, const std::string& what) {
  if (!ok) throw ScriptError(what);
}

// A current server: 4.1 capabilities, multiple results, plugin authentication.
constexpr uint32_t kCaps80 = kCaps41 | CLIENT_MULTI_STATEMENTS | CLIENT_MULTI_RESULTS | CLIENT_PLUGIN_AUTH;

Bytes Greeting80(const std::string& plugin, uint32_t caps = kCaps80) {
  Bytes p{10};
  PutZ(p, "8.0.36");
  PutLE(p, 9, 4);  // thread id
  p.insert(p.end(), kScramble, kScramble + 8);
  p.push_back(0);  // filler
  PutLE(p, caps & 0xFFFF, 2);
  p.push_back(255);  // language
  PutLE(p, 2, 2);    // status
  PutLE(p, caps >> 16, 2);
  p.push_back(21);  // length of the challenge with its zero byte
  p.insert(p.end(), 10, 0);
  p.insert(p.end(), kScramble + 8, kScramble + 20);
  p.push_back(0);
  PutZ(p, plugin);
  return p;
}

// The parts of a 4.1 login packet, read within its bounds.
struct Login {
  uint32_t flags = 0;
  std::string user;
  Bytes auth;
  std::string database;
  std::string plugin;
  bool hasPlugin = false;
};

Login ParseLogin(const Bytes& p) {
  Login l;
  size_t at = 32;
  Expect(p.size() >= at, "login shorter than its head");
  l.flags = p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
  auto zstring = [&](std::string& out) {
    size_t end = at;
    while (end < p.size() && p[end] != 0) ++end;
    Expect(end < p.size(), "text without its zero byte");
    out.assign(p.begin() + at, p.begin() + end);
    at = end + 1;
  };
  zstring(l.user);
  Expect(at < p.size(), "no authentication data");
  size_t length = p[at++];
  Expect(at + length <= p.size(), "authentication data cut");
  l.auth.assign(p.begin() + at, p.begin() + at + length);
  at += length;
  zstring(l.database);
  if (at < p.size()) {
    zstring(l.plugin);
    l.hasPlugin = true;
  }
  Expect(at == p.size(), "bytes after the login packet's fields");
  return l;
}

Bytes MoreData(std::initializer_list<uint8_t> bytes) {
  Bytes p{0x01};
  p.insert(p.end(), bytes);
  return p;
}

Bytes SwitchRequest(const std::string& plugin, const uint8_t* nonce, size_t length, bool trailingZero = true) {
  Bytes p{0xFE};
  PutZ(p, plugin);
  p.insert(p.end(), nonce, nonce + length);
  if (trailingZero) p.push_back(0);
  return p;
}

Bytes AccessDenied() { return ErrorPacket(1045, "#28000Access denied for user 'da_user'@'localhost'"); }

// Everything the client sends until it closes the connection.
Bytes RestUntilClose(ScriptedConnection& c) {
  c.SetTimeoutMs(10000);
  Bytes rest;
  try {
    for (;;) {
      Bytes b = c.Read(1);
      rest.push_back(b[0]);
    }
  } catch (const ScriptError&) {
  }
  return rest;
}

bool Contains(const Bytes& haystack, const std::string& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

// The client closes after a failed login with a lone COM_QUIT at most.
void ExpectNothingButQuit(const Bytes& rest) {
  Expect(rest.empty() || rest == Bytes({1, 0, 0, 0, 1}), "the client sent " + std::to_string(rest.size()) +
                                                             " bytes after the refusal");
}

struct Client {
  TMySQLAPIDirect& api = DirectApi();
  TMySqlSession* session = api.mysql_init(nullptr);
  ~Client() { api.mysql_close(session); }
  bool Connect(int port, const std::string& password = kPassword) {
    return api.mysql_real_connect(session, "127.0.0.1", kUser, password, "db", static_cast<uint32_t>(port), "",
                                  0) != nullptr;
  }
  void Option(int option, const std::string& value) { api.mysql_options(session, option, value); }
  void Option(int option, int32_t value) { api.mysql_options(session, option, &value); }
  int32_t Errno() { return api.mysql_errno(session); }
  std::string Error() { return api.mysql_error(session); }
};

// Installs test transports for the protocols built outside the wire client.
class ScopedFactories {
 public:
  ScopedFactories() : saved_(TransportFactories()) {}
  ~ScopedFactories() { TransportFactories() = saved_; }

 private:
  TTransportFactories saved_;
};

// --- Known answers --------------------------------------------------------------

TEST(AuthScramble, CachingSha2KnownAnswers) {
  auto answer = [](const std::string& password, const uint8_t* nonce) {
    TSha256Digest d = ScrambleCachingSha2(password, nonce, 20);
    return Bytes(d.begin(), d.end());
  };
  EXPECT_EQ(answer(kPassword, kScramble), kSha2Answer);
  EXPECT_EQ(answer(kPassword, kSwitchNonce), kSha2AnswerSwitched);
  EXPECT_EQ(answer("\xE7\xE3o pw", kScramble), kSha2Answer8Bit);
  TSHA1Managed::TDigest native = Scramble41(kPassword, kSwitchNonce);
  EXPECT_EQ(Bytes(native.begin(), native.end()), kNativeAnswerSwitched);
}

TEST(AuthScramble, RsaEncryptionDecryptsToThePasswordXoredWithTheNonce) {
  Bytes cipher = EncryptPasswordRsa(kPassword, kScramble, 20, TestKey::Get().PublicPem());
  EXPECT_EQ(cipher.size(), 256u);
  Bytes plain = TestKey::Get().Decrypt(cipher);
  ASSERT_EQ(plain.size(), kPassword.size() + 1);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] ^= kScramble[i % 20];
  EXPECT_EQ(plain, Bytes({'s', 'e', 'c', 'r', 'e', 't', ' ', 'p', 'w', 0}));
  // OAEP is randomised: the same password never gives the same bytes twice.
  EXPECT_NE(EncryptPasswordRsa(kPassword, kScramble, 20, TestKey::Get().PublicPem()), cipher);
}

TEST(AuthScramble, UnusableKeysAreClearErrors) {
  const std::string cases[] = {"", "-----BEGIN PUBLIC KEY-----\nnot base64\n-----END PUBLIC KEY-----\n",
                               std::string(300, 'k')};
  for (const std::string& pem : cases) {
    try {
      EncryptPasswordRsa(kPassword, kScramble, 20, pem);
      ADD_FAILURE() << "accepted " << pem;
    } catch (const EMySqlException& e) {
      EXPECT_EQ(e.ErrorCode(), CR_AUTH_PLUGIN_ERR);
      EXPECT_EQ(e.Message(), "\r\nAuthentication plugin 'caching_sha2_password' reported error: "
                             "the server's public key is not a PEM RSA public key");
    }
  }
  // A 2048-bit key takes at most 214 bytes: the password and its zero byte.
  EXPECT_NO_THROW(EncryptPasswordRsa(std::string(213, 'p'), kScramble, 20, TestKey::Get().PublicPem()));
  try {
    EncryptPasswordRsa(std::string(214, 'p'), kScramble, 20, TestKey::Get().PublicPem());
    ADD_FAILURE() << "a password too long for the key was accepted";
  } catch (const EMySqlException& e) {
    EXPECT_EQ(e.ErrorCode(), CR_AUTH_PLUGIN_ERR);
  }
}

// --- caching_sha2_password --------------------------------------------------------

// How the scripted server runs caching_sha2_password for one login.
struct Sha2Server {
  std::string password = kPassword;  // the account's
  bool cached = true;                // the fast path can succeed
  bool tls = false;                  // the client switches to TLS first
  // Filled in by the script.
  Login login;
  Bytes fullAnswer;    // what the client sent for the full path
  bool keyAsked = false;
  bool loggedIn = false;

  void Run(ScriptedConnection& c) {
    ServerChannel ch(c);
    ch.SendPacket(0, Greeting80(kCachingSha2, kCaps80 | (tls ? CLIENT_SSL : 0)));
    uint8_t seq = 1;
    if (tls) {
      ScriptedConnection::Packet request = c.ReadPacket();
      Expect(request.payload.size() == 32 && (request.payload[1] & (CLIENT_SSL >> 8)), "SSL request");
      ch.StartTls();
      ++seq;
    }
    ScriptedConnection::Packet p = ch.ReadPacket();
    Expect(p.seq == seq, "login seq " + std::to_string(p.seq));
    login = ParseLogin(p.payload);
    seq = static_cast<uint8_t>(p.seq + 1);
    // The account's answer, known in advance.
    Expect(password == kPassword || password.empty(), "no known answer for this password");
    const bool right = login.auth == (password.empty() ? Bytes() : kSha2Answer);
    if (cached) {
      if (!right) return ch.SendPacket(seq, AccessDenied());
      ch.SendPacket(seq++, MoreData({0x03}));
      ch.SendPacket(seq, OkPacket());
      loggedIn = true;
      return;
    }
    ch.SendPacket(seq++, MoreData({0x04}));
    p = ch.ReadPacket();
    Expect(p.seq == seq, "full-path answer seq " + std::to_string(p.seq));
    seq = static_cast<uint8_t>(p.seq + 1);
    Bytes plain;
    if (ch.Secure()) {
      fullAnswer = p.payload;
      plain = p.payload;
    } else {
      if (p.payload == Bytes{0x02}) {
        keyAsked = true;
        std::string pem = TestKey::Get().PublicPem();
        Bytes key{0x01};
        key.insert(key.end(), pem.begin(), pem.end());
        ch.SendPacket(seq++, key);
        p = ch.ReadPacket();
        Expect(p.seq == seq, "encrypted password seq " + std::to_string(p.seq));
        seq = static_cast<uint8_t>(p.seq + 1);
      }
      fullAnswer = p.payload;
      plain = TestKey::Get().Decrypt(p.payload);
      for (size_t i = 0; i < plain.size(); ++i) plain[i] ^= kScramble[i % 20];
    }
    Bytes want(password.begin(), password.end());
    want.push_back(0);
    if (plain != want) return ch.SendPacket(seq, AccessDenied());
    ch.SendPacket(seq, OkPacket());
    loggedIn = true;
  }
};

TEST(CachingSha2, FastPath) {
  Sha2Server script;
  ScriptedServer server([&](ScriptedConnection& c) {
    script.Run(c);
    Expect(c.Read(5) == Bytes({1, 0, 0, 0, 0x0E}), "ping after the login");
    c.SendPacket(1, OkPacket());
  });
  Client client;
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  EXPECT_EQ(client.api.mysql_ping(client.session), 0) << client.Error();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_TRUE(script.loggedIn);
  EXPECT_EQ(script.login.flags & CLIENT_PLUGIN_AUTH, CLIENT_PLUGIN_AUTH);
  EXPECT_EQ(script.login.user, kUser);
  EXPECT_EQ(script.login.auth, kSha2Answer);
  EXPECT_EQ(script.login.database, "db");
  EXPECT_EQ(script.login.plugin, kCachingSha2);
  EXPECT_EQ(client.session->ServerAuthPlugin(), kCachingSha2);
}

TEST(CachingSha2, EmptyPasswordSendsAnEmptyAnswer) {
  Sha2Server script;
  script.password = "";
  ScriptedServer server([&](ScriptedConnection& c) {
    c.SendPacket(0, Greeting80(kCachingSha2));
    script.login = ParseLogin(c.ReadPacket().payload);
    c.SendPacket(2, OkPacket());
  });
  Client client;
  ASSERT_TRUE(client.Connect(server.port(), "")) << client.Error();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(script.login.auth, Bytes());
  EXPECT_EQ(script.login.plugin, kCachingSha2);
}

TEST(CachingSha2, FullPathOverTlsSendsThePassword) {
  ScopedFactories scoped;
  TransportFactories().ssl = [](const TTransportSettings& s) { return std::make_unique<TTestTlsVio>(s.host, s.port); };
  TransportFactories().startSsl = [](TCRVio& vio) { dynamic_cast<TTestTlsVio&>(vio).StartTls(); };
  Sha2Server script;
  script.cached = false;
  script.tls = true;
  ScriptedServer server([&](ScriptedConnection& c) { script.Run(c); });
  Client client;
  client.api.mysql_ssl_set(client.session, "", "", "", "", "");
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_TRUE(script.loggedIn);
  EXPECT_EQ(script.fullAnswer, Bytes({'s', 'e', 'c', 'r', 'e', 't', ' ', 'p', 'w', 0}));
  EXPECT_NE(script.login.flags & CLIENT_SSL, 0u);
}

TEST(CachingSha2, FullPathOverALocalTransportSendsThePassword) {
  // A transport that says nobody else can read it (as a local socket does).
  class TLocalVio : public TCRVioTcp {
   public:
    using TCRVioTcp::TCRVioTcp;
    bool IsSecure() const override { return true; }
  };
  ScopedFactories scoped;
  TransportFactories().pipe = [](const TTransportSettings& s) { return std::make_unique<TLocalVio>(s.host, s.port); };
  Sha2Server script;
  script.cached = false;
  ScriptedServer server([&](ScriptedConnection& c) {
    // The same server, but it takes the password as it comes.
    c.SendPacket(0, Greeting80(kCachingSha2));
    script.login = ParseLogin(c.ReadPacket().payload);
    c.SendPacket(2, MoreData({0x04}));
    ScriptedConnection::Packet p = c.ReadPacket();
    Expect(p.seq == 3, "password seq");
    script.fullAnswer = p.payload;
    c.SendPacket(4, OkPacket());
  });
  Client client;
  client.Option(MYSQL_OPT_PROTOCOL, int32_t{mpPipe});
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(script.fullAnswer, Bytes({'s', 'e', 'c', 'r', 'e', 't', ' ', 'p', 'w', 0}));
}

TEST(CachingSha2, FullPathOverPlainTcpAsksForTheKeyAndEncrypts) {
  Sha2Server script;
  script.cached = false;
  ScriptedServer server([&](ScriptedConnection& c) { script.Run(c); });
  Client client;
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_TRUE(script.keyAsked);
  EXPECT_TRUE(script.loggedIn);
  EXPECT_EQ(script.fullAnswer.size(), 256u);
  EXPECT_FALSE(Contains(script.fullAnswer, kPassword));
}

TEST(CachingSha2, FullPathWithTheKeyFromAFile) {
  std::string path = ::testing::TempDir() + "auth_server_key_" + std::to_string(::getpid()) + ".pem";
  {
    std::ofstream(path) << TestKey::Get().PublicPem();
  }
  Sha2Server script;
  script.cached = false;
  ScriptedServer server([&](ScriptedConnection& c) { script.Run(c); });
  Client client;
  client.Option(MYSQL_SERVER_PUBLIC_KEY, path);
  const bool connected = client.Connect(server.port());
  std::remove(path.c_str());
  ASSERT_TRUE(connected) << client.Error();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_FALSE(script.keyAsked);
  EXPECT_TRUE(script.loggedIn);
}

TEST(CachingSha2, FullPathWithAMissingKeyFileFailsWithoutSendingThePassword) {
  Bytes rest;
  ScriptedServer server([&](ScriptedConnection& c) {
    c.SendPacket(0, Greeting80(kCachingSha2));
    c.ReadPacket();
    c.SendPacket(2, MoreData({0x04}));
    rest = RestUntilClose(c);
  });
  Client client;
  client.Option(MYSQL_SERVER_PUBLIC_KEY, std::string("/nonexistent/server-key.pem"));
  EXPECT_FALSE(client.Connect(server.port()));
  EXPECT_EQ(client.Errno(), CR_AUTH_PLUGIN_ERR);
  EXPECT_EQ(client.Error(), "\r\nAuthentication plugin 'caching_sha2_password' reported error: cannot open the "
                            "server's public key file '/nonexistent/server-key.pem'");
  client.api.mysql_close(client.session);
  client.session = nullptr;
  EXPECT_EQ(server.Finish(), "");
  ExpectNothingButQuit(rest);
}

TEST(CachingSha2, FullPathWithoutAnyWayToSendThePasswordIs2061) {
  Bytes rest;
  ScriptedServer server([&](ScriptedConnection& c) {
    c.SendPacket(0, Greeting80(kCachingSha2));
    c.ReadPacket();
    c.SendPacket(2, MoreData({0x04}));
    rest = RestUntilClose(c);
  });
  Client client;
  client.Option(MYSQL_OPT_GET_SERVER_PUBLIC_KEY, 0);
  EXPECT_FALSE(client.Connect(server.port()));
  EXPECT_EQ(client.Errno(), CR_AUTH_PLUGIN_ERR);
  EXPECT_EQ(client.Error().rfind("\r\nAuthentication plugin 'caching_sha2_password' reported error: "
                                 "Authentication requires secure connection",
                                 0),
            0u)
      << client.Error();
  client.api.mysql_close(client.session);
  client.session = nullptr;
  EXPECT_EQ(server.Finish(), "");
  ExpectNothingButQuit(rest);
}

TEST(CachingSha2, WrongPasswordIsTheServersRefusalOnEveryPath) {
  struct Case {
    const char* name;
    bool cached;
    bool tls;
  };
  const Case cases[] = {{"fast path", true, false}, {"full path over TCP", false, false},
                        {"full path over TLS", false, true}};
  for (const Case& k : cases) {
    ScopedFactories scoped;
    TransportFactories().ssl = [](const TTransportSettings& s) {
      return std::make_unique<TTestTlsVio>(s.host, s.port);
    };
    TransportFactories().startSsl = [](TCRVio& vio) { dynamic_cast<TTestTlsVio&>(vio).StartTls(); };
    Sha2Server script;
    script.cached = k.cached;
    script.tls = k.tls;
    ScriptedServer server([&](ScriptedConnection& c) { script.Run(c); });
    Client client;
    if (k.tls) client.api.mysql_ssl_set(client.session, "", "", "", "", "");
    EXPECT_FALSE(client.Connect(server.port(), "wrong pw")) << k.name;
    EXPECT_EQ(client.Errno(), 1045) << k.name;
    EXPECT_EQ(client.Error(), "\r\n#28000Access denied for user 'da_user'@'localhost'") << k.name;
    EXPECT_EQ(server.Finish(), "") << k.name;
    EXPECT_FALSE(script.loggedIn) << k.name;
  }
}

// --- Choosing and switching plugins ---------------------------------------------

TEST(AuthSwitch, ToNativePasswordWithANewChallenge) {
  Login login;
  Bytes reply;
  uint8_t replySeq = 0;
  ScriptedServer server([&](ScriptedConnection& c) {
    c.SendPacket(0, Greeting80(kCachingSha2));
    login = ParseLogin(c.ReadPacket().payload);
    c.SendPacket(2, SwitchRequest("mysql_native_password", kSwitchNonce, 20));
    ScriptedConnection::Packet p = c.ReadPacket();
    reply = p.payload;
    replySeq = p.seq;
    c.SendPacket(4, OkPacket());
  });
  Client client;
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(login.auth, kSha2Answer);
  EXPECT_EQ(replySeq, 3);
  EXPECT_EQ(reply, kNativeAnswerSwitched);
}

TEST(AuthSwitch, ToCachingSha2ThenItsFastPath) {
  // A challenge without its trailing zero byte is taken whole too.
  Bytes reply;
  ScriptedServer server([&](ScriptedConnection& c) {
    c.SendPacket(0, Greeting80("mysql_native_password"));
    c.ReadPacket();
    c.SendPacket(2, SwitchRequest(kCachingSha2, kSwitchNonce, 20, false));
    reply = c.ReadPacket().payload;
    c.SendPacket(4, MoreData({0x03}));
    c.SendPacket(5, OkPacket());
  });
  Client client;
  client.Option(MYSQL_DEFAULT_AUTH, std::string("mysql_native_password"));
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(reply, kSha2AnswerSwitched);
}

TEST(AuthSwitch, LoneFeAsksForTheOldScrambleInPluginMode) {
  Bytes reply;
  ScriptedServer server([&](ScriptedConnection& c) {
    c.SendPacket(0, Greeting80(kCachingSha2));
    c.ReadPacket();
    c.SendPacket(2, Bytes{0xFE});
    reply = c.ReadPacket().payload;
    c.SendPacket(4, OkPacket());
  });
  Client client;
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  EXPECT_EQ(server.Finish(), "");
  std::array<uint8_t, 8> old = Scramble323(kPassword, kScramble);
  Bytes expected(old.begin(), old.end());
  expected.push_back(0);
  EXPECT_EQ(reply, expected);
}

TEST(AuthSwitch, NativeGreetingKeepsThePlainLoginPacket) {
  // The same server with and without plugin authentication in its greeting:
  // the login packets are the same bytes, without a plugin name.
  auto loginFor = [](const Bytes& greeting) {
    Bytes login;
    ScriptedServer server([&](ScriptedConnection& c) {
      c.SendPacket(0, greeting);
      login = c.ReadPacket().payload;
      c.SendPacket(2, OkPacket());
    });
    Client client;
    EXPECT_TRUE(client.Connect(server.port())) << client.Error();
    EXPECT_EQ(server.Finish(), "");
    return login;
  };
  Bytes plain = loginFor(Greeting41());
  Bytes greeting = Greeting41();
  greeting[1 + 11 + 4 + 8 + 1 + 5] = CLIENT_PLUGIN_AUTH >> 16;  // upper capabilities
  greeting[1 + 11 + 4 + 8 + 1 + 7] = 21;                       // challenge length
  PutZ(greeting, "mysql_native_password");                      // after the challenge's zero byte
  Bytes withPlugin = loginFor(greeting);
  EXPECT_EQ(withPlugin, plain);
  Login l = ParseLogin(plain);
  EXPECT_FALSE(l.hasPlugin);
  EXPECT_EQ(l.flags & CLIENT_PLUGIN_AUTH, 0u);
  EXPECT_EQ(l.flags, 0x3A28Du);
}

TEST(AuthSwitch, UnknownPluginsAre2059) {
  // Named by the server in a switch request.
  {
    Bytes rest;
    ScriptedServer server([&](ScriptedConnection& c) {
      c.SendPacket(0, Greeting80(kCachingSha2));
      c.ReadPacket();
      c.SendPacket(2, SwitchRequest("client_ed25519", kSwitchNonce, 20));
      rest = RestUntilClose(c);
    });
    Client client;
    EXPECT_FALSE(client.Connect(server.port()));
    EXPECT_EQ(client.Errno(), CR_AUTH_PLUGIN_CANNOT_LOAD);
    EXPECT_EQ(client.Error(),
              "\r\nAuthentication plugin 'client_ed25519' cannot be loaded: not available in this client");
    client.api.mysql_close(client.session);
    client.session = nullptr;
    EXPECT_EQ(server.Finish(), "");
    ExpectNothingButQuit(rest);
  }
  // Named by the connection's option: nothing reaches the server.
  {
    Bytes rest;
    ScriptedServer server([&](ScriptedConnection& c) {
      c.SendPacket(0, Greeting80(kCachingSha2));
      rest = RestUntilClose(c);
    });
    Client client;
    client.Option(MYSQL_DEFAULT_AUTH, std::string("sha256_password"));
    EXPECT_FALSE(client.Connect(server.port()));
    EXPECT_EQ(client.Errno(), CR_AUTH_PLUGIN_CANNOT_LOAD);
    EXPECT_EQ(client.Error(),
              "\r\nAuthentication plugin 'sha256_password' cannot be loaded: not available in this client");
    client.api.mysql_close(client.session);
    client.session = nullptr;
    EXPECT_EQ(server.Finish(), "");
    ExpectNothingButQuit(rest);
  }
  // Named in the greeting: the native answer goes instead.
  {
    Login login;
    ScriptedServer server([&](ScriptedConnection& c) {
      c.SendPacket(0, Greeting80("client_ed25519"));
      login = ParseLogin(c.ReadPacket().payload);
      c.SendPacket(2, OkPacket());
    });
    Client client;
    ASSERT_TRUE(client.Connect(server.port())) << client.Error();
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(login.plugin, "mysql_native_password");
    TSHA1Managed::TDigest token = Scramble41(kPassword, kScramble);
    EXPECT_EQ(login.auth, Bytes(token.begin(), token.end()));
  }
}

// --- A server that wants the password in clear -----------------------------------

TEST(ClearPassword, RefusedOverPlainTcp) {
  // The server asks in a switch request, or names the plugin in its
  // greeting, or the connection's own option asks for it.
  enum How { kSwitch, kGreeting, kOption };
  for (How how : {kSwitch, kGreeting, kOption}) {
    Bytes sent;
    ScriptedServer server([&](ScriptedConnection& c) {
      c.SendPacket(0, Greeting80(how == kGreeting ? "mysql_clear_password" : kCachingSha2));
      if (how == kOption) {
        sent = RestUntilClose(c);
        return;
      }
      ScriptedConnection::Packet login = c.ReadPacket();
      sent = login.payload;
      if (how == kGreeting) {
        Expect(ParseLogin(login.payload).plugin == "mysql_native_password", "plugin announced");
      }
      c.SendPacket(2, SwitchRequest("mysql_clear_password", kSwitchNonce, 0, false));
      Bytes rest = RestUntilClose(c);
      ExpectNothingButQuit(rest);
      sent.insert(sent.end(), rest.begin(), rest.end());
    });
    Client client;
    if (how == kOption) client.Option(MYSQL_DEFAULT_AUTH, std::string("mysql_clear_password"));
    EXPECT_FALSE(client.Connect(server.port())) << how;
    EXPECT_EQ(client.Errno(), CR_AUTH_PLUGIN_CANNOT_LOAD) << how;
    EXPECT_EQ(client.Error(), "\r\nAuthentication plugin 'mysql_clear_password' cannot be loaded: the password "
                              "would travel in clear over a connection that is not secure")
        << how;
    client.api.mysql_close(client.session);
    client.session = nullptr;
    EXPECT_EQ(server.Finish(), "") << how;
    EXPECT_FALSE(Contains(sent, kPassword)) << how;
  }
}

TEST(ClearPassword, SentOverTls) {
  ScopedFactories scoped;
  TransportFactories().ssl = [](const TTransportSettings& s) { return std::make_unique<TTestTlsVio>(s.host, s.port); };
  TransportFactories().startSsl = [](TCRVio& vio) { dynamic_cast<TTestTlsVio&>(vio).StartTls(); };
  Bytes reply;
  ScriptedServer server([&](ScriptedConnection& c) {
    ServerChannel ch(c);
    ch.SendPacket(0, Greeting80(kCachingSha2, kCaps80 | CLIENT_SSL));
    c.ReadPacket();
    ch.StartTls();
    ch.ReadPacket();
    ch.SendPacket(3, SwitchRequest("mysql_clear_password", kSwitchNonce, 0, false));
    reply = ch.ReadPacket().payload;
    ch.SendPacket(5, OkPacket());
  });
  Client client;
  client.api.mysql_ssl_set(client.session, "", "", "", "", "");
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(reply, Bytes({'s', 'e', 'c', 'r', 'e', 't', ' ', 'p', 'w', 0}));
}

// --- Exchanges that must not go on --------------------------------------------------

struct EndlessCase {
  const char* name;
  std::vector<Bytes> answers;  // sent one after the other, each after a client packet when `replies`
  bool replies;                // the client answers each of them
  int32_t code;
};

TEST(AuthBounds, ExchangesThatDoNotEndFailTheLogin) {
  const EndlessCase cases[] = {
      {"second switch",
       {SwitchRequest("mysql_native_password", kSwitchNonce, 20),
        SwitchRequest("mysql_native_password", kSwitchNonce, 20)},
       true,
       CR_SERVER_HANDSHAKE_ERR},
      {"more-data flood", std::vector<Bytes>(6, MoreData({0x03})), false, CR_SERVER_HANDSHAKE_ERR},
      {"more data for the native plugin",
       {SwitchRequest("mysql_native_password", kSwitchNonce, 20), MoreData({0x04})},
       true,
       CR_SERVER_HANDSHAKE_ERR},
      {"unknown caching_sha2 code", {MoreData({0x07})}, false, CR_SERVER_HANDSHAKE_ERR},
      {"switch without a plugin name", {Bytes{0xFE, 'x', 'y'}}, false, CR_SERVER_HANDSHAKE_ERR},
      {"switch with a short challenge", {SwitchRequest("mysql_native_password", kSwitchNonce, 8)}, false,
       CR_SERVER_HANDSHAKE_ERR},
      {"unknown first byte", {Bytes{0x02, 0x00}}, false, CR_SERVER_HANDSHAKE_ERR},
  };
  for (const EndlessCase& k : cases) {
    ScriptedServer server([&](ScriptedConnection& c) {
      c.SetTimeoutMs(5000);
      c.SendPacket(0, Greeting80(kCachingSha2));
      c.ReadPacket();
      uint8_t seq = 2;
      try {
        for (const Bytes& answer : k.answers) {
          c.SendPacket(seq++, answer);
          if (k.replies) seq = static_cast<uint8_t>(c.ReadPacket().seq + 1);
        }
      } catch (const ScriptError&) {
        // the client gave up before the script ran out: what is checked
      }
      RestUntilClose(c);
    });
    Client client;
    EXPECT_FALSE(client.Connect(server.port())) << k.name;
    EXPECT_EQ(client.Errno(), k.code) << k.name << ": " << client.Error();
    EXPECT_EQ(client.Error().rfind("Error in server handshake\r\nUnexpected answer to the login: ", 0), 0u)
        << k.name << ": " << client.Error();
    client.api.mysql_close(client.session);
    client.session = nullptr;
    EXPECT_EQ(server.Finish(), "") << k.name;
  }
}

TEST(AuthBounds, ServerErrorDuringTheExchangeIsTheServersError) {
  ScriptedServer server([&](ScriptedConnection& c) {
    c.SendPacket(0, Greeting80(kCachingSha2));
    c.ReadPacket();
    c.SendPacket(2, MoreData({0x03}));
    c.SendPacket(3, ErrorPacket(1251, "#08004Client does not support authentication protocol"));
  });
  Client client;
  EXPECT_FALSE(client.Connect(server.port()));
  EXPECT_EQ(client.Errno(), 1251);
  EXPECT_EQ(client.Error(), "\r\n#08004Client does not support authentication protocol");
  EXPECT_EQ(server.Finish(), "");
}

TEST(AuthBounds, ConnectionDroppedDuringTheExchangeIs2013) {
  ScriptedServer server([&](ScriptedConnection& c) {
    c.SendPacket(0, Greeting80(kCachingSha2));
    c.ReadPacket();
    c.SendPacket(2, MoreData({0x04}));
    c.ReadPacket();  // the key request
  });
  Client client;
  EXPECT_FALSE(client.Connect(server.port()));
  EXPECT_EQ(client.Errno(), CR_SERVER_LOST);
  EXPECT_EQ(server.Finish(), "");
}

}  // namespace
}  // namespace da::mysql
