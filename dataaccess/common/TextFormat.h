#pragma once
// Text forms of dates and numbers under the regional settings.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/DateTime.h"
#include "common/RegionalSettings.h"

namespace da {

// Formats with the pattern notation of RegionalSettings: d dd m mm yy yyyy
// h hh n nn s ss z zzz, AMPM, '/' (date separator), ':' (time separator),
// "c" (short date and long time), text in single or double quotes taken as
// it is; other characters are copied. "m" right after an hour means minutes.
std::string FormatDateTime(std::string_view pattern, TDateTime value, const RegionalSettings& rs = Regional());

std::string DateToStr(TDateTime value, const RegionalSettings& rs = Regional());
std::string TimeToStr(TDateTime value, const RegionalSettings& rs = Regional());
// Short date, then a blank and the long time unless the time is midnight.
std::string DateTimeToStr(TDateTime value, const RegionalSettings& rs = Regional());

// The general number format: up to `precision` significant digits, no
// trailing zeros, fixed notation for exponents from -4 to precision-1 and
// scientific ("1.5E20", "1E-7") beyond; the decimal separator of rs.
std::string FloatToStr(double value, const RegionalSettings& rs = Regional(), int precision = 15);

// A currency amount (an integer scaled by 10000) with up to 4 decimals.
std::string CurrToStr(int64_t scaled, const RegionalSettings& rs = Regional());

// Reads a decimal number with the decimal separator of rs (or '.'), optional
// sign and exponent, surrounding blanks allowed. False when it is not one.
bool TryStrToFloat(std::string_view text, double& out, const RegionalSettings& rs = Regional());

}  // namespace da
