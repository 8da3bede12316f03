#pragma once
// Shared pieces of the wire-client tests: a listener that never answers a
// connect, a transport over bytes in memory (for parsers fed with exact
// bytes), and the server packets the scripted tests send.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "ScriptedServer.h"
#include "mysql/CRVio.h"
#include "mysql/MyCall.h"

namespace wiretest {

// A listener whose accept queue is full drops further SYNs, so a connect to
// it gets no answer at all: the case of an address that does not answer.
class SilentListener {
 public:
  SilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 0);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    // Fill the queue; these connects complete or stay pending, never accepted.
    for (int& f : fillers_) {
      f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      ::connect(f, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ~SilentListener() {
    for (int f : fillers_)
      if (f >= 0) ::close(f);
    ::close(fd_);
  }
  int port() const { return port_; }
  // Lets the next connect in: the fillers go and what they queued is
  // accepted, so that a connect whose SYN was dropped gets through when the
  // system retries it (about a second after its first try).
  void MakeRoom() {
    for (int& f : fillers_) {
      if (f >= 0) ::close(f);
      f = -1;
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL, 0) | O_NONBLOCK);
    for (int a; (a = ::accept(fd_, nullptr, nullptr)) >= 0;) ::close(a);
  }

 private:
  int fd_;
  int port_ = 0;
  int fillers_[3];
};

using testsupport::Bytes;
using testsupport::PutBytes;
using testsupport::PutLE;
using testsupport::PutLengthCoded;
using testsupport::PutLengthCodedText;
using testsupport::PutZ;

// A transport whose receive side reads from a fixed byte string and whose
// send side collects what is written. `maxChunk` limits each receive, to
// exercise partial reads.
class TMemoryVio : public da::mysql::TCRVio {
 public:
  explicit TMemoryVio(Bytes input = {}, size_t maxChunk = 1 << 30) : input_(std::move(input)), maxChunk_(maxChunk) {}

  int32_t GetIoTimeout() override { return 0; }
  void SetIoTimeout(int32_t) override {}
  void Close() override {}
  int32_t ReceiveOnce(uint8_t* buffer, int32_t offset, int32_t count) override {
    ++receives;
    size_t n = std::min({static_cast<size_t>(count), input_.size() - position_, maxChunk_});
    if (n == 0) return 0;
    std::memcpy(buffer + offset, input_.data() + position_, n);
    position_ += n;
    return static_cast<int32_t>(n);
  }
  int32_t SendOnce(const uint8_t* buffer, int32_t offset, int32_t count) override {
    ++sends;
    if (failSends > 0) {
      --failSends;
      return 0;
    }
    int32_t n = std::min(count, sendLimit);
    output.insert(output.end(), buffer + offset, buffer + offset + n);
    return n;
  }

  void RetryPause() override { ++pauses; }

  Bytes output;
  int pauses = 0;
  int receives = 0;
  int sends = 0;
  int failSends = 0;         // the next sends that accept nothing
  int32_t sendLimit = 1 << 30;

 private:
  Bytes input_;
  size_t position_ = 0;
  size_t maxChunk_;
};

// A packet as the server frames it.
inline Bytes Framed(uint8_t seq, const Bytes& payload) {
  Bytes out;
  PutLE(out, payload.size(), 3);
  out.push_back(seq);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

inline Bytes OkPacket(uint64_t affected = 0, uint64_t insertId = 0, uint16_t status = 2, const std::string& info = {}) {
  Bytes p{0};
  PutLengthCoded(p, affected);
  PutLengthCoded(p, insertId);
  PutLE(p, status, 2);
  PutLE(p, 0, 2);
  PutBytes(p, info);
  return p;
}

inline Bytes EofPacket(uint16_t status = 2, uint16_t warnings = 0) {
  Bytes p{0xFE};
  PutLE(p, warnings, 2);
  PutLE(p, status, 2);
  return p;
}

inline Bytes ErrorPacket(uint16_t code, const std::string& text) {
  Bytes p{0xFF};
  PutLE(p, code, 2);
  PutBytes(p, text);
  return p;
}

// A 4.1 column definition.
inline Bytes ColumnDefinition(const std::string& name, uint8_t type, uint32_t length = 11, uint16_t flags = 0,
                              const std::string& table = "t") {
  Bytes p;
  PutLengthCodedText(p, "def");
  PutLengthCodedText(p, "db");
  PutLengthCodedText(p, table);
  PutLengthCodedText(p, table);
  PutLengthCodedText(p, name);
  PutLengthCodedText(p, name);
  p.push_back(12);
  PutLE(p, 8, 2);  // charset
  PutLE(p, length, 4);
  p.push_back(type);
  PutLE(p, flags, 2);
  p.push_back(0);  // decimals
  PutLE(p, 0, 2);
  return p;
}

// Server capabilities of a plain 4.1 server: long password, found rows, long
// flag, connect with db, protocol 4.1, transactions, secure connection.
inline constexpr uint16_t kCaps41 = 0x1 | 0x2 | 0x4 | 0x8 | 0x200 | 0x2000 | 0x8000;

inline const uint8_t kScramble[20] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j',
                                      'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't'};

// The greeting of a 4.1 server with the given capabilities.
inline Bytes Greeting41(uint16_t caps = kCaps41, uint8_t protocol = 10) {
  Bytes p{protocol};
  PutZ(p, "5.0.95-log");
  PutLE(p, 77, 4);                     // thread id
  p.insert(p.end(), kScramble, kScramble + 8);
  p.push_back(0);                      // filler
  PutLE(p, caps, 2);
  p.push_back(8);                      // language
  PutLE(p, 2, 2);                      // status
  p.insert(p.end(), 13, 0);
  p.insert(p.end(), kScramble + 8, kScramble + 20);
  p.push_back(0);
  return p;
}

// The greeting of a 3.23 server: capabilities end the packet, the scramble
// has 8 bytes.
inline Bytes Greeting323() {
  Bytes p{10};
  PutZ(p, "3.23.58");
  PutLE(p, 5, 4);
  p.insert(p.end(), kScramble, kScramble + 8);
  p.push_back(0);
  PutLE(p, 0x1 | 0x4 | 0x8, 2);
  return p;
}

}  // namespace wiretest
