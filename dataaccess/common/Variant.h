#pragma once
// The tagged value used for parameter values, field values and driver
// settings. Unassigned and Null are distinct kinds, but both count as null
// when handed to the driver (IsNull).

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/DateTime.h"
#include "common/Exception.h"

namespace da {

enum class VarType : uint8_t {
  Unassigned,
  Null,
  Int8,
  Int16,
  Int32,
  Int64,
  Word,
  Single,
  Double,
  Currency,
  DateTime,
  String,      // 8-bit, Windows-1252
  WideString,  // UTF-16
  Boolean,
  Bytes,
};

// Name of a kind, as conversion errors show it ("Integer", "String" …).
const char* VarTypeName(VarType type);

// A fixed-point amount with four decimals, kept as value × 10000.
struct Currency {
  int64_t scaled = 0;
  static Currency FromDouble(double value);
  double ToDouble() const { return static_cast<double>(scaled) / 10000.0; }
  bool operator==(const Currency&) const = default;
};

// A variant that cannot be converted to the kind asked for.
class EVariantError : public Exception {
 public:
  using Exception::Exception;
};

class Variant {
 public:
  using Bytes = std::vector<uint8_t>;

  Variant() = default;  // unassigned
  Variant(bool v) : value_(v) {}
  Variant(int8_t v) : value_(v) {}
  Variant(int16_t v) : value_(v) {}
  Variant(int32_t v) : value_(v) {}
  Variant(int64_t v) : value_(v) {}
  Variant(long long v) : value_(static_cast<int64_t>(v)) {}
  Variant(uint16_t v) : value_(v) {}
  Variant(float v) : value_(v) {}
  Variant(double v) : value_(v) {}
  Variant(Currency v) : value_(v) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(std::string_view v) : value_(std::string(v)) {}
  Variant(const char* v) : value_(std::string(v ? v : "")) {}
  Variant(std::u16string v) : value_(std::move(v)) {}
  Variant(const char16_t* v) : value_(std::u16string(v ? v : u"")) {}
  // Any other pointer would silently become a Boolean.
  Variant(const void*) = delete;
  Variant(Bytes v) : value_(std::move(v)) {}

  static Variant Null();
  static Variant FromDateTime(TDateTime value);

  VarType Type() const { return static_cast<VarType>(value_.index()); }
  bool IsUnassigned() const { return Type() == VarType::Unassigned; }
  // True for both Null and Unassigned.
  bool IsNull() const { return Type() == VarType::Unassigned || Type() == VarType::Null; }
  bool IsNumeric() const;  // integers, floats, currency
  bool IsString() const { return Type() == VarType::String || Type() == VarType::WideString; }

  // Conversions to a kind. Null converts to nothing and raises EVariantError,
  // as does a text that does not read as the kind asked for; AsString and
  // AsWideString give the empty text for null.
  bool AsBoolean() const;
  int32_t AsInt32() const;
  int64_t AsInt64() const;
  double AsDouble() const;
  Currency AsCurrency() const;
  TDateTime AsDateTime() const;
  std::string AsString() const;  // numbers and dates under the regional settings
  std::u16string AsWideString() const;
  Bytes AsBytes() const;

  // Typed access to the stored value, null when it is of another kind.
  template <typename T>
  const T* Get() const {
    return std::get_if<T>(&value_);
  }
  const TDateTime* GetDateTime() const;

  // Same kind and same value.
  bool operator==(const Variant& other) const { return value_ == other.value_; }

 private:
  struct NullTag {
    bool operator==(const NullTag&) const = default;
  };
  struct DateTag {
    TDateTime value;
    bool operator==(const DateTag&) const = default;
  };
  [[noreturn]] void ConversionError(VarType to) const;
  int64_t ToInteger(VarType to) const;

  // The order of the alternatives is that of VarType.
  std::variant<std::monostate, NullTag, int8_t, int16_t, int32_t, int64_t, uint16_t, float, double, Currency,
               DateTag, std::string, std::u16string, bool, Bytes>
      value_;
};

}  // namespace da
