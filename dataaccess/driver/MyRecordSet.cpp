#include "driver/MyRecordSet.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "common/AnsiCase.h"
#include "common/CodePage.h"
#include "common/DAErrors.h"
#include "common/Format.h"
#include "common/Unaligned.h"
#include "driver/MyClasses.h"
#include "driver/MyParser.h"
#include "driver/MyRowConvert.h"
#include "mysql/MySqlApi.h"

namespace da {

using namespace mysql;

namespace {

constexpr int kTypeFieldLength = 256;

std::u16string DecodeText(std::string_view bytes, bool utf8) {
  return utf8 ? Utf8ToUtf16(bytes) : Win1252ToUtf16(bytes);
}

}  // namespace

TMySQLRecordset::TMySQLRecordset() { SetCommand(CreateCommand()); }

TMySQLRecordset::~TMySQLRecordset() {
  try {
    Close();
  } catch (...) {
    // Destruction goes on; the result was freed as far as it could be.
  }
  // Close leaves a read-ahead result of a batch for OpenNext; the
  // connection is touched only when there is one.
  if (savedNextResult_ || GetCommand()->SQLResult()) DrainResult(true);
  ReleaseSecondConnection(true);
}

std::unique_ptr<TCRCommand> TMySQLRecordset::CreateCommand() {
  auto command = std::make_unique<TMySQLCommand>();
  command->SetRequestResultset(true);
  return command;
}

TMySQLCommand* TMySQLRecordset::GetCommand() const { return static_cast<TMySQLCommand*>(command_.get()); }

void TMySQLRecordset::SetConnection(TCRConnection* connection) {
  if (connection && !dynamic_cast<TMySQLConnection*>(connection))
    throw EAssertionFailed("The MySQL record set needs a MySQL connection");
  TCRRecordSet::SetConnection(connection);
}

TMySQLConnection* TMySQLRecordset::MainConnection() const { return static_cast<TMySQLConnection*>(connection_); }

TMySQLConnection* TMySQLRecordset::ReadConnection() const { return second_ ? second_ : MainConnection(); }

TMySQLAPI& TMySQLRecordset::Api() const {
  TMySQLConnection* c = ReadConnection();
  if (!c) DatabaseError("Connection is not defined", component_);
  return c->API();
}

// --- Settings ------------------------------------------------------------------

void TMySQLRecordset::RefreshConnectionFacts() {
  TMySQLConnection* c = MainConnection();
  if (!c) return;
  useUnicode_ = c->UseUnicode();
  optimizedBigInt_ = c->OptimizedBigInt();
  nullForZeroDelphiDate_ = c->NullForZeroDelphiDate();
  decimalAsBCDLimited_ = c->DecimalAsBCDLimited();
  serverMajor_ = c->ServerMajor();
  serverMinor_ = c->ServerMinor();
  serverRelease_ = c->ServerRelease();
  SetConvertEOL(c->ConvertEOL());
}

TMyTypeOptions TMySQLRecordset::TypeOptions() const {
  TMyTypeOptions o;
  o.fieldsAsString = fieldsAsString_;
  o.enableBoolean = enableBoolean_;
  o.binaryAsString = binaryAsString_;
  o.optimizedBigInt = optimizedBigInt_;
  const TMySQLConnection* c = MainConnection();
  o.enableBCD = GetCommand()->EnableBCD() || (c && c->EnableBCD());
  o.enableFmtBCD = GetCommand()->EnableFmtBCD() || (c && c->EnableFmtBCD());
  o.decimalAsBCDLimited = decimalAsBCDLimited_;
  o.useUnicode = useUnicode_;
  return o;
}

void TMySQLRecordset::UpdateLengthContext() {
  TMyLengthContext& x = lengthContext_;
  // A statement executed again (the usual parameterised INSERT) keeps its
  // keywords: the text is read once, not at every execute.
  const std::string& sql = GetCommand()->FinalSQL();
  if (!keywordsRead_ || sql != keywordsSql_) {
    x.keywords = TMyLengthContext::KeywordsOf(sql);
    keywordsSql_ = sql;
    keywordsRead_ = true;
  }
  x.serverMajor = serverMajor_;
  x.serverMinor = serverMinor_;
  x.serverRelease = serverRelease_;
  x.useUnicode = useUnicode_;
  x.longStrings = longStrings_;
  x.flatBuffers = flatBuffers_;
}

bool TMySQLRecordset::SetProp(int prop, const Variant& value) {
  switch (prop) {
    case propFieldsAsString: fieldsAsString_ = value.AsBoolean(); return true;
    case propNullForZeroDate: nullForZeroDate_ = value.AsBoolean(); return true;
    case propEnableBoolean: enableBoolean_ = value.AsBoolean(); return true;
    case propBinaryAsString: binaryAsString_ = value.AsBoolean(); return true;
    case propCreateConnection: createConnection_ = value.AsBoolean(); return true;
    case propRecordSetFlag1029: prop1029_ = value.AsBoolean(); return true;
    case propOpenNext: GetCommand()->SetOpenNext(value.AsBoolean()); return true;
    case propCommandTimeout: return GetCommand()->SetProp(prop, value);
    default: return TCRRecordSet::SetProp(prop, value);
  }
}

bool TMySQLRecordset::GetProp(int prop, Variant& value) {
  switch (prop) {
    case propFieldsAsString: value = fieldsAsString_; return true;
    case propNullForZeroDate: value = nullForZeroDate_; return true;
    case propEnableBoolean: value = enableBoolean_; return true;
    case propBinaryAsString: value = binaryAsString_; return true;
    case propCreateConnection: value = createConnection_; return true;
    case propRecordSetFlag1029: value = prop1029_; return true;
    case propOpenNext: value = GetCommand()->OpenNext(); return true;
    case propUsesSecondConnection: value = UsingSecondConnection(); return true;
    case propCommandTimeout: return GetCommand()->GetProp(prop, value);
    default: return TCRRecordSet::GetProp(prop, value);
  }
}

// --- Opening -----------------------------------------------------------------------

void TMySQLRecordset::InternalPrepare() {
  RefreshConnectionFacts();
  TCRRecordSet::InternalPrepare();
}

void TMySQLRecordset::InternalOpen() {
  try {
    TCRRecordSet::InternalOpen();
  } catch (...) {
    DrainResult(false);
    ReleaseSecondConnection(true);
    if (GetCommand()->GetCursorState() == csExecuted) GetCommand()->SetCursorState(csIdle);
    throw;
  }
}

void TMySQLRecordset::ExecCommand() {
  TMySQLCommand* cmd = GetCommand();
  if (!MainConnection()) DatabaseError("Connection is not defined", component_);
  RefreshConnectionFacts();
  if (cmd->GetPrepared() || cmd->Stmt())
    DatabaseError("Rows of a prepared statement are not read by this record set", component_);
  try {
    if (!fetchAll_ && createConnection_ && !cmd->OpenNext()) SetUpSecondConnection();
    cmd->Execute();
    if (cmd->OpenNext() && !cmd->SQLResult() && savedNextResult_) {
      cmd->SetRowsAffectedPrev(cmd->RowsAffected());
      cmd->SetRowsAffected(savedNextRowsAffected_);
      cmd->SetSQLResult(savedNextResult_);
      savedNextResult_ = nullptr;
    }
    if (cmd->SQLResult()) {
      statementType_ = stRows;
      cmd->SetCursorState(csExecuted);
    } else {
      statementType_ = stNoRows;
      cmd->SetCursorState(csIdle);
      // Nothing to read on demand: the main session serves the next statement.
      ReleaseSecondConnection(false);
    }
  } catch (...) {
    DrainResult(true);
    ReleaseSecondConnection(true);
    throw;
  }
  UpdateLengthContext();
}

bool TMySQLRecordset::IsFetched() const {
  const TCursorState s = GetCommand()->GetCursorState();
  return s == csIdle || s == csFetched;
}

bool TMySQLRecordset::IsSelectStatement() const {
  if (statementType_ != stUnknown) return statementType_ == stRows;
  return GetCommand()->SQLResult() != nullptr || (GetCommand()->OpenNext() && savedNextResult_ != nullptr);
}

// --- Describing the columns --------------------------------------------------------

void TMySQLRecordset::InternalInitFields() {
  TMySqlResultSet* result = GetCommand()->SQLResult();
  if (!result) return;
  TMySQLAPI& api = Api();
  const TMyTypeOptions options = TypeOptions();
  const int count = api.mysql_num_fields(result);
  for (int i = 0; i < count; ++i) {
    TMYSQL_FIELD c;
    api.GetFieldDesc(result, static_cast<uint32_t>(i), c, useUnicode_);
    TDataType dt = MySqlDataType(c, options);
    int length = MySqlFieldLength(c, dt, lengthContext_);
    const size_t size = MySqlFieldSize(dt, length);

    auto owned = std::make_unique<TMySQLFieldDesc>();
    TMySQLFieldDesc& f = *owned;
    f.SetName(c.name);
    f.SetActualName(c.org_name);
    f.SetDataType(dt);
    f.SetSize(size);
    f.SetActualFieldNo(i);
    f.SetFixed(c.type == MYSQL_TYPE_STRING);
    if (dt != dtBlob && dt != dtMemo && dt != dtWideMemo) f.SetLength(length);
    if (dt == dtFloat || dt == dtBCD || dt == dtFmtBCD) f.SetScale(static_cast<int>(c.decimals));
    f.SetRequired((c.flags & NOT_NULL_FLAG) && !(c.flags & AUTO_INCREMENT_FLAG) && c.type != MYSQL_TYPE_TIMESTAMP);
    f.SetReadOnly(c.type == MYSQL_TYPE_NULL);
    f.SetIsKey((c.flags & (PRI_KEY_FLAG | UNIQUE_KEY_FLAG | MULTIPLE_KEY_FLAG | 16384)) != 0);
    f.SetAutoIncrement((c.flags & AUTO_INCREMENT_FLAG) != 0);
    f.SetMySQLType(c.type);
    f.SetIsUnsigned((c.flags & UNSIGNED_FLAG) != 0);
    f.SetIsPrimaryKey((c.flags & PRI_KEY_FLAG) != 0);
    f.SetIsBinary((c.flags & BINARY_FLAG) != 0);
    f.SetIsTimestamp((c.flags & TIMESTAMP_FLAG) != 0);
    f.SetColumnLength(c.length);
    if (!c.table.empty()) {
      // The server names the table as the statement does (its alias) and
      // gives the table's own name beside it.
      TCRTableInfo& table = tablesInfo_.FindOrAdd(c.org_table.empty() ? c.table : c.org_table);
      if (!c.org_table.empty() && c.table != c.org_table) table.SetTableAlias(c.table);
      f.SetTableInfo(&table);
      if (c.type == MYSQL_TYPE_TIMESTAMP && (!table.TimestampField() || (c.flags & TIMESTAMP_FLAG)))
        table.SetTimestampField(&f);
    }
    Fields().Add(std::move(owned));
  }

  // The "Type" column of a column listing.
  const TMyLengthContext& x = lengthContext_;
  const bool select = !x.keywords.empty() && x.keywords.front() == "SELECT";
  if (select) ReadFromList();
  if (!select && ((x.Has("SHOW") && x.Has("COLUMNS")) || x.Has("DESC"))) {
    for (int i = 0; i < Fields().Count(); ++i) {
      TFieldDesc& f = Fields()[i];
      if (f.Name() != "Type") continue;
      int length = kTypeFieldLength;
      TDataType dt = f.DataType();
      if (!longStrings_ && (dt == dtString || dt == dtExtString)) dt = dtMemo;
      f.SetDataType(dt);
      f.SetLength(dt == dtMemo ? 0 : length);
      f.SetSize(MySqlFieldSize(dt, length));
    }
  }
}

void TMySQLRecordset::ReadFromList() {
  TMyParser parser(GetCommand()->FinalSQL());
  parser.SetOmitBlank(true);
  parser.SetOmitComment(true);
  std::string lexem;
  try {
    if (!parser.ToLexem("FROM")) return;
    // name [AS] [alias] {, name [AS] [alias]} up to the next clause.
    for (;;) {
      int code = parser.GetNext(lexem);
      if (code != LexIdent) return;
      std::string name = lexem;
      if (name.size() >= 2 && parser.IsIdentQuote(static_cast<unsigned char>(name.front())))
        name = name.substr(1, name.size() - 2);
      // A qualified name (db.table) keeps its last part.
      while (true) {
        code = parser.GetNext(lexem);
        if (lexem != ".") break;
        code = parser.GetNext(lexem);
        if (code != LexIdent) return;
        name = lexem;
        if (name.size() >= 2 && parser.IsIdentQuote(static_cast<unsigned char>(name.front())))
          name = name.substr(1, name.size() - 2);
      }
      std::string alias;
      if (AnsiSameText(lexem, "AS")) code = parser.GetNext(lexem);
      if (code == LexIdent) {
        alias = lexem;
        code = parser.GetNext(lexem);
      }
      if (TCRTableInfo* table = tablesInfo_.Find(name)) table->SetTableAlias(alias);
      if (lexem != ",") return;
    }
  } catch (const EParserError&) {
    // What was read so far stands.
  }
}

// --- Fetching --------------------------------------------------------------------------

bool TMySQLRecordset::Fetch() {
  TMySQLCommand* cmd = GetCommand();
  if (Fields().Empty()) {
    DrainResult(false);
    DatabaseError("Query must return exactly result set - use Execute", component_);
  }
  const TCursorState state = cmd->GetCursorState();
  if (state == csIdle || state == csFetched || !cmd->SQLResult()) return false;
  if (state == csExecuted) cmd->SetCursorState(csFetching);
  if (!DoBeforeFetch()) return false;

  TMySQLAPI& api = Api();
  TMySqlResultSet* result = cmd->SQLResult();
  TBlockHeader* block = nullptr;
  int read = 0;
  try {
    // Forward-only reading keeps one block, refilled after its values went.
    if (uniDirectional_ && BlockManager().BlockCount() != 0)
      block = ReleaseRecordsForReuse(static_cast<size_t>(fetchRows_));
    if (!block) block = BlockManager().AllocBlock(static_cast<size_t>(fetchRows_));
    PlanRead();
    for (; read < fetchRows_; ++read) {
      TMySqlBinds* row = api.FetchRowData(result);
      if (!row) {
        EndOfResult();
        break;
      }
      ReadRow(*row, TBlockManager::RecordOf(BlockManager().ItemAt(block, static_cast<size_t>(read))));
    }
  } catch (...) {
    // The records filled so far (and the one being filled) let go of their values.
    if (block) {
      for (int i = 0; i <= read && i < fetchRows_; ++i)
        FreeComplexFields(TBlockManager::RecordOf(BlockManager().ItemAt(block, static_cast<size_t>(i))), true);
      BlockManager().FreeBlock(block);
    }
    DrainResult(false);
    SetToEnd();
    throw;
  }
  TItemHeader* last = LastItem();
  AppendBlock(block, read);
  if (read > 0) BlockAdded(last ? last->next : FirstItem());
  DoAfterFetch();
  return read > 0;
}

void TMySQLRecordset::StepNextRecord(uint8_t* recBuf) {
  if (!Eof()) {
    // At the last record read so far (or before an empty list): read on.
    const TItemHeader* next = Bof() ? FirstItem() : (CurrentItem() ? CurrentItem()->next : FirstItem());
    if (!next && !IsFetched()) Fetch();
  }
  TCRRecordSet::StepNextRecord(recBuf);
}

void TMySQLRecordset::EndOfResult() {
  TMySQLCommand* cmd = GetCommand();
  TMySQLConnection* conn = ReadConnection();
  TMySQLAPI& api = conn->API();
  TMySqlSession* handle = conn->GetHandle();
  // A result that ends with an error (a lost session, a killed query).
  if (api.mysql_errno(handle) != 0) conn->RaiseSessionError(component_);
  api.mysql_free_result(cmd->SQLResult());
  cmd->SetSQLResult(nullptr);
  cmd->SetCursorState(csFetched);
  if (!api.mysql_more_results(handle)) return;
  // Read ahead to the next result of the batch that has rows.
  for (;;) {
    const int32_t next = api.mysql_next_result(handle);
    if (next > 0) conn->RaiseSessionError(component_);
    if (next != 0) return;
    const int64_t rows = static_cast<int64_t>(api.mysql_affected_rows(handle));
    if (TMySqlResultSet* r = api.mysql_use_result(handle)) {
      if (savedNextResult_) api.mysql_free_result(savedNextResult_);
      savedNextResult_ = r;
      savedNextRowsAffected_ = rows;
      return;
    }
    conn->CheckErrno(component_);
  }
}

void TMySQLRecordset::DrainResult(bool all) {
  TMySQLCommand* cmd = GetCommand();
  TMySQLConnection* conn = ReadConnection();
  if (!conn) return;
  try {
    TMySQLAPI& api = conn->API();
    if (TMySqlResultSet* result = cmd->SQLResult()) {
      cmd->SetSQLResult(nullptr);
      try {
        if (cmd->GetCursorState() != csFetched)
          while (api.FetchRowData(result)) {
          }
      } catch (...) {
      }
      api.mysql_free_result(result);
    }
    if (all) {
      if (savedNextResult_) {
        TMySqlResultSet* r = savedNextResult_;
        savedNextResult_ = nullptr;
        try {
          while (api.FetchRowData(r)) {
          }
        } catch (...) {
        }
        api.mysql_free_result(r);
      }
      // Results of the batch not read yet.
      TMySqlSession* handle = conn->GetHandle();
      while (handle && api.mysql_more_results(handle) && api.mysql_next_result(handle) == 0) {
        if (TMySqlResultSet* r = api.mysql_use_result(handle)) {
          while (api.FetchRowData(r)) {
          }
          api.mysql_free_result(r);
        }
      }
    }
  } catch (...) {
    // Draining is cleanup: what could not be read is left to the session.
  }
  if (cmd->GetCursorState() != csIdle && cmd->GetCursorState() != csPrepared)
    cmd->SetCursorState(cmd->GetPrepared() ? csPrepared : csIdle);
}

// --- Converting a row ------------------------------------------------------------------

void TMySQLRecordset::PutDate(const TMySQLFieldDesc& f, std::string_view text, uint8_t* record) {
  TDateTime value = 0;
  bool valid;
  switch (f.MySQLType()) {
    case MYSQL_TYPE_TIME:
      value = MySqlTextToTime(text, f.Name());
      valid = true;
      break;
    case MYSQL_TYPE_TIMESTAMP:
      valid = MySqlTextToTimestamp(text, f.ColumnLength(), value);
      break;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
      valid = MySqlTextToDate(text, value);
      break;
    default:
      valid = MySqlTextToDateTime(text, value);
      break;
  }
  uint8_t& nullFlag = record[DataSize() + static_cast<size_t>(f.FieldNo()) - 1];
  if (!valid) {
    // MySQL's zero dates.
    if (nullForZeroDate_) {
      nullFlag = 1;
      return;
    }
    value = MySqlZeroDate();
  } else if (value == 0 && nullForZeroDelphiDate_) {
    nullFlag = 1;
    return;
  }
  StoreUnaligned<double>(record + f.Offset(), value);
  nullFlag = 0;
  if (TCRTableInfo* table = f.TableInfo(); table && table->TimestampField() == &f && value > table->MaxTimestamp())
    table->SetMaxTimestamp(value);
}

void TMySQLRecordset::PlanRead() {
  const int count = FieldCount();
  readSteps_.clear();
  readSteps_.reserve(static_cast<size_t>(count));
  readColumns_ = 0;
  for (int i = 0; i < count; ++i) {
    const auto& f = static_cast<const TMySQLFieldDesc&>(Fields()[i]);
    TReadStep step{&f, i + 1, 0, f.DataType(), f.IsDataField(), TrimsBlanks(f)};
    if (step.stored) {
      step.column = static_cast<uint32_t>(f.ActualFieldNo());
      readColumns_ = std::max(readColumns_, size_t{step.column} + 1);
    }
    readSteps_.push_back(step);
  }
}

void TMySQLRecordset::ReadRow(const TMySqlBinds& row, uint8_t* record) {
  if (row.Count() < readColumns_) throw EAssertionFailed("Column index out of range");
  const size_t dataSize = DataSize();
  for (const TReadStep& step : readSteps_) {
    const TMySQLFieldDesc& f = *step.field;
    const int fieldNo = step.fieldNo;
    uint8_t& nullFlag = record[dataSize + static_cast<size_t>(fieldNo) - 1];
    if (!step.stored) {
      nullFlag = 1;
      continue;
    }
    const TDataType dt = step.dataType;
    const uint8_t* p;
    size_t len;
    if (!row.FieldBytes(step.column, p, len)) {
      // A null blob still has its (empty) object.
      if (f.IsBlob()) CreateBlob(fieldNo, record);
      nullFlag = 1;
      continue;
    }
    const std::string_view text(reinterpret_cast<const char*>(p), len);
    uint8_t* dst = record + f.Offset();
    nullFlag = 0;
    switch (dt) {
      case dtString:
      case dtBytes: {
        // Never more than the record holds, whatever the column sends.
        const size_t room = f.Size() - 1;
        const size_t n = len < room ? len : room;
        if (n) std::memcpy(dst, p, n);
        dst[n] = 0;
        break;
      }
      case dtExtString:
        PutExtString(fieldNo, record, text, step.trims);
        break;
      case dtWideString: {
        const std::u16string wide = DecodeText(text, useUnicode_);
        const size_t room = (f.Size() - 2) / 2;
        const size_t n = wide.size() < room ? wide.size() : room;
        std::memcpy(dst, wide.data(), n * 2);
        dst[n * 2] = dst[n * 2 + 1] = 0;
        break;
      }
      case dtExtWideString:
        PutExtWideString(fieldNo, record, DecodeText(text, useUnicode_), step.trims);
        break;
      case dtVarBytes: {
        const size_t room = f.Size() - 2;
        const size_t n = len < room ? len : room;
        StoreUnaligned<uint16_t>(dst, static_cast<uint16_t>(n));
        if (n) std::memcpy(dst + 2, p, n);
        break;
      }
      case dtExtVarBytes:
        PutExtVarBytes(fieldNo, record, p, static_cast<uint16_t>(len < 65535 ? len : 65535));
        break;
      case dtInt8:
      case dtInt16:
      case dtUInt16:
      case dtInt32:
      case dtUInt32:
      case dtInt64:
      case dtBoolean: {
        const int64_t v = f.MySQLType() == MYSQL_TYPE_BIT ? static_cast<int64_t>(MySqlBitToUInt64(text))
                                                         : MySqlTextToInt64(text);
        if (dt == dtBoolean)
          StoreUnaligned<int16_t>(dst, v != 0 ? -1 : 0);
        else if (f.Size() == 2)
          StoreUnaligned<int16_t>(dst, static_cast<int16_t>(v));
        else if (f.Size() == 4)
          StoreUnaligned<int32_t>(dst, static_cast<int32_t>(v));
        else
          StoreUnaligned<int64_t>(dst, v);
        break;
      }
      case dtFloat:
        StoreUnaligned<double>(dst, MySqlTextToFloat(text));
        break;
      case dtBCD:
        PutBCDText(fieldNo, record, text);
        break;
      case dtFmtBCD:
        PutFmtBCDText(fieldNo, record, text);
        break;
      case dtBlob:
      case dtMemo:
      case dtWideMemo: {
        TBlob& blob = CreateBlob(fieldNo, record);
        if (dt == dtWideMemo) {
          const std::u16string wide = DecodeText(text, useUnicode_);
          blob.Write(0, wide.size() * 2, wide.data());
        } else if (len) {
          blob.Write(0, len, p);
        }
        break;
      }
      case dtDate:
      case dtTime:
      case dtDateTime:
        PutDate(f, text, record);
        break;
      default:
        nullFlag = 1;
        break;
    }
  }
}

// --- The second session --------------------------------------------------------------

void TMySQLRecordset::SetUpSecondConnection() {
  ReleaseSecondConnection(true);
  TMySQLConnection* main = MainConnection();
  if (!main || !main->Connected()) return;  // Execute reports the closed connection
  TMySQLAPI& api = main->API();
  api.ApplyCommandTimeout(main->GetHandle(), GetCommand()->CommandTimeout());
  main->CheckResult(api.mysql_ping(main->GetHandle()), component_);

  TMySQLConnection* second = nullptr;
  if (main->OnCreateConnection) second = dynamic_cast<TMySQLConnection*>(main->OnCreateConnection());
  std::unique_ptr<TMySQLConnection> owned;
  if (!second) {
    owned = std::make_unique<TMySQLConnection>();
    owned->TakeSettingsFrom(*main);
    owned->SetComponent(main->Component());
    second = owned.get();
  }
  second->SetIsSecondSession(true);
  try {
    second->Connect();
    TCRTransaction* mainTransaction = main->GetInternalTransaction();
    if (mainTransaction && mainTransaction->GetInTransaction()) second->GetInternalTransaction()->StartTransaction();
  } catch (...) {
    if (owned) {
      try {
        owned->Disconnect();
      } catch (...) {
      }
    } else if (main->OnFreeConnection) {
      second->SetIsValid(false);
      main->OnFreeConnection(second);
    }
    throw;
  }
  second_ = second;
  ownedSecond_ = std::move(owned);
  GetCommand()->SetConnection(second_);
}

void TMySQLRecordset::ReleaseSecondConnection(bool closingEarly) {
  if (!second_) return;
  TMySQLConnection* second = second_;
  TMySQLConnection* main = MainConnection();
  TMySQLCommand* cmd = GetCommand();
  bool killed = false;
  if (closingEarly && cmd->SQLResult() && cmd->GetCursorState() != csFetched) {
    TMySQLAPI& api = second->API();
    TMySqlResultSet* result = cmd->SQLResult();
    int read = 0;
    bool ended = false;
    try {
      for (; read < fetchRows_; ++read)
        if (!api.FetchRowData(result)) {
          ended = true;
          break;
        }
    } catch (...) {
      ended = true;
    }
    if (!ended && main && main->Connected()) {
      // Rows remain: stop the server sending them rather than read them all.
      const std::string kill = "KILL " + std::to_string(api.mysql_thread_id(second->GetHandle()));
      try {
        main->API().mysql_real_query(main->GetHandle(), kill.data(), static_cast<uint32_t>(kill.size()));
      } catch (...) {
      }
      killed = true;
    }
    try {
      while (!ended && api.FetchRowData(result)) {
      }
    } catch (...) {
    }
    cmd->SetSQLResult(nullptr);
    api.mysql_free_result(result);
    cmd->SetCursorState(csFetched);
  }
  if (savedNextResult_ && !closingEarly) {
    // A further result of the batch lives on the second session.
  } else if (savedNextResult_) {
    second->API().mysql_free_result(savedNextResult_);
    savedNextResult_ = nullptr;
  }
  if (!killed) {
    try {
      TCRTransaction* t = second->GetInternalTransaction();
      if (t && t->GetInTransaction()) t->Commit();
    } catch (...) {
    }
  }
  second_ = nullptr;
  cmd->SetConnection(main);
  if (ownedSecond_) {
    try {
      ownedSecond_->Disconnect();
    } catch (...) {
    }
    ownedSecond_.reset();
  } else if (main && main->OnFreeConnection) {
    second->SetIsValid(!killed);
    main->OnFreeConnection(second);
  }
}

void TMySQLRecordset::InternalClose() {
  ReleaseSecondConnection(true);
  DrainResult(fetchAll_);
  if (!Prepared()) statementType_ = stUnknown;
  tablesInfo_.ClearTimestamps();
}

}  // namespace da
