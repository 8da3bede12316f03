// The peer side: MariaDB Connector/C with mysql_store_result and the plain
// C conversions.

#include <mysql.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "BenchSides.h"

namespace bench {
namespace {

MYSQL* Connect(const ServerAddress& s) {
  MYSQL* m = mysql_init(nullptr);
  if (!mysql_real_connect(m, s.host.c_str(), s.user.c_str(), s.password.c_str(), s.database.c_str(),
                          static_cast<unsigned>(s.port), nullptr, 0)) {
    std::string e = mysql_error(m);
    mysql_close(m);
    throw std::runtime_error("peer: " + e);
  }
  return m;
}

void Query(MYSQL* m, const std::string& sql) {
  if (mysql_real_query(m, sql.data(), sql.size()) != 0) throw std::runtime_error("peer: " + std::string(mysql_error(m)));
}

// Days since 1899-12-30 of a civil date (the count the date-time type uses).
double DayCount(int y, int m, int d) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long days1970 = static_cast<long>(era) * 146097 + static_cast<long>(doe) - 719468;
  return static_cast<double>(days1970 + 25569);
}

int Digits(const char* p, int n) {
  int v = 0;
  for (int i = 0; i < n; ++i) v = v * 10 + (p[i] - '0');
  return v;
}

class PeerInserterImpl : public Inserter {
 public:
  explicit PeerInserterImpl(const ServerAddress& s) : m_(Connect(s)) {}
  ~PeerInserterImpl() override { mysql_close(m_); }
  void Insert(int id, const std::string& value) override {
    std::string escaped(value.size() * 2 + 1, '\0');
    escaped.resize(mysql_real_escape_string(m_, escaped.data(), value.data(), value.size()));
    Query(m_, "INSERT INTO bench_comp_ins VALUES (" + std::to_string(id) + ", '" + escaped + "')");
  }

 private:
  MYSQL* m_;
};

}  // namespace

Sums PeerRead(const ServerAddress& s, const char* sql) {
  MYSQL* m = Connect(s);
  Query(m, sql);
  MYSQL_RES* r = mysql_store_result(m);
  if (!r) throw std::runtime_error("peer: " + std::string(mysql_error(m)));
  Sums sums;
  while (MYSQL_ROW row = mysql_fetch_row(r)) {
    unsigned long* len = mysql_fetch_lengths(r);
    sums.ids += std::strtol(row[0], nullptr, 10);
    std::string name(row[1], len[1]);
    sums.nameBytes += static_cast<int64_t>(name.size());
    const char* d = row[2];  // YYYY-MM-DD HH:MM:SS
    sums.dates += DayCount(Digits(d, 4), Digits(d + 5, 2), Digits(d + 8, 2)) +
                  (Digits(d + 11, 2) * 3600 + Digits(d + 14, 2) * 60 + Digits(d + 17, 2)) / 86400.0;
    sums.amounts += std::strtod(row[3], nullptr);
    ++sums.rows;
  }
  mysql_free_result(r);
  mysql_close(m);
  return sums;
}

std::unique_ptr<Inserter> PeerInserter(const ServerAddress& s) { return std::make_unique<PeerInserterImpl>(s); }

void PeerExec(const ServerAddress& s, const std::string& sql) {
  MYSQL* m = Connect(s);
  Query(m, sql);
  if (MYSQL_RES* r = mysql_store_result(m)) mysql_free_result(r);
  mysql_close(m);
}

std::string PeerText(const ServerAddress& s, const std::string& sql) {
  MYSQL* m = Connect(s);
  Query(m, sql);
  MYSQL_RES* r = mysql_store_result(m);
  MYSQL_ROW row = r ? mysql_fetch_row(r) : nullptr;
  std::string v = row && row[0] ? row[0] : "";
  if (r) mysql_free_result(r);
  mysql_close(m);
  return v;
}

long PeerScalar(const ServerAddress& s, const std::string& sql) {
  const std::string v = PeerText(s, sql);
  return v.empty() ? -1 : std::atol(v.c_str());
}

}  // namespace bench
