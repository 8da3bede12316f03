#pragma once
// The MySQL components: TMyConnection (the settings of one MySQL session,
// opened and closed on demand), TMyQuery (a statement with parameters whose
// rows are walked as a dataset) and TMyCommand (a statement without a
// dataset). They keep settings and order calls; the driver (MyClasses.h,
// MyRecordSet.h) does the work.

#include <cstdint>
#include <memory>
#include <string>

#include "components/DAConnection.h"
#include "components/DADataSet.h"
#include "components/DASQL.h"
#include "mysql/MyCall.h"

namespace da {

class TCRConnection;
class TCRRecordSet;
namespace mysql {
class TCRIOHandler;
}

// The transport protocol (mpDefault, mpTCP … mpHttp), as the call table
// numbers it.
using TMyProtocol = mysql::TMyProtocol;
using enum mysql::TMyProtocol;
// TDANumericType.
enum TDANumericType { ntFloat, ntBCD, ntFmtBCD };
// Declared with the driver (MyClasses.h): ilReadCommitted (0),
// ilReadUnCommitted, ilRepeatableRead, ilSerializable.
enum TMyIsolationLevel : uint8_t;
// Declared with the driver (CRAccess.h): cbNone (0), cbClient, cbServer,
// cbClientServer.
enum TCompressBlobMode : uint8_t;

class TCustomMyConnection;

// The MySQL connection options. Options marked "refused" raise
// "Cannot perform this operation on an open connection" (name in front)
// while connected and stay unchanged; the others act at once.
class TMyConnectionOptions : public TDAConnectionOptions {
 public:
  explicit TMyConnectionOptions(TCustomMyConnection* owner);

  bool Compress() const { return compress_; }
  void SetCompress(bool value);  // refused while open
  bool UseUnicode() const { return useUnicode_; }
  void SetUseUnicode(bool value);  // refused while open
  const std::string& Charset() const { return charset_; }
  void SetCharset(const std::string& value);  // refused while open
  TMyProtocol Protocol() const { return protocol_; }
  void SetProtocol(TMyProtocol value);  // refused while open
  bool Embedded() const { return embedded_; }
  void SetEmbedded(bool value);  // refused while open
  bool Direct() const { return direct_; }
  void SetDirect(bool value);  // refused while open
  bool CheckBackslashes() const { return checkBackslashes_; }
  void SetCheckBackslashes(bool value);  // passed on at once
  bool NullForZeroDelphiDate() const { return nullForZeroDelphiDate_; }
  void SetNullForZeroDelphiDate(bool value);  // refused while open
  bool OptimizedBigInt() const { return optimizedBigInt_; }
  void SetOptimizedBigInt(bool value);  // refused while open
  // The authentication plugin announced at login ("": as the server's
  // greeting asks); a name forces plugin authentication.
  const std::string& AuthPlugin() const { return authPlugin_; }
  void SetAuthPlugin(const std::string& value);  // refused while open
  // A PEM file with the server's RSA public key ("": none).
  const std::string& ServerPublicKeyFile() const { return serverPublicKeyFile_; }
  void SetServerPublicKeyFile(const std::string& value);  // refused while open
  // Without a key file, the key may be asked from the server (true).
  bool GetServerPublicKey() const { return getServerPublicKey_; }
  void SetGetServerPublicKey(bool value);  // refused while open
  // ntFmtBCD when the FmtBCD flag is set, else ntBCD when the BCD flag is
  // set, else ntFloat; setting it passes both flags on at once.
  TDANumericType NumericType() const;
  void SetNumericType(TDANumericType value);

  void Assign(const TDAConnectionOptions& source) override;

 private:
  TCustomMyConnection& Owner() const;

  bool compress_ = false;
  bool useUnicode_ = false;
  std::string charset_;
  TMyProtocol protocol_ = mpDefault;
  bool embedded_ = false;
  bool direct_ = true;
  bool checkBackslashes_ = false;
  bool nullForZeroDelphiDate_ = false;
  bool optimizedBigInt_ = false;
  std::string authPlugin_;
  std::string serverPublicKeyFile_;
  bool getServerPublicKey_ = true;
};

// Files and ciphers of the SSL transport (ChipherList is published so).
struct TMyConnectionSSLOptions {
  std::string ChipherList;
  std::string CACert;
  std::string Key;
  std::string Cert;
  bool operator==(const TMyConnectionSSLOptions&) const = default;
};

// Settings of the HTTP tunnel transport as the component keeps them.
struct TMyHttpProxyOptions {
  std::string Hostname;
  int Port = 0;
  std::string Username;
  std::string Password;
  bool operator==(const TMyHttpProxyOptions&) const = default;
};
struct TMyHttpOptions {
  std::string Url;
  std::string Username;
  std::string Password;
  TMyHttpProxyOptions ProxyOptions;
  bool operator==(const TMyHttpOptions&) const = default;
};

// Connection pool settings. The pool is not part of this library: a
// connection with Pooling true fails to connect with a clear error.
struct TPoolingOptions {
  int MaxPoolSize = 100;
  int MinPoolSize = 0;
  int ConnectionLifetime = 0;
  bool Validate = false;
};

class TCustomMyConnection : public TCustomDAConnection {
 public:
  explicit TCustomMyConnection(TComponent* owner = nullptr);
  ~TCustomMyConnection() override;

  // The database selected after login. On an open connection a different
  // name is selected on the session at once (the connection stays open).
  const std::string& Database() const { return database_; }
  void SetDatabase(const std::string& value);
  // Seconds allowed for connecting (15).
  int ConnectionTimeout() const { return connectionTimeout_; }
  void SetConnectionTimeout(int value);
  // Kept by the connection's own transaction object (ilReadCommitted).
  TMyIsolationLevel IsolationLevel() const { return isolationLevel_; }
  void SetIsolationLevel(TMyIsolationLevel value);

  TMyConnectionOptions& Options() const { return static_cast<TMyConnectionOptions&>(*options_); }

  // The server's version text as it sent it (empty while closed).
  std::string ServerVersion() const;
  // The session's thread id on the server (0 while closed).
  uint64_t ThreadId() const;

 protected:
  std::unique_ptr<TCRConnection> NewDriverConnection() override;
  void CopySettingsToDriver(TCRConnection& connection) override;

 private:
  std::string database_;
  int connectionTimeout_ = 15;
  TMyIsolationLevel isolationLevel_{};  // ilReadCommitted
};

class TMyConnection : public TCustomMyConnection {
 public:
  explicit TMyConnection(TComponent* owner = nullptr);
  ~TMyConnection() override;

  int Port() const { return port_; }
  void SetPort(int value);
  // The same values as Options().Compress() etc.
  bool Compress() const { return Options().Compress(); }
  void SetCompress(bool value) { Options().SetCompress(value); }
  TMyProtocol Protocol() const { return Options().Protocol(); }
  void SetProtocol(TMyProtocol value) { Options().SetProtocol(value); }
  bool Direct() const { return Options().Direct(); }
  void SetDirect(bool value) { Options().SetDirect(value); }
  bool Embedded() const { return Options().Embedded(); }
  void SetEmbedded(bool value) { Options().SetEmbedded(value); }
  bool CheckBackslashes() const { return Options().CheckBackslashes(); }
  void SetCheckBackslashes(bool value) { Options().SetCheckBackslashes(value); }

  const TMyConnectionSSLOptions& SSLOptions() const { return sslOptions_; }
  // Passed to the driver at once; used at the next connect.
  void SetSSLOptions(const TMyConnectionSSLOptions& value);
  const TMyHttpOptions& HttpOptions() const { return httpOptions_; }
  // Passed to the driver at once; used at the next connect with Protocol
  // mpHttp.
  void SetHttpOptions(const TMyHttpOptions& value);

  const TPoolingOptions& PoolingOptions() const { return poolingOptions_; }
  void SetPoolingOptions(const TPoolingOptions& value) { poolingOptions_ = value; }
  // Stored; connecting with Pooling true raises "Connection pooling is not
  // supported" (no pool exists in this library).
  bool Pooling() const { return pooling_; }
  void SetPooling(bool value);

  // "<client version> Direct" in the default mode ("7.0.0 Direct").
  virtual std::string ClientVersionText() const;

  // A transport supplied by the program instead of TCP (weak; forgotten
  // when it is destroyed). Used from the next connect on.
  mysql::TCRIOHandler* IOHandler() const { return ioHandler_; }
  void SetIOHandler(mysql::TCRIOHandler* handler);

 protected:
  void CopySettingsToDriver(TCRConnection& connection) override;
  void CreateDriverConnection() override;
  // Refuses Pooling also when a driver connection is left from before.
  void DoConnect() override;
  // Hands the driver connection a copy of HttpOptions.
  void AttachHttpOptions(TCRConnection& connection) const;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  int port_ = 3306;
  TMyConnectionSSLOptions sslOptions_;
  TMyHttpOptions httpOptions_;
  TPoolingOptions poolingOptions_;
  bool pooling_ = false;
  mysql::TCRIOHandler* ioHandler_ = nullptr;  // weak
};

// A statement without a dataset.
class TMyCommand : public TCustomDASQL {
 public:
  explicit TMyCommand(TComponent* owner = nullptr);
  ~TMyCommand() override;

  // The session's last insert id after Execute.
  int64_t InsertId() const;

 protected:
  std::unique_ptr<TCRCommand> NewDriverCommand() override;
};

// The MySQL dataset options. Those the driver reads are passed on when the
// record set is created, and at once while it exists.
class TCustomMyDataSet;
class TMyDataSetOptions {
 public:
  explicit TMyDataSetOptions(TCustomMyDataSet* owner) : owner_(owner) {}
  TMyDataSetOptions(const TMyDataSetOptions&) = delete;
  TMyDataSetOptions& operator=(const TMyDataSetOptions&) = delete;

  bool FieldsAsString() const { return fieldsAsString_; }
  void SetFieldsAsString(bool v);
  bool NullForZeroDate() const { return nullForZeroDate_; }
  void SetNullForZeroDate(bool v);
  bool EnableBoolean() const { return enableBoolean_; }
  void SetEnableBoolean(bool v);
  bool BinaryAsString() const { return binaryAsString_; }
  void SetBinaryAsString(bool v);
  bool CreateConnection() const { return createConnection_; }
  void SetCreateConnection(bool v);
  bool LongStrings() const { return longStrings_; }
  void SetLongStrings(bool v);
  bool FlatBuffers() const { return flatBuffers_; }
  void SetFlatBuffers(bool v);
  bool QuoteNames() const { return quoteNames_; }
  void SetQuoteNames(bool v);
  bool FieldsOrigin() const { return fieldsOrigin_; }
  void SetFieldsOrigin(bool v);
  bool DefaultValues() const { return defaultValues_; }
  void SetDefaultValues(bool v);
  TCompressBlobMode CompressBlobMode() const { return compressBlobMode_; }
  void SetCompressBlobMode(TCompressBlobMode v);
  bool TrimFixedChar() const { return trimFixedChar_; }
  void SetTrimFixedChar(bool v);
  bool TrimVarChar() const { return trimVarChar_; }
  void SetTrimVarChar(bool v);
  bool SetEmptyStrToNull() const { return setEmptyStrToNull_; }
  void SetSetEmptyStrToNull(bool v) { setEmptyStrToNull_ = v; }
  // Prepare before the first open or execute.
  bool AutoPrepare() const { return autoPrepare_; }
  void SetAutoPrepare(bool v) { autoPrepare_ = v; }
  bool RequiredFields() const { return requiredFields_; }
  void SetRequiredFields(bool v) { requiredFields_ = v; }
  // Stored only (editing, refreshing and record counting are not part of
  // this library).
  bool SetFieldsReadOnly = false, FullRefresh = false, CheckRowVersion = false, AutoRefresh = false,
       QueryRecCount = false, RemoveOnRefresh = true, StrictUpdate = true, NumberRange = false,
       ReturnParams = false, LocalMasterDetail = false, CacheCalcFields = false, UpdateAllFields = false;
  int AutoRefreshInterval = 60;
  int DetailDelay = 0;
  int UpdateBatchSize = 1;

 private:
  friend class TCustomMyDataSet;
  TCustomMyDataSet* owner_;  // weak: the options live inside it
  bool fieldsAsString_ = false;
  bool nullForZeroDate_ = true;
  bool enableBoolean_ = true;
  bool binaryAsString_ = true;
  bool createConnection_ = true;
  bool longStrings_ = true;
  bool flatBuffers_ = false;
  bool quoteNames_ = false;
  bool fieldsOrigin_ = true;
  bool defaultValues_ = false;
  TCompressBlobMode compressBlobMode_{};  // cbNone
  bool trimFixedChar_ = true;
  bool trimVarChar_ = false;
  bool setEmptyStrToNull_ = false;
  bool autoPrepare_ = false;
  bool requiredFields_ = false;
};

class TCustomMyDataSet : public TCustomDADataSet {
 public:
  explicit TCustomMyDataSet(TComponent* owner = nullptr);
  ~TCustomMyDataSet() override;

  TCustomMyConnection* Connection() const;
  void SetConnection(TCustomMyConnection* connection) { TCustomDADataSet::SetConnection(connection); }

  TMyDataSetOptions& Options() { return options_; }
  const TMyDataSetOptions& Options() const { return options_; }

 protected:
  friend class TMyDataSetOptions;
  std::unique_ptr<TCRRecordSet> NewDriverRecordSet() override;
  void SetRecordSetProps(TCRRecordSet& recordSet) override;
  int64_t ReadInsertId() const override;
  // Sets the property on the driver record set when it exists.
  void PassOption(int prop, const Variant& value);
  // Sets the property on the driver command when it exists.
  void PassCommandOption(int prop, const Variant& value);

 private:
  TMyDataSetOptions options_;
};

// The query the application uses.
class TMyQuery : public TCustomMyDataSet {
 public:
  explicit TMyQuery(TComponent* owner = nullptr);
  ~TMyQuery() override;
};

}  // namespace da
