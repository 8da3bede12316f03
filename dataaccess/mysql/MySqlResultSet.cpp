#include "mysql/MySqlResultSet.h"

#include "mysql/MySqlErrors.h"
#include "mysql/MySqlSession.h"

namespace da::mysql {

TMySqlResultSet::TMySqlResultSet(TMySqlSession* session, TMySqlFieldInfos columns, bool textRows)
    : columnCount_(columns.size()), columns_(std::move(columns)), session_(session) {
  if (textRows) row_ = std::make_unique<TMySqlBinds>(columnCount_);
}

TMySqlResultSet::TMySqlResultSet(TRows rows, size_t columnCount)
    : rows_(std::move(rows)),
      stored_(true),
      rowCount_(static_cast<int32_t>(rows_.size())),
      columnCount_(columnCount),
      endReached_(rows_.empty()),
      row_(std::make_unique<TMySqlBinds>(columnCount)) {}

TMySqlResultSet::~TMySqlResultSet() {
  if (session_ && session_->CurrentResult() == this) session_->SetCurrentResult(nullptr);
}

TMySqlBinds* TMySqlResultSet::ParseRow(const uint8_t* row, size_t size) {
  rowBuffer_ = row;
  if (resultBinds_) {
    resultBinds_->ParseBinary(row, size);
    return resultBinds_.get();
  }
  if (!row_) throw EMySqlException(CR_NULL_POINTER);
  row_->ParseText(row, size);
  return row_.get();
}

TMySqlBinds* TMySqlResultSet::FetchStored() {
  const std::vector<uint8_t>& row = rows_[static_cast<size_t>(rowIndex_)];
  ++rowIndex_;
  endReached_ = rowIndex_ >= rowCount_;
  return ParseRow(row.data(), row.size());
}

TMySqlBinds* TMySqlResultSet::FetchNextRow() {
  if (endReached_) return nullptr;
  if (stored_) return FetchStored();
  if (!session_) throw EMySqlException(CR_SERVER_GONE_ERROR);

  TMySqlSession& session = *session_;
  // Only the result whose rows the session is reading may read the wire: a
  // statement's result from its prepare, or one whose execute was answered
  // by an OK, has no rows coming, and a read would wait for the next
  // command's answer.
  if (session.CurrentResult() != this || session.State() != TMySqlSession::kRowsPending) {
    endReached_ = true;
    return nullptr;
  }
  try {
    // A row that does not parse leaves the rest of the result on the wire:
    // the session then gives up its connection rather than let a later
    // command read those rows as its answer.
    return session.InStep([&]() -> TMySqlBinds* {
      TMySqlNet& net = session.Net();
      net.ReceivePacket();
      const uint8_t* packet = net.Memory();
      const size_t size = net.Size();
      if (size > 8 || size == 0 || packet[0] != 0xFE) {
        ++rowCount_;
        return ParseRow(packet, size);
      }
      session.ReadEndPacket(packet, size);
      session.SetState(TMySqlSession::kReady);
      rowBuffer_ = nullptr;
      endReached_ = true;
      return nullptr;
    });
  } catch (...) {
    // The result ends here: no later fetch waits for rows that never come.
    endReached_ = true;
    rowBuffer_ = nullptr;
    throw;
  }
}

void TMySqlResultSet::Release() {
  // Only the session's current result owns what the session still has to
  // read: a result freed after a later one was opened must not drain that.
  TMySqlSession* session = session_ && session_->CurrentResult() == this ? session_ : nullptr;
  rows_.clear();
  columns_.clear();
  columnCount_ = 0;  // what is left describes no columns: nothing binds past them
  row_.reset();
  endReached_ = true;  // a released result has no rows left to hand out
  rowBuffer_ = nullptr;
  if (session_ && !session) session_ = nullptr;
  if (!session) return;
  try {
    session->DrainResult();
  } catch (const EMySqlException&) {
  }
  session_ = nullptr;
  session->SetCurrentResult(nullptr);
}

}  // namespace da::mysql
