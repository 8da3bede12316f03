#pragma once
// Shared pieces of the transport tests: a client over the call table, the
// tunnel script's address, and an HTTP request as a scripted server reads it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "ScriptedServer.h"
#include "TestServer.h"
#include "mysql/MyCall.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlSession.h"

namespace transporttest {

using da::mysql::TMySqlSession;
using da::mysql::TMySQLAPIDirect;

// One session through the call table, closed at the end of the test.
struct SqlClient {
  TMySQLAPIDirect& api = da::mysql::DirectApi();
  TMySqlSession* session = api.mysql_init(nullptr);
  ~SqlClient() { api.mysql_close(session); }

  bool Connect(const std::string& host, int port, const std::string& user, const std::string& password,
               const std::string& database, const std::string& socket = "") {
    return api.mysql_real_connect(session, host, user, password, database, static_cast<uint32_t>(port), socket, 0) !=
           nullptr;
  }
  bool Connect(const testsupport::TestServerInfo& s) { return Connect(s.host, s.port, s.user, s.password, s.database); }
  void SetInt(int option, int32_t value) { api.mysql_options(session, option, &value); }
  int32_t Errno() { return api.mysql_errno(session); }
  std::string Error() { return api.mysql_error(session); }
  std::string HostInfo() { return api.mysql_get_host_info(session); }

  // Runs a statement; false with the error in Error().
  bool Exec(const std::string& sql) {
    if (api.mysql_real_query(session, sql.data(), static_cast<uint32_t>(sql.size())) != 0) return false;
    if (da::mysql::TMySqlResultSet* r = api.mysql_use_result(session)) api.mysql_free_result(r);
    return api.mysql_errno(session) == 0;
  }
  // The rows of a query, NULL as nullopt; empty on an error.
  std::vector<std::vector<std::optional<std::string>>> Rows(const std::string& sql) {
    std::vector<std::vector<std::optional<std::string>>> rows;
    if (api.mysql_real_query(session, sql.data(), static_cast<uint32_t>(sql.size())) != 0) return rows;
    da::mysql::TMySqlResultSet* result = api.mysql_use_result(session);
    if (!result) return rows;
    uint32_t columns = static_cast<uint32_t>(api.mysql_num_fields(result));
    while (da::mysql::TMySqlBinds* row = api.mysql_fetch_row(result)) {
      std::vector<std::optional<std::string>> values;
      for (uint32_t c = 0; c < columns; ++c) {
        if (api.IsNullField(row, c))
          values.emplace_back();
        else
          values.emplace_back(api.GetFieldText(row, c));
      }
      rows.push_back(std::move(values));
    }
    api.mysql_free_result(result);
    return rows;
  }
  // The first column of the first row ("<none>" without one, "<null>" for NULL).
  std::string Scalar(const std::string& sql) {
    auto rows = Rows(sql);
    if (rows.empty() || rows[0].empty()) return "<none>";
    return rows[0][0] ? *rows[0][0] : "<null>";
  }
};

#ifdef DA_TUNNEL_ENV
// The running tunnel script's base URL ("http://127.0.0.1:port"), or empty.
inline std::string TunnelUrl() {
  if (const char* env = std::getenv("DATEST_TUNNEL_URL"); env && *env) return env;
  std::ifstream in(DA_TUNNEL_ENV);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("DATEST_TUNNEL_URL=", 0) == 0) return line.substr(18);
  return {};
}
#endif

// One HTTP request as the client sent it.
struct HttpRequest {
  std::vector<std::string> lines;  // without their CR LF; lines[0] is the request line
  std::string body;
  // The value of header `name` (compared without case), or nullopt.
  std::optional<std::string> Header(const std::string& name) const {
    for (size_t i = 1; i < lines.size(); ++i) {
      size_t colon = lines[i].find(':');
      if (colon == std::string::npos || colon != name.size()) continue;
      bool same = true;
      for (size_t k = 0; k < colon; ++k)
        same = same && std::tolower(static_cast<unsigned char>(lines[i][k])) ==
                           std::tolower(static_cast<unsigned char>(name[k]));
      if (same) return lines[i].substr(colon + 1);
    }
    return std::nullopt;
  }
};

// Reads a request header (and a body of its Content-Length).
inline HttpRequest ReadHttpRequest(testsupport::ScriptedConnection& c) {
  HttpRequest r;
  std::string line;
  for (;;) {
    testsupport::Bytes b = c.Read(1);
    line += static_cast<char>(b[0]);
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
      line.resize(line.size() - 2);
      if (line.empty()) break;
      r.lines.push_back(line);
      line.clear();
    }
  }
  if (auto length = r.Header("Content-Length")) {
    size_t n = std::stoul(*length);
    if (n > 0) {
      testsupport::Bytes body = c.Read(n);
      r.body.assign(body.begin(), body.end());
    }
  }
  return r;
}

inline void SendText(testsupport::ScriptedConnection& c, const std::string& text) { c.Send(text.data(), text.size()); }

}  // namespace transporttest
