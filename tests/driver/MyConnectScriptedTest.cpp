// What the driver connection sends while connecting, seen by a scripted
// server: client flags, credentials, the statements after the login, and
// what an old server is spared.

#include <gtest/gtest.h>

#include <string>

#include "../mysql/WireTestSupport.h"
#include "driver/MyClasses.h"

using namespace da;
using namespace wiretest;
using testsupport::ScriptError;
using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;

namespace {

Bytes GreetingWithVersion(const std::string& version) {
  Bytes p{10};
  PutZ(p, version);
  PutLE(p, 77, 4);
  p.insert(p.end(), kScramble, kScramble + 8);
  p.push_back(0);
  PutLE(p, kCaps41 | 0x20 /* compress */, 2);
  p.push_back(8);
  PutLE(p, 2, 2);
  p.insert(p.end(), 13, 0);
  p.insert(p.end(), kScramble + 8, kScramble + 20);
  p.push_back(0);
  return p;
}

struct Login {
  uint32_t flags = 0;
  uint8_t charset = 0;
  std::string user;
};

Login ReadLogin(ScriptedConnection& s) {
  ScriptedConnection::Packet p = s.ReadPacket();
  if (p.payload.size() < 33) throw ScriptError("short login packet");
  Login login;
  login.flags = p.payload[0] | p.payload[1] << 8 | p.payload[2] << 16 | static_cast<uint32_t>(p.payload[3]) << 24;
  login.charset = p.payload[8];
  for (size_t i = 32; i < p.payload.size() && p.payload[i] != 0; ++i) login.user += static_cast<char>(p.payload[i]);
  return login;
}

// The next command: its code and its text.
std::pair<uint8_t, std::string> ReadCommand(ScriptedConnection& s) {
  ScriptedConnection::Packet p = s.ReadPacket();
  if (p.payload.empty()) throw ScriptError("empty command");
  return {p.payload[0], std::string(p.payload.begin() + 1, p.payload.end())};
}

TEST(MyConnectScripted, FlagsCredentialsAndSetNames) {
  Login login;
  std::string statement;
  uint8_t last = 0;
  ScriptedServer server([&](ScriptedConnection& s) {
    s.SendPacket(0, GreetingWithVersion("5.0.95-log"));
    login = ReadLogin(s);
    s.SendPacket(2, OkPacket());
    auto [code, text] = ReadCommand(s);
    statement = text;
    s.SendPacket(1, OkPacket());
    last = ReadCommand(s).first;
  });
  {
    TMySQLConnection c;
    c.PutServer("127.0.0.1");
    c.SetProp(propPort, server.port());
    c.PutUsername("jos\xe9");
    c.SetProp(propCharset, "UTF8");
    c.Connect();
    EXPECT_EQ(c.ServerMajor(), 5);
    EXPECT_EQ(c.ServerMinor(), 0);
    EXPECT_EQ(c.ServerRelease(), 95);
    EXPECT_EQ(c.GetServerVersion(), "5.0.95");
    EXPECT_FALSE(c.UseUnicode());
  }
  EXPECT_EQ(server.Finish(), "");
  const uint32_t asked = mysql::CLIENT_FOUND_ROWS | mysql::CLIENT_MULTI_STATEMENTS;
  EXPECT_EQ(login.flags & asked, asked);
  EXPECT_EQ(login.flags & mysql::CLIENT_COMPRESS, 0u);
  EXPECT_EQ(login.charset, 33);               // the character-set option "utf8"
  EXPECT_EQ(login.user, "jos\xc3\xa9");       // UTF-8 encoded
  EXPECT_EQ(statement, "SET NAMES UTF8");     // the Charset text as stored
  EXPECT_EQ(last, mysql::COM_QUIT);           // nothing else was sent
}

TEST(MyConnectScripted, AnOldServerGetsNoSetNames) {
  std::pair<uint8_t, std::string> after;
  ScriptedServer server([&](ScriptedConnection& s) {
    s.SendPacket(0, GreetingWithVersion("4.0.27"));
    ReadLogin(s);
    s.SendPacket(2, OkPacket());
    after = ReadCommand(s);
  });
  {
    TMySQLConnection c;
    c.PutServer("127.0.0.1");
    c.SetProp(propPort, server.port());
    c.SetProp(propUseUnicode, true);
    c.Connect();
    EXPECT_FALSE(c.UseUnicode());
    EXPECT_FALSE(c.IsServer41());
  }
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(after.first, mysql::COM_QUIT) << after.second;
}

TEST(MyConnectScripted, ADroppedLoginLeavesTheConnectionClosed) {
  ScriptedServer server([&](ScriptedConnection& s) {
    s.SendPacket(0, GreetingWithVersion("5.0.95-log"));
    ReadLogin(s);
    s.Close();
  });
  TMySQLConnection c;
  c.PutServer("127.0.0.1");
  c.SetProp(propPort, server.port());
  try {
    c.Connect();
    ADD_FAILURE();
  } catch (const EMyError& e) {
    EXPECT_TRUE(e.IsFatal()) << e.ErrorCode();
  }
  EXPECT_FALSE(c.Connected());
  EXPECT_EQ(c.GetHandle(), nullptr);
  EXPECT_EQ(server.Finish(), "");
}

}  // namespace
