// Our side: the call table the driver uses, in the way the driver uses it
// (mysql_use_result, then mysql_fetch_row and the row-access routines).
#include <stdexcept>
#include <vector>

#include "BenchClient.h"
#include "mysql/MyCall.h"
#include "mysql/MySqlApiDirect.h"
#include "transports/CRVioHttp.h"

namespace bench {
namespace {

using namespace da::mysql;

class OurClient : public BenchClient {
 public:
  ~OurClient() override { Close(); }
  const char* Name() const override { return "ours"; }

  void Connect(const ServerAddress& s, bool compress) override {
    session_ = api_.mysql_init(nullptr);
    if (!api_.mysql_real_connect(session_, s.host, s.user, s.password, s.database, static_cast<uint32_t>(s.port),
                                 "", compress ? CLIENT_COMPRESS : 0))
      Fail();
  }

  void ConnectVia(const ServerAddress& s, Via via) override {
    session_ = api_.mysql_init(nullptr);
    if (via == Via::kSsl) {
      api_.mysql_ssl_set(session_, "", "", s.sslCa, "", "");
      if (!api_.mysql_real_connect(session_, s.host, s.user, s.password, s.database, static_cast<uint32_t>(s.port),
                                   "", 0))
        Fail();
    } else {
      int32_t pipe = mpPipe;
      api_.mysql_options(session_, MYSQL_OPT_PROTOCOL, &pipe);
      if (!api_.mysql_real_connect(session_, "localhost", s.user, s.password, s.database, 0, s.socket, 0)) Fail();
    }
  }

  bool ConnectTunnel(const ServerAddress& s, const std::string& url) override {
    http_.SetUrl(url);
    session_ = api_.mysql_init(nullptr);
    AttachHttpOptions(session_, &http_);
    if (!api_.mysql_real_connect(session_, s.host, s.user, s.password, s.database, static_cast<uint32_t>(s.port), "",
                                 0))
      Fail();
    return true;
  }

  std::string Scalar(const std::string& sql) override {
    if (api_.mysql_real_query(session_, sql.data(), static_cast<uint32_t>(sql.size())) != 0) Fail();
    TMySqlResultSet* result = api_.mysql_use_result(session_);
    if (!result) Fail();
    std::string value;
    if (TMySqlBinds* row = api_.mysql_fetch_row(result)) value = api_.GetFieldText(row, 0);
    while (api_.mysql_fetch_row(result)) {
    }
    api_.mysql_free_result(result);
    return value;
  }

  void Execute(const std::string& sql) override {
    if (api_.mysql_real_query(session_, sql.data(), static_cast<uint32_t>(sql.size())) != 0) Fail();
    if (api_.mysql_field_count(session_) > 0) {
      TMySqlResultSet* r = api_.mysql_use_result(session_);
      if (!r) Fail();
      while (api_.mysql_fetch_row(r)) {
      }
      api_.mysql_free_result(r);
    }
  }

  uint64_t ReadRows(const std::string& sql, uint64_t& rows) override {
    if (api_.mysql_real_query(session_, sql.data(), static_cast<uint32_t>(sql.size())) != 0) Fail();
    TMySqlResultSet* result = api_.mysql_use_result(session_);
    if (!result) Fail();
    uint32_t columns = static_cast<uint32_t>(api_.mysql_num_fields(result));
    uint64_t sum = 0;
    rows = 0;
    while (TMySqlBinds* row = api_.mysql_fetch_row(result)) {
      api_.GetRowLengths(result, lengths_);
      for (uint32_t c = 0; c < columns; ++c)
        if (const uint8_t* p = api_.GetFieldPointer(result, row, c))
          sum += TouchBytes(reinterpret_cast<const char*>(p), static_cast<unsigned long>(lengths_[c]));
      ++rows;
    }
    bool failed = api_.mysql_errno(session_) != 0;
    api_.mysql_free_result(result);
    if (failed) Fail();
    return sum;
  }

  void Close() override {
    if (session_) api_.mysql_close(session_);
    session_ = nullptr;
  }

 private:
  [[noreturn]] void Fail() { throw std::runtime_error("ours: " + api_.mysql_error(session_)); }

  TMySQLAPIDirect& api_ = DirectApi();
  TMySqlSession* session_ = nullptr;
  std::vector<int32_t> lengths_;
  da::THttpOptions http_;  // must outlive the session that uses it
};

}  // namespace

std::unique_ptr<BenchClient> MakeOurClient() { return std::make_unique<OurClient>(); }

}  // namespace bench
