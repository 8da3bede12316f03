#pragma once
// The client call table through which the driver reaches a MySQL server.
// Its slots mirror the MySQL C client interface, plus the row-access
// routines the driver reads columns with. TMySQLAPIDirect (MySqlApiDirect.h)
// implements it over the wire client.
//
// Error convention: a call that can fail clears the handle's stored error
// first; a wire failure is stored in the session (or statement) and the
// call answers its code (integer calls) or null (object calls). mysql_errno
// and mysql_error (and the statement forms) read the stored values. Other
// exceptions pass through.
//
// Handles: a session for the connection, a result set for the result, a
// statement, and a row object for a fetched row. Handles returned by
// mysql_init, mysql_use_result and mysql_stmt_init belong to the caller and
// are given back with mysql_close, mysql_free_result and mysql_stmt_close.
// The result of mysql_stmt_result_metadata belongs to the statement: it is
// valid until the statement's next execute, mysql_stmt_free_result or
// mysql_stmt_close; mysql_free_result on it drains its rows and leaves the
// object to the statement.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "mysql/MyCall.h"
#include "mysql/MySqlStmt.h"

namespace da::mysql {

class TMySqlSession;
class TMySqlResultSet;
class TMySqlBinds;

class TMySQLAPI {
 public:
  TMySQLAPI() = default;
  virtual ~TMySQLAPI() = default;
  TMySQLAPI(const TMySQLAPI&) = delete;
  TMySQLAPI& operator=(const TMySQLAPI&) = delete;

  // --- The C interface's calls, in slot order ----------------------------
  virtual int32_t mysql_num_fields(TMySqlResultSet* result) = 0;
  virtual TMYSQL_FIELD mysql_fetch_field_direct(TMySqlResultSet* result, uint32_t index) = 0;
  virtual int32_t mysql_field_count(TMySqlSession* mysql) = 0;
  // Affected rows and insert id take the server's full unsigned 64-bit range;
  // affected rows is all bits set (the C interface's -1) after
  // mysql_next_result starts.
  virtual uint64_t mysql_affected_rows(TMySqlSession* mysql) = 0;
  virtual uint64_t mysql_insert_id(TMySqlSession* mysql) = 0;
  virtual int32_t mysql_errno(TMySqlSession* mysql) = 0;
  virtual std::string mysql_error(TMySqlSession* mysql) = 0;
  virtual std::string mysql_info(TMySqlSession* mysql) = 0;
  virtual uint32_t mysql_thread_id(TMySqlSession* mysql) = 0;
  virtual std::string mysql_character_set_name(TMySqlSession* mysql) = 0;
  virtual TMySqlSession* mysql_init(TMySqlSession* mysql) = 0;
  virtual int32_t mysql_ssl_set(TMySqlSession* mysql, const std::string& key, const std::string& cert,
                                const std::string& ca, const std::string& capath, const std::string& cipher) = 0;
  virtual TMySqlSession* mysql_real_connect(TMySqlSession* mysql, const std::string& host, const std::string& user,
                                            const std::string& passwd, const std::string& db, uint32_t port,
                                            const std::string& unixSocket, uint32_t clientFlag) = 0;
  virtual void mysql_close(TMySqlSession* sock) = 0;
  virtual int32_t mysql_select_db(TMySqlSession* mysql, const std::string& db) = 0;
  virtual int32_t mysql_real_query(TMySqlSession* mysql, const char* query, uint32_t length) = 0;
  virtual int32_t mysql_kill(TMySqlSession* mysql, uint32_t pid) = 0;
  virtual int32_t mysql_ping(TMySqlSession* mysql) = 0;
  virtual std::string mysql_get_server_info(TMySqlSession* mysql) = 0;
  virtual std::string mysql_get_client_info() = 0;
  virtual std::string mysql_get_host_info(TMySqlSession* mysql) = 0;
  virtual TMySqlResultSet* mysql_use_result(TMySqlSession* mysql) = 0;
  virtual int32_t mysql_options(TMySqlSession* mysql, int option, const int32_t* arg) = 0;
  virtual int32_t mysql_options(TMySqlSession* mysql, int option, const std::string& arg) = 0;
  virtual void mysql_free_result(TMySqlResultSet* result) = 0;
  virtual TMySqlBinds* mysql_fetch_row(TMySqlResultSet* result) = 0;
  virtual const uint32_t* mysql_fetch_lengths(TMySqlResultSet* result) = 0;
  virtual int32_t mysql_server_init() = 0;
  virtual void mysql_server_end() = 0;
  virtual TMySqlStmt* mysql_stmt_init(TMySqlSession* mysql) = 0;
  virtual int32_t mysql_stmt_prepare(TMySqlStmt* stmt, const char* query, uint32_t length) = 0;
  virtual int32_t mysql_stmt_execute(TMySqlStmt* stmt) = 0;
  virtual int32_t mysql_stmt_param_count(TMySqlStmt* stmt) = 0;
  virtual bool mysql_stmt_bind_param(TMySqlStmt* stmt, void* bind) = 0;
  virtual bool mysql_stmt_bind_result(TMySqlStmt* stmt, void* bind) = 0;
  virtual int32_t mysql_stmt_field_count(TMySqlStmt* stmt) = 0;
  virtual int32_t mysql_stmt_close(TMySqlStmt* stmt) = 0;
  virtual int32_t mysql_stmt_free_result(TMySqlStmt* stmt) = 0;
  virtual int32_t mysql_stmt_errno(TMySqlStmt* stmt) = 0;
  virtual std::string mysql_stmt_error(TMySqlStmt* stmt) = 0;
  virtual int32_t mysql_stmt_fetch(TMySqlStmt* stmt) = 0;
  virtual int32_t mysql_stmt_fetch_column(TMySqlStmt* stmt, void* bind, uint32_t column, uint32_t offset) = 0;
  virtual bool mysql_stmt_send_long_data(TMySqlStmt* stmt, uint32_t param, const char* data, uint32_t length) = 0;
  virtual TMySqlResultSet* mysql_stmt_result_metadata(TMySqlStmt* stmt) = 0;
  virtual TMySqlResultSet* mysql_stmt_param_metadata(TMySqlStmt* stmt) = 0;
  virtual uint64_t mysql_stmt_affected_rows(TMySqlStmt* stmt) = 0;
  virtual bool mysql_more_results(TMySqlSession* mysql) = 0;
  virtual int32_t mysql_next_result(TMySqlSession* mysql) = 0;

  // --- Loading and set-up ------------------------------------------------
  virtual bool IsClientLoaded() = 0;
  virtual void LoadClient() = 0;
  virtual void FreeClient() = 0;
  virtual void InitClient() = 0;

  // --- Column descriptions and row access --------------------------------
  // The column at `index` (an assertion when outside the result's columns),
  // its length capped at 65535 (then tripled for text types with `adjust`
  // on a pre-4.1 connection).
  virtual void GetFieldDesc(TMySqlResultSet* result, uint32_t index, TMYSQL_FIELD& field, bool adjust) = 0;
  // As mysql_fetch_row.
  virtual TMySqlBinds* FetchRowData(TMySqlResultSet* result) = 0;
  // The next binary row of a statement: 0 with `row` set, 100 at the end,
  // or an error code.
  virtual int32_t StmtFetch(TMySqlStmt* stmt, TMySqlBinds*& row) = 0;
  // lengths[i] := length of column i of the current row.
  virtual void GetRowLengths(TMySqlResultSet* result, std::vector<int32_t>& lengths) = 0;
  virtual bool IsNullField(TMySqlBinds* row, uint32_t index) = 0;
  // The column's bytes, or null for NULL. Valid until the next fetch on the
  // same session.
  virtual const uint8_t* GetFieldPointer(TMySqlResultSet* result, TMySqlBinds* row, uint32_t index) = 0;
  // IsNullField, GetFieldPointer and the column's length in one call, for
  // readers that take every column of every row: false for NULL (then
  // `bytes` is null and `length` 0).
  virtual bool GetFieldBytes(TMySqlBinds* row, uint32_t index, const uint8_t*& bytes, size_t& length) = 0;
  // Copies the column's bytes (at most `length`, never more than the column
  // holds) to destination + offset; nothing for NULL or empty columns.
  virtual void CopyFieldData(TMySqlBinds* row, uint32_t index, uint32_t length, uint8_t* destination,
                             uint32_t destinationOffset) = 0;
  virtual void CopyFieldData(TMySqlBinds* row, uint32_t index, uint32_t length, uint8_t* destination) = 0;
  // As CopyFieldData, then a 0 byte at destination + offset + length
  // (always); the form without offset writes it only when bytes were copied.
  virtual void CopyFieldText(TMySqlBinds* row, uint32_t index, uint32_t length, uint8_t* destination,
                             uint32_t destinationOffset) = 0;
  virtual void CopyFieldText(TMySqlBinds* row, uint32_t index, uint32_t length, uint8_t* destination) = 0;
  virtual const uint8_t* GetRowBufferAndOffset(TMySqlBinds* row, uint32_t index, int32_t ignored,
                                               int32_t& offset) = 0;
  virtual std::string GetFieldText(TMySqlBinds* row, uint32_t index) = 0;
  // Executes a prepared statement with the driver's parameters.
  virtual int32_t StmtExecute(TMySqlStmt* stmt, std::span<const TMySqlParamDesc> params, bool unicode) = 0;
  // Converts and hands the parameters to mysql_stmt_bind_param (so in Direct
  // mode it fails like that slot).
  virtual bool StmtBindParams(TMySqlStmt* stmt, std::span<const TMySqlParamDesc> params);
  virtual int32_t StmtBindResult(TMySqlStmt* stmt) = 0;
  virtual int32_t StmtFetchColumn(TMySqlStmt* stmt, uint32_t column) = 0;
  virtual void StmtGetRowLengths(TMySqlBinds* row, std::vector<int32_t>& lengths) = 0;
  virtual const uint8_t* StmtGetFieldPointer(TMySqlStmt* stmt, uint32_t index) = 0;

  // --- Routines of every table --------------------------------------------
  // Read and write time-outs := seconds, or one year when seconds is 0.
  void ApplyCommandTimeout(TMySqlSession* mysql, int32_t seconds);
  // "5.0.95-log" gives 5, 0 and 95.
  static void ParseVersion(const std::string& text, int& major, int& minor, int& release);

  const std::string& ClientVersion() const { return clientVersion_; }
  uint8_t ClientStructVer() const { return clientStructVer_; }

 protected:
  std::string clientVersion_;
  uint8_t clientStructVer_ = 0;
  // Scratch of the parameter conversion in StmtBindParams.
  std::vector<uint8_t> paramScratch_;
  std::vector<uint32_t> lengthScratch_;
};

}  // namespace da::mysql
