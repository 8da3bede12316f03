#include "common/TextFormat.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace da {
namespace {

bool StartsWithNoCase(std::string_view s, size_t i, std::string_view what) {
  if (i + what.size() > s.size()) return false;
  for (size_t k = 0; k < what.size(); ++k)
    if (std::tolower(static_cast<unsigned char>(s[i + k])) != std::tolower(static_cast<unsigned char>(what[k])))
      return false;
  return true;
}

std::string Pad(int v, int width) {
  std::string s = std::to_string(v);
  if (static_cast<int>(s.size()) < width) s.insert(0, width - s.size(), '0');
  return s;
}

void AppendFormatted(std::string& out, std::string_view f, const DateTimeParts& p, const RegionalSettings& rs,
                     int depth) {
  bool twelveHour = false;
  for (size_t i = 0; i < f.size(); ++i)
    if (StartsWithNoCase(f, i, "ampm")) twelveHour = true;
  bool lastWasHour = false;
  for (size_t i = 0; i < f.size();) {
    char c = f[i];
    char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto run = [&](char ch) {
      size_t n = 0;
      while (i + n < f.size() && std::tolower(static_cast<unsigned char>(f[i + n])) == ch) ++n;
      return n;
    };
    if (c == '"' || c == '\'') {
      size_t end = f.find(c, i + 1);
      if (end == std::string_view::npos) end = f.size();
      out.append(f.substr(i + 1, end - i - 1));
      i = end + 1;
      continue;
    }
    if (c == '/') {
      out += rs.dateSeparator;
      ++i;
      continue;
    }
    if (c == ':') {
      out += rs.timeSeparator;
      ++i;
      continue;
    }
    if (StartsWithNoCase(f, i, "ampm")) {
      out += p.hour < 12 ? "AM" : "PM";
      i += 4;
      continue;
    }
    size_t n;
    switch (lc) {
      case 'c':
        if (depth == 0) {
          AppendFormatted(out, rs.shortDateFormat, p, rs, 1);
          if (p.hour || p.minute || p.second) {
            out += ' ';
            AppendFormatted(out, rs.longTimeFormat, p, rs, 1);
          }
        }
        ++i;
        lastWasHour = false;
        continue;
      case 'd':
        n = run('d');
        if (n >= 5 && depth == 0) AppendFormatted(out, rs.shortDateFormat, p, rs, 1);
        else out += n == 1 ? std::to_string(p.day) : Pad(p.day, 2);
        i += n;
        lastWasHour = false;
        continue;
      case 'y':
        n = run('y');
        out += n <= 2 ? Pad(p.year % 100, 2) : Pad(p.year, 4);
        i += n;
        lastWasHour = false;
        continue;
      case 'm':
        n = run('m');
        if (lastWasHour) out += n == 1 ? std::to_string(p.minute) : Pad(p.minute, 2);
        else out += n == 1 ? std::to_string(p.month) : Pad(p.month, 2);
        i += n;
        lastWasHour = false;
        continue;
      case 'h': {
        n = run('h');
        int h = p.hour;
        if (twelveHour) h = h % 12 == 0 ? 12 : h % 12;
        out += n == 1 ? std::to_string(h) : Pad(h, 2);
        i += n;
        lastWasHour = true;
        continue;
      }
      case 'n':
        n = run('n');
        out += n == 1 ? std::to_string(p.minute) : Pad(p.minute, 2);
        i += n;
        lastWasHour = false;
        continue;
      case 's':
        n = run('s');
        out += n == 1 ? std::to_string(p.second) : Pad(p.second, 2);
        i += n;
        lastWasHour = false;
        continue;
      case 'z':
        n = run('z');
        out += n >= 3 ? Pad(p.millisecond, 3) : std::to_string(p.millisecond);
        i += n;
        lastWasHour = false;
        continue;
      default:
        out += c;
        ++i;
        continue;
    }
  }
}

}  // namespace

std::string FormatDateTime(std::string_view pattern, TDateTime value, const RegionalSettings& rs) {
  std::string out;
  AppendFormatted(out, pattern, DecodeDateTime(value), rs, 0);
  return out;
}

std::string DateToStr(TDateTime value, const RegionalSettings& rs) {
  return FormatDateTime(rs.shortDateFormat, value, rs);
}

std::string TimeToStr(TDateTime value, const RegionalSettings& rs) {
  return FormatDateTime(rs.longTimeFormat, value, rs);
}

std::string DateTimeToStr(TDateTime value, const RegionalSettings& rs) { return FormatDateTime("c", value, rs); }

std::string FloatToStr(double value, const RegionalSettings& rs, int precision) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  if (precision < 1) precision = 1;
  if (precision > 17) precision = 17;
  // Round to the significant digits first; the exponent is that of the
  // rounded value (9.9999999999999999 becomes 10).
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", precision - 1, value);
  std::string s(buf);
  size_t e = s.find('e');
  int exponent = std::atoi(s.c_str() + e + 1);
  std::string mantissa = s.substr(0, e);
  bool negative = mantissa[0] == '-';
  std::string digits;
  for (char ch : mantissa)
    if (std::isdigit(static_cast<unsigned char>(ch))) digits += ch;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = negative ? "-" : "";
  if (exponent >= precision || exponent < -4) {
    out += digits[0];
    if (digits.size() > 1) {
      out += rs.decimalSeparator;
      out.append(digits, 1);
    }
    out += 'E';
    out += std::to_string(exponent);
    return out;
  }
  if (exponent < 0) {
    out += '0';
    out += rs.decimalSeparator;
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out += digits;
    return out;
  }
  size_t intDigits = static_cast<size_t>(exponent) + 1;
  if (digits.size() <= intDigits) {
    out += digits;
    out.append(intDigits - digits.size(), '0');
  } else {
    out.append(digits, 0, intDigits);
    out += rs.decimalSeparator;
    out.append(digits, intDigits);
  }
  return out;
}

std::string CurrToStr(int64_t scaled, const RegionalSettings& rs) {
  bool negative = scaled < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string out = negative ? "-" : "";
  out += std::to_string(magnitude / 10000);
  std::string frac = Pad(static_cast<int>(magnitude % 10000), 4);
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  if (!frac.empty()) {
    out += rs.decimalSeparator;
    out += frac;
  }
  return out;
}

bool TryStrToFloat(std::string_view text, double& out, const RegionalSettings& rs) {
  size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  if (b == e) return false;
  std::string s(text.substr(b, e - b));
  for (char& c : s)
    if (c == rs.decimalSeparator) c = '.';
  if (s[0] == '+') s.erase(0, 1);
  const char* first = s.data();
  const char* last = s.data() + s.size();
  auto r = std::from_chars(first, last, out, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == last;
}

}  // namespace da
