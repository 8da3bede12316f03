#include "transports/CRVioTcpSSL.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "common/Exception.h"
#include "common/Format.h"

namespace da::transports {
namespace {

// --- A socket BIO that never raises SIGPIPE --------------------------------
// OpenSSL's own socket BIO writes with write(2), which kills the process with
// SIGPIPE when the server has gone; this one sends with MSG_NOSIGNAL, so a
// dropped connection is an ordinary write error like on plain TCP.

int SocketOf(BIO* bio) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio))); }

int BioWrite(BIO* bio, const char* data, int length) {
  BIO_clear_retry_flags(bio);
  ssize_t sent;
  do {
    sent = ::send(SocketOf(bio), data, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return static_cast<int>(sent);
}

int BioRead(BIO* bio, char* data, int length) {
  BIO_clear_retry_flags(bio);
  ssize_t got;
  do {
    got = ::recv(SocketOf(bio), data, static_cast<size_t>(length), 0);
  } while (got < 0 && errno == EINTR);
  return static_cast<int>(got);
}

int BioPuts(BIO* bio, const char* text) { return BioWrite(bio, text, static_cast<int>(std::strlen(text))); }

long BioCtrl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int BioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* SocketMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "dataaccess socket");
    if (!m) return m;
    BIO_meth_set_write(m, BioWrite);
    BIO_meth_set_read(m, BioRead);
    BIO_meth_set_puts(m, BioPuts);
    BIO_meth_set_ctrl(m, BioCtrl);
    BIO_meth_set_create(m, BioCreate);
    return m;
  }();
  return method;
}

// OpenSSL's queued reasons, oldest first, one per line; the queue is emptied.
std::string OpenSslReasons() {
  std::string out;
  while (unsigned long code = ERR_get_error()) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    if (!out.empty()) out += "\r\n";
    out += text;
  }
  return out;
}

[[noreturn]] void Fail(const std::string& what) {
  std::string reasons = OpenSslReasons();
  throw Exception(reasons.empty() ? what : what + "\r\n" + reasons);
}

bool IsBlank(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

bool IsIpAddress(const std::string& host) {
  in_addr v4{};
  in6_addr v6{};
  return ::inet_pton(AF_INET, host.c_str(), &v4) == 1 || ::inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

}  // namespace

TCRVioTcpSSL::TCRVioTcpSSL(std::string host, int32_t port, std::string keyFile, std::string certFile,
                           std::string caFile, std::string caPath, std::string cipherList)
    : TCRVioTcp(std::move(host), port),
      keyFile_(std::move(keyFile)),
      certFile_(std::move(certFile)),
      caFile_(std::move(caFile)),
      caPath_(std::move(caPath)),
      cipherList_(std::move(cipherList)) {}

TCRVioTcpSSL::~TCRVioTcpSSL() { FreeSsl(); }

void TCRVioTcpSSL::FreeSsl() {
  if (ssl_) SSL_free(ssl_);  // also frees the BIO
  ssl_ = nullptr;
  if (context_) SSL_CTX_free(context_);
  context_ = nullptr;
}

void TCRVioTcpSSL::BuildContext() {
  if (OPENSSL_init_ssl(0, nullptr) != 1) throw Exception("SSL library initialization failed");
  context_ = SSL_CTX_new(TLS_client_method());
  if (!context_) throw EAssertionFailed("SSL_CTX_new failure");
  // The servers this client meets speak TLS 1.2 and 1.3; older versions are
  // broken and refused.
  SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
  // Let OpenSSL take whatever the socket holds in one receive instead of a
  // record header and then its body: half the system calls on long results.
  SSL_CTX_set_read_ahead(context_, 1);

  if (!IsBlank(cipherList_) && SSL_CTX_set_cipher_list(context_, cipherList_.c_str()) != 1)
    Fail("SSL cipher list names no usable cipher: " + cipherList_);

  if (!certFile_.empty()) {
    const std::string& key = keyFile_.empty() ? certFile_ : keyFile_;
    if (SSL_CTX_use_certificate_file(context_, certFile_.c_str(), SSL_FILETYPE_PEM) != 1)
      Fail("SSL certificate file cannot be loaded: " + certFile_);
    if (SSL_CTX_use_PrivateKey_file(context_, key.c_str(), SSL_FILETYPE_PEM) != 1)
      Fail("SSL key file cannot be loaded: " + key);
    if (SSL_CTX_check_private_key(context_) != 1) Fail("SSL key does not match the certificate: " + key);
  }

  if (!caFile_.empty() || !caPath_.empty()) {
    // A CA that is given is used: the server must prove itself against it.
    if (SSL_CTX_load_verify_locations(context_, caFile_.empty() ? nullptr : caFile_.c_str(),
                                      caPath_.empty() ? nullptr : caPath_.c_str()) != 1)
      Fail("SSL CA certificate cannot be loaded: " + (caFile_.empty() ? caPath_ : caFile_));
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
  } else {
    // No CA: encrypted, but whatever certificate the server shows is taken.
    SSL_CTX_set_default_verify_paths(context_);
    ERR_clear_error();
    SSL_CTX_set_verify(context_, SSL_VERIFY_NONE, nullptr);
  }
}

void TCRVioTcpSSL::StartSSL(bool on) {
  if (!on) throw EAssertionFailed("TCRVioTcpSSL.StartSSL: SSL cannot be switched off");
  if (GetSocketHandle() < 0) throw EAssertionFailed("TCRVioTcpSSL.StartSSL: socket is not open");
  FreeSsl();
  ERR_clear_error();
  try {
    BuildContext();
    SSL* ssl = SSL_new(context_);
    if (!ssl) throw EAssertionFailed("SSL_new failure");
    ssl_ = ssl;
    BIO* bio = BIO_new(SocketMethod());
    if (!bio) Fail("SSL socket layer cannot be created");
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(GetSocketHandle())));
    SSL_set_bio(ssl, bio, bio);
    const std::string& host = Host();
    if (!caFile_.empty() || !caPath_.empty()) {
      // The certificate must also name the host we connected to.
      X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
      bool named = IsIpAddress(host) ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1
                                     : X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) == 1;
      if (!named) Fail("SSL cannot check the host name " + host);
    }
    if (!IsIpAddress(host)) SSL_set_tlsext_host_name(ssl, host.c_str());
    SSL_set_connect_state(ssl);

    int r = SSL_do_handshake(ssl);
    if (r != 1) {
      int e = SSL_get_error(ssl, r);
      std::string message = Format("SSL_do_handshake = %d\r\nSSL_get_error(..., r2) = %d\r\nr2 = %d", {r, e, r});
      long verify = SSL_get_verify_result(ssl);
      if (verify != X509_V_OK) message += Format("\r\n%s", {X509_verify_cert_error_string(verify)});
      std::string reasons = OpenSslReasons();
      if (!reasons.empty()) message += "\r\n" + reasons;
      else if (e == SSL_ERROR_SYSCALL)
        message += "\r\nThe server closed the connection or sent no TLS answer";
      throw Exception(message);
    }
  } catch (...) {
    // Nothing may follow in clear once TLS was asked for: the socket goes.
    FreeSsl();
    TCRVioTcp::Close();
    throw;
  }
}

std::string TCRVioTcpSSL::SslVersion() const { return ssl_ ? SSL_get_version(ssl_) : ""; }

std::string TCRVioTcpSSL::SslCipher() const {
  const char* name = ssl_ ? SSL_get_cipher_name(ssl_) : nullptr;
  return name ? name : "";
}

void TCRVioTcpSSL::Close() {
  if (ssl_ && GetSocketHandle() >= 0) {
    // One close notice, not waiting for the server's: a connection that has
    // failed gets none (OpenSSL refuses it then anyway).
    if (!(SSL_get_shutdown(ssl_) & SSL_SENT_SHUTDOWN)) SSL_shutdown(ssl_);
    ERR_clear_error();
  }
  TCRVioTcp::Close();
  FreeSsl();
}

int32_t TCRVioTcpSSL::ReceiveOnce(uint8_t* buffer, int32_t offset, int32_t count) {
  if (!ssl_) return TCRVioTcp::ReceiveOnce(buffer, offset, count);
  ClearErrorText();
  if (count <= 0) return 0;
  int got = SSL_read(ssl_, buffer + offset, count);
  if (got > 0) return got;
  int e = SSL_get_error(ssl_, got);
  if (e != SSL_ERROR_ZERO_RETURN) {
    std::string reasons = OpenSslReasons();
    SetErrorText(Format("SSL error on read. SSL_get_error return %d%s", {e, reasons.empty() ? "" : ": " + reasons}));
    // After a fatal error OpenSSL must not be asked for a close notice.
    if (e == SSL_ERROR_SYSCALL || e == SSL_ERROR_SSL) SSL_set_shutdown(ssl_, SSL_SENT_SHUTDOWN);
  }
  return 0;
}

int32_t TCRVioTcpSSL::SendOnce(const uint8_t* buffer, int32_t offset, int32_t count) {
  if (!ssl_) return TCRVioTcp::SendOnce(buffer, offset, count);
  ClearErrorText();
  if (count <= 0) return 0;
  int sent = SSL_write(ssl_, buffer + offset, count);
  if (sent > 0) return sent;
  int e = SSL_get_error(ssl_, sent);
  std::string reasons = OpenSslReasons();
  SetErrorText(Format("SSL error on write. SSL_get_error return %d%s", {e, reasons.empty() ? "" : ": " + reasons}));
  if (e == SSL_ERROR_SYSCALL || e == SSL_ERROR_SSL) SSL_set_shutdown(ssl_, SSL_SENT_SHUTDOWN);
  return 0;
}

bool TCRVioTcpSSL::WaitForReadable(int32_t seconds) {
  // Bytes read ahead by OpenSSL, decrypted or not, wait in its buffer and
  // not in the socket.
  if (ssl_ && SSL_has_pending(ssl_)) return true;
  return TCRVioTcp::WaitForReadable(seconds);
}

}  // namespace da::transports
