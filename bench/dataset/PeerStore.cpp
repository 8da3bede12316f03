// The peer: the stock client library's stored result, with the same
// conversions done by hand (strtol, strtod, a date parse into the same
// day count).
#include <mysql.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "DatasetSide.h"

namespace bench {
namespace {

// Days from 1899-12-30 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468 + 25569;
}

int Digits(const char* p, int n) {
  int v = 0;
  for (int i = 0; i < n; ++i) v = v * 10 + (p[i] - '0');
  return v;
}

double ParseDateTime(const char* p) {
  const double days = static_cast<double>(DaysFromCivil(Digits(p, 4), Digits(p + 5, 2), Digits(p + 8, 2)));
  const double ms = ((Digits(p + 11, 2) * 60.0 + Digits(p + 14, 2)) * 60 + Digits(p + 17, 2)) * 1000;
  return days + ms / 86400000;
}

}  // namespace

WalkSums PeerWalk(const ServerAddress& s, uint64_t limit) {
  MYSQL* mysql = mysql_init(nullptr);
  auto fail = [&] {
    std::string message = std::string("peer: ") + mysql_error(mysql);
    mysql_close(mysql);
    throw std::runtime_error(message);
  };
  my_bool noTls = 0;
  mysql_optionsv(mysql, MYSQL_OPT_SSL_ENFORCE, &noTls);
  unsigned int tcp = MYSQL_PROTOCOL_TCP;
  mysql_options(mysql, MYSQL_OPT_PROTOCOL, &tcp);
  if (!mysql_real_connect(mysql, s.host.c_str(), s.user.c_str(), s.password.c_str(), s.database.c_str(),
                          static_cast<unsigned>(s.port), nullptr, 0))
    fail();
  const std::string sql = SelectRows(limit);
  if (mysql_real_query(mysql, sql.data(), sql.size()) != 0) fail();
  MYSQL_RES* result = mysql_store_result(mysql);
  if (!result) fail();
  WalkSums sums;
  while (MYSQL_ROW row = mysql_fetch_row(result)) {
    unsigned long* lengths = mysql_fetch_lengths(result);
    sums.ints += std::strtol(row[0], nullptr, 10);
    const std::string name(row[1], lengths[1]);
    sums.textBytes += name.size() + static_cast<unsigned char>(name[name.size() / 2]);
    sums.days += ParseDateTime(row[2]);
    sums.amounts += std::strtod(row[3], nullptr);
    ++sums.rows;
  }
  mysql_free_result(result);
  mysql_close(mysql);
  return sums;
}

}  // namespace bench
