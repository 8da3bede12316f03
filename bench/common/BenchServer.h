#pragma once
// The throwaway server a benchmark measures against, as the env file the
// test server writes (or the DATEST_* environment, which wins) names it.

#include <map>
#include <string>

namespace bench {

struct ServerAddress {
  std::string host;
  int port = 0;
  std::string user, password, database;
  std::string socket;  // the server's local socket
  std::string sslCa;   // the CA of the server's certificate
};

// The KEY=value lines of an env file (none when it cannot be read).
std::map<std::string, std::string> ReadEnvFile(const std::string& envFile);

// Raises std::runtime_error when neither gives a host and a port.
ServerAddress ReadServer(const std::string& envFile);

}  // namespace bench
