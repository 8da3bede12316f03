#pragma once
// The MySQL driver: the connection (one client session through the call
// table), its transaction object and the command (statement text with
// values put in as literals, or a server-side prepared statement). The
// record set is in MyRecordSet.h.
//
// Every client error is raised as EMyError (code and text of the call
// table, Origin the component), after the connection component's error
// handler has seen it through DoError.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/CRAccess.h"
#include "driver/MyLiterals.h"
#include "mysql/MyCall.h"

namespace da::mysql {
class TMySQLAPI;
class TMySqlSession;
class TMySqlResultSet;
class TMySqlStmt;
}  // namespace da::mysql

namespace da {

class TMySQLCommand;

// Which client call table a connection uses. Only the wire client exists in
// this library; the other two modes fail clearly when used.
enum class TMyClientMode : uint8_t { Direct, ClientLibrary, Embedded };

class TMySQLConnection : public TCRConnection {
 public:
  TMySQLConnection();
  ~TMySQLConnection() override;

  void DoError(EDAError& e, bool& fail) override;
  std::unique_ptr<TCRCommand> CreateCommand() override;
  std::unique_ptr<TCRTransaction> CreateTransaction() override;

  // Opens the session: options, client flags, login, version, character
  // set, backslash mode. Raises EMyError; a failure leaves the connection
  // closed without a handle. Nothing when connected already.
  void Connect() override;
  void Disconnect() override;
  // Copies Username, Password, Server, EnableBCD, EnableFmtBCD, the error
  // callback, the IOHandler, the HttpOptions, ConnectionTimeout, Database,
  // Port, Compress, UseUnicode, Charset, Protocol, the client mode,
  // OptimizedBigInt, NullForZeroDelphiDate, DecimalAsBCDLimited, the SSL
  // files and ciphers and the authentication settings from a
  // TMySQLConnection: a further session (a record set's second one, the
  // one that cancels a statement) reaches the server the same way and is
  // verified the same way.
  void TakeSettingsFrom(const TCRConnection& source) override;
  // Shares the open session of `source` (a TMySQLConnection) without owning it.
  void AssignConnect(TCRConnection* source) override;
  // Two pings; false without a handle.
  bool CheckIsValid() override;

  std::string GetServerVersion() override;      // "major.minor.release"
  std::string GetServerVersionFull() override;  // as the server sent it
  std::string GetClientVersion() override;      // the call table's version text

  bool SetProp(int prop, const Variant& value) override;
  bool GetProp(int prop, Variant& value) override;
  uint64_t LastInsertId() const override;

  // --- Error builders: raise EMyError from the session's (or statement's)
  // stored error through DoError, with `component` as Origin. ---------------
  void CheckHandle(const void* handle, TComponent* component);
  void CheckResult(int32_t code, TComponent* component);
  void CheckErrno(TComponent* component);
  void CheckStmt(mysql::TMySqlStmt* stmt, int32_t code, TComponent* component);
  // Raises the session's stored error unconditionally.
  [[noreturn]] void RaiseSessionError(TComponent* component);

  // Runs one statement that returns no rows through a short-lived command
  // (CommandTimeout := ConnectionTimeout). Raises EMyError.
  void RunStatement(const std::string& sql);

  // --- What the command and the record set read ---------------------------
  // The call table in use; raises EDatabaseError naming the mode when it
  // is not the wire client.
  mysql::TMySQLAPI& API() const;
  TMyClientMode ClientMode() const { return clientMode_; }
  // The session handle, or null while closed.
  mysql::TMySqlSession* GetHandle() const { return handle_; }
  // The wire client always speaks the 4.1 protocol.
  bool IsClient41() const { return true; }
  bool IsServer41() const { return serverMajor_ > 4 || (serverMajor_ == 4 && serverMinor_ >= 1); }

  const std::string& Database() const { return database_; }
  int32_t Port() const { return port_; }
  int32_t ConnectionTimeout() const { return connectionTimeout_; }
  bool Compress() const { return compress_; }
  bool UseUnicode() const { return useUnicode_; }
  const std::string& Charset() const { return charset_; }
  mysql::TMyProtocol Protocol() const { return protocol_; }
  bool Embedded() const { return embedded_; }
  bool Direct() const { return direct_; }
  bool DecimalAsBCDLimited() const { return decimalAsBCDLimited_; }
  bool OptimizedBigInt() const { return optimizedBigInt_; }
  bool NullForZeroDelphiDate() const { return nullForZeroDelphiDate_; }
  bool CheckBackslashes() const { return checkBackslashes_; }
  bool BackslashEscapes() const { return backslashEscapes_; }
  const std::string& AuthPlugin() const { return authPlugin_; }
  const std::string& ServerPublicKeyFile() const { return serverPublicKeyFile_; }
  bool GetServerPublicKey() const { return getServerPublicKey_; }
  // The host Connect logs in to: the part of Server before its first comma,
  // "localhost" when that is empty.
  std::string HostOfServer() const;
  // The local socket's path for protocols mpSocket and mpPipe: the part of
  // Server after its first comma ("" without one: the server's usual path).
  std::string SocketOfServer() const;
  int ServerMajor() const { return serverMajor_; }
  int ServerMinor() const { return serverMinor_; }
  int ServerRelease() const { return serverRelease_; }

  // The session of a record set's second connection: its errors go to the
  // error callback only, without reconnecting.
  bool IsSecondSession() const { return isSecondSession_; }
  void SetIsSecondSession(bool value) { isSecondSession_ = value; }

 private:
  void SelectClientMode();
  void ChangeDatabase(const std::string& name);
  void SetUseUnicode(bool value);
  void SetCharset(const std::string& value);
  void SetCheckBackslashes(bool value);
  // Connect steps.
  void SetConnectOptions(bool unicodeSession);
  uint32_t ClientFlags() const;
  void OpenSession(bool unicodeSession);
  void ReadServerVersion();
  void ApplyCharset();
  void DetectBackslashMode();
  // The stored error of the session as EMyError (text UTF-8-decoded when
  // UseUnicode).
  std::unique_ptr<EMyError> SessionError(TComponent* component);

  TMyClientMode clientMode_ = TMyClientMode::Direct;
  mysql::TMySqlSession* handle_ = nullptr;  // owned when ownsHandle_
  mysql::TMySQLAPI* api_ = nullptr;         // the table the session was opened with
  std::string database_;
  int32_t port_ = 3306;
  int32_t connectionTimeout_ = 15;
  bool compress_ = false;
  bool useUnicode_ = false;
  std::string charset_;
  mysql::TMyProtocol protocol_ = mysql::mpDefault;
  bool embedded_ = false;
  bool direct_ = true;
  bool decimalAsBCDLimited_ = false;
  bool optimizedBigInt_ = false;
  bool nullForZeroDelphiDate_ = false;
  bool checkBackslashes_ = false;
  bool backslashEscapes_ = true;
  std::string sslKey_, sslCert_, sslCACert_, sslCipherList_;
  std::string authPlugin_;           // "" : the login as the server's greeting asks
  std::string serverPublicKeyFile_;  // "" : none
  bool getServerPublicKey_ = true;
  std::vector<std::string> embParams_;
  std::string serverVersionFull_;
  int serverMajor_ = 0;
  int serverMinor_ = 0;
  int serverRelease_ = 0;
  bool isSecondSession_ = false;
};

// Isolation levels (propIsolationLevel).
enum TMyIsolationLevel : uint8_t { ilReadCommitted, ilReadUnCommitted, ilRepeatableRead, ilSerializable };

class TMySQLTransaction : public TCRTransaction {
 public:
  void StartTransaction() override;
  void Commit() override;
  void Rollback() override;
  void Savepoint(const std::string& name) override;
  void ReleaseSavepoint(const std::string& name) override;
  void RollbackToSavepoint(const std::string& name) override;

 private:
  TMySQLConnection& Connection() const;
};

class TMySQLCommand : public TCRCommand {
 public:
  TMySQLCommand();
  ~TMySQLCommand() override;

  // The connection must be a TMySQLConnection (or null).
  void SetConnection(TCRConnection* connection) override;
  TMySQLConnection* GetConnection() const { return static_cast<TMySQLConnection*>(connection_); }

  // Sets the text: scans markers (unless DisableParamScan), empties the
  // marker positions (unless FillParamPosition) and the cached pieces.
  void SetSQL(const std::string& text) override;
  std::string ParseSQL(const std::string& sql, TParamDescs* params, const std::string& renamePrefix = {}) override;

  // Server-side prepared statements over the binary protocol.
  void Prepare() override;
  void Unprepare() override;
  bool GetPrepared() const override { return prepared_; }

  // Runs the statement (text with literals, or the prepared statement).
  // Nothing unless Idle or Prepared. Raises EMyError, the silent abort
  // after BreakExec, or EDatabaseError for a value that cannot be written
  // as a literal (before anything is sent).
  void Execute() override;
  // From another thread: KILLs the running statement through a second
  // session; Execute then ends with the silent abort.
  void BreakExec() override;

  bool SetProp(int prop, const Variant& value) override;
  bool GetProp(int prop, Variant& value) override;
  int64_t RowsAffectedCount() const override;

  // The statement text with every "?" replaced by its parameter's literal
  // (what Execute sends).
  std::string BuildStatementText();

  // --- What the record set uses ---------------------------------------------
  // Keep the statement's result open for reading (set by the record set).
  bool RequestResultset() const { return requestResultset_; }
  void SetRequestResultset(bool value) { requestResultset_ = value; }
  // The next Execute sends nothing and takes the next result of the batch.
  bool OpenNext() const { return openNext_; }
  void SetOpenNext(bool value) { openNext_ = value; }
  // The open result left for the record set, or null. The command never
  // frees it: the record set does, with mysql_free_result (which leaves a
  // prepared statement's result to the statement), and then sets it to
  // null. Unprepare forgets a prepared statement's result.
  mysql::TMySqlResultSet* SQLResult() const { return sqlResult_; }
  void SetSQLResult(mysql::TMySqlResultSet* result) { sqlResult_ = result; }
  // The prepared statement, or null.
  mysql::TMySqlStmt* Stmt() const { return stmt_; }
  // Rows of the last statement; -1 when unknown. The call table's unsigned
  // count is kept bit for bit (its all-bits-set "unknown" reads as -1).
  int64_t RowsAffected() const { return rowsAffected_; }
  void SetRowsAffected(int64_t value) { rowsAffected_ = value; }
  int64_t RowsAffectedPrev() const { return rowsAffectedPrev_; }
  void SetRowsAffectedPrev(int64_t value) { rowsAffectedPrev_ = value; }
  int32_t CommandTimeout() const { return commandTimeout_; }
  bool StoredProc() const { return storedProc_; }
  bool IsSelectParams() const { return isSelectParams_; }
  bool EnableBCD() const { return enableBCD_; }
  bool EnableFmtBCD() const { return enableFmtBCD_; }
  TCompressBlobMode CompressBlob() const { return compressBlob_; }
  bool Executing() const override { return executing_.load(std::memory_order_acquire); }
  // 1-based positions of the "?" of each parameter in FinalSQL.
  const std::vector<int32_t>& ParamPositions() const { return paramPositions_; }

  // The marker scan's report of a "?" position (propAddParamPosition).
  void AddParamPosition(size_t position) override;

 private:
  TMySQLConnection& CheckedConnection() const;
  void ExecuteText(TMySQLConnection& connection);
  void ExecutePrepared(TMySQLConnection& connection);
  void TakeResults(TMySQLConnection& connection);
  void FreeAllResults(TMySQLConnection& connection);
  TMyLiteralOptions LiteralOptions() const;
  bool PositionsUsable() const;
  void BuildCachedPieces();

  std::vector<int32_t> paramPositions_;
  std::vector<std::string> cachedPieces_;
  bool piecesBuilt_ = false;
  bool fillParamPosition_ = false;
  int32_t commandTimeout_ = 0;
  bool requestResultset_ = false;
  bool openNext_ = false;
  int64_t rowsAffected_ = -1;
  int64_t rowsAffectedPrev_ = 0;
  mysql::TMySqlResultSet* sqlResult_ = nullptr;  // owned until the record set takes it
  bool prepared_ = false;
  mysql::TMySqlStmt* stmt_ = nullptr;  // owned; closed by Unprepare
  // BreakExec runs on another thread and holds lock_ for the whole kill;
  // Execute takes lock_ once, at its end, so that it never returns while a
  // KILL for its statement is still on its way. WaitForBreak is written
  // only under lock_; Executing is also read without it.
  mutable std::mutex lock_;
  std::atomic<bool> executing_{false};
  bool waitForBreak_ = false;
};

}  // namespace da
