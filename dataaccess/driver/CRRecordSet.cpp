#include "driver/CRRecordSet.h"

#include "common/AnsiCase.h"
#include "common/DAErrors.h"
#include "driver/CRAccess.h"

namespace da {

// --- Table information ---------------------------------------------------------

TCRTableInfo* TCRTablesInfo::Find(const std::string& tableName) const {
  for (const auto& t : items_)
    if (AnsiSameText(t->TableName(), tableName)) return t.get();
  return nullptr;
}

TCRTableInfo& TCRTablesInfo::FindOrAdd(const std::string& tableName) {
  if (TCRTableInfo* t = Find(tableName)) return *t;
  items_.push_back(std::make_unique<TCRTableInfo>());
  items_.back()->SetTableName(tableName);
  return *items_.back();
}

void TCRTablesInfo::ClearTimestamps() {
  for (const auto& t : items_) {
    t->SetTimestampField(nullptr);
    t->SetMaxTimestamp(0);
  }
}

// --- TCRRecordSet ----------------------------------------------------------------

TCRRecordSet::TCRRecordSet() = default;

TCRRecordSet::~TCRRecordSet() = default;

void TCRRecordSet::SetCommand(std::unique_ptr<TCRCommand> command) {
  command_ = std::move(command);
  if (command_) command_->SetConnection(connection_);
}

void TCRRecordSet::SetConnection(TCRConnection* connection) {
  connection_ = connection;
  if (command_) command_->SetConnection(connection);
}

void TCRRecordSet::ExecFetch(bool disableInitFields) {
  ExecCommand();
  if (!disableInitFields && (!Prepared() || Fields().Empty())) InitFields();
  if (fetchAll_)
    FetchAllRows();
  else
    Fetch();
}

void TCRRecordSet::FetchAllRows() {
  while (Fetch()) {
  }
}

void TCRRecordSet::BlockAdded(TItemHeader* firstAdded) {
  // While the store opens the whole list is sorted once at the end; later
  // blocks are merged into the order.
  if (Active()) MergeSorted(firstAdded);
}

bool TCRRecordSet::DoBeforeFetch() {
  bool cancel = false;
  if (OnBeforeFetch) OnBeforeFetch(cancel);
  return !cancel;
}

void TCRRecordSet::DoAfterFetch() {
  if (OnAfterFetch) OnAfterFetch();
}

void TCRRecordSet::InternalPrepare() {
  if (command_) command_->Prepare();
}

void TCRRecordSet::InternalUnPrepare() {
  if (command_) command_->Unprepare();
}

void TCRRecordSet::InternalOpen() { ExecFetch(false); }

bool TCRRecordSet::SetProp(int prop, const Variant& value) {
  switch (prop) {
    case propUniDirectional:
      uniDirectional_ = value.AsBoolean();
      if (uniDirectional_) fetchAll_ = false;
      return true;
    case propFetchRows: {
      const int64_t rows = value.AsInt64();
      // A block counts its items in 16 bits.
      if (rows < 1 || rows > 65535) DatabaseError("FetchRows must be 1..65535", component_);
      fetchRows_ = static_cast<int>(rows);
      return true;
    }
    case propFetchAll:
      if (!fetchAllLocked_) fetchAll_ = value.AsBoolean() && !uniDirectional_;
      return true;
    case propLongStrings: longStrings_ = value.AsBoolean(); return true;
    case propFlatBuffers: flatBuffers_ = value.AsBoolean(); return true;
    case propIndexFieldNames: SetIndexFieldNames(value.AsString()); return true;
    case propCompressBlob:
      if (command_) command_->SetProp(prop, value);
      return true;
    case propReadOnly: readOnly_ = value.AsBoolean(); return true;
    case propLockFetchAll: fetchAllLocked_ = value.AsBoolean(); return true;
    case propRecordSetFlag51: prop51_ = value.AsBoolean(); return true;
    case propDefaultValues: defaultValues_ = value.AsBoolean(); return true;
    case propFieldsOrigin: fieldsOrigin_ = value.AsBoolean(); return true;
    case propRefreshOptions: return true;
    default: throw EUnknownProperty(prop);
  }
}

bool TCRRecordSet::GetProp(int prop, Variant& value) {
  switch (prop) {
    case propUniDirectional: value = uniDirectional_; return true;
    case propFetchRows: value = int32_t{fetchRows_}; return true;
    case propFetchAll: value = fetchAll_; return true;
    case propRecordCount: value = int32_t{RecordCount()}; return true;
    case propLongStrings: value = longStrings_; return true;
    case propFlatBuffers: value = flatBuffers_; return true;
    case propIndexFieldNames: value = IndexFieldNames(); return true;
    case propReadOnly: value = readOnly_; return true;
    case propLockFetchAll: value = fetchAllLocked_; return true;
    case propRecordSetFlag51: value = prop51_; return true;
    case propDefaultValues: value = defaultValues_; return true;
    case propFieldsOrigin: value = fieldsOrigin_; return true;
    default: throw EUnknownProperty(prop);
  }
}

}  // namespace da
