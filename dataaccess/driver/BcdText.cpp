#include "driver/BcdText.h"

#include <charconv>
#include <cstring>
#include <string>

namespace da {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Sign, integer digits and decimals of a plain decimal text.
struct DecimalParts {
  bool negative = false;
  std::string_view whole, fraction;
};

bool SplitDecimal(std::string_view text, DecimalParts& parts) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    parts.negative = text.front() == '-';
    text.remove_prefix(1);
  }
  size_t i = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  parts.whole = text.substr(0, i);
  if (i < text.size() && text[i] == '.') {
    size_t j = i + 1;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
    parts.fraction = text.substr(i + 1, j - i - 1);
    i = j;
  }
  if (i != text.size() || (parts.whole.empty() && parts.fraction.empty())) return false;
  while (parts.whole.size() > 1 && parts.whole.front() == '0') parts.whole.remove_prefix(1);
  return true;
}

}  // namespace

bool TextToCurrency(std::string_view text, int64_t& scaled) {
  DecimalParts p;
  if (!SplitDecimal(text, p)) return false;
  // Work in unsigned magnitude; the limit is that of a signed 64-bit value.
  const uint64_t limit = p.negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  uint64_t v = 0;
  auto push = [&](char digit) {
    const uint64_t d = static_cast<uint64_t>(digit - '0');
    if (v > (limit - d) / 10) return false;
    v = v * 10 + d;
    return true;
  };
  for (char c : p.whole)
    if (!push(c)) return false;
  for (size_t i = 0; i < 4; ++i)
    if (!push(i < p.fraction.size() ? p.fraction[i] : '0')) return false;
  if (p.fraction.size() > 4 && p.fraction[4] >= '5') {
    if (v == limit) return false;
    ++v;
  }
  scaled = p.negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
  return true;
}

bool TextToFmtBcd(std::string_view text, int precision, int scale, uint8_t out[kFmtBcdSize]) {
  if (precision < 1) precision = 1;
  if (precision > kFmtBcdMaxDigits) precision = kFmtBcdMaxDigits;
  if (scale < 0) scale = 0;
  if (scale > precision) scale = precision;
  if (scale > 63) scale = 63;
  DecimalParts p;
  if (!SplitDecimal(text, p)) return false;
  std::string_view whole = p.whole == "0" ? std::string_view() : p.whole;
  const size_t intDigits = static_cast<size_t>(precision - scale);
  if (whole.size() > intDigits) return false;

  std::string digits(static_cast<size_t>(precision), '0');
  whole.copy(digits.data() + (intDigits - whole.size()), whole.size());
  p.fraction.substr(0, static_cast<size_t>(scale)).copy(digits.data() + intDigits, static_cast<size_t>(scale));

  std::memset(out, 0, kFmtBcdSize);
  out[0] = static_cast<uint8_t>(precision);
  const bool zero = digits.find_first_not_of('0') == std::string::npos;
  out[1] = static_cast<uint8_t>(scale | (p.negative && !zero ? 0x80 : 0));
  for (size_t i = 0; i < digits.size(); ++i) {
    const uint8_t d = static_cast<uint8_t>(digits[i] - '0');
    out[2 + i / 2] |= (i % 2 == 0) ? static_cast<uint8_t>(d << 4) : d;
  }
  return true;
}

std::string FmtBcdToText(const uint8_t bcd[kFmtBcdSize]) {
  const size_t precision = bcd[0] > kFmtBcdMaxDigits ? kFmtBcdMaxDigits : bcd[0];
  size_t scale = bcd[1] & 0x3F;
  if (scale > precision) scale = precision;
  std::string digits;
  for (size_t i = 0; i < precision; ++i) {
    const uint8_t b = bcd[2 + i / 2];
    const uint8_t d = (i % 2 == 0) ? (b >> 4) : (b & 0x0F);
    digits += static_cast<char>('0' + (d > 9 ? 9 : d));
  }
  std::string whole = digits.substr(0, precision - scale);
  std::string fraction = digits.substr(precision - scale);
  whole.erase(0, whole.find_first_not_of('0') == std::string::npos ? whole.size() : whole.find_first_not_of('0'));
  if (whole.empty()) whole = "0";
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  std::string text = whole;
  if (!fraction.empty()) text += "." + fraction;
  if ((bcd[1] & 0x80) && text != "0") text.insert(0, "-");
  return text;
}

double FmtBcdToDouble(const uint8_t bcd[kFmtBcdSize]) {
  const std::string text = FmtBcdToText(bcd);
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);  // locale-independent
  return value;
}

}  // namespace da
