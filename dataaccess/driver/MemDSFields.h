#pragma once
// The fields of a dataset: field definitions built from the record store's
// descriptions, the field objects the application reads values through, and
// the map between internal data types and field types.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/DataTypes.h"
#include "common/DateTime.h"
#include "common/Variant.h"
#include "driver/MemData.h"

namespace da {

class TMemDataSet;

// --- The two type maps ---------------------------------------------------
class TDataTypesMap {
 public:
  // The field type of an internal data type; raises EAssertionFailed
  // "Unknown data type" for a number that has none.
  static TFieldType GetFieldType(TDataType dataType);
  // The internal data type of a field type (dtUnknown for those without one).
  static TDataType GetDataType(TFieldType fieldType);
};

// The type's name as error messages show it ("String", "LargeInt" …).
const char* FieldTypeName(TFieldType type);

// --- Field definitions ---------------------------------------------------
class TFieldDef {
 public:
  TFieldDef(std::string name, TFieldType dataType, int size, int fieldNo)
      : name_(std::move(name)), dataType_(dataType), size_(size), fieldNo_(fieldNo) {}

  const std::string& Name() const { return name_; }
  TFieldType DataType() const { return dataType_; }
  int Size() const { return size_; }
  void SetSize(int v) { size_ = v; }
  int Precision() const { return precision_; }
  void SetPrecision(int v) { precision_ = v; }
  // The store's field number.
  int FieldNo() const { return fieldNo_; }
  bool Required() const { return required_; }
  void SetRequired(bool v) { required_ = v; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v) { readOnly_ = v; }
  bool Hidden() const { return hidden_; }
  void SetHidden(bool v) { hidden_ = v; }
  bool Fixed() const { return fixed_; }
  void SetFixed(bool v) { fixed_ = v; }

 private:
  std::string name_;
  TFieldType dataType_;
  int size_ = 0;
  int precision_ = 0;
  int fieldNo_ = 0;
  bool required_ = false, readOnly_ = false, hidden_ = false, fixed_ = false;
};

class TFieldDefs {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TFieldDef& operator[](int index) const { return *items_.at(static_cast<size_t>(index)); }
  TFieldDef& Add(std::unique_ptr<TFieldDef> def);
  // By name without regard to letter case; null when none.
  TFieldDef* Find(std::string_view name) const;
  void Clear() { items_.clear(); }
  // The definitions match the store's current descriptions.
  bool Updated() const { return updated_; }
  void SetUpdated(bool v) { updated_ = v; }

 private:
  std::vector<std::unique_ptr<TFieldDef>> items_;
  bool updated_ = false;
};

// --- Fields ----------------------------------------------------------------
enum class TFieldKindDS : uint8_t { fkData, fkCalculated };

// Kinds of field type as bit sets over TFieldType, tested for every value
// a field reads.
static_assert(ftOraInterval < 64, "a field type set holds 64 types");
constexpr uint64_t FieldTypeSet(std::initializer_list<TFieldType> types) {
  uint64_t set = 0;
  for (TFieldType t : types) set |= uint64_t{1} << t;
  return set;
}
constexpr bool FieldTypeIn(uint64_t set, TFieldType type) { return (set >> type) & 1; }
inline constexpr uint64_t kStringFieldTypes = FieldTypeSet({ftString, ftFixedChar, ftGuid, ftWideString, ftFixedWideChar});
inline constexpr uint64_t kIntegerFieldTypes = FieldTypeSet({ftSmallint, ftInteger, ftWord, ftAutoInc, ftLargeint});
inline constexpr uint64_t kDateTimeFieldTypes = FieldTypeSet({ftDate, ftTime, ftDateTime});
inline constexpr uint64_t kNumberFieldTypes = kIntegerFieldTypes | FieldTypeSet({ftFloat, ftCurrency, ftBCD, ftFMTBcd});

// One field of a dataset. A declared field is created by the application
// (AddField of the dataset) and bound by name at each open; the others are
// created from the field definitions at open and destroyed at close.
//
// The accessors read the current row; on a closed or empty dataset every
// field reads as null. Failures raise EDatabaseError "Cannot access field
// '%s' as type %s" for a conversion the field type does not offer, and
// EConvertError for text that does not read as the type asked for.
class TField {
 public:
  TField(TMemDataSet* dataSet, std::string name, TFieldType dataType, int size = 0);
  ~TField() = default;
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  const std::string& FieldName() const { return name_; }
  TFieldType DataType() const { return dataType_; }
  int Size() const { return size_; }
  void SetSize(int v) { size_ = v; }
  // The store's field number while bound; 0 otherwise.
  int FieldNo() const { return fieldNo_; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v) { readOnly_ = v; }
  bool Required() const { return required_; }
  void SetRequired(bool v) { required_ = v; }
  TFieldKindDS FieldKind() const { return fieldKind_; }
  void SetFieldKind(TFieldKindDS v) { fieldKind_ = v; }
  TMemDataSet* DataSet() const { return dataSet_; }

  bool IsNull() const;
  std::string AsString() const;
  int32_t AsInteger() const;
  int64_t AsLargeInt() const;
  double AsFloat() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;
  // Null for a null field (a memo field gives its text, never Null).
  Variant Value() const;
  Variant AsVariant() const { return Value(); }

 private:
  friend class TMemDataSet;
  [[noreturn]] void AccessError(const char* typeName) const;
  bool IsStringType() const { return FieldTypeIn(kStringFieldTypes, dataType_); }
  bool IsIntegerType() const { return FieldTypeIn(kIntegerFieldTypes, dataType_); }
  bool IsDateTimeType() const { return FieldTypeIn(kDateTimeFieldTypes, dataType_); }
  // The integer types and those of a fractional number.
  bool IsNumberType() const { return FieldTypeIn(kNumberFieldTypes, dataType_); }
  bool IsBlobType() const;
  // The text of a string field; empty when null.
  std::string ReadText(bool& isNull) const;
  // The value of a number or date field read without a Variant.
  TData::TFieldNumber Number() const;

  TMemDataSet* dataSet_;  // weak: the dataset owns its fields
  std::string name_;
  TFieldType dataType_;
  int size_;
  int fieldNo_ = 0;
  bool readOnly_ = false, required_ = false;
  TFieldKindDS fieldKind_ = TFieldKindDS::fkData;
  bool declared_ = false;
};

// Text to a date-time by the regional settings: the short date format's
// order of day, month and year with its date separator, optionally
// followed by a time with the time separator. Raises EConvertError
// "'%s' is not a valid date and time" (or "… valid date" / "… valid time").
TDateTime StrToDateTime(std::string_view text);

}  // namespace da
