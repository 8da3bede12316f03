#pragma once
// The call table over the wire client: the one implementation the driver
// uses in Direct mode. One instance serves the whole process (DirectApi());
// its query buffer and lock are shared by every connection.

#include <mutex>
#include <vector>

#include "mysql/CRVio.h"
#include "mysql/MySqlApi.h"

namespace da {
class THttpOptions;
}

namespace da::mysql {

class TMySQLAPIDirect : public TMySQLAPI {
 public:
  TMySQLAPIDirect();

  int32_t mysql_num_fields(TMySqlResultSet* result) override;
  TMYSQL_FIELD mysql_fetch_field_direct(TMySqlResultSet* result, uint32_t index) override;
  int32_t mysql_field_count(TMySqlSession* mysql) override;
  uint64_t mysql_affected_rows(TMySqlSession* mysql) override;
  uint64_t mysql_insert_id(TMySqlSession* mysql) override;
  int32_t mysql_errno(TMySqlSession* mysql) override;
  std::string mysql_error(TMySqlSession* mysql) override;
  std::string mysql_info(TMySqlSession* mysql) override;
  uint32_t mysql_thread_id(TMySqlSession* mysql) override;
  std::string mysql_character_set_name(TMySqlSession* mysql) override;
  TMySqlSession* mysql_init(TMySqlSession* mysql) override;
  int32_t mysql_ssl_set(TMySqlSession* mysql, const std::string& key, const std::string& cert, const std::string& ca,
                        const std::string& capath, const std::string& cipher) override;
  TMySqlSession* mysql_real_connect(TMySqlSession* mysql, const std::string& host, const std::string& user,
                                    const std::string& passwd, const std::string& db, uint32_t port,
                                    const std::string& unixSocket, uint32_t clientFlag) override;
  void mysql_close(TMySqlSession* sock) override;
  int32_t mysql_select_db(TMySqlSession* mysql, const std::string& db) override;
  int32_t mysql_real_query(TMySqlSession* mysql, const char* query, uint32_t length) override;
  int32_t mysql_kill(TMySqlSession* mysql, uint32_t pid) override;
  int32_t mysql_ping(TMySqlSession* mysql) override;
  std::string mysql_get_server_info(TMySqlSession* mysql) override;
  std::string mysql_get_client_info() override;
  std::string mysql_get_host_info(TMySqlSession* mysql) override;
  TMySqlResultSet* mysql_use_result(TMySqlSession* mysql) override;
  // 0 connect time-out, 2 named pipe, 8 local files allowed (non-zero, or a
  // null argument), 9 protocol, 11 and 12 read/write time-out, 29 the
  // server's public key may be asked for (non-zero, or a null argument);
  // others ignored.
  int32_t mysql_options(TMySqlSession* mysql, int option, const int32_t* arg) override;
  // 7 character-set name, 23 authentication plugin to announce, 28 file of
  // the server's public key; others ignored.
  int32_t mysql_options(TMySqlSession* mysql, int option, const std::string& arg) override;
  void mysql_free_result(TMySqlResultSet* result) override;
  TMySqlBinds* mysql_fetch_row(TMySqlResultSet* result) override;
  const uint32_t* mysql_fetch_lengths(TMySqlResultSet* result) override;
  int32_t mysql_server_init() override;
  void mysql_server_end() override;
  TMySqlStmt* mysql_stmt_init(TMySqlSession* mysql) override;
  int32_t mysql_stmt_prepare(TMySqlStmt* stmt, const char* query, uint32_t length) override;
  int32_t mysql_stmt_execute(TMySqlStmt* stmt) override;
  int32_t mysql_stmt_param_count(TMySqlStmt* stmt) override;
  bool mysql_stmt_bind_param(TMySqlStmt* stmt, void* bind) override;
  bool mysql_stmt_bind_result(TMySqlStmt* stmt, void* bind) override;
  int32_t mysql_stmt_field_count(TMySqlStmt* stmt) override;
  int32_t mysql_stmt_close(TMySqlStmt* stmt) override;
  int32_t mysql_stmt_free_result(TMySqlStmt* stmt) override;
  int32_t mysql_stmt_errno(TMySqlStmt* stmt) override;
  std::string mysql_stmt_error(TMySqlStmt* stmt) override;
  int32_t mysql_stmt_fetch(TMySqlStmt* stmt) override;
  int32_t mysql_stmt_fetch_column(TMySqlStmt* stmt, void* bind, uint32_t column, uint32_t offset) override;
  bool mysql_stmt_send_long_data(TMySqlStmt* stmt, uint32_t param, const char* data, uint32_t length) override;
  TMySqlResultSet* mysql_stmt_result_metadata(TMySqlStmt* stmt) override;
  TMySqlResultSet* mysql_stmt_param_metadata(TMySqlStmt* stmt) override;
  uint64_t mysql_stmt_affected_rows(TMySqlStmt* stmt) override;
  bool mysql_more_results(TMySqlSession* mysql) override;
  int32_t mysql_next_result(TMySqlSession* mysql) override;

  bool IsClientLoaded() override { return true; }
  void LoadClient() override {}
  void FreeClient() override {}
  void InitClient() override;

  void GetFieldDesc(TMySqlResultSet* result, uint32_t index, TMYSQL_FIELD& field, bool adjust) override;
  TMySqlBinds* FetchRowData(TMySqlResultSet* result) override { return mysql_fetch_row(result); }
  int32_t StmtFetch(TMySqlStmt* stmt, TMySqlBinds*& row) override;
  void GetRowLengths(TMySqlResultSet* result, std::vector<int32_t>& lengths) override;
  bool IsNullField(TMySqlBinds* row, uint32_t index) override;
  const uint8_t* GetFieldPointer(TMySqlResultSet* result, TMySqlBinds* row, uint32_t index) override;
  bool GetFieldBytes(TMySqlBinds* row, uint32_t index, const uint8_t*& bytes, size_t& length) override;
  void CopyFieldData(TMySqlBinds* row, uint32_t index, uint32_t length, uint8_t* destination,
                     uint32_t destinationOffset) override;
  void CopyFieldData(TMySqlBinds* row, uint32_t index, uint32_t length, uint8_t* destination) override;
  void CopyFieldText(TMySqlBinds* row, uint32_t index, uint32_t length, uint8_t* destination,
                     uint32_t destinationOffset) override;
  void CopyFieldText(TMySqlBinds* row, uint32_t index, uint32_t length, uint8_t* destination) override;
  const uint8_t* GetRowBufferAndOffset(TMySqlBinds* row, uint32_t index, int32_t ignored, int32_t& offset) override;
  std::string GetFieldText(TMySqlBinds* row, uint32_t index) override;
  int32_t StmtExecute(TMySqlStmt* stmt, std::span<const TMySqlParamDesc> params, bool unicode) override;
  int32_t StmtBindResult(TMySqlStmt* stmt) override;
  int32_t StmtFetchColumn(TMySqlStmt* stmt, uint32_t column) override;
  void StmtGetRowLengths(TMySqlBinds* row, std::vector<int32_t>& lengths) override;
  const uint8_t* StmtGetFieldPointer(TMySqlStmt* stmt, uint32_t index) override;

 private:
  std::mutex queryBufferLock_;
  std::vector<uint8_t> queryBuffer_;  // guarded by queryBufferLock_; grows, never shrinks
};

// The process's one call table over the wire client.
TMySQLAPIDirect& DirectApi();

// The session connects through `handler` (borrowed; null: its own transport).
void AttachIOHandler(TMySqlSession* mysql, TCRIOHandler* handler);
// The session connects through the HTTP tunnel with `options` (borrowed).
void AttachHttpOptions(TMySqlSession* mysql, const THttpOptions* options);

}  // namespace da::mysql
