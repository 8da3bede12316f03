#pragma once
// One client connection to a MySQL server: the object behind the call
// table's connection handle. It opens the connection (transport, greeting,
// capabilities, login, authentication exchanges), runs commands and reads
// their responses (OK packets, result headers, column definitions, LOCAL
// INFILE requests, multiple results), and closes.
//
// Failures raise EMySqlException; the call table catches them and stores
// their code and text in the session (SetError).

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mysql/CRVio.h"
#include "mysql/MySqlAuth.h"
#include "mysql/MySqlErrors.h"
#include "mysql/MySqlNet.h"
#include "mysql/MySqlResultSet.h"

namespace da {
class THttpOptions;  // the HTTP tunnel's settings, defined with that transport
}

namespace da::mysql {

class TMySqlStmt;

// What a transport outside the wire client is built from.
struct TTransportSettings {
  std::string host;
  int32_t port = 0;
  std::string pipeName;
  std::string sslKey, sslCert, caCert, caPath, cipherList;
  const THttpOptions* httpOptions = nullptr;  // borrowed
};

// Constructors of the transports that live outside the wire client (SSL,
// HTTP tunnel, named pipe). A connect that needs one that is empty fails
// with 2046 "Wrong or unknown protocol".
struct TTransportFactories {
  std::function<std::unique_ptr<TCRVio>(const TTransportSettings&)> ssl;
  // Switches a transport made by `ssl` to SSL (the login's switch-over).
  std::function<void(TCRVio&)> startSsl;
  std::function<std::unique_ptr<TCRVio>(const TTransportSettings&)> http;
  std::function<std::unique_ptr<TCRVio>(const TTransportSettings&)> pipe;
};
// The process-wide set, filled with the transports this build has.
TTransportFactories& TransportFactories();

// SHA-1 (from libcrypto).
class TSHA1Managed {
 public:
  using TDigest = std::array<uint8_t, 20>;
  static TDigest ComputeHash(const uint8_t* data, size_t length);
  static TDigest ComputeHash(std::string_view bytes) {
    return ComputeHash(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
};

// The 4.1 token: SHA1(password) XOR SHA1(scramble + SHA1(SHA1(password))).
TSHA1Managed::TDigest Scramble41(std::string_view password, const uint8_t* scramble20);
// The 3.23 scramble of a password with the first 8 bytes of the challenge
// (spaces and tabs of the password ignored).
std::array<uint8_t, 8> Scramble323(std::string_view password, const uint8_t* scramble8);

class TMySqlSession : public TStoredError {
 public:
  // The state of the response being read.
  static constexpr uint8_t kReady = 0;        // a new command may start
  static constexpr uint8_t kColumnsRead = 1;  // result header and columns read
  static constexpr uint8_t kRowsPending = 2;  // rows being read

  TMySqlSession();
  // Detaches the current result and the statements, then frees the net
  // (which closes a transport still open).
  ~TMySqlSession();
  TMySqlSession(const TMySqlSession&) = delete;
  TMySqlSession& operator=(const TMySqlSession&) = delete;

  // --- Connecting -------------------------------------------------------
  // Opens the connection. Empty host, database and port 0 take the session's
  // own values (then "localhost" and 3306). Raises EMySqlException: 2003
  // when the transport cannot connect, 2007 for a greeting other than
  // protocol 10, 2012 for an answer to the login that is not understood,
  // the server's error when it refuses, 2013 when the connection drops.
  void ConnectSession(const std::string& host, const std::string& user, const std::string& password,
                      const std::string& database, int32_t port, const std::string& pipeName, uint32_t clientFlags);
  // Sends COM_QUIT (no answer read) and closes the net; a second call does nothing.
  void CloseSession();
  bool IsProtocol41() const;

  // --- Commands ---------------------------------------------------------
  // Starts a command packet: the state must be ready (else 2014).
  void BeginCommand(uint8_t code);
  // Sends a whole command. Without a transport a command that expects an
  // answer raises 2006; one that does not (quit, statement close) is skipped.
  void SimpleCommand(uint8_t code, const uint8_t* body, size_t length, bool noAnswer);
  // Reads the response to a query or execute: an OK packet, a LOCAL INFILE
  // request (answered, then its response read) or a result header with its
  // column definitions (state := columns read).
  void ReadQueryResult();
  // Reads and drops whatever the server still sends for the current result;
  // after a procedure call (stored-procedure flag) also every further
  // result the server announces.
  void DrainResult();
  // Reads every further result the server announces (with
  // SERVER_MORE_RESULTS_EXISTS) up to the final OK packet, dropping rows.
  void DrainFurtherResults();
  // mysql_use_result: the result announced by the last response, or null
  // when there is none. The caller owns it.
  std::unique_ptr<TMySqlResultSet> OpenResult();
  // mysql_next_result: 0 with the next response read, -1 when none follows.
  int32_t NextResult();
  // Reads `count` column definitions up to their end packet; fewer or more
  // than `count` raise 2027.
  TMySqlFieldInfos ReadColumns(size_t count);
  // Reads rows as byte arrays up to the end packet; a row beyond `maxRows`
  // raises 2027 (what a server announced bounds what is kept of it).
  TRows ReadStoredRows(size_t maxRows);
  void SelectDb(const std::string& name);
  void Ping();
  void Kill(uint32_t threadId);

  // --- Staying in step with the server ----------------------------------
  // Runs `step`, which reads (part of) a response. When it fails in a way
  // that leaves the position in the stream unknown or the rest of the
  // response unread (LosesStep), the session gives up its connection
  // (Abandon): no later command can take those bytes for its own answer;
  // it fails with 2006 instead. The failure itself propagates.
  template <typename Step>
  decltype(auto) InStep(Step&& step) {
    try {
      return step();
    } catch (const EMySqlException& e) {
      if (LosesStep(e.ErrorCode())) Abandon();
      throw;
    }
  }
  // Failures after which the stream cannot be trusted: the connection lost
  // or timed out, a packet that does not parse (or a row with no row object
  // to parse into), a packet too large, out of order or not decompressible.
  static bool LosesStep(int32_t code);
  // Closes the transport and forgets the response being read: state ready,
  // no pending columns, no further results announced.
  void Abandon();

  // --- Settings (options) -----------------------------------------------
  void SetConnectTimeout(int32_t seconds) { connectTimeout_ = seconds; }
  int32_t ConnectTimeout() const { return connectTimeout_; }
  void SetReadWriteTimeout(int32_t seconds) { readWriteTimeout_ = seconds; }
  int32_t ReadWriteTimeout() const { return readWriteTimeout_; }
  void SetProtocol(uint8_t protocol) { protocol_ = protocol; }
  uint8_t Protocol() const { return protocol_; }
  void SetCharsetName(const std::string& name) { charsetName_ = name; }
  const std::string& CharsetName() const { return charsetName_; }
  // LOAD DATA LOCAL INFILE lets the server name any file on this machine;
  // the file is sent only when this is on (off by default).
  void SetAllowLocalInfile(bool on) { allowLocalInfile_ = on; }
  bool AllowLocalInfile() const { return allowLocalInfile_; }
  void SetSsl(std::string key, std::string cert, std::string ca, std::string caPath, std::string cipher);
  // Authentication plugin settings (options MYSQL_DEFAULT_AUTH,
  // MYSQL_SERVER_PUBLIC_KEY, MYSQL_OPT_GET_SERVER_PUBLIC_KEY).
  TAuthOptions& AuthOptions() { return authOptions_; }
  const TAuthOptions& AuthOptions() const { return authOptions_; }
  // Borrowed; must outlive the session's connection.
  void SetIOHandler(TCRIOHandler* handler) { ioHandler_ = handler; }
  void SetHttpOptions(const THttpOptions* options) { httpOptions_ = options; }
  // Set by the driver before it executes a procedure call.
  bool StoredProc() const { return storedProc_; }
  void SetStoredProc(bool on) { storedProc_ = on; }

  // --- What the server told ---------------------------------------------
  const std::string& Host() const { return host_; }
  int32_t Port() const { return port_; }
  const std::string& Database() const { return database_; }
  const std::string& ServerVersion() const { return serverVersion_; }
  const std::string& HostInfo() const { return hostInfo_; }
  const std::string& Info() const { return info_; }
  uint32_t ClientFlags() const { return clientFlags_; }
  uint32_t ThreadId() const { return threadId_; }
  uint16_t ServerCapabilities() const { return serverCapabilities_; }
  // The authentication plugin the greeting names (empty when none).
  const std::string& ServerAuthPlugin() const { return serverAuthPlugin_; }
  int32_t ServerStatus() const { return serverStatus_; }
  void SetServerStatus(int32_t status) { serverStatus_ = status; }
  int32_t ServerLanguage() const { return serverLanguage_; }
  int32_t WarningCount() const { return warningCount_; }
  // Unsigned as the server counts them; all bits set (the C interface's -1)
  // once a further result of a batch has been asked for.
  uint64_t AffectedRows() const { return affectedRows_; }
  uint64_t InsertId() const { return insertId_; }
  int64_t Extra() const { return extra_; }
  int32_t FieldCount() const { return fieldCount_; }
  void SetFieldCount(int32_t count) { fieldCount_ = count; }
  uint8_t State() const { return state_; }
  void SetState(uint8_t state) { state_ = state; }
  const TMySqlFieldInfos& PendingColumns() const { return pendingColumns_; }
  TMySqlFieldInfos TakePendingColumns();
  // The end packet of rows: warning count and status when it carries them.
  void ReadEndPacket(const uint8_t* packet, size_t size);

  TMySqlNet& Net() { return *net_; }
  TMySqlResultSet* CurrentResult() const { return currentResult_; }
  void SetCurrentResult(TMySqlResultSet* result) { currentResult_ = result; }

  // Statements living on this session; detached when it goes.
  void RegisterStatement(TMySqlStmt* stmt);
  void UnregisterStatement(TMySqlStmt* stmt);
  // Closes a server-side statement: COM_STMT_CLOSE (no answer) now, or,
  // while a result is pending, before the next command starts. Nothing
  // without a transport: the server drops it with the connection.
  void CloseStatementOnServer(uint32_t statementId);

 private:
  // Handshake steps.
  void OpenTransport(const std::string& pipeName);
  void ReadGreeting();
  uint32_t ComputeClientFlags(uint32_t callerFlags) const;
  void WriteLoginHead(bool protocol41);
  // With plugin authentication the exchange that follows is left in auth_
  // for ReadAuthAnswer.
  void WriteLoginPacket(const std::string& user, const std::string& password, const std::string& database);
  // Nobody can read the bytes on the way: SSL has started or the transport
  // is local.
  bool IsSecureLink() const;
  void StartSsl();
  void WriteAuthData(const std::string& password);
  void ReadAuthAnswer(const std::string& password);
  // Response steps.
  void ReadResponse();
  void ReadOkPacket();
  void SendLocalFile(const std::string& fileName);
  void SkipRows();
  // SkipRows, then the state is ready again, also when skipping raised.
  void SkipRowsToReady();
  // Sends the statement closes that waited for the session to be free.
  void SendDueCloses();

  bool closing_ = false;
  TMySqlResultSet* currentResult_ = nullptr;  // borrowed: owned by the caller
  TCRIOHandler* ioHandler_ = nullptr;         // borrowed
  const THttpOptions* httpOptions_ = nullptr; // borrowed
  std::unique_ptr<TMySqlNet> net_;
  std::string host_;
  std::string database_;
  std::string serverVersion_;
  std::string hostInfo_;
  std::string info_;
  std::string charsetName_;
  uint32_t clientFlags_ = 0;
  int32_t port_ = 0;
  int32_t connectTimeout_ = 0;
  int32_t readWriteTimeout_ = 0;
  uint32_t threadId_ = 0;
  uint16_t serverCapabilities_ = 0;
  uint16_t serverCapabilitiesUpper_ = 0;  // bits 16-31, after the status
  std::string serverAuthPlugin_;
  TAuthOptions authOptions_;
  std::unique_ptr<TMySqlAuth> auth_;  // between the login packet and its answer
  int32_t serverStatus_ = 0;
  int32_t serverLanguage_ = 0;
  int32_t warningCount_ = 0;
  uint8_t state_ = kReady;
  std::array<uint8_t, 20> scramble_{};
  size_t scrambleLength_ = 0;  // 8 (first part only) or 20
  uint8_t protocol_ = 0;
  bool sslCapable_ = false;  // the transport can switch to SSL
  TMySqlFieldInfos pendingColumns_;
  uint64_t affectedRows_ = 0;
  uint64_t insertId_ = 0;
  int64_t extra_ = 0;
  int32_t fieldCount_ = 0;
  std::string sslKey_, sslCert_, caCert_, caPath_, cipherList_;
  bool storedProc_ = false;
  bool allowLocalInfile_ = false;
  std::vector<uint8_t> skipPiece_;     // reused by DrainResult
  std::vector<TMySqlStmt*> statements_;  // borrowed: each unregisters itself
  std::vector<uint32_t> closesDue_;       // statement ids to close before the next command
};

}  // namespace da::mysql
