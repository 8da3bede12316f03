#pragma once
// SQL literals for parameter values: what the MySQL command writes in
// place of each "?" of its statement text. One function family, each
// appending to a byte-string builder.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/DAErrors.h"
#include "common/DataTypes.h"
#include "common/DateTime.h"
#include "common/RegionalSettings.h"
#include "common/Variant.h"

namespace da {

class TParamDesc;

// What the literal of a value depends on besides the value itself.
struct TMyLiteralOptions {
  // The server reads backslash escapes (not NO_BACKSLASH_ESCAPES).
  bool backslashEscapes = true;
  // The session's character set as set by SET NAMES ("gbk" and "euckr"
  // switch on the lead-byte rule under a far-east locale).
  std::string charset;
  // UTF-8 session: texts are converted from the code page (or from UTF-16).
  bool useUnicode = false;
  // Blobs larger than 50 bytes are compressed before they are written.
  bool compressBlob = false;
  // Separators and lead bytes; null means the process-wide settings.
  const RegionalSettings* regional = nullptr;
};

// A value that no literal form covers: nothing has been sent.
class ELiteralError : public EDatabaseError {
 public:
  using EDatabaseError::EDatabaseError;
};

// The literal of one parameter: "NULL" when it is null, the zero-date
// marker for a date type holding 0100-01-01, else by its data type.
// Raises ELiteralError for a value that cannot be written as a literal of
// that type; `out` may then hold a partial literal, so callers build into
// a scratch text.
void AppendParamLiteral(std::string& out, const TParamDesc& param, const TMyLiteralOptions& options);

// The literal of `value` taken as `dataType` (the value is not null).
void AppendValueLiteral(std::string& out, TDataType dataType, const Variant& value,
                        const TMyLiteralOptions& options);

// "'" + escaped bytes + "'"; with useUnicode (and `convert`) the escaped
// text is converted from the code page to UTF-8.
void AppendQuotedString(std::string& out, std::string_view bytes, const TMyLiteralOptions& options,
                        bool convert = true);
// Wide text: escaped by characters, then UTF-8 (useUnicode) or the code page.
void AppendQuotedWideString(std::string& out, std::u16string_view text, const TMyLiteralOptions& options);

// The escaped bytes alone (no quotes).
void EscapeBytes(std::string& out, std::string_view bytes, const TMyLiteralOptions& options);

// 'YYYY-MM-DD'; 'YYYY-MM-DD HH:NN:SS' (time separator of the locale, no
// fraction); '[-]H:MM:SS' with hours beyond 23 and the seconds rounded
// half to even.
void AppendDateLiteral(std::string& out, TDateTime value);
void AppendDateTimeLiteral(std::string& out, TDateTime value, const RegionalSettings& rs);
void AppendTimeLiteral(std::string& out, TDateTime value);

}  // namespace da
