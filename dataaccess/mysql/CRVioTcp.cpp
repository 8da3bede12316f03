#include "mysql/CRVioTcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <optional>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "common/Format.h"

namespace da::mysql {
namespace {

constexpr const char* kTimedOut = "Connection timed out";

// Codes of the transport's own exceptions.
constexpr int32_t kCodeNoSocket = 2005;      // no socket, or the host is unknown
constexpr int32_t kCodeConnect = 2003;       // connect refused, unreachable or timed out
constexpr int32_t kCodeSelect = 2006;        // waiting for data failed
constexpr int32_t kCodeChangeOpen = 2007;    // Host or Port changed while open

std::string SocketErrorText(const char* operation, int error) {
  return Format("Socket error on %s. WSAGetLastError return %d($%X)", {operation, error, error});
}

SocketException SocketError(int32_t code, int error) {
  return SocketException(code, Format("Socket error %d", {error}));
}

using Clock = std::chrono::steady_clock;

// Polls `p` until it is ready or `deadline` has passed (none: no limit). A
// signal does not end the wait, and a deadline further off than one poll
// can wait (about 24 days of milliseconds in an int) is waited for in
// steps. Answers as poll: 1 ready, 0 timed out, -1 failed (errno set).
int PollUntil(pollfd& p, std::optional<Clock::time_point> deadline) {
  for (;;) {
    int timeoutMs = -1;
    if (deadline) {
      int64_t left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      timeoutMs = static_cast<int>(std::clamp<int64_t>(left, 0, INT_MAX));
    }
    int rc = ::poll(&p, 1, timeoutMs);
    if (rc < 0 && errno == EINTR) continue;
    if (rc == 0 && deadline && Clock::now() < *deadline) continue;
    return rc;
  }
}

}  // namespace

EOSError::EOSError(int errorNumber)
    : Exception(Format("System Error.  Code: %d.\r\n%s", {errorNumber, std::strerror(errorNumber)})),
      errorNumber_(errorNumber) {}

bool SystemNameLookup(const std::string& host, uint32_t& address, int& error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || !found) {
    error = rc == EAI_SYSTEM ? errno : (rc < 0 ? -rc : rc);
    if (found) ::freeaddrinfo(found);
    return false;
  }
  address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(found);
  return true;
}

// ---------------------------------------------------------------------------
// THostNameResolver

struct THostNameResolver::TState {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  bool resolved = false;
  uint32_t address = 0;
  int error = 0;
};

THostNameResolver::THostNameResolver(std::string host, TNameLookup lookup) : state_(std::make_shared<TState>()) {
  // The thread owns copies of everything it reads and a share of the state
  // it writes; nothing of the caller's is left for it to touch.
  std::thread([state = state_, host = std::move(host), lookup = std::move(lookup)] {
    uint32_t address = 0;
    int error = 0;
    bool ok = false;
    try {
      ok = lookup(host, address, error);
    } catch (...) {
      ok = false;
      error = EINVAL;
    }
    std::lock_guard lock(state->mutex);
    state->resolved = ok;
    state->address = address;
    state->error = error;
    state->done = true;
    state->finished.notify_all();
  }).detach();
}

THostNameResolver::~THostNameResolver() = default;

bool THostNameResolver::WaitFor(int64_t milliseconds) {
  std::unique_lock lock(state_->mutex);
  return state_->finished.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return state_->done; });
}

bool THostNameResolver::Result(uint32_t& address, int& error) const {
  std::lock_guard lock(state_->mutex);
  address = state_->address;
  error = state_->error;
  return state_->done && state_->resolved;
}

// ---------------------------------------------------------------------------
// TCRVioTcp

TCRVioTcp::TCRVioTcp(std::string host, int32_t port) : host_(std::move(host)), port_(port) {}

TCRVioTcp::~TCRVioTcp() {
  if (socket_ >= 0) ::close(socket_);
}

void TCRVioTcp::SetHost(const std::string& host) {
  if (socket_ >= 0) throw SocketException(kCodeChangeOpen, "Cannot change Host for open socket.");
  host_ = host;
}

void TCRVioTcp::SetPort(int32_t port) {
  if (socket_ >= 0) throw SocketException(kCodeChangeOpen, "Cannot change Port for open socket.");
  port_ = port;
}

void TCRVioTcp::SetIoTimeout(int32_t seconds) {
  SetReceiveTimeoutSeconds(seconds);
  connectionTimeout_ = seconds;
}

void TCRVioTcp::SetSocketErrorText(const char* operation, int error) {
  SetErrorText(SocketErrorText(operation, error));
}

void TCRVioTcp::Connect() {
  if (socket_ >= 0) throw EAssertionFailed("TCRVioTcp.Connect: socket already open");
  TCRVio::Connect();
  ClearErrorText();
  if (host_.empty()) host_ = "localhost";

  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) throw SocketError(kCodeNoSocket, errno);
  try {
    ConnectSocket(ResolveAddress());
    int on = 1;
    ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(socket_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ApplyReceiveTimeout(receiveTimeout_, true);
    ApplySendTimeout(receiveTimeout_, true);
  } catch (...) {
    ::close(socket_);
    socket_ = -1;
    throw;
  }
}

uint32_t TCRVioTcp::ResolveAddress() {
  in_addr parsed{};
  if (::inet_pton(AF_INET, host_.c_str(), &parsed) == 1) return parsed.s_addr;

  uint32_t address = 0;
  int error = 0;
  bool resolved = false;
  if (connectionTimeout_ < 1) {
    resolved = lookup_(host_, address, error);
  } else {
    THostNameResolver resolver(host_, lookup_);
    if (!resolver.WaitFor(int64_t{connectionTimeout_} * 1000)) {
      SetErrorText(kTimedOut);
      throw SocketError(kCodeNoSocket, ETIMEDOUT);
    }
    resolved = resolver.Result(address, error);
  }
  if (!resolved) {
    SetSocketErrorText("connect", error);
    throw SocketError(kCodeNoSocket, error);
  }
  return address;
}

void TCRVioTcp::ConnectSocket(uint32_t address) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(port_));
  target.sin_addr.s_addr = address;
  const sockaddr* to = reinterpret_cast<const sockaddr*>(&target);

  if (connectionTimeout_ < 1) {
    if (::connect(socket_, to, sizeof target) != 0) {
      int error = errno;
      // Interrupted by a signal, the connect goes on by itself; a second
      // connect would only be told EALREADY. Wait for the first instead.
      if (error == EINTR) error = AwaitConnect(std::nullopt);
      if (error != 0) {
        SetSocketErrorText("connect", error);
        throw SocketError(kCodeConnect, error);
      }
    }
    return;
  }

  // A blocking connect to an address that does not answer waits for the
  // system's SYN retries (minutes); connect without blocking and wait at
  // most the connection time-out instead.
  int flags = ::fcntl(socket_, F_GETFL, 0);
  ::fcntl(socket_, F_SETFL, flags | O_NONBLOCK);
  if (::connect(socket_, to, sizeof target) != 0) {
    int error = errno;
    if (error == EINPROGRESS || error == EINTR)
      error = AwaitConnect(Clock::now() + std::chrono::seconds(connectionTimeout_));
    if (error != 0) {
      SetSocketErrorText("connect", error);
      throw SocketError(kCodeConnect, error);
    }
  }
  ::fcntl(socket_, F_SETFL, flags);
}

int TCRVioTcp::AwaitConnect(std::optional<std::chrono::steady_clock::time_point> deadline) {
  pollfd p{socket_, POLLOUT, 0};
  int rc = PollUntil(p, deadline);
  if (rc == 0) {
    SetErrorText(kTimedOut);
    throw SocketError(kCodeConnect, ETIMEDOUT);
  }
  if (rc < 0) return errno;
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
  return error;
}

void TCRVioTcp::ApplyReceiveTimeout(int32_t seconds, bool force) {
  if (!force && seconds == receiveTimeout_) return;
  receiveTimeout_ = seconds;
  if (socket_ < 0) return;
  timeval tv{};
  if (seconds > 0) tv.tv_sec = seconds;
  if (::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) throw EOSError(errno);
}

void TCRVioTcp::ApplySendTimeout(int32_t seconds, bool force) {
  if (!force && seconds == sendTimeout_) return;
  sendTimeout_ = seconds;
  if (socket_ < 0 || seconds < 1) return;
  timeval tv{};
  tv.tv_sec = seconds;
  if (::setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) throw EOSError(errno);
}

void TCRVioTcp::Close() {
  if (socket_ < 0) return;
  ::shutdown(socket_, SHUT_RDWR);
  ::close(socket_);
  socket_ = -1;
}

int32_t TCRVioTcp::ReceiveOnce(uint8_t* buffer, int32_t offset, int32_t count) {
  ClearErrorText();
  if (socket_ < 0) return 0;
  ssize_t got;
  do {
    got = ::recv(socket_, buffer + offset, static_cast<size_t>(count), 0);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    SetSocketErrorText("read", errno);
    return 0;
  }
  return static_cast<int32_t>(got);
}

int32_t TCRVioTcp::SendOnce(const uint8_t* buffer, int32_t offset, int32_t count) {
  ClearErrorText();
  if (socket_ < 0) return 0;
  ssize_t sent;
  do {
    // MSG_NOSIGNAL: a peer that has gone must give an error, not SIGPIPE.
    sent = ::send(socket_, buffer + offset, static_cast<size_t>(count), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    SetSocketErrorText("write", errno);
    return 0;
  }
  return static_cast<int32_t>(sent);
}

int32_t TCRVioTcp::Write(const uint8_t* buffer, int32_t offset, int32_t count) {
  if (socket_ < 0) return 0;
  return TCRVio::Write(buffer, offset, count);
}

bool TCRVioTcp::WaitForReadable(int32_t seconds) {
  ClearErrorText();
  pollfd p{socket_, POLLIN, 0};
  std::optional<Clock::time_point> deadline;
  if (seconds >= 0) deadline = Clock::now() + std::chrono::seconds(seconds);
  int rc = PollUntil(p, deadline);
  if (rc < 0) {
    SetSocketErrorText("select", errno);
    throw SocketException(kCodeSelect, "");
  }
  return rc == 1;
}

}  // namespace da::mysql
