#include "components/MyAccess.h"

#include "driver/CRAccess.h"
#include "driver/MyClasses.h"
#include "driver/MyParser.h"
#include "driver/MyRecordSet.h"
#include "mysql/CRVio.h"
#include "mysql/MySqlApi.h"
#include "transports/CRVioHttp.h"

namespace da {
namespace {

// An option refused while the connection is open ("Cannot perform this
// operation on an open connection"): compared, stored, handed to the driver
// connection (as `driverValue` when the driver takes it in another form).
template <typename T, typename D>
void SetOptionWhileClosed(TCustomMyConnection& owner, T& field, const T& value, int prop, const D& driverValue) {
  if (value == field) return;
  owner.CheckClosed();
  field = value;
  owner.SetDriverProp(prop, driverValue);
}

}  // namespace

// --- TMyConnectionOptions ----------------------------------------------------

TMyConnectionOptions::TMyConnectionOptions(TCustomMyConnection* owner) : TDAConnectionOptions(owner) {}

TCustomMyConnection& TMyConnectionOptions::Owner() const { return static_cast<TCustomMyConnection&>(*owner_); }

void TMyConnectionOptions::SetCompress(bool value) {
  SetOptionWhileClosed(Owner(), compress_, value, propCompress, value);
}

void TMyConnectionOptions::SetUseUnicode(bool value) {
  SetOptionWhileClosed(Owner(), useUnicode_, value, propUseUnicode, value);
}

void TMyConnectionOptions::SetCharset(const std::string& value) {
  SetOptionWhileClosed(Owner(), charset_, value, propCharset, value);
}

void TMyConnectionOptions::SetProtocol(TMyProtocol value) {
  SetOptionWhileClosed(Owner(), protocol_, value, propProtocol, static_cast<int32_t>(value));
}

void TMyConnectionOptions::SetEmbedded(bool value) {
  SetOptionWhileClosed(Owner(), embedded_, value, propEmbedded, value);
}

void TMyConnectionOptions::SetDirect(bool value) {
  SetOptionWhileClosed(Owner(), direct_, value, propDirect, value);
}

void TMyConnectionOptions::SetCheckBackslashes(bool value) {
  if (value == checkBackslashes_) return;
  checkBackslashes_ = value;
  Owner().SetDriverProp(propCheckBackslashes, value);
}

void TMyConnectionOptions::SetNullForZeroDelphiDate(bool value) {
  SetOptionWhileClosed(Owner(), nullForZeroDelphiDate_, value, propNullForZeroDelphiDate, value);
}

void TMyConnectionOptions::SetOptimizedBigInt(bool value) {
  SetOptionWhileClosed(Owner(), optimizedBigInt_, value, propOptimizedBigInt, value);
}

void TMyConnectionOptions::SetAuthPlugin(const std::string& value) {
  SetOptionWhileClosed(Owner(), authPlugin_, value, propAuthPlugin, value);
}

void TMyConnectionOptions::SetServerPublicKeyFile(const std::string& value) {
  SetOptionWhileClosed(Owner(), serverPublicKeyFile_, value, propServerPublicKeyFile, value);
}

void TMyConnectionOptions::SetGetServerPublicKey(bool value) {
  SetOptionWhileClosed(Owner(), getServerPublicKey_, value, propGetServerPublicKey, value);
}

TDANumericType TMyConnectionOptions::NumericType() const {
  if (EnableFmtBCD()) return ntFmtBCD;
  if (EnableBCD()) return ntBCD;
  return ntFloat;
}

void TMyConnectionOptions::SetNumericType(TDANumericType value) {
  SetEnableBCD(value == ntBCD);
  SetEnableFmtBCD(value == ntFmtBCD);
}

void TMyConnectionOptions::Assign(const TDAConnectionOptions& source) {
  if (&source == this) return;
  TDAConnectionOptions::Assign(source);
  if (const auto* my = dynamic_cast<const TMyConnectionOptions*>(&source)) {
    SetCompress(my->Compress());
    SetUseUnicode(my->UseUnicode());
    SetCharset(my->Charset());
    SetProtocol(my->Protocol());
    SetEmbedded(my->Embedded());
    SetDirect(my->Direct());
    SetCheckBackslashes(my->CheckBackslashes());
    SetNullForZeroDelphiDate(my->NullForZeroDelphiDate());
    SetOptimizedBigInt(my->OptimizedBigInt());
    SetAuthPlugin(my->AuthPlugin());
    SetServerPublicKeyFile(my->ServerPublicKeyFile());
    SetGetServerPublicKey(my->GetServerPublicKey());
  }
}

// --- TCustomMyConnection -----------------------------------------------------

TCustomMyConnection::TCustomMyConnection(TComponent* owner) : TCustomDAConnection(owner) {
  options_ = std::make_unique<TMyConnectionOptions>(this);
}

TCustomMyConnection::~TCustomMyConnection() { CloseForDestruction(); }

void TCustomMyConnection::SetDatabase(const std::string& value) {
  if (value == database_) return;
  database_ = value;
  SetDriverProp(propDatabase, value);
}

void TCustomMyConnection::SetConnectionTimeout(int value) {
  if (value == connectionTimeout_) return;
  connectionTimeout_ = value;
  SetDriverProp(propConnectionTimeout, static_cast<int32_t>(value));
}

void TCustomMyConnection::SetIsolationLevel(TMyIsolationLevel value) {
  if (value == isolationLevel_) return;
  isolationLevel_ = value;
  if (DriverConnection())
    if (TCRTransaction* tr = DriverConnection()->GetInternalTransaction())
      tr->SetProp(propIsolationLevel, static_cast<int32_t>(value));
}

std::string TCustomMyConnection::ServerVersion() const {
  if (!Connected()) return {};
  return DriverConnection()->GetServerVersionFull();
}

uint64_t TCustomMyConnection::ThreadId() const {
  if (!Connected()) return 0;
  auto* my = static_cast<TMySQLConnection*>(DriverConnection());
  if (!my->GetHandle()) return 0;
  return my->API().mysql_thread_id(my->GetHandle());
}

std::unique_ptr<TCRConnection> TCustomMyConnection::NewDriverConnection() {
  return std::make_unique<TMySQLConnection>();
}

void TCustomMyConnection::CopySettingsToDriver(TCRConnection& connection) {
  connection.SetProp(propDatabase, database_);
  connection.SetProp(propConnectionTimeout, static_cast<int32_t>(connectionTimeout_));
  connection.SetProp(propUseUnicode, Options().UseUnicode());
  connection.SetProp(propCharset, Options().Charset());
  connection.SetProp(propEmbedded, Options().Embedded());
  connection.SetProp(propDirect, Options().Direct());
  connection.SetProp(propCompress, Options().Compress());
  connection.SetProp(propProtocol, static_cast<int32_t>(Options().Protocol()));
  connection.SetProp(propCheckBackslashes, Options().CheckBackslashes());
  connection.SetProp(propAuthPlugin, Options().AuthPlugin());
  connection.SetProp(propServerPublicKeyFile, Options().ServerPublicKeyFile());
  connection.SetProp(propGetServerPublicKey, Options().GetServerPublicKey());
  TCustomDAConnection::CopySettingsToDriver(connection);
  connection.SetProp(propOptimizedBigInt, Options().OptimizedBigInt());
  connection.SetProp(propNullForZeroDelphiDate, Options().NullForZeroDelphiDate());
  if (TCRTransaction* tr = connection.GetInternalTransaction())
    tr->SetProp(propIsolationLevel, static_cast<int32_t>(isolationLevel_));
}

// --- TMyConnection -----------------------------------------------------------

TMyConnection::TMyConnection(TComponent* owner) : TCustomMyConnection(owner) {}

TMyConnection::~TMyConnection() { CloseForDestruction(); }

void TMyConnection::SetPort(int value) {
  if (value == port_) return;
  Disconnect();
  port_ = value;
  SetDriverProp(propPort, static_cast<int32_t>(value));
}

void TMyConnection::SetSSLOptions(const TMyConnectionSSLOptions& value) {
  if (value == sslOptions_) return;
  sslOptions_ = value;
  SetDriverProp(propSSLCipherList, value.ChipherList);
  SetDriverProp(propSSLCACert, value.CACert);
  SetDriverProp(propSSLKey, value.Key);
  SetDriverProp(propSSLCert, value.Cert);
}

void TMyConnection::SetIOHandler(mysql::TCRIOHandler* handler) {
  if (handler == ioHandler_) return;
  if (ioHandler_) RemoveFreeNotification(ioHandler_);
  ioHandler_ = handler;
  if (ioHandler_) FreeNotification(ioHandler_);
  if (DriverConnection()) DriverConnection()->SetIOHandler(handler);
}

void TMyConnection::Notification(TComponent* component, TOperation operation) {
  TCustomMyConnection::Notification(component, operation);
  if (operation == TOperation::opRemove && component == ioHandler_) {
    ioHandler_ = nullptr;
    if (DriverConnection()) DriverConnection()->SetIOHandler(nullptr);
  }
}

void TMyConnection::SetHttpOptions(const TMyHttpOptions& value) {
  if (value == httpOptions_) return;
  httpOptions_ = value;
  if (DriverConnection()) AttachHttpOptions(*DriverConnection());
}

void TMyConnection::AttachHttpOptions(TCRConnection& connection) const {
  THttpOptions options;
  options.SetUrl(httpOptions_.Url);
  options.SetUsername(httpOptions_.Username);
  options.SetPassword(httpOptions_.Password);
  options.ProxyOptions().SetHostname(httpOptions_.ProxyOptions.Hostname);
  options.ProxyOptions().SetPort(httpOptions_.ProxyOptions.Port);
  options.ProxyOptions().SetUsername(httpOptions_.ProxyOptions.Username);
  options.ProxyOptions().SetPassword(httpOptions_.ProxyOptions.Password);
  connection.SetHttpOptions(&options);
}

void TMyConnection::SetPooling(bool value) {
  if (value == pooling_) return;
  Disconnect();
  pooling_ = value;
}

// No connection pool exists in this library; saying so beats quietly
// opening an unpooled session the caller did not ask for.
void TMyConnection::CreateDriverConnection() {
  if (pooling_) DatabaseError("Connection pooling is not supported", this);
  TCustomMyConnection::CreateDriverConnection();
}

void TMyConnection::DoConnect() {
  if (pooling_) DatabaseError("Connection pooling is not supported", this);
  TCustomMyConnection::DoConnect();
}

void TMyConnection::CopySettingsToDriver(TCRConnection& connection) {
  connection.SetProp(propDatabase, Database());
  connection.SetProp(propConnectionTimeout, static_cast<int32_t>(ConnectionTimeout()));
  connection.SetProp(propUseUnicode, Options().UseUnicode());
  connection.SetProp(propCharset, Options().Charset());
  connection.SetIOHandler(ioHandler_);
  AttachHttpOptions(connection);
  connection.SetProp(propPort, static_cast<int32_t>(port_));
  connection.SetProp(propEmbedded, Options().Embedded());
  connection.SetProp(propDirect, Options().Direct());
  connection.SetProp(propCompress, Options().Compress());
  connection.SetProp(propProtocol, static_cast<int32_t>(Options().Protocol()));
  connection.SetProp(propCheckBackslashes, Options().CheckBackslashes());
  connection.SetProp(propSSLCipherList, sslOptions_.ChipherList);
  connection.SetProp(propSSLCACert, sslOptions_.CACert);
  connection.SetProp(propSSLKey, sslOptions_.Key);
  connection.SetProp(propSSLCert, sslOptions_.Cert);
  connection.SetProp(propAuthPlugin, Options().AuthPlugin());
  connection.SetProp(propServerPublicKeyFile, Options().ServerPublicKeyFile());
  connection.SetProp(propGetServerPublicKey, Options().GetServerPublicKey());
  TCustomDAConnection::CopySettingsToDriver(connection);
  connection.SetProp(propOptimizedBigInt, Options().OptimizedBigInt());
  connection.SetProp(propNullForZeroDelphiDate, Options().NullForZeroDelphiDate());
  if (TCRTransaction* tr = connection.GetInternalTransaction())
    tr->SetProp(propIsolationLevel, static_cast<int32_t>(IsolationLevel()));
}

std::string TMyConnection::ClientVersionText() const {
  if (Options().Direct() && !Options().Embedded()) return "7.0.0 Direct";
  if (Connected()) return DriverConnection()->GetClientVersion();
  TMySQLConnection temp;
  temp.SetProp(propEmbedded, Options().Embedded());
  temp.SetProp(propDirect, false);
  return temp.GetClientVersion();
}

// --- TMyCommand --------------------------------------------------------------

TMyCommand::TMyCommand(TComponent* owner) : TCustomDASQL(owner) { Macros().SetParserClass(&TMyParser::Create); }

TMyCommand::~TMyCommand() = default;

std::unique_ptr<TCRCommand> TMyCommand::NewDriverCommand() { return std::make_unique<TMySQLCommand>(); }

int64_t TMyCommand::InsertId() const {
  if (!Connection() || !Connection()->DriverConnection()) return 0;
  Variant v;
  Connection()->DriverConnection()->GetProp(propLastInsertId, v);
  return v.IsNull() ? 0 : v.AsInt64();
}

// --- TMyDataSetOptions -------------------------------------------------------

void TMyDataSetOptions::SetFieldsAsString(bool v) {
  fieldsAsString_ = v;
  owner_->PassOption(propFieldsAsString, v);
}
void TMyDataSetOptions::SetNullForZeroDate(bool v) {
  nullForZeroDate_ = v;
  owner_->PassOption(propNullForZeroDate, v);
}
void TMyDataSetOptions::SetEnableBoolean(bool v) {
  enableBoolean_ = v;
  owner_->PassOption(propEnableBoolean, v);
}
void TMyDataSetOptions::SetBinaryAsString(bool v) {
  binaryAsString_ = v;
  owner_->PassOption(propBinaryAsString, v);
}
void TMyDataSetOptions::SetCreateConnection(bool v) {
  createConnection_ = v;
  owner_->PassOption(propCreateConnection, v);
}
void TMyDataSetOptions::SetLongStrings(bool v) {
  longStrings_ = v;
  owner_->PassOption(propLongStrings, v);
}
void TMyDataSetOptions::SetFlatBuffers(bool v) {
  flatBuffers_ = v;
  owner_->PassOption(propFlatBuffers, v);
}
void TMyDataSetOptions::SetQuoteNames(bool v) {
  quoteNames_ = v;
  owner_->PassCommandOption(propQuoteNames, v);
}
void TMyDataSetOptions::SetFieldsOrigin(bool v) {
  fieldsOrigin_ = v;
  owner_->PassOption(propFieldsOrigin, v);
}
void TMyDataSetOptions::SetDefaultValues(bool v) {
  defaultValues_ = v;
  owner_->PassOption(propDefaultValues, v);
}
void TMyDataSetOptions::SetCompressBlobMode(TCompressBlobMode v) {
  compressBlobMode_ = v;
  owner_->PassOption(propCompressBlob, static_cast<int32_t>(v));
}
void TMyDataSetOptions::SetTrimFixedChar(bool v) {
  trimFixedChar_ = v;
  owner_->SetTrimFixedChar(v);
}
void TMyDataSetOptions::SetTrimVarChar(bool v) {
  trimVarChar_ = v;
  owner_->SetTrimVarChar(v);
}

// --- TCustomMyDataSet --------------------------------------------------------

TCustomMyDataSet::TCustomMyDataSet(TComponent* owner) : TCustomDADataSet(owner), options_(this) {
  command_ = std::make_unique<TMyCommand>();
  command_->SetDataSet(this);
  TMemDataSet::SetTrimFixedChar(options_.TrimFixedChar());
  TMemDataSet::SetTrimVarChar(options_.TrimVarChar());
}

TCustomMyDataSet::~TCustomMyDataSet() = default;

TCustomMyConnection* TCustomMyDataSet::Connection() const {
  return static_cast<TCustomMyConnection*>(TCustomDADataSet::Connection());
}

std::unique_ptr<TCRRecordSet> TCustomMyDataSet::NewDriverRecordSet() { return std::make_unique<TMySQLRecordset>(); }

void TCustomMyDataSet::SetRecordSetProps(TCRRecordSet& rs) {
  TCustomDADataSet::SetRecordSetProps(rs);
  rs.SetProp(propLongStrings, options_.LongStrings());
  rs.SetProp(propFlatBuffers, options_.FlatBuffers());
  rs.SetProp(propCompressBlob, static_cast<int32_t>(options_.CompressBlobMode()));
  rs.SetProp(propDefaultValues, options_.DefaultValues());
  rs.SetProp(propFieldsOrigin, options_.FieldsOrigin());
  rs.SetProp(propRecordSetFlag51, false);
  if (TCRCommand* cmd = rs.GetCommand()) {
    cmd->SetProp(propQuoteNames, options_.QuoteNames());
    cmd->SetProp(propEnableBCD, false);
    cmd->SetProp(propEnableFmtBCD, false);
  }
  rs.SetProp(propFieldsAsString, options_.FieldsAsString());
  rs.SetProp(propNullForZeroDate, options_.NullForZeroDate());
  rs.SetProp(propEnableBoolean, options_.EnableBoolean());
  rs.SetProp(propBinaryAsString, options_.BinaryAsString());
  rs.SetProp(propCreateConnection, options_.CreateConnection());
  rs.SetProp(propCommandTimeout, static_cast<int32_t>(CommandTimeout()));
}

void TCustomMyDataSet::PassOption(int prop, const Variant& value) {
  if (DriverRecordSet()) DriverRecordSet()->SetProp(prop, value);
}

void TCustomMyDataSet::PassCommandOption(int prop, const Variant& value) {
  if (DriverRecordSet() && DriverRecordSet()->GetCommand()) DriverRecordSet()->GetCommand()->SetProp(prop, value);
}

int64_t TCustomMyDataSet::ReadInsertId() const {
  if (!DriverRecordSet() || !DriverRecordSet()->GetConnection()) return 0;
  // The unsigned id travels bit for bit in the signed 64-bit count.
  return static_cast<int64_t>(DriverRecordSet()->GetConnection()->LastInsertId());
}

// --- TMyQuery ----------------------------------------------------------------

TMyQuery::TMyQuery(TComponent* owner) : TCustomMyDataSet(owner) {}

TMyQuery::~TMyQuery() = default;

}  // namespace da
