#include "driver/MyLiterals.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "common/CodePage.h"
#include "common/Format.h"
#include "common/TextFormat.h"
#include "driver/Blob.h"
#include "driver/CRAccess.h"

namespace da {
namespace {

const RegionalSettings& SettingsOf(const TMyLiteralOptions& options) {
  return options.regional ? *options.regional : Regional();
}

// Multi-byte character sets in which a trail byte can be 0x5C (or, for
// euckr, which the client treats the same way): a lead byte is written
// with a backslash in front, so that the server can never read the lead
// byte and an escaping backslash as one character and leave the quote
// after it unescaped. The lead-byte ranges are those of the character set
// itself: the server reads the text in that set whatever the client
// machine's locale is.
// In euckr the byte after a lead byte is its trail and is copied as it is
// (unless it is one the escape table changes).
enum class TLeadBytes { None, Range81FE, EucKr, ShiftJis };

// Character set names are ASCII: compared without a lower-case copy, as
// this runs for every quoted literal.
bool IsCharset(std::string_view name, std::string_view lowerName) {
  if (name.size() != lowerName.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c) != lowerName[i]) return false;
  }
  return true;
}

TLeadBytes LeadBytesOf(std::string_view charset) {
  if (IsCharset(charset, "gbk") || IsCharset(charset, "big5") || IsCharset(charset, "gb18030"))
    return TLeadBytes::Range81FE;
  if (IsCharset(charset, "euckr")) return TLeadBytes::EucKr;
  if (IsCharset(charset, "sjis") || IsCharset(charset, "cp932")) return TLeadBytes::ShiftJis;
  return TLeadBytes::None;
}

bool IsLeadByte(TLeadBytes set, unsigned char c) {
  switch (set) {
    case TLeadBytes::Range81FE:
    case TLeadBytes::EucKr: return c >= 0x81 && c <= 0xFE;
    case TLeadBytes::ShiftJis: return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case TLeadBytes::None: return false;
  }
  return false;
}

// The bytes written with a backslash in front (lead bytes aside), as a
// table: the scan for them runs over every byte of every quoted literal.
constexpr std::array<bool, 256> kNeedsBackslash = [] {
  std::array<bool, 256> table{};
  for (unsigned char c : {'\0', '\n', '\r', '\x1A', '"', '\'', '\\'}) table[c] = true;
  return table;
}();

constexpr bool NeedsBackslash(unsigned char c) { return kNeedsBackslash[c]; }

// The escape of a byte NeedsBackslash accepts.
void AppendEscape(std::string& out, unsigned char c) {
  switch (c) {
    case 0: out += "\\0"; break;
    case 10: out += "\\n"; break;
    case 13: out += "\\r"; break;
    case 26: out += "\\Z"; break;
    case '"': out += "\\\""; break;
    case '\'': out += "\\'"; break;
    default: out += "\\\\"; break;  // the backslash
  }
}

void EscapeWithBackslashes(std::string& out, std::string_view bytes, TLeadBytes leadBytes) {
  if (leadBytes == TLeadBytes::None) {
    // Without lead bytes each byte stands alone: the runs between bytes to
    // escape are copied whole.
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    for (;;) {
      const char* run = p;
      while (p != end && !NeedsBackslash(static_cast<unsigned char>(*p))) ++p;
      out.append(run, static_cast<size_t>(p - run));
      if (p == end) return;
      AppendEscape(out, static_cast<unsigned char>(*p++));
    }
  }
  bool trail = false;
  for (char ch : bytes) {
    const bool afterLead = trail;
    trail = false;
    const auto c = static_cast<unsigned char>(ch);
    if (NeedsBackslash(c)) {
      AppendEscape(out, c);
      continue;
    }
    if (!afterLead && IsLeadByte(leadBytes, c)) {
      out += '\\';
      trail = leadBytes == TLeadBytes::EucKr;
    }
    out += ch;
  }
}

void DoubleQuotes(std::string& out, std::string_view bytes) {
  for (char ch : bytes) {
    if (ch == '\'') out += '\'';
    out += ch;
  }
}

[[noreturn]] void CannotWrite(TDataType dataType, const Variant& value) {
  throw ELiteralError(Format("A value of type %s cannot be written as an SQL literal of data type %d",
                             {VarTypeName(value.Type()), static_cast<int>(dataType)}));
}

// Replaces the first decimal separator of the locale by ".".
std::string WithDot(std::string text, const RegionalSettings& rs) {
  if (size_t p = text.find(rs.decimalSeparator); p != std::string::npos) text[p] = '.';
  return text;
}

// A decimal number: optional sign, digits with at most one separator,
// optional exponent. What may stand unquoted in a statement.
bool IsNumberText(std::string_view t, char separator) {
  size_t i = 0;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
  size_t digits = 0;
  bool sepSeen = false;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if ((c == separator || c == '.') && !sepSeen) {
      sepSeen = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
    size_t expDigits = 0;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) ++expDigits;
    if (expDigits == 0) return false;
  }
  return i == t.size();
}

std::string_view Trimmed(std::string_view t) {
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  return t;
}

// A double in the general number format with "." (15 significant digits).
void AppendDouble(std::string& out, double d, TDataType dataType, const Variant& value, const RegionalSettings& rs) {
  if (!std::isfinite(d)) CannotWrite(dataType, value);
  out += WithDot(FloatToStr(d, rs), rs);
}

// The unquoted number text of a value for the numeric data types.
void AppendNumber(std::string& out, TDataType dataType, const Variant& value, const RegionalSettings& rs) {
  switch (value.Type()) {
    case VarType::Int8:
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Int64:
    case VarType::Word: {
      char digits[24];
      const auto r = std::to_chars(digits, digits + sizeof digits, value.AsInt64());
      out.append(digits, r.ptr);
      return;
    }
    case VarType::Boolean: out += *value.Get<bool>() ? "1" : "0"; return;
    case VarType::Single: {
      const float f = *value.Get<float>();
      if (!std::isfinite(f)) CannotWrite(dataType, value);
      out += WithDot(FloatToStr(f, rs, 7), rs);
      return;
    }
    case VarType::Double: AppendDouble(out, *value.Get<double>(), dataType, value, rs); return;
    case VarType::Currency: out += WithDot(CurrToStr(value.Get<Currency>()->scaled, rs), rs); return;
    case VarType::String:
    case VarType::WideString: {
      // Text stands unquoted in the statement only when it is a number.
      const std::string text = value.AsString();
      const std::string_view t = Trimmed(text);
      if (!IsNumberText(t, rs.decimalSeparator)) CannotWrite(dataType, value);
      std::string s(t);
      for (char& c : s)
        if (c == rs.decimalSeparator) c = '.';
      if (s.front() == '+') s.erase(0, 1);
      out += s;
      return;
    }
    default: CannotWrite(dataType, value);
  }
}

void AppendBlob(std::string& out, const TBlob& blob, const TMyLiteralOptions& options) {
  if (blob.IsEmpty()) {
    out += "''";
    return;
  }
  if (blob.IsUnicode())
    AppendQuotedWideString(out, blob.AsWideString(), options);
  else
    AppendQuotedString(out, blob.AsString(), options);
}

// Quoted text of a value for the string and byte types; `convert` says
// whether a byte string becomes UTF-8 in a Unicode session.
void AppendQuotedValue(std::string& out, TDataType dataType, const Variant& value, const TMyLiteralOptions& options,
                       bool convert) {
  switch (value.Type()) {
    case VarType::String: AppendQuotedString(out, *value.Get<std::string>(), options, convert); return;
    case VarType::WideString: AppendQuotedWideString(out, *value.Get<std::u16string>(), options); return;
    case VarType::Bytes: {
      const Variant::Bytes& b = *value.Get<Variant::Bytes>();
      AppendQuotedString(out, std::string_view(reinterpret_cast<const char*>(b.data()), b.size()), options, false);
      return;
    }
    case VarType::Int8:
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Int64:
    case VarType::Word:
    case VarType::Single:
    case VarType::Double:
    case VarType::Currency:
    case VarType::Boolean:
    case VarType::DateTime: AppendQuotedString(out, value.AsString(), options, convert); return;
    default: CannotWrite(dataType, value);
  }
}

TDateTime DateTimeOf(TDataType dataType, const Variant& value) {
  switch (value.Type()) {
    case VarType::DateTime:
    case VarType::Double:
    case VarType::Single:
    case VarType::Currency:
    case VarType::Int8:
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Int64:
    case VarType::Word: {
      const TDateTime d = value.AsDateTime();
      if (!std::isfinite(d)) CannotWrite(dataType, value);
      return d;
    }
    default: CannotWrite(dataType, value);
  }
}

// 0001-01-01 .. 9999-12-31 23:59:59.999 as date-time values.
constexpr double kMinDateTime = -693593.0;
constexpr double kMaxDateTime = 2958466.0;

void AppendDigits(std::string& out, int value, int width) {
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  for (int n = static_cast<int>(r.ptr - buf); n < width; ++n) out += '0';
  out.append(buf, r.ptr);
}

}  // namespace

void EscapeBytes(std::string& out, std::string_view bytes, const TMyLiteralOptions& options) {
  if (!options.backslashEscapes) {
    DoubleQuotes(out, bytes);
    return;
  }
  EscapeWithBackslashes(out, bytes, options.useUnicode ? TLeadBytes::None : LeadBytesOf(options.charset));
}

void AppendQuotedString(std::string& out, std::string_view bytes, const TMyLiteralOptions& options, bool convert) {
  if (options.useUnicode && convert) {
    std::string escaped;
    escaped.reserve(bytes.size() + 8);
    EscapeBytes(escaped, bytes, options);
    out += '\'';
    out += Win1252ToUtf8(escaped);
    out += '\'';
    return;
  }
  out.reserve(out.size() + bytes.size() + 2);
  out += '\'';
  EscapeBytes(out, bytes, options);
  out += '\'';
}

void AppendQuotedWideString(std::string& out, std::u16string_view text, const TMyLiteralOptions& options) {
  if (options.useUnicode) {
    // UTF-8 never puts an ASCII byte inside a multi-byte sequence, so
    // escaping the encoded bytes is escaping the characters.
    out += '\'';
    EscapeBytes(out, Utf16ToUtf8(text), options);
    out += '\'';
    return;
  }
  AppendQuotedString(out, Utf16ToWin1252(text), options, false);
}

void AppendDateLiteral(std::string& out, TDateTime value) {
  int y, m, d;
  DecodeDate(value, y, m, d);
  out += '\'';
  AppendDigits(out, y, 4);
  out += '-';
  AppendDigits(out, m, 2);
  out += '-';
  AppendDigits(out, d, 2);
  out += '\'';
}

void AppendDateTimeLiteral(std::string& out, TDateTime value, const RegionalSettings& rs) {
  const DateTimeParts p = DecodeDateTime(value);
  out += '\'';
  AppendDigits(out, p.year, 4);
  out += '-';
  AppendDigits(out, p.month, 2);
  out += '-';
  AppendDigits(out, p.day, 2);
  out += ' ';
  AppendDigits(out, p.hour, 2);
  out += rs.timeSeparator;
  AppendDigits(out, p.minute, 2);
  out += rs.timeSeparator;
  AppendDigits(out, p.second, 2);
  out += '\'';
}

void AppendTimeLiteral(std::string& out, TDateTime value) {
  // Round to whole seconds, ties to even (the default rounding mode).
  const double total = std::nearbyint(value * kSecsPerDay);
  // Far beyond what a TIME column holds; keeps the integer arithmetic defined.
  constexpr double kLimit = 1e15;
  if (!std::isfinite(total) || std::fabs(total) > kLimit)
    throw ELiteralError(Format("The time value %s cannot be written as an SQL literal", {FloatToStr(value)}));
  int64_t seconds = static_cast<int64_t>(total);
  out += '\'';
  if (seconds < 0) {
    out += '-';
    seconds = -seconds;
  }
  out += std::to_string(seconds / 3600);
  out += ':';
  AppendDigits(out, static_cast<int>(seconds % 3600 / 60), 2);
  out += ':';
  AppendDigits(out, static_cast<int>(seconds % 60), 2);
  out += '\'';
}

void AppendValueLiteral(std::string& out, TDataType dataType, const Variant& value, const TMyLiteralOptions& options) {
  const RegionalSettings& rs = SettingsOf(options);
  switch (dataType) {
    case dtUnknown:
    case dtBlob:
    case dtBytes:
    case dtVarBytes:
    case dtExtVarBytes: AppendQuotedValue(out, dataType, value, options, false); return;

    case dtString:
    case dtMemo:
    case dtExtString:
    case dtWideString:
    case dtExtWideString:
    case dtWideMemo: AppendQuotedValue(out, dataType, value, options, true); return;

    case dtFloat:
    case dtCurrency:
    case dtFmtBCD: AppendNumber(out, dataType, value, rs); return;

    case dtBCD: {
      if (value.IsString()) {  // read with the locale, then as a currency amount
        double d;
        if (!TryStrToFloat(value.AsString(), d, rs) || !std::isfinite(d) || std::fabs(d) >= 9.2e14)
          CannotWrite(dataType, value);
        AppendNumber(out, dataType, Variant(Currency::FromDouble(d)), rs);
        return;
      }
      if (value.Type() == VarType::Double || value.Type() == VarType::Single) {
        const double d = value.AsDouble();
        if (!std::isfinite(d) || std::fabs(d) >= 9.2e14) CannotWrite(dataType, value);
        AppendNumber(out, dataType, Variant(Currency::FromDouble(d)), rs);
        return;
      }
      AppendNumber(out, dataType, value, rs);
      return;
    }

    case dtDate:
    case dtDateTime: {
      const TDateTime d = DateTimeOf(dataType, value);
      if (d < kMinDateTime || d >= kMaxDateTime) CannotWrite(dataType, value);
      if (dataType == dtDate)
        AppendDateLiteral(out, d);
      else
        AppendDateTimeLiteral(out, d, rs);
      return;
    }
    case dtTime: AppendTimeLiteral(out, DateTimeOf(dataType, value)); return;

    case dtBoolean:
      switch (value.Type()) {
        case VarType::Bytes:
        case VarType::DateTime: CannotWrite(dataType, value);
        default: break;
      }
      try {
        out += value.AsBoolean() ? "1" : "0";
      } catch (const EVariantError&) {
        CannotWrite(dataType, value);
      }
      return;

    case dtInt8:
    case dtInt16:
    case dtInt32:
    case dtUInt16:
    case dtUInt32:
    case dtInt64: AppendNumber(out, dataType, value, rs); return;

    default:
      // Types without a literal form of their own: numbers stand as
      // numbers, anything else is quoted so that it stays one value.
      if (value.IsNumeric()) {
        AppendNumber(out, dataType, value, rs);
        return;
      }
      AppendQuotedValue(out, dataType, value, options, true);
      return;
  }
}

void AppendParamLiteral(std::string& out, const TParamDesc& param, const TMyLiteralOptions& options) {
  std::shared_ptr<TSharedObject> object = param.Object();
  if (const auto* blob = dynamic_cast<const TBlob*>(object.get())) {
    if (param.IsNull()) {
      out += "NULL";
      return;
    }
    AppendBlob(out, *blob, options);
    return;
  }
  const Variant& value = param.Value();
  if (param.IsNull() || value.IsNull()) {
    out += "NULL";
    return;
  }
  const TDataType dataType = param.DataType();
  if ((dataType == dtDate || dataType == dtTime || dataType == dtDateTime) && !value.IsString() &&
      value.Type() != VarType::Bytes && value.Type() != VarType::Boolean) {
    const double d = value.AsDouble();
    if (IsMySqlZeroDate(d)) {
      out += "'0000-00-00 00:00:00'";
      return;
    }
  }
  AppendValueLiteral(out, dataType, value, options);
}

}  // namespace da
