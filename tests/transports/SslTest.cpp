// SSL against the real throwaway server (which runs with its own CA), and
// against scripted servers for the answers a real server does not give.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "TransportTestSupport.h"
#include "WireTestSupport.h"
#include "mysql/MySqlErrors.h"

namespace da::mysql {
namespace {

using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;
using transporttest::SqlClient;

struct SslSettings {
  SslSettings(std::string k = "", std::string c = "", std::string a = "", std::string ciphers = "")
      : key(std::move(k)), cert(std::move(c)), ca(std::move(a)), cipher(std::move(ciphers)) {}
  std::string key, cert, ca, cipher;
};

void UseSsl(SqlClient& c, const SslSettings& s) {
  c.api.mysql_ssl_set(c.session, s.key, s.cert, s.ca, "", s.cipher);
}

std::string StatusValue(SqlClient& c, const std::string& name) {
  auto rows = c.Rows("SHOW SESSION STATUS LIKE '" + name + "'");
  return rows.size() == 1 && rows[0].size() == 2 && rows[0][1] ? *rows[0][1] : "<missing>";
}

class Ssl : public testsupport::ServerTest {};

TEST_F(Ssl, EncryptsWithAndWithoutACa) {
  const struct {
    const char* what;
    std::string host;
    SslSettings settings;
  } cases[] = {
      {"no CA: encrypted, unverified", server().host, {}},
      {"the server's CA, by address", server().host, {"", "", server().sslCa}},
      {"the server's CA, by name", "localhost", {"", "", server().sslCa}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SqlClient client;
    UseSsl(client, c.settings);
    ASSERT_TRUE(client.Connect(c.host, server().port, server().user, server().password, server().database))
        << client.Error();
    EXPECT_EQ(client.HostInfo(), c.host + " via SSL");
    std::string version = StatusValue(client, "Ssl_version");
    EXPECT_TRUE(version == "TLSv1.2" || version == "TLSv1.3") << version;
    EXPECT_NE(StatusValue(client, "Ssl_cipher"), "");
    EXPECT_NE(StatusValue(client, "Ssl_cipher"), "<missing>");
  }
}

TEST_F(Ssl, LargeResultsAndStatementsTravelWhole) {
  SqlClient client;
  UseSsl(client, {"", "", server().sslCa});
  ASSERT_TRUE(client.Connect(server())) << client.Error();
  // 3 MB each way: many TLS records in both directions.
  std::string value(3000000, 'q');
  for (size_t i = 0; i < value.size(); i += 1000) value[i] = 'z';
  EXPECT_EQ(client.Scalar("SELECT LENGTH('" + value + "')"), "3000000");
  EXPECT_EQ(client.Scalar("SELECT LENGTH('" + value + "') - LENGTH(REPLACE('" + value + "', 'z', ''))"), "3000");
  std::string expected;
  for (int i = 0; i < 1500000; ++i) expected += "ab";
  auto rows = client.Rows("SELECT REPEAT('ab', 1500000)");
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_TRUE(rows[0][0]);
  EXPECT_TRUE(*rows[0][0] == expected) << rows[0][0]->size();
}

TEST_F(Ssl, AServerCertificateThatDoesNotChainToTheCaIsRefused) {
  SqlClient client;
  UseSsl(client, {"", "", server().sslOtherCa});
  EXPECT_FALSE(client.Connect(server()));
  EXPECT_EQ(client.Errno(), CR_SSL_CONNECTION_ERROR);
  std::string error = client.Error();
  EXPECT_EQ(error.rfind("SSL connection error\r\nSSL_do_handshake = ", 0), 0u) << error;
  EXPECT_NE(error.find("certificate verify failed"), std::string::npos) << error;
}

TEST_F(Ssl, TheX509AccountNeedsTheClientCertificate) {
  {
    SqlClient client;
    UseSsl(client, {server().sslKey, server().sslCert, server().sslCa});
    ASSERT_TRUE(client.Connect(server().host, server().port, server().x509User, server().x509Password,
                               server().database))
        << client.Error();
    EXPECT_EQ(client.Scalar("SELECT CURRENT_USER()"), server().x509User + "@%");
  }
  {
    SqlClient client;
    UseSsl(client, {"", "", server().sslCa});
    EXPECT_FALSE(client.Connect(server().host, server().port, server().x509User, server().x509Password,
                                server().database));
    EXPECT_EQ(client.Errno(), 1045) << client.Error();
  }
}

TEST_F(Ssl, AKeyLeftEmptyIsReadFromTheCertificateFile) {
  // One PEM file with the certificate and its key.
  std::string both = ::testing::TempDir() + "/client-both.pem";
  {
    std::ofstream out(both);
    out << std::ifstream(server().sslCert).rdbuf() << std::ifstream(server().sslKey).rdbuf();
  }
  SqlClient client;
  UseSsl(client, {"", both, server().sslCa});
  EXPECT_TRUE(client.Connect(server().host, server().port, server().x509User, server().x509Password,
                             server().database))
      << client.Error();
  std::remove(both.c_str());
}

TEST_F(Ssl, BadClientSettingsFailWithWhatIsWrong) {
  const struct {
    SslSettings settings;
    const char* detail;
  } cases[] = {
      {{"", "/nonexistent/cert.pem", ""}, "SSL certificate file cannot be loaded: /nonexistent/cert.pem"},
      {{server().sslCa, server().sslCert, ""}, "SSL key"},  // the CA holds no key for the certificate
      {{"", "", "/nonexistent/ca.pem"}, "SSL CA certificate cannot be loaded: /nonexistent/ca.pem"},
      {{"", "", "", "NO-SUCH-CIPHER"}, "SSL cipher list names no usable cipher: NO-SUCH-CIPHER"},
  };
  for (const auto& c : cases) {
    SqlClient client;
    UseSsl(client, c.settings);
    EXPECT_FALSE(client.Connect(server()));
    EXPECT_EQ(client.Errno(), CR_SSL_CONNECTION_ERROR);
    EXPECT_EQ(client.Error().rfind(std::string("SSL connection error\r\n") + c.detail, 0), 0u) << client.Error();
  }
}

// --- Scripted servers -------------------------------------------------------

using namespace wiretest;

// Every byte the client sends until it closes.
Bytes ReadUntilClosed(ScriptedConnection& c) {
  Bytes all;
  try {
    for (;;) all.push_back(c.Read(1)[0]);
  } catch (const testsupport::ScriptError&) {
  }
  return all;
}

TEST(SslScripted, AServerWithoutSslGetsNoLoginInClear) {
  Bytes after;
  ScriptedServer server([&](ScriptedConnection& c) {
    c.SendPacket(0, Greeting41(kCaps41));  // no CLIENT_SSL
    after = ReadUntilClosed(c);
  });
  {
    SqlClient client;
    client.api.mysql_ssl_set(client.session, "", "", "", "", "");
    EXPECT_FALSE(client.Connect("127.0.0.1", server.port(), "da_user", "pw", "db"));
    EXPECT_EQ(client.Errno(), CR_SSL_CONNECTION_ERROR);
    EXPECT_EQ(client.Error(), "SSL connection error\r\nThe server does not offer SSL");
  }
  EXPECT_EQ(server.Finish(), "");
  // Nothing but possibly the quit command, never the login packet.
  EXPECT_LE(after.size(), 5u);
}

TEST(SslScripted, AnErrorPacketInPlaceOfTheHandshakeFailsAndNothingFollowsInClear) {
  Bytes request, after;
  ScriptedServer server([&](ScriptedConnection& c) {
    c.SendPacket(0, Greeting41(kCaps41 | CLIENT_SSL));
    request = c.ReadPacket().payload;
    c.SendPacket(2, ErrorPacket(1045, "#28000Access denied"));
    after = ReadUntilClosed(c);
  });
  {
    SqlClient client;
    client.api.mysql_ssl_set(client.session, "", "", "", "", "");
    EXPECT_FALSE(client.Connect("127.0.0.1", server.port(), "da_user", "pw", "db"));
    EXPECT_EQ(client.Errno(), CR_SSL_CONNECTION_ERROR);
    EXPECT_EQ(client.Error().rfind("SSL connection error\r\nSSL_do_handshake = ", 0), 0u) << client.Error();
  }
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(request.size(), 32u);
  // Only the TLS client hello (a handshake record), no plain packet.
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(after[0], 0x16);
  Bytes quit = {1, 0, 0, 0, 1};
  EXPECT_EQ(std::search(after.begin(), after.end(), quit.begin(), quit.end()), after.end());
  std::string text(after.begin(), after.end());
  EXPECT_EQ(text.find("da_user"), std::string::npos);
}

// A server certificate signed by the test CA but naming another host.
struct ForeignNameCertificate {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;

  explicit ForeignNameCertificate(const std::string& caFile) {
    std::string caKeyFile = caFile.substr(0, caFile.rfind('/')) + "/ca-key.pem";
    FILE* f = std::fopen(caFile.c_str(), "r");
    X509* ca = f ? PEM_read_X509(f, nullptr, nullptr, nullptr) : nullptr;
    if (f) std::fclose(f);
    f = std::fopen(caKeyFile.c_str(), "r");
    EVP_PKEY* caKey = f ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
    if (f) std::fclose(f);
    if (!ca || !caKey) {
      X509_free(ca);
      EVP_PKEY_free(caKey);
      return;
    }
    key = EVP_RSA_gen(2048);
    cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 4242);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("elsewhere.invalid"), -1, -1, 0);
    X509_set_issuer_name(cert, X509_get_subject_name(ca));
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, ca, cert, nullptr, nullptr, 0);
    if (X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, "DNS:elsewhere.invalid")) {
      X509_add_ext(cert, san, -1);
      X509_EXTENSION_free(san);
    }
    X509_sign(cert, caKey, EVP_sha256());
    X509_free(ca);
    EVP_PKEY_free(caKey);
  }
  ~ForeignNameCertificate() {
    X509_free(cert);
    EVP_PKEY_free(key);
  }
  bool Ok() const { return key && cert; }
};

// A server that offers SSL, shows `certificate` in the handshake and, when
// the client goes on, accepts its login over TLS. Returns whether the
// client completed the handshake.
bool ServeTls(ScriptedConnection& c, const ForeignNameCertificate& certificate) {
  c.SendPacket(0, Greeting41(kCaps41 | CLIENT_SSL));
  c.ReadPacket();  // the SSL request
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  SSL_CTX_use_certificate(ctx, certificate.cert);
  SSL_CTX_use_PrivateKey(ctx, certificate.key);
  SSL* ssl = SSL_new(ctx);
  SSL_set_fd(ssl, c.Fd());
  bool accepted = SSL_accept(ssl) == 1;
  if (accepted) {
    uint8_t header[4];
    if (SSL_read(ssl, header, 4) != 4) throw testsupport::ScriptError("no login over TLS");
    size_t length = header[0] | header[1] << 8 | header[2] << 16;
    std::vector<uint8_t> login(length);
    for (size_t got = 0; got < length;) {
      int n = SSL_read(ssl, login.data() + got, static_cast<int>(length - got));
      if (n <= 0) throw testsupport::ScriptError("login cut short");
      got += static_cast<size_t>(n);
    }
    Bytes ok = Framed(header[3] + 1, OkPacket());
    SSL_write(ssl, ok.data(), static_cast<int>(ok.size()));
    uint8_t quit[5];
    SSL_read(ssl, quit, sizeof quit);
  }
  SSL_free(ssl);
  SSL_CTX_free(ctx);
  return accepted;
}

TEST(SslScripted, WithACaTheCertificateMustNameTheHost) {
  REQUIRE_TEST_SERVER(info);
  ForeignNameCertificate certificate(info.sslCa);
  ASSERT_TRUE(certificate.Ok());
  bool accepted = true;
  ScriptedServer server([&](ScriptedConnection& c) { accepted = ServeTls(c, certificate); });
  {
    SqlClient client;
    client.api.mysql_ssl_set(client.session, "", "", info.sslCa, "", "");
    EXPECT_FALSE(client.Connect("127.0.0.1", server.port(), "da_user", "pw", "db"));
    EXPECT_EQ(client.Errno(), CR_SSL_CONNECTION_ERROR);
    EXPECT_NE(client.Error().find("IP address mismatch"), std::string::npos) << client.Error();
  }
  EXPECT_EQ(server.Finish(), "");
  EXPECT_FALSE(accepted);
}

TEST(SslScripted, WithoutACaAnyCertificateIsTaken) {
  REQUIRE_TEST_SERVER(info);
  ForeignNameCertificate certificate(info.sslCa);
  ASSERT_TRUE(certificate.Ok());
  bool accepted = false;
  ScriptedServer server([&](ScriptedConnection& c) { accepted = ServeTls(c, certificate); });
  {
    SqlClient client;
    client.api.mysql_ssl_set(client.session, "", "", "", "", "");
    EXPECT_TRUE(client.Connect("127.0.0.1", server.port(), "da_user", "pw", "db")) << client.Error();
  }
  EXPECT_EQ(server.Finish(), "");
  EXPECT_TRUE(accepted);
}

}  // namespace
}  // namespace da::mysql
