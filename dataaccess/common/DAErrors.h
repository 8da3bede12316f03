#pragma once
// The error family the data-access layers report to their callers.

#include <cstdint>
#include <string>

#include "common/Exception.h"

namespace da {

class TComponent;

// Misuse of a component (no connection, unknown parameter …).
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// Raises EDatabaseError with "Name: text" when the component has a name,
// the text alone otherwise.
[[noreturn]] void DatabaseError(const std::string& text, const TComponent* component = nullptr);
std::string ComponentErrorText(const std::string& text, const TComponent* component);

// An error reported by a server or client library, with its number.
class EDAError : public EDatabaseError {
 public:
  EDAError(int32_t errorCode, std::string message, TComponent* origin = nullptr)
      : EDatabaseError(std::move(message)), errorCode_(errorCode), origin_(origin) {}

  int32_t ErrorCode() const { return errorCode_; }
  // The component on whose behalf the failing call ran (weak; may be null).
  TComponent* Origin() const { return origin_; }
  void SetOrigin(TComponent* origin) { origin_ = origin; }

  // The session is unusable after this error.
  virtual bool IsFatal() const { return false; }
  // The error is a unique-key violation.
  virtual bool IsDuplicateKey() const { return false; }

 private:
  int32_t errorCode_;
  TComponent* origin_;
};

// A MySQL error; the message is the client's text unchanged.
class EMyError : public EDAError {
 public:
  EMyError(int32_t errorCode, std::string message, TComponent* origin = nullptr);

  // The line of a syntax error (1064): the last run of digits of the message.
  int ErrorLine() const { return errorLine_; }
  bool IsFatal() const override;
  bool IsDuplicateKey() const override;

 private:
  int errorLine_ = 0;
};

// Why a failed operation was interrupted, for repeating it after reconnect.
enum TConnLostCause {
  clUnknown,
  clExecute,
  clOpen,
  clRefresh,
  clApply,
  clServiceQuery,
  clTransStart,
  clConnectionApply,
  clConnect,
};

// Raised after a successful reconnect when the interrupted operation is to
// be repeated. Derives from Exception, not EDatabaseError, and has no text.
class EFailOver : public Exception {
 public:
  explicit EFailOver(TConnLostCause cause) : cause_(cause) {}
  TConnLostCause ConnLostCause() const { return cause_; }

 private:
  TConnLostCause cause_;
};

}  // namespace da
