#include "mysql/MySqlApiDirect.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/Exception.h"
#include "mysql/MySqlErrors.h"
#include "mysql/MySqlResultSet.h"
#include "mysql/MySqlSession.h"
#include "mysql/MySqlStmt.h"

namespace da::mysql {
namespace {

constexpr const char* kClientInfo = "7.0.0 Direct";
constexpr uint32_t kMaxFieldLength = 65535;

[[noreturn]] void NotInDirectMode(const char* call) {
  throw EAssertionFailed(std::string(call) + " is not available in Direct mode");
}
[[noreturn]] void AbstractError() { throw Exception("Abstract Error"); }

TMySqlSession& Checked(TMySqlSession* mysql) {
  if (!mysql) throw EAssertionFailed("No MySQL connection handle");
  return *mysql;
}
TMySqlStmt& Checked(TMySqlStmt* stmt) {
  if (!stmt) throw EAssertionFailed("No MySQL statement handle");
  return *stmt;
}

// Runs `call` under the error convention: the stored error is cleared
// first, a wire error is stored and its code answered.
template <typename Handle, typename Call>
int32_t Guarded(Handle& handle, Call&& call) {
  handle.ClearError();
  try {
    call();
    return 0;
  } catch (const EMySqlException& e) {
    handle.SetError(e.ErrorCode(), e.Message());
    return e.ErrorCode();
  }
}

inline const TMySqlBind& BindAt(const TMySqlBinds* row, uint32_t index) {
  if (!row || index >= row->Count()) throw EAssertionFailed("Column index out of range");
  return (*row)[index];
}

// The bytes of a column to copy: at most `length`, never past the column.
inline uint32_t CopyLength(const TMySqlBind& bind, uint32_t length) {
  if (bind.Offset == 0 || bind.Length == 0) return 0;
  return std::min(length, static_cast<uint32_t>(bind.Length));
}

// The row object a result's rows are parsed into.
inline const TMySqlBinds* RowOf(const TMySqlResultSet* result) {
  return result->ResultBinds() ? result->ResultBinds() : result->Row();
}

}  // namespace

TMySQLAPIDirect& DirectApi() {
  static TMySQLAPIDirect api;
  return api;
}

void AttachIOHandler(TMySqlSession* mysql, TCRIOHandler* handler) { Checked(mysql).SetIOHandler(handler); }

void AttachHttpOptions(TMySqlSession* mysql, const THttpOptions* options) { Checked(mysql).SetHttpOptions(options); }

TMySQLAPIDirect::TMySQLAPIDirect() { InitClient(); }

void TMySQLAPIDirect::InitClient() {
  clientStructVer_ = 0;
  clientVersion_ = mysql_get_client_info();
}

// --- Results and sessions -----------------------------------------------

int32_t TMySQLAPIDirect::mysql_num_fields(TMySqlResultSet* result) {
  return static_cast<int32_t>(result->ColumnCount());
}

TMYSQL_FIELD TMySQLAPIDirect::mysql_fetch_field_direct(TMySqlResultSet*, uint32_t) {
  NotInDirectMode("mysql_fetch_field_direct");
}

int32_t TMySQLAPIDirect::mysql_field_count(TMySqlSession* mysql) { return Checked(mysql).FieldCount(); }
uint64_t TMySQLAPIDirect::mysql_affected_rows(TMySqlSession* mysql) { return Checked(mysql).AffectedRows(); }
uint64_t TMySQLAPIDirect::mysql_insert_id(TMySqlSession* mysql) { return Checked(mysql).InsertId(); }
int32_t TMySQLAPIDirect::mysql_errno(TMySqlSession* mysql) { return Checked(mysql).ErrorCode(); }
std::string TMySQLAPIDirect::mysql_error(TMySqlSession* mysql) { return Checked(mysql).ErrorText(); }
std::string TMySQLAPIDirect::mysql_info(TMySqlSession* mysql) { return Checked(mysql).Info(); }
uint32_t TMySQLAPIDirect::mysql_thread_id(TMySqlSession* mysql) { return Checked(mysql).ThreadId(); }

std::string TMySQLAPIDirect::mysql_character_set_name(TMySqlSession*) {
  throw Exception("mysql_character_set_name is not supported");
}

TMySqlSession* TMySQLAPIDirect::mysql_init(TMySqlSession*) { return new TMySqlSession(); }

int32_t TMySQLAPIDirect::mysql_ssl_set(TMySqlSession* mysql, const std::string& key, const std::string& cert,
                                       const std::string& ca, const std::string& capath, const std::string& cipher) {
  Checked(mysql).SetSsl(key, cert, ca, capath, cipher);
  return 0;
}

TMySqlSession* TMySQLAPIDirect::mysql_real_connect(TMySqlSession* mysql, const std::string& host,
                                                   const std::string& user, const std::string& passwd,
                                                   const std::string& db, uint32_t port,
                                                   const std::string& unixSocket, uint32_t clientFlag) {
  TMySqlSession& session = Checked(mysql);
  int32_t code = Guarded(session, [&] {
    session.ConnectSession(host, user, passwd, db, static_cast<int32_t>(port), unixSocket, clientFlag);
  });
  return code == 0 ? mysql : nullptr;
}

void TMySQLAPIDirect::mysql_close(TMySqlSession* sock) {
  if (!sock) return;
  // The session is freed whatever closing raised; a result freed later
  // must not touch it (the session detaches its result and statements).
  std::unique_ptr<TMySqlSession> owned(sock);
  try {
    sock->CloseSession();
  } catch (const EMySqlException&) {
  }
  if (TMySqlResultSet* result = sock->CurrentResult()) result->DetachSession();
}

int32_t TMySQLAPIDirect::mysql_select_db(TMySqlSession* mysql, const std::string& db) {
  TMySqlSession& session = Checked(mysql);
  return Guarded(session, [&] { session.SelectDb(db); });
}

int32_t TMySQLAPIDirect::mysql_real_query(TMySqlSession* mysql, const char* query, uint32_t length) {
  TMySqlSession& session = Checked(mysql);
  return Guarded(session, [&] {
    {
      std::lock_guard lock(queryBufferLock_);
      if (queryBuffer_.size() < length) queryBuffer_.resize(length);
      if (length > 0) std::memcpy(queryBuffer_.data(), query, length);
      session.SimpleCommand(COM_QUERY, queryBuffer_.data(), length, true);
    }
    session.ReadQueryResult();
  });
}

int32_t TMySQLAPIDirect::mysql_kill(TMySqlSession* mysql, uint32_t pid) {
  TMySqlSession& session = Checked(mysql);
  return Guarded(session, [&] { session.Kill(pid); });
}

int32_t TMySQLAPIDirect::mysql_ping(TMySqlSession* mysql) {
  TMySqlSession& session = Checked(mysql);
  return Guarded(session, [&] { session.Ping(); });
}

std::string TMySQLAPIDirect::mysql_get_server_info(TMySqlSession* mysql) { return Checked(mysql).ServerVersion(); }
std::string TMySQLAPIDirect::mysql_get_client_info() { return kClientInfo; }
std::string TMySQLAPIDirect::mysql_get_host_info(TMySqlSession* mysql) { return Checked(mysql).HostInfo(); }

TMySqlResultSet* TMySQLAPIDirect::mysql_use_result(TMySqlSession* mysql) {
  TMySqlSession& session = Checked(mysql);
  std::unique_ptr<TMySqlResultSet> result;
  Guarded(session, [&] { result = session.OpenResult(); });
  return result.release();
}

int32_t TMySQLAPIDirect::mysql_options(TMySqlSession* mysql, int option, const int32_t* arg) {
  TMySqlSession& session = Checked(mysql);
  int32_t value = arg ? *arg : 0;
  switch (option) {
    case MYSQL_OPT_CONNECT_TIMEOUT: session.SetConnectTimeout(value); break;
    case MYSQL_OPT_NAMED_PIPE: session.SetProtocol(mpPipe); break;
    case MYSQL_OPT_LOCAL_INFILE: session.SetAllowLocalInfile(!arg || *arg != 0); break;
    case MYSQL_OPT_PROTOCOL: session.SetProtocol(static_cast<uint8_t>(value)); break;
    case MYSQL_OPT_READ_TIMEOUT:
    case MYSQL_OPT_WRITE_TIMEOUT: session.SetReadWriteTimeout(value); break;
    case MYSQL_OPT_GET_SERVER_PUBLIC_KEY: session.AuthOptions().getServerPublicKey = !arg || *arg != 0; break;
    default: break;
  }
  return 0;
}

int32_t TMySQLAPIDirect::mysql_options(TMySqlSession* mysql, int option, const std::string& arg) {
  TMySqlSession& session = Checked(mysql);
  switch (option) {
    case MYSQL_SET_CHARSET_NAME: session.SetCharsetName(arg); break;
    case MYSQL_DEFAULT_AUTH: session.AuthOptions().plugin = arg; break;
    case MYSQL_SERVER_PUBLIC_KEY: session.AuthOptions().serverPublicKeyFile = arg; break;
    default: break;
  }
  return 0;
}

void TMySQLAPIDirect::mysql_free_result(TMySqlResultSet* result) {
  if (!result) return;
  result->Release();
  // A statement's result (mysql_stmt_result_metadata) stays the
  // statement's: it goes with the statement's next execute, free or close.
  if (!result->OwnedByStatement()) delete result;
}

TMySqlBinds* TMySQLAPIDirect::mysql_fetch_row(TMySqlResultSet* result) {
  TMySqlSession* session = result->Session();
  if (session) session->ClearError();
  try {
    return result->FetchNextRow();
  } catch (const EMySqlException& e) {
    if (session) {
      session->SetError(e.ErrorCode(), e.Message());
      if (!(session->ServerStatus() & SERVER_MORE_RESULTS_EXISTS)) session->SetState(TMySqlSession::kReady);
    }
    return nullptr;
  }
}

const uint32_t* TMySQLAPIDirect::mysql_fetch_lengths(TMySqlResultSet*) { NotInDirectMode("mysql_fetch_lengths"); }
int32_t TMySQLAPIDirect::mysql_server_init() { NotInDirectMode("mysql_server_init"); }
void TMySQLAPIDirect::mysql_server_end() { NotInDirectMode("mysql_server_end"); }

bool TMySQLAPIDirect::mysql_more_results(TMySqlSession* mysql) {
  return (Checked(mysql).ServerStatus() & SERVER_MORE_RESULTS_EXISTS) != 0;
}

int32_t TMySQLAPIDirect::mysql_next_result(TMySqlSession* mysql) {
  TMySqlSession& session = Checked(mysql);
  int32_t answer = 0;
  int32_t code = Guarded(session, [&] { answer = session.NextResult(); });
  return code != 0 ? code : answer;
}

// --- Statements -----------------------------------------------------------

TMySqlStmt* TMySQLAPIDirect::mysql_stmt_init(TMySqlSession* mysql) { return new TMySqlStmt(&Checked(mysql)); }

int32_t TMySQLAPIDirect::mysql_stmt_prepare(TMySqlStmt* stmt, const char* query, uint32_t length) {
  TMySqlStmt& statement = Checked(stmt);
  return Guarded(statement, [&] {
    // The text lies in the shared buffer until the prepare answer is read.
    std::lock_guard lock(queryBufferLock_);
    if (queryBuffer_.size() < length) queryBuffer_.resize(length);
    if (length > 0) std::memcpy(queryBuffer_.data(), query, length);
    statement.PrepareStatement(queryBuffer_.data(), length);
  });
}

int32_t TMySQLAPIDirect::mysql_stmt_execute(TMySqlStmt*) { AbstractError(); }
int32_t TMySQLAPIDirect::mysql_stmt_param_count(TMySqlStmt* stmt) { return Checked(stmt).ParamCount(); }
bool TMySQLAPIDirect::mysql_stmt_bind_param(TMySqlStmt*, void*) { AbstractError(); }
bool TMySQLAPIDirect::mysql_stmt_bind_result(TMySqlStmt*, void*) { AbstractError(); }
int32_t TMySQLAPIDirect::mysql_stmt_field_count(TMySqlStmt* stmt) { return Checked(stmt).ColumnCount(); }

int32_t TMySQLAPIDirect::mysql_stmt_close(TMySqlStmt* stmt) {
  delete stmt;
  return 0;
}

int32_t TMySQLAPIDirect::mysql_stmt_free_result(TMySqlStmt* stmt) {
  TMySqlStmt& statement = Checked(stmt);
  Guarded(statement, [&] { statement.FreeStatementResult(); });
  return 0;
}

int32_t TMySQLAPIDirect::mysql_stmt_errno(TMySqlStmt* stmt) { return Checked(stmt).ErrorCode(); }
std::string TMySQLAPIDirect::mysql_stmt_error(TMySqlStmt* stmt) { return Checked(stmt).ErrorText(); }
int32_t TMySQLAPIDirect::mysql_stmt_fetch(TMySqlStmt*) { NotInDirectMode("mysql_stmt_fetch"); }
int32_t TMySQLAPIDirect::mysql_stmt_fetch_column(TMySqlStmt*, void*, uint32_t, uint32_t) { AbstractError(); }
bool TMySQLAPIDirect::mysql_stmt_send_long_data(TMySqlStmt*, uint32_t, const char*, uint32_t) {
  NotInDirectMode("mysql_stmt_send_long_data");
}
TMySqlResultSet* TMySQLAPIDirect::mysql_stmt_result_metadata(TMySqlStmt* stmt) { return Checked(stmt).Result(); }
TMySqlResultSet* TMySQLAPIDirect::mysql_stmt_param_metadata(TMySqlStmt*) {
  NotInDirectMode("mysql_stmt_param_metadata");
}
uint64_t TMySQLAPIDirect::mysql_stmt_affected_rows(TMySqlStmt* stmt) { return Checked(stmt).AffectedRows(); }

int32_t TMySQLAPIDirect::StmtExecute(TMySqlStmt* stmt, std::span<const TMySqlParamDesc> params, bool unicode) {
  TMySqlStmt& statement = Checked(stmt);
  return Guarded(statement, [&] { statement.ExecuteStatement(params, unicode); });
}

int32_t TMySQLAPIDirect::StmtBindResult(TMySqlStmt* stmt) {
  TMySqlStmt& statement = Checked(stmt);
  return Guarded(statement, [&] { statement.BindResult(); }) & 0xFF;
}

int32_t TMySQLAPIDirect::StmtFetch(TMySqlStmt* stmt, TMySqlBinds*& row) {
  TMySqlStmt& statement = Checked(stmt);
  int32_t answer = 0;
  int32_t code = Guarded(statement, [&] { answer = statement.Fetch(row); });
  if (code == 0) return answer;
  row = nullptr;
  if (TMySqlSession* session = statement.Session();
      session && !(session->ServerStatus() & SERVER_MORE_RESULTS_EXISTS))
    session->SetState(TMySqlSession::kReady);
  return code;
}

int32_t TMySQLAPIDirect::StmtFetchColumn(TMySqlStmt*, uint32_t) { NotInDirectMode("StmtFetchColumn"); }

// --- Column descriptions and row access ----------------------------------

void TMySQLAPIDirect::GetFieldDesc(TMySqlResultSet* result, uint32_t index, TMYSQL_FIELD& field, bool adjust) {
  if (!result || index >= result->Columns().size()) throw EAssertionFailed("GetFieldDesc: column index out of range");
  const TMySqlFieldInfo& info = result->Columns()[index];
  field.name = info.Name;
  field.org_name = info.OrgName.empty() ? info.Name : info.OrgName;
  field.table = info.Table;
  field.org_table = info.OrgTable;
  field.flags = info.Flags;
  field.type = info.Type;
  field.decimals = info.Decimals;
  field.charsetnr = info.CharsetNr;
  field.length = std::min(info.Length, kMaxFieldLength);
  TMySqlSession* session = result->Session();
  if (adjust && !field.table.empty() && !(session && session->IsProtocol41())) {
    switch (field.type) {
      case MYSQL_TYPE_VARCHAR:
      case MYSQL_TYPE_ENUM:
      case MYSQL_TYPE_SET:
      case MYSQL_TYPE_VAR_STRING:
      case MYSQL_TYPE_STRING: field.length *= 3; break;
      default: break;
    }
  }
}

void TMySQLAPIDirect::GetRowLengths(TMySqlResultSet* result, std::vector<int32_t>& lengths) {
  const TMySqlBinds* row = RowOf(result);
  lengths.resize(result->ColumnCount());
  for (size_t i = 0; i < lengths.size(); ++i) lengths[i] = row && i < row->Count() ? (*row)[i].Length : 0;
}

bool TMySQLAPIDirect::IsNullField(TMySqlBinds* row, uint32_t index) { return BindAt(row, index).IsNull; }

const uint8_t* TMySQLAPIDirect::GetFieldPointer(TMySqlResultSet*, TMySqlBinds* row, uint32_t index) {
  const TMySqlBind& bind = BindAt(row, index);
  return bind.Offset == 0 ? nullptr : row->Buffer() + bind.Offset;
}

bool TMySQLAPIDirect::GetFieldBytes(TMySqlBinds* row, uint32_t index, const uint8_t*& bytes, size_t& length) {
  BindAt(row, index);
  return row->FieldBytes(index, bytes, length);
}

void TMySQLAPIDirect::CopyFieldData(TMySqlBinds* row, uint32_t index, uint32_t length, uint8_t* destination,
                                    uint32_t destinationOffset) {
  const TMySqlBind& bind = BindAt(row, index);
  if (uint32_t n = CopyLength(bind, length)) std::memcpy(destination + destinationOffset, row->Buffer() + bind.Offset, n);
}

void TMySQLAPIDirect::CopyFieldData(TMySqlBinds* row, uint32_t index, uint32_t length, uint8_t* destination) {
  CopyFieldData(row, index, length, destination, 0);
}

void TMySQLAPIDirect::CopyFieldText(TMySqlBinds* row, uint32_t index, uint32_t length, uint8_t* destination,
                                    uint32_t destinationOffset) {
  CopyFieldData(row, index, length, destination, destinationOffset);
  destination[destinationOffset + length] = 0;
}

void TMySQLAPIDirect::CopyFieldText(TMySqlBinds* row, uint32_t index, uint32_t length, uint8_t* destination) {
  const TMySqlBind& bind = BindAt(row, index);
  if (uint32_t n = CopyLength(bind, length)) {
    std::memcpy(destination, row->Buffer() + bind.Offset, n);
    destination[length] = 0;
  }
}

const uint8_t* TMySQLAPIDirect::GetRowBufferAndOffset(TMySqlBinds* row, uint32_t index, int32_t, int32_t& offset) {
  offset = BindAt(row, index).Offset;
  return row->Buffer();
}

std::string TMySQLAPIDirect::GetFieldText(TMySqlBinds* row, uint32_t index) {
  const TMySqlBind& bind = BindAt(row, index);
  if (bind.Offset == 0 || bind.Length == 0) return {};
  return std::string(reinterpret_cast<const char*>(row->Buffer() + bind.Offset), static_cast<size_t>(bind.Length));
}

void TMySQLAPIDirect::StmtGetRowLengths(TMySqlBinds* row, std::vector<int32_t>& lengths) {
  lengths.resize(row ? row->Count() : 0);
  for (size_t i = 0; i < lengths.size(); ++i) lengths[i] = (*row)[i].Length;
}

const uint8_t* TMySQLAPIDirect::StmtGetFieldPointer(TMySqlStmt* stmt, uint32_t index) {
  TMySqlResultSet* result = Checked(stmt).Result();
  TMySqlBinds* row = result ? result->ResultBinds() : nullptr;
  const TMySqlBind& bind = BindAt(row, index);
  return bind.Offset == 0 ? nullptr : row->Buffer() + bind.Offset;
}

}  // namespace da::mysql
