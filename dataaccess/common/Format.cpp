#include "common/Format.h"

#include <charconv>
#include <vector>

namespace da {
namespace {

struct Placeholder {
  bool leftAlign = false;
  int width = -1;
  int precision = -1;
  char conversion = 0;
};

// Parses a placeholder after its '%'; answers the position after it, or npos
// when the text there is not a placeholder this formatter knows.
size_t ParsePlaceholder(std::string_view p, size_t i, Placeholder& ph) {
  if (i < p.size() && p[i] == '-') {
    ph.leftAlign = true;
    ++i;
  }
  auto number = [&](int& out) {
    size_t start = i;
    int v = 0;
    while (i < p.size() && p[i] >= '0' && p[i] <= '9' && i - start < 6) v = v * 10 + (p[i++] - '0');
    if (i > start) out = v;
  };
  number(ph.width);
  if (i < p.size() && p[i] == '.') {
    ++i;
    ph.precision = 0;
    number(ph.precision);
  }
  if (i >= p.size()) return std::string_view::npos;
  char c = p[i];
  if (c != 's' && c != 'd' && c != 'u' && c != 'x' && c != 'X') return std::string_view::npos;
  ph.conversion = c;
  return i + 1;
}

std::string ToDigits(int64_t v, char conversion) {
  char buf[32];
  std::to_chars_result r;
  if (conversion == 'x' || conversion == 'X') {
    r = std::to_chars(buf, buf + sizeof buf, static_cast<uint64_t>(v), 16);
  } else if (conversion == 'u') {
    r = std::to_chars(buf, buf + sizeof buf, static_cast<uint64_t>(v));
  } else {
    r = std::to_chars(buf, buf + sizeof buf, v);
  }
  std::string s(buf, r.ptr);
  if (conversion == 'X')
    for (char& ch : s)
      if (ch >= 'a' && ch <= 'f') ch = static_cast<char>(ch - 'a' + 'A');
  return s;
}

std::string Render(const Placeholder& ph, const FormatArg& arg) {
  std::string text;
  if (ph.conversion == 's') {
    text = arg.IsInteger() ? ToDigits(arg.Integer(), 'd') : arg.Text();
    if (ph.precision >= 0 && text.size() > static_cast<size_t>(ph.precision)) text.resize(ph.precision);
  } else {
    text = arg.IsInteger() ? ToDigits(arg.Integer(), ph.conversion) : arg.Text();
  }
  if (ph.width > 0 && text.size() < static_cast<size_t>(ph.width)) {
    std::string pad(ph.width - text.size(), ' ');
    text = ph.leftAlign ? text + pad : pad + text;
  }
  return text;
}

}  // namespace

std::string Format(std::string_view pattern, std::initializer_list<FormatArg> args) {
  std::vector<const FormatArg*> list;
  for (const FormatArg& a : args) list.push_back(&a);
  std::string out;
  out.reserve(pattern.size() + 16);
  size_t next = 0;
  for (size_t i = 0; i < pattern.size();) {
    if (pattern[i] != '%') {
      out += pattern[i++];
      continue;
    }
    if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    Placeholder ph;
    size_t end = ParsePlaceholder(pattern, i + 1, ph);
    if (end == std::string_view::npos || next >= list.size()) {
      // Unknown placeholder or no argument left: keep the text as written.
      size_t stop = end == std::string_view::npos ? i + 1 : end;
      out.append(pattern.substr(i, stop - i));
      i = stop;
      continue;
    }
    out += Render(ph, *list[next++]);
    i = end;
  }
  return out;
}

}  // namespace da
