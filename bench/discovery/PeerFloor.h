#pragma once
// The floor of the discovery benchmark: the stock client library sending
// the statements of a discovery, one after the other, as fast as it can.
// Its header stays in PeerFloor.cpp: its macros clash with our call table.

#include <string>
#include <vector>

#include "BenchServer.h"

struct st_mysql;

namespace bench {

// One session of the stock client library; failures throw
// std::runtime_error with its message.
class PeerSession {
 public:
  PeerSession(const ServerAddress& server, const std::string& database);
  ~PeerSession();
  PeerSession(const PeerSession&) = delete;
  PeerSession& operator=(const PeerSession&) = delete;

  // Runs a statement and stores its rows; answers the row count.
  unsigned long long Query(const std::string& sql);
  void Exec(const std::string& sql) { Query(sql); }
  // The rows of a statement, every column as text ("" for NULL).
  std::vector<std::vector<std::string>> Rows(const std::string& sql);

 private:
  ::st_mysql* mysql_ = nullptr;
};

}  // namespace bench
