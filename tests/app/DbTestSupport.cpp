#include "DbTestSupport.h"

#include <mysql.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace apptest {

PeerDb::PeerDb(const testsupport::TestServerInfo& server, const std::string& database) {
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
    throw std::runtime_error("peer connect: " + message);
  }
}

PeerDb::~PeerDb() { mysql_close(mysql_); }

void PeerDb::Exec(const std::string& sql) {
  if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0)
    throw std::runtime_error("peer: " + std::string(mysql_error(mysql_)) + " in " + sql);
  if (MYSQL_RES* r = mysql_store_result(mysql_)) mysql_free_result(r);
}

std::vector<PeerDb::Row> PeerDb::Rows(const std::string& sql) {
  if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0)
    throw std::runtime_error("peer: " + std::string(mysql_error(mysql_)) + " in " + sql);
  MYSQL_RES* result = mysql_store_result(mysql_);
  if (result == nullptr) throw std::runtime_error("peer: no rows from " + sql);
  const unsigned columns = mysql_num_fields(result);
  std::vector<Row> rows;
  while (MYSQL_ROW row = mysql_fetch_row(result)) {
    unsigned long* lengths = mysql_fetch_lengths(result);
    Row values;
    for (unsigned c = 0; c < columns; ++c) {
      if (row[c] == nullptr) values.emplace_back(std::nullopt);
      else values.emplace_back(std::string(row[c], lengths[c]));
    }
    rows.push_back(std::move(values));
  }
  mysql_free_result(result);
  return rows;
}

std::string PeerDb::Scalar(const std::string& sql) {
  const auto rows = Rows(sql);
  if (rows.empty() || rows[0].empty() || !rows[0][0]) return {};
  return *rows[0][0];
}

std::string Lit(const std::optional<std::string>& text) {
  if (!text) return "NULL";
  std::string out = "'";
  for (char c : *text) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

SchedulerDatabases::SchedulerDatabases(const testsupport::TestServerInfo& server, const std::string& tag)
    : db_(server), central_("agcentral_" + tag), customer_("agcliente_" + tag) {
  db_.Exec("DROP DATABASE IF EXISTS " + central_);
  db_.Exec("DROP DATABASE IF EXISTS " + customer_);
  db_.Exec("CREATE DATABASE " + central_ + " CHARACTER SET latin1");
  db_.Exec("CREATE DATABASE " + customer_ + " CHARACTER SET latin1");
  db_.Exec("CREATE TABLE " + central_ +
           ".ligacoes (serial VARCHAR(40) NOT NULL PRIMARY KEY, bd VARCHAR(255) NOT NULL, "
           "host VARCHAR(255) NOT NULL) CHARACTER SET latin1");
  db_.Exec("CREATE TABLE " + central_ +
           ".taxasiva (servidor VARCHAR(255) NOT NULL, basedados VARCHAR(255) NOT NULL, "
           "cliente VARCHAR(255) NOT NULL, opvenda INT NOT NULL DEFAULT 0, opcompra INT NOT NULL DEFAULT 0, "
           "opnovataxa SMALLINT NOT NULL DEFAULT 0, descricaoiva VARCHAR(255) NOT NULL DEFAULT '', "
           "oparredondar INT NOT NULL DEFAULT 0, casasdecimais INT NOT NULL DEFAULT 2, anterior INT NOT NULL, "
           "nova INT NOT NULL, datahora DATETIME NULL, executado INT NOT NULL DEFAULT 0, "
           "inicioexecucao DATETIME NULL, fimexecucao DATETIME NULL, KEY loja (servidor, basedados, anterior)) "
           "ENGINE=InnoDB CHARACTER SET latin1");
  db_.Exec("CREATE TABLE " + customer_ +
           ".parceiros (id INT AUTO_INCREMENT PRIMARY KEY, nome VARCHAR(255) NULL, host VARCHAR(255) NULL, "
           "basedados VARCHAR(255) NULL) CHARACTER SET latin1");
  db_.Exec("INSERT INTO " + central_ + ".ligacoes VALUES (" + Lit(kSerial) + ", " + Lit(customer_) + ", " +
           Lit(kHost) + ")");
}

SchedulerDatabases::~SchedulerDatabases() {
  try {
    db_.Exec("DROP DATABASE IF EXISTS " + central_);
    db_.Exec("DROP DATABASE IF EXISTS " + customer_);
  } catch (...) {
  }
}

void SchedulerDatabases::AddPartner(const std::optional<std::string>& name, const std::optional<std::string>& host,
                                    const std::optional<std::string>& database) {
  db_.Exec("INSERT INTO " + customer_ + ".parceiros (nome, host, basedados) VALUES (" + Lit(name) + ", " + Lit(host) +
           ", " + Lit(database) + ")");
}

void SchedulerDatabases::AddScheduled(const std::string& host, const std::string& database, const std::string& client,
                                      int oldRate, int newRate, const std::optional<std::string>& datahora,
                                      int executado) {
  db_.Exec("INSERT INTO " + central_ +
           ".taxasiva (servidor, basedados, cliente, opvenda, opcompra, opnovataxa, descricaoiva, oparredondar, "
           "casasdecimais, anterior, nova, datahora, executado) VALUES (" +
           Lit(host) + ", " + Lit(database) + ", " + Lit(client) + ", 1, 0, 0, " + Lit(std::to_string(newRate) + "%") +
           ", 0, 2, " + std::to_string(oldRate) + ", " + std::to_string(newRate) + ", " + Lit(datahora) + ", " +
           std::to_string(executado) + ")");
}

std::vector<PeerDb::Row> SchedulerDatabases::Scheduled() {
  return db_.Rows(
      "SELECT servidor, basedados, cliente, opvenda, opcompra, opnovataxa, descricaoiva, oparredondar, "
      "casasdecimais, anterior, nova, datahora, executado, inicioexecucao, fimexecucao FROM " +
      central_ + ".taxasiva ORDER BY servidor, basedados, anterior");
}

// --- the relay -------------------------------------------------------------------

CutProxy::CutProxy(int serverPort) : serverPort_(serverPort) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 16) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw std::runtime_error("relay: cannot listen");
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Run(); });
}

CutProxy::~CutProxy() {
  stop_ = true;
  Cut();
  thread_.join();
  for (std::thread& t : relays_) t.join();
  ::close(listenFd_);
}

void CutProxy::CutAtCommand(const std::string& text, int occurrence) {
  std::lock_guard<std::mutex> lock(mutex_);
  cutText_ = text;
  cutAt_ = occurrence;
  seen_ = 0;
}

void CutProxy::Cut() {
  down_ = true;
  std::lock_guard<std::mutex> lock(mutex_);
  for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
}

void CutProxy::Restore() {
  std::lock_guard<std::mutex> lock(mutex_);
  cutText_.clear();
  cutAt_ = 0;
  down_ = false;
}

void CutProxy::Run() {
  while (!stop_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int client = ::accept(listenFd_, nullptr, nullptr);
    if (client < 0) continue;
    if (down_) {
      ::close(client);
      continue;
    }
    relays_.emplace_back([this, client] { Relay(client); });
  }
}

void CutProxy::Relay(int client) {
  const int server = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(serverPort_));
  if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(client);
    if (server >= 0) ::close(server);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.push_back(client);
    open_.push_back(server);
  }
  auto sendAll = [](int fd, const char* data, size_t size) {
    while (size > 0) {
      const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  };
  std::string pending;  // client bytes not yet a whole packet
  char buffer[65536];
  bool open = true;
  while (open && !down_) {
    pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (::poll(p, 2, 50) <= 0) continue;
    if (p[1].revents != 0) {
      const ssize_t n = ::recv(server, buffer, sizeof buffer, 0);
      open = n > 0 && sendAll(client, buffer, static_cast<size_t>(n));
    }
    if (open && p[0].revents != 0) {
      const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      pending.append(buffer, static_cast<size_t>(n));
      // Whole packets only, so that a command can be held back entirely.
      while (open && pending.size() >= 4) {
        const size_t length = static_cast<unsigned char>(pending[0]) | static_cast<unsigned char>(pending[1]) << 8 |
                              static_cast<unsigned char>(pending[2]) << 16;
        if (pending.size() < 4 + length) break;
        const std::string packet = pending.substr(0, 4 + length);
        pending.erase(0, 4 + length);
        bool cut = false;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (!cutText_.empty() && length > 0 && packet[4] == 0x03 && packet.find(cutText_, 5) != std::string::npos) {
            if (seen_ + 1 == cutAt_) cut = true;
            else ++seen_;
          }
        }
        if (cut) {
          Cut();
          open = false;
        } else {
          open = sendAll(server, packet.data(), packet.size());
        }
      }
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(std::remove(open_.begin(), open_.end(), client), open_.end());
    open_.erase(std::remove(open_.begin(), open_.end(), server), open_.end());
  }
  ::shutdown(client, SHUT_RDWR);
  ::shutdown(server, SHUT_RDWR);
  ::close(client);
  ::close(server);
}

}  // namespace apptest
