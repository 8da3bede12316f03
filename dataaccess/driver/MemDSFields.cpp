#include "driver/MemDSFields.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "common/AnsiCase.h"
#include "common/CodePage.h"
#include "common/DAErrors.h"
#include "common/Format.h"
#include "common/RegionalSettings.h"
#include "common/TextFormat.h"
#include "driver/BcdText.h"
#include "driver/MemDS.h"

namespace da {

// --- Type maps ---------------------------------------------------------------

TFieldType TDataTypesMap::GetFieldType(TDataType dataType) {
  switch (dataType) {
    case dtUnknown: return ftUnknown;
    case dtString: case dtExtString: return ftString;
    case dtInt8: case dtInt16: return ftSmallint;
    case dtInt32: return ftInteger;
    case dtFloat: return ftFloat;
    case dtDate: return ftDate;
    case dtTime: return ftTime;
    case dtDateTime: return ftDateTime;
    case dtUInt16: return ftWord;
    case dtBoolean: return ftBoolean;
    case dtInt64: case dtUInt32: return ftLargeint;
    case dtCurrency: return ftCurrency;
    case dtBlob: return ftBlob;
    case dtMemo: return ftMemo;
    case dtObject: return ftADT;
    case dtReference: return ftReference;
    case dtArray: return ftArray;
    case dtTable: return ftDataSet;
    case dtVariant: return ftVariant;
    case dtBytes: return ftBytes;
    case dtVarBytes: case dtExtVarBytes: return ftVarBytes;
    case dtWideString: case dtExtWideString: return ftWideString;
    case dtBCD: return ftBCD;
    case dtFmtBCD: return ftFMTBcd;
    case dtGuid: return ftGuid;
    case dtWideMemo: return ftWideMemo;
    case dtCursor: return ftCursor;
    default: throw EAssertionFailed("Unknown data type");
  }
}

TDataType TDataTypesMap::GetDataType(TFieldType fieldType) {
  switch (fieldType) {
    case ftString: case ftFixedChar: return dtString;
    case ftSmallint: return dtInt16;
    case ftInteger: case ftAutoInc: return dtInt32;
    case ftWord: return dtUInt16;
    case ftBoolean: return dtBoolean;
    case ftFloat: return dtFloat;
    case ftCurrency: return dtCurrency;
    case ftBCD: return dtBCD;
    case ftDate: return dtDate;
    case ftTime: return dtTime;
    case ftDateTime: return dtDateTime;
    case ftBytes: return dtBytes;
    case ftVarBytes: return dtVarBytes;
    case ftBlob: return dtBlob;
    case ftMemo: return dtMemo;
    case ftCursor: return dtCursor;
    case ftWideString: case ftFixedWideChar: return dtWideString;
    case ftLargeint: return dtInt64;
    case ftADT: return dtObject;
    case ftArray: return dtArray;
    case ftReference: return dtReference;
    case ftDataSet: return dtTable;
    case ftVariant: return dtVariant;
    case ftGuid: return dtGuid;
    case ftFMTBcd: return dtFmtBCD;
    case ftWideMemo: return dtWideMemo;
    default: return dtUnknown;
  }
}

const char* FieldTypeName(TFieldType type) {
  static const char* const kNames[] = {
      "Unknown",     "String",     "SmallInt",  "Integer",  "Word",         "Boolean",     "Float",
      "Currency",    "BCD",        "Date",      "Time",     "DateTime",     "Bytes",       "VarBytes",
      "AutoInc",     "Blob",       "Memo",      "Graphic",  "FmtMemo",      "ParadoxOle",  "dBaseOle",
      "TypedBinary", "Cursor",     "FixedChar", "WideString", "LargeInt",   "ADT",         "Array",
      "Reference",   "DataSet",    "HugeBlob",  "HugeClob", "Variant",      "Interface",   "Dispatch",
      "Guid",        "SQLTimeStamp", "FMTBcdField", "FixedWideChar", "WideMemo", "SQLTimeStamp", "String"};
  static_assert(sizeof kNames / sizeof kNames[0] == ftOraInterval + 1);
  return type <= ftOraInterval ? kNames[type] : "Unknown";
}

// --- Field definitions -------------------------------------------------------

TFieldDef& TFieldDefs::Add(std::unique_ptr<TFieldDef> def) {
  items_.push_back(std::move(def));
  return *items_.back();
}

TFieldDef* TFieldDefs::Find(std::string_view name) const {
  for (const auto& d : items_)
    if (AnsiSameText(d->Name(), name)) return d.get();
  return nullptr;
}

// --- Text to date-time -------------------------------------------------------

namespace {

struct Scanner {
  std::string_view s;
  size_t i = 0;
  void SkipBlanks() {
    while (i < s.size() && s[i] == ' ') ++i;
  }
  bool Number(int& out, int& digits) {
    digits = 0;
    long v = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && digits < 9) {
      v = v * 10 + (s[i] - '0');
      ++i;
      ++digits;
    }
    out = static_cast<int>(v);
    return digits > 0;
  }
  bool Char(char c) {
    if (i < s.size() && s[i] == c) {
      ++i;
      return true;
    }
    return false;
  }
  bool AtEnd() const { return i == s.size(); }
};

// The order of day, month and year in the short date format ("dmy", "mdy", "ymd").
std::string DateOrder(const std::string& format) {
  std::string order;
  for (char c : format) {
    char l = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if ((l == 'd' || l == 'm' || l == 'y') && order.find(l) == std::string::npos) order += l;
  }
  return order.size() == 3 ? order : "dmy";
}

bool ScanDate(Scanner& sc, const RegionalSettings& rs, TDateTime& out) {
  int n[3] = {0, 0, 0};
  int digits[3] = {0, 0, 0};
  int count = 0;
  for (; count < 3; ++count) {
    if (count > 0 && !sc.Char(rs.dateSeparator)) break;
    if (!sc.Number(n[count], digits[count])) return false;
  }
  if (count < 2) return false;
  std::string order = DateOrder(rs.shortDateFormat);
  int day = 0, month = 0, year = 0, yearDigits = 4;
  if (count == 2) {
    // Day and month in the format's order, the current year.
    order.erase(order.find('y'), 1);
    int y, m, d;
    DecodeDate(Today(), y, m, d);
    year = y;
  }
  for (int k = 0; k < count; ++k) {
    switch (order[static_cast<size_t>(k)]) {
      case 'd': day = n[k]; break;
      case 'm': month = n[k]; break;
      default: year = n[k]; yearDigits = digits[k]; break;
    }
  }
  if (yearDigits <= 2) year += year < 50 ? 2000 : 1900;
  return TryEncodeDate(year, month, day, out);
}

bool ScanTime(Scanner& sc, const RegionalSettings& rs, TDateTime& out) {
  int h = 0, m = 0, s = 0, ms = 0, d = 0;
  if (!sc.Number(h, d)) return false;
  if (!sc.Char(rs.timeSeparator) || !sc.Number(m, d)) return false;
  if (sc.Char(rs.timeSeparator)) {
    if (!sc.Number(s, d)) return false;
    if (sc.Char(rs.decimalSeparator) || sc.Char('.')) {
      if (!sc.Number(ms, d)) return false;
      while (d > 3) ms /= 10, --d;
      while (d < 3) ms *= 10, ++d;
    }
  }
  sc.SkipBlanks();
  if (sc.s.size() - sc.i >= 2) {
    std::string tail = AnsiUpperCase(sc.s.substr(sc.i, 2));
    if (tail == "AM" || tail == "PM") {
      if (h < 1 || h > 12) return false;
      if (tail == "AM" && h == 12) h = 0;
      if (tail == "PM" && h != 12) h += 12;
      sc.i += 2;
    }
  }
  return TryEncodeTime(h, m, s, ms, out);
}

}  // namespace

TDateTime StrToDateTime(std::string_view text) {
  const RegionalSettings& rs = Regional();
  Scanner sc{text};
  sc.SkipBlanks();
  TDateTime date = 0, time = 0;
  const size_t start = sc.i;
  bool ok = ScanDate(sc, rs, date);
  if (ok) {
    sc.SkipBlanks();
    if (!sc.AtEnd()) ok = ScanTime(sc, rs, time);
  } else {
    sc.i = start;
    ok = ScanTime(sc, rs, time);
  }
  sc.SkipBlanks();
  if (!ok || !sc.AtEnd()) throw EConvertError(Format("'%s' is not a valid date and time", {text}));
  return date < 0 ? date - time : date + time;
}

// --- TField ------------------------------------------------------------------

TField::TField(TMemDataSet* dataSet, std::string name, TFieldType dataType, int size)
    : dataSet_(dataSet), name_(std::move(name)), dataType_(dataType), size_(size) {}

void TField::AccessError(const char* typeName) const {
  DatabaseError(Format("Cannot access field '%s' as type %s", {name_, typeName}));
}

bool TField::IsBlobType() const {
  switch (dataType_) {
    case ftBlob: case ftMemo: case ftGraphic: case ftFmtMemo: case ftParadoxOle: case ftDBaseOle:
    case ftTypedBinary: case ftOraBlob: case ftOraClob: case ftWideMemo:
      return true;
    default:
      return false;
  }
}

// Inline into the typed accessors: they read every row with it.
[[gnu::always_inline]] inline TData::TFieldNumber TField::Number() const {
  return dataSet_ ? dataSet_->GetFieldNumber(*this) : TData::TFieldNumber{TData::TFieldNumber::kNull, 0, 0};
}

bool TField::IsNull() const {
  if (!dataSet_) return true;
  return !dataSet_->GetFieldData(*this, nullptr, 0);
}

std::string TField::ReadText(bool& isNull) const {
  isNull = true;
  return dataSet_ ? dataSet_->GetFieldText(*this, isNull) : std::string();
}

std::string TField::AsString() const {
  if (IsStringType()) {
    bool isNull;
    return ReadText(isNull);
  }
  if (IsBlobType()) return dataSet_ ? dataSet_->GetBlobText(*this) : std::string();
  const Variant v = dataSet_ ? dataSet_->GetFieldVariant(*this) : Variant::Null();
  if (v.IsNull()) return {};
  switch (dataType_) {
    case ftDate: return DateToStr(v.AsDateTime());
    case ftTime: return TimeToStr(v.AsDateTime());
    case ftDateTime: case ftTimeStamp: return DateTimeToStr(v.AsDateTime());
    case ftBoolean: return v.AsBoolean() ? "True" : "False";
    case ftFloat: case ftCurrency: return FloatToStr(v.AsDouble());
    case ftBCD: return CurrToStr(v.AsCurrency().scaled);
    case ftFMTBcd: {
      std::string text = FloatToStr(v.AsDouble());
      return text;
    }
    case ftBytes: case ftVarBytes: {
      Variant::Bytes b = v.AsBytes();
      return std::string(b.begin(), b.end());
    }
    default:
      return v.AsString();
  }
}

int64_t TField::AsLargeInt() const {
  if (IsStringType()) {
    bool isNull;
    const std::string text = ReadText(isNull);
    int64_t value = 0;
    std::string_view t = text;
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size())
      throw EConvertError(Format("'%s' is not a valid integer value", {text}));
    return value;
  }
  if (IsIntegerType()) {
    const TData::TFieldNumber n = Number();
    if (n.kind == TData::TFieldNumber::kInteger) return n.integer;
    if (n.kind == TData::TFieldNumber::kNull) return 0;
    const Variant v = dataSet_ ? dataSet_->GetFieldVariant(*this) : Variant::Null();
    return v.IsNull() ? 0 : v.AsInt64();
  }
  if (dataType_ == ftFloat || dataType_ == ftCurrency || dataType_ == ftBCD || dataType_ == ftFMTBcd) {
    const double d = AsFloat();
    if (!(std::fabs(d) < 9.2e18)) throw EConvertError(Format("'%s' is not a valid integer value", {AsString()}));
    return std::llround(d);
  }
  AccessError(dataType_ == ftLargeint ? "LargeInt" : "Integer");
}

int32_t TField::AsInteger() const {
  if (IsIntegerType()) {
    // The usual case, straight from the record.
    const TData::TFieldNumber n = Number();
    if (n.kind == TData::TFieldNumber::kInteger) return static_cast<int32_t>(n.integer);
    if (n.kind == TData::TFieldNumber::kNull) return 0;
  }
  if (IsStringType()) {
    const int64_t v = AsLargeInt();
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
      bool isNull;
      throw EConvertError(Format("'%s' is not a valid integer value", {ReadText(isNull)}));
    }
    return static_cast<int32_t>(v);
  }
  if (IsNumberType()) return static_cast<int32_t>(AsLargeInt());
  AccessError("Integer");
}

double TField::AsFloat() const {
  if (dataType_ == ftFloat) {
    // The usual case, straight from the record.
    const TData::TFieldNumber n = Number();
    if (n.kind == TData::TFieldNumber::kFloat) return n.real;
    if (n.kind == TData::TFieldNumber::kNull) return 0;
  }
  if (IsStringType()) {
    bool isNull;
    const std::string text = ReadText(isNull);
    double d = 0;
    if (!TryStrToFloat(text, d)) throw EConvertError(Format("'%s' is not a valid floating point value", {text}));
    return d;
  }
  if (IsNumberType() || IsDateTimeType()) {
    const TData::TFieldNumber n = Number();
    if (n.kind == TData::TFieldNumber::kFloat) return n.real;
    if (n.kind == TData::TFieldNumber::kInteger) return static_cast<double>(n.integer);
    if (n.kind == TData::TFieldNumber::kNull) return 0;
    const Variant v = dataSet_ ? dataSet_->GetFieldVariant(*this) : Variant::Null();
    return v.IsNull() ? 0 : v.AsDouble();
  }
  AccessError("Float");
}

bool TField::AsBoolean() const {
  if (dataType_ == ftBoolean) {
    const Variant v = dataSet_ ? dataSet_->GetFieldVariant(*this) : Variant::Null();
    return !v.IsNull() && v.AsBoolean();
  }
  if (IsStringType()) {
    bool isNull;
    const std::string text = ReadText(isNull);
    if (AnsiSameText(text, "True") || text == "1") return true;
    if (AnsiSameText(text, "False") || text == "0") return false;
    throw EConvertError(Format("'%s' is not a valid boolean value", {text}));
  }
  AccessError("Boolean");
}

TDateTime TField::AsDateTime() const {
  if (IsDateTimeType()) {
    const TData::TFieldNumber n = Number();
    if (n.kind == TData::TFieldNumber::kFloat) return n.real;
    if (n.kind == TData::TFieldNumber::kNull) return 0;
    const Variant v = dataSet_ ? dataSet_->GetFieldVariant(*this) : Variant::Null();
    return v.IsNull() ? 0 : v.AsDateTime();
  }
  if (IsStringType()) {
    bool isNull;
    return StrToDateTime(ReadText(isNull));
  }
  AccessError("DateTime");
}

Variant TField::Value() const {
  if (dataType_ == ftMemo || dataType_ == ftFmtMemo) return Variant(AsString());
  if (!dataSet_) return Variant::Null();
  if (IsStringType() && dataType_ != ftWideString && dataType_ != ftFixedWideChar) {
    bool isNull;
    std::string text = ReadText(isNull);
    return isNull ? Variant::Null() : Variant(std::move(text));
  }
  Variant v = dataSet_->GetFieldVariant(*this);
  if (v.IsNull()) return Variant::Null();
  switch (dataType_) {
    case ftDate: case ftTime: case ftDateTime: return Variant::FromDateTime(v.AsDateTime());
    case ftSmallint: return Variant(static_cast<int16_t>(v.AsInt32()));
    case ftInteger: case ftAutoInc: return Variant(v.AsInt32());
    case ftWord: return Variant(static_cast<uint16_t>(v.AsInt32()));
    case ftLargeint: return Variant(v.AsInt64());
    default: return v;
  }
}

}  // namespace da
