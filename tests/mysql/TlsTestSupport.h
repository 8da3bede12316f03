#pragma once
// TLS for the scripted-server tests, written with OpenSSL directly: a
// throwaway RSA key with a self-signed certificate, the server side of a
// scripted connection switched to TLS, and a client transport that a
// session's SSL switch-over turns into TLS.

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <memory>
#include <string>

#include "ScriptedServer.h"
#include "WireTestSupport.h"
#include "mysql/CRVioTcp.h"
#include "mysql/MySqlErrors.h"

namespace wiretest {

using testsupport::ScriptedConnection;
using testsupport::ScriptError;

// One RSA key for the process: the scripted server's TLS certificate and
// its key for the password exchange.
class TestKey {
 public:
  static TestKey& Get() {
    static TestKey key;
    return key;
  }
  EVP_PKEY* Key() const { return key_; }
  X509* Certificate() const { return cert_; }
  // The public key as "-----BEGIN PUBLIC KEY-----" PEM text.
  std::string PublicPem() const {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PUBKEY(bio, key_);
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(n));
    BIO_free(bio);
    return pem;
  }
  // RSA-OAEP decryption; empty when the bytes do not decrypt.
  Bytes Decrypt(const Bytes& cipher) const {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key_, nullptr);
    Bytes out;
    size_t n = 0;
    if (ctx && EVP_PKEY_decrypt_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) == 1 &&
        EVP_PKEY_decrypt(ctx, nullptr, &n, cipher.data(), cipher.size()) == 1) {
      out.resize(n);
      if (EVP_PKEY_decrypt(ctx, out.data(), &n, cipher.data(), cipher.size()) == 1)
        out.resize(n);
      else
        out.clear();
    }
    EVP_PKEY_CTX_free(ctx);
    return out;
  }

 private:
  TestKey() {
    key_ = EVP_RSA_gen(2048);
    cert_ = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert_), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert_), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert_), 3600 * 24);
    X509_set_pubkey(cert_, key_);
    X509_NAME* name = X509_get_subject_name(cert_);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("scripted"), -1,
                               -1, 0);
    X509_set_issuer_name(cert_, name);
    X509_sign(cert_, key_, EVP_sha256());
  }
  ~TestKey() {
    X509_free(cert_);
    EVP_PKEY_free(key_);
  }
  EVP_PKEY* key_ = nullptr;
  X509* cert_ = nullptr;
};

// The server's end of a scripted connection, plain or (after StartTls) TLS.
class ServerChannel {
 public:
  explicit ServerChannel(ScriptedConnection& c) : c_(c) {}
  ~ServerChannel() {
    if (ssl_) SSL_free(ssl_);
    if (ctx_) SSL_CTX_free(ctx_);
  }
  ServerChannel(const ServerChannel&) = delete;
  ServerChannel& operator=(const ServerChannel&) = delete;

  void StartTls() {
    timeval tv{c_.TimeoutMs() / 1000, 0};
    ::setsockopt(c_.Fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ctx_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx_, TestKey::Get().Certificate());
    SSL_CTX_use_PrivateKey(ctx_, TestKey::Get().Key());
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, c_.Fd());
    if (SSL_accept(ssl_) != 1) throw ScriptError("TLS handshake failed");
  }
  bool Secure() const { return ssl_ != nullptr; }

  void SendPacket(uint8_t seq, const Bytes& payload) {
    if (!ssl_) return c_.SendPacket(seq, payload);
    Bytes framed = Framed(seq, payload);
    if (SSL_write(ssl_, framed.data(), static_cast<int>(framed.size())) != static_cast<int>(framed.size()))
      throw ScriptError("TLS write failed");
  }
  ScriptedConnection::Packet ReadPacket() {
    if (!ssl_) return c_.ReadPacket();
    Bytes header = Read(4);
    ScriptedConnection::Packet p;
    p.seq = header[3];
    p.payload = Read(header[0] | header[1] << 8 | header[2] << 16);
    return p;
  }

 private:
  Bytes Read(size_t count) {
    Bytes out(count);
    size_t got = 0;
    while (got < count) {
      int n = SSL_read(ssl_, out.data() + got, static_cast<int>(count - got));
      if (n <= 0) throw ScriptError("TLS read failed or timed out");
      got += static_cast<size_t>(n);
    }
    return out;
  }

  ScriptedConnection& c_;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
};

// A TCP transport that switches to TLS when the session's SSL switch-over
// asks it to (no certificate check: the peer is the scripted server).
class TTestTlsVio : public da::mysql::TCRVioTcp {
 public:
  using TCRVioTcp::TCRVioTcp;
  ~TTestTlsVio() override { DropTls(); }

  void StartTls() {
    ctx_ = SSL_CTX_new(TLS_client_method());
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, GetSocketHandle());
    if (SSL_connect(ssl_) != 1) throw da::mysql::EMySqlException(da::mysql::CR_SSL_CONNECTION_ERROR);
  }
  void Close() override {
    DropTls();
    TCRVioTcp::Close();
  }
  int32_t ReceiveOnce(uint8_t* buffer, int32_t offset, int32_t count) override {
    if (!ssl_) return TCRVioTcp::ReceiveOnce(buffer, offset, count);
    int n = SSL_read(ssl_, buffer + offset, count);
    return n > 0 ? n : 0;
  }
  int32_t SendOnce(const uint8_t* buffer, int32_t offset, int32_t count) override {
    if (!ssl_) return TCRVioTcp::SendOnce(buffer, offset, count);
    int n = SSL_write(ssl_, buffer + offset, count);
    return n > 0 ? n : 0;
  }

 private:
  void DropTls() {
    if (ssl_) SSL_free(ssl_);
    if (ctx_) SSL_CTX_free(ctx_);
    ssl_ = nullptr;
    ctx_ = nullptr;
  }
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
};

}  // namespace wiretest
