#pragma once
// Plain TCP transport over POSIX sockets, with the host-name lookup and the
// connect both bounded by the connection time-out.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/Exception.h"
#include "mysql/CRVio.h"

namespace da::mysql {

// A socket failure the transport raises (only from Connect, the setters and
// WaitForReadable; reads and writes report through ErrorText instead).
class SocketException : public Exception {
 public:
  SocketException(int32_t errorCode, std::string message) : Exception(std::move(message)), errorCode_(errorCode) {}
  int32_t ErrorCode() const { return errorCode_; }

 private:
  int32_t errorCode_;
};

// An operating-system call failed (a socket option could not be set).
class EOSError : public Exception {
 public:
  explicit EOSError(int errorNumber);
  int ErrorNumber() const { return errorNumber_; }

 private:
  int errorNumber_;
};

// Resolves a host name to an IPv4 address (network byte order). Answers
// false with a system error number in `error` when the name is unknown.
// Runs on the resolver's own thread: it must not touch the transport.
using TNameLookup = std::function<bool(const std::string& host, uint32_t& address, int& error)>;

// The system's lookup (getaddrinfo, first IPv4 address).
bool SystemNameLookup(const std::string& host, uint32_t& address, int& error);

// One host-name lookup on its own thread. Everything the thread touches
// (the host text, the lookup function, the result) lives in a state shared
// with the waiting side, so a thread abandoned at the time-out finishes in
// the background without touching the transport or freed memory.
class THostNameResolver {
 public:
  THostNameResolver(std::string host, TNameLookup lookup);  // starts the thread
  ~THostNameResolver();                                       // never waits for it
  THostNameResolver(const THostNameResolver&) = delete;
  THostNameResolver& operator=(const THostNameResolver&) = delete;

  // Waits at most `milliseconds` for the lookup; true when it has finished.
  bool WaitFor(int64_t milliseconds);
  // After a finished lookup: true with the address, or false with the error.
  bool Result(uint32_t& address, int& error) const;

 private:
  struct TState;
  std::shared_ptr<TState> state_;
};

class TCRVioTcp : public TCRVio {
 public:
  TCRVioTcp(std::string host, int32_t port);
  // Closes a socket still open, so that a forgotten Close leaks nothing.
  ~TCRVioTcp() override;

  const std::string& Host() const { return host_; }
  // Raise SocketException 2007 while the socket is open.
  void SetHost(const std::string& host);
  int32_t Port() const { return port_; }
  void SetPort(int32_t port);

  // Limit of the name lookup and of the connect; below 1 means no limit.
  int32_t ConnectionTimeoutSeconds() const { return connectionTimeout_; }
  void SetConnectionTimeoutSeconds(int32_t seconds) { connectionTimeout_ = seconds; }
  int32_t SendTimeoutSeconds() const { return sendTimeout_; }
  void SetSendTimeoutSeconds(int32_t seconds) { ApplySendTimeout(seconds, false); }
  int32_t ReceiveTimeoutSeconds() const { return receiveTimeout_; }
  void SetReceiveTimeoutSeconds(int32_t seconds) { ApplyReceiveTimeout(seconds, false); }

  // Replaces the name lookup (the system's by default).
  void SetNameLookup(TNameLookup lookup) { lookup_ = std::move(lookup); }

  int32_t GetIoTimeout() override { return receiveTimeout_; }
  // Receive time-out and connection time-out := seconds.
  void SetIoTimeout(int32_t seconds) override;
  // Resolves, connects and sets the socket options. Raises SocketException
  // (ErrorText then tells what failed) and leaves the socket closed on failure.
  void Connect() override;
  void Close() override;
  int32_t ReceiveOnce(uint8_t* buffer, int32_t offset, int32_t count) override;
  int32_t SendOnce(const uint8_t* buffer, int32_t offset, int32_t count) override;
  // 0 without sending when the socket is closed.
  int32_t Write(const uint8_t* buffer, int32_t offset, int32_t count) override;
  bool WaitForReadable(int32_t seconds) override;
  // The open socket, -1 while closed.
  virtual int GetSocketHandle() const { return socket_; }

 private:
  uint32_t ResolveAddress();
  void ConnectSocket(uint32_t address);
  // Waits for a connect under way to finish (until `deadline`, or without
  // limit); answers its error (0: connected). Raises SocketException 2003
  // with "Connection timed out" at the deadline.
  int AwaitConnect(std::optional<std::chrono::steady_clock::time_point> deadline);
  void ApplyReceiveTimeout(int32_t seconds, bool force);
  void ApplySendTimeout(int32_t seconds, bool force);
  void SetSocketErrorText(const char* operation, int error);

  std::string host_;
  int32_t port_;
  int32_t connectionTimeout_ = 0;
  int32_t sendTimeout_ = 0;
  int32_t receiveTimeout_ = 30;
  int socket_ = -1;
  TNameLookup lookup_ = SystemNameLookup;
};

}  // namespace da::mysql
