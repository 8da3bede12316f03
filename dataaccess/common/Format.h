#pragma once
// printf-style formatting of message templates: %s, %d, %u, %x, %X, %%, with
// optional '-' flag, width and precision (so "%-.64s" cuts a text at 64
// characters). It never throws and never reads past its arguments: a
// placeholder without a matching argument stays in the result as written.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace da {

class FormatArg {
 public:
  FormatArg(int v) : value_(static_cast<int64_t>(v)) {}
  FormatArg(unsigned v) : value_(static_cast<int64_t>(v)) {}
  FormatArg(long v) : value_(static_cast<int64_t>(v)) {}
  FormatArg(unsigned long v) : value_(static_cast<int64_t>(v)) {}
  FormatArg(long long v) : value_(static_cast<int64_t>(v)) {}
  FormatArg(unsigned long long v) : value_(static_cast<int64_t>(v)) {}
  FormatArg(std::string_view v) : value_(std::string(v)) {}
  FormatArg(const std::string& v) : value_(v) {}
  FormatArg(const char* v) : value_(std::string(v ? v : "")) {}

  bool IsInteger() const { return std::holds_alternative<int64_t>(value_); }
  int64_t Integer() const { return std::get<int64_t>(value_); }
  const std::string& Text() const { return std::get<std::string>(value_); }

 private:
  std::variant<int64_t, std::string> value_;
};

std::string Format(std::string_view pattern, std::initializer_list<FormatArg> args);

}  // namespace da
