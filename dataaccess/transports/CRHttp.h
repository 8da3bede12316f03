#pragma once
// A minimal HTTP/1.0 client: one object per request, one TCP connection per
// request (optionally through a proxy), Basic credentials, redirects. The
// HTTP tunnel makes every request of its protocol with it and reads the
// response body through it.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/Exception.h"
#include "transports/CRDataBuffer.h"

namespace da::transports {

class THttpVio;  // the TCP transport of one request

// A failure of an HTTP request (unknown protocol, an error status, a
// redirect refused, a connection that ends inside a header line).
class HttpException : public Exception {
 public:
  using Exception::Exception;
};

// Optional header texts and credentials of a request.
struct THeaderInfo {
  std::string UserAgent, From, Cookie, Referer;
  std::string UserName, Password;            // Basic credentials for the host
  std::string ProxyUserName, ProxyPassword;  // Basic credentials for the proxy
};

enum class THttpMethod { hmGet, hmOptions, hmHead, hmPost, hmPut, hmTrace };

// The pieces of a URL as the client splits it. Scheme, port, parameters,
// query and fragment keep their leading ":" / ":" / ";" / "?" / "#".
struct TUrlParts {
  std::string Scheme, User, Password, Host, Port, Path, Resource, Parameters, Query, Fragment;
};
// Splits `url` (scheme "http:" and path "/" when absent).
TUrlParts SplitUrl(const std::string& url);
// The default port of a scheme ("http:" 80, "https:" 443 ...; 80 when unknown).
int32_t DefaultPort(const std::string& scheme);

class TCRHttp {
 public:
  static constexpr size_t kChunkSize = 32768;
  static constexpr int32_t kDefaultTimeout = 15;
  // Redirects and repeated answers (status 299-399) one request follows
  // before it fails with "Too many redirects".
  static constexpr int kMaxRedirects = 5;

  explicit TCRHttp(std::string url);
  // Runs Disconnect.
  ~TCRHttp();
  TCRHttp(const TCRHttp&) = delete;
  TCRHttp& operator=(const TCRHttp&) = delete;

  const std::string& Url() const { return url_; }
  THeaderInfo& HeaderInfo() { return headerInfo_; }
  // Seconds; bounds the connect and every receive of the request.
  int32_t Timeout() const { return timeout_; }
  void SetTimeout(int32_t seconds);
  // Connect to this host and port instead of the URL's (empty: no proxy).
  void SetProxy(std::string host, int32_t port);
  // Keep the connection open after the response header so that the body can
  // be read (the default).
  void SetKeepConnection(bool on) { keepConnection_ = on; }
  // The body of a POST: these queued bytes, or the string body when the
  // queue is empty.
  TDataBuffer& RequestBody() { return requestBody_; }
  void SetStringBody(std::string body) { stringBody_ = std::move(body); }

  // Run the request with its redirects. On return the connection stays open
  // for the body (status below 300 or 400 and above). Raises HttpException
  // ("Unknown protocol", the status line of a status of 400 or more, a
  // refused redirect) or the transport's SocketException when the server
  // cannot be reached. Assertion failure while a transport is still open.
  void GetRequest();
  // Sends the request-body queue (the string body is emptied).
  void PostRequest();

  // One line of the response, up to and including its LF. Raises
  // HttpException when the connection ends first.
  std::string ReadLine();
  // Up to `count` bytes of the body into buffer[offset...]: waits for the
  // first byte (up to the time-out), then takes only what is there at once.
  // 0 at the end of the body, on a failure, or without a connection.
  int32_t ReadBody(uint8_t* buffer, int32_t offset, int32_t count);
  // True when body bytes are queued or arrive within `seconds` (also at the
  // end of the body, where the next ReadBody answers 0).
  bool DataAvailable(int32_t seconds);
  // Ends a request blocked on another thread: shuts its connection down and
  // makes every later request on this object fail. Safe from any thread.
  void Abort();
  // Closes the connection and empties both queues.
  void Disconnect();
  // The transport's last error text (empty without a transport).
  std::string ErrorText() const;

  int Status() const { return status_; }
  const std::string& StatusLine() const { return statusLine_; }
  const std::string& Location() const { return location_; }
  const std::string& Cookie() const { return cookie_; }
  // The header lines of the last request sent, without their line ends.
  const std::vector<std::string>& RequestHeader() const { return header_; }

 private:
  void Request();
  void BuildHeader(const TUrlParts& parts, int32_t port);
  void SetHeader(const std::string& name, const std::string& value);
  void OpenTransport(const std::string& host, int32_t port);
  void SendRequest();
  void ReadResponseHeader();
  int32_t ReceiveOnce();
  bool FollowRedirect(const TUrlParts& current);
  bool IsBodyMethod() const;

  std::string url_;
  THttpMethod method_ = THttpMethod::hmGet;
  std::vector<std::string> header_;
  THeaderInfo headerInfo_;
  int status_ = 0;
  std::string statusLine_, location_, cookie_;
  // The body's length when the response announced it (Content-Length),
  // else -1, and what has been taken of it: a body read whole ends there,
  // even when the server (or a proxy) keeps the connection open.
  int64_t bodyLength_ = -1;
  int64_t bodyTaken_ = 0;
  bool inBody_ = false;
  int64_t BodyLeft() const { return bodyLength_ < 0 ? INT64_MAX : bodyLength_ - bodyTaken_; }
  int32_t timeout_ = kDefaultTimeout;
  std::string proxyHost_;
  int32_t proxyPort_ = 8080;
  bool keepConnection_ = true;

  // Guards the creation, closing and freeing of the transport, so that Abort
  // from another thread never meets a transport being freed.
  mutable std::mutex lock_;
  std::unique_ptr<THttpVio> transport_;  // guarded by lock_
  bool aborted_ = false;                         // guarded by lock_

  TDataBuffer received_;
  TDataBuffer requestBody_;
  std::vector<uint8_t> receiveBuffer_;
  std::string stringBody_;
};

}  // namespace da::transports
