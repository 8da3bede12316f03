#pragma once
// A small server of our own for protocol cases no real server produces: it
// listens on 127.0.0.1 on a free port, accepts connections on its own
// thread and runs a script against each. Every read has a time-out, so a
// script waiting for bytes that never come fails instead of hanging; a
// failing script closes its connection (the client then sees it drop) and
// is reported to the test when the server is destroyed.

#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

// A script failure (a time-out, the peer gone, an unexpected byte).
class ScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One accepted connection as the script sees it.
class ScriptedConnection {
 public:
  explicit ScriptedConnection(int fd) : fd_(fd) {}
  ~ScriptedConnection();
  ScriptedConnection(const ScriptedConnection&) = delete;
  ScriptedConnection& operator=(const ScriptedConnection&) = delete;

  struct Packet {
    uint8_t seq = 0;
    Bytes payload;
  };

  void Send(const void* data, size_t count);
  void Send(const Bytes& bytes) { Send(bytes.data(), bytes.size()); }
  // One packet: 3-byte length, the sequence number, the payload (at most
  // 16777215 bytes; longer payloads are the script's to split).
  void SendPacket(uint8_t seq, const Bytes& payload);
  // Exactly `count` bytes; raises ScriptError on time-out or end of stream.
  Bytes Read(size_t count);
  // One physical packet (no joining of continuations).
  Packet ReadPacket();
  // True when the peer closes within the time-out (bytes sent meanwhile
  // are dropped).
  bool WaitForClose();
  void Close();
  void SetTimeoutMs(int ms) { timeoutMs_ = ms; }
  int TimeoutMs() const { return timeoutMs_; }
  // The socket, for a script that layers its own protocol (TLS) over it.
  int Fd() const { return fd_; }

 private:
  int fd_;
  int timeoutMs_ = 20000;
};

class ScriptedServer {
 public:
  using Script = std::function<void(ScriptedConnection&)>;

  // Listens at once; runs `script` for each of the next `connections`
  // connections, one after the other.
  explicit ScriptedServer(Script script, int connections = 1);
  // Waits for the script and reports its failures to the running test.
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int port() const { return port_; }
  // Waits for the script; returns its failures (empty when it succeeded).
  // The caller must check them: once finished, the destructor reports
  // nothing.
  [[nodiscard]] std::string Finish();

 private:
  void Run();

  Script script_;
  int connections_;
  int listenFd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::string failures_;
  bool finished_ = false;
};

// A port on 127.0.0.1 that nothing listens on.
int UnusedPort();

// Little-endian helpers for building packets in scripts.
void PutLE(Bytes& out, uint64_t value, int width);
void PutZ(Bytes& out, const std::string& text);
void PutBytes(Bytes& out, const std::string& text);
void PutLengthCoded(Bytes& out, uint64_t value);
void PutLengthCodedText(Bytes& out, const std::string& text);

}  // namespace testsupport
