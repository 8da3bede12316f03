#pragma once
// Base of every exception the data-access library raises, plus the two
// special kinds that are not ordinary errors: the silent abort and the
// assertion failure for programming errors.

#include <exception>
#include <string>

namespace da {

// An error with a message text (8-bit, Windows-1252).
class Exception : public std::exception {
 public:
  explicit Exception(std::string message = {}) : message_(std::move(message)) {}

  const std::string& Message() const { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// The silent abort: unwinds the caller like an error but carries no message,
// and the application's default error display never shows it.
class EAbort : public Exception {
 public:
  EAbort() = default;
};

// A programming error (unknown property number, missing handle): raised
// instead of aborting the process so that callers and tests can see it.
class EAssertionFailed : public Exception {
 public:
  using Exception::Exception;
};

// A failed conversion of a text or a value (dates, numbers, variants).
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace da
