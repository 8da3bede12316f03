#include "ScriptedServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace testsupport {
namespace {

constexpr int kAcceptTimeoutMs = 20000;

int Listen(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw ScriptError("socket failed");
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    throw ScriptError("bind/listen failed");
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  return fd;
}

bool WaitReadable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, timeoutMs);
  } while (rc < 0 && errno == EINTR);
  return rc == 1;
}

}  // namespace

// ---------------------------------------------------------------------------
// ScriptedConnection

ScriptedConnection::~ScriptedConnection() { Close(); }

void ScriptedConnection::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

void ScriptedConnection::Send(const void* data, size_t count) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (count > 0) {
    ssize_t n = ::send(fd_, p, count, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw ScriptError(std::string("send failed: ") + std::strerror(errno));
    p += n;
    count -= static_cast<size_t>(n);
  }
}

void ScriptedConnection::SendPacket(uint8_t seq, const Bytes& payload) {
  if (payload.size() > 0xFFFFFF) throw ScriptError("SendPacket: payload too long for one packet");
  Bytes header;
  PutLE(header, payload.size(), 3);
  header.push_back(seq);
  Send(header);
  Send(payload);
}

Bytes ScriptedConnection::Read(size_t count) {
  Bytes out(count);
  size_t got = 0;
  while (got < count) {
    if (!WaitReadable(fd_, timeoutMs_)) throw ScriptError("read timed out after " + std::to_string(got) + " of " +
                                                          std::to_string(count) + " bytes");
    ssize_t n = ::recv(fd_, out.data() + got, count - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw ScriptError("peer closed after " + std::to_string(got) + " of " + std::to_string(count) + " bytes");
    got += static_cast<size_t>(n);
  }
  return out;
}

ScriptedConnection::Packet ScriptedConnection::ReadPacket() {
  Bytes header = Read(4);
  Packet packet;
  packet.seq = header[3];
  size_t length = header[0] | header[1] << 8 | header[2] << 16;
  packet.payload = Read(length);
  return packet;
}

bool ScriptedConnection::WaitForClose() {
  uint8_t scratch[4096];
  for (;;) {
    if (!WaitReadable(fd_, timeoutMs_)) return false;
    ssize_t n = ::recv(fd_, scratch, sizeof scratch, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
  }
}

// ---------------------------------------------------------------------------
// ScriptedServer

ScriptedServer::ScriptedServer(Script script, int connections)
    : script_(std::move(script)), connections_(connections) {
  listenFd_ = Listen(port_);
  thread_ = std::thread([this] { Run(); });
}

void ScriptedServer::Run() {
  for (int i = 0; i < connections_; ++i) {
    if (!WaitReadable(listenFd_, kAcceptTimeoutMs)) {
      std::lock_guard lock(mutex_);
      failures_ += "no client connected (connection " + std::to_string(i + 1) + ")\n";
      return;
    }
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      std::lock_guard lock(mutex_);
      failures_ += "accept failed\n";
      return;
    }
    ScriptedConnection connection(fd);
    try {
      script_(connection);
    } catch (const std::exception& e) {
      std::lock_guard lock(mutex_);
      failures_ += std::string("script failed: ") + e.what() + "\n";
    }
  }
}

std::string ScriptedServer::Finish() {
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    listenFd_ = -1;
  }
  std::lock_guard lock(mutex_);
  finished_ = true;
  return failures_;
}

ScriptedServer::~ScriptedServer() {
  bool reported = finished_;
  std::string failures = Finish();
  if (!reported && !failures.empty()) ADD_FAILURE() << "scripted server: " << failures;
}

int UnusedPort() {
  int port = 0;
  int fd = Listen(port);
  ::close(fd);
  return port;
}

// ---------------------------------------------------------------------------
// Packet building

void PutLE(Bytes& out, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutBytes(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

void PutZ(Bytes& out, const std::string& text) {
  PutBytes(out, text);
  out.push_back(0);
}

void PutLengthCoded(Bytes& out, uint64_t value) {
  if (value <= 250) {
    out.push_back(static_cast<uint8_t>(value));
  } else if (value <= 0xFFFF) {
    out.push_back(252);
    PutLE(out, value, 2);
  } else if (value <= 0xFFFFFF) {
    out.push_back(253);
    PutLE(out, value, 3);
  } else {
    out.push_back(254);
    PutLE(out, value, 8);
  }
}

void PutLengthCodedText(Bytes& out, const std::string& text) {
  PutLengthCoded(out, text.size());
  PutBytes(out, text);
}

}  // namespace testsupport
