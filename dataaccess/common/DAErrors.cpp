#include "common/DAErrors.h"

#include <cctype>
#include <charconv>

#include "common/Component.h"
#include "common/Format.h"

namespace da {
namespace {

constexpr int32_t kErSyntax = 1064;
constexpr int32_t kErDuplicateEntry = 1062;

int LastNumberIn(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && !std::isdigit(static_cast<unsigned char>(text[end - 1]))) --end;
  if (end == 0) return 0;
  size_t begin = end;
  while (begin > 0 && std::isdigit(static_cast<unsigned char>(text[begin - 1]))) --begin;
  int value = 0;
  auto r = std::from_chars(text.data() + begin, text.data() + end, value);
  return r.ec == std::errc() ? value : 0;  // too long a run fails the conversion
}

}  // namespace

std::string ComponentErrorText(const std::string& text, const TComponent* component) {
  if (component && !component->Name().empty()) return Format("%s: %s", {component->Name(), text});
  return text;
}

void DatabaseError(const std::string& text, const TComponent* component) {
  throw EDatabaseError(ComponentErrorText(text, component));
}

EMyError::EMyError(int32_t errorCode, std::string message, TComponent* origin)
    : EDAError(errorCode, std::move(message), origin) {
  if (errorCode == kErSyntax) errorLine_ = LastNumberIn(Message());
}

bool EMyError::IsFatal() const {
  switch (ErrorCode()) {
    case 1053:  // server shutdown in progress
    case 2003:  // can't connect
    case 2006:  // server has gone away
    case 2013:  // lost connection during query
      return true;
    default:
      return false;
  }
}

bool EMyError::IsDuplicateKey() const { return ErrorCode() == kErDuplicateEntry; }

}  // namespace da
