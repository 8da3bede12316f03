#include "transports/CRVioHttp.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <random>

#include "common/Format.h"
#include "mysql/CRVioTcp.h"
#include "transports/CRHttp.h"

namespace da::transports {
namespace {

constexpr const char* kCannotConnect = "Cannot establish HTTP connection";
constexpr int32_t kKeepAliveDefaultTimeout = 7;
constexpr int kConnectAttempts = 3;
constexpr int64_t kFirstWaitMs = 200;

std::string Trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

bool ParseInt32(const std::string& text, int32_t& value) {
  std::string t = Trimmed(text);
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  return !t.empty() && ec == std::errc() && end == t.data() + t.size();
}

// Reads until `count` bytes or the end of the body.
int32_t ReadUpTo(TCRHttp& http, uint8_t* buffer, int32_t count) {
  int32_t total = 0;
  while (total < count) {
    int32_t got = http.ReadBody(buffer, total, count - total);
    if (got <= 0) break;
    total += got;
  }
  return total;
}

std::string ReadText(TCRHttp& http, int32_t limit) {
  std::string text(static_cast<size_t>(limit), '\0');
  text.resize(static_cast<size_t>(ReadUpTo(http, reinterpret_cast<uint8_t*>(text.data()), limit)));
  return text;
}

std::string NewTunnelId() {
  std::mt19937 random(static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count()) ^
                      std::random_device{}());
  std::uniform_int_distribution<int> below(0, 999999);
  int a = below(random);
  int b = below(random);
  return std::to_string(a) + "_" + std::to_string(b);
}

}  // namespace

// ---------------------------------------------------------------------------
// TKeepAliveTimer

TKeepAliveTimer::TKeepAliveTimer(std::function<void()> onFire)
    : onFire_(std::move(onFire)), thread_([this] { Run(); }) {}

TKeepAliveTimer::~TKeepAliveTimer() {
  {
    std::lock_guard guard(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TKeepAliveTimer::Restart(int64_t milliseconds) {
  {
    std::lock_guard guard(mutex_);
    armed_ = true;
    due_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  }
  changed_.notify_all();
}

void TKeepAliveTimer::Disarm() {
  {
    std::lock_guard guard(mutex_);
    armed_ = false;
  }
  changed_.notify_all();
}

void TKeepAliveTimer::Run() {
  std::unique_lock guard(mutex_);
  while (!quit_) {
    if (!armed_) {
      changed_.wait(guard);
      continue;
    }
    if (changed_.wait_until(guard, due_) == std::cv_status::no_timeout) continue;
    if (quit_ || !armed_ || std::chrono::steady_clock::now() < due_) continue;
    armed_ = false;
    guard.unlock();
    onFire_();
    guard.lock();
  }
}

// ---------------------------------------------------------------------------
// TCRVioHttp

struct TCRVioHttp::TEvent {
  std::mutex mutex;
  std::condition_variable set;
  bool isSet = false;

  void Set() {
    {
      std::lock_guard guard(mutex);
      isSet = true;
    }
    set.notify_all();
  }
  bool WaitFor(int64_t milliseconds) {
    std::unique_lock guard(mutex);
    return set.wait_for(guard, std::chrono::milliseconds(milliseconds), [&] { return isSet; });
  }
};

TCRVioHttp::TCRVioHttp(const THttpOptions& options, int32_t port, std::string host)
    : options_(options), host_(std::move(host)), port_(port) {
  baseUrl_ = Trimmed(options_.Url());
  if (baseUrl_.empty() || baseUrl_.back() != '/') baseUrl_ += '/';
  tunnelId_ = NewTunnelId();
  testUrl_ = baseUrl_ + Format("?a=t&s=%s&p=%d&id=%s", {host_, port_, tunnelId_});
  connectUrl_ = baseUrl_ + Format("?a=c&s=%s&p=%d&id=%s", {host_, port_, tunnelId_});
}

TCRVioHttp::~TCRVioHttp() {
  try {
    Close();
  } catch (...) {
  }
}

int32_t TCRVioHttp::GetIoTimeout() { return ioTimeout_; }

void TCRVioHttp::SetIoTimeout(int32_t seconds) { ioTimeout_ = seconds; }

int32_t TCRVioHttp::EffectiveTimeout() const {
  int32_t t = ioTimeout_;
  return t > 0 ? t : kDefaultIoTimeout;
}

int64_t TCRVioHttp::KeepAliveIntervalMs(int32_t keepAliveSeconds, int32_t ioTimeout) {
  int64_t t = ioTimeout > 0 ? ioTimeout : kKeepAliveDefaultTimeout;
  int64_t k = keepAliveSeconds;
  int64_t seconds = 2 * t < k ? k - t : k / 2;
  return std::max<int64_t>(seconds, 0) * 1000;
}

bool TCRVioHttp::IsClosed() const {
  std::lock_guard guard(lock_);
  return closed_;
}

std::unique_ptr<TCRHttp> TCRVioHttp::NewRequest(const std::string& url) const {
  auto http = std::make_unique<TCRHttp>(url);
  http->SetTimeout(EffectiveTimeout());
  http->HeaderInfo().UserName = options_.Username();
  http->HeaderInfo().Password = options_.Password();
  const TProxyOptions& proxy = options_.ProxyOptions();
  if (!proxy.Hostname().empty()) {
    http->SetProxy(proxy.Hostname(), proxy.Port());
    http->HeaderInfo().ProxyUserName = proxy.Username();
    http->HeaderInfo().ProxyPassword = proxy.Password();
  }
  return http;
}

std::string TCRVioHttp::ActionUrl(char action) const { return baseUrl_ + "?a=" + std::string(1, action); }

void TCRVioHttp::RaisePendingError() {
  if (!pendingError_) return;
  std::exception_ptr error = pendingError_;
  pendingError_ = nullptr;
  std::rethrow_exception(error);
}

std::unique_ptr<TCRHttp> TCRVioHttp::Request(const std::string& url, const uint8_t* body, int32_t count) {
  auto http = NewRequest(url + "&port=" + std::to_string(connectionNumber_));
  if (count >= 0) {
    http->RequestBody().Write(body, static_cast<size_t>(count));
    http->PostRequest();
  } else {
    http->GetRequest();
  }
  CheckAnswer(*http);
  return http;
}

void TCRVioHttp::CheckAnswer(TCRHttp& http) {
  uint8_t flag[3];
  std::string failure;
  if (ReadUpTo(http, flag, 3) < 3) {
    failure = "Invalid script response. Failed to read success flag";
  } else {
    std::string text(reinterpret_cast<const char*>(flag), 3);
    std::string upper = text;
    for (char& c : upper)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (upper == "OK:") return;
    if (text == "ER:") {
      failure = ReadText(http, kMaxMessage);
      if (failure.empty()) failure = "HTTP Script reported error";
    } else {
      failure = "HTTP Script unknown error: " + text + ReadText(http, kMaxMessage);
    }
  }
  try {
    CloseLocked();
  } catch (...) {
  }
  throw HttpException(failure);
}

bool TCRVioHttp::TestTunnel() {
  std::lock_guard guard(lock_);
  RaisePendingError();
  auto http = Request(testUrl_);
  int32_t number = 0, keepAlive = 0;
  if (!ParseInt32(http->ReadLine(), number) || !ParseInt32(http->ReadLine(), keepAlive))
    throw HttpException("HTTP Script invalid connect response");
  connectionNumber_ = number;
  keepAliveMs_ = KeepAliveIntervalMs(keepAlive, ioTimeout_);
  return true;
}

void TCRVioHttp::Connect() {
  Close();
  TCRVio::Connect();
  ClearErrorText();
  connectionNumber_ = 0;
  keepAliveMs_ = 0;
  const int64_t limit = int64_t{EffectiveTimeout()} * 1000;
  int64_t wait = kFirstWaitMs;  // not reset between attempts
  bool open = false;
  try {
    for (int attempt = 0; attempt < kConnectAttempts && !open; ++attempt) {
      // The connect request may stay open as long as the script holds the
      // MySQL connection; it runs on its own thread and is aborted once the
      // tests have decided.
      auto event = std::make_shared<TEvent>();
      std::shared_ptr<TCRHttp> request = NewRequest(connectUrl_ + "&port=0");
      std::thread thread([event, request] {
        bool answered = false;
        try {
          request->GetRequest();
          answered = true;
        } catch (...) {
        }
        try {
          request->Disconnect();
        } catch (...) {
        }
        if (answered) event->Set();
      });
      bool seen = false;
      while (!seen && !open && wait < limit) {
        seen = event->WaitFor(wait);
        try {
          open = TestTunnel();
        } catch (const std::exception&) {
          // Not open yet: the next test decides.
        }
        wait *= 2;
      }
      request->Abort();
      thread.join();
    }
  } catch (const std::exception& e) {
    SetErrorText(e.what());
    throw;
  }
  if (!open) {
    SetErrorText(kCannotConnect);
    throw HttpException(kCannotConnect);
  }
  std::lock_guard guard(lock_);
  closed_ = false;
  if (keepAliveMs_ > 0) {
    timer_ = std::make_unique<TKeepAliveTimer>([this] { OnKeepAlive(); });
    timer_->Restart(keepAliveMs_);
  }
}

void TCRVioHttp::RestartKeepAlive() {
  if (timer_ && keepAliveMs_ > 0) timer_->Restart(keepAliveMs_);
}

void TCRVioHttp::OnKeepAlive() {
  std::lock_guard guard(lock_);
  if (closed_) return;
  // Stored after the request, so that it survives a failed answer check
  // closing the tunnel.
  try {
    Request(ActionUrl('l'));
    RestartKeepAlive();
  } catch (const mysql::SocketException& e) {
    pendingError_ = std::make_exception_ptr(mysql::SocketException(e.ErrorCode(), e.Message()));
  } catch (const HttpException& e) {
    pendingError_ = std::make_exception_ptr(HttpException(e.Message()));
  } catch (const std::exception& e) {
    pendingError_ = std::make_exception_ptr(Exception(e.what()));
  }
}

int32_t TCRVioHttp::ReportClosed() {
  // A keep-alive that failed and closed the tunnel left its reason: the
  // next read or write reports it once.
  ClearErrorText();
  if (pendingError_) {
    try {
      RaisePendingError();
    } catch (const std::exception& e) {
      SetErrorText(e.what());
    }
  }
  return 0;
}

void TCRVioHttp::CloseLocked() {
  if (closed_) return;
  closed_ = true;
  if (timer_) timer_->Disarm();
  pending_.reset();
  try {
    Request(ActionUrl('x'));
  } catch (...) {
    // The script may be gone already; the tunnel is closed either way.
  }
  pendingError_ = nullptr;
}

void TCRVioHttp::Close() {
  std::unique_ptr<TKeepAliveTimer> timer;
  {
    std::lock_guard guard(lock_);
    CloseLocked();
    timer = std::move(timer_);
  }
  // Joined outside the lock: a keep-alive in progress waits for it.
  timer.reset();
}

int32_t TCRVioHttp::ReceiveOnce(uint8_t* buffer, int32_t offset, int32_t count) {
  std::lock_guard guard(lock_);
  if (closed_) return ReportClosed();
  if (count <= 0) return 0;
  ClearErrorText();
  int32_t delivered = 0;
  std::unique_ptr<TCRHttp> http;
  try {
    if (pending_) {
      buffer[offset++] = lookAhead_;
      --count;
      delivered = 1;
      http = std::move(pending_);
    } else {
      RaisePendingError();
      http = Request(ActionUrl('r'));
      RestartKeepAlive();
    }
    if (count > 0) delivered += http->ReadBody(buffer, offset, count);
    // Keep the answer while it has more: its next byte becomes the
    // look-ahead. The wait ends at once at the end of the body (the script
    // closes the connection), so only a script stalled mid-answer costs
    // time, at most the time-out.
    if (http->DataAvailable(EffectiveTimeout()) && http->ReadBody(&lookAhead_, 0, 1) == 1) pending_ = std::move(http);
  } catch (const std::exception& e) {
    SetErrorText(e.what());
  }
  return delivered;
}

int32_t TCRVioHttp::SendOnce(const uint8_t* buffer, int32_t offset, int32_t count) {
  std::lock_guard guard(lock_);
  if (closed_) return ReportClosed();
  int32_t total = 0;
  while (count > 0) {
    int32_t piece = std::min(count, kMaxWritePiece);
    ClearErrorText();
    try {
      RaisePendingError();
      Request(ActionUrl('w'), buffer + offset, piece);
      RestartKeepAlive();
    } catch (const std::exception& e) {
      SetErrorText(e.what());
      break;
    }
    offset += piece;
    count -= piece;
    total += piece;
    if (closed_) break;
  }
  return total;
}

int32_t TCRVioHttp::Write(const uint8_t* buffer, int32_t offset, int32_t count) {
  return SendOnce(buffer, offset, count);
}

bool TCRVioHttp::WaitForReadable(int32_t /*seconds*/) {
  std::lock_guard guard(lock_);
  // The look-ahead byte is there to be read.
  return pending_ != nullptr;
}

}  // namespace da::transports
