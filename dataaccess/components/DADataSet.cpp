#include "components/DADataSet.h"

#include "components/DAConnection.h"
#include "driver/CRAccess.h"
#include "driver/CRRecordSet.h"

namespace da {

TCustomDADataSet::TCustomDADataSet(TComponent* owner) : TMemDataSet(owner) {}

TCustomDADataSet::~TCustomDADataSet() {
  try {
    Close();
  } catch (...) {
  }
  SetConnection(nullptr);
  SetData(nullptr);
  // The internal command points at the record set's driver command.
  command_.reset();
  iRecordSet_.reset();
}

// --- Connection ----------------------------------------------------------------

void TCustomDADataSet::SetConnection(TCustomDAConnection* connection) {
  if (connection == connection_) return;
  if (connection_) {
    Close();
    if (Prepared() && iRecordSet_) iRecordSet_->UnPrepare();
    SetFieldDefsOutOfDate();
    connection_->UnRegisterClient(this);
    RemoveFreeNotification(connection_);
  }
  connection_ = connection;
  if (command_) command_->SetConnection(connection);
  if (connection_) {
    connection_->RegisterClient(this, [this](bool connecting) { ConnectionStateChanged(connecting); });
    FreeNotification(connection_);
    if (iRecordSet_) AttachDriverConnection(connection_->DriverConnection());
  } else if (iRecordSet_) {
    AttachDriverConnection(nullptr);
  }
}

void TCustomDADataSet::Notification(TComponent* component, TOperation operation) {
  TMemDataSet::Notification(component, operation);
  if (operation == TOperation::opRemove && component == connection_) {
    connection_ = nullptr;
    if (iRecordSet_) AttachDriverConnection(nullptr);
  }
}

void TCustomDADataSet::AttachDriverConnection(TCRConnection* connection) {
  if (!iRecordSet_) return;
  if (iRecordSet_->GetConnection() != connection) iRecordSet_->SetConnection(connection);
  iRecordSet_->SetTransaction(connection ? connection->GetInternalTransaction() : nullptr);
}

void TCustomDADataSet::ConnectionStateChanged(bool connecting) {
  if (connecting) return;
  if (connection_ && connection_->Options().DisconnectedMode()) return;
  Close();
  if (Prepared() && iRecordSet_) iRecordSet_->UnPrepare();
  SetFieldDefsOutOfDate();
}

void TCustomDADataSet::AcquireConnection(bool counted) {
  if (!connection_) DatabaseError("Connection is not defined");
  if (counted)
    connection_->EnterUse();
  else if (!connection_->Connected())
    connection_->Connect();
  CreateDriverRecordSet();
  if (!connection_->IsClient(this))
    connection_->RegisterClient(this, [this](bool connecting) { ConnectionStateChanged(connecting); });
  AttachDriverConnection(connection_->DriverConnection());
}

void TCustomDADataSet::ReleaseConnection() {
  if (connection_) connection_->LeaveUse();
}

// --- Driver objects ------------------------------------------------------------

void TCustomDADataSet::CheckDataSet() { CreateDriverRecordSet(); }

void TCustomDADataSet::CreateDriverRecordSet() {
  if (iRecordSet_) return;
  std::unique_ptr<TCRRecordSet> rs = NewDriverRecordSet();
  rs->SetComponent(this);
  if (connection_ && connection_->DriverConnection()) {
    rs->SetConnection(connection_->DriverConnection());
    rs->SetTransaction(connection_->DriverConnection()->GetInternalTransaction());
  }
  SetRecordSetProps(*rs);
  rs->OnBeforeFetch = [this](bool& cancel) { DoBeforeFetch(cancel); };
  rs->OnAfterFetch = [this] { DoAfterFetch(); };
  iRecordSet_ = std::move(rs);
  SetData(iRecordSet_.get());
  TCRCommand* cmd = iRecordSet_->GetCommand();
  cmd->SetComponent(this);
  command_->SetDriverCommand(cmd);
  cmd->SetProp(propAutoCommit, autoCommit_);
}

void TCustomDADataSet::SetRecordSetProps(TCRRecordSet& rs) {
  rs.SetProp(propUniDirectional, uniDirectional_);
  rs.SetProp(propFetchRows, static_cast<int32_t>(fetchRows_));
  rs.SetProp(propFetchAll, fetchAll_);
  rs.SetProp(propReadOnly, readOnly_);
}

void TCustomDADataSet::SetRecordSetProp(int prop, const Variant& value) {
  if (iRecordSet_) iRecordSet_->SetProp(prop, value);
}

bool TCustomDADataSet::Prepared() const { return iRecordSet_ && iRecordSet_->Prepared(); }

bool TCustomDADataSet::IsFetchingRows() const { return iRecordSet_ && Active() && !iRecordSet_->IsFetched(); }

bool TCustomDADataSet::ReturnsRows() const { return iRecordSet_ && iRecordSet_->IsSelect(); }

// --- Text changes --------------------------------------------------------------

void TCustomDADataSet::SQLTextChanged() {
  Close();
  if (iRecordSet_) {
    if (iRecordSet_->Prepared()) iRecordSet_->UnPrepare();
    if (TCRCommand* cmd = iRecordSet_->GetCommand()) cmd->SetCursorState(csIdle);
  }
  SetFieldDefsOutOfDate();
}

// --- Settings ------------------------------------------------------------------

void TCustomDADataSet::SetFetchRows(int value) {
  if (value == fetchRows_) return;
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", this);
  if (value < 1 || value > 65535) DatabaseError("FetchRows must be 1..65535");
  fetchRows_ = value;
  SetRecordSetProp(propFetchRows, static_cast<int32_t>(value));
}

void TCustomDADataSet::SetUniDirectional(bool value) {
  if (value == uniDirectional_) return;
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", this);
  uniDirectional_ = value;
  SetRecordSetProp(propUniDirectional, value);
  if (value) {
    fetchAll_ = false;
    SetRecordSetProp(propFetchAll, false);
  }
}

void TCustomDADataSet::SetFetchAll(bool value) {
  if (value == fetchAll_) return;
  fetchAll_ = value;
  SetRecordSetProp(propFetchAll, value);
  if (value) {
    if (uniDirectional_) {
      uniDirectional_ = false;
      SetRecordSetProp(propUniDirectional, false);
    }
    if (Active() && iRecordSet_ && !iRecordSet_->IsFetched()) iRecordSet_->FetchAllRows();
  }
}

void TCustomDADataSet::SetReadOnly(bool value) {
  SetRecordSetProp(propReadOnly, value);
  readOnly_ = value;
}

void TCustomDADataSet::SetAutoCommit(bool value) {
  autoCommit_ = value;
  if (iRecordSet_ && iRecordSet_->GetCommand()) iRecordSet_->GetCommand()->SetProp(propAutoCommit, value);
}

// --- Fetch callbacks -----------------------------------------------------------

void TCustomDADataSet::DoBeforeFetch(bool& cancel) {
  if (BeforeFetch) BeforeFetch(*this, cancel);
}

void TCustomDADataSet::DoAfterFetch() {
  const bool fetched = iRecordSet_ && iRecordSet_->IsFetched();
  if (AfterFetch && (!fetchAll_ || fetched)) AfterFetch(*this);
  if (fetched && fetchUseHeld_) {
    fetchUseHeld_ = false;
    ReleaseConnection();
  }
}

// --- Open, Execute, Close ----------------------------------------------------------

void TCustomDADataSet::OpenCursor() {
  AcquireConnection(true);
  try {
    TMemDataSet::OpenCursor();
  } catch (...) {
    ReleaseConnection();
    throw;
  }
  ReleaseConnection();
}

void TCustomDADataSet::CloseCursor() {
  try {
    TMemDataSet::CloseCursor();
  } catch (const EDAError& e) {
    if (!e.IsFatal()) throw;
  }
  if (fetchUseHeld_) {
    fetchUseHeld_ = false;
    ReleaseConnection();
  }
}

void TCustomDADataSet::SetActive(bool value) {
  if (value)
    Open();
  else
    Close();
}

void TCustomDADataSet::Close() {
  TMemDataSet::Close();
  if (fetchUseHeld_) {
    fetchUseHeld_ = false;
    ReleaseConnection();
  }
  if (!Prepared()) SetFieldDefsOutOfDate();
}

void TCustomDADataSet::Open() {
  if (Active()) return;
  TCustomDAConnection* conn = connection_;
  if (conn) conn->EnterOperation(clOpen, !conn->InTransaction());
  auto leave = [&] {
    if (conn && conn == connection_) conn->LeaveOperation();
  };
  try {
    AcquireConnection(true);
  } catch (...) {
    leave();
    throw;
  }
  fetchUseHeld_ = true;
  try {
    for (;;) {
      try {
        if (SQL().Empty()) DatabaseError("No SQL statement provided", this);
        if (BeforeExecute) BeforeExecute(this);
        command_->PassParamsToDriver(true);
        TMemDataSet::Open();
        break;
      } catch (const EFailOver&) {
        // Reconnected: run the statement again. The failed execution gave
        // the open's use back and the connection counted it again while
        // finding the lost operation, so the use is held once more.
        fetchUseHeld_ = true;
      }
    }
    Variant isSelectParams;
    TCRCommand* cmd = iRecordSet_->GetCommand();
    cmd->GetProp(propIsSelectParams, isSelectParams);
    if (!isSelectParams.IsNull() && isSelectParams.AsBoolean()) {
      Variant rows;
      cmd->GetProp(propRowsAffected, rows);
      affectedRows_ = rows.IsNull() ? 0 : static_cast<int32_t>(rows.AsInt64());
    } else {
      affectedRows_ = -1;
    }
  } catch (...) {
    if (fetchUseHeld_) {
      fetchUseHeld_ = false;
      ReleaseConnection();
    }
    leave();
    throw;
  }
  // Every row is in memory: the session is free, and so is the use.
  if (fetchUseHeld_ && iRecordSet_->IsFetched()) {
    fetchUseHeld_ = false;
    ReleaseConnection();
  }
  leave();
}

void TCustomDADataSet::Execute() {
  TCustomDAConnection* conn = connection_;
  if (!conn) DatabaseError("Connection is not defined");
  conn->EnterOperation(clExecute, true);
  auto leave = [&] {
    if (conn == connection_) conn->LeaveOperation();
  };
  if (command_->Executing()) {
    leave();
    return;
  }
  try {
    AcquireConnection(true);
  } catch (...) {
    leave();
    throw;
  }
  executeUseHeld_ = true;
  try {
    if (Active()) Close();
    for (;;) {
      try {
        if (SQL().Empty()) DatabaseError("No SQL statement provided", this);
        if (BeforeExecute) BeforeExecute(this);
        command_->PassParamsToDriver(true);
        iRecordSet_->ExecCommand();
        if (ReturnsRows()) Open();
        break;
      } catch (const EFailOver& f) {
        if (f.ConnLostCause() != clExecute) throw;
        // As in Open: the use was given back and counted again.
        executeUseHeld_ = true;
      }
    }
  } catch (...) {
    if (executeUseHeld_) {
      executeUseHeld_ = false;
      ReleaseConnection();
    }
    leave();
    throw;
  }
  if (executeUseHeld_) {
    executeUseHeld_ = false;
    ReleaseConnection();
  }
  leave();
}

void TCustomDADataSet::DoAfterExecute(bool result) {
  // The record set learns what the statement gave only after the command
  // returns; the command's state tells it already: a result left open.
  const bool rows = iRecordSet_->GetCommand()->GetCursorState() == csExecuted;
  if (result) {
    command_->ReadBackParams();
    affectedRows_ = static_cast<int32_t>(iRecordSet_->GetCommand()->RowsAffectedCount());
    if (!rows) insertId_ = ReadInsertId();
  }
  if (!result || !rows) {
    // A failed statement, or one without rows, needs the connection no more.
    if (executeUseHeld_) {
      executeUseHeld_ = false;
      ReleaseConnection();
    } else if (fetchUseHeld_) {
      fetchUseHeld_ = false;
      ReleaseConnection();
    }
  }
  if (AfterExecute) AfterExecute(this, result);
}

}  // namespace da
