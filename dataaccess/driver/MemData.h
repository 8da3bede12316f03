#pragma once
// The in-memory record storage. TData defines the field descriptions, the
// record layout and field access; TMemData adds the records themselves
// (items in blocks, strings in a string heap, large values in shared blobs)
// and the navigation over them. The driver record set is a TMemData that
// fills itself from the server; the dataset reads records from it into
// record buffers and field values from those buffers.
//
// Record layout (InitFields): data fields at consecutive offsets from 0
// (a dtWideString at an even offset), DataSize the end of the last; one
// null-flag byte per field at DataSize + FieldNo - 1 (1 = null); RecordSize
// DataSize + field count, rounded up to an odd number. Calculated and
// lookup fields live in a separate area after RecordSize that only record
// buffers have.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/DataTypes.h"
#include "common/Unaligned.h"
#include "common/Variant.h"
#include "driver/Blob.h"
#include "driver/BlockManager.h"
#include "driver/SortOrder.h"
#include "driver/StringHeap.h"

namespace da {

class TCRTableInfo;  // the driver's table information (weakly referenced)

enum TFieldKind : uint8_t { fkData, fkCalculated, fkLookup };

// One field of the store.
class TFieldDesc {
 public:
  TFieldDesc() = default;
  virtual ~TFieldDesc() = default;
  TFieldDesc(const TFieldDesc&) = delete;
  TFieldDesc& operator=(const TFieldDesc&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& v) { name_ = v; }
  // The server's column name.
  const std::string& ActualName() const { return actualName_; }
  void SetActualName(const std::string& v) { actualName_ = v; }
  TDataType DataType() const { return dataType_; }
  void SetDataType(TDataType v) { dataType_ = v; }
  TDataType SubDataType() const { return subDataType_; }
  void SetSubDataType(TDataType v) { subDataType_ = v; }
  // Characters or bytes of the value, and its decimals.
  int Length() const { return length_; }
  void SetLength(int v) { length_ = v; }
  int Scale() const { return scale_; }
  void SetScale(int v) { scale_ = v; }
  // Bytes in the record and where they start (set by InitFields).
  size_t Size() const { return size_; }
  void SetSize(size_t v) { size_ = v; }
  size_t Offset() const { return offset_; }
  void SetOffset(size_t v) { offset_ = v; }
  // 1-based position among the fields; 0-based position in the result.
  int FieldNo() const { return fieldNo_; }
  void SetFieldNo(int v) { fieldNo_ = v; }
  int ActualFieldNo() const { return actualFieldNo_; }
  void SetActualFieldNo(int v) { actualFieldNo_ = v; }
  bool Required() const { return required_; }
  void SetRequired(bool v) { required_ = v; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v) { readOnly_ = v; }
  bool IsKey() const { return isKey_; }
  void SetIsKey(bool v) { isKey_ = v; }
  // A fixed-length character column (trailing blanks padded).
  bool Fixed() const { return fixed_; }
  void SetFixed(bool v) { fixed_ = v; }
  bool Hidden() const { return hidden_; }
  void SetHidden(bool v) { hidden_ = v; }
  TFieldKind FieldKind() const { return fieldKind_; }
  void SetFieldKind(TFieldKind v) { fieldKind_ = v; }
  // The object field this one is a member of (weak; null at top level).
  TFieldDesc* Parent() const { return parent_; }
  void SetParent(TFieldDesc* v) { parent_ = v; }
  bool AutoIncrement() const { return autoIncrement_; }
  void SetAutoIncrement(bool v) { autoIncrement_ = v; }
  TCRTableInfo* TableInfo() const { return tableInfo_; }
  void SetTableInfo(TCRTableInfo* v) { tableInfo_ = v; }

  bool IsDataField() const { return fieldKind_ == fkData; }
  bool IsBlob() const { return dataType_ == dtBlob || dataType_ == dtMemo || dataType_ == dtWideMemo; }
  // The record holds a string-heap reference.
  bool IsExt() const {
    return dataType_ == dtExtString || dataType_ == dtExtWideString || dataType_ == dtExtVarBytes;
  }
  // The record holds an object reference (blob or variant).
  bool IsObject() const { return IsBlob() || dataType_ == dtVariant; }

 private:
  std::string name_, actualName_;
  TDataType dataType_ = dtUnknown;
  TDataType subDataType_ = dtUnknown;
  int length_ = 0;
  int scale_ = 0;
  size_t size_ = 0;
  size_t offset_ = 0;
  int fieldNo_ = 0;
  int actualFieldNo_ = -1;
  bool required_ = false, readOnly_ = false, isKey_ = false, fixed_ = false, hidden_ = false;
  bool autoIncrement_ = false;
  TFieldKind fieldKind_ = fkData;
  TFieldDesc* parent_ = nullptr;
  TCRTableInfo* tableInfo_ = nullptr;
};

// The owned, ordered list of field descriptions.
class TFieldDescs {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  // REQUIRES 0 <= index < Count().
  TFieldDesc& operator[](int index) const { return *items_.at(static_cast<size_t>(index)); }
  // As [] for an index the caller has checked.
  TFieldDesc& Checked(int index) const { return *items_[static_cast<size_t>(index)]; }
  TFieldDesc& Add(std::unique_ptr<TFieldDesc> field);
  void Clear() { items_.clear(); }

  // Names compare without regard to letter case: first the names of the
  // top-level fields, then for a name with "." or "[" the ActualNames,
  // otherwise the names of member fields. Null when none matches.
  TFieldDesc* FindField(std::string_view name) const;
  // As FindField; raises EDatabaseError "Field %s not found".
  TFieldDesc& FieldByName(std::string_view name) const;

 private:
  std::vector<std::unique_ptr<TFieldDesc>> items_;
};

// A record buffer from AllocRecBuf (RecordSize bytes, zero-filled).
using TRecBuf = std::unique_ptr<uint8_t[]>;

class TData {
 public:
  TData();
  virtual ~TData();
  TData(const TData&) = delete;
  TData& operator=(const TData&) = delete;

  // --- Lifecycle. A descendant must Close in its own destructor when its
  // hooks have work to do: by the time ~TData runs they are gone.
  // Open: InitData, InternalOpen (which builds the fields when there are
  // none), active. On failure the store is closed again and the error
  // propagates.
  void Open();
  // InternalClose when active, ClearData, the fields dropped unless prepared.
  void Close();
  void Prepare();
  void UnPrepare();
  void Reopen();
  bool Active() const { return active_; }
  bool Prepared() const { return prepared_; }

  // --- Fields. InitFields clears the descriptions, runs InternalInitFields
  // and computes the layout.
  virtual void InitFields();
  TFieldDescs& Fields() { return fields_; }
  const TFieldDescs& Fields() const { return fields_; }
  int FieldCount() const { return fields_.Count(); }
  TFieldDesc* LookupField(std::string_view name) const { return fields_.FindField(name); }
  TFieldDesc& FieldNamed(std::string_view name) const { return fields_.FieldByName(name); }
  // A new, empty description of the class the store uses.
  virtual std::unique_ptr<TFieldDesc> CreateFieldDesc() { return std::make_unique<TFieldDesc>(); }
  // Computes offsets, DataSize, RecordSize and the calculated area from
  // the descriptions as they stand (InitFields does it after the hook).
  void ComputeLayout();

  size_t DataSize() const { return dataSize_; }
  size_t RecordSize() const { return recordSize_; }
  size_t CalcRecordSize() const { return calcRecordSize_; }

  // RecordSize bytes from the system, zero-filled; RecordSize +
  // CalcRecordSize with the calculated area.
  TRecBuf AllocRecBuf(bool withCalcArea = false) const;
  static void FreeRecBuf(TRecBuf& buf) { buf.reset(); }

  // --- Field access on a record or record buffer. A field number outside
  // 1 .. FieldCount raises EAssertionFailed; so does a calculated or lookup
  // field for every access to a value (only its null flag is in the record).
  // Null flag; a blob field without data counts as null (and gets its flag).
  bool GetNull(int fieldNo, uint8_t* recBuf) const {
    const TFieldDesc& f = CheckField(fieldNo);
    if (recBuf[dataSize_ + static_cast<size_t>(fieldNo) - 1] != 0) return true;
    return f.IsBlob() && f.IsDataField() && BlobIsNull(fieldNo, recBuf);
  }
  // Writes the flag; setting a blob field null clears the blob's data.
  void SetNull(int fieldNo, uint8_t* recBuf, bool value);

  // Copies the value into `dest` (`destSize` bytes) in the form the
  // dataset layer expects and answers in `isBlank` whether it is null:
  // strings zero-terminated (bare LF as CR LF with ConvertEOL, trailing
  // blanks cut by the trim options), dtDate an int32 day number since
  // 0001-01-01, dtTime int32 milliseconds since midnight, dtDateTime a
  // double of milliseconds since 0001-01-01, dtUInt32 as int64,
  // dtExtVarBytes its 2-byte length and bytes, others Size bytes as stored.
  // Text is cut to fit `dest`; a fixed-size form that does not fit raises
  // EAssertionFailed. A null `dest` only answers isBlank.
  void ReadFieldValue(int fieldNo, uint8_t* recBuf, void* dest, size_t destSize, bool& isBlank) const;
  // Stores a value given in the dataset form (see ReadFieldValue; strings
  // zero-terminated or `sourceSize` long) and clears the null flag. dtFloat
  // is rounded to the field's Scale (when above 0) unless `raw`. Blob and
  // variant fields are written through their objects instead.
  void PutField(int fieldNo, uint8_t* recBuf, const void* source, size_t sourceSize, bool raw = false);
  // Null for a null field, else the value in its natural kind.
  Variant GetFieldAsVariant(int fieldNo, uint8_t* recBuf) const;
  // A number or date field's value without building a Variant, for the
  // typed accessors that read every row: the integer types (dtBoolean
  // excluded) as kInteger, dtFloat, dtCurrency and the date types as kFloat
  // (a date as its day count), a null value as kNull; every other type is
  // kOther and reads through GetFieldAsVariant.
  struct TFieldNumber {
    enum Kind : uint8_t { kOther, kNull, kInteger, kFloat } kind = kOther;
    int64_t integer = 0;
    double real = 0;
  };
  TFieldNumber GetFieldAsNumber(int fieldNo, const uint8_t* recBuf) const;

  // --- Stored forms, for the record set filling records directly.
  // Each replaces the field's value (releasing the old one), clears the
  // null flag, and stores no heap item for an empty value.
  void PutExtString(int fieldNo, uint8_t* record, std::string_view text, bool trimTrailingBlanks = false);
  void PutExtWideString(int fieldNo, uint8_t* record, std::u16string_view text, bool trimTrailingBlanks = false);
  void PutExtVarBytes(int fieldNo, uint8_t* record, const void* bytes, uint16_t length);
  // A dtBCD (dtFmtBCD) value from decimal text with "." (the FmtBCD value
  // to the field's Length digits and Scale decimals). Text that is no
  // number, or does not fit, raises EConvertError "'%s' is not a valid BCD
  // value".
  void PutBCDText(int fieldNo, uint8_t* record, std::string_view text);
  void PutFmtBCDText(int fieldNo, uint8_t* record, std::string_view text);
  // A new blob for a blob field (UTF-16 for dtWideMemo) referenced by the
  // record; the store owns it through its object table.
  TBlob& CreateBlob(int fieldNo, uint8_t* record);
  // The blob of a blob field, or null when the record holds none.
  TBlob* GetBlob(int fieldNo, const uint8_t* recBuf) const;
  void PutVariant(int fieldNo, uint8_t* record, const Variant& value);

  // Releases the heap items, blobs (with `withBlobs`) and variants the
  // record refers to, and clears those references.
  void FreeComplexFields(uint8_t* record, bool withBlobs);
  // `dest` takes further references to the complex values of `source`.
  void CopyComplexFields(const uint8_t* source, uint8_t* dest);
  // Whether any field refers to heap items, blobs or variants.
  bool HasComplexFields() const;
  bool HasObjectFields() const;

  // --- Options.
  bool TrimFixedChar() const { return trimFixedChar_; }
  void SetTrimFixedChar(bool v) { trimFixedChar_ = v; }
  bool TrimVarChar() const { return trimVarChar_; }
  void SetTrimVarChar(bool v) { trimVarChar_ = v; }
  // Whether the field's text loses its trailing blanks (TrimFixedChar for
  // a Fixed field, TrimVarChar otherwise). Ext strings are trimmed when
  // stored: pass this to PutExtString.
  bool TrimsBlanks(const TFieldDesc& f) const { return f.Fixed() ? trimFixedChar_ : trimVarChar_; }
  // A bare LF reads as CR LF.
  bool ConvertEOL() const { return convertEOL_; }
  void SetConvertEOL(bool v) { convertEOL_ = v; }

  TStringHeap& StringHeap() { return *heap_; }
  const TStringHeap& StringHeap() const { return *heap_; }
  TSharedObjectTable& Objects() { return objects_; }

 protected:
  virtual void InternalPrepare() {}
  virtual void InternalUnPrepare() {}
  // Builds the fields when there are none; the record set reads its rows.
  virtual void InternalOpen();
  virtual void InternalClose() {}
  // Creates the field descriptions (the record set describes its columns).
  virtual void InternalInitFields() {}
  virtual void InitData() {}
  virtual void ClearData() {}
  // Runs after a successful InternalOpen (the filter and sort order attach here).
  virtual void AfterOpen() {}
  // Raises when the store cannot take records of `recordSize` bytes now;
  // ComputeLayout then changes nothing.
  virtual void CheckLayout(size_t recordSize) const { (void)recordSize; }
  // Runs when ComputeLayout has set new sizes.
  virtual void LayoutChanged() {}

  // Inline: every field read and write passes here.
  const TFieldDesc& CheckField(int fieldNo) const {
    // Fields added after the layout was computed have no place in the records yet.
    if (fieldNo < 1 || fieldNo > layoutFieldCount_ || fieldNo > fields_.Count()) [[unlikely]]
      FieldOutOfRange(fieldNo);
    return fields_.Checked(fieldNo - 1);
  }
  // As CheckField, and the field must be a data field (its value lives in
  // the record); calculated and lookup fields raise EAssertionFailed.
  const TFieldDesc& CheckDataField(int fieldNo) const {
    const TFieldDesc& f = CheckField(fieldNo);
    if (!f.IsDataField()) [[unlikely]]
      NotStored(f);
    return f;
  }
  [[noreturn]] static void FieldOutOfRange(int fieldNo);
  // A blob without data is null (its flag set on the way).
  bool BlobIsNull(int fieldNo, uint8_t* recBuf) const;
  [[noreturn]] static void NotStored(const TFieldDesc& f);
  static uint32_t ReadRef(const uint8_t* rec, const TFieldDesc& f);
  static void WriteRef(uint8_t* rec, const TFieldDesc& f, uint32_t ref);

 private:
  void ReleaseExt(const TFieldDesc& f, uint8_t* record);
  size_t ReadText(const TFieldDesc& f, const char* src, size_t srcLen, char* dest, size_t destSize) const;
  size_t ReadWideText(const TFieldDesc& f, const char16_t* src, size_t srcLen, char16_t* dest, size_t destChars) const;

  TFieldDescs fields_;
  std::unique_ptr<TStringHeap> heap_;
  TSharedObjectTable objects_;
  int layoutFieldCount_ = 0;  // fields the layout was computed for
  size_t dataSize_ = 0;
  size_t recordSize_ = 0;
  size_t calcRecordSize_ = 0;
  bool active_ = false;
  bool prepared_ = false;
  bool trimFixedChar_ = false;
  bool trimVarChar_ = false;
  bool convertEOL_ = false;
};

class TMemData : public TData {
 public:
  TMemData();
  ~TMemData() override;

  void InitFields() override;

  // --- Navigation. Before the first record: no current item with Bof;
  // after the last: no current item with Eof.
  void SetToBegin();
  void SetToEnd();
  bool Bof() const { return !current_ && bof_; }
  bool Eof() const { return !current_ && eof_; }
  // Moves to the next (prior) visible record and copies it into `recBuf`
  // (when given); sets Eof (Bof) when there is none.
  virtual void StepNextRecord(uint8_t* recBuf);
  virtual void StepPriorRecord(uint8_t* recBuf);
  // Copies the current record into `recBuf`; nothing without one.
  void GetRecord(uint8_t* recBuf);
  // Records read so far (with those released by forward-only reading).
  int RecordCount() const { return recordCount_ + releasedCount_; }
  // The current record's number (0 without one).
  int RecNo() const;
  // Makes record `n` current, walking from the nearest known position and
  // fetching further blocks as it passes the last item. Nothing when there
  // is no record `n`.
  void GoToRecNo(int n);
  // Reads further records; answers whether it added any (here: never).
  virtual bool Fetch() { return false; }

  // --- Filling (the record set). Take a block from BlockManager().AllocBlock,
  // fill the records of its first `usedCount` items (RecordOf), then hand it
  // over: those items join the end of the list numbered on, the others go
  // to the free list, and a block with none is released.
  TBlockManager& BlockManager() { return blocks_; }
  void AppendBlock(TBlockHeader* block, int usedCount);
  // The same at the front (records fetched backwards: item 0 comes right
  // before the current first one); record numbers stay 1-based.
  void PrependBlock(TBlockHeader* block, int usedCount);
  // One record copied from `recBuf` at the end of the list. The heap items,
  // blobs and variants the buffer refers to now belong to the stored record.
  TItemHeader* AppendRecord(const uint8_t* recBuf);

  // Forward-only reading keeps one block: this releases every stored
  // record (its heap strings, blobs and variants first) and answers the
  // store's only block, items zeroed and in use, for refilling when it has
  // `itemCount` items; otherwise all blocks are freed and null is answered.
  // Record numbers go on after the released records and RecordCount keeps
  // counting them.
  TBlockHeader* ReleaseRecordsForReuse(size_t itemCount);
  // Keeps the sort order after records were appended at the end: the items
  // from `firstAdded` to the last are sorted and merged into the (sorted)
  // items before them, and all are numbered again. Nothing without a sort
  // order.
  void MergeSorted(TItemHeader* firstAdded);

  // Whether records can go while the store is open (forward-only reading
  // reuses its block), so that a reader must hold its own references to
  // the current record's heap strings and blobs.
  virtual bool ReleasesRecordsWhileOpen() const { return false; }

  TItemHeader* FirstItem() const { return first_; }
  TItemHeader* LastItem() const { return last_; }
  TItemHeader* CurrentItem() const { return current_; }

  // --- Sorting. Setting a sort order on an open store sorts at once;
  // an invalid one raises and leaves the previous one in force.
  const std::string& IndexFieldNames() const { return indexFieldNames_; }
  void SetIndexFieldNames(const std::string& order);
  TSortType DefaultSortType() const { return defaultSortType_; }
  void SetDefaultSortType(TSortType v) { defaultSortType_ = v; }
  const std::vector<TSortColumn>& SortColumns() const { return sortColumns_; }
  // Reorders the list by the sort columns; record numbers follow.
  void SortItems();

  // Taken from a process-wide counter each time the data is reset.
  int RefreshCounter() const { return refreshCounter_; }

 protected:
  void InitData() override;
  void ClearData() override;
  void AfterOpen() override;
  void CheckLayout(size_t recordSize) const override;
  void LayoutChanged() override;
  // Whether navigation shows the item; computed once per item. Cached
  // updates and filters would decide here; this store shows everything.
  virtual bool IsItemVisible(TItemHeader* item);

 private:
  int RecNoOf(const TItemHeader* item) const { return item->order + recNoOffset_; }
  void InvalidateRecNoCache() { recNoCache_.clear(); }
  void Link(TItemHeader* item, bool atEnd);

  TBlockManager blocks_;
  TItemHeader* first_ = nullptr;
  TItemHeader* last_ = nullptr;
  TItemHeader* current_ = nullptr;
  bool bof_ = true;
  bool eof_ = true;
  int recordCount_ = 0;
  int recNoOffset_ = 0;
  int releasedCount_ = 0;  // records released by forward-only reading
  std::vector<TItemHeader*> recNoCache_;  // item of record n at n - 1; empty when not built
  std::string indexFieldNames_;
  std::vector<TSortColumn> sortColumns_;
  TSortType defaultSortType_ = TSortType::stCaseSensitive;
  int refreshCounter_ = 0;
};

// Inline: the typed accessors call it for every value they read.
inline TData::TFieldNumber TData::GetFieldAsNumber(int fieldNo, const uint8_t* recBuf) const {
  const TFieldDesc& f = CheckDataField(fieldNo);
  TFieldNumber n;
  const uint8_t* src = recBuf + f.Offset();
  auto integer = [&](int64_t v) {
    n.kind = TFieldNumber::kInteger;
    n.integer = v;
  };
  switch (f.DataType()) {
    case dtInt8: integer(static_cast<int8_t>(LoadUnaligned<int16_t>(src))); break;
    case dtInt16: integer(LoadUnaligned<int16_t>(src)); break;
    case dtUInt16: integer(LoadUnaligned<uint16_t>(src)); break;
    case dtInt32: integer(LoadUnaligned<int32_t>(src)); break;
    case dtUInt32: integer(LoadUnaligned<uint32_t>(src)); break;
    case dtInt64: integer(LoadUnaligned<int64_t>(src)); break;
    case dtFloat:
    case dtCurrency:
    case dtDate:
    case dtTime:
    case dtDateTime:
      n.kind = TFieldNumber::kFloat;
      n.real = LoadUnaligned<double>(src);
      break;
    default: return n;  // kOther
  }
  // None of these types is a blob: the flag alone says null.
  if (recBuf[dataSize_ + static_cast<size_t>(fieldNo) - 1] != 0) n = {TFieldNumber::kNull, 0, 0};
  return n;
}

}  // namespace da
