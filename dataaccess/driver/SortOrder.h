#pragma once
// The sort order of a record store: the order text (the query's
// IndexFieldNames) parsed into sort columns, and the comparison of two
// records by those columns.

#include <cstdint>
#include <string_view>
#include <vector>

namespace da {

class TData;
class TFieldDesc;
class TFieldDescs;

enum class TSortType : uint8_t {
  stCaseInsensitive,  // CIS
  stCaseSensitive,    // CS: alphabetical, lower case before upper case on ties
  stBinary,           // BIN: byte order
};

struct TSortColumn {
  TFieldDesc* field = nullptr;  // weak: one of the store's descriptions
  bool descending = false;
  TSortType sortType = TSortType::stCaseSensitive;
};

// Field names separated by ";" or ",", each optionally followed by ASC or
// DESC and by CIS, CS or BIN, in any letter case; a name may be quoted with
// double quotes, back quotes or brackets. An unknown field raises
// EDatabaseError "Field %s not found", any other word a syntax error.
std::vector<TSortColumn> ParseSortOrder(std::string_view order, const TFieldDescs& fields,
                                       TSortType defaultSortType = TSortType::stCaseSensitive);

// <0, 0 or >0 comparing two records of `data` by `columns`; nulls first.
int CompareRecords(const TData& data, const std::vector<TSortColumn>& columns, const uint8_t* a, const uint8_t* b);

}  // namespace da
