#include "components/DAConnection.h"

#include <algorithm>

#include "components/DADataSet.h"
#include "components/DASQL.h"
#include "driver/CRAccess.h"
#include "driver/CRRecordSet.h"

namespace da {

// --- TCustomConnection -------------------------------------------------------

TCustomConnection::TCustomConnection(TComponent* owner) : TComponent(owner) {}

TCustomConnection::~TCustomConnection() = default;

void TCustomConnection::SetConnected(bool value) {
  if (value == GetConnected()) return;
  if (value)
    FrameworkConnect();
  else
    FrameworkDisconnect();
}

void TCustomConnection::FrameworkConnect() {
  if (BeforeConnect) BeforeConnect(this);
  DoConnect();
  SendConnectEvent(true);
  if (AfterConnect) AfterConnect(this);
}

void TCustomConnection::FrameworkDisconnect() {
  if (BeforeDisconnect) BeforeDisconnect(this);
  SendConnectEvent(false);
  DoDisconnect();
  if (AfterDisconnect) AfterDisconnect(this);
}

void TCustomConnection::RegisterClient(TComponent* client, std::function<void(bool)> callback) {
  std::lock_guard<std::recursive_mutex> lock(registrationLock_);
  for (Client& c : clients_) {
    if (c.component == client) {
      c.callback = std::move(callback);
      return;
    }
  }
  clients_.push_back({client, std::move(callback)});
}

void TCustomConnection::UnRegisterClient(TComponent* client) {
  std::lock_guard<std::recursive_mutex> lock(registrationLock_);
  clients_.erase(std::remove_if(clients_.begin(), clients_.end(), [&](const Client& c) { return c.component == client; }),
                 clients_.end());
}

int TCustomConnection::ClientCount() const {
  std::lock_guard<std::recursive_mutex> lock(registrationLock_);
  return static_cast<int>(clients_.size());
}

bool TCustomConnection::IsClient(const TComponent* client) const {
  std::lock_guard<std::recursive_mutex> lock(registrationLock_);
  return std::any_of(clients_.begin(), clients_.end(), [&](const Client& c) { return c.component == client; });
}

std::vector<TCustomConnection::Client> TCustomConnection::ClientsSnapshot() const {
  std::lock_guard<std::recursive_mutex> lock(registrationLock_);
  return clients_;
}

void TCustomConnection::SendConnectEvent(bool connecting) {
  // A callback may unregister its client (a closing dataset never does, but
  // a handler of its events might), so walk a copy and skip the gone ones.
  for (const Client& c : ClientsSnapshot()) {
    if (!IsClient(c.component)) continue;
    if (c.callback) c.callback(connecting);
  }
}

// --- TDAConnectionOptions ----------------------------------------------------

void TDAConnectionOptions::SetDisconnectedMode(bool value) {
  if (value == disconnectedMode_) return;
  owner_->Disconnect();
  disconnectedMode_ = value;
  owner_->SetDriverProp(propDisconnectedMode, value);
}

void TDAConnectionOptions::SetDefaultSortType(TDASortType value) {
  if (value == defaultSortType_) return;
  defaultSortType_ = value;
  owner_->SetDriverProp(propDefaultSortType, static_cast<int32_t>(value));
}

void TDAConnectionOptions::SetEnableBCD(bool value) {
  if (value == enableBCD_) return;
  enableBCD_ = value;
  owner_->SetDriverProp(propEnableBCD, value);
}

void TDAConnectionOptions::SetEnableFmtBCD(bool value) {
  if (value == enableFmtBCD_) return;
  enableFmtBCD_ = value;
  owner_->SetDriverProp(propEnableFmtBCD, value);
}

void TDAConnectionOptions::Assign(const TDAConnectionOptions& source) {
  if (&source == this) return;
  SetKeepDesignConnected(source.KeepDesignConnected());
  SetDisconnectedMode(source.DisconnectedMode());
  SetLocalFailover(source.LocalFailover());
  SetDefaultSortType(source.DefaultSortType());
  SetEnableBCD(source.EnableBCD());
  SetEnableFmtBCD(source.EnableFmtBCD());
}

// --- TDATransaction ----------------------------------------------------------

TDATransaction::TDATransaction(TCustomDAConnection* connection, TComponent* owner)
    : TComponent(owner), connection_(connection) {}

TCRTransaction* TDATransaction::DriverTransaction() const {
  TCRConnection* driver = connection_->DriverConnection();
  return driver ? driver->GetInternalTransaction() : nullptr;
}

void TDATransaction::StartTransaction() {
  // A transaction needs the session: connect it as a dataset would.
  if (!connection_->Connected()) connection_->Connect();
  TCRTransaction* tr = DriverTransaction();
  if (!tr) DatabaseError("Connection is not defined", this);
  tr->StartTransaction();
}

void TDATransaction::Commit() {
  TCRTransaction* tr = DriverTransaction();
  if (!tr) DatabaseError("Can't perform operation on inactive transaction", this);
  tr->Commit();
}

void TDATransaction::Rollback() {
  TCRTransaction* tr = DriverTransaction();
  if (!tr) DatabaseError("Can't perform operation on inactive transaction", this);
  tr->Rollback();
}

bool TDATransaction::Active() const {
  TCRTransaction* tr = DriverTransaction();
  return tr && tr->GetInTransaction();
}

void TDATransaction::ResetToInactive() {
  if (TCRTransaction* tr = DriverTransaction()) tr->Reset();
}

// --- TCustomDAConnection -----------------------------------------------------

TCustomDAConnection::TCustomDAConnection(TComponent* owner) : TCustomConnection(owner) {
  ownTransaction_ = new TDATransaction(this, this);
}

TCustomDAConnection::~TCustomDAConnection() {
  CloseForDestruction();
  iConnection_.reset();
}

void TCustomDAConnection::CloseForDestruction() noexcept {
  destroying_ = true;
  try {
    Disconnect();
  } catch (...) {
    // A fatal error while closing is of no use to anyone now; the session
    // is gone either way.
  }
  try {
    DetachClients();
  } catch (...) {
  }
}

void TCustomDAConnection::DetachClients() {
  for (const Client& c : ClientsSnapshot()) {
    try {
      if (auto* ds = dynamic_cast<TCustomDADataSet*>(c.component)) ds->SetConnection(nullptr);
    } catch (...) {
      // Its close failed; the others are still let go.
    }
    UnRegisterClient(c.component);
  }
  std::vector<TCustomDASQL*> commands;
  {
    std::lock_guard<std::recursive_mutex> lock(registrationLock_);
    commands = commands_;
  }
  for (TCustomDASQL* cmd : commands) {
    // A query's internal command goes with its dataset, which was detached
    // above; a standalone command drops its connection here.
    if (!cmd->DataSet()) cmd->SetConnection(nullptr);
  }
  std::lock_guard<std::recursive_mutex> lock(registrationLock_);
  commands_.clear();
}

bool TCustomDAConnection::GetConnected() const { return iConnection_ && iConnection_->Connected(); }

void TCustomDAConnection::SetUsername(const std::string& value) {
  if (value == username_) return;
  Disconnect();
  username_ = value;
}

void TCustomDAConnection::SetPassword(const std::string& value) {
  if (value == password_) return;
  Disconnect();
  password_ = value;
}

void TCustomDAConnection::SetServer(const std::string& value) {
  if (value == server_) return;
  Disconnect();
  server_ = value;
}

void TCustomDAConnection::SetAutoCommit(bool value) {
  if (value == autoCommit_) return;
  autoCommit_ = value;
  SetDriverProp(propAutoCommit, value);
}

void TCustomDAConnection::SetConvertLineBreaks(bool value) {
  if (value == convertLineBreaks_) return;
  convertLineBreaks_ = value;
  SetDriverProp(propConvertEOL, value);
}

void TCustomDAConnection::CheckClosed() const {
  if (Connected()) DatabaseError("Cannot perform this operation on an open connection", this);
}

void TCustomDAConnection::SetDriverProp(int prop, const Variant& value) {
  if (iConnection_) iConnection_->SetProp(prop, value);
}

void TCustomDAConnection::SetConnected(bool value) {
  if (value) {
    if (Connected()) return;
    const int before = usageCount_;
    if (!connectAfterLoad_) ++usageCount_;
    if (Loading()) {
      if (options_->KeepDesignConnected()) connectAfterLoad_ = true;
      return;
    }
    // No login dialog exists in this library, so LoginPrompt never asks.
    try {
      ConnectWithEvents();
    } catch (...) {
      if (!Connected()) usageCount_ = before;
      throw;
    }
    return;
  }

  if (!Connected()) return;
  usageCount_ = 0;
  promptAllowed_ = true;
  if (BeforeDisconnect) BeforeDisconnect(this);
  // Datasets whose closing hits a lost session are told again until they
  // close quietly; the bound keeps a dataset that always fails from
  // holding the caller forever.
  for (int attempt = 0;; ++attempt) {
    try {
      SendConnectEvent(false);
      break;
    } catch (const EDAError& e) {
      if (!e.IsFatal() || attempt >= 10) throw;
    }
  }
  TNotifyEvent before = std::move(BeforeDisconnect);
  BeforeDisconnect = nullptr;
  try {
    FrameworkDisconnect();
  } catch (...) {
    BeforeDisconnect = std::move(before);
    throw;
  }
  BeforeDisconnect = std::move(before);
}

void TCustomDAConnection::ConnectWithEvents() {
  if (BeforeConnect) BeforeConnect(this);
  DoConnect();
  SendConnectEvent(true);
  if (AfterConnect) AfterConnect(this);
}

void TCustomDAConnection::DoConnect() { OpenDriverSession(); }

void TCustomDAConnection::DoDisconnect() { CloseDriverSession(); }

void TCustomDAConnection::OpenDriverSession() {
  if (!iConnection_) CreateDriverConnection();
  EnterOperation(clConnect, true);
  try {
    iConnection_->PutUsername(username_);
    iConnection_->PutPassword(password_);
    iConnection_->PutServer(server_);
    iConnection_->Connect();
  } catch (...) {
    LeaveOperation();
    throw;
  }
  LeaveOperation();
}

void TCustomDAConnection::CloseDriverSession() {
  try {
    if (ownTransaction_->Active()) {
      try {
        ownTransaction_->Rollback();
      } catch (const EDAError&) {
        ownTransaction_->ResetToInactive();
      } catch (...) {
      }
    }
    if (iConnection_ && iConnection_->Connected()) iConnection_->Disconnect();
  } catch (const EDAError& e) {
    if (!(destroying_ && e.IsFatal())) throw;
  }
}

void TCustomDAConnection::CreateDriverConnection() {
  std::unique_ptr<TCRConnection> connection = NewDriverConnection();
  CopySettingsToDriver(*connection);
  connection->OnCreateConnection = [this] { return CreateSecondDriverConnection(); };
  connection->OnFreeConnection = [this](TCRConnection* c) { FreeSecondDriverConnection(c); };
  AttachDriverConnection(std::move(connection));
}

void TCustomDAConnection::CopySettingsToDriver(TCRConnection& connection) {
  connection.SetProp(propEnableBCD, options_->EnableBCD());
  connection.SetProp(propEnableFmtBCD, options_->EnableFmtBCD());
  connection.SetProp(propAutoCommit, autoCommit_);
  connection.SetProp(propConvertEOL, convertLineBreaks_);
  connection.SetProp(propDisconnectedMode, options_->DisconnectedMode());
  connection.SetProp(propDefaultSortType, static_cast<int32_t>(options_->DefaultSortType()));
}

TCRConnection* TCustomDAConnection::CreateSecondDriverConnection() {
  std::unique_ptr<TCRConnection> connection = NewDriverConnection();
  CopySettingsToDriver(*connection);
  if (iConnection_) connection->TakeSettingsFrom(*iConnection_);
  // The errors of a second session carry this component as their origin
  // but never reach the reconnect logic of the main one.
  connection->SetComponent(this);
  return connection.release();
}

void TCustomDAConnection::FreeSecondDriverConnection(TCRConnection* connection) {
  std::unique_ptr<TCRConnection> owned(connection);
  try {
    owned->Disconnect();
  } catch (...) {
  }
}

void TCustomDAConnection::AttachDriverConnection(std::unique_ptr<TCRConnection> connection) {
  TCRConnection* target = connection.get();
  if (target || (iConnection_ && !destroying_)) {
    for (const Client& c : ClientsSnapshot()) {
      if (auto* ds = dynamic_cast<TCustomDADataSet*>(c.component))
        if (ds->DriverRecordSet()) ds->AttachDriverConnection(target);
    }
    std::vector<TCustomDASQL*> commands;
    {
      std::lock_guard<std::recursive_mutex> lock(registrationLock_);
      commands = commands_;
    }
    for (TCustomDASQL* cmd : commands)
      if (cmd->DriverCommand() && !cmd->DataSet()) cmd->DriverCommand()->SetConnection(target);
  }
  iConnection_ = std::move(connection);
  if (iConnection_) {
    iConnection_->OnError = [this](EDAError& e, bool& fail, bool& reconnect, bool& reexecute, int attempt,
                                   TConnLostCause& cause) {
      HandleDriverError(e, fail, reconnect, reexecute, attempt, cause);
    };
    iConnection_->OnReconnected = [this] { ReconnectSucceeded(); };
    iConnection_->OnReconnectFailed = [this] { ReconnectFailed(); };
    iConnection_->SetComponent(this);
  }
}

void TCustomDAConnection::ReconnectSucceeded() {
  if (AfterConnect) AfterConnect(this);
}

void TCustomDAConnection::ReconnectFailed() {
  try {
    Disconnect();
  } catch (...) {
    // The original error is what the caller gets.
  }
}

void TCustomDAConnection::EnterUse() {
  int remembered = usageCount_ + 1;
  usageCount_ = remembered;
  const bool savedPrompt = LoginPrompt();
  SetLoginPrompt(savedPrompt && promptAllowed_);
  try {
    SetConnected(true);
  } catch (const EFailOver&) {
    // Reconnected: the connection is open again.
  } catch (...) {
    if (!Connected()) --remembered;
    usageCount_ = remembered;
    SetLoginPrompt(savedPrompt);
    promptAllowed_ = !Connected();
    throw;
  }
  usageCount_ = remembered;
  SetLoginPrompt(savedPrompt);
  promptAllowed_ = !Connected();
}

void TCustomDAConnection::LeaveUse() {
  if (usageCount_ > 0) --usageCount_;
  if (usageCount_ == 0 && options_->DisconnectedMode() && !InTransaction()) Disconnect();
  promptAllowed_ = false;
}

void TCustomDAConnection::EnterOperation(TConnLostCause operation, bool mayRepeat) {
  if (!options_->LocalFailover()) return;
  if (operationStack_.capacity() == operationStack_.size()) operationStack_.reserve(operationStack_.size() + 50);
  operationStack_.push_back(static_cast<uint16_t>((mayRepeat ? 0x100 : 0) | (static_cast<unsigned>(operation) & 0xFF)));
}

void TCustomDAConnection::LeaveOperation() {
  if (!options_->LocalFailover()) return;
  if (!operationStack_.empty()) operationStack_.pop_back();
}

TConnLostCause TCustomDAConnection::FindLostCause(TComponent* origin) {
  int kept = clUnknown;
  bool keptRepeat = false;
  bool stoppedAtConnect = false;
  auto* originDataSet = dynamic_cast<TCustomDADataSet*>(origin);
  const bool originIsCommand = dynamic_cast<TCustomDASQL*>(origin) != nullptr;
  for (auto it = operationStack_.rbegin(); it != operationStack_.rend(); ++it) {
    const int op = *it & 0xFF;
    const bool repeat = (*it >> 8) != 0;
    if (op > kept) {
      kept = op;
      keptRepeat = repeat;
    }
    if (kept == clExecute || kept == clOpen) {
      // The uses these operations took are given back when they unwind;
      // keep the count from dropping below the connection's own.
      if (originIsCommand || (originDataSet && !originDataSet->ReturnsRows())) ++usageCount_;
    }
    if (kept == clConnect) {
      stoppedAtConnect = true;
      break;
    }
  }
  TConnLostCause result = static_cast<TConnLostCause>(kept);
  if (stoppedAtConnect) result = promptAllowed_ ? clUnknown : clConnect;
  if (!keptRepeat) result = clUnknown;
  if ((result == clExecute || result == clOpen || result == clServiceQuery || result == clTransStart) && InTransaction())
    result = clUnknown;
  return result;
}

void TCustomDAConnection::HandleDriverError(EDAError& e, bool& fail, bool& reconnect, bool& reexecute,
                                            int reconnectAttempt, TConnLostCause& connLostCause) {
  connLostCause = clUnknown;
  const bool fatal = e.IsFatal();
  if (fatal) {
    connLostCause = FindLostCause(e.Origin());
    reconnect = (Connected() || (reconnectAttempt > 0 && options_->LocalFailover()) ||
                 (connLostCause == clConnect && options_->DisconnectedMode())) &&
                (!InTransaction() || connLostCause == clConnectionApply);
    if (reconnect) {
      for (const Client& c : ClientsSnapshot()) {
        auto* ds = dynamic_cast<TCustomDADataSet*>(c.component);
        if (!ds) continue;
        const bool fetching = ds->Active() && !ds->FetchAll() && ds->IsFetchingRows();
        if (ds->Prepared() || (fetching && !(connLostCause == clRefresh && ds == e.Origin()))) {
          reconnect = false;
          break;
        }
      }
    }
    if (reconnect) {
      std::lock_guard<std::recursive_mutex> lock(registrationLock_);
      for (TCustomDASQL* cmd : commands_) {
        if (cmd->Prepared() && !cmd->Executing()) {
          reconnect = false;
          break;
        }
      }
    }
  }
  if (reconnect && options_->LocalFailover()) {
    TRetryMode mode = (connLostCause == clUnknown || connLostCause == clExecute) ? rmRaise : rmReconnectExecute;
    if (OnConnectionLost) OnConnectionLost(this, e.Origin(), connLostCause, mode);
    reconnect = mode != rmRaise;
    reexecute = (mode == rmReconnectExecute && connLostCause != clUnknown) ||
                (connLostCause == clConnect && mode != rmRaise);
    fail = !reexecute;
  }
  if (!reexecute && OnError) OnError(this, e, fail);
  if (fatal && iConnection_) iConnection_->SetIsValid(false);
  if (fatal && reconnectAttempt == 0) ownTransaction_->ResetToInactive();
  if (!inErrorHandling_ && !reconnect && fatal && reconnectAttempt == 0) {
    inErrorHandling_ = true;
    try {
      Disconnect();
    } catch (...) {
    }
    inErrorHandling_ = false;
  }
}

void TCustomDAConnection::RegisterCommand(TCustomDASQL* command) {
  std::lock_guard<std::recursive_mutex> lock(registrationLock_);
  if (std::find(commands_.begin(), commands_.end(), command) == commands_.end()) commands_.push_back(command);
}

void TCustomDAConnection::UnRegisterCommand(TCustomDASQL* command) {
  std::lock_guard<std::recursive_mutex> lock(registrationLock_);
  commands_.erase(std::remove(commands_.begin(), commands_.end(), command), commands_.end());
}

void TCustomDAConnection::Loaded() {
  TCustomConnection::Loaded();
  if (!connectAfterLoad_) return;
  try {
    SetConnected(true);
  } catch (...) {
    connectAfterLoad_ = false;
    throw;
  }
  connectAfterLoad_ = false;
}

}  // namespace da
