#pragma once
// One result being read: its column descriptions, its rows (streamed from
// the session's packet buffer, or stored) and the row object each fetch
// refills.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mysql/MySqlBind.h"

namespace da::mysql {

class TMySqlSession;

// One column description.
struct TMySqlFieldInfo {
  std::string Name;
  std::string OrgName;   // empty before protocol 4.1
  std::string Table;
  std::string OrgTable;
  std::string Database;  // empty before protocol 4.1
  std::string DefaultValue;
  uint32_t Length = 0;
  uint32_t Decimals = 0;
  uint32_t MaxLength = 0;
  uint32_t Flags = 0;    // the server's, plus NUM_FLAG for numeric types
  uint32_t CharsetNr = 0;
  uint8_t Type = 0;
};
using TMySqlFieldInfos = std::vector<TMySqlFieldInfo>;

// Rows read at once, each its own byte array.
using TRows = std::vector<std::vector<uint8_t>>;

class TMySqlResultSet {
 public:
  // A streamed result over `session` (borrowed; detached by the session when
  // it goes first). With `textRows` false it has no text row object: its
  // rows are binary and need a binary row object (SetResultBinds).
  TMySqlResultSet(TMySqlSession* session, TMySqlFieldInfos columns, bool textRows = true);
  // A stored result of `columnCount` values per row (column definitions,
  // statement metadata).
  TMySqlResultSet(TRows rows, size_t columnCount);
  // Forgets the session's reference to this result; reads nothing.
  ~TMySqlResultSet();
  TMySqlResultSet(const TMySqlResultSet&) = delete;
  TMySqlResultSet& operator=(const TMySqlResultSet&) = delete;

  // The next row, or null at the end. A streamed row lies in the session's
  // packet buffer and is valid until the next read on the session. Raises
  // EMySqlException (the server's error, 2013, 2027; 2028 when the result
  // has no row object for its rows); a streamed result that failed to
  // read ends there, so that no later fetch waits for rows that never come,
  // and after a failure that leaves the rest of the result unread the
  // session has given up its connection (TMySqlSession::InStep).
  TMySqlBinds* FetchNextRow();
  // What mysql_free_result does before the object goes: drains what the
  // server still sends for it and detaches it from its session; it then
  // fetches no more rows. Swallows EMySqlException.
  void Release();

  // A statement's result belongs to the statement, which frees it; a
  // caller given it (mysql_stmt_result_metadata) only releases it.
  bool OwnedByStatement() const { return ownedByStatement_; }
  void SetOwnedByStatement() { ownedByStatement_ = true; }

  TMySqlSession* Session() const { return session_; }
  void DetachSession() { session_ = nullptr; }
  size_t ColumnCount() const { return columnCount_; }
  const TMySqlFieldInfos& Columns() const { return columns_; }
  bool EndReached() const { return endReached_; }
  int32_t RowCount() const { return rowCount_; }
  bool IsStored() const { return stored_; }

  // The text row object (null for a binary result).
  TMySqlBinds* Row() const { return row_.get(); }
  // The binary row object attached by the statement, or null.
  TMySqlBinds* ResultBinds() const { return resultBinds_.get(); }
  void SetResultBinds(std::unique_ptr<TMySqlBinds> binds) { resultBinds_ = std::move(binds); }
  std::unique_ptr<TMySqlBinds> TakeResultBinds() { return std::move(resultBinds_); }

 private:
  TMySqlBinds* FetchStored();
  TMySqlBinds* ParseRow(const uint8_t* row, size_t size);

  TRows rows_;
  bool stored_ = false;
  int32_t rowIndex_ = 0;
  int32_t rowCount_ = 0;
  size_t columnCount_ = 0;
  const uint8_t* rowBuffer_ = nullptr;
  std::unique_ptr<TMySqlBinds> resultBinds_;
  TMySqlFieldInfos columns_;
  TMySqlSession* session_ = nullptr;  // borrowed
  bool endReached_ = false;
  bool ownedByStatement_ = false;
  std::unique_ptr<TMySqlBinds> row_;
};

}  // namespace da::mysql
