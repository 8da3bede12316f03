#pragma once
// The parameters of a statement: one TDAParam per ":name" marker, kept by
// the command in its TDAParams. The application finds one by name and sets
// its value before running the statement; the command hands the list to the
// driver before every execution.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/DataTypes.h"
#include "common/Variant.h"

namespace da {

class TBlob;
class TDAParams;

// The field type a value gives to a parameter of type ftUnknown.
TFieldType VarTypeToFieldType(VarType type);

class TDAParam {
 public:
  // A new parameter is bound, null and of type ftUnknown. `collection` (may be null) is the list that owns it.
  explicit TDAParam(TDAParams* collection = nullptr);
  ~TDAParam();
  TDAParam(const TDAParam&) = delete;
  TDAParam& operator=(const TDAParam&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }

  TFieldType DataType() const { return dataType_; }
  // A different type clears the value (null, unassigned) and the sub data
  // type; a blob type (ftBlob, ftMemo, ftWideMemo) gets a value object.
  void SetDataType(TFieldType type);
  int SubDataType() const { return subDataType_; }
  void SetSubDataType(int value) { subDataType_ = value; }

  TParamType ParamType() const { return paramType_; }
  void SetParamType(TParamType type) { paramType_ = type; }
  int32_t Size() const { return size_; }
  void SetSize(int32_t size) { size_ = size; }
  int Precision() const { return precision_; }
  void SetPrecision(int value) { precision_ = value; }
  int NumericScale() const { return numericScale_; }
  void SetNumericScale(int value) { numericScale_ = value; }
  bool Bound() const { return bound_; }
  void SetBound(bool value) { bound_ = value; }
  bool National() const { return national_; }
  void SetNational(bool value) { national_ = value; }

  // The value. Writing stores the variant (a parameter of type ftUnknown
  // takes its type from it; a declared type is kept), sets the null flag
  // from it and binds the parameter. A blob parameter keeps the value in
  // its value object: bytes as bytes, anything else as text.
  Variant Value() const;
  // The stored variant itself, without a copy: the value of a parameter
  // without a value object (a blob parameter's variant holds only null).
  const Variant& StoredValue() const { return value_; }
  void SetValue(const Variant& value);
  bool IsNull() const { return isNull_; }
  // Null and unassigned, type kept.
  void Clear();

  // Empty when null; dates (ftDate, ftDateTime) as the date part in the
  // short date format; Booleans "True"/"False"; else the value as text.
  std::string AsString() const;
  // ftWideString and ftFixedWideChar keep wide text; otherwise the type
  // becomes ftString (ftFixedChar stays) and the text is stored.
  void SetAsString(const std::string& value);
  // Raises EVariantError when the value is null or not a number.
  int32_t AsInteger() const;
  void SetAsInteger(int32_t value);  // type becomes ftInteger
  TDateTime AsDateTime() const;
  void SetAsDateTime(TDateTime value);  // type becomes ftDateTime
  double AsFloat() const;
  void SetAsFloat(double value);  // type becomes ftFloat
  int64_t AsLargeInt() const;
  void SetAsLargeInt(int64_t value);  // type becomes ftLargeint
  bool AsBoolean() const;
  void SetAsBoolean(bool value);  // type becomes ftBoolean

  // The blob holding a blob parameter's value; null for other types.
  const std::shared_ptr<TBlob>& ValueObject() const { return valueObject_; }

  // Copies everything from `source` (the list rebuild uses this so that
  // values, types and directions survive a text change).
  void Assign(const TDAParam& source);
  // Type (which clears the value), then the value, name, direction (only
  // when this one's is ptUnknown), size, the shared value object and
  // National.
  void CopyParamFrom(const TDAParam& source);

 private:
  void StoreValue(const Variant& value);
  void StoreValue(Variant&& value);

  TDAParams* collection_;  // weak: the owning list, or none
  std::string name_;
  TFieldType dataType_ = ftUnknown;
  int subDataType_ = 0;
  TParamType paramType_ = ptUnknown;
  int32_t size_ = 0;
  int precision_ = 0;
  int numericScale_ = 0;
  Variant value_;
  bool isNull_ = true;
  bool bound_ = true;
  bool national_ = false;
  std::shared_ptr<TBlob> valueObject_;
};

class TDAParams {
 public:
  TDAParams() = default;
  TDAParams(const TDAParams&) = delete;
  TDAParams& operator=(const TDAParams&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES: 0 <= index < Count(). The reference lives until the parameter
  // leaves the list (Clear, a rebuild, Delete or the list's end).
  TDAParam& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }
  TDAParam& operator[](int index) const { return Items(index); }

  // Appends a new parameter and answers it.
  TDAParam& Add(const std::string& name = {}, TFieldType type = ftUnknown, TParamType paramType = ptUnknown);
  void Delete(int index);
  void Clear();

  // The first parameter of that name, letter case ignored. ParamNamed
  // raises EDatabaseError "Parameter '%s' not found"; FindParam answers
  // null.
  TDAParam& ParamNamed(std::string_view name) const;
  TDAParam* FindParam(std::string_view name) const;

  // Copies, for every parameter of `source`, its value into the first
  // parameter of this list with the same name. The list itself is kept.
  void AssignValues(const TDAParams& source);
  // Replaces this list by copies of `source`'s parameters.
  void Assign(const TDAParams& source);

  // Set when the list was rewritten by hand; the hand-off to the driver
  // then matches parameters by name instead of by position.
  int ChangeMarker() const { return changeMarker_; }
  void SetChangeMarker(int value) { changeMarker_ = value; }

 private:
  std::vector<std::unique_ptr<TDAParam>> items_;
  int changeMarker_ = 0;
};

}  // namespace da
