#include "components/DASQL.h"

#include <cmath>

#include "components/DAConnection.h"
#include "components/DADataSet.h"
#include "driver/CRAccess.h"
#include "driver/MemDSFields.h"

namespace da {

TCustomDASQL::TCustomDASQL(TComponent* owner) : TComponent(owner), macros_(this) {
  sql_.OnChange = [this] { SQLTextChanged(); };
  macros_.OnMacroChanged = [this](TMacro& macro) {
    // A macro value changed: the text the driver sees changes with it.
    if (dataSet_ && dataSet_->Active()) {
      const std::string text = sql_.Text();
      if (text.find("&" + macro.Name()) == std::string::npos) return;
    }
    macrosLocked_ = true;
    try {
      SQLTextChanged();
    } catch (...) {
      macrosLocked_ = false;
      throw;
    }
    macrosLocked_ = false;
  };
}

TCustomDASQL::~TCustomDASQL() {
  if (connection_) {
    connection_->UnRegisterCommand(this);
    RemoveFreeNotification(connection_);
  }
  if (iCommand_) iCommand_->AfterExecute = nullptr;
}

void TCustomDASQL::SetConnection(TCustomDAConnection* connection) {
  if (connection == connection_) return;
  if (connection_) {
    connection_->UnRegisterCommand(this);
    RemoveFreeNotification(connection_);
  }
  connection_ = connection;
  if (connection_) {
    connection_->RegisterCommand(this);
    FreeNotification(connection_);
  }
  if (iCommand_ && !dataSet_) iCommand_->SetConnection(connection_ ? connection_->DriverConnection() : nullptr);
}

void TCustomDASQL::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == connection_) connection_ = nullptr;
}

void TCustomDASQL::SetSQL(const TStringList& lines) {
  if (lines.Text() == sql_.Text()) return;
  sql_.Assign(lines);
}

void TCustomDASQL::SetParamCheck(bool value) {
  if (value == paramCheck_) return;
  paramCheck_ = value;
  if (iCommand_) iCommand_->SetProp(propScanParams, value);
  if (value) {
    CheckDriverCommand();
    PutTextToDriver();
  }
}

void TCustomDASQL::SetCommandTimeout(int value) {
  if (value == commandTimeout_) return;
  commandTimeout_ = value;
  if (iCommand_) iCommand_->SetProp(propCommandTimeout, static_cast<int32_t>(value));
}

void TCustomDASQL::SetAutoCommit(bool value) {
  autoCommit_ = value;
  if (iCommand_) iCommand_->SetProp(propAutoCommit, value);
}

std::string TCustomDASQL::ExpandedSQL() const {
  std::string text;
  const auto& lines = sql_.Lines();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) text += "\r\n";
    text += lines[i];
  }
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.pop_back();
  if (macros_.Count() > 0) text = macros_.Expand(text);
  return text;
}

void TCustomDASQL::SQLTextChanged() {
  if (dataSet_)
    dataSet_->SQLTextChanged();
  else if (iCommand_ && iCommand_->GetPrepared())
    iCommand_->Unprepare();
  if (!macrosLocked_) macros_.Scan(sql_.Text());
  // The driver command made here gets the text below, once.
  textChanging_ = true;
  try {
    CheckDriverCommand();
  } catch (...) {
    textChanging_ = false;
    throw;
  }
  textChanging_ = false;
  PutTextToDriver();
}

void TCustomDASQL::PutTextToDriver() {
  if (!iCommand_) return;
  if (paramCheck_) iCommand_->SetProp(propFillParamPosition, true);
  try {
    iCommand_->SetSQL(ExpandedSQL());
    if (paramCheck_) CreateParams();
  } catch (...) {
    if (paramCheck_) iCommand_->SetProp(propFillParamPosition, false);
    throw;
  }
  if (paramCheck_) iCommand_->SetProp(propFillParamPosition, false);
}

void TCustomDASQL::CreateParams() {
  TDAParams old;
  old.Assign(params_);
  params_.Clear();
  const TParamDescs& descs = iCommand_->Params();
  for (size_t i = 0; i < descs.Count(); ++i) {
    const TParamDesc& d = descs[i];
    TDAParam& p = params_.Add(d.Name(), TDataTypesMap::GetFieldType(d.DataType()), d.ParamType());
    p.SetSize(d.Size());
  }
  for (int i = 0; i < old.Count(); ++i) {
    const TDAParam& o = old[i];
    if (TDAParam* p = params_.FindParam(o.Name())) {
      const std::string name = p->Name();
      p->Assign(o);
      p->SetName(name);  // the text's spelling of the name
    }
  }
}

void TCustomDASQL::SetDriverCommand(TCRCommand* command) {
  if (command == iCommand_) return;
  if (iCommand_) iCommand_->AfterExecute = nullptr;
  iCommand_ = command;
  if (!iCommand_) return;
  iCommand_->SetProp(propAutoCommit, autoCommit_);
  iCommand_->SetProp(propScanParams, paramCheck_);
  iCommand_->SetProp(propStoredProc, false);
  iCommand_->SetProp(propCommandTimeout, static_cast<int32_t>(commandTimeout_));
  iCommand_->AfterExecute = [this](bool result) {
    if (dataSet_)
      dataSet_->DoAfterExecute(result);
    else
      AfterExecuteStep(result);
  };
  if (!textChanging_) PutTextToDriver();
}

void TCustomDASQL::CheckDriverCommand() {
  if (dataSet_) {
    dataSet_->CreateDriverRecordSet();
    return;
  }
  if (!ownedCommand_) {
    ownedCommand_ = NewDriverCommand();
    ownedCommand_->SetComponent(this);
    ownedCommand_->SetConnection(connection_ ? connection_->DriverConnection() : nullptr);
    SetDriverCommand(ownedCommand_.get());
  }
}

bool TCustomDASQL::Prepared() const { return iCommand_ && iCommand_->GetPrepared(); }

bool TCustomDASQL::Executing() const { return iCommand_ && iCommand_->Executing(); }

namespace {

bool TakesSizeFromValue(TFieldType type) {
  switch (type) {
    case ftString:
    case ftBytes:
    case ftVarBytes:
    case ftFixedChar:
    case ftWideString:
    case ftFixedWideChar: return true;
    default: return false;
  }
}

int32_t ValueLength(const Variant& value) {
  if (const auto* bytes = value.Get<Variant::Bytes>()) return static_cast<int32_t>(bytes->size());
  if (const auto* s = value.Get<std::string>()) return static_cast<int32_t>(s->size());
  if (const auto* w = value.Get<std::u16string>()) return static_cast<int32_t>(w->size());
  if (value.IsNull()) return 0;
  return static_cast<int32_t>(value.AsString().size());
}

}  // namespace

void TCustomDASQL::DescribeParam(TDAParam& param, TParamDesc& desc) {
  desc.SetName(param.Name());
  desc.SetDataType(TDataTypesMap::GetDataType(param.DataType()));
  desc.SetSubDataType(static_cast<TDataType>(param.SubDataType()));
  desc.SetNational(param.National());
  desc.SetParamType(param.ParamType());
  desc.SetIsBound(param.Bound());
  int32_t size = param.Size();
  // A parameter of direction ptUnknown may return a value, so its size is
  // not taken from what it holds now.
  if (size == 0 && param.ParamType() == ptInput && TakesSizeFromValue(param.DataType())) {
    size = ValueLength(param.Value());
    if (size == 0 && connection_ && connection_->DriverConnection()) {
      Variant max;
      connection_->DriverConnection()->GetProp(propMaxStringSize, max);
      size = max.IsNull() ? 0 : max.AsInt32();
    }
  }
  desc.SetSize(size);
}

void TCustomDASQL::PassParamValue(TDAParam& param, TParamDesc& desc) {
  if (param.ValueObject()) {
    desc.SetObject(param.ValueObject());
    desc.SetNull(param.IsNull());
    return;
  }
  desc.SetConvertEOL(connection_ && connection_->ConvertLineBreaks());
  const TParamType dir = param.ParamType();
  if (dir != ptUnknown && dir != ptInput && dir != ptInputOutput) return;
  // The value is copied once, into the driver's parameter.
  const Variant& value = param.StoredValue();
  const TDataType dt = desc.DataType();
  if (param.DataType() == ftDate && !value.IsNull())
    desc.SetValue(Variant(std::trunc(value.AsDateTime())));
  else if ((dt == dtBytes || dt == dtVarBytes) && value.IsString())
    desc.SetValue(Variant(value.AsBytes()));
  else
    desc.SetValue(value);
}

void TCustomDASQL::PassParamsToDriver(bool withValues) {
  CheckDriverCommand();
  TParamDescs& descs = iCommand_->Params();
  const bool byName = params_.ChangeMarker() != 0;
  for (int i = 0; i < params_.Count(); ++i) {
    TDAParam& p = params_[i];
    TParamDesc* desc = nullptr;
    if (byName && !p.Name().empty())
      desc = descs.FindParam(p.Name());
    else
      desc = descs.Items(static_cast<size_t>(i));
    if (!desc) desc = iCommand_->AddParam();
    DescribeParam(p, *desc);
    if (withValues) PassParamValue(p, *desc);
  }
  if (!byName)
    while (descs.Count() > static_cast<size_t>(params_.Count())) descs.Delete(descs.Count() - 1);
  params_.SetChangeMarker(0);
}

void TCustomDASQL::ReadBackParams() {
  if (!iCommand_ || !iCommand_->CanReadParams()) return;
  const TParamDescs& descs = iCommand_->Params();
  for (int i = 0; i < params_.Count(); ++i) {
    TDAParam& p = params_[i];
    if (p.ParamType() == ptInput) continue;
    const TParamDesc* d = descs.Items(static_cast<size_t>(i));
    if (!d) continue;
    if (d->IsNull())
      p.Clear();
    else
      p.SetValue(d->Value());
  }
  iCommand_->SetCanReadParams(false);
}

void TCustomDASQL::Execute() {
  if (!connection_) DatabaseError("Connection is not defined", this);
  TCustomDAConnection* conn = connection_;
  conn->EnterOperation(clExecute, true);
  try {
    conn->EnterUse();
  } catch (...) {
    conn->LeaveOperation();
    throw;
  }
  // The use is given back once: by the after-execute step, or here.
  useHeld_ = true;
  try {
    for (;;) {
      try {
        CheckDriverCommand();
        iCommand_->SetConnection(conn->DriverConnection());
        if (BeforeExecute) BeforeExecute(this);
        PassParamsToDriver(true);
        iCommand_->Execute();
        break;
      } catch (const EFailOver& f) {
        if (f.ConnLostCause() != clExecute) throw;
        // The failed execution gave the use back and the connection counted
        // it again while finding the lost operation.
        useHeld_ = true;
      }
    }
  } catch (...) {
    ReleaseUse();
    if (conn == connection_) conn->LeaveOperation();
    throw;
  }
  ReleaseUse();
  if (conn == connection_) conn->LeaveOperation();
}

void TCustomDASQL::ReleaseUse() {
  if (!useHeld_) return;
  useHeld_ = false;
  if (connection_) connection_->LeaveUse();
}

void TCustomDASQL::AfterExecuteStep(bool result) {
  if (result) {
    ReadBackParams();
    rowsAffected_ = static_cast<int>(iCommand_->RowsAffectedCount());
  }
  ReleaseUse();
  if (AfterExecute) AfterExecute(this, result);
}

}  // namespace da
