#include "WireFuzzTarget.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "common/Exception.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlBind.h"
#include "mysql/MySqlErrors.h"
#include "mysql/MySqlSession.h"

namespace {

using namespace da;
using namespace da::mysql;

// A transport reading the fuzz input. It never pauses when the input is
// exhausted, so that each run ends at once.
class TFuzzVio : public TCRVio {
 public:
  TFuzzVio(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int32_t GetIoTimeout() override { return 0; }
  void SetIoTimeout(int32_t) override {}
  void Close() override {}
  int32_t ReceiveOnce(uint8_t* buffer, int32_t offset, int32_t count) override {
    size_t n = std::min(static_cast<size_t>(count), size_ - position_);
    // Serve odd-sized pieces, so that reads come in parts.
    if (n > 1 && (position_ & 3) == 1) n = (n + 1) / 2;
    if (n == 0) return 0;
    std::memcpy(buffer + offset, data_ + position_, n);
    position_ += n;
    return static_cast<int32_t>(n);
  }
  int32_t SendOnce(const uint8_t*, int32_t, int32_t count) override { return count; }

 protected:
  void RetryPause() override {}

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// The handshake prepended by mode bit 0: a 4.1 greeting (with compression
// offered) and the OK packet of the login.
std::vector<uint8_t> ValidHandshake() {
  std::vector<uint8_t> g{10};
  const char* version = "5.0.95";
  g.insert(g.end(), version, version + std::strlen(version) + 1);
  g.insert(g.end(), {1, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0});
  uint16_t caps = 0x1 | 0x4 | 0x8 | 0x20 | 0x200 | 0x2000 | 0x8000;
  g.push_back(static_cast<uint8_t>(caps));
  g.push_back(static_cast<uint8_t>(caps >> 8));
  g.insert(g.end(), {8, 2, 0});
  g.insert(g.end(), 13, 0);
  g.insert(g.end(), {'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 0});
  std::vector<uint8_t> out{static_cast<uint8_t>(g.size()), 0, 0, 0};
  out.insert(out.end(), g.begin(), g.end());
  out.insert(out.end(), {7, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0});
  return out;
}

void Touch(const uint8_t* p, int32_t n, uint32_t& sum) {
  for (int32_t i = 0; i < n; ++i) sum += p[i];
}

void ReadResult(TMySQLAPIDirect& api, TMySqlResultSet* result, uint32_t& sum, int& depth) {
  if (!result) return;
  for (int32_t i = 0; i < api.mysql_num_fields(result); ++i) {
    TMYSQL_FIELD field;
    api.GetFieldDesc(result, static_cast<uint32_t>(i), field, true);
    sum += field.length;
  }
  std::vector<int32_t> lengths;
  for (int rows = 0; rows < 100000; ++rows) {
    TMySqlBinds* row = api.mysql_fetch_row(result);
    if (!row) break;
    ++depth;
    api.GetRowLengths(result, lengths);
    for (uint32_t c = 0; c < lengths.size(); ++c)
      if (const uint8_t* p = api.GetFieldPointer(result, row, c)) Touch(p, lengths[c], sum);
  }
  api.mysql_free_result(result);
}

void RunStatement(TMySQLAPIDirect& api, TMySqlSession* s, uint32_t& sum, int& depth) {
  TMySqlStmt* stmt = api.mysql_stmt_init(s);
  if (api.mysql_stmt_prepare(stmt, "SELECT ?, ?", 11) == 0) {
    Variant a(int32_t{5}), b("text");
    TMySqlParamDesc params[2];
    params[0].DataType = dtInt32;
    params[0].Value = &a;
    params[1].DataType = dtString;
    params[1].Value = &b;
    if (api.StmtExecute(stmt, params, false) == 0 && api.StmtBindResult(stmt) == 0) {
      std::vector<int32_t> lengths;
      TMySqlBinds* row = nullptr;
      for (int rows = 0; rows < 100000 && api.StmtFetch(stmt, row) == 0; ++rows) {
        ++depth;
        api.StmtGetRowLengths(row, lengths);
        for (uint32_t c = 0; c < lengths.size(); ++c)
          if (const uint8_t* p = api.StmtGetFieldPointer(stmt, c)) Touch(p, lengths[c], sum);
      }
    }
    api.mysql_stmt_free_result(stmt);
  }
  api.mysql_stmt_close(stmt);
}

// The row parsers on the raw bytes, with the types taken from the input.
void ParseRows(const uint8_t* data, size_t size, uint32_t& sum) {
  size_t columns = size > 0 ? data[0] % 12 : 0;
  TMySqlBinds binds(columns);
  try {
    binds.ParseText(data, size);
    for (size_t i = 0; i < columns; ++i) Touch(data + binds[i].Offset, binds[i].Length, sum);
  } catch (const EMySqlException&) {
  }
  for (size_t i = 0; i < columns; ++i) binds[i].Type = size > i + 1 ? data[i + 1] : 0;
  try {
    binds.ParseBinary(data, size);
    for (size_t i = 0; i < columns; ++i) Touch(data + binds[i].Offset, binds[i].Length, sum);
  } catch (const EMySqlException&) {
  }
}

}  // namespace

int RunWireInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  std::vector<uint8_t> stream;
  if (mode & 1) stream = ValidHandshake();
  stream.insert(stream.end(), data + 1, data + size);

  uint32_t sum = 0;
  int depth = 0;
  ParseRows(data + 1, size - 1, sum);

  TTransportFactories& factories = TransportFactories();
  TTransportFactories saved = factories;
  factories.pipe = [&](const TTransportSettings&) { return std::make_unique<TFuzzVio>(stream.data(), stream.size()); };

  TMySQLAPIDirect& api = DirectApi();
  TMySqlSession* s = api.mysql_init(nullptr);
  api.mysql_options(s, MYSQL_OPT_NAMED_PIPE, nullptr);
  try {
    uint32_t flags = CLIENT_MULTI_STATEMENTS | ((mode & 2) ? CLIENT_COMPRESS : 0);
    if (api.mysql_real_connect(s, "fuzz", "user", "password", "db", 3306, "pipe", flags)) {
      ++depth;
      s->SetStoredProc((mode & 8) != 0);
      if (mode & 4) {
        RunStatement(api, s, sum, depth);
      } else if (api.mysql_real_query(s, "SELECT 1", 8) == 0) {
        ++depth;
        ReadResult(api, api.mysql_use_result(s), sum, depth);
        for (int i = 0; i < 100 && api.mysql_more_results(s) && api.mysql_next_result(s) == 0; ++i)
          ReadResult(api, api.mysql_use_result(s), sum, depth);
      }
      api.mysql_ping(s);
    }
  } catch (const Exception&) {
    // Errors that are not wire errors (a file the server named that cannot
    // be opened) pass through the call table by design.
  }
  api.mysql_close(s);
  factories = saved;
  (void)sum;
  return depth;
}
