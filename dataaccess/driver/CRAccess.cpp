#include "driver/CRAccess.h"

#include <algorithm>

#include "common/AnsiCase.h"
#include "driver/MyParser.h"
#include "transports/CRVioHttp.h"

namespace da {
namespace {

// Sets a flag for a scope and restores the previous value afterwards.
class TFlagScope {
 public:
  explicit TFlagScope(bool& flag) : flag_(flag), saved_(flag) { flag_ = true; }
  ~TFlagScope() { flag_ = saved_; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& flag_;
  bool saved_;
};

}  // namespace

// --- TParamDesc -------------------------------------------------------------

void TParamDesc::SetValue(const Variant& value) {
  value_ = value;
  isNull_ = value.IsNull();
}

void TParamDesc::SetNull(bool value) {
  isNull_ = value;
  if (value) value_ = Variant::Null();
}

TParamDesc* TParamDescs::Add(std::unique_ptr<TParamDesc> param) {
  items_.push_back(std::move(param));
  return items_.back().get();
}

void TParamDescs::Delete(size_t i) {
  if (i < items_.size()) items_.erase(items_.begin() + static_cast<ptrdiff_t>(i));
}

TParamDesc* TParamDescs::FindParam(std::string_view name) const {
  for (const auto& p : items_)
    if (AnsiSameText(p->Name(), name)) return p.get();
  return nullptr;
}

// --- TCRConnection ------------------------------------------------------------

TCRConnection::TCRConnection() = default;

TCRConnection::~TCRConnection() = default;

void TCRConnection::InitInternalTransaction() {
  transaction_ = CreateTransaction();
  transaction_->AddConnection(this);
}

void TCRConnection::Enlist() { throw EDatabaseError("MS DTC transactions not supported"); }
void TCRConnection::UnEnlist() { throw EDatabaseError("MS DTC transactions not supported"); }

void TCRConnection::DoError(EDAError& e, bool& fail) {
  TConnLostCause cause = clUnknown;
  int attempt = 0;
  reconnected_ = false;
  bool reconnect = false;
  do {
    if (inFailover_) return;  // an error of the reconnect itself
    reconnect = attempt > 0;
    bool reexecute = false;
    if (OnError) {
      // Errors raised while the handler runs (it may disconnect) must not
      // start a loop of their own.
      TFlagScope scope(inFailover_);
      OnError(e, fail, reconnect, reexecute, attempt, cause);
    }
    if (reconnect) {
      reconnected_ = false;
      {
        TFlagScope scope(inFailover_);
        try {
          if (attempt == 0) {
            try {
              Disconnect();
            } catch (const std::exception&) {
            }
          }
          Connect();
          reconnected_ = true;
          try {
            if (OnReconnected) OnReconnected();
          } catch (const std::exception&) {
          }
        } catch (const std::exception&) {
          // The next round asks the handler again.
        }
      }
      if (reconnected_ && reexecute) throw EFailOver(cause);
      ++attempt;
    }
    if (!reconnect && attempt > 0 && !reconnected_ && OnReconnectFailed) {
      // The component closes itself in this callback and needs to see an
      // open connection to run its disconnect steps.
      connected_ = true;
      try {
        OnReconnectFailed();
      } catch (...) {
        connected_ = false;
        throw;
      }
      connected_ = false;
    }
  } while (reconnect && !reconnected_);
}

bool TCRConnection::DispatchError(EDAError& e) {
  bool fail = true;
  if (OnError) DoError(e, fail);
  return fail;
}

void TCRConnection::TakeSettingsFrom(const TCRConnection& source) {
  username_ = source.username_;
  password_ = source.password_;
  server_ = source.server_;
  enableBCD_ = source.enableBCD_;
  enableFmtBCD_ = source.enableFmtBCD_;
  OnError = source.OnError;
  ioHandler_ = source.ioHandler_;
  SetHttpOptions(source.HttpOptions());
}

void TCRConnection::SetHttpOptions(const THttpOptions* options) {
  if (options == httpOptions_.get()) return;
  httpOptions_ = options ? std::make_unique<THttpOptions>(*options) : nullptr;
}

void TCRConnection::ReturnToPool() { Disconnect(); }

bool TCRConnection::SetProp(int prop, const Variant& value) {
  switch (prop) {
    case propAutoCommit: autoCommit_ = value.AsBoolean(); break;
    case propConvertEOL: convertEOL_ = value.AsBoolean(); break;
    case propDisconnectedMode: disconnectedMode_ = value.AsBoolean(); break;
    case propEnableBCD: enableBCD_ = value.AsBoolean(); break;
    case propEnableFmtBCD: enableFmtBCD_ = value.AsBoolean(); break;
    case propDefaultSortType: defaultSortType_ = value.AsInt32(); break;
    default: throw EUnknownProperty(prop);
  }
  return true;
}

bool TCRConnection::GetProp(int prop, Variant& value) {
  switch (prop) {
    case propUsername: value = username_; break;
    case propAutoCommit: value = autoCommit_; break;
    case propConvertEOL: value = convertEOL_; break;
    case propDisconnectedMode: value = disconnectedMode_; break;
    case propEnableBCD: value = enableBCD_; break;
    case propEnableFmtBCD: value = enableFmtBCD_; break;
    case propDefaultSortType: value = static_cast<int32_t>(defaultSortType_); break;
    case propMaxStringSize: value = int32_t{0}; break;
    default: throw EUnknownProperty(prop);
  }
  return true;
}

// --- TCRTransaction -------------------------------------------------------------

TCRTransaction::~TCRTransaction() = default;

bool TCRTransaction::AddConnection(TCRConnection* connection) {
  if (std::find(connections_.begin(), connections_.end(), connection) != connections_.end()) return false;
  connections_.push_back(connection);
  return true;
}

bool TCRTransaction::RemoveConnection(TCRConnection* connection) {
  auto it = std::find(connections_.begin(), connections_.end(), connection);
  if (it == connections_.end()) return false;
  connections_.erase(it);
  return true;
}

void TCRTransaction::AssignConnect(const TCRTransaction& source) {
  inTransaction_ = source.inTransaction_;
  ownTransaction_ = false;  // the source's owner ends it
  isolationLevel_ = source.isolationLevel_;
  readOnly_ = source.readOnly_;
}

void TCRTransaction::Reset() {
  inTransaction_ = false;
  ownTransaction_ = false;
}

bool TCRTransaction::SetProp(int prop, const Variant& value) {
  switch (prop) {
    case propIsolationLevel: isolationLevel_ = value.AsInt32(); break;
    case propTransactionReadOnly: readOnly_ = value.AsBoolean(); break;
    default: throw EUnknownProperty(prop);
  }
  return true;
}

bool TCRTransaction::GetProp(int prop, Variant& value) {
  switch (prop) {
    case propIsolationLevel: value = static_cast<int32_t>(isolationLevel_); break;
    case propTransactionReadOnly: value = readOnly_; break;
    default: throw EUnknownProperty(prop);
  }
  return true;
}

TCRConnection* TCRTransaction::SingleConnection() const {
  if (connections_.empty()) throw EDatabaseError("There are no connections in the transaction");
  if (connections_.size() > 1) throw EDatabaseError("multiple transaction");
  TCRConnection* connection = connections_.front();
  if (!connection->Connected()) throw EDatabaseError("One of the connections in the transaction is not active");
  return connection;
}

// --- TCRCommand -----------------------------------------------------------------

TCRCommand::TCRCommand() = default;

TCRCommand::~TCRCommand() = default;

std::string TCRCommand::ParseSQL(const std::string& sql, TParamDescs* params, const std::string& renamePrefix) {
  scanTarget_ = params;
  struct Reset {
    TParamDescs*& target;
    ~Reset() { target = nullptr; }
  } reset{scanTarget_};
  TParamMarkerScan scan(&TMyParser::Create, params ? this : nullptr);
  return scan.ParseSQL(sql, renamePrefix);
}

void TCRCommand::Prepare() {}
void TCRCommand::Unprepare() {}

void TCRCommand::SetSQL(const std::string& text) {
  if (text == userSQL_) return;
  userSQL_ = text;
  if (disableParamScan_)
    finalSQL_ = text;
  else
    finalSQL_ = ParseSQL(text, scanParams_ ? &params_ : nullptr);
}

TParamDesc* TCRCommand::AddParam() { return params_.Add(std::make_unique<TParamDesc>()); }

void TCRCommand::AddParam(const TParamMarker& marker) {
  TParamDescs& target = scanTarget_ ? *scanTarget_ : params_;
  auto param = std::make_unique<TParamDesc>();
  param->SetName(marker.name);
  target.Add(std::move(param));
}

void TCRCommand::NotSupported() { throw EDatabaseError("Operation is not supported by the database"); }

bool TCRCommand::SetProp(int prop, const Variant& value) {
  switch (prop) {
    case propAutoCommit: autoCommit_ = value.AsBoolean(); break;
    case propScanParams: {
      bool was = scanParams_;
      scanParams_ = value.AsBoolean();
      if (!was && scanParams_ && !userSQL_.empty() && !disableParamScan_) finalSQL_ = ParseSQL(userSQL_, &params_);
      break;
    }
    case propCompressBlob: compressBlob_ = static_cast<TCompressBlobMode>(value.AsInt32()); break;
    case propDisableParamScan: disableParamScan_ = value.AsBoolean(); break;
    case propCommandIgnoredFlag: break;
    case propQuoteNames: quoteNames_ = value.AsBoolean(); break;
    case propEnableBCD: enableBCD_ = value.AsBoolean(); break;
    case propEnableFmtBCD: enableFmtBCD_ = value.AsBoolean(); break;
    case propCanReadParams: canReadParams_ = value.AsBoolean(); break;
    case propStoredProc: storedProc_ = value.AsBoolean(); break;
    default: throw EUnknownProperty(prop);
  }
  return true;
}

bool TCRCommand::GetProp(int prop, Variant& value) {
  switch (prop) {
    case propAutoCommit: value = autoCommit_; break;
    case propScanParams: value = scanParams_; break;
    case propCompressBlob: value = static_cast<int32_t>(compressBlob_); break;
    case propDisableParamScan: value = disableParamScan_; break;
    case propQuoteNames: value = quoteNames_; break;
    case propEnableBCD: value = enableBCD_; break;
    case propEnableFmtBCD: value = enableFmtBCD_; break;
    case propCanReadParams: value = canReadParams_; break;
    case propStoredProc: value = storedProc_; break;
    case propIsSelectParams: value = isSelectParams_; break;
    case propCommandAlwaysFalse: value = false; break;
    default: throw EUnknownProperty(prop);
  }
  return true;
}

}  // namespace da
