#include "driver/MyFieldTypes.h"

#include <algorithm>

#include "common/AnsiCase.h"
#include "common/Exception.h"
#include "common/Format.h"
#include "driver/MyParser.h"

namespace da {

using namespace mysql;

namespace {

bool IsBlobType(uint8_t type) {
  return type == MYSQL_TYPE_TINY_BLOB || type == MYSQL_TYPE_MEDIUM_BLOB || type == MYSQL_TYPE_LONG_BLOB ||
         type == MYSQL_TYPE_BLOB || type == MYSQL_TYPE_GEOMETRY;
}

TDataType DecimalType(const TMYSQL_FIELD& c, const TMyTypeOptions& o) {
  if (!o.decimalAsBCDLimited) {
    if (o.enableFmtBCD) return dtFmtBCD;
    if (o.enableBCD) return dtBCD;
    return dtFloat;
  }
  const int precision = static_cast<int>(c.length) - 1 - (c.decimals > 0 ? 1 : 0);
  if (o.enableBCD && precision <= 14 && c.decimals <= 4) return dtBCD;
  if (o.enableFmtBCD) return dtFmtBCD;
  return dtFloat;
}

}  // namespace

TDataType MySqlDataType(const TMYSQL_FIELD& c, const TMyTypeOptions& o) {
  const bool binary = (c.flags & BINARY_FLAG) != 0;
  if (o.fieldsAsString && !IsBlobType(c.type) && !(c.type >= 17 && c.type <= 245)) return dtString;
  TDataType t;
  switch (c.type) {
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL: t = DecimalType(c, o); break;
    case MYSQL_TYPE_TINY:
      t = (c.length == 1 && o.enableBoolean) ? dtBoolean : (c.flags & UNSIGNED_FLAG) ? dtUInt16 : dtInt8;
      break;
    case MYSQL_TYPE_SHORT: t = (c.flags & UNSIGNED_FLAG) ? dtUInt16 : dtInt16; break;
    case MYSQL_TYPE_LONG: t = (c.flags & UNSIGNED_FLAG) ? dtUInt32 : dtInt32; break;
    case MYSQL_TYPE_FLOAT:
    case MYSQL_TYPE_DOUBLE: t = dtFloat; break;
    case MYSQL_TYPE_NULL: t = dtString; break;
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_DATETIME: t = dtDateTime; break;
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_BIT: t = (o.optimizedBigInt && c.length < 12) ? dtInt32 : dtInt64; break;
    case MYSQL_TYPE_INT24: t = dtInt32; break;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE: t = dtDate; break;
    case MYSQL_TYPE_TIME: t = dtTime; break;
    case MYSQL_TYPE_YEAR: t = dtUInt16; break;
    case MYSQL_TYPE_VARCHAR:
    case MYSQL_TYPE_VAR_STRING: t = (binary && c.charsetnr == 63 && !o.binaryAsString) ? dtVarBytes : dtString; break;
    case MYSQL_TYPE_STRING: t = (binary && c.charsetnr == 63 && !o.binaryAsString) ? dtBytes : dtString; break;
    case MYSQL_TYPE_ENUM:
    case MYSQL_TYPE_SET: t = dtString; break;
    default:
      if (c.type >= 17 && c.type <= 245)
        throw EAssertionFailed(Format("Unknown MySQL datatype (%d)", {static_cast<int>(c.type)}));
      t = binary ? dtBlob : dtMemo;  // the blob types and every other code above 245
      break;
  }
  if (o.useUnicode) {
    if (t == dtString) t = dtWideString;
    if (t == dtMemo) t = dtWideMemo;
  }
  return t;
}

bool TMyLengthContext::Has(const char* keyword) const {
  return std::find(keywords.begin(), keywords.end(), keyword) != keywords.end();
}

std::vector<std::string> TMyLengthContext::KeywordsOf(const std::string& sql) {
  std::vector<std::string> words;
  TMyParser parser(sql);
  parser.SetOmitBlank(true);
  parser.SetOmitComment(true);
  std::string lexem;
  try {
    for (int code = parser.GetNext(lexem); code != LexEnd; code = parser.GetNext(lexem)) {
      // Keywords, and plain words that the table does not list (PROCESSLIST).
      if (code > 0 || (code == LexIdent && !lexem.empty() && !parser.IsIdentQuote(static_cast<unsigned char>(lexem[0]))))
        words.push_back(AnsiUpperCase(lexem));
    }
  } catch (const EParserError&) {
    // What was read so far is all the rules can use.
  }
  return words;
}

int MySqlFieldLength(const TMYSQL_FIELD& c, TDataType& dt, const TMyLengthContext& x) {
  int length = static_cast<int>(c.length);
  const bool show = x.Has("SHOW");
  if (x.useUnicode && c.charsetnr != 63 && !show &&
      (dt == dtMemo || dt == dtWideString || dt == dtExtWideString || dt == dtWideMemo))
    length /= 3;

  const bool binary = (c.flags & BINARY_FLAG) != 0;
  // An expression of unknown size.
  if (c.type == MYSQL_TYPE_VAR_STRING && c.length == 65535 && c.table.empty())
    dt = binary ? dtBlob : (x.useUnicode ? dtWideMemo : dtMemo);

  if (show) {
    const std::string name = AnsiLowerCase(c.name);
    const bool slaveStatus = x.Has("SLAVE") && x.Has("STATUS");
    if ((name == "privilege" || name == "context") && length < 30 && x.Has("PRIVILEGES")) length = 40;
    else if ((name == "state" || name == "command") && x.Has("PROCESSLIST")) length *= 3;
    else if (name == "slave_io_state" && length < 80 && slaveStatus) length = 80;
    else if ((name == "slave_io_running" || name == "slave_sql_running") && length < 3 && slaveStatus) length *= 3;
    else if ((name == "last_error" || name == "last_io_error" || name == "last_sql_error") && length < 80 &&
             slaveStatus)
      length = 2048;
    else if (name == "create table" && x.Has("CREATE") && ((x.serverMajor == 4 && x.serverMinor == 0) || x.serverMajor == 5))
      length = 65535;
    else if (x.serverMajor == 5 && name == "create procedure" && x.Has("CREATE"))
      length = 65535;
    else if (x.serverMajor == 5 && x.serverMinor == 0 && x.Has("ENGINES"))
      length = length * 3 + 1;
    else if (x.serverMajor == 5 && x.serverRelease > 51 && name == "user")
      length = 16;
    else if (x.serverMajor == 5 && x.serverRelease > 51 && name == "host")
      length = 60;
  }
  if (x.serverMajor < 5 && (x.Has("EXPLAIN") || x.Has("DESCRIBE")) && AnsiLowerCase(c.name) == "type")
    length = 65534;
  if (!x.longStrings && length > 256) {
    if (dt == dtString) dt = dtMemo;
    if (dt == dtWideString) dt = dtWideMemo;
  }
  if (!x.flatBuffers && (length >= 32 || length == 0)) {
    if (dt == dtString) dt = dtExtString;
    if (dt == dtBytes || dt == dtVarBytes) dt = dtExtVarBytes;
    if (dt == dtWideString) dt = dtExtWideString;
  }
  return length;
}

size_t MySqlFieldSize(TDataType dt, int& length) {
  const size_t n = length > 0 ? static_cast<size_t>(length) : 0;
  switch (dt) {
    case dtString:
    case dtBytes: return n + 1;
    case dtInt8:
    case dtInt16:
    case dtUInt16:
    case dtBoolean: return 2;
    case dtInt32:
    case dtUInt32:
    case dtBlob:
    case dtMemo:
    case dtWideMemo: return 4;
    case dtExtString:
    case dtExtWideString:
      if (length == 0) length = 65530;
      return 4;
    case dtExtVarBytes: return 4;
    case dtVarBytes: return n + 2;
    case dtWideString: return n * 2 + 2;
    case dtFmtBCD: return std::max<size_t>(n + 1, 34);
    default: return 8;  // dtFloat, dtBCD, dtDate, dtTime, dtDateTime, dtInt64
  }
}

}  // namespace da
