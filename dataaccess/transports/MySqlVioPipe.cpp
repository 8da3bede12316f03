#include "transports/MySqlVioPipe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/Format.h"
#include "mysql/MySqlErrors.h"

namespace da::transports {
namespace {

constexpr int kConnectTries = 100;

bool IsLocalHost(const std::string& host) {
  if (host.empty() || host == ".") return true;
  std::string lower;
  for (char c : host) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower == "localhost";
}

}  // namespace

TMySqlVioPipe::TMySqlVioPipe(std::string host, int32_t port, std::string socketPath)
    : host_(std::move(host)), port_(port), socketPath_(std::move(socketPath)) {}

TMySqlVioPipe::~TMySqlVioPipe() {
  if (socket_ >= 0) ::close(socket_);
}

std::string TMySqlVioPipe::SocketPath() const { return socketPath_.empty() ? kDefaultSocketPath : socketPath_; }

void TMySqlVioPipe::Fail(int32_t code, const std::string& reason) {
  mysql::EMySqlException error(code, "", {host_, SocketPath(), reason});
  SetErrorText(error.Message());
  throw error;
}

void TMySqlVioPipe::SetIoTimeout(int32_t seconds) {
  ioTimeout_ = seconds;
  if (socket_ >= 0) ApplyTimeouts();
}

void TMySqlVioPipe::ApplyTimeouts() {
  timeval tv{};
  if (ioTimeout_ > 0) tv.tv_sec = ioTimeout_;
  if (::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0 ||
      ::setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) {
    int error = errno;
    Close();
    Fail(mysql::CR_NAMEDPIPESETSTATE_ERROR, std::strerror(error));
  }
}

void TMySqlVioPipe::Connect() {
  if (socket_ >= 0) throw EAssertionFailed("TMySqlVioPipe.Connect: socket already open");
  TCRVio::Connect();
  ClearErrorText();
  if (!IsLocalHost(host_)) Fail(mysql::CR_NAMEDPIPEOPEN_ERROR, "a local socket reaches only this machine");
  std::string path = SocketPath();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) Fail(mysql::CR_NAMEDPIPEOPEN_ERROR, "the socket path is too long");
  std::memcpy(address.sun_path, path.data(), path.size());

  socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (socket_ < 0) Fail(mysql::CR_NAMEDPIPEOPEN_ERROR, std::strerror(errno));

  // A server whose queue of connections is full answers EAGAIN: that is the
  // busy pipe. Try again for at most the time-out.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(ioTimeout_ > 0 ? ioTimeout_ : 15);
  for (int attempt = 1;; ++attempt) {
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) break;
    int error = errno;
    if (error == EINTR) continue;
    if (error == EAGAIN && attempt < kConnectTries && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    ::close(socket_);
    socket_ = -1;
    if (error == EAGAIN)
      Fail(attempt < kConnectTries ? mysql::CR_NAMEDPIPEWAIT_ERROR : mysql::CR_NAMEDPIPEOPEN_ERROR,
           "the server is busy");
    Fail(mysql::CR_NAMEDPIPEOPEN_ERROR, std::strerror(error));
  }

  int flags = ::fcntl(socket_, F_GETFL, 0);
  if (flags < 0 || ::fcntl(socket_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    int error = errno;
    Close();
    Fail(mysql::CR_NAMEDPIPESETSTATE_ERROR, std::strerror(error));
  }
  ApplyTimeouts();
}

void TMySqlVioPipe::Close() {
  if (socket_ < 0) return;
  ::shutdown(socket_, SHUT_RDWR);
  ::close(socket_);
  socket_ = -1;
}

int32_t TMySqlVioPipe::ReceiveOnce(uint8_t* buffer, int32_t offset, int32_t count) {
  ClearErrorText();
  if (socket_ < 0 || count <= 0) return 0;
  ssize_t got;
  do {
    got = ::recv(socket_, buffer + offset, static_cast<size_t>(count), 0);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    SetErrorText(Format("Socket error on read. %s", {std::strerror(errno)}));
    return 0;
  }
  return static_cast<int32_t>(got);
}

int32_t TMySqlVioPipe::SendOnce(const uint8_t* buffer, int32_t offset, int32_t count) {
  ClearErrorText();
  if (socket_ < 0 || count <= 0) return 0;
  size_t piece = static_cast<size_t>(std::min(count, kMaxSendPiece));
  ssize_t sent;
  do {
    sent = ::send(socket_, buffer + offset, piece, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    SetErrorText(Format("Socket error on write. %s", {std::strerror(errno)}));
    return 0;
  }
  return static_cast<int32_t>(sent);
}

}  // namespace da::transports
