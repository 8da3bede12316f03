#pragma once
// The local-connection transport. Where the server offers a named pipe on
// Windows, this platform offers a Unix-domain stream socket of the same
// role: it reaches only a server on this machine, named by the socket's
// path. The bytes on it are the same MySQL packets as on TCP.

#include <cstdint>
#include <string>

#include "mysql/CRVio.h"

namespace da::transports {

class TMySqlVioPipe : public mysql::TCRVio {
 public:
  // The path used for an empty socket name: the server's usual place.
  static constexpr const char* kDefaultSocketPath = "/run/mysqld/mysqld.sock";
  // Largest piece one SendOnce writes.
  static constexpr int32_t kMaxSendPiece = 65535;

  // `host` must be local ("", "localhost" or "."); `port` is not used;
  // `socketPath` names the socket (empty: kDefaultSocketPath).
  TMySqlVioPipe(std::string host, int32_t port, std::string socketPath);
  // Closes a socket still open.
  ~TMySqlVioPipe() override;

  int32_t GetIoTimeout() override { return ioTimeout_; }
  // Bounds the connect, and every receive and send of the open socket
  // (0: no bound).
  void SetIoTimeout(int32_t seconds) override;
  // Opens the socket. Raises EMySqlException 2017 "Can't open named pipe to
  // host: %s  pipe: %s (%s)" when the host is not this machine or the
  // socket cannot be reached (the reason last), 2016 when the server stays
  // busy beyond the time-out, 2018 when the socket cannot be set up; the
  // message is also left in ErrorText.
  void Connect() override;
  void Close() override;
  // One receive; 0 at the end of the stream or on failure (ErrorText set).
  int32_t ReceiveOnce(uint8_t* buffer, int32_t offset, int32_t count) override;
  // One send of at most kMaxSendPiece bytes; 0 on failure (ErrorText set).
  int32_t SendOnce(const uint8_t* buffer, int32_t offset, int32_t count) override;

  // A local socket: only this machine's processes, as the socket file's
  // permissions allow, can read what travels over it.
  bool IsSecure() const override { return true; }

  // The socket path Connect uses.
  std::string SocketPath() const;
  bool IsOpen() const { return socket_ >= 0; }
  int32_t Port() const { return port_; }

 private:
  [[noreturn]] void Fail(int32_t code, const std::string& reason);
  void ApplyTimeouts();

  std::string host_;
  int32_t port_;  // kept for the record only
  std::string socketPath_;
  int32_t ioTimeout_ = 0;
  int socket_ = -1;
};

}  // namespace da::transports
