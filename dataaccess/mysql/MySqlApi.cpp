#include "mysql/MySqlApi.h"

#include <cctype>

namespace da::mysql {
namespace {

constexpr int32_t kOneYearSeconds = 31536000;

// Reads the digits at text[pos...] (advancing pos); 0 when there are none.
int ReadDigits(const std::string& text, size_t& pos) {
  int value = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    if (value < 100000000) value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  return value;
}

}  // namespace

bool TMySQLAPI::StmtBindParams(TMySqlStmt* stmt, std::span<const TMySqlParamDesc> params) {
  paramScratch_.assign(params.size(), 0);
  lengthScratch_.assign(params.size(), 0);
  for (size_t i = 0; i < params.size(); ++i) paramScratch_[i] = ParamTypeCode(params[i].DataType);
  return mysql_stmt_bind_param(stmt, paramScratch_.data());
}

void TMySQLAPI::ApplyCommandTimeout(TMySqlSession* mysql, int32_t seconds) {
  if (clientStructVer_ != 0 && clientStructVer_ != 3 && clientStructVer_ != 4) return;
  int32_t value = seconds == 0 ? kOneYearSeconds : seconds;
  mysql_options(mysql, MYSQL_OPT_READ_TIMEOUT, &value);
  mysql_options(mysql, MYSQL_OPT_WRITE_TIMEOUT, &value);
}

void TMySQLAPI::ParseVersion(const std::string& text, int& major, int& minor, int& release) {
  major = minor = release = 0;
  size_t dot = text.find('.');
  if (dot == std::string::npos) {
    size_t pos = 0;
    major = ReadDigits(text, pos);
    return;
  }
  size_t pos = 0;
  major = ReadDigits(text, pos);
  pos = dot + 1;
  minor = ReadDigits(text, pos);
  ++pos;  // the character after the minor number
  if (pos < text.size()) release = ReadDigits(text, pos);
}

}  // namespace da::mysql
