#include "components/DAParams.h"

#include <cmath>

#include "common/AnsiCase.h"
#include "common/DAErrors.h"
#include "common/Format.h"
#include "common/TextFormat.h"
#include "driver/Blob.h"

namespace da {

TFieldType VarTypeToFieldType(VarType type) {
  switch (type) {
    case VarType::Int8:
    case VarType::Int16: return ftSmallint;
    case VarType::Int32:
    case VarType::Word: return ftInteger;
    case VarType::Single:
    case VarType::Double: return ftFloat;
    case VarType::Currency: return ftBCD;
    case VarType::DateTime: return ftDateTime;
    case VarType::String:
    case VarType::WideString: return ftString;
    case VarType::Boolean: return ftBoolean;
    case VarType::Int64: return ftLargeint;
    default: return ftUnknown;
  }
}

namespace {

bool IsBlobType(TFieldType type) { return type == ftBlob || type == ftMemo || type == ftWideMemo; }

}  // namespace

// --- TDAParam ---------------------------------------------------------------

TDAParam::TDAParam(TDAParams* collection) : collection_(collection) {}

TDAParam::~TDAParam() = default;

void TDAParam::SetDataType(TFieldType type) {
  if (type == dataType_) return;
  dataType_ = type;
  subDataType_ = 0;
  value_ = Variant();
  isNull_ = true;
  if (IsBlobType(type)) {
    valueObject_ = std::make_shared<TBlob>(type == ftWideMemo);
  } else {
    valueObject_.reset();
  }
}

Variant TDAParam::Value() const {
  if (valueObject_) {
    if (isNull_) return value_;
    return Variant(valueObject_->AsString());
  }
  return value_;
}

void TDAParam::StoreValue(const Variant& value) {
  if (valueObject_) {
    valueObject_->Clear();
    if (const Variant::Bytes* bytes = value.Get<Variant::Bytes>()) {
      if (!bytes->empty()) valueObject_->Write(0, bytes->size(), bytes->data());
    } else if (!value.IsNull()) {
      if (valueObject_->IsUnicode())
        valueObject_->SetAsWideString(value.AsWideString());
      else
        valueObject_->SetAsString(value.AsString());
    }
    // The blob keeps the content; the variant only says whether there is one.
    value_ = value.IsNull() ? value : Variant();
    isNull_ = value.IsNull();
  } else {
    value_ = value;
    isNull_ = value.IsNull();
  }
  bound_ = true;
}

void TDAParam::StoreValue(Variant&& value) {
  if (valueObject_) {
    StoreValue(static_cast<const Variant&>(value));
    return;
  }
  isNull_ = value.IsNull();
  value_ = std::move(value);
  bound_ = true;
}

void TDAParam::SetValue(const Variant& value) {
  if (dataType_ == ftUnknown && !valueObject_) dataType_ = VarTypeToFieldType(value.Type());
  StoreValue(value);
}

void TDAParam::Clear() {
  value_ = Variant();
  isNull_ = true;
  if (valueObject_) valueObject_->Clear();
}

std::string TDAParam::AsString() const {
  if (isNull_) return {};
  if (valueObject_) return valueObject_->AsString();
  switch (dataType_) {
    case ftDate:
    case ftDateTime: return DateToStr(value_.AsDateTime());
    case ftBoolean: return value_.AsBoolean() ? "True" : "False";
    default: return value_.AsString();
  }
}

void TDAParam::SetAsString(const std::string& value) {
  if (valueObject_) {
    StoreValue(Variant(value));
    return;
  }
  if (dataType_ == ftWideString || dataType_ == ftFixedWideChar) {
    StoreValue(Variant(value).AsWideString());
    return;
  }
  if (dataType_ != ftFixedChar) SetDataType(ftString);
  StoreValue(Variant(value));
}

int32_t TDAParam::AsInteger() const { return Value().AsInt32(); }

void TDAParam::SetAsInteger(int32_t value) {
  SetDataType(ftInteger);
  StoreValue(Variant(value));
}

TDateTime TDAParam::AsDateTime() const { return Value().AsDateTime(); }

void TDAParam::SetAsDateTime(TDateTime value) {
  SetDataType(ftDateTime);
  StoreValue(Variant::FromDateTime(value));
}

double TDAParam::AsFloat() const { return Value().AsDouble(); }

void TDAParam::SetAsFloat(double value) {
  SetDataType(ftFloat);
  StoreValue(Variant(value));
}

int64_t TDAParam::AsLargeInt() const { return Value().AsInt64(); }

void TDAParam::SetAsLargeInt(int64_t value) {
  SetDataType(ftLargeint);
  StoreValue(Variant(value));
}

bool TDAParam::AsBoolean() const { return Value().AsBoolean(); }

void TDAParam::SetAsBoolean(bool value) {
  SetDataType(ftBoolean);
  StoreValue(Variant(value));
}

void TDAParam::Assign(const TDAParam& source) {
  if (&source == this) return;
  name_ = source.name_;
  dataType_ = source.dataType_;
  subDataType_ = source.subDataType_;
  paramType_ = source.paramType_;
  size_ = source.size_;
  precision_ = source.precision_;
  numericScale_ = source.numericScale_;
  value_ = source.value_;
  isNull_ = source.isNull_;
  bound_ = source.bound_;
  national_ = source.national_;
  valueObject_ = source.valueObject_;
}

void TDAParam::CopyParamFrom(const TDAParam& source) {
  if (&source == this) return;
  SetDataType(source.dataType_);
  value_ = source.value_;
  isNull_ = source.isNull_;
  name_ = source.name_;
  if (paramType_ == ptUnknown) paramType_ = source.paramType_;
  size_ = source.size_;
  valueObject_ = source.valueObject_;
  national_ = source.national_;
}

// --- TDAParams --------------------------------------------------------------

TDAParam& TDAParams::Add(const std::string& name, TFieldType type, TParamType paramType) {
  items_.push_back(std::make_unique<TDAParam>(this));
  TDAParam& p = *items_.back();
  p.SetName(name);
  p.SetDataType(type);
  p.SetParamType(paramType);
  return p;
}

void TDAParams::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  items_.erase(items_.begin() + index);
}

void TDAParams::Clear() { items_.clear(); }

TDAParam* TDAParams::FindParam(std::string_view name) const {
  for (const auto& p : items_)
    if (AnsiSameText(p->Name(), name)) return p.get();
  return nullptr;
}

TDAParam& TDAParams::ParamNamed(std::string_view name) const {
  if (TDAParam* p = FindParam(name)) return *p;
  DatabaseError(Format("Parameter '%s' not found", {std::string(name)}));
}

void TDAParams::AssignValues(const TDAParams& source) {
  if (&source == this) return;
  for (const auto& s : source.items_) {
    if (TDAParam* p = FindParam(s->Name())) p->Assign(*s);
  }
}

void TDAParams::Assign(const TDAParams& source) {
  if (&source == this) return;
  std::vector<std::unique_ptr<TDAParam>> items;
  for (const auto& s : source.items_) {
    items.push_back(std::make_unique<TDAParam>(this));
    items.back()->Assign(*s);
  }
  items_ = std::move(items);
}

}  // namespace da
