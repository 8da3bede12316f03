#pragma once
// Decimal text to the two exact number forms of the record store: the
// currency form of dtBCD (value × 10000 in 64 bits) and the 34-byte packed
// decimal of dtFmtBCD (precision byte; sign in bit 7 and scale in bits 0-5
// of the second byte; 32 bytes of two digits each, high nibble first).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace da {

inline constexpr size_t kFmtBcdSize = 34;
inline constexpr int kFmtBcdMaxDigits = 64;

// "[+-]digits[.digits]" with "." as the decimal point, surrounding blanks
// allowed. False when the text is no such number or does not fit
// (currency: beyond ±922337203685477.5807). Currency rounds half away
// from zero at the fifth decimal.
bool TextToCurrency(std::string_view text, int64_t& scaled);
// Packs with exactly `precision` digits of which `scale` are decimals
// (extra decimals are cut, missing ones are zeros). False when the integer
// part needs more than precision - scale digits.
bool TextToFmtBcd(std::string_view text, int precision, int scale, uint8_t out[kFmtBcdSize]);
// The packed decimal as text with "." and no leading or trailing zeros
// beyond the first integer digit ("-12.5", "0", "0.001").
std::string FmtBcdToText(const uint8_t bcd[kFmtBcdSize]);
double FmtBcdToDouble(const uint8_t bcd[kFmtBcdSize]);

}  // namespace da
