#include "common/Variant.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "common/CodePage.h"
#include "common/Format.h"
#include "common/TextFormat.h"

namespace da {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

const char* VarTypeName(VarType type) {
  switch (type) {
    case VarType::Unassigned: return "Empty";
    case VarType::Null: return "Null";
    case VarType::Int8: return "ShortInt";
    case VarType::Int16: return "SmallInt";
    case VarType::Int32: return "Integer";
    case VarType::Int64: return "Int64";
    case VarType::Word: return "Word";
    case VarType::Single: return "Single";
    case VarType::Double: return "Double";
    case VarType::Currency: return "Currency";
    case VarType::DateTime: return "Date";
    case VarType::String: return "String";
    case VarType::WideString: return "OleStr";
    case VarType::Boolean: return "Boolean";
    case VarType::Bytes: return "Array Byte";
  }
  return "Unknown";
}

Currency Currency::FromDouble(double value) { return Currency{std::llround(value * 10000.0)}; }

Variant Variant::Null() {
  Variant v;
  v.value_ = NullTag{};
  return v;
}

Variant Variant::FromDateTime(TDateTime value) {
  Variant v;
  v.value_ = DateTag{value};
  return v;
}

const TDateTime* Variant::GetDateTime() const {
  const DateTag* d = std::get_if<DateTag>(&value_);
  return d ? &d->value : nullptr;
}

bool Variant::IsNumeric() const {
  switch (Type()) {
    case VarType::Int8: case VarType::Int16: case VarType::Int32: case VarType::Int64: case VarType::Word:
    case VarType::Single: case VarType::Double: case VarType::Currency:
      return true;
    default:
      return false;
  }
}

void Variant::ConversionError(VarType to) const {
  throw EVariantError(Format("Could not convert variant of type (%s) into type (%s)",
                             {VarTypeName(Type()), VarTypeName(to)}));
}

bool Variant::AsBoolean() const {
  if (const bool* b = Get<bool>()) return *b;
  if (IsString()) {
    std::string s = AsString();
    if (EqualsNoCase(s, "true")) return true;
    if (EqualsNoCase(s, "false")) return false;
    double d;
    if (TryStrToFloat(s, d)) return d != 0;
    ConversionError(VarType::Boolean);
  }
  if (IsNumeric() || Type() == VarType::DateTime) return AsDouble() != 0;
  ConversionError(VarType::Boolean);
}

int64_t Variant::AsInt64() const { return ToInteger(VarType::Int64); }

int64_t Variant::ToInteger(VarType to) const {
  switch (Type()) {
    case VarType::Int8: return *Get<int8_t>();
    case VarType::Int16: return *Get<int16_t>();
    case VarType::Int32: return *Get<int32_t>();
    case VarType::Int64: return *Get<int64_t>();
    case VarType::Word: return *Get<uint16_t>();
    case VarType::Boolean: return *Get<bool>() ? -1 : 0;
    case VarType::Currency: return std::llround(Get<Currency>()->ToDouble());
    case VarType::Single: case VarType::Double: case VarType::DateTime: {
      double d = AsDouble();
      if (!std::isfinite(d) || std::fabs(d) >= 9.2e18) ConversionError(to);
      return std::llround(d);
    }
    case VarType::String: case VarType::WideString: {
      std::string s = AsString();
      size_t b = 0, e = s.size();
      while (b < e && s[b] == ' ') ++b;
      while (e > b && s[e - 1] == ' ') --e;
      std::string t = s.substr(b, e - b);
      if (!t.empty()) {
        char* end = nullptr;
        errno = 0;
        long long v = std::strtoll(t.c_str(), &end, 10);
        if (errno == 0 && end && *end == 0) return v;
      }
      double d;
      if (TryStrToFloat(t, d) && std::fabs(d) < 9.2e18) return std::llround(d);
      ConversionError(to);
    }
    default:
      ConversionError(to);
  }
}

int32_t Variant::AsInt32() const {
  int64_t v = ToInteger(VarType::Int32);
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    ConversionError(VarType::Int32);
  return static_cast<int32_t>(v);
}

double Variant::AsDouble() const {
  switch (Type()) {
    case VarType::Single: return *Get<float>();
    case VarType::Double: return *Get<double>();
    case VarType::Currency: return Get<Currency>()->ToDouble();
    case VarType::DateTime: return *GetDateTime();
    case VarType::Int8: case VarType::Int16: case VarType::Int32: case VarType::Int64: case VarType::Word:
    case VarType::Boolean:
      return static_cast<double>(AsInt64());
    case VarType::String: case VarType::WideString: {
      double d;
      if (TryStrToFloat(AsString(), d)) return d;
      ConversionError(VarType::Double);
    }
    default:
      ConversionError(VarType::Double);
  }
}

Currency Variant::AsCurrency() const {
  if (const Currency* c = Get<Currency>()) return *c;
  // A currency holds four decimals in 64 bits: values past ±922337203685477
  // cannot be one.
  constexpr int64_t kLimit = INT64_MAX / 10000;
  if (Type() == VarType::Int64) {
    const int64_t v = *Get<int64_t>();
    if (v > kLimit || v < -kLimit) ConversionError(VarType::Currency);
    return Currency{v * 10000};
  }
  const double d = AsDouble();
  if (!std::isfinite(d) || std::fabs(d) > static_cast<double>(kLimit)) ConversionError(VarType::Currency);
  return Currency::FromDouble(d);
}

TDateTime Variant::AsDateTime() const {
  if (const TDateTime* d = GetDateTime()) return *d;
  if (IsString()) ConversionError(VarType::DateTime);
  return AsDouble();
}

std::string Variant::AsString() const {
  switch (Type()) {
    case VarType::Unassigned: case VarType::Null: return {};
    case VarType::String: return *Get<std::string>();
    case VarType::WideString: return Utf16ToWin1252(*Get<std::u16string>());
    case VarType::Boolean: return *Get<bool>() ? "True" : "False";
    case VarType::Single: return FloatToStr(*Get<float>(), Regional(), 7);
    case VarType::Double: return FloatToStr(*Get<double>());
    case VarType::Currency: return CurrToStr(Get<Currency>()->scaled);
    case VarType::DateTime: return DateTimeToStr(*GetDateTime());
    case VarType::Bytes: {
      const Bytes& b = *Get<Bytes>();
      return std::string(b.begin(), b.end());
    }
    default:
      return std::to_string(AsInt64());
  }
}

std::u16string Variant::AsWideString() const {
  if (const std::u16string* w = Get<std::u16string>()) return *w;
  return Win1252ToUtf16(AsString());
}

Variant::Bytes Variant::AsBytes() const {
  if (const Bytes* b = Get<Bytes>()) return *b;
  if (IsNull()) ConversionError(VarType::Bytes);
  std::string s = AsString();
  return Bytes(s.begin(), s.end());
}

}  // namespace da
