#include "transports/CRHttp.h"

#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "mysql/CRVioTcp.h"
#include "transports/CRBase64.h"

namespace da::transports {

// The TCP transport of one request, with a shutdown that another thread may
// run while a receive blocks: it wakes the receive without freeing the
// socket under it (Disconnect closes it on the request's own thread).
class THttpVio : public mysql::TCRVioTcp {
 public:
  using TCRVioTcp::TCRVioTcp;
  void Shutdown() {
    if (GetSocketHandle() >= 0) ::shutdown(GetSocketHandle(), SHUT_RDWR);
  }
  bool IsOpen() const { return GetSocketHandle() >= 0; }
};

namespace {

constexpr const char* kNoData = "There is no enough data to read";
// A header line longer than this is not HTTP: refuse it rather than queue
// whatever the peer sends.
constexpr size_t kMaxLineLength = 65536;
constexpr size_t kMaxLocationLength = 256;

// HTTP names and schemes are ASCII: case is folded for A-Z only.
std::string UpperCase(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool SameText(const std::string& a, const std::string& b) { return UpperCase(a) == UpperCase(b); }

std::string Trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

std::string WithoutLineEnd(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// Cuts `text` at the first occurrence of `mark`; the cut piece (mark
// included) is returned and removed from `text`.
std::string CutFrom(std::string& text, char mark) {
  size_t at = text.find(mark);
  if (at == std::string::npos) return {};
  std::string piece = text.substr(at);
  text.erase(at);
  return piece;
}

bool IsSchemeChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

const char* MethodText(THttpMethod method) {
  switch (method) {
    case THttpMethod::hmGet: return "GET ";
    case THttpMethod::hmOptions: return "OPTIONS ";
    case THttpMethod::hmHead: return "HEAD ";
    case THttpMethod::hmPost: return "POST ";
    case THttpMethod::hmPut: return "PUT ";
    case THttpMethod::hmTrace: return "TRACE ";
  }
  return "GET ";
}

int32_t PortNumber(const TUrlParts& parts) {
  if (parts.Port.size() <= 1) return DefaultPort(parts.Scheme);
  int32_t port = 0;
  const char* first = parts.Port.data() + 1;
  const char* last = parts.Port.data() + parts.Port.size();
  auto [end, ec] = std::from_chars(first, last, port);
  if (ec != std::errc() || end != last) throw EConvertError("'" + parts.Port.substr(1) + "' is not a valid integer value");
  return port;
}

}  // namespace

TUrlParts SplitUrl(const std::string& url) {
  TUrlParts p;
  std::string rest = url;
  p.Fragment = CutFrom(rest, '#');

  size_t i = 0;
  while (i < rest.size() && IsSchemeChar(rest[i])) ++i;
  if (i > 0 && rest.compare(i, 2, ":/") == 0) {
    p.Scheme = rest.substr(0, i + 1);
    rest.erase(0, i + 1);
  } else {
    p.Scheme = "http:";
  }

  std::string location;
  if (rest.compare(0, 2, "//") == 0) {
    size_t slash = rest.find('/', 2);
    location = rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
    rest = slash == std::string::npos ? std::string() : rest.substr(slash);
  } else if (rest.empty() || rest[0] != '/') {
    size_t slash = rest.find('/');
    location = rest.substr(0, slash);
    rest = slash == std::string::npos ? std::string() : rest.substr(slash);
  }

  p.Query = CutFrom(rest, '?');
  p.Parameters = CutFrom(rest, ';');
  if (rest.find('.') != std::string::npos) {
    size_t slash = rest.rfind('/');
    p.Resource = slash == std::string::npos ? rest : rest.substr(slash + 1);
    rest.erase(slash == std::string::npos ? 0 : slash + 1);
  }
  p.Path = rest.empty() ? "/" : rest;

  size_t at = location.rfind('@');
  if (at != std::string::npos) {
    std::string credentials = location.substr(0, at);
    location.erase(0, at + 1);
    size_t colon = credentials.find(':');
    p.User = credentials.substr(0, colon);
    if (colon != std::string::npos) p.Password = credentials.substr(colon + 1);
  }
  p.Port = CutFrom(location, ':');
  p.Host = location;
  return p;
}

int32_t DefaultPort(const std::string& scheme) {
  static const struct {
    const char* scheme;
    int32_t port;
  } kPorts[] = {{"ftp:", 21},     {"telnet:", 23},  {"smtp:", 25},  {"whois:", 43},  {"whois++:", 63},
                {"gopher:", 70},  {"http:", 80},    {"pop3:", 110}, {"nntp:", 119},  {"news:", 119},
                {"imap2:", 143},  {"irc:", 194},    {"wais:", 210}, {"imap3:", 220}, {"ldap:", 389},
                {"https:", 443}};
  std::string upper = UpperCase(scheme);
  for (const auto& entry : kPorts)
    if (upper == UpperCase(entry.scheme)) return entry.port;
  return 80;
}

// ---------------------------------------------------------------------------
// TCRHttp

TCRHttp::TCRHttp(std::string url)
    : url_(std::move(url)), received_(kChunkSize), requestBody_(kChunkSize), receiveBuffer_(kChunkSize) {}

TCRHttp::~TCRHttp() { Disconnect(); }

void TCRHttp::SetTimeout(int32_t seconds) {
  timeout_ = seconds;
  std::lock_guard guard(lock_);
  if (transport_) transport_->SetIoTimeout(seconds);
}

void TCRHttp::SetProxy(std::string host, int32_t port) {
  proxyHost_ = std::move(host);
  proxyPort_ = port;
}

bool TCRHttp::IsBodyMethod() const {
  return method_ == THttpMethod::hmPost || method_ == THttpMethod::hmPut || method_ == THttpMethod::hmTrace;
}

void TCRHttp::GetRequest() {
  method_ = THttpMethod::hmGet;
  Request();
}

void TCRHttp::PostRequest() {
  method_ = THttpMethod::hmPost;
  stringBody_.clear();
  Request();
}

void TCRHttp::Request() {
  for (int pass = 0;; ++pass) {
    TUrlParts parts = SplitUrl(url_);
    if (!parts.User.empty() || !parts.Password.empty()) {
      headerInfo_.UserName = parts.User;
      headerInfo_.Password = parts.Password;
    }
    int32_t port = PortNumber(parts);
    BuildHeader(parts, port);
    if (proxyHost_.empty())
      OpenTransport(parts.Host, port);
    else
      OpenTransport(proxyHost_, proxyPort_);
    SendRequest();
    try {
      ReadResponseHeader();
      if (status_ >= 300 && status_ <= 302) url_ = location_;
      if (status_ >= 400) throw HttpException(Trimmed(statusLine_));
    } catch (...) {
      if (!keepConnection_ || (status_ >= 299 && status_ <= 399)) Disconnect();
      throw;
    }
    bool repeat = status_ >= 299 && status_ <= 399;
    if (!keepConnection_ || repeat) Disconnect();
    if (!repeat) return;
    if (pass >= kMaxRedirects) throw HttpException("Too many redirects");
    if (status_ <= 398) FollowRedirect(parts);
  }
}

// Prepares the next pass after a redirect: cookie, method, an absolute URL.
// A redirect to another scheme is refused, and the Basic credentials never
// travel to another host.
bool TCRHttp::FollowRedirect(const TUrlParts& current) {
  if (!cookie_.empty()) headerInfo_.Cookie = cookie_;
  method_ = THttpMethod::hmGet;
  if (url_.find("//") == std::string::npos) {
    std::string base = current.Scheme + "//" + current.Host + current.Port;
    url_ = url_.compare(0, 1, "/") == 0 ? base + url_ : base + current.Path + url_;
  }
  TUrlParts next = SplitUrl(url_);
  if (!SameText(next.Scheme, current.Scheme)) throw HttpException("Redirect to another scheme refused: " + url_);
  if (!SameText(next.Host, current.Host) || PortNumber(next) != PortNumber(current)) {
    headerInfo_.UserName.clear();
    headerInfo_.Password.clear();
  }
  return true;
}

void TCRHttp::SetHeader(const std::string& name, const std::string& value) {
  std::string line = name + ":" + value;
  std::string prefix = UpperCase(name + ":");
  for (std::string& existing : header_) {
    if (UpperCase(existing.substr(0, prefix.size())) == prefix) {
      existing = line;
      return;
    }
  }
  header_.push_back(line);
}

void TCRHttp::BuildHeader(const TUrlParts& parts, int32_t port) {
  header_.clear();
  std::string target = proxyHost_.empty()
                           ? parts.Path + parts.Resource + parts.Parameters + parts.Query + parts.Fragment
                           : url_;
  std::replace(target.begin(), target.end(), ' ', '+');
  header_.push_back(MethodText(method_) + target + " HTTP/1.0");
  if (!proxyHost_.empty()) {
    header_.push_back("Proxy-Connection: Keep-Alive");
    header_.push_back("Host: " + parts.Host);
    header_.push_back("Port: " + std::to_string(port));
  }
  SetHeader("Host", parts.Host);
  header_.push_back("Cache-Control: no-store,no-cache");
  header_.push_back("Pragma: no-cache");
  if (!headerInfo_.UserAgent.empty()) SetHeader("User-Agent", headerInfo_.UserAgent);
  if (!headerInfo_.From.empty()) SetHeader("From", headerInfo_.From);
  if (!headerInfo_.Cookie.empty()) SetHeader("Cookie", headerInfo_.Cookie);
  if (!headerInfo_.Referer.empty()) SetHeader("Referer", headerInfo_.Referer);
  if (!headerInfo_.UserName.empty() && !headerInfo_.Password.empty())
    SetHeader("Authorization", "Basic " + TBase64::Encode(headerInfo_.UserName + ":" + headerInfo_.Password));
  if (!headerInfo_.ProxyUserName.empty() && !headerInfo_.ProxyPassword.empty())
    SetHeader("Proxy-Authorization",
              "Basic " + TBase64::Encode(headerInfo_.ProxyUserName + ":" + headerInfo_.ProxyPassword));
  if (IsBodyMethod()) {
    size_t length = requestBody_.DataLength() > 0 ? requestBody_.DataLength() : stringBody_.size();
    header_.push_back("Content-Type: application/octet-stream");
    header_.push_back("Content-Length: " + std::to_string(length));
  }
}

void TCRHttp::OpenTransport(const std::string& host, int32_t port) {
  std::lock_guard guard(lock_);
  if (aborted_) throw HttpException("The request was aborted");
  if (transport_ && transport_->IsOpen()) throw EAssertionFailed("TCRHttp: a request is already open");
  received_.Clear();
  transport_ = std::make_unique<THttpVio>(host, port);
  transport_->SetIoTimeout(timeout_);
  try {
    transport_->Connect();
  } catch (const mysql::SocketException& e) {
    if (transport_->ErrorText().empty()) throw;
    throw mysql::SocketException(e.ErrorCode(), e.Message() + ": " + transport_->ErrorText());
  }
}

void TCRHttp::SendRequest() {
  std::string text;
  for (const std::string& line : header_) text += line + "\r\n";
  text += "\r\n";
  if (IsBodyMethod() && requestBody_.DataLength() == 0) text += stringBody_;
  auto send = [&](const uint8_t* bytes, size_t count) {
    if (static_cast<size_t>(transport_->Write(bytes, 0, static_cast<int32_t>(count))) != count)
      throw HttpException(transport_->ErrorText().empty() ? "Cannot send the request" : transport_->ErrorText());
  };
  send(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  if (!IsBodyMethod()) return;
  std::vector<uint8_t> piece(kChunkSize);
  while (size_t n = std::min(requestBody_.DataLength(), kChunkSize)) {
    requestBody_.Read(piece.data(), n);
    send(piece.data(), n);
  }
}

int32_t TCRHttp::ReceiveOnce() {
  if (!transport_) return 0;
  int32_t got = transport_->ReceiveOnce(receiveBuffer_.data(), 0, static_cast<int32_t>(receiveBuffer_.size()));
  if (got > 0) received_.Write(receiveBuffer_.data(), static_cast<size_t>(got));
  return got;
}

std::string TCRHttp::ReadLine() {
  int64_t lf;
  while ((lf = received_.IndexOf('\n')) < 0 || (inBody_ && lf >= BodyLeft())) {
    if (inBody_ && static_cast<int64_t>(received_.DataLength()) >= BodyLeft()) throw HttpException(kNoData);
    if (received_.DataLength() > kMaxLineLength) throw HttpException("HTTP header line too long");
    if (ReceiveOnce() <= 0) {
      std::string error = ErrorText();
      throw HttpException(error.empty() ? kNoData : error);
    }
  }
  std::string line(static_cast<size_t>(lf) + 1, '\0');
  received_.Read(reinterpret_cast<uint8_t*>(line.data()), line.size());
  if (inBody_) bodyTaken_ += static_cast<int64_t>(line.size());
  return line;
}

void TCRHttp::ReadResponseHeader() {
  status_ = 0;
  location_.clear();
  cookie_.clear();
  inBody_ = false;
  bodyLength_ = -1;
  bodyTaken_ = 0;
  statusLine_ = ReadLine();
  if (!SameText(statusLine_.substr(0, 4), "HTTP")) throw HttpException("Unknown protocol");
  size_t first = statusLine_.find(' ');
  if (first != std::string::npos) {
    size_t second = statusLine_.find(' ', first + 1);
    std::string code = WithoutLineEnd(
        statusLine_.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1));
    int value = 0;
    auto [end, ec] = std::from_chars(code.data(), code.data() + code.size(), value);
    if (ec == std::errc() && end == code.data() + code.size()) status_ = value;
  }
  for (;;) {
    std::string line = ReadLine();
    if (line == "\r\n" || line == "\n" || line.empty()) break;
    std::string word = UpperCase(line.substr(0, line.find(' ')));
    if (word == "SET-COOKIE:") {
      std::string value = line.size() > 12 ? line.substr(12) : std::string();
      size_t semicolon = value.find(';');
      cookie_ = semicolon == std::string::npos ? WithoutLineEnd(value) : value.substr(0, semicolon);
    } else if (word == "LOCATION:") {
      std::string value = line.size() > 10 ? line.substr(10) : std::string();
      // A value of more than 256 characters is cut to its first 254.
      location_ = value.size() > kMaxLocationLength ? value.substr(0, kMaxLocationLength - 2) : WithoutLineEnd(value);
    } else if (word == "CONTENT-LENGTH:") {
      std::string value = Trimmed(line.substr(15));
      int64_t length = -1;
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
      if (ec == std::errc() && end == value.data() + value.size() && length >= 0) bodyLength_ = length;
    }
  }
  inBody_ = true;
}

int32_t TCRHttp::ReadBody(uint8_t* buffer, int32_t offset, int32_t count) {
  if (!transport_ || count <= 0) return 0;
  count = static_cast<int32_t>(std::min<int64_t>(count, BodyLeft()));
  if (count == 0) return 0;
  while (received_.DataLength() < static_cast<size_t>(count)) {
    if (received_.DataLength() > 0) {
      bool readable = false;
      try {
        readable = transport_->WaitForReadable(0);
      } catch (const Exception&) {
        readable = false;
      }
      if (!readable) break;
    }
    if (ReceiveOnce() <= 0) break;
  }
  size_t n = std::min(received_.DataLength(), static_cast<size_t>(count));
  received_.Read(buffer + offset, n);
  bodyTaken_ += static_cast<int64_t>(n);
  return static_cast<int32_t>(n);
}

bool TCRHttp::DataAvailable(int32_t seconds) {
  if (received_.DataLength() > 0 || BodyLeft() == 0) return true;
  if (!transport_ || !transport_->IsOpen()) return false;
  try {
    return transport_->WaitForReadable(seconds);
  } catch (const Exception&) {
    return false;
  }
}

void TCRHttp::Abort() {
  std::lock_guard guard(lock_);
  aborted_ = true;
  if (transport_) transport_->Shutdown();
}

void TCRHttp::Disconnect() {
  std::lock_guard guard(lock_);
  if (transport_) transport_->Close();
  received_.Clear();
  requestBody_.Clear();
  transport_.reset();
}

std::string TCRHttp::ErrorText() const {
  std::lock_guard guard(lock_);
  return transport_ ? transport_->ErrorText() : std::string();
}

}  // namespace da::transports
