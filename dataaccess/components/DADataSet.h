#pragma once
// The query components' database-neutral layer: a dataset over a driver
// record set, with a connection, an internal command that holds the
// statement (SQL, Params, Macros), opening and executing through the
// driver, the connection's use counted around each statement, and the
// repetition of an operation after a reconnect. The MySQL layers are in
// MyAccess.h.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "components/DASQL.h"
#include "driver/MemDS.h"

namespace da {

class TCRRecordSet;
class TCRConnection;
class TCRCommand;
class TCustomDAConnection;

class TCustomDADataSet;
using TBeforeFetchEvent = std::function<void(TCustomDADataSet& dataSet, bool& cancel)>;
using TAfterFetchEvent = std::function<void(TCustomDADataSet& dataSet)>;

class TCustomDADataSet : public TMemDataSet {
 public:
  explicit TCustomDADataSet(TComponent* owner = nullptr);
  ~TCustomDADataSet() override;

  // --- Connection (weak; cleared when the connection goes). Assigning
  // another one closes the query first.
  TCustomDAConnection* Connection() const { return connection_; }
  void SetConnection(TCustomDAConnection* connection);

  // --- The statement (kept by the internal command).
  TStringList& SQL() { return command_->SQL(); }
  const TStringList& SQL() const { return command_->SQL(); }
  void SetSQL(const TStringList& lines) { command_->SetSQL(lines); }
  void SetSQLText(std::string_view text) { command_->SetSQLText(text); }
  TDAParams& Params() { return command_->Params(); }
  const TDAParams& Params() const { return command_->Params(); }
  void SetParams(const TDAParams& params) { command_->SetParams(params); }
  // Raises EDatabaseError "Parameter '%s' not found" (no name in front).
  TDAParam& ParamNamed(std::string_view name) const { return command_->ParamNamed(name); }
  TDAParam* FindParam(std::string_view name) const { return command_->FindParam(name); }
  TDAParam* LookupParam(std::string_view name) const { return command_->FindParam(name); }
  TMacros& Macros() { return command_->Macros(); }
  bool ParamCheck() const { return command_->ParamCheck(); }
  void SetParamCheck(bool value) { command_->SetParamCheck(value); }
  // The text the driver command receives (see TCustomDASQL::ExpandedSQL).
  std::string ExpandedSQL() const { return command_->ExpandedSQL(); }
  // The internal command (owned).
  TCustomDASQL& Command() const { return *command_; }

  // --- Running. Open runs a statement that returns rows (connecting
  // first when needed; the connection stays open) and makes the first row
  // current; it fails with "Query must return exactly result set - use
  // Execute" for a statement without rows, with "No SQL statement
  // provided" without text and "Connection is not defined" without a
  // connection. Execute runs any statement; one that returns rows leaves
  // the query open on them. After a failure the query is closed.
  void Open();
  void Close();
  void SetActive(bool value);
  virtual void Execute();
  // The statement returns rows (as the driver record set knows it).
  bool ReturnsRows() const;

  // Rows affected by the last statement (-1 after opening a SELECT and at
  // creation).
  int32_t AffectedRows() const { return affectedRows_; }
  // The session's last insert id, read after a statement without rows.
  int64_t InsertId() const { return insertId_; }

  // --- Settings passed to the driver record set.
  int FetchRows() const { return fetchRows_; }
  // Must be closed ("Cannot perform this operation on an open dataset");
  // 1 to 65535, else "FetchRows must be 1..65535".
  void SetFetchRows(int value);
  bool FetchAll() const { return fetchAll_; }
  void SetFetchAll(bool value);
  bool UniDirectional() const { return uniDirectional_; }
  void SetUniDirectional(bool value);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);
  int CommandTimeout() const { return command_->CommandTimeout(); }
  void SetCommandTimeout(int value) { command_->SetCommandTimeout(value); }
  bool Debug() const { return command_->Debug(); }
  void SetDebug(bool value) { command_->SetDebug(value); }
  bool AutoCommit() const { return autoCommit_; }
  void SetAutoCommit(bool value);

  // --- Events.
  TBeforeExecuteEvent BeforeExecute;
  TAfterExecuteEvent AfterExecute;
  TBeforeFetchEvent BeforeFetch;
  TAfterFetchEvent AfterFetch;

  // --- Used by the connection.
  // The driver record set (owned; null before the first use).
  TCRRecordSet* DriverRecordSet() const { return iRecordSet_.get(); }
  // The connection's connect-change callback: a closing connection closes
  // the query (except in DisconnectedMode).
  void ConnectionStateChanged(bool connecting);
  // Prepared on the server (never in this system's use).
  bool Prepared() const;
  // Rows remain to be read from the server.
  bool IsFetchingRows() const;
  // Points the driver record set at `connection`'s driver connection.
  void AttachDriverConnection(TCRConnection* connection);

  // Takes a use of the connection (EnterUse when `counted`, else only a
  // connect) and makes sure the driver objects exist.
  void AcquireConnection(bool counted = true);
  void ReleaseConnection();

 protected:
  void Notification(TComponent* component, TOperation operation) override;
  // The store's open: runs the statement through the driver record set.
  void OpenCursor() override;
  void CloseCursor() override;
  void CheckDataSet() override;
  // A new driver record set of the connection's class.
  virtual std::unique_ptr<TCRRecordSet> NewDriverRecordSet() = 0;
  // Passes the dataset's settings to a new record set (the MySQL layer
  // adds its own).
  virtual void SetRecordSetProps(TCRRecordSet& recordSet);
  void CreateDriverRecordSet();
  // The after-execute step the driver command calls.
  virtual void DoAfterExecute(bool result);
  // What the internal command reports about a text change.
  void SQLTextChanged();
  // The driver's last insert id (the MySQL layer reads it).
  virtual int64_t ReadInsertId() const { return 0; }

  std::unique_ptr<TCustomDASQL> command_;  // the internal command

 private:
  friend class TCustomDASQL;
  void InternalExecute();
  void SetRecordSetProp(int prop, const Variant& value);
  void DoBeforeFetch(bool& cancel);
  void DoAfterFetch();

  TCustomDAConnection* connection_ = nullptr;  // weak
  std::unique_ptr<TCRRecordSet> iRecordSet_;
  int fetchRows_ = 25;
  bool fetchAll_ = true;
  bool uniDirectional_ = false;
  bool readOnly_ = false;
  bool autoCommit_ = true;
  int32_t affectedRows_ = -1;
  int64_t insertId_ = 0;
  // The uses of the connection this dataset holds beyond a single call:
  // Open keeps its use until every row is read; Execute gives its use back
  // in the after-execute step (or when it fails before that).
  bool fetchUseHeld_ = false;
  bool executeUseHeld_ = false;
};

}  // namespace da
