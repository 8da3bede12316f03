#pragma once
// The dataset over a record store: the current-row view the application
// walks (Open, First, Next, Eof) and reads field values from. A query
// descends from it and supplies the store (its driver record set).
//
// Record buffers hold the store's record (RecordSize bytes), the
// calculated-field area, a 7-byte information area (record number 32-bit,
// update status, bookmark flag, own-copies flag) and a 12-byte bookmark.
// The buffer of the current row keeps its own references to the row's
// heap strings and blobs, so that a store releasing its records (forward
// reading) never pulls a value from under the reader.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/Component.h"
#include "driver/MemDSFields.h"

namespace da {

class TMemData;

class TMemDataSet : public TComponent {
 public:
  explicit TMemDataSet(TComponent* owner = nullptr);
  ~TMemDataSet() override;

  // --- State.
  // Opens the store, builds the field definitions, binds the fields and
  // moves to the first row. Errors of the store and of the binding
  // ("Field '%s' not found", "Type mismatch for field '%s', expecting: %s
  // actual: %s", "Size mismatch for field '%s', expecting: %d actual: %d",
  // "Data type is not supported"; the last four with the dataset's name in
  // front) propagate and leave the dataset closed. Nothing when open.
  void Open();
  // Releases the buffers' values, destroys the fields created at open and
  // closes the store. Nothing when closed.
  void Close();
  bool Active() const { return active_; }
  void SetActive(bool value);

  // --- Navigation.
  void First();
  void Next();
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  // Open with no current row.
  bool HasNoRows() const { return active_ && !hasCurrent_; }
  // Rows read so far (all with FetchAll); 0 when closed.
  int RecordCount() const;
  // The current row's number; 0 without one.
  int RecNo() const;
  void SetRecNo(int value);

  // --- Fields.
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField& Fields(int index) const { return *fields_.at(static_cast<size_t>(index)); }
  // By name without regard to case; null when none.
  TField* FindField(std::string_view name) const;
  // As FindField; raises EDatabaseError "Field '%s' not found" with the
  // dataset's name in front.
  TField& FieldNamed(std::string_view name) const;
  TField& FieldByName(std::string_view name) const { return FieldNamed(name); }
  // Declares a field (as the window description does). REQUIRES closed.
  TField& AddField(const std::string& name, TFieldType type, int size = 0);
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  // The definitions are rebuilt at the next open.
  void SetFieldDefsOutOfDate() { fieldDefs_.SetUpdated(false); }

  // --- Options.
  bool RequiredFields() const { return requiredFields_; }
  void SetRequiredFields(bool v) { requiredFields_ = v; }
  bool TrimFixedChar() const { return trimFixedChar_; }
  void SetTrimFixedChar(bool v);
  bool TrimVarChar() const { return trimVarChar_; }
  void SetTrimVarChar(bool v);

  // The store (weak; owned by the descendant). Null before it exists.
  TMemData* Data() const { return data_; }

  // --- Field reading (the fields call these).
  // The buffer of the current row, or null when there is none.
  uint8_t* ActiveBuffer() const { return active_ && hasCurrent_ ? const_cast<uint8_t*>(current_.data()) : nullptr; }
  // Copies the field's value as TData::ReadFieldValue does; answers false
  // (null) without a current row.
  bool GetFieldData(const TField& field, void* dest, size_t destSize) const;
  Variant GetFieldVariant(const TField& field) const;
  // TData::GetFieldAsNumber on the current row (kNull without one).
  TData::TFieldNumber GetFieldNumber(const TField& field) const {
    const uint8_t* buffer = ActiveBuffer();
    if (!buffer || field.FieldNo() <= 0 || field.FieldKind() != TFieldKindDS::fkData)
      return {TData::TFieldNumber::kNull, 0, 0};
    return data_->GetFieldAsNumber(field.FieldNo(), buffer);
  }
  // The text of a string field as ReadFieldValue gives it (line breaks,
  // trimming), whole; empty and `isNull` set for a null field.
  std::string GetFieldText(const TField& field, bool& isNull) const;
  std::string GetBlobText(const TField& field) const;

  std::function<void()> BeforeOpen, AfterOpen, BeforeClose, AfterClose;

 protected:
  void SetData(TMemData* data);
  // Makes the store exist and be configured (a query creates its record set).
  virtual void CheckDataSet() {}
  // Opens the store; a query runs its statement here.
  virtual void OpenCursor();
  // Closes the store.
  virtual void CloseCursor();

 private:
  void InitFieldDefs();
  void CreateOrBindFields();
  void BindField(TField& field);
  void AllocBuffers();
  void FreeBuffers();
  // Reads the store's current record into the current-row buffer;
  // false when the store is before the first or after the last row.
  bool FillCurrent();
  void ReleaseBufferValues(uint8_t* buffer);
  size_t InfoOffset() const;

  TMemData* data_ = nullptr;  // weak
  std::vector<std::unique_ptr<TField>> fields_;
  TFieldDefs fieldDefs_;
  std::vector<uint8_t> current_;  // the current row's buffer
  std::vector<uint8_t> extra_;    // the dataset's own scratch buffer
  bool active_ = false;
  bool hasCurrent_ = false;
  bool bof_ = true, eof_ = true;
  bool requiredFields_ = false;
  bool trimFixedChar_ = false, trimVarChar_ = false;
};

}  // namespace da
