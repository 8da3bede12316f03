#pragma once
// Column text to stored values: the conversions the record set applies to
// every column of a fetched row. Each reads exactly the `length` bytes it is
// given; none depends on the locale except where stated.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/DateTime.h"

namespace da {

// An optional "-" and decimal digits, accumulated without validation.
int64_t MySqlTextToInt64(std::string_view text);
// The column bytes of a BIT value as a big-endian unsigned number.
uint64_t MySqlBitToUInt64(std::string_view bytes);
// A decimal text (sign, digits, one ".", exponent "e"/"E" with a sign) to
// the nearest double; only the first 36 characters count. Any other
// character raises EConvertError "'%s' is not a valid floating point
// value", a bad exponent "'%s' is not a valid integer value".
double MySqlTextToFloat(std::string_view text);
// A decimal text as a currency value (value × 10000, rounded half away
// from zero at the fifth decimal). Raises EConvertError like
// MySqlTextToFloat for text that is no number.
int64_t MySqlTextToBCD(std::string_view text);
// A decimal text as the 34-byte packed decimal of a field of `precision`
// digits and `scale` decimals (precision byte, sign bit 7 and scale in the
// second byte, then two digits a byte).
void MySqlTextToFmtBCD(std::string_view text, int precision, int scale, uint8_t out[34]);

// Dates: false when the text gives no valid date (MySQL zero dates).
// DATE and NEWDATE: YYYY-MM-DD.
bool MySqlTextToDate(std::string_view text, TDateTime& out);
// DATETIME: YYYY-MM-DD HH:MM:SS; an invalid time makes it invalid.
bool MySqlTextToDateTime(std::string_view text, TDateTime& out);
// TIMESTAMP by column length (2, 4, 6, 8, 10, 12, 14, 19); any other
// length raises EAssertionFailed "Invalid FIELD_TYPE_TIMESTAMP
// Field.Length (<length>)".
bool MySqlTextToTimestamp(std::string_view text, uint32_t columnLength, TDateTime& out);
// TIME: [-]H...:MM:SS as a fraction of days (more than one day or
// negative). The first ":" must be among the first five characters, else
// EConvertError "Wrong time format. Field <field>, value <text>".
TDateTime MySqlTextToTime(std::string_view text, const std::string& fieldName);

}  // namespace da
