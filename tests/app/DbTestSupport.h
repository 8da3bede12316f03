#pragma once
// Helpers of the window's tests that need the throwaway server: a client of
// the stock client library to set up tables and read rows back without our
// own components (so that a check never relies on the code it checks), the
// central and customer databases of one test, and a TCP relay that can cut
// the way to the server in the middle of a run.

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TestServer.h"

// The stock client library's session; its header stays in the source file,
// since its macros clash with our own call table's names.
struct st_mysql;

namespace apptest {

// One session of the stock client library, in latin1 (Windows-1252 bytes
// travel unconverted). Failures throw std::runtime_error with its message.
class PeerDb {
 public:
  explicit PeerDb(const testsupport::TestServerInfo& server, const std::string& database = {});
  ~PeerDb();
  PeerDb(const PeerDb&) = delete;
  PeerDb& operator=(const PeerDb&) = delete;

  void Exec(const std::string& sql);
  using Row = std::vector<std::optional<std::string>>;  // nullopt for NULL
  std::vector<Row> Rows(const std::string& sql);
  // The first column of the first row ("" for none or NULL).
  std::string Scalar(const std::string& sql);

 private:
  st_mysql* mysql_ = nullptr;
};

// An SQL string literal for `text` (bytes as they are, quotes and
// backslashes escaped), or NULL.
std::string Lit(const std::optional<std::string>& text);

// The databases of one test, created afresh: a central one with `ligacoes`
// and `taxasiva`, and a customer one with `parceiros`; the customer's serial
// is registered in `ligacoes` pointing at the customer database on
// 127.0.0.1. Dropped when the object goes.
class SchedulerDatabases {
 public:
  SchedulerDatabases(const testsupport::TestServerInfo& server, const std::string& tag);
  ~SchedulerDatabases();

  const std::string& central() const { return central_; }
  const std::string& customer() const { return customer_; }
  static constexpr const char* kSerial = "SERIAL-1";
  static constexpr const char* kHost = "127.0.0.1";

  PeerDb& db() { return db_; }
  void AddPartner(const std::optional<std::string>& name, const std::optional<std::string>& host,
                  const std::optional<std::string>& database);
  // A row of taxasiva with the given identity and values (datahora as
  // 'YYYY-MM-DD hh:mm:ss' or NULL).
  void AddScheduled(const std::string& host, const std::string& database, const std::string& client, int oldRate,
                    int newRate, const std::optional<std::string>& datahora, int executado = 0);
  // Every column of taxasiva, ordered by servidor, basedados, anterior.
  std::vector<PeerDb::Row> Scheduled();

 private:
  PeerDb db_;
  std::string central_, customer_;
};

// A relay on 127.0.0.1 that passes every connection through to the server
// until Cut(): then every relayed connection is closed and new ones are
// closed as soon as they arrive, until Restore(). It can also cut by
// itself just before it would pass on the n-th client command containing
// a given text.
class CutProxy {
 public:
  explicit CutProxy(int serverPort);
  ~CutProxy();
  CutProxy(const CutProxy&) = delete;
  CutProxy& operator=(const CutProxy&) = delete;

  int port() const { return port_; }
  void CutAtCommand(const std::string& text, int occurrence);
  void Cut();
  void Restore();
  // How many client commands containing the text were passed on.
  int Seen() const { return seen_; }

 private:
  void Run();
  void Relay(int client);
  bool Down() const { return down_; }

  int serverPort_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> down_{false};
  std::atomic<bool> stop_{false};
  std::atomic<int> seen_{0};
  std::mutex mutex_;
  std::string cutText_;  // guarded by mutex_
  int cutAt_ = 0;        // guarded by mutex_
  std::vector<int> open_;  // relayed sockets; guarded by mutex_
  std::vector<std::thread> relays_;
  std::thread thread_;
};

}  // namespace apptest
