// The session against our scripted server: the handshakes no real server
// offers any more, the byte layouts of the login and command packets, and
// servers that misbehave.
#include "mysql/MySqlSession.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "ScriptedServer.h"
#include "WireTestSupport.h"
#include "mysql/CRVioTcp.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlErrors.h"

namespace da::mysql {
namespace {

using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;
using testsupport::ScriptError;
using namespace wiretest;

const std::string kUser = "da_user";
const std::string kPassword = "secret pw";

void Expect(bool ok, const std::string& what) {
  if (!ok) throw ScriptError(what);
}

// Greeting, login packet (returned), and the server's answer.
ScriptedConnection::Packet Handshake(ScriptedConnection& c, const Bytes& greeting = Greeting41(),
                                     const Bytes& answer = OkPacket()) {
  c.SendPacket(0, greeting);
  ScriptedConnection::Packet login = c.ReadPacket();
  Expect(login.seq == 1, "login packet seq " + std::to_string(login.seq));
  c.SendPacket(2, answer);
  return login;
}

// A session connected to the scripted server through the call table, or
// null with the error in `error`.
struct Client {
  TMySQLAPIDirect& api = DirectApi();
  TMySqlSession* session = api.mysql_init(nullptr);
  ~Client() { api.mysql_close(session); }
  bool Connect(int port, uint32_t flags = 0, const std::string& password = kPassword) {
    return api.mysql_real_connect(session, "127.0.0.1", kUser, password, "db", static_cast<uint32_t>(port), "",
                                  flags) != nullptr;
  }
  int32_t Errno() { return api.mysql_errno(session); }
  std::string Error() { return api.mysql_error(session); }
};

Bytes Slice(const Bytes& b, size_t from, size_t count) { return Bytes(b.begin() + from, b.begin() + from + count); }

// --- Login packets ------------------------------------------------------------

TEST(SessionLogin, Protocol41LoginPacketLayout) {
  Bytes login;
  ScriptedServer server([&](ScriptedConnection& c) {
    login = Handshake(c).payload;
    // Ping, query and quit as raw bytes.
    Expect(c.Read(5) == Bytes({1, 0, 0, 0, 0x0E}), "ping packet");
    c.SendPacket(1, OkPacket());
    Bytes query = c.Read(13);
    Expect(query == Bytes({9, 0, 0, 0, 3, 'S', 'E', 'L', 'E', 'C', 'T', ' ', '1'}), "query packet");
    c.SendPacket(1, OkPacket());
    Expect(c.Read(5) == Bytes({1, 0, 0, 0, 1}), "quit packet");
    Expect(c.WaitForClose(), "closed after quit");
  });
  {
    Client client;
    ASSERT_TRUE(client.Connect(server.port(), CLIENT_FOUND_ROWS)) << client.Error();
    EXPECT_EQ(client.api.mysql_ping(client.session), 0);
    EXPECT_EQ(client.api.mysql_real_query(client.session, "SELECT 1", 8), 0) << client.Error();
    EXPECT_EQ(client.api.mysql_get_server_info(client.session), "5.0.95-log");
    EXPECT_EQ(client.api.mysql_thread_id(client.session), 77u);
    EXPECT_EQ(client.api.mysql_get_host_info(client.session), "127.0.0.1 via TCP/IP");
  }
  EXPECT_EQ(server.Finish(), "");
  ASSERT_GE(login.size(), 32u + 8 + 21 + 3);
  EXPECT_EQ(Slice(login, 0, 4), (Bytes{0x8F, 0xA2, 0x03, 0x00}));
  EXPECT_EQ(Slice(login, 4, 4), (Bytes{0, 0, 0, 0x40}));
  EXPECT_EQ(login[8], 8);
  EXPECT_EQ(Slice(login, 9, 23), Bytes(23, 0));
  EXPECT_EQ(Slice(login, 32, 8), Bytes({'d', 'a', '_', 'u', 's', 'e', 'r', 0}));
  EXPECT_EQ(login[40], 20);
  TSHA1Managed::TDigest token = Scramble41(kPassword, kScramble);
  EXPECT_EQ(Slice(login, 41, 20), Bytes(token.begin(), token.end()));
  EXPECT_EQ(Slice(login, 61, login.size() - 61), Bytes({'d', 'b', 0}));
}

TEST(SessionLogin, EmptyPasswordAndUtf8Charset) {
  Bytes login;
  ScriptedServer server([&](ScriptedConnection& c) { login = Handshake(c).payload; });
  Client client;
  client.api.mysql_options(client.session, MYSQL_SET_CHARSET_NAME, std::string("utf8"));
  ASSERT_TRUE(client.Connect(server.port(), 0, "")) << client.Error();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(login[8], 33);
  EXPECT_EQ(Slice(login, 32, 9), Bytes({'d', 'a', '_', 'u', 's', 'e', 'r', 0, 0}));
}

TEST(SessionLogin, Server323GetsThePre41LoginAndTheOldScramble) {
  Bytes login;
  ScriptedServer server([&](ScriptedConnection& c) { login = Handshake(c, Greeting323(), Bytes{0, 0, 0}).payload; });
  Client client;
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  EXPECT_EQ(server.Finish(), "");
  // Flags in 2 bytes (no protocol 4.1), max packet in 3 bytes (0).
  EXPECT_EQ(Slice(login, 0, 2), (Bytes{0x8D, 0xA0}));
  EXPECT_EQ(Slice(login, 2, 3), (Bytes{0, 0, 0}));
  EXPECT_EQ(Slice(login, 5, 8), Bytes({'d', 'a', '_', 'u', 's', 'e', 'r', 0}));
  std::array<uint8_t, 8> old = Scramble323(kPassword, kScramble);
  EXPECT_EQ(Slice(login, 13, 8), Bytes(old.begin(), old.end()));
  EXPECT_EQ(Slice(login, 21, login.size() - 21), Bytes({0, 'd', 'b', 0}));
  EXPECT_FALSE(client.session->IsProtocol41());
}

// Known answers, computed once outside this code (a few lines of Python's
// hashlib after the algorithms; the server's PASSWORD() and OLD_PASSWORD()
// agree with their hash steps), so that a wrong algorithm fails without a
// server to log in to.
TEST(SessionLogin, PasswordScramblesMatchKnownAnswers) {
  const uint8_t counting[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  struct Token41 {
    std::string password;
    const uint8_t* scramble;
    Bytes token;
  } tokens[] = {
      {"secret pw", kScramble, {0x4D, 0x66, 0xD2, 0x29, 0x3C, 0xF8, 0x71, 0xAE, 0x5C, 0x12,
                                0x8C, 0x19, 0x9F, 0x39, 0x25, 0x95, 0x0C, 0x0F, 0x79, 0xB4}},
      {"da_secret", kScramble, {0x7D, 0x72, 0x4B, 0x23, 0x7A, 0x57, 0xE8, 0xE9, 0x98, 0x05,
                                0xE3, 0xBA, 0x88, 0x73, 0x8E, 0x83, 0x54, 0x28, 0xF9, 0xFF}},
      {"\xE9t\xE9", kScramble, {0x6A, 0x5A, 0xF4, 0x79, 0x85, 0xEB, 0x64, 0x69, 0x20, 0xE1,
                                 0x94, 0x25, 0x98, 0xF5, 0x47, 0x2C, 0x89, 0x14, 0x4F, 0xCE}},
      {"secret pw", counting, {0xEE, 0x11, 0xF1, 0xFA, 0x76, 0x06, 0x99, 0xA9, 0xFA, 0xBA,
                               0xC9, 0x75, 0xCD, 0x10, 0xD8, 0x88, 0x65, 0xDC, 0x24, 0x1F}},
  };
  for (const Token41& t : tokens) {
    TSHA1Managed::TDigest token = Scramble41(t.password, t.scramble);
    EXPECT_EQ(Bytes(token.begin(), token.end()), t.token) << t.password;
  }
  struct Token323 {
    std::string password;
    const uint8_t* scramble;
    Bytes token;
  } olds[] = {
      {"secret pw", kScramble, {0x41, 0x4F, 0x4B, 0x56, 0x43, 0x50, 0x53, 0x45}},
      {"secret\tpw ", kScramble, {0x41, 0x4F, 0x4B, 0x56, 0x43, 0x50, 0x53, 0x45}},
      {"old_secret", kScramble, {0x56, 0x58, 0x5D, 0x48, 0x4A, 0x46, 0x47, 0x4D}},
      {"x", kScramble, {0x5C, 0x50, 0x59, 0x55, 0x5F, 0x52, 0x4D, 0x5B}},
      {"secret pw", counting, {0x4D, 0x5E, 0x50, 0x40, 0x5C, 0x55, 0x56, 0x51}},
  };
  for (const Token323& t : olds) {
    std::array<uint8_t, 8> old = Scramble323(t.password, t.scramble);
    EXPECT_EQ(Bytes(old.begin(), old.end()), t.token) << t.password;
  }
}

TEST(SessionLogin, Scramble323IgnoresBlanksOnlyInThePassword) {
  EXPECT_EQ(Scramble323("secret pw", kScramble), Scramble323("secret\tpw ", kScramble));
  EXPECT_NE(Scramble41("secret pw", kScramble), Scramble41("secretpw", kScramble));
  for (uint8_t b : Scramble323("x", kScramble)) EXPECT_TRUE(b >= 64 - 31 && b < 128) << int{b};
}

TEST(SessionLogin, SingleFeAnswerAsksForTheOldScramble) {
  Bytes reply;
  uint8_t replySeq = 0;
  ScriptedServer server([&](ScriptedConnection& c) {
    Handshake(c, Greeting41(), Bytes{0xFE});
    ScriptedConnection::Packet p = c.ReadPacket();
    reply = p.payload;
    replySeq = p.seq;
    c.SendPacket(4, OkPacket());
  });
  Client client;
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(replySeq, 3);
  std::array<uint8_t, 8> old = Scramble323(kPassword, kScramble);
  Bytes expected(old.begin(), old.end());
  expected.push_back(0);
  EXPECT_EQ(reply, expected);
}

TEST(SessionLogin, TwoStepAnswersOfEarly41Servers) {
  Bytes answer(24);
  for (size_t i = 0; i < 24; ++i) answer[i] = static_cast<uint8_t>('A' + i);

  // First byte '*': the new scramble's 3.23 form.
  Bytes star = answer;
  star[0] = '*';
  Bytes reply;
  {
    ScriptedServer server([&](ScriptedConnection& c) {
      Handshake(c, Greeting41(), star);
      reply = c.ReadPacket().payload;
      c.SendPacket(4, OkPacket());
    });
    Client client;
    ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  }
  std::array<uint8_t, 8> old = Scramble323(kPassword, star.data() + 4);
  Bytes expected(old.begin(), old.end());
  expected.push_back(0);
  EXPECT_EQ(reply, expected);

  // Any other first byte: 20 bytes derived with SHA-1.
  {
    ScriptedServer server([&](ScriptedConnection& c) {
      Handshake(c, Greeting41(), answer);
      reply = c.ReadPacket().payload;
      c.SendPacket(4, OkPacket());
    });
    Client client;
    ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  }
  TSHA1Managed::TDigest h1 = TSHA1Managed::ComputeHash("secretpw");
  Bytes joined(answer.begin(), answer.begin() + 4);
  joined.insert(joined.end(), h1.begin(), h1.end());
  TSHA1Managed::TDigest h2 = TSHA1Managed::ComputeHash(joined.data(), joined.size());
  ASSERT_EQ(reply.size(), 20u);
  for (size_t i = 0; i < 20; ++i) EXPECT_EQ(reply[i], static_cast<uint8_t>(answer[4 + i] ^ h2[i] ^ h1[i]));
}

TEST(SessionLogin, UnknownAuthenticationAnswersFailTheLogin) {
  Bytes authSwitch{0xFE};
  PutZ(authSwitch, "client_ed25519");
  const Bytes answers[] = {authSwitch, Bytes{0x01, 0x04}, Bytes{0xFE, 0xFE}, Bytes{}};
  for (const Bytes& answer : answers) {
    ScriptedServer server([&](ScriptedConnection& c) {
      Handshake(c, Greeting41(), answer);
      c.WaitForClose();
    });
    Client client;
    EXPECT_FALSE(client.Connect(server.port()));
    EXPECT_EQ(client.Errno(), 2012);
    EXPECT_EQ(client.Error().rfind("Error in server handshake\r\nUnexpected answer to the login", 0), 0u)
        << client.Error();
  }
}

TEST(SessionLogin, AnswerAfterTheOldScrambleMustBeOk) {
  ScriptedServer server([&](ScriptedConnection& c) {
    Handshake(c, Greeting41(), Bytes{0xFE});
    c.ReadPacket();
    c.SendPacket(4, Bytes{0xFE});
    c.WaitForClose();
  });
  Client client;
  EXPECT_FALSE(client.Connect(server.port()));
  EXPECT_EQ(client.Errno(), 2012);
}

TEST(SessionLogin, Protocol9IsAMismatch) {
  ScriptedServer server([&](ScriptedConnection& c) {
    c.SendPacket(0, Greeting41(kCaps41, 9));
    c.WaitForClose();
  });
  Client client;
  EXPECT_FALSE(client.Connect(server.port()));
  EXPECT_EQ(client.Errno(), 2007);
  EXPECT_EQ(client.Error(), "Protocol mismatch. Server Version = 9 Client Version = 10");
}

TEST(SessionLogin, ServerErrorInsteadOfAGreeting) {
  ScriptedServer server([&](ScriptedConnection& c) { c.SendPacket(0, ErrorPacket(1040, "Too many connections")); });
  Client client;
  EXPECT_FALSE(client.Connect(server.port()));
  EXPECT_EQ(client.Errno(), 1040);
  EXPECT_EQ(client.Error(), "\r\nToo many connections");
}

TEST(SessionLogin, TruncatedGreetingIsMalformed) {
  Bytes greeting = Greeting41();
  greeting.resize(14);  // inside the scramble
  ScriptedServer server([&](ScriptedConnection& c) {
    c.SendPacket(0, greeting);
    c.WaitForClose();
  });
  Client client;
  EXPECT_FALSE(client.Connect(server.port()));
  EXPECT_EQ(client.Errno(), 2027);
}

TEST(SessionLogin, CompressionOnlyWhenTheServerOffersIt) {
  // Not offered: flags without CLIENT_COMPRESS, the ping in plain framing.
  {
    Bytes login;
    ScriptedServer server([&](ScriptedConnection& c) {
      login = Handshake(c).payload;
      Expect(c.Read(5) == Bytes({1, 0, 0, 0, 0x0E}), "plain ping");
      c.SendPacket(1, OkPacket());
    });
    Client client;
    ASSERT_TRUE(client.Connect(server.port(), CLIENT_COMPRESS)) << client.Error();
    EXPECT_EQ(client.api.mysql_ping(client.session), 0) << client.Error();
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(login[0] & CLIENT_COMPRESS, 0);
  }
  // Offered: the ping travels in the compressed framing, stored.
  {
    Bytes login;
    ScriptedServer server([&](ScriptedConnection& c) {
      login = Handshake(c, Greeting41(kCaps41 | CLIENT_COMPRESS)).payload;
      Expect(c.Read(12) == Bytes({5, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x0E}), "compressed ping");
      Bytes answer = Framed(1, OkPacket());
      Bytes framed{static_cast<uint8_t>(answer.size()), 0, 0, 1, 0, 0, 0};
      framed.insert(framed.end(), answer.begin(), answer.end());
      c.Send(framed);
    });
    Client client;
    ASSERT_TRUE(client.Connect(server.port(), CLIENT_COMPRESS)) << client.Error();
    EXPECT_EQ(client.api.mysql_ping(client.session), 0) << client.Error();
    EXPECT_EQ(server.Finish(), "");
    EXPECT_NE(login[0] & CLIENT_COMPRESS, 0);
  }
}

// Installs test transports for the protocols built outside the wire client.
class ScopedFactories {
 public:
  ScopedFactories() : saved_(TransportFactories()) {}
  ~ScopedFactories() { TransportFactories() = saved_; }

 private:
  TTransportFactories saved_;
};

TEST(SessionLogin, SslRequestIsTheStandard32BytePacket) {
  ScopedFactories scoped;
  int started = 0;
  TransportFactories().ssl = [](const TTransportSettings& s) { return std::make_unique<TCRVioTcp>(s.host, s.port); };
  TransportFactories().startSsl = [&](TCRVio&) { ++started; };

  Bytes request, login;
  ScriptedServer server([&](ScriptedConnection& c) {
    c.SendPacket(0, Greeting41(kCaps41 | CLIENT_SSL));
    ScriptedConnection::Packet r = c.ReadPacket();
    Expect(r.seq == 1, "SSL request seq");
    request = r.payload;
    ScriptedConnection::Packet l = c.ReadPacket();
    Expect(l.seq == 2, "login seq");
    login = l.payload;
    c.SendPacket(3, OkPacket());
  });
  Client client;
  client.api.mysql_ssl_set(client.session, "key.pem", "cert.pem", "ca.pem", "", "");
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(started, 1);
  EXPECT_EQ(client.api.mysql_get_host_info(client.session), "127.0.0.1 via SSL");
  ASSERT_EQ(request.size(), 32u);
  uint32_t flags = request[0] | request[1] << 8 | request[2] << 16 | uint32_t{request[3]} << 24;
  EXPECT_EQ(flags, 0x3A28Du | CLIENT_SSL);
  EXPECT_EQ(Slice(request, 4, 4), (Bytes{0, 0, 0, 0x40}));
  EXPECT_EQ(request[8], 8);
  EXPECT_EQ(Slice(request, 9, 23), Bytes(23, 0));
  // The login packet that follows repeats those 32 bytes.
  EXPECT_EQ(Slice(login, 0, 32), request);
  EXPECT_EQ(Slice(login, 32, 8), Bytes({'d', 'a', '_', 'u', 's', 'e', 'r', 0}));
}

TEST(SessionLogin, SslWithoutTheSslTransportIsAClearError) {
  ScopedFactories scoped;
  TransportFactories().ssl = nullptr;
  Client client;
  client.api.mysql_ssl_set(client.session, "", "", "", "", "");
  EXPECT_FALSE(client.Connect(testsupport::UnusedPort()));
  EXPECT_EQ(client.Errno(), 2046);
  EXPECT_EQ(client.Error(), "Wrong or unknown protocol\r\nThe SSL transport is not available");
}

TEST(SessionLogin, UnknownProtocolIs2046) {
  Client client;
  int32_t memory = mpMemory;
  client.api.mysql_options(client.session, MYSQL_OPT_PROTOCOL, &memory);
  EXPECT_FALSE(client.Connect(testsupport::UnusedPort()));
  EXPECT_EQ(client.Errno(), 2046);
  EXPECT_EQ(client.Error(), "Wrong or unknown protocol");
}

// --- Connecting ---------------------------------------------------------------

TEST(SessionConnect, ClosedPortIs2003WithTheTransportText) {
  Client client;
  EXPECT_FALSE(client.Connect(testsupport::UnusedPort()));
  EXPECT_EQ(client.Errno(), 2003);
  EXPECT_EQ(client.Error(),
            "Can't connect to MySQL server on '127.0.0.1' (10061)\r\n"
            "Socket error on connect. WSAGetLastError return 111($6F)");
}

TEST(SessionConnect, AddressThatDoesNotAnswerTimesOut) {
  wiretest::SilentListener silent;

  Client client;
  int32_t one = 1;
  client.api.mysql_options(client.session, MYSQL_OPT_CONNECT_TIMEOUT, &one);
  EXPECT_FALSE(client.Connect(silent.port()));
  EXPECT_EQ(client.Errno(), 2003);
  EXPECT_EQ(client.Error(), "Can't connect to MySQL server on '127.0.0.1' (10061)\r\nConnection timed out");
}

TEST(SessionConnect, EmptyHostAndPortZeroMeanLocalhost3306) {
  // A handler that only records where it was asked to connect.
  class Recorder : public TCRIOHandler {
   public:
    THandle Connect(const std::string& h, int32_t p, const std::string&, const std::string&,
                    const std::string&) override {
      host = h;
      port = p;
      throw Exception("recorded");
    }
    std::string host;
    int32_t port = 0;
  } recorder;
  Client client;
  AttachIOHandler(client.session, &recorder);
  try {
    client.api.mysql_real_connect(client.session, "", kUser, kPassword, "", 0, "", 0);
    FAIL() << "the handler's exception must pass unchanged";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "recorded");
  }
  EXPECT_EQ(recorder.host, "localhost");
  EXPECT_EQ(recorder.port, 3306);
  EXPECT_EQ(client.session->HostInfo(), "localhost via TCRIOHandler");
}

TEST(SessionResponses, LocalFileTravelsIn8192BytePacketsAndAnEmptyOne) {
  std::string path = ::testing::TempDir() + "session_infile_" + std::to_string(::getpid());
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::string data(20000, 'f');
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  }
  std::vector<std::pair<uint8_t, size_t>> packets;
  ScriptedServer server([&](ScriptedConnection& c) {
    Handshake(c);
    c.ReadPacket();
    Bytes request{0xFB};
    PutBytes(request, path);
    c.SendPacket(1, request);
    for (;;) {
      ScriptedConnection::Packet p = c.ReadPacket();
      packets.emplace_back(p.seq, p.payload.size());
      if (p.payload.empty()) break;
    }
    c.SendPacket(static_cast<uint8_t>(packets.back().first + 1), OkPacket(1));
  });
  Client client;
  int32_t on = 1;
  client.api.mysql_options(client.session, MYSQL_OPT_LOCAL_INFILE, &on);
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  EXPECT_EQ(client.api.mysql_real_query(client.session, "LOAD DATA LOCAL INFILE", 22), 0) << client.Error();
  EXPECT_EQ(server.Finish(), "");
  std::remove(path.c_str());
  EXPECT_EQ(packets, (std::vector<std::pair<uint8_t, size_t>>{{2, 8192}, {3, 8192}, {4, 3616}, {5, 0}}));
  EXPECT_EQ(client.api.mysql_affected_rows(client.session), 1u);
}

// --- Responses from a misbehaving server ---------------------------------------

// After the handshake: answers one query with `response` (a list of packets
// numbered from 1), then waits for the client to go.
ScriptedServer::Script Responds(std::vector<Bytes> response, bool closeAfter = false) {
  return [response = std::move(response), closeAfter](ScriptedConnection& c) {
    Handshake(c);
    c.ReadPacket();
    uint8_t seq = 1;
    for (const Bytes& p : response) c.SendPacket(seq++, p);
    if (closeAfter) return;
    c.SetTimeoutMs(3000);
    c.WaitForClose();
  };
}

Bytes TextRow(std::initializer_list<std::string> values) {
  Bytes p;
  for (const std::string& v : values) PutLengthCodedText(p, v);
  return p;
}

TEST(SessionResponses, ServerClosingInsideAResultIs2013) {
  ScriptedServer server(Responds({Bytes{1}, ColumnDefinition("a", MYSQL_TYPE_LONG), EofPacket(), TextRow({"1"})},
                                 true));
  Client client;
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  ASSERT_EQ(client.api.mysql_real_query(client.session, "SELECT a", 8), 0) << client.Error();
  TMySqlResultSet* result = client.api.mysql_use_result(client.session);
  ASSERT_NE(result, nullptr);
  ASSERT_NE(client.api.mysql_fetch_row(result), nullptr);
  EXPECT_EQ(client.api.mysql_fetch_row(result), nullptr);
  EXPECT_EQ(client.Errno(), 2013);
  EXPECT_EQ(client.session->State(), TMySqlSession::kReady);
  // The result has ended: another fetch answers at once.
  EXPECT_EQ(client.api.mysql_fetch_row(result), nullptr);
  client.api.mysql_free_result(result);
}

TEST(SessionResponses, ServerErrorWithSqlStateThroughTheCallTable) {
  ScriptedServer server(Responds({ErrorPacket(1064, "#42000You have an error in your SQL syntax")}));
  Client client;
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  EXPECT_EQ(client.api.mysql_real_query(client.session, "SELEC", 5), 1064);
  EXPECT_EQ(client.Errno(), 1064);
  EXPECT_EQ(client.Error(), "\r\n#42000You have an error in your SQL syntax");
}

TEST(SessionResponses, PacketOutOfOrderIs1156) {
  ScriptedServer server([](ScriptedConnection& c) {
    Handshake(c);
    c.ReadPacket();
    c.SendPacket(2, OkPacket());
    c.WaitForClose();
  });
  Client client;
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  EXPECT_EQ(client.api.mysql_real_query(client.session, "DO 1", 4), 1156);
  EXPECT_EQ(client.Error(), "\r\nReceiveHeader: Net packets out of order: received[2], expected[1]");
}

struct MalformedCase {
  const char* name;
  std::vector<Bytes> response;
  bool failsAtQuery;  // else at the first fetch
};

void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }

class SessionMalformed : public ::testing::TestWithParam<MalformedCase> {};

// The rest of a one-column result, still on the wire when the client fails.
const std::vector<Bytes> kRestOfTheResult = {TextRow({"1"}), TextRow({"2"}), EofPacket()};

TEST_P(SessionMalformed, Is2027AndTheNextCommandNeverReadsTheRest) {
  const MalformedCase& c = GetParam();
  std::vector<Bytes> response = c.response;
  response.insert(response.end(), kRestOfTheResult.begin(), kRestOfTheResult.end());
  ScriptedServer server(Responds(response));
  Client client;
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  int32_t code = client.api.mysql_real_query(client.session, "SELECT x", 8);
  if (c.failsAtQuery) {
    EXPECT_EQ(code, 2027) << client.Error();
  } else {
    ASSERT_EQ(code, 0) << client.Error();
    TMySqlResultSet* result = client.api.mysql_use_result(client.session);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(client.api.mysql_fetch_row(result), nullptr);
    EXPECT_EQ(client.Errno(), 2027);
    EXPECT_EQ(client.api.mysql_fetch_row(result), nullptr);  // the result has ended
    client.api.mysql_free_result(result);
  }
  EXPECT_EQ(client.session->State(), TMySqlSession::kReady);
  // The rest of the answer is never taken for the answer to what follows.
  EXPECT_EQ(client.api.mysql_real_query(client.session, "SELECT 2", 8), 2006);
  EXPECT_EQ(client.Error(), "MySQL server has gone away");
  EXPECT_EQ(client.api.mysql_ping(client.session), 2006);
  EXPECT_FALSE(client.api.mysql_more_results(client.session));
  EXPECT_EQ(server.Finish(), "");
}

Bytes Raw(std::initializer_list<uint8_t> bytes) { return Bytes(bytes); }

INSTANTIATE_TEST_SUITE_P(
    Cases, SessionMalformed,
    ::testing::Values(
        MalformedCase{"MoreColumnsThanDefinitions", {Raw({3}), ColumnDefinition("a", 3), EofPacket()}, true},
        MalformedCase{"MoreDefinitionsThanColumns",
                      {Raw({1}), ColumnDefinition("a", 3), ColumnDefinition("b", 3), EofPacket()}, true},
        MalformedCase{"HugeColumnCount", {Raw({0xFE, 0, 0, 0, 0, 0, 0, 0, 0x10}), ColumnDefinition("a", 3), EofPacket()},
                      true},
        MalformedCase{"ShortColumnDefinition", {Raw({1}), Raw({3, 'd', 'e', 'f', 0, 0, 0, 1, 'a', 0, 2, 0, 0}),
                                                EofPacket()}, true},
        MalformedCase{"ShortEndPacket", {Raw({1}), ColumnDefinition("a", 3), Raw({0xFE, 0, 0})}, true},
        MalformedCase{"ValueLongerThanTheRow",
                      {Raw({1}), ColumnDefinition("a", 3), EofPacket(), Raw({20, 'a', 'b'})}, false},
        MalformedCase{"PrefixFF",
                      {Raw({2}), ColumnDefinition("a", 3), ColumnDefinition("b", 3), EofPacket(), Raw({0, 0xFF, 1})},
                      false},
        MalformedCase{"MissingColumn",
                      {Raw({2}), ColumnDefinition("a", 3), ColumnDefinition("b", 3), EofPacket(), Raw({1, 'x'})},
                      false},
        MalformedCase{"TwoByteLengthCut", {Raw({1}), ColumnDefinition("a", 3), EofPacket(), Raw({0xFC, 0x2C})},
                      false},
        MalformedCase{"ShortEndPacketOfTheRows", {Raw({1}), ColumnDefinition("a", 3), EofPacket(), Raw({0xFE, 0})},
                      false}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });

// Once the packet number has wrapped, a row left on the wire carries the
// number the answer to the next command would carry; a row whose first
// value is empty then reads as an OK packet.
TEST(SessionResponses, RowLeftAfterAMalformedRowIsNeverTakenForTheNextAnswer) {
  ScriptedServer server([](ScriptedConnection& c) {
    Handshake(c);
    c.ReadPacket();
    uint8_t seq = 1;
    c.SendPacket(seq++, Bytes{2});
    c.SendPacket(seq++, ColumnDefinition("a", MYSQL_TYPE_VAR_STRING));
    c.SendPacket(seq++, ColumnDefinition("b", MYSQL_TYPE_VAR_STRING));
    c.SendPacket(seq++, EofPacket());
    while (seq != 0) c.SendPacket(seq++, TextRow({"x", "y"}));  // up to 255
    c.SendPacket(seq++, Bytes{1, 'x'});                          // 0: the second value is missing
    c.SendPacket(seq++, Bytes{0, 1, 5});                         // 1: "" and "\x05", or OK (1 row, id 5)
    c.SendPacket(seq++, EofPacket());
    c.SetTimeoutMs(3000);
    c.WaitForClose();
  });
  Client client;
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  ASSERT_EQ(client.api.mysql_real_query(client.session, "SELECT a, b", 11), 0) << client.Error();
  TMySqlResultSet* result = client.api.mysql_use_result(client.session);
  ASSERT_NE(result, nullptr);
  int rows = 0;
  while (client.api.mysql_fetch_row(result)) ++rows;
  EXPECT_EQ(rows, 251);
  EXPECT_EQ(client.Errno(), 2027);
  client.api.mysql_free_result(result);
  EXPECT_EQ(client.api.mysql_real_query(client.session, "INSERT INTO t VALUES (1)", 24), 2006);
  EXPECT_EQ(client.api.mysql_affected_rows(client.session), 0u);
  EXPECT_EQ(server.Finish(), "");
}

// A server that sends column definitions without end: the client stops
// after the announced count and the end packet it expects instead.
TEST(SessionResponses, DefinitionsBeyondTheAnnouncedCountAre2027) {
  ScriptedServer server([](ScriptedConnection& c) {
    Handshake(c);
    c.ReadPacket();
    uint8_t seq = 1;
    c.SendPacket(seq++, Bytes{2});
    try {
      // Far more than the client may keep; it closes long before.
      for (int i = 0; i < 200000; ++i) c.SendPacket(seq++, ColumnDefinition("c", MYSQL_TYPE_LONG));
    } catch (const ScriptError&) {
      return;  // the client has closed the connection
    }
    c.Close();
  });
  Client client;
  ASSERT_TRUE(client.Connect(server.port())) << client.Error();
  EXPECT_EQ(client.api.mysql_real_query(client.session, "SELECT c", 8), 2027) << client.Error();
  EXPECT_EQ(client.api.mysql_ping(client.session), 2006);
  EXPECT_EQ(server.Finish(), "");
}

}  // namespace
}  // namespace da::mysql
