// The peer: the stock client library, used only here.
#include <mysql.h>

#include <stdexcept>

#include "BenchClient.h"

namespace bench {
namespace {

class PeerClient : public BenchClient {
 public:
  ~PeerClient() override { Close(); }
  const char* Name() const override { return "peer"; }

  void Connect(const ServerAddress& s, bool compress) override {
    mysql_ = mysql_init(nullptr);
    if (compress) mysql_options(mysql_, MYSQL_OPT_COMPRESS, nullptr);
    my_bool noTls = 0;
    mysql_optionsv(mysql_, MYSQL_OPT_SSL_ENFORCE, &noTls);
    unsigned int tcp = MYSQL_PROTOCOL_TCP;
    mysql_options(mysql_, MYSQL_OPT_PROTOCOL, &tcp);
    if (!mysql_real_connect(mysql_, s.host.c_str(), s.user.c_str(), s.password.c_str(), s.database.c_str(),
                            static_cast<unsigned>(s.port), nullptr, 0))
      Fail();
  }

  void ConnectVia(const ServerAddress& s, Via via) override {
    mysql_ = mysql_init(nullptr);
    unsigned int protocol = via == Via::kSsl ? MYSQL_PROTOCOL_TCP : MYSQL_PROTOCOL_SOCKET;
    mysql_options(mysql_, MYSQL_OPT_PROTOCOL, &protocol);
    if (via == Via::kSsl) {
      mysql_ssl_set(mysql_, nullptr, nullptr, s.sslCa.c_str(), nullptr, nullptr);
      my_bool on = 1;
      mysql_optionsv(mysql_, MYSQL_OPT_SSL_ENFORCE, &on);
      mysql_optionsv(mysql_, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &on);
    }
    const char* host = via == Via::kSsl ? s.host.c_str() : "localhost";
    const char* socket = via == Via::kSocket ? s.socket.c_str() : nullptr;
    if (!mysql_real_connect(mysql_, host, s.user.c_str(), s.password.c_str(), s.database.c_str(),
                            static_cast<unsigned>(s.port), socket, 0))
      Fail();
  }

  std::string Scalar(const std::string& sql) override {
    if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0) Fail();
    MYSQL_RES* result = mysql_store_result(mysql_);
    if (!result) Fail();
    MYSQL_ROW row = mysql_fetch_row(result);
    std::string value = row && row[0] ? row[0] : "";
    mysql_free_result(result);
    return value;
  }

  void Execute(const std::string& sql) override {
    if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0) Fail();
    if (MYSQL_RES* r = mysql_store_result(mysql_)) mysql_free_result(r);
  }

  uint64_t ReadRows(const std::string& sql, uint64_t& rows) override {
    if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0) Fail();
    MYSQL_RES* result = mysql_use_result(mysql_);
    if (!result) Fail();
    unsigned columns = mysql_num_fields(result);
    uint64_t sum = 0;
    rows = 0;
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
      unsigned long* lengths = mysql_fetch_lengths(result);
      for (unsigned c = 0; c < columns; ++c)
        if (row[c]) sum += TouchBytes(row[c], lengths[c]);
      ++rows;
    }
    bool failed = mysql_errno(mysql_) != 0;
    mysql_free_result(result);
    if (failed) Fail();
    return sum;
  }

  void Close() override {
    if (mysql_) mysql_close(mysql_);
    mysql_ = nullptr;
  }

 private:
  [[noreturn]] void Fail() { throw std::runtime_error(std::string("peer: ") + mysql_error(mysql_)); }
  MYSQL* mysql_ = nullptr;
};

}  // namespace

std::unique_ptr<BenchClient> MakePeerClient() { return std::make_unique<PeerClient>(); }

}  // namespace bench
