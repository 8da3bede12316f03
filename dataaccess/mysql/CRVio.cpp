#include "mysql/CRVio.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/Exception.h"

namespace da::mysql {

void TCRVio::RetryPause() { std::this_thread::sleep_for(std::chrono::milliseconds(10)); }

void TCRVio::Connect() {
  fillCount_ = 0;
  readPosition_ = 0;
  readAhead_.assign(kReadAheadSize, 0);
}

int32_t TCRVio::CopyFromReadAhead(uint8_t* buffer, int32_t offset, int32_t count) {
  int32_t n = std::min(fillCount_ - readPosition_, count);
  if (n <= 0) return 0;
  std::memcpy(buffer + offset, readAhead_.data() + readPosition_, static_cast<size_t>(n));
  readPosition_ += n;
  if (readPosition_ >= fillCount_) {
    readPosition_ = 0;
    fillCount_ = 0;
  }
  return n;
}

void TCRVio::Consume(int32_t count) {
  readPosition_ += std::min(count, fillCount_ - readPosition_);
  if (readPosition_ >= fillCount_) {
    readPosition_ = 0;
    fillCount_ = 0;
  }
}

int32_t TCRVio::FillReadAhead() {
  if (fillCount_ > readPosition_) return fillCount_ - readPosition_;
  if (readAhead_.empty()) return -1;
  int32_t got = ReceiveOnce(readAhead_.data(), 0, static_cast<int32_t>(readAhead_.size()));
  fillCount_ = std::max(got, 0);
  readPosition_ = 0;
  return fillCount_;
}

int32_t TCRVio::Read(uint8_t* buffer, int32_t offset, int32_t count) {
  int32_t total = CopyFromReadAhead(buffer, offset, count);
  offset += total;
  count -= total;
  if (count == 0) return total;
  if (fillCount_ != 0) throw EAssertionFailed("TCRVio.Read: read-ahead buffer not empty");

  if (count < kSmallReadLimit && !readAhead_.empty()) {
    int32_t got = ReceiveOnce(readAhead_.data(), 0, static_cast<int32_t>(readAhead_.size()));
    if (got <= 0) {
      // Failed or closed: asking the medium again would only wait a second
      // time-out for the same answer.
      RetryPause();
      return total;
    }
    fillCount_ = got;
    readPosition_ = 0;
    int32_t n = CopyFromReadAhead(buffer, offset, count);
    offset += n;
    count -= n;
    total += n;
  }
  while (count > 0) {
    int32_t got = ReceiveOnce(buffer, offset, count);
    if (got <= 0) {
      RetryPause();
      break;
    }
    offset += got;
    count -= got;
    total += got;
  }
  return total;
}

int32_t TCRVio::Write(const uint8_t* buffer, int32_t offset, int32_t count) {
  int32_t total = 0;
  int failures = 0;
  while (count > 0) {
    int32_t sent = SendOnce(buffer, offset, count);
    if (sent > 0) {
      offset += sent;
      count -= sent;
      total += sent;
      continue;
    }
    if (++failures >= 3) break;
    RetryPause();
  }
  return total;
}

bool TCRVio::WaitForReadable(int32_t /*seconds*/) {
  throw EAssertionFailed("TCRVio.WaitForReadable is not supported by this transport");
}

// ---------------------------------------------------------------------------
// TCRIOHandler

namespace {
[[noreturn]] void NotOverridden() { throw Exception("Not overriden in an inherited class"); }
}  // namespace

void TCRIOHandler::Disconnect(THandle) { NotOverridden(); }
int32_t TCRIOHandler::Read(THandle, uint8_t*, int32_t, int32_t) { NotOverridden(); }
int32_t TCRIOHandler::ReadNoWait(THandle, uint8_t*, int32_t, int32_t) { NotOverridden(); }
int32_t TCRIOHandler::Write(THandle, const uint8_t*, int32_t, int32_t) { NotOverridden(); }
bool TCRIOHandler::WaitForData(THandle, int32_t) { NotOverridden(); }
int32_t TCRIOHandler::GetTimeout(THandle) { NotOverridden(); }
void TCRIOHandler::SetTimeout(THandle, int32_t) { NotOverridden(); }

// ---------------------------------------------------------------------------
// TCRVioHandler

TCRVioHandler::TCRVioHandler(std::string host, int32_t port, TCRIOHandler* handler, std::string sslKey,
                             std::string sslCert, std::string caCert)
    : host_(std::move(host)),
      port_(port),
      handler_(handler),
      sslKey_(std::move(sslKey)),
      sslCert_(std::move(sslCert)),
      caCert_(std::move(caCert)) {}

TCRVioHandler::~TCRVioHandler() = default;

int32_t TCRVioHandler::GetIoTimeout() { return connected_ ? handler_->GetTimeout(handle_) : timeout_; }

void TCRVioHandler::SetIoTimeout(int32_t seconds) {
  if (connected_)
    handler_->SetTimeout(handle_, seconds);
  else
    timeout_ = seconds;
}

void TCRVioHandler::Connect() {
  TCRVio::Connect();
  if (!handler_) throw EAssertionFailed("TCRVioHandler.Connect: no IO handler");
  handle_ = handler_->Connect(host_, port_, sslKey_, sslCert_, caCert_);
  connected_ = true;
  if (timeout_ >= 1) handler_->SetTimeout(handle_, timeout_);
}

void TCRVioHandler::Close() {
  if (!connected_) return;
  connected_ = false;
  TCRIOHandler::THandle handle = handle_;
  handle_ = nullptr;
  handler_->Disconnect(handle);
}

int32_t TCRVioHandler::ReceiveOnce(uint8_t* buffer, int32_t offset, int32_t count) {
  return connected_ ? handler_->Read(handle_, buffer, offset, count) : 0;
}

int32_t TCRVioHandler::SendOnce(const uint8_t*, int32_t, int32_t) { throw Exception("Not implemented"); }

int32_t TCRVioHandler::Read(uint8_t* buffer, int32_t offset, int32_t count) {
  return connected_ ? TCRVio::Read(buffer, offset, count) : 0;
}

int32_t TCRVioHandler::Write(const uint8_t* buffer, int32_t offset, int32_t count) {
  return connected_ ? handler_->Write(handle_, buffer, offset, count) : 0;
}

bool TCRVioHandler::WaitForReadable(int32_t seconds) {
  return connected_ ? handler_->WaitForData(handle_, seconds) : false;
}

}  // namespace da::mysql
