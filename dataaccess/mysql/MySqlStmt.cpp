#include "mysql/MySqlStmt.h"

#include <cmath>
#include <cstring>

#include "common/CodePage.h"
#include "common/DateTime.h"
#include "common/Format.h"
#include "common/TextFormat.h"
#include "mysql/MyCall.h"
#include "mysql/MySqlErrors.h"
#include "mysql/MySqlSession.h"

namespace da::mysql {
namespace {

[[noreturn]] void InvalidType(TDataType dataType) {
  throw EAssertionFailed(Format("Invalid internal field type $%X (%d)", {int{dataType}, int{dataType}}));
}

constexpr uint16_t kUnsignedParam = 0x80;

bool IsTextType(TDataType t) { return t == dtString || t == dtMemo || t == dtWideString || t == dtWideMemo; }

// Decimal text for the server: always with '.', whatever the user's settings.
std::string DecimalText(const Variant& value) {
  RegionalSettings dot;
  dot.decimalSeparator = '.';
  switch (value.Type()) {
    case VarType::Currency: return CurrToStr(value.Get<Currency>()->scaled, dot);
    case VarType::Single:
    case VarType::Double: return FloatToStr(value.AsDouble(), dot);
    case VarType::String: return *value.Get<std::string>();
    case VarType::WideString: return value.AsString();
    default:
      if (value.IsNumeric()) return std::to_string(value.AsInt64());
      return FloatToStr(value.AsDouble(), dot);
  }
}

void SplitMilliseconds(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                       int& msec) {
  DateTimeParts parts = DecodeDateTime(value);
  year = parts.year;
  month = parts.month;
  day = parts.day;
  hour = parts.hour;
  minute = parts.minute;
  second = parts.second;
  msec = parts.millisecond;
}

}  // namespace

uint8_t ParamTypeCode(TDataType dataType) {
  switch (dataType) {
    case dtUnknown:
    case dtString:
    case dtBlob:
    case dtMemo:
    case dtExtString:
    case dtBytes:
    case dtVarBytes:
    case dtExtVarBytes:
    case dtWideString:
    case dtExtWideString:
    case dtBCD:
    case dtFmtBCD:
    case dtWideMemo: return MYSQL_TYPE_VAR_STRING;
    case dtInt8:
    case dtBoolean: return MYSQL_TYPE_TINY;
    case dtInt16: return MYSQL_TYPE_SHORT;
    case dtInt32:
    case dtUInt16:
    case dtUInt32: return MYSQL_TYPE_LONG;
    case dtFloat: return MYSQL_TYPE_DOUBLE;
    case dtDate: return MYSQL_TYPE_DATE;
    case dtTime: return MYSQL_TYPE_TIME;
    case dtDateTime: return MYSQL_TYPE_DATETIME;
    case dtInt64: return MYSQL_TYPE_LONGLONG;
    default: InvalidType(dataType);
  }
}

TMySqlStmt::TMySqlStmt(TMySqlSession* session) : session_(session) {
  if (session_) session_->RegisterStatement(this);
}

TMySqlStmt::~TMySqlStmt() {
  try {
    CloseStatement();
  } catch (...) {
    // Nothing may leave a destructor; the server drops the statement with
    // the connection at the latest.
  }
  if (session_) session_->UnregisterStatement(this);
}

void TMySqlStmt::DetachSession() {
  session_ = nullptr;
  if (result_) result_->DetachSession();
}

TMySqlSession& TMySqlStmt::LiveSession() const {
  if (!session_) throw EMySqlException(CR_SERVER_GONE_ERROR);
  return *session_;
}

void TMySqlStmt::PrepareStatement(const uint8_t* text, size_t length) {
  TMySqlSession& session = LiveSession();
  // The statement prepared before goes first, on the server too (replacing
  // its id would leave it there until the connection ends); from here on a
  // failure leaves this statement unprepared, never holding a closed id.
  CloseStatement();
  typesSent_.clear();
  typesWereSent_ = false;
  session.SimpleCommand(COM_STMT_PREPARE, text, length, true);
  uint32_t id = 0;
  bool idKnown = false;
  try {
    session.InStep([&] {
      TMySqlNet& net = session.Net();
      net.ReceivePacket();
      net.ReadByte();
      id = net.ReadLE32();
      idKnown = true;
      int16_t columns = static_cast<int16_t>(net.ReadLE16());
      int16_t params = static_cast<int16_t>(net.ReadLE16());
      if (columns < 0 || params < 0) throw EMySqlException(CR_MALFORMED_PACKET);
      if (net.Remaining() > 0) net.ReadLengthCoded();  // extra: not used
      // Parameter definitions are read and dropped: the statement knows
      // its parameters by count only.
      if (params > 0) session.ReadStoredRows(static_cast<size_t>(params));
      TMySqlFieldInfos definitions;
      if (columns != 0) {
        if (!(session.ServerStatus() & SERVER_STATUS_AUTOCOMMIT)) session.SetServerStatus(session.ServerStatus() & 1);
        definitions = session.ReadColumns(static_cast<size_t>(columns));
      }
      statementId_ = id;
      columnCount_ = columns;
      paramCount_ = params;
      columns_ = std::move(definitions);
      if (columnCount_ != 0) result_ = NewResult(columns_);
    });
  } catch (...) {
    // The server prepared a statement we cannot use: close it once the
    // session is free (nothing to close when the session gave up its
    // connection, the server forgets it with the connection).
    if (idKnown && session.Net().Transport()) session.CloseStatementOnServer(id);
    throw;
  }
  state_ = kPrepared;
}

std::unique_ptr<TMySqlResultSet> TMySqlStmt::NewResult(TMySqlFieldInfos columns) {
  auto result = std::make_unique<TMySqlResultSet>(session_, std::move(columns), false);
  result->SetOwnedByStatement();
  return result;
}

void TMySqlStmt::ReplaceResult(TMySqlFieldInfos columns) {
  std::unique_ptr<TMySqlBinds> binds = result_ ? result_->TakeResultBinds() : nullptr;
  result_ = NewResult(std::move(columns));
  if (binds) {
    // A row object bound before the execute keeps working for the new rows.
    binds->Resize(result_->ColumnCount());
    for (size_t i = 0; i < result_->ColumnCount(); ++i) (*binds)[i].Type = result_->Columns()[i].Type;
    result_->SetResultBinds(std::move(binds));
  }
}

void TMySqlStmt::ExecuteStatement(std::span<const TMySqlParamDesc> params, bool unicode) {
  TMySqlSession& session = LiveSession();
  TMySqlNet& net = session.Net();
  if (!net.Transport()) throw EMySqlException(CR_SERVER_GONE_ERROR);
  net.Transport()->SetIoTimeout(session.ReadWriteTimeout());
  session.BeginCommand(COM_STMT_EXECUTE);
  net.WriteLE32(statementId_);
  net.WriteByte(0);   // flags: no cursor
  net.WriteLE32(1);   // iteration count
  WriteParams(params, unicode);
  session.InStep([&] { net.FlushPacket(); });  // a packet sent in part puts the server out of step
  session.ReadQueryResult();

  const bool rowsFollow = session.FieldCount() > 0 && !session.PendingColumns().empty();
  if (rowsFollow) {
    columnCount_ = session.FieldCount();
    session.SetFieldCount(0);
    columns_ = session.TakePendingColumns();
    ReplaceResult(columns_);
    // The rows are binary and belong to this statement's result.
    session.SetState(TMySqlSession::kRowsPending);
    session.SetCurrentResult(result_.get());
  }
  affectedRows_ = session.AffectedRows();
}

void TMySqlStmt::WriteParams(std::span<const TMySqlParamDesc> params, bool unicode) {
  const size_t skip = !params.empty() && params[0].ParamType == ptResult ? 1 : 0;
  if (paramCount_ == 0 || static_cast<size_t>(paramCount_) != params.size() - skip) return;
  std::span<const TMySqlParamDesc> values = params.subspan(skip);
  TMySqlNet& net = session_->Net();

  auto isNull = [](const TMySqlParamDesc& p) { return !p.Blob && (p.IsNull || !p.Value || p.Value->IsNull()); };
  std::vector<uint8_t> bitmap((values.size() + 7) / 8, 0);
  for (size_t n = 0; n < values.size(); ++n)
    if (isNull(values[n])) bitmap[n / 8] |= static_cast<uint8_t>(1u << (n % 8));
  net.WriteBytes(bitmap.data(), bitmap.size());

  // Each type as its code and a flag byte; dtUInt32 carries the unsigned
  // flag, or values above 2147483647 would arrive negative.
  std::vector<uint16_t> types(values.size());
  for (size_t n = 0; n < values.size(); ++n)
    types[n] = static_cast<uint16_t>(ParamTypeCode(values[n].DataType) |
                                     (values[n].DataType == dtUInt32 ? kUnsignedParam << 8 : 0));
  const bool newTypes = !typesWereSent_ || types != typesSent_;
  net.WriteFlag(newTypes);
  if (newTypes) {
    for (uint16_t code : types) net.WriteLE16(code);
    typesSent_ = types;
    typesWereSent_ = true;
  }
  for (const TMySqlParamDesc& p : values)
    if (!isNull(p)) WriteValue(p, p.Value ? *p.Value : Variant(), unicode);
}

void TMySqlStmt::WriteValue(const TMySqlParamDesc& param, const Variant& value, bool unicode) {
  TMySqlNet& net = session_->Net();
  int year, month, day, hour, minute, second, msec;
  switch (param.DataType) {
    case dtInt8: net.WriteByte(static_cast<uint8_t>(value.AsInt32())); return;
    case dtBoolean: net.WriteByte(value.AsBoolean() ? 1 : 0); return;
    case dtInt16: net.WriteLE16(static_cast<uint16_t>(value.AsInt32())); return;
    case dtInt32:
    case dtUInt32: net.WriteLE32(static_cast<uint32_t>(value.AsInt64())); return;
    case dtUInt16: net.WriteLE32(static_cast<uint32_t>(value.AsInt32()) & 0xFFFF); return;
    case dtInt64: net.WriteLE64(static_cast<uint64_t>(value.AsInt64())); return;
    case dtFloat: {
      double d = value.AsDouble();
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      net.WriteLE64(bits);
      return;
    }
    case dtDate:
      SplitMilliseconds(value.AsDateTime(), year, month, day, hour, minute, second, msec);
      net.WriteByte(4);
      net.WriteLE16(static_cast<uint16_t>(year));
      net.WriteByte(static_cast<uint8_t>(month));
      net.WriteByte(static_cast<uint8_t>(day));
      return;
    case dtTime:
      SplitMilliseconds(value.AsDateTime(), year, month, day, hour, minute, second, msec);
      net.WriteByte(12);
      net.WriteByte(0);   // sign
      net.WriteLE32(0);   // days
      net.WriteByte(static_cast<uint8_t>(hour));
      net.WriteByte(static_cast<uint8_t>(minute));
      net.WriteByte(static_cast<uint8_t>(second));
      net.WriteLE32(static_cast<uint32_t>(msec) * 1000);
      return;
    case dtDateTime:
      SplitMilliseconds(value.AsDateTime(), year, month, day, hour, minute, second, msec);
      net.WriteByte(11);
      net.WriteLE16(static_cast<uint16_t>(year));
      net.WriteByte(static_cast<uint8_t>(month));
      net.WriteByte(static_cast<uint8_t>(day));
      net.WriteByte(static_cast<uint8_t>(hour));
      net.WriteByte(static_cast<uint8_t>(minute));
      net.WriteByte(static_cast<uint8_t>(second));
      net.WriteLE32(static_cast<uint32_t>(msec) * 1000);
      return;
    case dtBCD:
    case dtFmtBCD: {
      std::string text = DecimalText(value);
      net.WriteLengthCoded(text.size());
      net.WriteBytes(text);
      return;
    }
    case dtString:
    case dtMemo:
    case dtWideString:
    case dtWideMemo:
    case dtBlob:
    case dtBytes:
    case dtVarBytes: break;
    default: InvalidType(param.DataType);
  }

  if (const Variant::Bytes* bytes = value.Get<Variant::Bytes>(); bytes && !param.Blob) {
    net.WriteLengthCoded(bytes->size());
    net.WriteBytes(bytes->data(), bytes->size());
    return;
  }
  if (param.Blob) {
    net.WriteLengthCoded(param.Blob->Size());
    param.Blob->ForEachPiece([&](const uint8_t* piece, size_t count) { net.WriteBytes(piece, count); });
    return;
  }
  if (IsTextType(param.DataType)) {
    std::string text;
    if (unicode)
      text = value.Type() == VarType::WideString ? Utf16ToUtf8(*value.Get<std::u16string>())
                                                 : Win1252ToUtf8(value.AsString());
    else
      text = value.AsString();
    net.WriteLengthCoded(text.size());
    net.WriteBytes(text);
    return;
  }
  // Binary types with a text value: Size bytes of it. Never more than the
  // value holds; a Size left at 0 sends the whole value rather than nothing.
  std::string bytes = value.AsString();
  size_t count = param.Size > 0 ? std::min(bytes.size(), static_cast<size_t>(param.Size)) : bytes.size();
  net.WriteLengthCoded(count);
  net.WriteBytes(reinterpret_cast<const uint8_t*>(bytes.data()), count);
}

void TMySqlStmt::BindResult() {
  if (state_ != kPrepared) throw EMySqlException(CR_NO_PREPARE_STMT);
  if (columnCount_ == 0 || !result_) throw EMySqlException(CR_UNKNOWN_ERROR);
  auto binds = std::make_unique<TMySqlBinds>(result_->ColumnCount());
  for (size_t i = 0; i < result_->ColumnCount(); ++i) (*binds)[i].Type = result_->Columns()[i].Type;
  result_->SetResultBinds(std::move(binds));
}

int32_t TMySqlStmt::Fetch(TMySqlBinds*& row) {
  row = nullptr;
  if (!result_) return MYSQL_NO_DATA;
  if (TMySqlBinds* next = result_->FetchNextRow()) {
    row = next;
    return 0;
  }
  if (session_ && session_->StoredProc() && (session_->ServerStatus() & SERVER_MORE_RESULTS_EXISTS)) {
    session_->SetStoredProc(false);
    session_->DrainFurtherResults();
  }
  return MYSQL_NO_DATA;
}

// True when the rows on the wire are this statement's.
bool TMySqlStmt::RowsPending() const {
  return session_ && result_ && session_->CurrentResult() == result_.get() &&
         session_->State() != TMySqlSession::kReady;
}

void TMySqlStmt::FreeStatementResult() {
  bool pending = RowsPending();
  result_.reset();
  if (pending) session_->DrainResult();
}

void TMySqlStmt::CloseStatement() {
  FreeStatementResult();
  // COM_STMT_CLOSE has no answer, so it can wait: while another result is
  // pending the session sends it before its next command.
  if (state_ == kPrepared && session_) session_->CloseStatementOnServer(statementId_);
  state_ = kNotPrepared;
  statementId_ = 0;
  paramCount_ = 0;
  columnCount_ = 0;
  columns_.clear();
}

}  // namespace da::mysql
