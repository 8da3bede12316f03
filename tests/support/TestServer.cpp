#include "TestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>

namespace testsupport {
namespace {

std::map<std::string, std::string> ReadEnvFile() {
  std::map<std::string, std::string> values;
  std::ifstream in(DA_TEST_SERVER_ENV);
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

bool PortAnswers(const std::string& host, int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = ::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) == 1 &&
            ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

const TestServerInfo* Load() {
  auto file = ReadEnvFile();
  auto get = [&](const char* key) {
    const char* env = std::getenv(key);
    if (env && *env) return std::string(env);
    auto it = file.find(key);
    return it == file.end() ? std::string() : it->second;
  };
  static TestServerInfo info;
  info.host = get("DATEST_HOST");
  info.port = std::atoi(get("DATEST_PORT").c_str());
  info.socket = get("DATEST_SOCKET");
  info.database = get("DATEST_DATABASE");
  info.user = get("DATEST_USER");
  info.password = get("DATEST_PASSWORD");
  info.nopwUser = get("DATEST_NOPW_USER");
  info.oldUser = get("DATEST_OLD_USER");
  info.oldPassword = get("DATEST_OLD_PASSWORD");
  info.sslCa = get("DATEST_SSL_CA");
  info.sslCert = get("DATEST_SSL_CERT");
  info.sslKey = get("DATEST_SSL_KEY");
  info.sslOtherCa = get("DATEST_SSL_OTHER_CA");
  info.x509User = get("DATEST_X509_USER");
  info.x509Password = get("DATEST_X509_PASSWORD");
  if (info.host.empty() || info.port <= 0 || !PortAnswers(info.host, info.port)) return nullptr;
  return &info;
}

}  // namespace

const TestServerInfo* FindTestServer() {
  static const TestServerInfo* found = Load();
  return found;
}

bool ServerRequired() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

void ServerTest::SetUp() {
  server_ = FindTestServer();
  if (!server_) {
    if (ServerRequired()) FAIL() << "the throwaway test server is not running";
    GTEST_SKIP() << "no test server (run the tests through ctest)";
  }
}

}  // namespace testsupport
