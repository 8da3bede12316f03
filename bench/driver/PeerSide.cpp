// The peer: the stock client library, used only here. It builds the
// statement itself with mysql_real_escape_string and sends it with
// mysql_real_query.
#include <mysql.h>

#include <stdexcept>
#include <vector>

#include "BenchSide.h"

namespace driverbench {
namespace {

class PeerSide : public Side {
 public:
  explicit PeerSide(const Server& s) {
    mysql_ = mysql_init(nullptr);
    my_bool noTls = 0;
    mysql_optionsv(mysql_, MYSQL_OPT_SSL_ENFORCE, &noTls);
    unsigned int tcp = MYSQL_PROTOCOL_TCP;
    mysql_options(mysql_, MYSQL_OPT_PROTOCOL, &tcp);
    if (!mysql_real_connect(mysql_, s.host.c_str(), s.user.c_str(), s.password.c_str(), s.database.c_str(),
                            static_cast<unsigned>(s.port), nullptr, 0))
      Fail();
  }
  ~PeerSide() override { mysql_close(mysql_); }
  const char* Name() const override { return "peer"; }

  void Insert(int first, int count) override {
    std::string sql, value;
    for (int i = first; i < first + count; ++i) {
      value = ValueOf(i);
      escaped_.resize(value.size() * 2 + 1);
      unsigned long n = mysql_real_escape_string(mysql_, escaped_.data(), value.data(), value.size());
      sql = "INSERT INTO bench_drv VALUES (";
      sql += std::to_string(i);
      sql += ", '";
      sql.append(escaped_.data(), n);
      sql += "')";
      Run(sql);
      if (mysql_affected_rows(mysql_) != 1) throw std::runtime_error("peer: insert lost");
    }
  }

  void RoundTrips(int count) override {
    for (int i = 0; i < count; ++i) Run("DO 1");
  }

  void Run(const std::string& sql) override {
    if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0) Fail();
    if (MYSQL_RES* r = mysql_store_result(mysql_)) mysql_free_result(r);
  }

  std::string Scalar(const std::string& sql) override {
    if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0) Fail();
    MYSQL_RES* r = mysql_store_result(mysql_);
    if (!r) Fail();
    MYSQL_ROW row = mysql_fetch_row(r);
    std::string value = row && row[0] ? row[0] : "";
    mysql_free_result(r);
    return value;
  }

 private:
  [[noreturn]] void Fail() { throw std::runtime_error(std::string("peer: ") + mysql_error(mysql_)); }
  MYSQL* mysql_;
  std::vector<char> escaped_;
};

}  // namespace

std::unique_ptr<Side> MakePeerSide(const Server& server) { return std::make_unique<PeerSide>(server); }

}  // namespace driverbench
