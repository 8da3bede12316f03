#pragma once
// The command component: a statement text (SQL) with its parameters and
// macros, run on a connection's session. A query keeps one as its internal
// command and shares the driver command of its record set with it; used on
// its own it owns its driver command.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/Component.h"
#include "common/StringList.h"
#include "components/DAMacros.h"
#include "components/DAParams.h"

namespace da {

class TCRCommand;
class TParamDesc;
class TCustomDAConnection;
class TCustomDADataSet;

using TBeforeExecuteEvent = std::function<void(TComponent* sender)>;
using TAfterExecuteEvent = std::function<void(TComponent* sender, bool result)>;

class TCustomDASQL : public TComponent {
 public:
  explicit TCustomDASQL(TComponent* owner = nullptr);
  ~TCustomDASQL() override;

  // The connection the statement runs on (weak; cleared when it goes).
  TCustomDAConnection* Connection() const { return connection_; }
  virtual void SetConnection(TCustomDAConnection* connection);

  // The statement lines. Every change runs the text-change handling
  // (macros rescanned, parameters rebuilt when ParamCheck).
  TStringList& SQL() { return sql_; }
  const TStringList& SQL() const { return sql_; }
  // Copies the lines of `lines` unless the text is the same.
  void SetSQL(const TStringList& lines);
  // Convenience: replaces the lines by `text` (split at line breaks).
  void SetSQLText(std::string_view text) { sql_.SetText(text); }

  TDAParams& Params() { return params_; }
  const TDAParams& Params() const { return params_; }
  // Copies values by name from `params` into the existing list.
  void SetParams(const TDAParams& params) { params_.AssignValues(params); }
  // The first parameter of that name (letter case ignored); raises
  // EDatabaseError "Parameter '%s' not found" / answers null.
  TDAParam& ParamNamed(std::string_view name) const { return params_.ParamNamed(name); }
  TDAParam* FindParam(std::string_view name) const { return params_.FindParam(name); }
  TDAParam* LookupParam(std::string_view name) const { return params_.FindParam(name); }

  TMacros& Macros() { return macros_; }
  const TMacros& Macros() const { return macros_; }

  bool ParamCheck() const { return paramCheck_; }
  void SetParamCheck(bool value);
  int CommandTimeout() const { return commandTimeout_; }
  void SetCommandTimeout(int value);
  bool Debug() const { return debug_; }
  void SetDebug(bool value) { debug_ = value; }
  bool AutoCommit() const { return autoCommit_; }
  void SetAutoCommit(bool value);

  // The text the driver command receives: the lines joined with CR LF,
  // trailing characters with codes up to 32 removed, macros expanded.
  std::string ExpandedSQL() const;

  // Runs the statement (a standalone command). Raises "Connection is not
  // defined" without a connection; server errors as EMyError.
  void Execute();
  // Rows affected by the last statement.
  int RowsAffected() const { return rowsAffected_; }

  TBeforeExecuteEvent BeforeExecute;
  TAfterExecuteEvent AfterExecute;

  // --- Used by the dataset and the connection.
  // The driver command (shared with the dataset's record set, or owned).
  TCRCommand* DriverCommand() const { return iCommand_; }
  // Hands the shared driver command to this command (null to forget it);
  // passes its settings and the current text.
  void SetDriverCommand(TCRCommand* command);
  // Hands every parameter to the driver command, with the values when
  // `withValues`.
  virtual void PassParamsToDriver(bool withValues);
  // Takes output values back after an execution.
  virtual void ReadBackParams();
  // The statement is prepared on the server.
  bool Prepared() const;
  // The driver command is running a statement.
  bool Executing() const;
  // The dataset this command belongs to (none for a standalone command).
  TCustomDADataSet* DataSet() const { return dataSet_; }

  // The after-execute step of a standalone command.
  void AfterExecuteStep(bool result);
  // Makes this the internal command of `dataSet` (set once, at creation).
  void SetDataSet(TCustomDADataSet* dataSet) { dataSet_ = dataSet; }

 protected:
  friend class TCustomDADataSet;
  void Notification(TComponent* component, TOperation operation) override;
  // Makes sure a driver command exists (a standalone command creates its
  // own of the connection's command class).
  virtual void CheckDriverCommand();
  // A driver command of the right class for a standalone command.
  virtual std::unique_ptr<TCRCommand> NewDriverCommand() = 0;
  void SQLTextChanged();
  // Rebuilds Params from the driver command's list, keeping values by name.
  void CreateParams();
  virtual void DescribeParam(TDAParam& param, TParamDesc& desc);
  virtual void PassParamValue(TDAParam& param, TParamDesc& desc);

  TCustomDADataSet* dataSet_ = nullptr;  // weak: the owning dataset, or none

 private:
  void PutTextToDriver();

  TCustomDAConnection* connection_ = nullptr;  // weak
  TStringList sql_;
  TDAParams params_;
  TMacros macros_;
  bool paramCheck_ = true;
  int commandTimeout_ = 0;
  bool debug_ = false;
  bool autoCommit_ = true;
  bool macrosLocked_ = false;
  bool textChanging_ = false;
  // A standalone Execute holds one use of the connection until its
  // after-execute step (or its failure) gives it back.
  bool useHeld_ = false;
  void ReleaseUse();
  int rowsAffected_ = -1;
  TCRCommand* iCommand_ = nullptr;               // shared or owned (ownedCommand_)
  std::unique_ptr<TCRCommand> ownedCommand_;     // a standalone command's own
};

}  // namespace da
