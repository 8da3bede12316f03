#pragma once
// The MySQL driver record set: executes its TMySQLCommand, describes the
// result's columns as field descriptions and reads the rows from the call
// table into records, converting each column's text into the stored form
// of its data type. With FetchAll every row is read when it opens;
// otherwise rows are read in blocks as the reader moves on, over a second
// session so that the main one stays free for other statements.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "driver/CRRecordSet.h"
#include "driver/MyFieldTypes.h"

namespace da::mysql {
class TMySQLAPI;
class TMySqlResultSet;
class TMySqlBinds;
}  // namespace da::mysql

namespace da {

class TMySQLCommand;
class TMySQLConnection;

class TMySQLFieldDesc : public TCRFieldDesc {
 public:
  // The column's MySQL type code and flags.
  uint8_t MySQLType() const { return mySQLType_; }
  void SetMySQLType(uint8_t v) { mySQLType_ = v; }
  bool IsUnsigned() const { return isUnsigned_; }
  void SetIsUnsigned(bool v) { isUnsigned_ = v; }
  bool IsPrimaryKey() const { return isPrimaryKey_; }
  void SetIsPrimaryKey(bool v) { isPrimaryKey_ = v; }
  bool IsBinary() const { return isBinary_; }
  void SetIsBinary(bool v) { isBinary_ = v; }
  bool IsTimestamp() const { return isTimestamp_; }
  void SetIsTimestamp(bool v) { isTimestamp_ = v; }
  // The column's length as the server described it (before the rules).
  uint32_t ColumnLength() const { return columnLength_; }
  void SetColumnLength(uint32_t v) { columnLength_ = v; }

 private:
  uint8_t mySQLType_ = 0;
  bool isUnsigned_ = false, isPrimaryKey_ = false, isBinary_ = false, isTimestamp_ = false;
  uint32_t columnLength_ = 0;
};

// Statement kinds of the last execution.
enum TStatementType : uint8_t { stUnknown = 0, stNoRows = 1, stRows = 2 };

class TMySQLRecordset : public TCRRecordSet {
 public:
  TMySQLRecordset();
  ~TMySQLRecordset() override;

  // The owned command, as its MySQL class.
  TMySQLCommand* GetCommand() const;
  void SetConnection(TCRConnection* connection) override;

  // --- Operations (see TCRRecordSet).
  void ExecCommand() override;
  bool IsFetched() const override;
  bool IsSelectStatement() const override;
  bool IsSelect() const override { return statementType_ == stRows; }
  // Reads the next block of FetchRows rows; answers whether it read any.
  // Raises "Query must return exactly result set - use Execute" when the
  // statement described no columns; conversion and server errors drain the
  // result, set Eof and propagate.
  bool Fetch() override;
  // Moves on, reading a further block when the records read so far are
  // exhausted.
  void StepNextRecord(uint8_t* recBuf) override;
  // True while rows are read through the second session.
  bool UsingSecondConnection() const { return second_ != nullptr; }
  // The second session's connection while it is in use (weak), else null.
  TMySQLConnection* SecondConnection() const { return second_; }

  bool SetProp(int prop, const Variant& value) override;
  bool GetProp(int prop, Variant& value) override;

  bool FieldsAsString() const { return fieldsAsString_; }
  bool NullForZeroDate() const { return nullForZeroDate_; }
  bool EnableBoolean() const { return enableBoolean_; }
  bool BinaryAsString() const { return binaryAsString_; }
  bool CreateConnection() const { return createConnection_; }
  TStatementType StatementType() const { return statementType_; }

  std::unique_ptr<TFieldDesc> CreateFieldDesc() override { return std::make_unique<TMySQLFieldDesc>(); }

 protected:
  std::unique_ptr<TCRCommand> CreateCommand() override;
  void InternalPrepare() override;
  void InternalOpen() override;
  void InternalInitFields() override;
  void InternalClose() override;

 private:
  // The connection facts that shape the mapping, read at each prepare.
  void RefreshConnectionFacts();
  TMyTypeOptions TypeOptions() const;
  // The length rules' facts for the statement just executed.
  void UpdateLengthContext();
  mysql::TMySQLAPI& Api() const;
  TMySQLConnection* MainConnection() const;
  // The connection rows are read from (the second one while it is in use).
  TMySQLConnection* ReadConnection() const;

  // How each field of a record is filled from a row: taken from the field
  // descriptions before each block is fetched, so that the rows of the
  // block read them from one small array.
  struct TReadStep {
    const TMySQLFieldDesc* field;
    int fieldNo;
    uint32_t column;  // in the row
    TDataType dataType;
    bool stored;  // a data field (its value lives in the record)
    bool trims;   // trailing blanks cut
  };
  void PlanRead();
  void ReadRow(const mysql::TMySqlBinds& row, uint8_t* record);
  void PutDate(const TMySQLFieldDesc& f, std::string_view text, uint8_t* record);
  // The result is exhausted: its error raised, freed, the next result of a
  // batch read ahead and kept.
  void EndOfResult();
  // Frees the open result (and the saved next ones with `all`), reading
  // what is left of it; never raises.
  void DrainResult(bool all);
  // The aliases of the tables after FROM of a SELECT.
  void ReadFromList();
  void SetUpSecondConnection();
  // Ends the second session: a KILL when rows remain after one more block.
  void ReleaseSecondConnection(bool closingEarly);

  bool fieldsAsString_ = false;
  bool nullForZeroDate_ = true;
  bool enableBoolean_ = true;
  bool binaryAsString_ = true;
  bool createConnection_ = true;
  bool prop1029_ = false;
  TStatementType statementType_ = stUnknown;

  // Connection facts.
  bool useUnicode_ = false;
  bool optimizedBigInt_ = false;
  bool nullForZeroDelphiDate_ = false;
  bool decimalAsBCDLimited_ = false;
  int serverMajor_ = 0, serverMinor_ = 0, serverRelease_ = 0;

  // The second session while rows are read on demand: made here (owned) or
  // supplied by the connection's OnCreateConnection (given back through
  // OnFreeConnection).
  TMySQLConnection* second_ = nullptr;
  std::unique_ptr<TMySQLConnection> ownedSecond_;
  mysql::TMySqlResultSet* savedNextResult_ = nullptr;   // owned; read ahead for OpenNext
  int64_t savedNextRowsAffected_ = 0;
  TMyLengthContext lengthContext_;  // of the statement last executed
  std::string keywordsSql_;  // the text lengthContext_'s keywords were read from
  bool keywordsRead_ = false;
  std::vector<TReadStep> readSteps_;
  size_t readColumns_ = 0;  // the columns a row must have for them
};

}  // namespace da
