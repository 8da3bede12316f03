#include "driver/MyClasses.h"

#include <chrono>
#include <functional>
#include <limits>

#include "common/AnsiCase.h"
#include "common/CodePage.h"
#include "driver/MyLiterals.h"
#include "driver/MyParser.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlErrors.h"
#include "mysql/MySqlSession.h"
#include "mysql/MySqlStmt.h"
#include "transports/CRVioHttp.h"

namespace da {
namespace {

uint64_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The call table takes texts up to 4 GiB.
uint32_t TextLength(const std::string& text) {
  if (text.size() > std::numeric_limits<uint32_t>::max()) throw EDatabaseError("Statement text is too long");
  return static_cast<uint32_t>(text.size());
}

// A character-set name goes into "SET NAMES" as it is, so it must be a
// plain name.
bool IsPlainName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

// Frees a result of the call table when the scope ends.
class TResultGuard {
 public:
  TResultGuard(mysql::TMySQLAPI& api, mysql::TMySqlResultSet* result) : api_(api), result_(result) {}
  ~TResultGuard() {
    if (result_) api_.mysql_free_result(result_);
  }
  TResultGuard(const TResultGuard&) = delete;
  TResultGuard& operator=(const TResultGuard&) = delete;

 private:
  mysql::TMySQLAPI& api_;
  mysql::TMySqlResultSet* result_;
};

}  // namespace

// --- TMySQLConnection ------------------------------------------------------------

TMySQLConnection::TMySQLConnection() {
  InitInternalTransaction();
  SelectClientMode();
}

TMySQLConnection::~TMySQLConnection() {
  try {
    Disconnect();
  } catch (const std::exception&) {
  }
}

std::unique_ptr<TCRCommand> TMySQLConnection::CreateCommand() { return std::make_unique<TMySQLCommand>(); }

std::unique_ptr<TCRTransaction> TMySQLConnection::CreateTransaction() {
  return std::make_unique<TMySQLTransaction>();
}

void TMySQLConnection::SelectClientMode() {
  if (embedded_)
    clientMode_ = TMyClientMode::Embedded;
  else if (direct_)
    clientMode_ = TMyClientMode::Direct;
  else
    clientMode_ = TMyClientMode::ClientLibrary;
}

mysql::TMySQLAPI& TMySQLConnection::API() const {
  if (api_) return *api_;  // the table the open session belongs to
  switch (clientMode_) {
    case TMyClientMode::Direct: return mysql::DirectApi();
    case TMyClientMode::Embedded:
      throw EDatabaseError("The embedded server client mode is not available: only the built-in client (Direct) is");
    case TMyClientMode::ClientLibrary:
      throw EDatabaseError("The client library mode is not available: only the built-in client (Direct) is");
  }
  throw EAssertionFailed("Unknown client mode");
}

void TMySQLConnection::Connect() {
  if (connected_) return;
  try {
    serverVersionFull_.clear();
    serverMajor_ = 0;
    serverMinor_ = 0;
    mysql::TMySQLAPI& api = API();
    api.InitClient();
    if (handle_) Disconnect();
    handle_ = api.mysql_init(nullptr);
    api_ = &api;
    // The handle is ours from here on, so that a failed connect closes it.
    ownsHandle_ = true;
    CheckHandle(handle_, component_);
    const bool unicodeSession = useUnicode_ || AnsiSameText(charset_, "utf8");
    SetConnectOptions(unicodeSession);
    OpenSession(unicodeSession);
    connected_ = true;
    connectionTime_ = TickCount();
    isValid_ = true;
    ReadServerVersion();
    ApplyCharset();
    DetectBackslashMode();
  } catch (const EFailOver&) {
    throw;
  } catch (...) {
    try {
      Disconnect();
    } catch (const std::exception&) {
    }
    throw;
  }
}

void TMySQLConnection::SetConnectOptions(bool unicodeSession) {
  mysql::TMySQLAPI& api = API();
  const int32_t timeout = connectionTimeout_;
  CheckResult(api.mysql_options(handle_, mysql::MYSQL_OPT_CONNECT_TIMEOUT, &timeout), component_);
  if (unicodeSession)
    CheckResult(api.mysql_options(handle_, mysql::MYSQL_SET_CHARSET_NAME, std::string("utf8")), component_);
  if (clientMode_ == TMyClientMode::Direct) mysql::AttachIOHandler(handle_, ioHandler_);
  if (!authPlugin_.empty())
    CheckResult(api.mysql_options(handle_, mysql::MYSQL_DEFAULT_AUTH, authPlugin_), component_);
  if (!serverPublicKeyFile_.empty())
    CheckResult(api.mysql_options(handle_, mysql::MYSQL_SERVER_PUBLIC_KEY, serverPublicKeyFile_), component_);
  const int32_t getServerPublicKey = getServerPublicKey_ ? 1 : 0;
  CheckResult(api.mysql_options(handle_, mysql::MYSQL_OPT_GET_SERVER_PUBLIC_KEY, &getServerPublicKey), component_);

  switch (protocol_) {
    case mysql::mpDefault: break;
    case mysql::mpSSL: {
      auto slashes = [](std::string s) {
        for (char& c : s)
          if (c == '\\') c = '/';
        return s;
      };
      CheckResult(api.mysql_ssl_set(handle_, slashes(sslKey_), slashes(sslCert_), slashes(sslCACert_), "",
                                    sslCipherList_),
                  component_);
      break;
    }
    case mysql::mpHttp:
      if (clientMode_ != TMyClientMode::Direct) throw EDatabaseError("Wrong protocol");
      // Without a script to go through, the session would quietly take plain
      // TCP instead of the tunnel asked for.
      if (!httpOptions_ || httpOptions_->Url().empty())
        throw EDatabaseError("The HTTP tunnel needs the URL of its tunnel script (HttpOptions.Url)");
      mysql::AttachHttpOptions(handle_, httpOptions_.get());
      break;
    case mysql::mpTCP:
    case mysql::mpSocket:
    case mysql::mpPipe:
    case mysql::mpMemory: {
      const int32_t value = protocol_;
      CheckResult(api.mysql_options(handle_, mysql::MYSQL_OPT_PROTOCOL, &value), component_);
      if (protocol_ == mysql::mpMemory) {
        if (size_t comma = server_.find(','); comma != std::string::npos)
          CheckResult(api.mysql_options(handle_, mysql::MYSQL_SHARED_MEMORY_BASE_NAME, server_.substr(comma + 1)),
                      component_);
      }
      break;
    }
    default: throw EDatabaseError("Wrong protocol");
  }
}

uint32_t TMySQLConnection::ClientFlags() const {
  uint32_t flags = mysql::CLIENT_FOUND_ROWS;
  if (compress_) flags |= mysql::CLIENT_COMPRESS;
  if (IsClient41()) flags |= mysql::CLIENT_MULTI_STATEMENTS;
  return flags;
}

std::string TMySQLConnection::HostOfServer() const {
  std::string host = server_.substr(0, server_.find(','));
  return host.empty() ? std::string("localhost") : host;
}

std::string TMySQLConnection::SocketOfServer() const {
  const size_t comma = server_.find(',');
  return comma == std::string::npos ? std::string() : server_.substr(comma + 1);
}

void TMySQLConnection::OpenSession(bool unicodeSession) {
  const std::string host = HostOfServer();
  // Only the local transports read a socket path; for the others the part
  // after the comma means something else (or nothing).
  const std::string socket =
      protocol_ == mysql::mpSocket || protocol_ == mysql::mpPipe ? SocketOfServer() : std::string();
  const std::string user = unicodeSession ? Win1252ToUtf8(username_) : username_;
  const std::string password = unicodeSession ? Win1252ToUtf8(password_) : password_;
  mysql::TMySqlSession* result = API().mysql_real_connect(handle_, host, user, password, database_,
                                                          static_cast<uint32_t>(port_), socket, ClientFlags());
  CheckHandle(result, component_);
}

void TMySQLConnection::ReadServerVersion() {
  serverVersionFull_ = API().mysql_get_server_info(handle_);
  mysql::TMySQLAPI::ParseVersion(serverVersionFull_, serverMajor_, serverMinor_, serverRelease_);
}

void TMySQLConnection::ApplyCharset() {
  if (!IsServer41()) {
    useUnicode_ = false;
    return;
  }
  if (useUnicode_) {
    RunStatement("SET NAMES utf8");
  } else if (!charset_.empty()) {
    if (!IsPlainName(charset_)) throw EDatabaseError("Invalid character set name '" + charset_ + "'");
    RunStatement("SET NAMES " + charset_);
  }
}

void TMySQLConnection::DetectBackslashMode() {
  backslashEscapes_ = true;
  if (!checkBackslashes_) return;
  // Read through the call table directly: one value of one row.
  mysql::TMySQLAPI& api = API();
  static const std::string kSql = "SELECT @@session.sql_mode";
  CheckResult(api.mysql_real_query(handle_, kSql.data(), TextLength(kSql)), component_);
  mysql::TMySqlResultSet* result = api.mysql_use_result(handle_);
  if (!result) {
    CheckErrno(component_);
    return;
  }
  TResultGuard guard(api, result);
  std::string mode;
  bool haveValue = false;
  if (mysql::TMySqlBinds* row = api.FetchRowData(result)) {
    if (!api.IsNullField(row, 0)) {
      mode = api.GetFieldText(row, 0);
      haveValue = true;
    }
    while (api.FetchRowData(result)) {
    }
  }
  CheckErrno(component_);
  if (haveValue && AnsiUpperCase(mode).find("NO_BACKSLASH_ESCAPES") != std::string::npos) backslashEscapes_ = false;
}

void TMySQLConnection::Disconnect() {
  mysql::TMySqlSession* handle = handle_;
  mysql::TMySQLAPI* api = api_;
  const bool owns = ownsHandle_;
  handle_ = nullptr;
  api_ = nullptr;
  connected_ = false;
  ownsHandle_ = false;
  if (handle && owns && api) api->mysql_close(handle);
}

void TMySQLConnection::TakeSettingsFrom(const TCRConnection& source) {
  TCRConnection::TakeSettingsFrom(source);
  const auto* src = dynamic_cast<const TMySQLConnection*>(&source);
  if (!src) return;
  connectionTimeout_ = src->connectionTimeout_;
  database_ = src->database_;
  port_ = src->port_;
  compress_ = src->compress_;
  useUnicode_ = src->useUnicode_;
  charset_ = src->charset_;
  protocol_ = src->protocol_;
  direct_ = src->direct_;
  embedded_ = src->embedded_;
  clientMode_ = src->clientMode_;
  optimizedBigInt_ = src->optimizedBigInt_;
  nullForZeroDelphiDate_ = src->nullForZeroDelphiDate_;
  decimalAsBCDLimited_ = src->decimalAsBCDLimited_;
  sslKey_ = src->sslKey_;
  sslCert_ = src->sslCert_;
  sslCACert_ = src->sslCACert_;
  sslCipherList_ = src->sslCipherList_;
  authPlugin_ = src->authPlugin_;
  serverPublicKeyFile_ = src->serverPublicKeyFile_;
  getServerPublicKey_ = src->getServerPublicKey_;
}

void TMySQLConnection::AssignConnect(TCRConnection* source) {
  if (source == this) return;
  Disconnect();
  if (!source) return;
  auto* src = dynamic_cast<TMySQLConnection*>(source);
  if (!src) throw EAssertionFailed("AssignConnect: not a MySQL connection");
  TakeSettingsFrom(*src);
  handle_ = src->handle_;
  api_ = src->api_;
  // What the shared session is: the version and the backslash mode decide
  // the statements and literals this object writes for it.
  serverVersionFull_ = src->serverVersionFull_;
  serverMajor_ = src->serverMajor_;
  serverMinor_ = src->serverMinor_;
  serverRelease_ = src->serverRelease_;
  backslashEscapes_ = src->backslashEscapes_;
  if (transaction_ && src->transaction_) transaction_->AssignConnect(*src->transaction_);
  connected_ = handle_ != nullptr;
  ownsHandle_ = false;
}

bool TMySQLConnection::CheckIsValid() {
  bool valid = false;
  if (handle_ && api_) valid = api_->mysql_ping(handle_) == 0 && api_->mysql_ping(handle_) == 0;
  isValid_ = valid;
  return valid;
}

std::string TMySQLConnection::GetServerVersion() {
  return std::to_string(serverMajor_) + "." + std::to_string(serverMinor_) + "." + std::to_string(serverRelease_);
}

std::string TMySQLConnection::GetServerVersionFull() { return serverVersionFull_; }

std::string TMySQLConnection::GetClientVersion() {
  mysql::TMySQLAPI& api = API();
  if (api.ClientVersion().empty()) api.InitClient();
  return api.ClientVersion();
}

void TMySQLConnection::ChangeDatabase(const std::string& name) {
  if (name == database_) return;
  database_ = name;
  if (connected_ && handle_ && !name.empty()) CheckResult(API().mysql_select_db(handle_, name), component_);
}

void TMySQLConnection::SetUseUnicode(bool value) {
  if (value == useUnicode_) return;
  useUnicode_ = value;
  if (connected_) ApplyCharset();
}

void TMySQLConnection::SetCharset(const std::string& value) {
  if (value == charset_) return;
  charset_ = value;
  if (connected_ && !useUnicode_) ApplyCharset();
}

void TMySQLConnection::SetCheckBackslashes(bool value) {
  if (value == checkBackslashes_) return;
  checkBackslashes_ = value;
  if (connected_) DetectBackslashMode();
}

bool TMySQLConnection::SetProp(int prop, const Variant& value) {
  switch (prop) {
    case propDatabase: ChangeDatabase(value.AsString()); break;
    case propPort: port_ = value.AsInt32(); break;
    case propConnectionTimeout: connectionTimeout_ = value.AsInt32(); break;
    case propCompress: compress_ = value.AsBoolean(); break;
    case propUseUnicode: SetUseUnicode(value.AsBoolean()); break;
    case propCharset: SetCharset(value.AsString()); break;
    case propProtocol: protocol_ = static_cast<mysql::TMyProtocol>(value.AsInt32()); break;
    case propEmbedded:
      embedded_ = value.AsBoolean();
      SelectClientMode();
      break;
    case propDirect:
      direct_ = value.AsBoolean();
      SelectClientMode();
      break;
    case propEmbParams: {
      embParams_.clear();
      const std::string text = value.AsString();
      size_t start = 0;
      while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        if (end > start) embParams_.push_back(text.substr(start, end - start));
        start = end + 1;
      }
      break;
    }
    case propSSLCipherList: sslCipherList_ = value.AsString(); break;
    case propSSLCACert: sslCACert_ = value.AsString(); break;
    case propSSLKey: sslKey_ = value.AsString(); break;
    case propSSLCert: sslCert_ = value.AsString(); break;
    case propAuthPlugin: authPlugin_ = value.AsString(); break;
    case propServerPublicKeyFile: serverPublicKeyFile_ = value.AsString(); break;
    case propGetServerPublicKey: getServerPublicKey_ = value.AsBoolean(); break;
    case propDecimalAsBCDLimited: decimalAsBCDLimited_ = value.AsBoolean(); break;
    case propOptimizedBigInt: optimizedBigInt_ = value.AsBoolean(); break;
    case propNullForZeroDelphiDate: nullForZeroDelphiDate_ = value.AsBoolean(); break;
    case propCheckBackslashes: SetCheckBackslashes(value.AsBoolean()); break;
    default: return TCRConnection::SetProp(prop, value);
  }
  return true;
}

bool TMySQLConnection::GetProp(int prop, Variant& value) {
  switch (prop) {
    case propDatabase: value = database_; break;
    case propPort: value = port_; break;
    case propConnectionTimeout: value = connectionTimeout_; break;
    case propCompress: value = compress_; break;
    case propUseUnicode: value = useUnicode_; break;
    case propCharset: value = charset_; break;
    case propProtocol: value = static_cast<int32_t>(protocol_); break;
    case propEmbedded: value = embedded_; break;
    case propDirect: value = direct_; break;
    case propEmbParams: {
      std::string text;
      for (const std::string& line : embParams_) text += line + "\r\n";
      value = text;
      break;
    }
    case propSSLCipherList: value = sslCipherList_; break;
    case propSSLCACert: value = sslCACert_; break;
    case propSSLKey: value = sslKey_; break;
    case propSSLCert: value = sslCert_; break;
    case propAuthPlugin: value = authPlugin_; break;
    case propServerPublicKeyFile: value = serverPublicKeyFile_; break;
    case propGetServerPublicKey: value = getServerPublicKey_; break;
    case propDecimalAsBCDLimited: value = decimalAsBCDLimited_; break;
    case propOptimizedBigInt: value = optimizedBigInt_; break;
    case propNullForZeroDelphiDate: value = nullForZeroDelphiDate_; break;
    case propCheckBackslashes: value = checkBackslashes_; break;
    case propBackslashEscapes: value = backslashEscapes_; break;
    case propLastInsertId:
      // The unsigned count travels bit for bit in the signed 64-bit variant.
      value = static_cast<int64_t>(LastInsertId());
      break;
    default: return TCRConnection::GetProp(prop, value);
  }
  return true;
}

uint64_t TMySQLConnection::LastInsertId() const { return handle_ && api_ ? api_->mysql_insert_id(handle_) : 0; }

// --- Errors ------------------------------------------------------------------------

void TMySQLConnection::DoError(EDAError& e, bool& fail) {
  if (isSecondSession_) {
    // A record set's second session: the component hears of it, but the
    // session is not reconnected.
    if (OnError) {
      bool reconnect = false;
      bool reexecute = false;
      TConnLostCause cause = clUnknown;
      OnError(e, fail, reconnect, reexecute, 0, cause);
    }
    return;
  }
  TCRConnection::DoError(e, fail);
}

void TMySQLConnection::RaiseSessionError(TComponent* component) {
  int32_t code = mysql::CR_SERVER_GONE_ERROR;
  std::string text;
  if (handle_ && api_) {
    code = api_->mysql_errno(handle_);
    text = api_->mysql_error(handle_);
    if (useUnicode_) text = Utf8ToWin1252(text);
  } else {
    text = mysql::EMySqlException(code).Message();
  }
  EMyError e(code, std::move(text), component);
  if (DispatchError(e)) throw e;
  throw EAbort();
}

void TMySQLConnection::CheckHandle(const void* handle, TComponent* component) {
  if (!handle) RaiseSessionError(component);
}

void TMySQLConnection::CheckResult(int32_t code, TComponent* component) {
  if (code != 0) RaiseSessionError(component);
}

void TMySQLConnection::CheckErrno(TComponent* component) {
  if (handle_ && api_ && api_->mysql_errno(handle_) != 0) RaiseSessionError(component);
}

void TMySQLConnection::CheckStmt(mysql::TMySqlStmt* stmt, int32_t code, TComponent* component) {
  if (code == 0) return;
  mysql::TMySQLAPI& api = API();
  std::string text = api.mysql_stmt_error(stmt);
  if (useUnicode_) text = Utf8ToWin1252(text);
  EMyError e(api.mysql_stmt_errno(stmt), std::move(text), component);
  if (DispatchError(e)) throw e;
  throw EAbort();
}

void TMySQLConnection::RunStatement(const std::string& sql) {
  TMySQLCommand command;
  command.SetConnection(this);
  command.SetComponent(component_);
  // The driver's own statements carry no parameter markers.
  command.SetProp(propDisableParamScan, true);
  command.SetSQL(sql);
  command.SetProp(propCommandTimeout, connectionTimeout_);
  command.Execute();
}

// --- TMySQLTransaction -------------------------------------------------------------

TMySQLConnection& TMySQLTransaction::Connection() const {
  return static_cast<TMySQLConnection&>(*SingleConnection());
}

void TMySQLTransaction::StartTransaction() {
  if (readOnly_) throw EDatabaseError("Readonly transactions are not supported by the database");
  if (inTransaction_) throw EDatabaseError("Can't perform operation on active transaction");
  const char* level = nullptr;
  switch (isolationLevel_) {
    case ilReadCommitted: level = "SET TRANSACTION ISOLATION LEVEL READ COMMITTED"; break;
    case ilReadUnCommitted: level = "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"; break;
    case ilRepeatableRead: level = "SET TRANSACTION ISOLATION LEVEL REPEATABLE READ"; break;
    case ilSerializable: level = "SET TRANSACTION ISOLATION LEVEL SERIALIZABLE"; break;
    default: throw EDatabaseError("Unsupported transaction isolation level");
  }
  TMySQLConnection& connection = Connection();
  if (connection.IsServer41()) {
    connection.RunStatement(std::string(level) + "; BEGIN");
  } else {
    connection.RunStatement(level);
    connection.RunStatement("BEGIN");
  }
  inTransaction_ = true;
  ownTransaction_ = true;
}

void TMySQLTransaction::Commit() {
  if (!inTransaction_) throw EDatabaseError("Can't perform operation on inactive transaction");
  if (ownTransaction_) Connection().RunStatement("COMMIT");
  inTransaction_ = false;
  ownTransaction_ = false;
}

void TMySQLTransaction::Rollback() {
  if (!inTransaction_) throw EDatabaseError("Can't perform operation on inactive transaction");
  if (ownTransaction_) Connection().RunStatement("ROLLBACK");
  inTransaction_ = false;
  ownTransaction_ = false;
}

void TMySQLTransaction::Savepoint(const std::string& name) { Connection().RunStatement("SAVEPOINT " + name); }

void TMySQLTransaction::ReleaseSavepoint(const std::string& name) {
  Connection().RunStatement("RELEASE SAVEPOINT " + name);
}

void TMySQLTransaction::RollbackToSavepoint(const std::string& name) {
  Connection().RunStatement("ROLLBACK TO SAVEPOINT " + name);
}

}  // namespace da

// --- TMySQLCommand -------------------------------------------------------------------

namespace da {
namespace {

// The prepared-statement parameter of a blob held by reference.
class TBlobParamSource : public mysql::TMySqlBlobSource {
 public:
  explicit TBlobParamSource(const TBlob& blob) : blob_(blob) {}
  uint64_t Size() const override { return blob_.Size(); }
  void ForEachPiece(const std::function<void(const uint8_t* bytes, size_t count)>& sink) const override {
    std::vector<uint8_t> piece;
    size_t offset = 0;
    for (size_t i = 0, n = blob_.PieceCount(); i < n; ++i) {
      piece.resize(blob_.PieceUsed(i));
      if (!piece.empty()) blob_.Read(offset, piece.size(), piece.data());
      offset += piece.size();
      sink(piece.data(), piece.size());
    }
  }

 private:
  const TBlob& blob_;
};

}  // namespace

TMySQLCommand::TMySQLCommand() = default;

TMySQLCommand::~TMySQLCommand() {
  // The prepared statement is ours; an open result is the record set's.
  if (stmt_) {
    try {
      mysql::DirectApi().mysql_stmt_close(stmt_);
    } catch (const std::exception&) {
    }
  }
}

void TMySQLCommand::SetConnection(TCRConnection* connection) {
  if (connection && !dynamic_cast<TMySQLConnection*>(connection))
    throw EAssertionFailed("TMySQLCommand: not a MySQL connection");
  connection_ = connection;
}

TMySQLConnection& TMySQLCommand::CheckedConnection() const {
  TMySQLConnection* connection = GetConnection();
  if (!connection) throw EAssertionFailed("TMySQLCommand: no connection");
  if (!connection->GetHandle()) throw EDatabaseError("Connection is not opened");
  return *connection;
}

std::string TMySQLCommand::ParseSQL(const std::string& sql, TParamDescs* params, const std::string& renamePrefix) {
  scanTarget_ = params;
  struct Reset {
    TParamDescs*& target;
    ~Reset() { target = nullptr; }
  } reset{scanTarget_};
  TParamMarkerScan scan(&TMyParser::Create, params ? this : nullptr);
  scan.SetSkipTextWithoutColon(true);
  return scan.ParseSQL(sql, renamePrefix);
}

void TMySQLCommand::SetSQL(const std::string& text) {
  TCRCommand::SetSQL(text);
  if (!fillParamPosition_) paramPositions_.clear();
  cachedPieces_.clear();
  piecesBuilt_ = false;
}

void TMySQLCommand::AddParamPosition(size_t position) {
  paramPositions_.push_back(static_cast<int32_t>(position));
}

// --- Statement text --------------------------------------------------------------------

TMyLiteralOptions TMySQLCommand::LiteralOptions() const {
  TMyLiteralOptions options;
  if (const TMySQLConnection* connection = GetConnection()) {
    options.backslashEscapes = connection->BackslashEscapes();
    options.charset = connection->Charset();
    options.useUnicode = connection->UseUnicode();
  }
  options.compressBlob = compressBlob_ == cbServer || compressBlob_ == cbClientServer;
  return options;
}

bool TMySQLCommand::PositionsUsable() const {
  if (paramPositions_.empty()) return false;
  // Recorded positions stand for the markers of FinalSQL only when there is
  // one per parameter and each still points at a "?" after the one before.
  if (paramPositions_.size() != params_.Count() && !storedProc_) return false;
  if (paramPositions_.size() > params_.Count()) return false;
  int32_t previous = 0;
  for (int32_t pos : paramPositions_) {
    if (pos <= previous || static_cast<size_t>(pos) > finalSQL_.size() || finalSQL_[pos - 1] != '?') return false;
    previous = pos;
  }
  return true;
}

void TMySQLCommand::BuildCachedPieces() {
  cachedPieces_.clear();
  std::unique_ptr<TParser> parser = TMyParser::Create(finalSQL_);
  parser->SetOmitBlank(false);
  parser->SetOmitComment(true);
  parser->SetQuotedString(true);
  size_t start = 0;
  std::string lexem;
  for (int code = parser->GetNext(lexem); code != LexEnd; code = parser->GetNext(lexem)) {
    if (lexem == "?" && code != LexString && code != LexIdent) {
      const size_t at = parser->LexemPos();
      cachedPieces_.push_back(finalSQL_.substr(start, at - start));
      start = at + 1;
    }
  }
  cachedPieces_.push_back(finalSQL_.substr(start));
  piecesBuilt_ = true;
}

std::string TMySQLCommand::BuildStatementText() {
  const TMySQLConnection* connection = GetConnection();
  const bool unicode = connection && connection->UseUnicode();
  auto piece = [unicode](std::string& out, std::string_view text) {
    if (unicode)
      out += Win1252ToUtf8(text);
    else
      out += text;
  };

  std::string out;
  if (params_.Empty() || finalSQL_.find('?') == std::string::npos) {
    piece(out, finalSQL_);
  } else {
    const TMyLiteralOptions options = LiteralOptions();
    // Room for each literal's quotes and escapes, and for a short value
    // whose parameter declares no size.
    size_t estimate = finalSQL_.size();
    for (size_t i = 0; i < params_.Count(); ++i)
      estimate += 24 + 2 * static_cast<size_t>(std::max(params_[i].Size(), 0));
    out.reserve(estimate);

    if (PositionsUsable()) {
      size_t previous = 0;
      for (size_t i = 0; i < paramPositions_.size(); ++i) {
        const size_t at = static_cast<size_t>(paramPositions_[i]) - 1;
        piece(out, std::string_view(finalSQL_).substr(previous, at - previous));
        AppendParamLiteral(out, params_[i], options);
        previous = at + 1;
      }
      piece(out, std::string_view(finalSQL_).substr(previous));
    } else {
      if (!piecesBuilt_) BuildCachedPieces();
      size_t next = 0;
      for (size_t i = 0; i < cachedPieces_.size(); ++i) {
        piece(out, cachedPieces_[i]);
        if (i + 1 == cachedPieces_.size()) break;
        while (next < params_.Count() && params_[next].ParamType() == ptResult) ++next;
        // A "?" without a parameter would reach the server as it is.
        if (next >= params_.Count())
          throw EDatabaseError("The statement has more parameter markers than parameters");
        AppendParamLiteral(out, params_[next++], options);
      }
    }
  }
  if (OnTrace) OnTrace(unicode ? Utf8ToWin1252(out) : out);
  return out;
}

// --- Execution -------------------------------------------------------------------------

void TMySQLCommand::Execute() {
  if (cursorState_ != csIdle && cursorState_ != csPrepared) return;
  TMySQLConnection& connection = CheckedConnection();
  mysql::TMySQLAPI& api = connection.API();
  mysql::TMySqlSession* handle = connection.GetHandle();

  canReadParams_ = false;
  isSelectParams_ = false;
  const TCursorState oldState = cursorState_;
  api.ApplyCommandTimeout(handle, commandTimeout_);
  if (connection.ClientMode() == TMyClientMode::Direct) handle->SetStoredProc(storedProc_);

  // No BreakExec is running here (the last Execute waited for it), so the
  // flag of a break is cleared before the statement can be seen running.
  waitForBreak_ = false;
  executing_.store(true, std::memory_order_release);
  cursorState_ = csExecuting;

  // Answers whether a break was asked for this statement.
  auto finish = [this] {
    if (!sqlResult_) cursorState_ = csIdle;
    std::lock_guard lock(lock_);
    executing_.store(false, std::memory_order_relaxed);
    return waitForBreak_;
  };
  try {
    if (prepared_)
      ExecutePrepared(connection);
    else
      ExecuteText(connection);
  } catch (...) {
    const bool broken = finish();
    if (cursorState_ != csIdle) cursorState_ = oldState;
    if (AfterExecute) AfterExecute(false);
    if (broken) throw EAbort();
    throw;
  }
  finish();
  if (AfterExecute) AfterExecute(true);
}

void TMySQLCommand::ExecuteText(TMySQLConnection& connection) {
  mysql::TMySQLAPI& api = connection.API();
  if (!openNext_) {
    const std::string text = BuildStatementText();
    connection.CheckResult(api.mysql_real_query(connection.GetHandle(), text.data(), TextLength(text)),
                           component_);
  }
  mysql::TMySqlSession* handle = connection.GetHandle();
  rowsAffectedPrev_ = rowsAffected_;
  rowsAffected_ = static_cast<int64_t>(api.mysql_affected_rows(handle));
  cursorState_ = api.mysql_field_count(handle) != 0 ? csExecuted : csIdle;
  if (!requestResultset_)
    FreeAllResults(connection);
  else if (!openNext_)
    TakeResults(connection);
}

void TMySQLCommand::FreeAllResults(TMySQLConnection& connection) {
  mysql::TMySQLAPI& api = connection.API();
  mysql::TMySqlSession* handle = connection.GetHandle();
  if (mysql::TMySqlResultSet* result = api.mysql_use_result(handle))
    api.mysql_free_result(result);
  else
    connection.CheckErrno(component_);
  if (connection.ClientMode() == TMyClientMode::Direct) handle->SetStoredProc(false);
  for (;;) {
    const int32_t next = api.mysql_next_result(handle);
    if (next > 0) connection.RaiseSessionError(component_);
    if (next != 0) break;
    if (mysql::TMySqlResultSet* result = api.mysql_use_result(handle))
      api.mysql_free_result(result);
    else
      connection.CheckErrno(component_);
  }
}

void TMySQLCommand::TakeResults(TMySQLConnection& connection) {
  mysql::TMySQLAPI& api = connection.API();
  mysql::TMySqlSession* handle = connection.GetHandle();
  sqlResult_ = api.mysql_use_result(handle);
  if (!sqlResult_) connection.CheckErrno(component_);
  if (!api.mysql_more_results(handle)) return;
  // The first statement of a batch that returns rows provides the result.
  while (!sqlResult_) {
    const int32_t next = api.mysql_next_result(handle);
    if (next > 0) {
      cursorState_ = csIdle;
      connection.RaiseSessionError(component_);
    }
    if (next != 0) break;
    rowsAffectedPrev_ = rowsAffected_;
    rowsAffected_ = static_cast<int64_t>(api.mysql_affected_rows(handle));
    sqlResult_ = api.mysql_use_result(handle);
    if (!sqlResult_) connection.CheckErrno(component_);
  }
  if (sqlResult_) cursorState_ = csExecuted;
}

void TMySQLCommand::ExecutePrepared(TMySQLConnection& connection) {
  mysql::TMySQLAPI& api = connection.API();
  std::vector<TBlobParamSource> blobs;
  blobs.reserve(params_.Count());
  std::vector<mysql::TMySqlParamDesc> descs(params_.Count());
  for (size_t i = 0; i < params_.Count(); ++i) {
    const TParamDesc& p = params_[i];
    mysql::TMySqlParamDesc& d = descs[i];
    d.DataType = p.DataType();
    d.ParamType = p.ParamType();
    d.Size = p.Size();
    d.Value = &p.Value();
    d.IsNull = p.IsNull();
    std::shared_ptr<TSharedObject> object = p.Object();
    if (const auto* blob = dynamic_cast<const TBlob*>(object.get())) d.Blob = &blobs.emplace_back(*blob);
  }
  connection.CheckStmt(stmt_, api.StmtExecute(stmt_, descs, connection.UseUnicode()), component_);
  rowsAffectedPrev_ = rowsAffected_;
  rowsAffected_ = static_cast<int64_t>(api.mysql_stmt_affected_rows(stmt_));
  cursorState_ = api.mysql_stmt_field_count(stmt_) != 0 ? csExecuted : csIdle;
  if (requestResultset_ && cursorState_ == csExecuted) {
    sqlResult_ = api.mysql_stmt_result_metadata(stmt_);
    if (!sqlResult_) connection.CheckStmt(stmt_, api.mysql_stmt_errno(stmt_), component_);
  } else {
    connection.CheckStmt(stmt_, api.mysql_stmt_free_result(stmt_), component_);
  }
}

void TMySQLCommand::Prepare() {
  if (prepared_) return;
  TMySQLConnection& connection = CheckedConnection();
  if (!connection.IsClient41())
    throw EDatabaseError("Prepare/UnPrepare is not supported by this MySQL client version");
  if (!connection.IsServer41())
    throw EDatabaseError("Prepare/UnPrepare is not supported by this MySQL server version");
  mysql::TMySQLAPI& api = connection.API();
  mysql::TMySqlSession* handle = connection.GetHandle();
  stmt_ = api.mysql_stmt_init(handle);
  try {
    connection.CheckHandle(stmt_, component_);
    const int32_t timeout = commandTimeout_;
    api.mysql_options(handle, mysql::MYSQL_OPT_READ_TIMEOUT, &timeout);
    api.mysql_options(handle, mysql::MYSQL_OPT_WRITE_TIMEOUT, &timeout);
    const std::string text = connection.UseUnicode() ? Win1252ToUtf8(finalSQL_) : finalSQL_;
    connection.CheckStmt(stmt_, api.mysql_stmt_prepare(stmt_, text.data(), TextLength(text)), component_);
  } catch (...) {
    if (stmt_) api.mysql_stmt_close(stmt_);
    stmt_ = nullptr;
    throw;
  }
  prepared_ = true;
  cursorState_ = csPrepared;
}

void TMySQLCommand::Unprepare() {
  if (stmt_) {
    if (sqlResult_ == stmt_->Result()) sqlResult_ = nullptr;
    mysql::TMySqlStmt* stmt = stmt_;
    stmt_ = nullptr;
    if (TMySQLConnection* connection = GetConnection(); connection && connection->GetHandle())
      connection->API().mysql_stmt_close(stmt);
    else
      mysql::DirectApi().mysql_stmt_close(stmt);
  }
  cursorState_ = csIdle;
  prepared_ = false;
}

void TMySQLCommand::BreakExec() {
  std::lock_guard lock(lock_);
  if (!executing_.load(std::memory_order_acquire)) return;
  waitForBreak_ = true;
  try {
    TMySQLConnection* running = GetConnection();
    if (!running || !running->GetHandle()) return;
    mysql::TMySQLAPI& api = running->API();
    const uint32_t threadId = api.mysql_thread_id(running->GetHandle());
    TMySQLConnection killer;
    killer.TakeSettingsFrom(*running);
    // This runs on another thread: the component's error handler is not
    // called from here.
    killer.OnError = nullptr;
    killer.Connect();
    const std::string sql = "KILL " + std::to_string(threadId);
    killer.API().mysql_real_query(killer.GetHandle(), sql.data(), TextLength(sql));
  } catch (const std::exception&) {
    // The break is best effort; the statement may have ended meanwhile.
  }
}

// --- Properties --------------------------------------------------------------------------

bool TMySQLCommand::SetProp(int prop, const Variant& value) {
  switch (prop) {
    case propCommandTimeout: commandTimeout_ = value.AsInt32(); break;
    case propAddParamPosition: paramPositions_.push_back(value.AsInt32()); break;
    case propFillParamPosition:
      fillParamPosition_ = value.AsBoolean();
      if (fillParamPosition_) paramPositions_.clear();
      break;
    case propOpenNext: openNext_ = value.AsBoolean(); break;
    default: return TCRCommand::SetProp(prop, value);
  }
  return true;
}

int64_t TMySQLCommand::RowsAffectedCount() const {
  const int64_t rows = isSelectParams_ ? rowsAffectedPrev_ : rowsAffected_;
  return rows == -1 ? 0 : rows;
}

bool TMySQLCommand::GetProp(int prop, Variant& value) {
  switch (prop) {
    case propRowsAffected: value = RowsAffectedCount(); break;
    case propExecuting: value = Executing(); break;
    case propCommandTimeout: value = commandTimeout_; break;
    case propFillParamPosition: value = fillParamPosition_; break;
    case propOpenNext: value = openNext_; break;
    default: return TCRCommand::GetProp(prop, value);
  }
  return true;
}

}  // namespace da
