#pragma once
// A record store with fields given by a table, for the storage tests, and
// helpers to fill it the way the record set does (records written in
// blocks).

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "driver/MemData.h"

namespace da::testutil {

struct FieldDef {
  const char* name;
  TDataType dataType;
  int length = 0;
  TFieldKind kind = fkData;
  bool fixed = false;
};

// Record sizes of the data types as the record set gives them.
inline size_t SizeFor(TDataType type, int length) {
  switch (type) {
    case dtString:
    case dtBytes:
    case dtGuid:
      return static_cast<size_t>(length) + 1;
    case dtInt8:
    case dtInt16:
    case dtUInt16:
    case dtBoolean:
      return 2;
    case dtInt32:
    case dtUInt32:
    case dtBlob:
    case dtMemo:
    case dtWideMemo:
    case dtExtString:
    case dtExtWideString:
    case dtExtVarBytes:
    case dtVariant:
      return 4;
    case dtVarBytes:
      return static_cast<size_t>(length) + 2;
    case dtWideString:
      return static_cast<size_t>(length) * 2 + 2;
    case dtFmtBCD:
      return static_cast<size_t>(length) + 1 > 34 ? static_cast<size_t>(length) + 1 : 34;
    default:
      return 8;
  }
}

class TestStore : public TMemData {
 public:
  explicit TestStore(std::vector<FieldDef> fields) : fields_(std::move(fields)) { InitFields(); }
  ~TestStore() override { Close(); }

  // Number of Fetch calls that add a block of `fetchBlock` records until
  // `fetchLimit` records are stored (0: Fetch adds nothing).
  int fetchLimit = 0;
  int fetchBlock = 25;
  int fetchCalls = 0;

  bool Fetch() override {
    ++fetchCalls;
    if (RecordCount() >= fetchLimit) return false;
    int n = std::min(fetchBlock, fetchLimit - RecordCount());
    AddInt32Block(RecordCount() + 1, n, fetchBlock);
    return true;
  }

  // Appends a block of `blockSize` items of which the first `n` hold
  // field 1 (an Int32) = first, first + 1, ...
  void AddInt32Block(int first, int n, int blockSize) {
    TBlockHeader* block = BlockManager().AllocBlock(static_cast<uint16_t>(blockSize));
    for (int i = 0; i < n; ++i) {
      uint8_t* rec = TBlockManager::RecordOf(BlockManager().ItemAt(block, static_cast<size_t>(i)));
      int32_t v = first + i;
      PutField(1, rec, &v, sizeof v);
    }
    AppendBlock(block, n);
  }

 protected:
  void InternalInitFields() override {
    for (const FieldDef& s : fields_) {
      auto f = CreateFieldDesc();
      f->SetName(s.name);
      f->SetActualName(s.name);
      f->SetDataType(s.dataType);
      f->SetLength(s.length);
      f->SetSize(SizeFor(s.dataType, s.length));
      f->SetFieldKind(s.kind);
      f->SetFixed(s.fixed);
      Fields().Add(std::move(f));
    }
  }

 private:
  std::vector<FieldDef> fields_;
};

}  // namespace da::testutil
