#include "mysql/MySqlBind.h"

#include "mysql/MyCall.h"
#include "mysql/MySqlErrors.h"

namespace da::mysql {
namespace {

[[noreturn]] void Malformed() { throw EMySqlException(CR_MALFORMED_PACKET); }

// Reads the length prefix at row[pos] (advancing pos) into `length`;
// answers false for NULL. Every byte it reads lies below `size`.
inline bool ReadValueLength(const uint8_t* row, size_t size, size_t& pos, uint64_t& length) {
  if (pos >= size) Malformed();
  uint8_t b = row[pos++];
  size_t width;
  switch (b) {
    case 251: return false;
    case 252: width = 2; break;
    case 253: width = 3; break;
    case 254: width = 8; break;
    case 255: Malformed();
    default: length = b; return true;
  }
  if (size - pos < width) Malformed();
  length = 0;
  for (size_t i = 0; i < width; ++i) length |= uint64_t{row[pos + i]} << (8 * i);
  pos += width;
  return true;
}

inline void Place(TMySqlBind& bind, size_t size, size_t& pos, uint64_t length) {
  if (length > size - pos) Malformed();
  bind.IsNull = false;
  bind.Offset = static_cast<int32_t>(pos);
  bind.Length = static_cast<int32_t>(length);
  pos += static_cast<size_t>(length);
}

inline void SetNull(TMySqlBind& bind) {
  bind.IsNull = true;
  bind.Offset = 0;
  bind.Length = 0;
}

// Width of a fixed-size binary value, 0 for length-prefixed types.
inline size_t FixedWidth(uint8_t type) {
  switch (type) {
    case MYSQL_TYPE_TINY: return 1;
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_YEAR: return 2;
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_FLOAT:
    case MYSQL_TYPE_INT24: return 4;
    case MYSQL_TYPE_DOUBLE:
    case MYSQL_TYPE_LONGLONG: return 8;
    default: return 0;
  }
}

}  // namespace

void TMySqlBinds::ParseText(const uint8_t* row, size_t size) {
  buffer_ = row;
  bufferSize_ = size;
  size_t pos = 0;
  for (TMySqlBind& bind : binds_) {
    uint64_t length = 0;
    if (!ReadValueLength(row, size, pos, length)) {
      SetNull(bind);
      continue;
    }
    Place(bind, size, pos, length);
  }
}

void TMySqlBinds::ParseBinary(const uint8_t* row, size_t size) {
  buffer_ = row;
  bufferSize_ = size;
  const size_t count = binds_.size();
  const size_t valuesStart = (count + 9) / 8 + 1;
  if (size < valuesStart || row[0] != 0) Malformed();
  size_t pos = valuesStart;
  for (size_t i = 0; i < count; ++i) {
    TMySqlBind& bind = binds_[i];
    if (row[1 + (i + 2) / 8] & (1u << ((i + 2) % 8))) {
      SetNull(bind);
      continue;
    }
    uint64_t length = FixedWidth(bind.Type);
    if (length == 0 && !ReadValueLength(row, size, pos, length)) {
      SetNull(bind);
      continue;
    }
    Place(bind, size, pos, length);
  }
}

}  // namespace da::mysql
