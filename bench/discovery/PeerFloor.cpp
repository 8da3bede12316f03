#include "PeerFloor.h"

#include <mysql.h>

#include <stdexcept>

namespace bench {

PeerSession::PeerSession(const ServerAddress& server, const std::string& database) {
  mysql_ = mysql_init(nullptr);
  mysql_options(mysql_, MYSQL_SET_CHARSET_NAME, "latin1");
  my_bool noTls = 0;
  mysql_optionsv(mysql_, MYSQL_OPT_SSL_ENFORCE, &noTls);
  unsigned int tcp = MYSQL_PROTOCOL_TCP;
  mysql_options(mysql_, MYSQL_OPT_PROTOCOL, &tcp);
  if (!mysql_real_connect(mysql_, server.host.c_str(), server.user.c_str(), server.password.c_str(),
                          database.empty() ? nullptr : database.c_str(), static_cast<unsigned>(server.port), nullptr,
                          0)) {
    const std::string message = mysql_error(mysql_);
    mysql_close(mysql_);
    throw std::runtime_error("peer: " + message);
  }
}

PeerSession::~PeerSession() { mysql_close(mysql_); }

unsigned long long PeerSession::Query(const std::string& sql) {
  if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0)
    throw std::runtime_error("peer: " + std::string(mysql_error(mysql_)));
  unsigned long long rows = 0;
  if (MYSQL_RES* result = mysql_store_result(mysql_)) {
    rows = mysql_num_rows(result);
    mysql_free_result(result);
  } else if (mysql_field_count(mysql_) != 0) {
    throw std::runtime_error("peer: " + std::string(mysql_error(mysql_)));
  }
  return rows;
}

std::vector<std::vector<std::string>> PeerSession::Rows(const std::string& sql) {
  if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0)
    throw std::runtime_error("peer: " + std::string(mysql_error(mysql_)));
  MYSQL_RES* result = mysql_store_result(mysql_);
  if (result == nullptr) throw std::runtime_error("peer: no rows");
  std::vector<std::vector<std::string>> rows;
  const unsigned columns = mysql_num_fields(result);
  while (MYSQL_ROW row = mysql_fetch_row(result)) {
    unsigned long* lengths = mysql_fetch_lengths(result);
    std::vector<std::string> values;
    for (unsigned c = 0; c < columns; ++c) values.emplace_back(row[c] ? std::string(row[c], lengths[c]) : "");
    rows.push_back(std::move(values));
  }
  mysql_free_result(result);
  return rows;
}

}  // namespace bench
