#pragma once
// How a MySQL result column becomes a field of the record store: its
// internal data type, its length and its size in the record.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/DataTypes.h"
#include "mysql/MyCall.h"

namespace da {

// The settings that change the mapping.
struct TMyTypeOptions {
  bool fieldsAsString = false;
  bool enableBoolean = true;
  bool binaryAsString = true;
  bool optimizedBigInt = false;
  bool enableBCD = false;     // on the command or the connection
  bool enableFmtBCD = false;  // on the command or the connection
  bool decimalAsBCDLimited = false;
  bool useUnicode = false;
};

// The internal data type of a column. Codes 17 to 245 raise
// EAssertionFailed "Unknown MySQL datatype (<code>)".
TDataType MySqlDataType(const mysql::TMYSQL_FIELD& column, const TMyTypeOptions& options);

// What the length rules look at besides the column: the statement's
// keywords (upper case, as the lexer finds them) and the server version.
struct TMyLengthContext {
  std::vector<std::string> keywords;
  int serverMajor = 0, serverMinor = 0, serverRelease = 0;
  bool useUnicode = false;
  bool longStrings = true;
  bool flatBuffers = true;

  bool Has(const char* keyword) const;
  // The upper-case keywords of `sql`.
  static std::vector<std::string> KeywordsOf(const std::string& sql);
};

// Applies the length rules to a column already given its data type:
// `dataType` may change (memo for long strings, ext types without flat
// buffers), and the field's length is answered.
int MySqlFieldLength(const mysql::TMYSQL_FIELD& column, TDataType& dataType, const TMyLengthContext& context);

// Bytes the field takes in a record; an ext string type of length 0 takes
// length 65530 (answered through `length`).
size_t MySqlFieldSize(TDataType dataType, int& length);

}  // namespace da
