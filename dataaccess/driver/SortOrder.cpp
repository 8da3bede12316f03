#include "driver/SortOrder.h"

#include <cstring>
#include <string>

#include "common/AnsiCase.h"
#include "common/DAErrors.h"
#include "common/Format.h"
#include "common/Unaligned.h"
#include "driver/MemData.h"

namespace da {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

[[noreturn]] void SyntaxError(std::string_view word, std::string_view order) {
  DatabaseError(Format("Syntax error in sort order \"%s\" at \"%s\"", {order, word}));
}

template <typename T>
int Compare3(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareBytes(std::string_view a, std::string_view b) {
  int c = a.compare(b);  // char_traits<char> compares as unsigned char
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareText(std::string_view a, std::string_view b, TSortType type) {
  switch (type) {
    case TSortType::stBinary:
      return CompareBytes(a, b);
    case TSortType::stCaseInsensitive:
      return AnsiCompareText(a, b);
    case TSortType::stCaseSensitive:
    default: {
      int c = AnsiCompareText(a, b);
      return c != 0 ? c : -CompareBytes(a, b);  // lower case has the higher codes
    }
  }
}

char16_t FoldWide(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 32);
  return c;
}

int CompareWide(std::u16string_view a, std::u16string_view b, TSortType type) {
  auto raw = [&] { return a < b ? -1 : (b < a ? 1 : 0); };
  if (type == TSortType::stBinary) return raw();
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t x = FoldWide(a[i]), y = FoldWide(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return type == TSortType::stCaseInsensitive ? 0 : -raw();
}

int CompareField(const TData& data, const TFieldDesc& f, TSortType type, uint8_t* a, uint8_t* b) {
  const bool nullA = data.GetNull(f.FieldNo(), a);
  const bool nullB = data.GetNull(f.FieldNo(), b);
  if (nullA || nullB) return nullA == nullB ? 0 : (nullA ? -1 : 1);
  const uint8_t* pa = a + f.Offset();
  const uint8_t* pb = b + f.Offset();
  switch (f.DataType()) {
    case dtInt8:
    case dtInt16:
    case dtBoolean:
      return Compare3(LoadUnaligned<int16_t>(pa), LoadUnaligned<int16_t>(pb));
    case dtUInt16:
      return Compare3(LoadUnaligned<uint16_t>(pa), LoadUnaligned<uint16_t>(pb));
    case dtInt32:
      return Compare3(LoadUnaligned<int32_t>(pa), LoadUnaligned<int32_t>(pb));
    case dtUInt32:
      return Compare3(LoadUnaligned<uint32_t>(pa), LoadUnaligned<uint32_t>(pb));
    case dtInt64:
    case dtBCD:
      return Compare3(LoadUnaligned<int64_t>(pa), LoadUnaligned<int64_t>(pb));
    case dtFloat:
    case dtCurrency:
    case dtDate:
    case dtTime:
    case dtDateTime:
      return Compare3(LoadUnaligned<double>(pa), LoadUnaligned<double>(pb));
    case dtString:
    case dtGuid:
    case dtExtString:
      return CompareText(data.GetFieldAsVariant(f.FieldNo(), a).AsString(),
                         data.GetFieldAsVariant(f.FieldNo(), b).AsString(), type);
    case dtWideString:
    case dtExtWideString:
      return CompareWide(data.GetFieldAsVariant(f.FieldNo(), a).AsWideString(),
                         data.GetFieldAsVariant(f.FieldNo(), b).AsWideString(), type);
    case dtBytes:
    case dtVarBytes:
    case dtExtVarBytes: {
      Variant::Bytes x = data.GetFieldAsVariant(f.FieldNo(), a).AsBytes();
      Variant::Bytes y = data.GetFieldAsVariant(f.FieldNo(), b).AsBytes();
      return Compare3(x, y);
    }
    default:
      return 0;  // blobs, variants and the rest do not order records
  }
}

}  // namespace

std::vector<TSortColumn> ParseSortOrder(std::string_view order, const TFieldDescs& fields, TSortType defaultSortType) {
  std::vector<TSortColumn> columns;
  size_t start = 0;
  while (start <= order.size()) {
    size_t end = order.find_first_of(";,", start);
    if (end == std::string_view::npos) end = order.size();
    std::string_view part = TrimView(order.substr(start, end - start));
    start = end + 1;
    if (part.empty()) continue;

    std::string_view name;
    std::string_view rest;
    const char open = part.front();
    if (open == '"' || open == '`' || open == '[') {
      const char close = open == '[' ? ']' : open;
      size_t closing = part.find(close, 1);
      if (closing == std::string_view::npos) SyntaxError(part, order);
      name = part.substr(1, closing - 1);
      rest = part.substr(closing + 1);
      if (!rest.empty() && !IsBlank(rest.front())) SyntaxError(rest, order);
    } else {
      size_t blank = 0;
      while (blank < part.size() && !IsBlank(part[blank])) ++blank;
      name = part.substr(0, blank);
      rest = part.substr(blank);
    }

    TSortColumn column;
    column.field = &fields.FieldByName(name);
    // Calculated and lookup values are not in the stored records.
    if (!column.field->IsDataField())
      DatabaseError(Format("Field %s is not stored in the records and cannot order them", {name}));
    column.sortType = defaultSortType;
    rest = TrimView(rest);
    while (!rest.empty()) {
      size_t blank = 0;
      while (blank < rest.size() && !IsBlank(rest[blank])) ++blank;
      std::string_view word = rest.substr(0, blank);
      rest = TrimView(rest.substr(blank));
      if (AnsiSameText(word, "ASC"))
        column.descending = false;
      else if (AnsiSameText(word, "DESC"))
        column.descending = true;
      else if (AnsiSameText(word, "CIS"))
        column.sortType = TSortType::stCaseInsensitive;
      else if (AnsiSameText(word, "CS"))
        column.sortType = TSortType::stCaseSensitive;
      else if (AnsiSameText(word, "BIN"))
        column.sortType = TSortType::stBinary;
      else
        SyntaxError(word, order);
    }
    columns.push_back(column);
  }
  return columns;
}

int CompareRecords(const TData& data, const std::vector<TSortColumn>& columns, const uint8_t* a, const uint8_t* b) {
  // GetNull may mark an empty blob null; the records are the store's own.
  auto* ma = const_cast<uint8_t*>(a);
  auto* mb = const_cast<uint8_t*>(b);
  for (const TSortColumn& c : columns) {
    int r = CompareField(data, *c.field, c.sortType, ma, mb);
    if (r != 0) return c.descending ? -r : r;
  }
  return 0;
}

}  // namespace da
