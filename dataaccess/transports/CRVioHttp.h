#pragma once
// The HTTP tunnel transport: carries the MySQL byte stream through a tunnel
// script on a web server, for networks where only HTTP gets out. The script
// opens the connection to the MySQL server; the client moves the bytes as
// HTTP/1.0 bodies: one GET per read, one POST per write, a keep-alive GET
// while idle, a closing GET.
//
// Tunnel protocol: every request goes to the script's URL with the query
// key `a` naming the action (c connect, t test, r read, w write, l
// keep-alive, x close) and ends with "&port=" and the connection number the
// script assigned (0 until the tunnel is open). Every answer but the
// connect's starts with "OK:" (any case) or "ER:" and the script's message.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "mysql/CRVio.h"

namespace da {

// The web server's proxy, if any.
class TProxyOptions {
 public:
  const std::string& Hostname() const { return hostname_; }
  void SetHostname(const std::string& value) { hostname_ = value; }
  int32_t Port() const { return port_; }
  void SetPort(int32_t value) { port_ = value; }
  const std::string& Username() const { return username_; }
  void SetUsername(const std::string& value) { username_ = value; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& value) { password_ = value; }

 private:
  std::string hostname_;
  int32_t port_ = 0;
  std::string username_, password_;
};

// Where the tunnel script is and how to reach it.
class THttpOptions {
 public:
  // The script's URL; an empty URL means no tunnel.
  const std::string& Url() const { return url_; }
  void SetUrl(const std::string& value) { url_ = value; }
  // HTTP Basic credentials for the web server.
  const std::string& Username() const { return username_; }
  void SetUsername(const std::string& value) { username_ = value; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& value) { password_ = value; }
  TProxyOptions& ProxyOptions() { return proxyOptions_; }
  const TProxyOptions& ProxyOptions() const { return proxyOptions_; }

 private:
  std::string url_, username_, password_;
  TProxyOptions proxyOptions_;
};

}  // namespace da

namespace da::transports {

class TCRHttp;

// A timer on its own thread that calls `onFire` once `interval` has passed
// without a Restart. It never calls `onFire` twice at once; `onFire` runs
// with no lock of the timer's held.
class TKeepAliveTimer {
 public:
  explicit TKeepAliveTimer(std::function<void()> onFire);
  // Stops the thread and waits for it (and for an `onFire` in progress).
  ~TKeepAliveTimer();
  TKeepAliveTimer(const TKeepAliveTimer&) = delete;
  TKeepAliveTimer& operator=(const TKeepAliveTimer&) = delete;

  // Fires after `milliseconds` from now, unless restarted or disarmed first.
  void Restart(int64_t milliseconds);
  void Disarm();

 private:
  void Run();

  std::function<void()> onFire_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool armed_ = false;  // guarded by mutex_
  bool quit_ = false;   // guarded by mutex_
  std::chrono::steady_clock::time_point due_;  // guarded by mutex_
  std::thread thread_;
};

class TCRVioHttp : public mysql::TCRVio {
 public:
  // Writes are sent as POSTs of at most this many bytes.
  static constexpr int32_t kMaxWritePiece = 2097152;
  // The I/O time-out used when none (0 or less) is set.
  static constexpr int32_t kDefaultIoTimeout = 15;
  // The longest script message read after "ER:".
  static constexpr int32_t kMaxMessage = 32768;

  // `options` is copied; `host` and `port` are the MySQL server's as the
  // script is to reach it. Opens nothing.
  TCRVioHttp(const THttpOptions& options, int32_t port, std::string host);
  // Closes the tunnel and stops the keep-alive timer.
  ~TCRVioHttp() override;

  int32_t GetIoTimeout() override;
  // Bounds every wait of the tunnel: each HTTP request, the connect's tests.
  void SetIoTimeout(int32_t seconds) override;
  // Opens the tunnel: a connect request on its own thread, and test requests
  // after waits of 200, 400, 800 ... ms while the waits stay below the I/O
  // time-out; three such attempts. Raises HttpException "Cannot establish
  // HTTP connection" (also left in ErrorText) when no test succeeded.
  void Connect() override;
  // Sends the close request (its failure ignored); harmless when closed.
  void Close() override;
  // One read request, or the rest of the previous one's answer. 0 when
  // closed, when asked for 0 bytes, or on a failure (ErrorText set; also
  // after a keep-alive failed and closed the tunnel).
  int32_t ReceiveOnce(uint8_t* buffer, int32_t offset, int32_t count) override;
  // Write requests of at most kMaxWritePiece bytes each; the bytes of the
  // pieces that succeeded (ErrorText set on a failure).
  int32_t SendOnce(const uint8_t* buffer, int32_t offset, int32_t count) override;
  // One SendOnce with the whole count.
  int32_t Write(const uint8_t* buffer, int32_t offset, int32_t count) override;
  // True while part of a read answer is still unread and can be had within
  // `seconds`.
  bool WaitForReadable(int32_t seconds) override;

  // The keep-alive interval in milliseconds for a script's `keepAlive`
  // seconds and the I/O time-out (7 when 0 or less): keepAlive - timeout
  // when that leaves room for one request, else keepAlive / 2.
  static int64_t KeepAliveIntervalMs(int32_t keepAliveSeconds, int32_t ioTimeout);

  const std::string& BaseUrl() const { return baseUrl_; }
  const std::string& TunnelId() const { return tunnelId_; }
  int32_t ConnectionNumber() const { return connectionNumber_; }
  int64_t KeepAliveInterval() const { return keepAliveMs_; }
  bool IsClosed() const;

 private:
  struct TEvent;
  int32_t EffectiveTimeout() const;
  std::unique_ptr<TCRHttp> NewRequest(const std::string& url) const;
  std::string ActionUrl(char action) const;
  // Caller holds lock_. Runs the request and checks the script's answer;
  // a failed check closes the tunnel before it raises.
  std::unique_ptr<TCRHttp> Request(const std::string& url, const uint8_t* body = nullptr, int32_t count = -1);
  void CheckAnswer(TCRHttp& http);
  bool TestTunnel();
  void RaisePendingError();
  void RestartKeepAlive();
  // Caller holds lock_. 0, with a pending error's message in ErrorText.
  int32_t ReportClosed();
  void OnKeepAlive();
  // Caller holds lock_. Everything of Close but stopping the timer thread.
  void CloseLocked();

  THttpOptions options_;
  std::string host_;
  int32_t port_;
  std::string baseUrl_, testUrl_, connectUrl_;
  std::string tunnelId_;
  int32_t connectionNumber_ = 0;
  // Set by the session before each command, read by the keep-alive thread.
  std::atomic<int32_t> ioTimeout_{kDefaultIoTimeout};
  int64_t keepAliveMs_ = 0;

  // Serialises the requests of reads, writes, close and the keep-alive.
  mutable std::mutex lock_;
  bool closed_ = true;                    // guarded by lock_
  std::unique_ptr<TCRHttp> pending_;      // guarded by lock_; a read answer not fully consumed
  uint8_t lookAhead_ = 0;                 // guarded by lock_; already taken from pending_
  std::exception_ptr pendingError_;       // guarded by lock_; caught by the keep-alive
  std::unique_ptr<TKeepAliveTimer> timer_;  // guarded by lock_; joined outside it
};

}  // namespace da::transports
