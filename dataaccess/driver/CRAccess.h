#pragma once
// The driver layer's common interface: the numbered properties through
// which components hand settings to driver objects, the parameter
// description a command works with, and the abstract connection,
// transaction and command. The MySQL classes are in MyClasses.h; the
// record set is in CRRecordSet.h.
//
// Failures are exceptions: EMyError (and the silent abort) from the MySQL
// classes, EDatabaseError for misuse, EUnknownProperty for a property
// number a class does not know (a programming error).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/DAErrors.h"
#include "common/DataTypes.h"
#include "common/Exception.h"
#include "common/Variant.h"
#include "driver/Blob.h"
#include "driver/ParamMarkerScan.h"

namespace da {

class TComponent;
class THttpOptions;
namespace mysql {
class TCRIOHandler;
}

// --- Numbered properties ---------------------------------------------------
// (number, object that takes it, value kind)
inline constexpr int propUsername = 1;               // connection (get), string
inline constexpr int propAutoCommit = 5;             // connection, command: Boolean, stored only
inline constexpr int propScanParams = 11;            // command: Boolean, scan ':name' markers
inline constexpr int propRowsAffected = 13;          // command (get): 64-bit integer, 0 when unknown
inline constexpr int propUniDirectional = 20;        // record set: Boolean
inline constexpr int propFetchRows = 21;             // record set: integer
inline constexpr int propFetchAll = 22;              // record set: Boolean
inline constexpr int propRecordCount = 23;           // record set (get): integer
inline constexpr int propExecuting = 24;             // command (get): Boolean
inline constexpr int propLongStrings = 25;           // record set: Boolean
inline constexpr int propFlatBuffers = 27;           // record set: Boolean
inline constexpr int propConvertEOL = 28;            // connection: Boolean
inline constexpr int propIndexFieldNames = 29;       // record set: string
inline constexpr int propCompressBlob = 30;          // command, record set: TCompressBlobMode
inline constexpr int propDisconnectedMode = 31;      // connection: Boolean, stored only
inline constexpr int propDisableParamScan = 32;      // command: Boolean
inline constexpr int propCommandIgnoredFlag = 33;    // command: Boolean, accepted with no effect
inline constexpr int propQuoteNames = 34;            // command: Boolean
inline constexpr int propIsolationLevel = 35;        // transaction: TMyIsolationLevel
inline constexpr int propTransactionReadOnly = 37;   // transaction: Boolean
inline constexpr int propDatabase = 38;              // connection: string
inline constexpr int propPort = 39;                  // connection: integer
inline constexpr int propMaxStringSize = 40;         // connection (get): integer, answers 0
inline constexpr int propEnableBCD = 41;             // connection, command: Boolean
inline constexpr int propEnableFmtBCD = 42;          // connection, command: Boolean
inline constexpr int propCanReadParams = 43;         // command: Boolean
inline constexpr int propReadOnly = 44;              // record set: Boolean, no effect in the driver
inline constexpr int propStoredProc = 45;            // command: Boolean
inline constexpr int propIsSelectParams = 46;        // command (get): Boolean
inline constexpr int propLockFetchAll = 47;          // record set: Boolean, FetchAll changes ignored while true
inline constexpr int propDefaultSortType = 48;       // connection: integer
inline constexpr int propLastInsertId = 49;          // connection (get): 64-bit integer
inline constexpr int propRecordSetFlag51 = 51;       // record set: Boolean, stored and readable
inline constexpr int propDefaultValues = 52;         // record set: Boolean
inline constexpr int propFieldsOrigin = 53;          // record set: Boolean
inline constexpr int propCommandAlwaysFalse = 54;    // command (get): Boolean, answers false
inline constexpr int propRefreshOptions = 55;        // record set: set, no effect in the driver
inline constexpr int propConnectionTimeout = 1001;   // connection: integer seconds
inline constexpr int propFieldsAsString = 1005;      // record set: Boolean
inline constexpr int propNullForZeroDate = 1006;     // record set: Boolean
inline constexpr int propCompress = 1007;            // connection: Boolean
inline constexpr int propCharset = 1009;             // connection: string
inline constexpr int propProtocol = 1011;            // connection: TMyProtocol
inline constexpr int propEnableBoolean = 1014;       // record set: Boolean
inline constexpr int propCreateConnection = 1015;    // record set: Boolean
inline constexpr int propCommandTimeout = 1016;      // command, record set: integer seconds
inline constexpr int propOpenNext = 1017;            // record set: Boolean
inline constexpr int propUseUnicode = 1018;          // connection: Boolean
inline constexpr int propEmbParams = 1019;           // connection: string, one parameter per line
inline constexpr int propSSLCipherList = 1020;       // connection: string
inline constexpr int propSSLCACert = 1021;           // connection: string
inline constexpr int propSSLKey = 1022;              // connection: string
inline constexpr int propSSLCert = 1023;             // connection: string
inline constexpr int propUsesSecondConnection = 1025;  // record set (get): Boolean
inline constexpr int propAddParamPosition = 1027;    // command: integer, appends a marker position
inline constexpr int propFillParamPosition = 1028;   // command: Boolean
inline constexpr int propRecordSetFlag1029 = 1029;   // record set: Boolean, stored
inline constexpr int propEmbedded = 1030;            // connection: Boolean
inline constexpr int propDirect = 1031;              // connection: Boolean
inline constexpr int propDecimalAsBCDLimited = 1032; // connection: Boolean
inline constexpr int propOptimizedBigInt = 1033;     // connection: Boolean
inline constexpr int propBinaryAsString = 1034;      // record set: Boolean
inline constexpr int propCheckBackslashes = 1035;    // connection: Boolean
inline constexpr int propBackslashEscapes = 1036;    // connection (get): Boolean
inline constexpr int propNullForZeroDelphiDate = 1041;  // connection: Boolean
inline constexpr int propAuthPlugin = 1042;           // connection: string, plugin announced at login ("" none)
inline constexpr int propServerPublicKeyFile = 1043;  // connection: string, PEM file of the server's RSA key
inline constexpr int propGetServerPublicKey = 1044;   // connection: Boolean, may ask the server for its key (true)

// Values of propCompressBlob.
enum TCompressBlobMode : uint8_t { cbNone, cbClient, cbServer, cbClientServer };

// A property number the object does not know: a programming error. The
// message is the number in decimal.
class EUnknownProperty : public EAssertionFailed {
 public:
  explicit EUnknownProperty(int prop) : EAssertionFailed(std::to_string(prop)), prop_(prop) {}
  int Prop() const { return prop_; }

 private:
  int prop_;
};

// --- Parameters ----------------------------------------------------------

// One parameter as the driver command sees it. A value object (a blob
// held by reference) is shared with whoever handed it over.
class TParamDesc {
 public:
  TParamDesc() = default;
  virtual ~TParamDesc() = default;
  TParamDesc(const TParamDesc&) = delete;
  TParamDesc& operator=(const TParamDesc&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& value) { name_ = value; }
  TDataType DataType() const { return dataType_; }
  virtual void SetDataType(TDataType value) { dataType_ = value; }
  TDataType SubDataType() const { return subDataType_; }
  virtual void SetSubDataType(TDataType value) { subDataType_ = value; }
  TParamType ParamType() const { return paramType_; }
  virtual void SetParamType(TParamType value) { paramType_ = value; }
  int32_t Size() const { return size_; }
  virtual void SetSize(int32_t value) { size_ = value; }

  virtual const Variant& Value() const { return value_; }
  // Stores the value; IsNull := the value is null or unassigned.
  virtual void SetValue(const Variant& value);
  // A blob (or other object) held by reference; null when none.
  virtual std::shared_ptr<TSharedObject> Object() const { return object_; }
  virtual void SetObject(std::shared_ptr<TSharedObject> object) { object_ = std::move(object); }

  virtual bool IsNull() const { return isNull_; }
  virtual void SetNull(bool value);
  bool IsBound() const { return isBound_; }
  virtual void SetIsBound(bool value) { isBound_ = value; }
  virtual bool National() const { return national_; }
  virtual void SetNational(bool value) { national_ = value; }
  // Set by the component; the MySQL driver does not read it.
  bool ConvertEOL() const { return convertEOL_; }
  void SetConvertEOL(bool value) { convertEOL_ = value; }

 private:
  std::string name_;
  TDataType dataType_ = dtUnknown;
  TDataType subDataType_ = 0;
  TParamType paramType_ = ptUnknown;
  int32_t size_ = 0;
  Variant value_;
  std::shared_ptr<TSharedObject> object_;
  bool isNull_ = true;
  bool isBound_ = true;
  bool national_ = false;
  bool convertEOL_ = false;
};

// The owned list of a command's parameters, in marker order.
class TParamDescs {
 public:
  TParamDescs() = default;
  TParamDescs(const TParamDescs&) = delete;
  TParamDescs& operator=(const TParamDescs&) = delete;

  size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  TParamDesc& operator[](size_t i) const { return *items_.at(i); }
  TParamDesc* Items(size_t i) const { return i < items_.size() ? items_[i].get() : nullptr; }
  // Appends `param` and answers it (the list owns it).
  TParamDesc* Add(std::unique_ptr<TParamDesc> param);
  void Delete(size_t i);
  void Clear() { items_.clear(); }
  // The first parameter of that name, letter case ignored; null when none.
  TParamDesc* FindParam(std::string_view name) const;

 private:
  std::vector<std::unique_ptr<TParamDesc>> items_;
};

// --- Connection and transaction -------------------------------------------

class TCRCommand;
class TCRTransaction;

// The connection component's error handler: called for every error before
// it is raised. It may clear `fail` (a silent abort replaces the error),
// ask for a reconnect and a repetition of the interrupted operation, and
// change the cause.
using TErrorProc = std::function<void(EDAError& e, bool& fail, bool& reconnect, bool& reexecute,
                                      int reconnectAttempt, TConnLostCause& connLostCause)>;

class TCRConnection {
 public:
  TCRConnection();
  // Subclasses disconnect in their own destructor.
  virtual ~TCRConnection();
  TCRConnection(const TCRConnection&) = delete;
  TCRConnection& operator=(const TCRConnection&) = delete;

  // Distributed transactions are not supported: both raise
  // "MS DTC transactions not supported".
  virtual void Enlist();
  virtual void UnEnlist();

  // Error dispatch with the reconnect loop; may raise EFailOver.
  virtual void DoError(EDAError& e, bool& fail);

  // The classes of the commands and transactions of this driver.
  virtual std::unique_ptr<TCRCommand> CreateCommand() = 0;
  virtual std::unique_ptr<TCRTransaction> CreateTransaction() = 0;

  virtual void Connect() = 0;
  // Closes the session if this object owns it; always leaves it closed.
  virtual void Disconnect() = 0;
  // Copies the settings a further session needs (see the MySQL class).
  virtual void TakeSettingsFrom(const TCRConnection& source);
  // Shares `source`'s open session without owning it (null: only disconnects).
  virtual void AssignConnect(TCRConnection* source) = 0;

  virtual void PutUsername(const std::string& value) { username_ = value; }
  virtual void PutPassword(const std::string& value) { password_ = value; }
  virtual void PutServer(const std::string& value) { server_ = value; }

  // Pings the session; answers and records whether it is usable.
  virtual bool CheckIsValid() = 0;
  // Pools are not used: a connection going back to its pool is disconnected.
  virtual void ReturnToPool();

  virtual std::string GetServerVersion() = 0;
  virtual std::string GetServerVersionFull() = 0;
  virtual std::string GetClientVersion() = 0;

  // Answers true when the number is known; unknown numbers raise
  // EUnknownProperty.
  virtual bool SetProp(int prop, const Variant& value);
  virtual bool GetProp(int prop, Variant& value);
  // propLastInsertId without a variant: the id the session's last statement
  // generated, bit for bit (0 when none or when the driver has no such id).
  virtual uint64_t LastInsertId() const { return 0; }

  // --- State --------------------------------------------------------------
  const std::string& Username() const { return username_; }
  const std::string& Password() const { return password_; }
  const std::string& Server() const { return server_; }
  bool Connected() const { return connected_; }
  bool OwnsHandle() const { return ownsHandle_; }
  bool IsValid() const { return isValid_; }
  void SetIsValid(bool value) { isValid_ = value; }
  // Milliseconds tick count taken when the session opened.
  uint64_t ConnectionTime() const { return connectionTime_; }
  bool AutoCommit() const { return autoCommit_; }
  bool ConvertEOL() const { return convertEOL_; }
  bool DisconnectedMode() const { return disconnectedMode_; }
  bool EnableBCD() const { return enableBCD_; }
  bool EnableFmtBCD() const { return enableFmtBCD_; }
  int DefaultSortType() const { return defaultSortType_; }

  // The owning component: the Origin of every error raised (weak).
  TComponent* Component() const { return component_; }
  void SetComponent(TComponent* component) { component_ = component; }
  // A transport supplied by the component (borrowed; may be null).
  mysql::TCRIOHandler* IOHandler() const { return ioHandler_; }
  void SetIOHandler(mysql::TCRIOHandler* handler) { ioHandler_ = handler; }
  // The HTTP tunnel's settings: an owned copy, null until set. Setting
  // copies `options` (null forgets them); used from the next connect on.
  const THttpOptions* HttpOptions() const { return httpOptions_.get(); }
  void SetHttpOptions(const THttpOptions* options);

  // The connection's own transaction object (owned).
  TCRTransaction* GetInternalTransaction() const { return transaction_.get(); }

  // Callbacks of the connection component (empty: not set).
  TErrorProc OnError;
  std::function<void()> OnReconnected;      // a reconnect inside DoError succeeded
  std::function<void()> OnReconnectFailed;  // the reconnect attempts gave up
  // Supply and give back a further driver connection for a record set's
  // second session; when empty the record set makes its own.
  std::function<TCRConnection*()> OnCreateConnection;
  std::function<void(TCRConnection*)> OnFreeConnection;

 protected:
  // Creates the transaction object (CreateTransaction) and joins it. Called
  // by the constructor of the most derived class, since a virtual call from
  // this constructor would not reach it.
  void InitInternalTransaction();
  // Runs DoError when an error callback is set; answers whether `e` is to
  // be raised (false: the caller raises the silent abort instead).
  bool DispatchError(EDAError& e);

  std::string username_, password_, server_;
  bool connected_ = false;
  bool ownsHandle_ = false;
  bool isValid_ = true;
  uint64_t connectionTime_ = 0;
  bool autoCommit_ = true;
  bool convertEOL_ = false;
  bool disconnectedMode_ = false;
  bool enableBCD_ = false;
  bool enableFmtBCD_ = false;
  int defaultSortType_ = 0;
  bool inFailover_ = false;
  bool reconnected_ = false;
  TComponent* component_ = nullptr;         // weak
  mysql::TCRIOHandler* ioHandler_ = nullptr;  // borrowed
  std::unique_ptr<THttpOptions> httpOptions_;  // owned copy
  std::unique_ptr<TCRTransaction> transaction_;
};

// A transaction over the connections in its list (exactly one in use).
class TCRTransaction {
 public:
  TCRTransaction() = default;
  virtual ~TCRTransaction();
  TCRTransaction(const TCRTransaction&) = delete;
  TCRTransaction& operator=(const TCRTransaction&) = delete;

  // Answers false when it was in the list already / was not in it.
  bool AddConnection(TCRConnection* connection);
  bool RemoveConnection(TCRConnection* connection);
  size_t ConnectionsCount() const { return connections_.size(); }

  // Raise EDatabaseError with the texts of the MySQL class on misuse.
  virtual void StartTransaction() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  virtual void Savepoint(const std::string& name) = 0;
  virtual void ReleaseSavepoint(const std::string& name) = 0;
  virtual void RollbackToSavepoint(const std::string& name) = 0;

  // Takes over the transaction state of `source` (AssignConnect).
  virtual void AssignConnect(const TCRTransaction& source);
  // Back to the inactive state without sending anything (after a lost session).
  virtual void Reset();

  // propIsolationLevel and propTransactionReadOnly; others raise EUnknownProperty.
  virtual bool SetProp(int prop, const Variant& value);
  virtual bool GetProp(int prop, Variant& value);

  bool GetInTransaction() const { return inTransaction_; }
  int IsolationLevel() const { return isolationLevel_; }
  bool ReadOnly() const { return readOnly_; }

 protected:
  // The one connection of the list; raises the texts of the MySQL class
  // for none, several, or an inactive one.
  TCRConnection* SingleConnection() const;

  std::vector<TCRConnection*> connections_;  // weak
  bool inTransaction_ = false;
  bool ownTransaction_ = false;  // started by this object (commit/rollback send statements)
  int isolationLevel_ = 0;
  bool readOnly_ = false;
};

// --- Command -------------------------------------------------------------

// Cursor states of a command (the record set uses the same scale).
enum TCursorState : int {
  csIdle = 0,
  csPrepared = 3,
  csExecuting = 6,
  csExecuted = 7,
  csFetching = 8,
  csFetchingAll = 9,
  csFetched = 10,
};

class TCRCommand : public TParamMarkerList {
 public:
  TCRCommand();
  ~TCRCommand() override;
  TCRCommand(const TCRCommand&) = delete;
  TCRCommand& operator=(const TCRCommand&) = delete;

  // The marker scan: fills `params` (null: markers copied unchanged, or
  // renamed with `renamePrefix`) and answers the final text. Raises
  // EParserError on a character the lexer does not allow.
  virtual std::string ParseSQL(const std::string& sql, TParamDescs* params, const std::string& renamePrefix = {});

  virtual void Prepare();
  virtual void Unprepare();
  virtual bool GetPrepared() const { return false; }
  virtual void Execute() = 0;

  virtual void SetConnection(TCRConnection* connection) { connection_ = connection; }
  TCRConnection* GetConnection() const { return connection_; }

  virtual TCursorState GetCursorState() const { return cursorState_; }
  virtual void SetCursorState(TCursorState value) { cursorState_ = value; }

  // Sets the statement text (scanning its markers unless switched off).
  virtual void SetSQL(const std::string& text);
  const std::string& SQL() const { return userSQL_; }
  const std::string& FinalSQL() const { return finalSQL_; }

  TParamDescs& Params() { return params_; }
  const TParamDescs& Params() const { return params_; }
  // Appends a new parameter description and answers it.
  virtual TParamDesc* AddParam();

  // Raises "Operation is not supported by the database".
  [[noreturn]] virtual void NotSupported();

  // Cancels a running Execute from another thread; nothing when idle.
  virtual void BreakExec() {}
  // Whether an Execute is running (propExecuting); safe from any thread.
  virtual bool Executing() const { return false; }
  // propRowsAffected without a variant: the rows of the last statement, 0
  // when unknown or when the driver does not count them.
  virtual int64_t RowsAffectedCount() const { return 0; }
  // Whether the last execution left output values to read (propCanReadParams).
  bool CanReadParams() const { return canReadParams_; }
  void SetCanReadParams(bool value) { canReadParams_ = value; }

  virtual bool SetProp(int prop, const Variant& value);
  virtual bool GetProp(int prop, Variant& value);

  TComponent* Component() const { return component_; }
  void SetComponent(TComponent* component) { component_ = component; }

  // Hooks of the component: the exact text before it is sent, and whether
  // an execution succeeded.
  std::function<void(const std::string& text)> OnTrace;
  std::function<void(bool succeeded)> AfterExecute;

  // The marker list the scan fills (TParamMarkerList).
  void ClearParams() override { (scanTarget_ ? *scanTarget_ : params_).Clear(); }
  void AddParam(const TParamMarker& marker) override;

 protected:
  TCRConnection* connection_ = nullptr;  // weak
  TComponent* component_ = nullptr;      // weak
  std::string userSQL_;
  std::string finalSQL_;
  TParamDescs params_;
  TCursorState cursorState_ = csIdle;
  bool scanParams_ = true;
  bool disableParamScan_ = false;
  bool autoCommit_ = true;
  bool quoteNames_ = false;
  bool enableBCD_ = false;
  bool enableFmtBCD_ = false;
  bool storedProc_ = false;
  bool canReadParams_ = false;
  bool isSelectParams_ = false;
  TCompressBlobMode compressBlob_ = cbNone;

  // The list the marker scan fills while ParseSQL runs (null: none).
  TParamDescs* scanTarget_ = nullptr;
};

}  // namespace da
