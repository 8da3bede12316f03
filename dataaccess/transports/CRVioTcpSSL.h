#pragma once
// The TCP transport with a TLS layer that can be switched on once the
// connection exists: the MySQL greeting and the client's SSL request travel
// in clear, then StartSSL runs the TLS handshake over the same socket and
// every later byte goes through TLS.
//
// Verification: with a CA file or CA path the server's certificate must
// chain to it and name the host connected to, or the handshake fails.
// Without either the stream is encrypted but the server is not verified.

#include <cstdint>
#include <string>

#include "mysql/CRVioTcp.h"

struct ssl_ctx_st;
struct ssl_st;

namespace da::transports {

class TCRVioTcpSSL : public mysql::TCRVioTcp {
 public:
  TCRVioTcpSSL(std::string host, int32_t port, std::string keyFile, std::string certFile, std::string caFile,
               std::string caPath, std::string cipherList);
  // Frees the TLS objects; the socket is closed by the TCP transport.
  ~TCRVioTcpSSL() override;

  // Switches the connected stream to TLS (TLS 1.2 at least). Raises
  // da::Exception with what failed: a certificate or key file that cannot
  // be loaded, a key that does not match the certificate, a cipher list
  // that names no cipher, a CA that cannot be loaded, or a handshake that
  // does not complete ("SSL_do_handshake = ..." followed by OpenSSL's
  // reason, e.g. a certificate that does not verify). On failure the socket
  // is closed, so that nothing more goes out in clear. Assertion failure
  // when `on` is false or the socket is not open.
  void StartSSL(bool on);
  bool SslActive() const { return ssl_ != nullptr; }
  // The negotiated protocol and cipher ("TLSv1.3", ...); empty before StartSSL.
  std::string SslVersion() const;
  std::string SslCipher() const;

  // Sends a TLS close notice, then closes the socket.
  void Close() override;
  // After StartSSL: one TLS read / write (0 on failure, ErrorText set).
  // Before: the plain TCP operations.
  int32_t ReceiveOnce(uint8_t* buffer, int32_t offset, int32_t count) override;
  int32_t SendOnce(const uint8_t* buffer, int32_t offset, int32_t count) override;
  // Also true while TLS holds decrypted bytes not read yet.
  bool WaitForReadable(int32_t seconds) override;

 private:
  void BuildContext();
  void FreeSsl();

  std::string keyFile_, certFile_, caFile_, caPath_, cipherList_;
  ssl_ctx_st* context_ = nullptr;  // owned
  ssl_st* ssl_ = nullptr;          // owned; kept only once the handshake succeeded
};

}  // namespace da::transports
