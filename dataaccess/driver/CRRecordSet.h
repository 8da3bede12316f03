#pragma once
// The database-neutral driver record set: a record store (TMemData) that
// fills itself from a driver command's result, in blocks of FetchRows
// records, and the table information of its result. TMySQLRecordset
// (MyRecordSet.h) is the implementation this system uses.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/Variant.h"
#include "driver/MemData.h"

namespace da {

class TComponent;
class TCRCommand;
class TCRConnection;
class TCRTransaction;

// One table of a result: its name, its alias in the statement and the
// timestamp field with the largest value read so far.
class TCRTableInfo {
 public:
  TCRTableInfo() = default;
  virtual ~TCRTableInfo() = default;
  TCRTableInfo(const TCRTableInfo&) = delete;
  TCRTableInfo& operator=(const TCRTableInfo&) = delete;

  const std::string& TableName() const { return tableName_; }
  void SetTableName(const std::string& v) { tableName_ = v; }
  const std::string& TableAlias() const { return tableAlias_; }
  void SetTableAlias(const std::string& v) { tableAlias_ = v; }
  bool IsView() const { return isView_; }
  void SetIsView(bool v) { isView_ = v; }
  // The table's timestamp field (weak: one of the store's descriptions).
  TFieldDesc* TimestampField() const { return timestampField_; }
  void SetTimestampField(TFieldDesc* v) { timestampField_ = v; }
  // The largest value read from the timestamp field; 0 when none was read.
  double MaxTimestamp() const { return maxTimestamp_; }
  void SetMaxTimestamp(double v) { maxTimestamp_ = v; }

 private:
  std::string tableName_, tableAlias_;
  bool isView_ = false;
  TFieldDesc* timestampField_ = nullptr;
  double maxTimestamp_ = 0;
};

// The owned list of table entries, found by name without regard to case.
class TCRTablesInfo {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TCRTableInfo& operator[](int index) const { return *items_.at(static_cast<size_t>(index)); }
  TCRTableInfo* Find(const std::string& tableName) const;
  // The entry of `tableName`, added when there is none.
  TCRTableInfo& FindOrAdd(const std::string& tableName);
  void Clear() { items_.clear(); }
  // Forgets the timestamp fields and the values read from them.
  void ClearTimestamps();

 private:
  std::vector<std::unique_ptr<TCRTableInfo>> items_;
};

// A field description of a driver record set.
class TCRFieldDesc : public TFieldDesc {};

class TCRRecordSet : public TMemData {
 public:
  TCRRecordSet();
  ~TCRRecordSet() override;

  // --- The command and the connection it runs on.
  // The command this record set owns (created with the record set).
  TCRCommand* GetCommand() const { return command_.get(); }
  // Replaces the owned command.
  virtual void SetCommand(std::unique_ptr<TCRCommand> command);
  // The connection the command runs on (weak; null for none).
  virtual void SetConnection(TCRConnection* connection);
  TCRConnection* GetConnection() const { return connection_; }
  virtual void SetTransaction(TCRTransaction* transaction) { transaction_ = transaction; }
  TCRTransaction* GetTransaction() const { return transaction_; }
  // The owning component, handed to every error raised (weak).
  TComponent* Component() const { return component_; }
  virtual void SetComponent(TComponent* component) { component_ = component; }

  // --- Operations. Open/Close/Prepare/UnPrepare come from the store.
  // Executes the command and reads the first block (every row with
  // FetchAll); the descriptions are built unless `disableInitFields`.
  virtual void ExecFetch(bool disableInitFields);
  // Executes the command for a statement that is not opened.
  virtual void ExecCommand() = 0;
  // Reads blocks until the result is exhausted.
  virtual void FetchAllRows();
  // Stops a fetch in progress (nothing when none runs).
  virtual void BreakFetch() {}
  // Every row has been read, or nothing is open.
  virtual bool IsFetched() const = 0;
  // Whether the statement returns rows (the query's ReturnsRows).
  virtual bool IsSelectStatement() const = 0;
  // The last execution returned rows.
  virtual bool IsSelect() const = 0;

  // --- Settings by number. True when the number is known; an unknown
  // number raises EAssertionFailed with the number as text.
  virtual bool SetProp(int prop, const Variant& value);
  virtual bool GetProp(int prop, Variant& value);

  bool FetchAll() const { return fetchAll_; }
  int FetchRows() const { return fetchRows_; }
  bool UniDirectional() const { return uniDirectional_; }
  bool LongStrings() const { return longStrings_; }
  bool FlatBuffers() const { return flatBuffers_; }

  TCRTablesInfo& TablesInfo() { return tablesInfo_; }

  bool ReleasesRecordsWhileOpen() const override { return uniDirectional_; }

  // --- Callbacks of the owning component.
  // Asked before each block; setting `cancel` skips the fetch.
  std::function<void(bool& cancel)> OnBeforeFetch;
  // Told after each block.
  std::function<void()> OnAfterFetch;

  std::unique_ptr<TFieldDesc> CreateFieldDesc() override { return std::make_unique<TCRFieldDesc>(); }

 protected:
  virtual std::unique_ptr<TCRCommand> CreateCommand() = 0;
  // Keeps the sort order up to date after a block of records was added.
  virtual void BlockAdded(TItemHeader* firstAdded);
  // Answers false when the before-fetch callback cancels.
  virtual bool DoBeforeFetch();
  virtual void DoAfterFetch();

  void InternalPrepare() override;
  void InternalUnPrepare() override;
  void InternalOpen() override;

  std::unique_ptr<TCRCommand> command_;
  TCRConnection* connection_ = nullptr;    // weak
  TCRTransaction* transaction_ = nullptr;  // weak
  TComponent* component_ = nullptr;        // weak

  bool fetchAll_ = false;
  int fetchRows_ = 25;
  bool uniDirectional_ = false;
  bool longStrings_ = true;
  bool flatBuffers_ = true;
  bool fetchAllLocked_ = false;  // property 47
  bool prop51_ = false;
  bool defaultValues_ = false;
  bool fieldsOrigin_ = false;
  bool readOnly_ = false;

  TCRTablesInfo tablesInfo_;
};

}  // namespace da
