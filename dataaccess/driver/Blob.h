#pragma once
// Large values of the record storage: blobs (byte or text values held as
// a chain of pieces) and variant holders, shared between records through
// reference-counted objects. Records keep 4-byte references into the
// store's object table rather than pointers.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Variant.h"

namespace da {

// Base of the objects a record can refer to. Shared ownership: the object
// table holds one share for all record references, and any other holder
// (a parameter, a blob stream) may keep its own std::shared_ptr.
class TSharedObject {
 public:
  TSharedObject() = default;
  virtual ~TSharedObject() = default;
  TSharedObject(const TSharedObject&) = delete;
  TSharedObject& operator=(const TSharedObject&) = delete;
};

class TBlob : public TSharedObject {
 public:
  // A 64 KiB allocation less the piece header: the same for every blob.
  static constexpr size_t kPieceSize = 65514;

  explicit TBlob(bool isUnicode = false) : isUnicode_(isUnicode) {}

  // The value is UTF-16 text.
  bool IsUnicode() const { return isUnicode_; }
  void SetIsUnicode(bool value) { isUnicode_ = value; }

  // Bytes held (the sum of the pieces' used counts).
  size_t Size() const { return size_; }
  bool IsEmpty() const { return size_ == 0; }

  // Copies up to `count` bytes from `pos` (count 0: to the end) into
  // `dest`, which must hold them; answers the number copied (0 from a
  // position at or beyond the end).
  size_t Read(size_t pos, size_t count, void* dest) const;
  // Writes `count` bytes at `pos` (a position beyond the end is taken as
  // the end), extending the value as needed. Missing pieces get the smaller
  // of kPieceSize and what is left to write.
  void Write(size_t pos, size_t count, const void* source);
  // Shortens the value, or extends it with zero bytes. 0 releases every piece.
  void Truncate(size_t newSize);
  void Clear() { Truncate(0); }

  // The value as 8-bit text: a UTF-16 blob is converted to the code page.
  std::string AsString() const;
  // The value as UTF-16: an 8-bit blob is converted from the code page.
  std::u16string AsWideString() const;
  void SetAsString(const std::string& text);
  void SetAsWideString(const std::u16string& text);

  // For a field that expects 8-bit text: `count` characters from character
  // `pos` (count 0: to the end), converted to the code page when the blob
  // is UTF-16, into `dest` (room for `count` bytes, or the whole value).
  // Answers the length of the text copied.
  size_t ReadAsAnsi(size_t pos, size_t count, char* dest) const;
  // The length ReadAsAnsi gives for the whole value.
  size_t AnsiSize() const { return isUnicode_ ? size_ / 2 : size_; }

  size_t PieceCount() const { return pieces_.size(); }
  size_t PieceCapacity(size_t i) const { return pieces_.at(i).capacity; }
  size_t PieceUsed(size_t i) const { return pieces_.at(i).used; }

 private:
  struct Piece {
    size_t capacity = 0;
    size_t used = 0;
    std::unique_ptr<uint8_t[]> data;
  };
  // Writes `source` (zeros when null).
  void WriteBytes(size_t pos, size_t count, const uint8_t* source);

  std::vector<Piece> pieces_;
  size_t size_ = 0;
  bool isUnicode_ = false;
};

// The holder a dtVariant field refers to.
class TVariantObject : public TSharedObject {
 public:
  explicit TVariantObject(Variant value = {}) : value(std::move(value)) {}
  Variant value;
};

// A reference to a shared object as a record holds it; 0 is none. It
// carries its slot's generation: once the object is gone the reference
// names nothing, even after the slot holds another object.
using TObjectRef = uint32_t;

// The store's table of shared objects. Each entry counts the record
// references to its object; the entry (and its share of the object) goes
// with the last one.
class TSharedObjectTable {
 public:
  TSharedObjectTable() = default;
  TSharedObjectTable(const TSharedObjectTable&) = delete;
  TSharedObjectTable& operator=(const TSharedObjectTable&) = delete;

  // A new entry with one record reference. Raises std::bad_alloc beyond
  // 16 777 215 live entries.
  TObjectRef Add(std::shared_ptr<TSharedObject> object);
  // One more record reference. An unknown reference raises EAssertionFailed.
  void AddRef(TObjectRef ref);
  // One record reference less; true when it was the last (the entry is
  // gone). An unknown reference raises EAssertionFailed.
  bool Release(TObjectRef ref);

  // The object, or null for 0 and for references that name no entry.
  TSharedObject* Get(TObjectRef ref) const;
  std::shared_ptr<TSharedObject> Share(TObjectRef ref) const;
  uint32_t RefCount(TObjectRef ref) const;

  size_t LiveCount() const { return live_; }
  void Clear();

 private:
  struct Slot {
    std::shared_ptr<TSharedObject> object;
    uint32_t refs = 0;
    uint32_t nextFree = 0;
  };
  Slot* SlotOf(TObjectRef ref);
  const Slot* SlotOf(TObjectRef ref) const;

  std::vector<Slot> slots_;
  std::vector<uint8_t> generations_;  // per slot; kept by Clear
  uint32_t freeHead_ = 0;  // 1-based slot number, 0 for none
  size_t live_ = 0;
};

}  // namespace da
