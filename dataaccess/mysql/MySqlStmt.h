#pragma once
// Prepared statements: the text sent once with COM_STMT_PREPARE, parameter
// values in the binary form of COM_STMT_EXECUTE, rows back in the binary
// row format.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/DataTypes.h"
#include "common/Variant.h"
#include "mysql/MySqlErrors.h"
#include "mysql/MySqlResultSet.h"

namespace da::mysql {

class TMySqlSession;

// The bytes of a large parameter value held outside the variant (a blob of
// the record storage). Its pieces are handed out in order, decompressed.
class TMySqlBlobSource {
 public:
  virtual ~TMySqlBlobSource() = default;
  virtual uint64_t Size() const = 0;
  virtual void ForEachPiece(const std::function<void(const uint8_t* bytes, size_t count)>& sink) const = 0;
};

// One parameter as the driver hands it to execute.
struct TMySqlParamDesc {
  TDataType DataType = dtUnknown;
  TParamType ParamType = ptInput;
  int32_t Size = 0;                        // bytes sent of a dtBlob/dtBytes/dtVarBytes text value
  const Variant* Value = nullptr;          // borrowed for the call; null counts as null
  bool IsNull = false;
  const TMySqlBlobSource* Blob = nullptr;  // borrowed for the call; used instead of Value
};

// The MySQL type code sent for a parameter of an internal data type; raises
// EAssertionFailed "Invalid internal field type $%X (%d)" for any other.
uint8_t ParamTypeCode(TDataType dataType);

class TMySqlStmt : public TStoredError {
 public:
  static constexpr uint8_t kNotPrepared = 0;
  static constexpr uint8_t kPrepared = 1;

  // `session` is borrowed; it detaches the statement when it goes first.
  explicit TMySqlStmt(TMySqlSession* session);
  // Closes the statement (on the server too), swallowing any failure.
  ~TMySqlStmt();
  TMySqlStmt(const TMySqlStmt&) = delete;
  TMySqlStmt& operator=(const TMySqlStmt&) = delete;

  // Prepares `text`; a statement prepared before is closed first, on the
  // server too. Raises EMySqlException (the server's error, 2014, 2013,
  // 2027); the statement is then unprepared.
  void PrepareStatement(const uint8_t* text, size_t length);
  // Executes with the parameters (a leading ptResult parameter is skipped);
  // `unicode` sends texts as UTF-8. When the response announces rows, they
  // are pending on the session until fetched or drained.
  void ExecuteStatement(std::span<const TMySqlParamDesc> params, bool unicode);
  // Attaches a binary row object to the result. Raises 2029 when not
  // prepared, 2000 without result columns.
  void BindResult();
  // The next binary row: 0 with `row` set, or MYSQL_NO_DATA (100) at the end.
  int32_t Fetch(TMySqlBinds*& row);
  // Drains the statement's pending rows and frees its result.
  void FreeStatementResult();
  // Drops the result, drains, and when prepared has the session send
  // COM_STMT_CLOSE (no answer read) now or, while another result is
  // pending, before its next command; nothing is sent when the session has
  // no transport.
  void CloseStatement();
  // The session is going away: forget it (and so does the result).
  void DetachSession();

  TMySqlSession* Session() const { return session_; }
  TMySqlResultSet* Result() const { return result_.get(); }
  uint32_t StatementId() const { return statementId_; }
  uint8_t State() const { return state_; }
  int32_t ParamCount() const { return paramCount_; }
  int32_t ColumnCount() const { return columnCount_; }
  const TMySqlFieldInfos& Columns() const { return columns_; }
  uint64_t AffectedRows() const { return affectedRows_; }

 private:
  TMySqlSession& LiveSession() const;
  void ReplaceResult(TMySqlFieldInfos columns);
  void WriteParams(std::span<const TMySqlParamDesc> params, bool unicode);
  void WriteValue(const TMySqlParamDesc& param, const Variant& value, bool unicode);
  // A streamed result over the session for rows of these columns, owned
  // by this statement.
  std::unique_ptr<TMySqlResultSet> NewResult(TMySqlFieldInfos columns);
  bool RowsPending() const;

  TMySqlSession* session_;  // borrowed
  std::unique_ptr<TMySqlResultSet> result_;
  uint32_t statementId_ = 0;
  uint8_t state_ = kNotPrepared;
  int32_t paramCount_ = 0;
  int32_t columnCount_ = 0;
  TMySqlFieldInfos columns_;
  uint64_t affectedRows_ = 0;
  std::vector<uint16_t> typesSent_;  // code and flag byte of each parameter
  bool typesWereSent_ = false;
};

}  // namespace da::mysql
