#pragma once
// Where each column of the current row lies in the row's bytes. A result
// creates one TMySqlBinds and every fetch refills it; this is the row handle
// the call table hands out.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace da::mysql {

struct TMySqlBind {
  bool IsNull = false;
  int32_t Offset = 0;  // into the row buffer; 0 for a NULL column
  int32_t Length = 0;
  uint8_t Type = 0;    // the column's type code (binary rows)
};

class TMySqlBinds {
 public:
  explicit TMySqlBinds(size_t columnCount) : binds_(columnCount) {}
  TMySqlBinds(const TMySqlBinds&) = delete;
  TMySqlBinds& operator=(const TMySqlBinds&) = delete;

  size_t Count() const { return binds_.size(); }
  const TMySqlBind& operator[](size_t index) const { return binds_[index]; }
  TMySqlBind& operator[](size_t index) { return binds_[index]; }
  void Resize(size_t columnCount) { binds_.resize(columnCount); }

  // The bytes of the current row (borrowed from the session's packet buffer
  // or a stored row): valid until the next fetch on the same session.
  const uint8_t* Buffer() const { return buffer_; }
  size_t BufferSize() const { return bufferSize_; }

  // The column's bytes and length, or false for NULL (then `bytes` is null
  // and `length` 0). REQUIRES index < Count().
  bool FieldBytes(size_t index, const uint8_t*& bytes, size_t& length) const {
    const TMySqlBind& bind = binds_[index];
    if (bind.IsNull) {
      bytes = nullptr;
      length = 0;
      return false;
    }
    bytes = bind.Offset == 0 ? nullptr : buffer_ + bind.Offset;
    length = bytes && bind.Length > 0 ? static_cast<size_t>(bind.Length) : 0;
    return true;
  }

  // A text-protocol row: one length-coded value (or NULL) per column.
  // Raises 2027 "Malformed packet" when a length runs past `size`; the
  // binds are then unusable until the next successful parse.
  void ParseText(const uint8_t* row, size_t size);
  // A binary-protocol row: a 0 byte, the null bitmap, then the values laid
  // out by the column types held in the binds. Raises 2027 like ParseText.
  void ParseBinary(const uint8_t* row, size_t size);

 private:
  std::vector<TMySqlBind> binds_;
  const uint8_t* buffer_ = nullptr;
  size_t bufferSize_ = 0;
};

}  // namespace da::mysql
