#include "BenchServer.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace bench {

std::map<std::string, std::string> ReadEnvFile(const std::string& envFile) {
  std::map<std::string, std::string> values;
  std::ifstream in(envFile);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

ServerAddress ReadServer(const std::string& envFile) {
  std::map<std::string, std::string> values = ReadEnvFile(envFile);
  auto get = [&](const char* key) {
    const char* env = std::getenv(key);
    return env && *env ? std::string(env) : values[key];
  };
  ServerAddress s;
  s.host = get("DATEST_HOST");
  s.port = std::atoi(get("DATEST_PORT").c_str());
  s.user = get("DATEST_USER");
  s.password = get("DATEST_PASSWORD");
  s.database = get("DATEST_DATABASE");
  s.socket = get("DATEST_SOCKET");
  s.sslCa = get("DATEST_SSL_CA");
  if (s.host.empty() || s.port <= 0) throw std::runtime_error("no server address: pass --env <server.env>");
  return s;
}

}  // namespace bench
