#include "driver/MyRowConvert.h"

#include <charconv>
#include <cmath>
#include <string>

#include "common/Exception.h"
#include "common/Format.h"
#include "driver/BcdText.h"

namespace da {
namespace {

// Digits read without validation: any byte counts as (byte - '0').
int Digits(std::string_view t, size_t pos, size_t count) {
  int v = 0;
  for (size_t i = 0; i < count; ++i) v = v * 10 + (pos + i < t.size() ? t[pos + i] - '0' : 0);
  return v;
}

// The same for digits known to lie inside the text.
int DigitsAt(const char* p, int count) {
  int v = 0;
  for (int i = 0; i < count; ++i) v = v * 10 + (p[i] - '0');
  return v;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Milliseconds of a fraction ".ffffff" at `pos` (0 when there is none).
int Milliseconds(std::string_view t, size_t pos) {
  if (pos >= t.size() || t[pos] != '.') return 0;
  int ms = 0, n = 0;
  for (size_t i = pos + 1; i < t.size() && IsDigit(t[i]) && n < 3; ++i, ++n) ms = ms * 10 + (t[i] - '0');
  while (n < 3) ms *= 10, ++n;
  return ms;
}

int TwoDigitYear(int yy) { return yy < 70 ? 2000 + yy : 1900 + yy; }

bool Encode(DateTimeParts p, TDateTime& out) { return TryEncodeDateTime(p, out); }

}  // namespace

int64_t MySqlTextToInt64(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    i = 1;
  }
  uint64_t v = 0;
  for (; i < text.size(); ++i) v = v * 10 + static_cast<uint64_t>(static_cast<unsigned char>(text[i]) - '0');
  return negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

uint64_t MySqlBitToUInt64(std::string_view bytes) {
  uint64_t v = 0;
  for (unsigned char b : bytes) v = (v << 8) | b;
  return v;
}

namespace {

// Plain decimal text ("-12.25", "7") whose digits fit a double exactly, as
// the server writes most values: the digits as an integer over a power of
// ten are two exact doubles, so one division rounds as a full parse does.
bool ExactDecimal(std::string_view text, double& out) {
  static constexpr double kPowersOfTen[] = {1e0, 1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7, 1e8,
                                            1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16};
  constexpr ptrdiff_t kMaxDigits = 16;
  constexpr uint64_t kExactLimit = uint64_t{1} << 53;
  const char* p = text.data();
  const char* const end = p + text.size();
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  // Too many digits wrap the integer harmlessly: they are refused below.
  uint64_t digits = 0;
  const char* const integral = p;
  while (p != end && static_cast<unsigned char>(*p - '0') <= 9) digits = digits * 10 + static_cast<unsigned>(*p++ - '0');
  ptrdiff_t count = p - integral, fraction = 0;
  if (p != end && *p == '.') {
    const char* const decimals = ++p;
    while (p != end && static_cast<unsigned char>(*p - '0') <= 9)
      digits = digits * 10 + static_cast<unsigned>(*p++ - '0');
    fraction = p - decimals;
    count += fraction;
  }
  if (p != end || count == 0 || count > kMaxDigits || digits > kExactLimit) return false;
  const double value = static_cast<double>(digits) / kPowersOfTen[fraction];
  out = negative ? -value : value;
  return true;
}

}  // namespace

double MySqlTextToFloat(std::string_view text) {
  if (text.size() > 36) text = text.substr(0, 36);
  if (double value; ExactDecimal(text, value)) return value;
  // The usual text ("-12.5", "1e-7") parses whole at once; what ends in no
  // digit or point ("inf", "nan"), carries a sign "+" or does not parse
  // whole takes the checks below, with their errors.
  if (!text.empty() && text[0] != '+' && (IsDigit(text.back()) || text.back() == '.')) {
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc() && end == text.data() + text.size()) return value;
  }
  auto invalid = [&]() { return EConvertError(Format("'%s' is not a valid floating point value", {text})); };
  size_t i = 0;
  std::string_view number = text;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  if (text.size() > 0 && text[0] == '+') number = text.substr(1);
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) throw invalid();
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::string_view exponent = text.substr(i + 1);
    size_t k = 0;
    if (k < exponent.size() && (exponent[k] == '-' || exponent[k] == '+')) ++k;
    size_t expDigits = 0;
    while (k < exponent.size() && IsDigit(exponent[k])) ++k, ++expDigits;
    if (expDigits == 0 || k != exponent.size())
      throw EConvertError(Format("'%s' is not a valid integer value", {exponent}));
    i = text.size();
  }
  if (i != text.size()) throw invalid();
  double value = 0;
  auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Beyond the range of a double: the nearest is 0 or an infinity.
    const bool negative = text[0] == '-';
    const bool tiny = number.find_first_of("eE") != std::string_view::npos &&
                      number[number.find_first_of("eE") + 1] == '-';
    return tiny ? (negative ? -0.0 : 0.0) : (negative ? -HUGE_VAL : HUGE_VAL);
  }
  if (ec != std::errc() || end != number.data() + number.size()) throw invalid();
  return value;
}

int64_t MySqlTextToBCD(std::string_view text) {
  int64_t scaled = 0;
  if (!TextToCurrency(text, scaled)) throw EConvertError(Format("'%s' is not a valid BCD value", {text}));
  return scaled;
}

void MySqlTextToFmtBCD(std::string_view text, int precision, int scale, uint8_t out[34]) {
  if (!TextToFmtBcd(text, precision, scale, out)) throw EConvertError(Format("'%s' is not a valid BCD value", {text}));
}

bool MySqlTextToDate(std::string_view text, TDateTime& out) {
  if (text.size() < 10) return false;
  return TryEncodeDate(Digits(text, 0, 4), Digits(text, 5, 2), Digits(text, 8, 2), out);
}

bool MySqlTextToDateTime(std::string_view text, TDateTime& out) {
  if (text.size() < 10) return false;
  TDateTime date, time = 0;
  if (text.size() >= 19) {
    // "YYYY-MM-DD HH:MM:SS", every position inside the text.
    const char* p = text.data();
    if (!TryEncodeDate(DigitsAt(p, 4), DigitsAt(p + 5, 2), DigitsAt(p + 8, 2), date) ||
        !TryEncodeTime(DigitsAt(p + 11, 2), DigitsAt(p + 14, 2), DigitsAt(p + 17, 2), Milliseconds(text, 19), time))
      return false;
  } else if (!TryEncodeDate(Digits(text, 0, 4), Digits(text, 5, 2), Digits(text, 8, 2), date)) {
    return false;
  }
  // Before day zero the fraction still counts forward from midnight.
  out = date >= 0 ? date + time : date - time;
  return true;
}

bool MySqlTextToTimestamp(std::string_view text, uint32_t columnLength, TDateTime& out) {
  DateTimeParts p{0, 1, 1, 0, 0, 0, 0};
  switch (columnLength) {
    case 2:
      p.year = TwoDigitYear(Digits(text, 0, 2));
      break;
    case 4:
      p.year = TwoDigitYear(Digits(text, 0, 2));
      p.month = Digits(text, 2, 2);
      break;
    case 6:
      p.year = TwoDigitYear(Digits(text, 0, 2));
      p.month = Digits(text, 2, 2);
      p.day = Digits(text, 4, 2);
      break;
    case 8:
      p.year = Digits(text, 0, 4);
      p.month = Digits(text, 4, 2);
      p.day = Digits(text, 6, 2);
      break;
    case 10:
    case 12:
      p.year = TwoDigitYear(Digits(text, 0, 2));
      p.month = Digits(text, 2, 2);
      p.day = Digits(text, 4, 2);
      p.hour = Digits(text, 6, 2);
      p.minute = Digits(text, 8, 2);
      if (columnLength == 12) p.second = Digits(text, 10, 2);
      break;
    case 14:
      p.year = Digits(text, 0, 4);
      p.month = Digits(text, 4, 2);
      p.day = Digits(text, 6, 2);
      p.hour = Digits(text, 8, 2);
      p.minute = Digits(text, 10, 2);
      p.second = Digits(text, 12, 2);
      break;
    default:
      // 19, and 21 to 26 with fractional seconds (TIMESTAMP(1) … (6)).
      if (columnLength != 19 && (columnLength < 21 || columnLength > 26))
        throw EAssertionFailed(Format("Invalid FIELD_TYPE_TIMESTAMP Field.Length (%d)", {columnLength}));
      return MySqlTextToDateTime(text, out);
  }
  return Encode(p, out);
}

TDateTime MySqlTextToTime(std::string_view text, const std::string& fieldName) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon >= 5)
    throw EConvertError(Format("Wrong time format. Field %s, value %s", {fieldName, text}));
  size_t start = 0;
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    start = 1;
  }
  const double hours = Digits(text, start, colon - start);
  const int minutes = Digits(text, colon + 1, 2);
  const int seconds = Digits(text, colon + 4, 2);
  const int ms = Milliseconds(text, colon + 6);
  const double value = hours / 24 + (minutes * 60.0 + seconds + ms / 1000.0) / 86400;
  return negative ? -value : value;
}

}  // namespace da
