#pragma once
// One client library as the wire benchmark drives it. Both implementations
// do the same work per row, so that the figures compare the libraries only.

#include <cstdint>
#include <memory>
#include <string>

#include "BenchServer.h"

namespace bench {

// The transports besides plain TCP that both clients offer.
enum class Via { kSsl, kSocket };

class BenchClient {
 public:
  virtual ~BenchClient() = default;
  virtual const char* Name() const = 0;
  // Throws std::runtime_error with the library's message on failure.
  virtual void Connect(const ServerAddress& server, bool compress) = 0;
  // Over TLS (verified against server.sslCa, the library's default ciphers)
  // or through the local socket.
  virtual void ConnectVia(const ServerAddress& server, Via via) = 0;
  // Through the HTTP tunnel script at `url`; false when the library has no
  // tunnel.
  virtual bool ConnectTunnel(const ServerAddress& /*server*/, const std::string& /*url*/) { return false; }
  // The first column of the first row of `sql`.
  virtual std::string Scalar(const std::string& sql) = 0;
  virtual void Execute(const std::string& sql) = 0;  // a statement without rows
  // Streams the rows of `sql` one by one (no storing) and reads every byte of
  // every column; answers a checksum of the bytes and counts the rows.
  virtual uint64_t ReadRows(const std::string& sql, uint64_t& rows) = 0;
  virtual void Close() = 0;
};

// Byte sum over a column, the same for both clients.
inline uint64_t TouchBytes(const char* p, unsigned long length) {
  uint64_t sum = 0;
  for (unsigned long i = 0; i < length; ++i) sum += static_cast<unsigned char>(p[i]);
  return sum + length;
}

std::unique_ptr<BenchClient> MakePeerClient();
std::unique_ptr<BenchClient> MakeOurClient();

}  // namespace bench
