#pragma once
// The connection components' database-neutral layers. TCustomConnection is
// the dataset framework's connection (Connected, the four connect events,
// the client datasets told of every state change); TCustomDAConnection adds
// credentials, server, options, the driver connection, usage counting,
// error and connection-loss handling and the registered commands. The MySQL
// layers are in MyAccess.h.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/Component.h"
#include "common/DAErrors.h"
#include "common/Variant.h"

namespace da {

class TCRConnection;
class TCRTransaction;
class TCustomDAConnection;
class TCustomDASQL;
class TCustomDADataSet;

using TNotifyEvent = std::function<void(TComponent* sender)>;

enum TRetryMode { rmRaise, rmReconnect, rmReconnectExecute };

// How a dataset layer sorts by default.
enum TDASortType { stCaseSensitive, stCaseInsensitive, stBinary };

class TCustomConnection : public TComponent {
 public:
  explicit TCustomConnection(TComponent* owner = nullptr);
  ~TCustomConnection() override;

  // True while a session is open. Assigning true opens it (events
  // BeforeConnect, AfterConnect; the client datasets are told), false
  // closes it (BeforeDisconnect, AfterDisconnect). Assigning the current
  // state does nothing.
  bool Connected() const { return GetConnected(); }
  virtual void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  bool LoginPrompt() const { return loginPrompt_; }
  void SetLoginPrompt(bool value) { loginPrompt_ = value; }

  TNotifyEvent AfterConnect;
  TNotifyEvent BeforeConnect;
  TNotifyEvent AfterDisconnect;
  TNotifyEvent BeforeDisconnect;

  // Client datasets with their connect-change callbacks (called with true
  // after connecting, false before disconnecting). A client registers once;
  // registering again replaces its callback. Both take the registration
  // lock.
  void RegisterClient(TComponent* client, std::function<void(bool connecting)> callback);
  void UnRegisterClient(TComponent* client);
  int ClientCount() const;
  bool IsClient(const TComponent* client) const;

 protected:
  virtual bool GetConnected() const = 0;
  virtual void DoConnect() = 0;
  virtual void DoDisconnect() = 0;
  // Tells every client dataset the new state.
  void SendConnectEvent(bool connecting);
  // The framework's connect and disconnect: the events around DoConnect /
  // DoDisconnect.
  void FrameworkConnect();
  void FrameworkDisconnect();

  struct Client {
    TComponent* component;  // weak: it unregisters itself before it goes
    std::function<void(bool)> callback;
  };
  std::vector<Client> ClientsSnapshot() const;

  mutable std::recursive_mutex registrationLock_;  // guards clients_ and the command list

 private:
  bool loginPrompt_ = true;
  std::vector<Client> clients_;  // guarded by registrationLock_
};

// Options of every connection; the MySQL layer adds its own.
// Each setter acts on its connection at once (see the notes).
class TDAConnectionOptions {
 public:
  explicit TDAConnectionOptions(TCustomDAConnection* owner) : owner_(owner) {}
  virtual ~TDAConnectionOptions() = default;
  TDAConnectionOptions(const TDAConnectionOptions&) = delete;
  TDAConnectionOptions& operator=(const TDAConnectionOptions&) = delete;

  // Stored only (loading from a window description).
  bool KeepDesignConnected() const { return keepDesignConnected_; }
  void SetKeepDesignConnected(bool value) { keepDesignConnected_ = value; }
  // Changing it closes the connection first.
  bool DisconnectedMode() const { return disconnectedMode_; }
  void SetDisconnectedMode(bool value);
  // Let OnConnectionLost decide about reconnecting and repeating.
  bool LocalFailover() const { return localFailover_; }
  void SetLocalFailover(bool value) { localFailover_ = value; }
  TDASortType DefaultSortType() const { return defaultSortType_; }
  void SetDefaultSortType(TDASortType value);
  // ftFloat-style numbers (false, false), BCD or FmtBCD.
  bool EnableBCD() const { return enableBCD_; }
  void SetEnableBCD(bool value);
  bool EnableFmtBCD() const { return enableFmtBCD_; }
  void SetEnableFmtBCD(bool value);

  // Copies every value (through the setters).
  virtual void Assign(const TDAConnectionOptions& source);

 protected:
  TCustomDAConnection* owner_;  // weak: the options live inside it

 private:
  bool keepDesignConnected_ = true;
  bool disconnectedMode_ = false;
  bool localFailover_ = false;
  TDASortType defaultSortType_ = stCaseSensitive;
  bool enableBCD_ = false;
  bool enableFmtBCD_ = false;
};

// TDAConnectionErrorEvent (Sender, E, var Fail).
using TDAConnectionErrorEvent = std::function<void(TComponent* sender, EDAError& e, bool& fail)>;
// TConnectionLostEvent (Sender, Component, ConnLostCause, var RetryMode).
using TConnectionLostEvent =
    std::function<void(TComponent* sender, TComponent* component, TConnLostCause cause, TRetryMode& retryMode)>;
using TLoginEvent = std::function<void(TComponent* sender, std::string& username, std::string& password)>;

// A transaction component over the driver connection's transaction object.
// The connection creates one as its own ("tr" + its name).
class TDATransaction : public TComponent {
 public:
  TDATransaction(TCustomDAConnection* connection, TComponent* owner = nullptr);

  // Begins a transaction on the connection's session (which must be open).
  // Raises the driver's errors ("Can't perform operation on active
  // transaction" …).
  void StartTransaction();
  void Commit();
  void Rollback();
  bool Active() const;
  // Forgets an active transaction without talking to the server (after a
  // lost session).
  void ResetToInactive();

 private:
  TCRTransaction* DriverTransaction() const;
  TCustomDAConnection* connection_;  // weak: the connection owns this object
};

class TCustomDAConnection : public TCustomConnection {
 public:
  explicit TCustomDAConnection(TComponent* owner = nullptr);
  ~TCustomDAConnection() override;

  // --- Account and server. Server and the account reach the driver at
  // every connect. A different Server closes an open connection first
  // (compared with letter case).
  const std::string& Username() const { return username_; }
  void SetUsername(const std::string& value);
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& value);
  const std::string& Server() const { return server_; }
  void SetServer(const std::string& value);

  // Opens and closes the session (SetConnected(true/false)).
  void Connect() { SetConnected(true); }
  void Disconnect() { SetConnected(false); }

  // Raises EDatabaseError "Cannot perform this operation on an open
  // connection" (with the name in front) while connected.
  void CheckClosed() const;

  // --- Use by datasets and commands.
  int UsageCount() const { return usageCount_; }
  // Counts one use and connects (a connect error propagates with the count
  // restored; a failover notice is swallowed).
  void EnterUse();
  // Gives one use back; the last one disconnects in DisconnectedMode.
  void LeaveUse();
  // Operations in progress, for deciding about repeating them after a
  // reconnect (only with Options.LocalFailover).
  void EnterOperation(TConnLostCause operation, bool mayRepeat);
  void LeaveOperation();

  // --- Transactions: the connection's own transaction object.
  TDATransaction& OwnTransaction() { return *ownTransaction_; }
  void StartTransaction() { ownTransaction_->StartTransaction(); }
  void Commit() { ownTransaction_->Commit(); }
  void Rollback() { ownTransaction_->Rollback(); }
  bool InTransaction() const { return ownTransaction_->Active(); }

  bool AutoCommit() const { return autoCommit_; }
  void SetAutoCommit(bool value);
  bool ConvertLineBreaks() const { return convertLineBreaks_; }
  void SetConvertLineBreaks(bool value);

  TDAConnectionOptions& Options() const { return *options_; }

  // --- Events.
  TDAConnectionErrorEvent OnError;
  TConnectionLostEvent OnConnectionLost;
  TLoginEvent OnLogin;

  // --- Driver side. The driver connection (null before the first
  // connect); owned by this component.
  TCRConnection* DriverConnection() const { return iConnection_.get(); }
  // Registered commands (TCustomDASQL register themselves).
  void RegisterCommand(TCustomDASQL* command);
  void UnRegisterCommand(TCustomDASQL* command);

  // Sets the property on the driver connection when it exists.
  void SetDriverProp(int prop, const Variant& value);

  // The driver's error callback: decides about reconnecting (see the
  // connection-loss rules) and may clear `fail`.
  virtual void HandleDriverError(EDAError& e, bool& fail, bool& reconnect, bool& reexecute, int reconnectAttempt,
                                 TConnLostCause& connLostCause);
  // The operation a fatal error interrupted (clUnknown when it may not be
  // repeated).
  virtual TConnLostCause FindLostCause(TComponent* origin);

  virtual bool IsMultipleTransactionsSupported() const { return false; }

  // See TCustomConnection; adds the usage count, the prompt rule and the
  // repeated notification of the client datasets.
  void SetConnected(bool value) override;

 protected:
  bool GetConnected() const override;
  void DoConnect() override;
  void DoDisconnect() override;
  void Loaded() override;

  // Creates and configures the driver connection (no pooling here).
  virtual void CreateDriverConnection();
  // A new driver connection of the connection's class, unconfigured.
  virtual std::unique_ptr<TCRConnection> NewDriverConnection() = 0;
  // Passes the settings of this component to `connection` (the MySQL layer
  // passes its own first, then calls this for the common ones).
  virtual void CopySettingsToDriver(TCRConnection& connection);
  // Installs `connection` as the driver connection, re-pointing the clients.
  virtual void AttachDriverConnection(std::unique_ptr<TCRConnection> connection);
  // BeforeConnect, the driver connect, clients told, AfterConnect.
  void ConnectWithEvents();
  void OpenDriverSession();
  void CloseDriverSession();
  // Detaches every registered dataset and command (their Connection := none).
  virtual void DetachClients();
  bool Destroying() const { return destroying_; }
  void SetDestroying() { destroying_ = true; }
  // What destruction does before the object goes: disconnects (the events
  // still fire) and detaches the clients, swallowing every failure. The
  // most derived connection calls it first, while its own settings still
  // live for the event handlers to read; later calls find nothing to do.
  void CloseForDestruction() noexcept;

  // Factory callbacks the driver uses for a second session.
  TCRConnection* CreateSecondDriverConnection();
  void FreeSecondDriverConnection(TCRConnection* connection);

  std::unique_ptr<TDAConnectionOptions> options_;

 private:
  friend class TDATransaction;
  void ReconnectSucceeded();
  void ReconnectFailed();

  std::string username_, password_, server_;
  std::unique_ptr<TCRConnection> iConnection_;
  TDATransaction* ownTransaction_;  // owned as a sub-component
  int usageCount_ = 0;
  bool connectAfterLoad_ = false;
  bool promptAllowed_ = true;
  bool inErrorHandling_ = false;
  bool destroying_ = false;
  bool autoCommit_ = true;
  bool convertLineBreaks_ = false;
  std::vector<uint16_t> operationStack_;  // low byte cause, high byte may-repeat
  std::vector<TCustomDASQL*> commands_;   // weak; guarded by registrationLock_
};

}  // namespace da
