#include "driver/MemDS.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "common/AnsiCase.h"
#include "common/CodePage.h"
#include "common/DAErrors.h"
#include "common/Format.h"
#include "common/Unaligned.h"
#include "driver/MemData.h"

namespace da {
namespace {

// The record-information area after the record and the calculated area.
constexpr size_t kInfoSize = 7;
constexpr size_t kInfoRecNo = 0;      // int32
constexpr size_t kInfoUpdateStatus = 4;
constexpr size_t kInfoBookmarkFlag = 5;
constexpr size_t kInfoOwnCopies = 6;  // the buffer holds its own references to complex values
// The bookmark: the item (8 bytes) and the store's refresh counter when
// the buffer was filled (4 bytes), which tells whether its references
// still belong to the store's current data.
constexpr size_t kBookmarkSize = 12;
constexpr size_t kBookmarkItem = kInfoSize;
constexpr size_t kBookmarkRefresh = kInfoSize + 8;

// The compatibility classes of declared fields and definitions.
int CompatClass(TFieldType t) {
  switch (t) {
    case ftString: case ftFixedChar: case ftGuid: return 1;
    case ftSmallint: case ftInteger: case ftWord: case ftAutoInc: return 2;
    case ftFloat: case ftCurrency: return 3;
    case ftDate: case ftTime: case ftDateTime: return 4;
    case ftBlob: case ftMemo: case ftGraphic: case ftFmtMemo: case ftParadoxOle: case ftDBaseOle:
    case ftTypedBinary: case ftOraBlob: case ftOraClob: case ftWideMemo: return 5;
    case ftWideString: case ftFixedWideChar: return 6;
    case ftInterface: case ftIDispatch: return 7;
    case ftUnknown: case ftCursor: return 8;
    default: return 100 + static_cast<int>(t);  // each alone
  }
}

}  // namespace

TMemDataSet::TMemDataSet(TComponent* owner) : TComponent(owner) {}

// The descendant owns the store and must Close before it destroys it; here
// only the dataset's own memory goes.
TMemDataSet::~TMemDataSet() = default;

void TMemDataSet::SetData(TMemData* data) {
  if (active_) DatabaseError("Cannot perform this operation on an open dataset", this);
  data_ = data;
  fieldDefs_.SetUpdated(false);
}

void TMemDataSet::SetActive(bool value) {
  if (value)
    Open();
  else
    Close();
}

void TMemDataSet::SetTrimFixedChar(bool v) {
  trimFixedChar_ = v;
  if (data_) data_->SetTrimFixedChar(v);
}

void TMemDataSet::SetTrimVarChar(bool v) {
  trimVarChar_ = v;
  if (data_) data_->SetTrimVarChar(v);
}

TField& TMemDataSet::AddField(const std::string& name, TFieldType type, int size) {
  if (active_) DatabaseError("Cannot perform this operation on an open dataset", this);
  auto field = std::make_unique<TField>(this, name, type, size);
  field->declared_ = true;
  fields_.push_back(std::move(field));
  return *fields_.back();
}

TField* TMemDataSet::FindField(std::string_view name) const {
  for (const auto& f : fields_)
    if (AnsiSameText(f->FieldName(), name)) return f.get();
  return nullptr;
}

TField& TMemDataSet::FieldNamed(std::string_view name) const {
  if (TField* f = FindField(name)) return *f;
  DatabaseError(Format("Field '%s' not found", {name}), this);
}

// --- Open and close ----------------------------------------------------------

void TMemDataSet::OpenCursor() { data_->Open(); }

void TMemDataSet::CloseCursor() {
  if (data_) data_->Close();
}

void TMemDataSet::Open() {
  if (active_) return;
  if (BeforeOpen) BeforeOpen();
  CheckDataSet();
  if (!data_) throw EAssertionFailed("The dataset has no record store");
  data_->SetTrimFixedChar(trimFixedChar_);
  data_->SetTrimVarChar(trimVarChar_);
  try {
    OpenCursor();
    InitFieldDefs();
    CreateOrBindFields();
    AllocBuffers();
    active_ = true;
    First();
  } catch (...) {
    active_ = false;
    hasCurrent_ = false;
    if (!current_.empty()) ReleaseBufferValues(current_.data());
    FreeBuffers();
    std::erase_if(fields_, [](const std::unique_ptr<TField>& f) { return !f->declared_; });
    for (auto& f : fields_) f->fieldNo_ = 0;
    try {
      CloseCursor();
    } catch (...) {
    }
    fieldDefs_.SetUpdated(false);
    throw;
  }
  if (AfterOpen) AfterOpen();
}

void TMemDataSet::Close() {
  if (!active_) return;
  if (BeforeClose) BeforeClose();
  // The buffers' own references go while the values they name still exist.
  if (!current_.empty()) ReleaseBufferValues(current_.data());
  FreeBuffers();
  active_ = false;
  hasCurrent_ = false;
  bof_ = eof_ = true;
  std::erase_if(fields_, [](const std::unique_ptr<TField>& f) { return !f->declared_; });
  for (auto& f : fields_) f->fieldNo_ = 0;
  std::exception_ptr error;
  try {
    CloseCursor();
  } catch (...) {
    error = std::current_exception();
  }
  if (!data_ || !data_->Prepared()) fieldDefs_.SetUpdated(false);
  if (error) std::rethrow_exception(error);
  if (AfterClose) AfterClose();
}

void TMemDataSet::InitFieldDefs() {
  if (fieldDefs_.Updated() && fieldDefs_.Count() > 0) return;
  fieldDefs_.Clear();
  const TFieldDescs& descs = data_->Fields();
  for (int i = 0; i < descs.Count(); ++i) {
    const TFieldDesc& d = descs[i];
    if (!d.IsDataField() || d.Parent()) continue;
    const TFieldType type = TDataTypesMap::GetFieldType(d.DataType());
    if (type == ftUnknown) DatabaseError("Data type is not supported", this);
    int size = 0;
    int length = d.Length();
    switch (type) {
      case ftString: case ftWideString: case ftGuid: size = length == 0 ? 1 : length; break;
      case ftBytes: case ftVarBytes: size = length; break;
      default: break;
    }
    auto def = std::make_unique<TFieldDef>(d.Name(), type, size, d.FieldNo());
    switch (type) {
      case ftSmallint: case ftInteger: case ftFloat: case ftLargeint: def->SetPrecision(length); break;
      case ftBCD: case ftFMTBcd:
        def->SetPrecision(length);
        def->SetSize(d.Scale());
        break;
      default: break;
    }
    def->SetRequired(d.Required() && requiredFields_);
    def->SetReadOnly(d.ReadOnly());
    def->SetHidden(d.Hidden());
    def->SetFixed(d.Fixed());
    fieldDefs_.Add(std::move(def));
  }
  fieldDefs_.SetUpdated(true);
}

void TMemDataSet::CreateOrBindFields() {
  const bool declared = std::any_of(fields_.begin(), fields_.end(), [](const auto& f) { return f->declared_; });
  if (!declared) {
    for (int i = 0; i < fieldDefs_.Count(); ++i) {
      const TFieldDef& def = fieldDefs_[i];
      auto field = std::make_unique<TField>(this, def.Name(), def.DataType(), def.Size());
      field->readOnly_ = def.ReadOnly();
      field->required_ = def.Required();
      field->fieldNo_ = def.FieldNo();
      fields_.push_back(std::move(field));
    }
    return;
  }
  for (auto& f : fields_)
    if (f->fieldKind_ == TFieldKindDS::fkData) BindField(*f);
}

void TMemDataSet::BindField(TField& field) {
  const TFieldDef* def = fieldDefs_.Find(field.FieldName());
  if (!def) DatabaseError(Format("Field '%s' not found", {field.FieldName()}), this);
  if (CompatClass(field.DataType()) != CompatClass(def->DataType()))
    DatabaseError(Format("Type mismatch for field '%s', expecting: %s actual: %s",
                         {field.FieldName(), FieldTypeName(field.DataType()), FieldTypeName(def->DataType())}),
                  this);
  switch (field.DataType()) {
    case ftBCD: case ftBytes: case ftVarBytes: case ftReference:
      if (field.Size() != def->Size())
        DatabaseError(Format("Size mismatch for field '%s', expecting: %d actual: %d",
                             {field.FieldName(), field.Size(), def->Size()}),
                      this);
      break;
    case ftString: case ftFixedChar: case ftWideString: case ftFixedWideChar:
      // A declared string takes the column's size, larger or smaller, so
      // that the whole value reads.
      field.SetSize(def->Size());
      break;
    default:
      break;
  }
  field.fieldNo_ = def->FieldNo();
}

// --- Buffers ------------------------------------------------------------------

size_t TMemDataSet::InfoOffset() const { return data_->RecordSize() + data_->CalcRecordSize(); }

void TMemDataSet::AllocBuffers() {
  const size_t size = InfoOffset() + kInfoSize + kBookmarkSize;
  current_.assign(size, 0);
  extra_.assign(size, 0);
}

void TMemDataSet::FreeBuffers() {
  std::vector<uint8_t>().swap(current_);
  std::vector<uint8_t>().swap(extra_);
}

void TMemDataSet::ReleaseBufferValues(uint8_t* buffer) {
  uint8_t* info = buffer + InfoOffset();
  if (info[kInfoOwnCopies] == 0) return;
  info[kInfoOwnCopies] = 0;
  // References taken before the store was reset name values that are gone
  // (or, worse, someone else's now): they are dropped, never followed.
  if (LoadUnaligned<int32_t>(info + kBookmarkRefresh) == data_->RefreshCounter()) {
    data_->FreeComplexFields(buffer, true);
  } else {
    std::memset(buffer, 0, data_->RecordSize());
  }
}

bool TMemDataSet::FillCurrent() {
  uint8_t* buffer = current_.data();
  ReleaseBufferValues(buffer);
  TItemHeader* item = data_->CurrentItem();
  if (!item) return false;
  data_->GetRecord(buffer);
  uint8_t* info = buffer + InfoOffset();
  StoreUnaligned<int32_t>(info + kInfoRecNo, data_->RecNo());
  info[kInfoUpdateStatus] = item->updateState;
  info[kInfoBookmarkFlag] = 0;
  // Own references when the store may release its records while this row
  // is still read (forward-only reading reuses its block).
  if (data_->ReleasesRecordsWhileOpen()) {
    data_->CopyComplexFields(buffer, buffer);
    info[kInfoOwnCopies] = 1;
  }
  StoreUnaligned<uint64_t>(info + kBookmarkItem, reinterpret_cast<uintptr_t>(item));
  StoreUnaligned<int32_t>(info + kBookmarkRefresh, data_->RefreshCounter());
  return true;
}

// --- Navigation --------------------------------------------------------------

void TMemDataSet::First() {
  if (!active_) DatabaseError("Cannot perform this operation on a closed dataset", this);
  data_->SetToBegin();
  data_->StepNextRecord(nullptr);
  hasCurrent_ = FillCurrent();
  bof_ = true;
  eof_ = !hasCurrent_;
}

void TMemDataSet::Next() {
  if (!active_) DatabaseError("Cannot perform this operation on a closed dataset", this);
  if (eof_) return;
  data_->StepNextRecord(nullptr);
  if (!data_->CurrentItem()) {
    // The last row stays current.
    eof_ = true;
    return;
  }
  hasCurrent_ = FillCurrent();
  bof_ = false;
}

int TMemDataSet::RecordCount() const { return active_ && data_ ? data_->RecordCount() : 0; }

int TMemDataSet::RecNo() const {
  if (!active_ || !hasCurrent_) return 0;
  return LoadUnaligned<int32_t>(current_.data() + InfoOffset() + kInfoRecNo);
}

void TMemDataSet::SetRecNo(int value) {
  if (!active_) DatabaseError("Cannot perform this operation on a closed dataset", this);
  data_->GoToRecNo(value);
  if (!data_->CurrentItem()) return;
  hasCurrent_ = FillCurrent();
  bof_ = eof_ = false;
}

// --- Field values --------------------------------------------------------------

bool TMemDataSet::GetFieldData(const TField& field, void* dest, size_t destSize) const {
  uint8_t* buffer = ActiveBuffer();
  if (!buffer || field.FieldNo() <= 0 || field.FieldKind() != TFieldKindDS::fkData) return false;
  bool blank = true;
  data_->ReadFieldValue(field.FieldNo(), buffer, dest, destSize, blank);
  return !blank;
}

Variant TMemDataSet::GetFieldVariant(const TField& field) const {
  uint8_t* buffer = ActiveBuffer();
  if (!buffer || field.FieldNo() <= 0 || field.FieldKind() != TFieldKindDS::fkData) return Variant::Null();
  return data_->GetFieldAsVariant(field.FieldNo(), buffer);
}

std::string TMemDataSet::GetFieldText(const TField& field, bool& isNull) const {
  isNull = true;
  uint8_t* buffer = ActiveBuffer();
  if (!buffer || field.FieldNo() <= 0 || field.FieldKind() != TFieldKindDS::fkData) return {};
  const TFieldDesc& desc = data_->Fields()[field.FieldNo() - 1];
  size_t length;
  switch (desc.DataType()) {
    case dtString:
    case dtGuid:
      length = desc.Size();
      break;
    case dtExtString: {
      if (data_->GetNull(field.FieldNo(), buffer)) return {};
      isNull = false;
      const THeapRef ref = LoadUnaligned<uint32_t>(buffer + desc.Offset());
      if (ref == 0) return {};
      const char* s = data_->StringHeap().Data(ref, length);
      // Stored trimmed; only line breaks can change it on the way out.
      if (!data_->ConvertEOL()) return std::string(s, strnlen(s, length));
      break;
    }
    default: {
      // Other kinds of value read as the text of their variant.
      Variant v = data_->GetFieldAsVariant(field.FieldNo(), buffer);
      isNull = v.IsNull();
      return isNull ? std::string() : v.AsString();
    }
  }
  // Room for every line break widened to CR LF, and the terminator.
  std::string text((data_->ConvertEOL() ? 2 * length : length) + 1, '\0');
  bool blank = true;
  data_->ReadFieldValue(field.FieldNo(), buffer, text.data(), text.size(), blank);
  if (blank) return {};
  isNull = false;
  text.resize(std::strlen(text.c_str()));
  return text;
}

std::string TMemDataSet::GetBlobText(const TField& field) const {
  uint8_t* buffer = ActiveBuffer();
  if (!buffer || field.FieldNo() <= 0 || field.FieldKind() != TFieldKindDS::fkData) return {};
  const TBlob* blob = data_->GetBlob(field.FieldNo(), buffer);
  if (!blob) {
    // Not a blob in the store (a declared memo over a string column).
    Variant v = data_->GetFieldAsVariant(field.FieldNo(), buffer);
    return v.IsNull() ? std::string() : v.AsString();
  }
  return blob->AsString();
}

}  // namespace da
