#pragma once
// The byte stream under the wire client. TCRVio fixes the operations every
// transport offers and owns the read-ahead buffer and the algorithms that
// read and write a whole count of bytes; concrete transports supply one
// receive and one send on their medium.
//
// Contract every transport keeps: Read and Write report a short count
// instead of raising, and ReceiveOnce/SendOnce never raise for an ordinary
// network error: they record it in ErrorText and return 0. The packet layer
// turns a short count into "lost connection" and shows ErrorText with it.
//
// This unit also holds the handler transport, which forwards to a
// program-supplied TCRIOHandler component.

#include <cstdint>
#include <string>
#include <vector>

#include "common/Component.h"

namespace da::mysql {

class TCRVio {
 public:
  // Size of the read-ahead buffer, allocated by Connect.
  static constexpr int32_t kReadAheadSize = 16384;
  // Reads shorter than this are served from the read-ahead buffer.
  static constexpr int32_t kSmallReadLimit = 2048;

  TCRVio() = default;
  virtual ~TCRVio() = default;
  TCRVio(const TCRVio&) = delete;
  TCRVio& operator=(const TCRVio&) = delete;

  virtual int32_t GetIoTimeout() = 0;
  virtual void SetIoTimeout(int32_t seconds) = 0;
  // Empties and (re)sizes the read-ahead buffer; every override calls it first.
  virtual void Connect();
  // Must be harmless on a closed transport.
  virtual void Close() = 0;
  // One receive from the medium into buffer[offset...]; the bytes obtained
  // (possibly fewer than count), or 0 on error (ErrorText set) or end of stream.
  virtual int32_t ReceiveOnce(uint8_t* buffer, int32_t offset, int32_t count) = 0;
  // One send; the bytes accepted, or 0 on error (ErrorText set).
  virtual int32_t SendOnce(const uint8_t* buffer, int32_t offset, int32_t count) = 0;
  // Reads count bytes into buffer[offset...]: small reads through the
  // read-ahead buffer, large ones straight into the caller's memory. Returns
  // the bytes delivered, fewer than count when the medium failed or closed.
  virtual int32_t Read(uint8_t* buffer, int32_t offset, int32_t count);
  // Writes count bytes, retrying sends that accept nothing; gives up at the
  // third such failure of the call. Returns the bytes written.
  virtual int32_t Write(const uint8_t* buffer, int32_t offset, int32_t count);
  // True when data can be read within `seconds` (negative: no limit). The
  // base fails with an assertion: only transports that need it override it.
  virtual bool WaitForReadable(int32_t seconds);
  // True when nobody else can read what travels over this transport (a
  // local socket, a stream that is already encrypted): the login may then
  // send a password itself.
  virtual bool IsSecure() const { return false; }

  // Text of the last transport error, read by the layers above.
  const std::string& ErrorText() const { return errorText_; }

  // The bytes received ahead and not read yet, for a reader that can use
  // them in place; valid until the next Read or FillReadAhead.
  const uint8_t* Buffered(int32_t& count) const {
    count = fillCount_ - readPosition_;
    return readAhead_.data() + readPosition_;
  }
  // Marks `count` of the buffered bytes as read (at most what Buffered gave).
  void Consume(int32_t count);
  // With nothing buffered: one receive into the read-ahead buffer, as a
  // small Read would do. Answers the bytes now buffered (0: failed or closed,
  // ErrorText set by the medium; -1: the transport was never connected).
  int32_t FillReadAhead();

 protected:
  void SetErrorText(std::string text) { errorText_ = std::move(text); }
  void ClearErrorText() { errorText_.clear(); }
  // The pause between retries of Read and Write (10 ms); a medium for which
  // waiting changes nothing (bytes in memory) may skip it.
  virtual void RetryPause();

 private:
  int32_t CopyFromReadAhead(uint8_t* buffer, int32_t offset, int32_t count);

  std::string errorText_;
  std::vector<uint8_t> readAhead_;
  int32_t fillCount_ = 0;
  int32_t readPosition_ = 0;
};

// A transport supplied by the program: a component whose operations the
// handler transport calls one to one. The operations that move bytes must be
// overridden; the base versions of Disconnect to SetTimeout fail with
// "Not overriden in an inherited class".
class TCRIOHandler : public TComponent {
 public:
  // Opaque connection handle of the handler.
  using THandle = void*;

  explicit TCRIOHandler(TComponent* owner = nullptr) : TComponent(owner) {}

  // A connection component started or stopped using this handler.
  virtual void RegisterClient(TComponent* /*client*/) {}
  virtual void UnRegisterClient(TComponent* /*client*/) {}
  // Switches the connection to SSL (called with true at the SSL switch-over
  // of the login).
  virtual void SetIsSecure(THandle /*handle*/, bool /*on*/) {}
  // Named in the connection's host info ("host via <class name>").
  virtual std::string ClassName() const { return "TCRIOHandler"; }
  virtual int32_t HandlerType() { return 0; }
  virtual std::string HandlerDescription() { return {}; }

  virtual THandle Connect(const std::string& host, int32_t port, const std::string& sslKey,
                          const std::string& sslCert, const std::string& caCert) = 0;
  virtual void Disconnect(THandle handle);
  virtual int32_t Read(THandle handle, uint8_t* buffer, int32_t offset, int32_t count);
  // Never called by the handler transport.
  virtual int32_t ReadNoWait(THandle handle, uint8_t* buffer, int32_t offset, int32_t count);
  virtual int32_t Write(THandle handle, const uint8_t* buffer, int32_t offset, int32_t count);
  virtual bool WaitForData(THandle handle, int32_t seconds);
  virtual int32_t GetTimeout(THandle handle);
  virtual void SetTimeout(THandle handle, int32_t seconds);
};

// Forwards every operation to a TCRIOHandler. Unconnected, every operation
// except the time-out pair does nothing and returns 0.
class TCRVioHandler : public TCRVio {
 public:
  // `handler` is borrowed and must outlive the transport.
  TCRVioHandler(std::string host, int32_t port, TCRIOHandler* handler, std::string sslKey,
                std::string sslCert, std::string caCert);
  ~TCRVioHandler() override;

  int32_t GetIoTimeout() override;
  void SetIoTimeout(int32_t seconds) override;
  void Connect() override;
  void Close() override;
  int32_t ReceiveOnce(uint8_t* buffer, int32_t offset, int32_t count) override;
  // Fails with "Not implemented": Write goes to the handler directly.
  int32_t SendOnce(const uint8_t* buffer, int32_t offset, int32_t count) override;
  int32_t Read(uint8_t* buffer, int32_t offset, int32_t count) override;
  int32_t Write(const uint8_t* buffer, int32_t offset, int32_t count) override;
  bool WaitForReadable(int32_t seconds) override;

  TCRIOHandler* Handler() const { return handler_; }
  TCRIOHandler::THandle Handle() const { return handle_; }
  bool Connected() const { return connected_; }

 private:
  std::string host_;
  int32_t port_;
  TCRIOHandler* handler_;  // borrowed
  std::string sslKey_, sslCert_, caCert_;
  TCRIOHandler::THandle handle_ = nullptr;
  bool connected_ = false;
  int32_t timeout_ = 0;
};

}  // namespace da::mysql
