#include "common/Format.h"

#include <charconv>
#include <vector>

namespace da {
namespace {

struct Spec {
  bool leftAlign = false;
  int width = -1;
  int precision = -1;
  char conversion = 0;
};

// Parses a placeholder after its '%'; answers the position after it, or npos
// when the text there is not a placeholder this formatter knows.
size_t ParseSpec(std::string_view p, size_t i, Spec& spec) {
  if (i < p.size() && p[i] == '-') {
    spec.leftAlign = true;
    ++i;
  }
  auto number = [&](int& out) {
    size_t start = i;
    int v = 0;
    while (i < p.size() && p[i] >= '0' && p[i] <= '9' && i - start < 6) v = v * 10 + (p[i++] - '0');
    if (i > start) out = v;
  };
  number(spec.width);
  if (i < p.size() && p[i] == '.') {
    ++i;
    spec.precision = 0;
    number(spec.precision);
  }
  if (i >= p.size()) return std::string_view::npos;
  char c = p[i];
  if (c != 's' && c != 'd' && c != 'u' && c != 'x' && c != 'X') return std::string_view::npos;
  spec.conversion = c;
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

std::string Render(const Spec& spec, const FormatArg& arg) {
  std::string text;
  if (spec.conversion == 's') {
    text = arg.IsInteger() ? ToDigits(arg.Integer(), 'd') : arg.Text();
    if (spec.precision >= 0 && text.size() > static_cast<size_t>(spec.precision)) text.resize(spec.precision);
  } else {
    text = arg.IsInteger() ? ToDigits(arg.Integer(), spec.conversion) : arg.Text();
  }
  if (spec.width > 0 && text.size() < static_cast<size_t>(spec.width)) {
    std::string pad(spec.width - text.size(), ' ');
    text = spec.leftAlign ? text + pad : pad + text;
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
    Spec spec;
    size_t end = ParseSpec(pattern, i + 1, spec);
    if (end == std::string_view::npos || next >= list.size()) {
      // Unknown placeholder or no argument left: keep the text as written.
      size_t stop = end == std::string_view::npos ? i + 1 : end;
      out.append(pattern.substr(i, stop - i));
      i = stop;
      continue;
    }
    out += Render(spec, *list[next++]);
    i = end;
  }
  return out;
}

}  // namespace da
