#include "WireFuzzTarget.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

// A finding: the input shows a fault the sanitizers cannot see. Reported as
// a crash, the way both fuzz drivers report what they find.
[[noreturn]] void Fault(const char* what) {
  std::fprintf(stderr, "wire fuzz: %s\n", what);
  std::abort();
}

// The affected-row count of the answer to the final statement: a value no
// input produces by chance where the client reads its own answer.
constexpr uint64_t kFinalMarker = 0x5EC0DE0F1A1ULL;

// The server's side of one run: the input it sends, what it has seen of
// the client, and the answer to the final statement. It outlives the
// transport, which the session frees when it gives up its connection.
struct TServerSide {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t position = 0;
  bool outOfStep = false;    // the client reported a failure that left the stream out of step
  bool finalArmed = false;   // the next command is the final statement
  bool finalSent = false;
  bool finalInStep = false;  // the client had taken the whole input when it sent it
  bool compressed = false;
  std::vector<uint8_t> finalAnswer;
  size_t finalPosition = 0;
};

// A transport reading the fuzz input. At the end of the input a read
// answers 0 (the server has gone), so that each run ends at once. Then the
// final statement: its answer follows whatever input is left.
class TFuzzVio : public TCRVio {
 public:
  explicit TFuzzVio(TServerSide& server) : server_(server) {}
  int32_t GetIoTimeout() override { return 0; }
  void SetIoTimeout(int32_t) override {}
  void Close() override {}
  int32_t ReceiveOnce(uint8_t* buffer, int32_t offset, int32_t count) override {
    TServerSide& s = server_;
    if (s.position == s.size && s.finalSent) {
      if (s.finalPosition < s.finalAnswer.size()) {
        size_t n = std::min(static_cast<size_t>(count), s.finalAnswer.size() - s.finalPosition);
        std::memcpy(buffer + offset, s.finalAnswer.data() + s.finalPosition, n);
        s.finalPosition += n;
        return static_cast<int32_t>(n);
      }
      // A live server would say nothing more: the client would wait for ever.
      if (s.finalInStep) Fault("the final statement waits for more than its answer");
      return 0;
    }
    size_t n = std::min(static_cast<size_t>(count), s.size - s.position);
    // Serve odd-sized pieces, so that reads come in parts.
    if (n > 1 && (s.position & 3) == 1) n = (n + 1) / 2;
    if (n == 0) return 0;
    std::memcpy(buffer + offset, s.data + s.position, n);
    s.position += n;
    return static_cast<int32_t>(n);
  }
  int32_t SendOnce(const uint8_t*, int32_t, int32_t count) override {
    TServerSide& s = server_;
    // After a failure that left the stream out of step the client must not
    // speak again on it: the answer it would read is not its own.
    if (s.outOfStep) Fault("a command was sent after the stream got out of step");
    if (s.finalArmed && !s.finalSent) {
      s.finalSent = true;
      int32_t buffered = 0;
      Buffered(buffered);
      // Only when the client has taken every byte of the input is what
      // follows surely the answer to its statement.
      s.finalInStep = s.position == s.size && buffered == 0 && !s.compressed;
    }
    return count;
  }

 protected:
  void RetryPause() override {}

 private:
  TServerSide& server_;
};

// Failures after which the client cannot know where in the stream it is:
// the connection lost, a malformed packet (or a row with no row object), a
// packet too large, out of order or not decompressible.
bool LeavesStreamOutOfStep(int32_t code) {
  for (int32_t c : {2013, 2027, 2028, 2020, 1156, 1157})
    if (code == c) return true;
  return false;
}

// The OK packet answering the final statement, framed as packet 1 (and,
// on a compressed connection, as compressed packet 1, stored).
std::vector<uint8_t> FinalAnswer(bool compressed) {
  std::vector<uint8_t> ok{0, 254};
  for (int i = 0; i < 8; ++i) ok.push_back(static_cast<uint8_t>(kFinalMarker >> (8 * i)));
  ok.insert(ok.end(), {0, 2, 0, 0, 0});
  std::vector<uint8_t> packet{static_cast<uint8_t>(ok.size()), 0, 0, 1};
  packet.insert(packet.end(), ok.begin(), ok.end());
  if (!compressed) return packet;
  std::vector<uint8_t> framed{static_cast<uint8_t>(packet.size()), 0, 0, 1, 0, 0, 0};
  framed.insert(framed.end(), packet.begin(), packet.end());
  return framed;
}

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

// What a run has seen of the client's answers.
struct TRun {
  TServerSide& server;
  void Observe(int32_t code) {
    if (LeavesStreamOutOfStep(code)) server.outOfStep = true;
  }
};

void ReadResult(TMySQLAPIDirect& api, TMySqlSession* s, TMySqlResultSet* result, uint32_t& sum, int& depth,
                TRun& run) {
  if (!result) {
    run.Observe(api.mysql_errno(s));
    return;
  }
  for (int32_t i = 0; i < api.mysql_num_fields(result); ++i) {
    TMYSQL_FIELD field;
    api.GetFieldDesc(result, static_cast<uint32_t>(i), field, true);
    sum += field.length;
  }
  std::vector<int32_t> lengths;
  for (int rows = 0; rows < 100000; ++rows) {
    TMySqlBinds* row = api.mysql_fetch_row(result);
    if (!row) {
      run.Observe(api.mysql_errno(s));
      break;
    }
    ++depth;
    api.GetRowLengths(result, lengths);
    for (uint32_t c = 0; c < lengths.size(); ++c)
      if (const uint8_t* p = api.GetFieldPointer(result, row, c)) Touch(p, lengths[c], sum);
  }
  api.mysql_free_result(result);
}

void RunStatement(TMySQLAPIDirect& api, TMySqlSession* s, uint32_t& sum, int& depth, TRun& run) {
  TMySqlStmt* stmt = api.mysql_stmt_init(s);
  int32_t prepared = api.mysql_stmt_prepare(stmt, "SELECT ?, ?", 11);
  run.Observe(prepared);
  if (prepared == 0) {
    Variant a(int32_t{5}), b("text");
    TMySqlParamDesc params[2];
    params[0].DataType = dtInt32;
    params[0].Value = &a;
    params[1].DataType = dtString;
    params[1].Value = &b;
    int32_t executed = api.StmtExecute(stmt, params, false);
    run.Observe(executed);
    if (executed == 0 && api.StmtBindResult(stmt) == 0) {
      std::vector<int32_t> lengths;
      TMySqlBinds* row = nullptr;
      for (int rows = 0; rows < 100000; ++rows) {
        int32_t fetched = api.StmtFetch(stmt, row);
        run.Observe(fetched);
        if (fetched != 0) break;
        ++depth;
        api.StmtGetRowLengths(row, lengths);
        for (uint32_t c = 0; c < lengths.size(); ++c)
          if (const uint8_t* p = api.StmtGetFieldPointer(stmt, c)) Touch(p, lengths[c], sum);
      }
    }
    api.mysql_stmt_free_result(stmt);
    run.Observe(api.mysql_stmt_errno(stmt));
  }
  api.mysql_stmt_close(stmt);
}

// Ends every run: one more statement, whose answer the transport serves
// after whatever input is left. It must get its own answer or a clear error.
void RunFinalStatement(TMySQLAPIDirect& api, TMySqlSession* s, TRun& run) {
  run.server.compressed = s->Net().IsCompressed();
  run.server.finalAnswer = FinalAnswer(run.server.compressed);
  run.server.finalArmed = true;
  if (api.mysql_real_query(s, "DO 1", 4) != 0) return;  // a clear error
  if (run.server.finalInStep && api.mysql_affected_rows(s) != kFinalMarker)
    Fault("the final statement took other bytes for its answer");
  if (TMySqlResultSet* result = api.mysql_use_result(s)) api.mysql_free_result(result);
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
  TServerSide server;
  server.data = stream.data();
  server.size = stream.size();
  TRun run{server};
  factories.pipe = [&](const TTransportSettings&) { return std::make_unique<TFuzzVio>(server); };

  TMySQLAPIDirect& api = DirectApi();
  TMySqlSession* s = api.mysql_init(nullptr);
  api.mysql_options(s, MYSQL_OPT_NAMED_PIPE, nullptr);
  try {
    uint32_t flags = CLIENT_MULTI_STATEMENTS | ((mode & 2) ? CLIENT_COMPRESS : 0);
    if (api.mysql_real_connect(s, "fuzz", "user", "password", "db", 3306, "pipe", flags)) {
      ++depth;
      s->SetStoredProc((mode & 8) != 0);
      if (mode & 4) {
        RunStatement(api, s, sum, depth, run);
      } else {
        int32_t queried = api.mysql_real_query(s, "SELECT 1", 8);
        run.Observe(queried);
        if (queried == 0) {
          ++depth;
          ReadResult(api, s, api.mysql_use_result(s), sum, depth, run);
          for (int i = 0; i < 100 && api.mysql_more_results(s); ++i) {
            int32_t next = api.mysql_next_result(s);
            run.Observe(next);
            if (next != 0) break;
            ReadResult(api, s, api.mysql_use_result(s), sum, depth, run);
          }
        }
      }
      run.Observe(api.mysql_ping(s));
      RunFinalStatement(api, s, run);
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
