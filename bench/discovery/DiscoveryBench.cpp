// Store discovery benchmark: the stores page's discovery (the central
// lookup, the customer's connection, the partner list and one pre-marking
// query per store: 1 + n round trips for n partners, plus the connects)
// run through our components, beside its floor: the same statements sent
// by the stock client library in a tight loop, over the same two sessions.
//
//   discovery_bench --env <build>/testserver/server.env [--stores N] [--repeat N]
//
// Prints the best wall time and client CPU time of --repeat runs of each and
// the ratios ours/floor (target for the wall time: at most 1.10).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>

#include "BenchArgs.h"
#include "BenchClock.h"
#include "PeerFloor.h"
#include "SchedulerDatabase.h"
#include "StoreDiscovery.h"
#include "common/Component.h"
#include "components/MyAccess.h"

namespace bench {
namespace {

constexpr const char* kCentral = "agbench_central";
constexpr const char* kCustomer = "agbench_cliente";
constexpr const char* kSerial = "BENCH-1";

struct Options {
  std::string envFile;
  int stores = 1000;
  int repeat = 5;
};

std::string StoreDatabase(int i) { return "loja_" + std::to_string(i); }

// A customer with `stores` partners, one store in three with a pending row.
void PrepareDatabases(const ServerAddress& server, int stores) {
  PeerSession db(server, {});
  for (const char* name : {kCentral, kCustomer}) {
    db.Exec(std::string("DROP DATABASE IF EXISTS ") + name);
    db.Exec(std::string("CREATE DATABASE ") + name + " CHARACTER SET latin1");
  }
  db.Exec(std::string("CREATE TABLE ") + kCentral +
          ".ligacoes (serial VARCHAR(40) PRIMARY KEY, bd VARCHAR(255), host VARCHAR(255))");
  db.Exec(std::string("CREATE TABLE ") + kCentral +
          ".taxasiva (servidor VARCHAR(255), basedados VARCHAR(255), cliente VARCHAR(255), opvenda INT, "
          "opcompra INT, opnovataxa INT, descricaoiva VARCHAR(255), oparredondar INT, casasdecimais INT, "
          "anterior INT, nova INT, datahora DATETIME, executado INT, inicioexecucao DATETIME, "
          "fimexecucao DATETIME, KEY loja (servidor, basedados, anterior))");
  db.Exec(std::string("CREATE TABLE ") + kCustomer +
          ".parceiros (id INT AUTO_INCREMENT PRIMARY KEY, nome VARCHAR(255), host VARCHAR(255), "
          "basedados VARCHAR(255))");
  db.Exec(std::string("INSERT INTO ") + kCentral + ".ligacoes VALUES ('" + kSerial + "', '" + kCustomer +
          "', '127.0.0.1')");
  std::string partners = std::string("INSERT INTO ") + kCustomer + ".parceiros (nome, host, basedados) VALUES ";
  std::string pending = std::string("INSERT INTO ") + kCentral +
                        ".taxasiva (servidor, basedados, cliente, anterior, nova, executado) VALUES ";
  for (int i = 1; i <= stores; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "Loja %05d", i);
    partners += std::string(i > 1 ? "," : "") + "('" + name + "', '127.0.0.1', '" + StoreDatabase(i) + "')";
    if (i % 3 == 0) pending += std::string(i > 3 ? "," : "") + "('127.0.0.1', '" + StoreDatabase(i) + "', '" + name + "', 23, 22, 0)";
  }
  db.Exec(partners);
  if (stores >= 3) db.Exec(pending);
}

// The floor: the statements of one discovery through the stock library.
int FloorDiscovery(const ServerAddress& server) {
  int marked = 0;
  auto premark = [&](PeerSession& central, const std::string& host, const std::string& database) {
    if (central.Query("SELECT DISTINCT servidor, basedados, cliente FROM taxasiva WHERE servidor='" + host +
                      "' AND basedados='" + database + "' ORDER BY cliente") > 0)
      ++marked;
  };
  PeerSession central(server, kCentral);
  const auto customer = central.Rows(std::string("SELECT bd, host FROM ligacoes\r\nWHERE serial = '") + kSerial + "'");
  const std::string database = customer.at(0).at(0), host = customer.at(0).at(1);
  PeerSession store(server, database);
  premark(central, host, database);
  for (const auto& partner : store.Rows("SELECT * FROM parceiros ORDER BY nome")) premark(central, partner[2], partner[3]);
  return marked;
}

// Ours: the discovery's own steps over the window's components.
int OurDiscovery(const ServerAddress& server) {
  da::TComponent owner;
  const app::SchedulerDatabase db = app::CreateSchedulerDatabase(owner);
  app::ApplyDeployment(db, {server.host, server.port, kCentral, server.user, server.password, {}});
  const app::CustomerLocation customer = app::LookUpCustomer(db, kSerial);
  app::StoreList stores;
  app::ListStores(db, {"Bench", kSerial}, customer, stores);
  db.cn->SetConnected(false);
  return static_cast<int>(std::count(stores.checked.begin(), stores.checked.end(), true));
}

struct Cost {
  double wall = 1e300;
  double cpu = 1e300;  // the client's own: user + system
};

// Runs `work` once, keeps the best times seen so far, answers its result.
int Measure(Cost& best, const std::function<int()>& work) {
  const double cpu0 = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  const int result = work();
  best.wall = std::min(best.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  best.cpu = std::min(best.cpu, CpuSeconds() - cpu0);
  return result;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  using namespace bench;
  Options options;
  const bool parsed = ParseOptions(argc, argv, "discovery_bench", [&](const std::string& a, auto next) {
    if (a == "--env") options.envFile = next();
    else if (a == "--stores") options.stores = std::max(1, std::stoi(next()));
    else if (a == "--repeat") options.repeat = std::max(1, std::stoi(next()));
    else return false;
    return true;
  });
  if (!parsed) return 2;
  try {
    const ServerAddress server = ReadServer(options.envFile);
    PrepareDatabases(server, options.stores);
    const int expectedMarks = options.stores / 3;
    Cost ours, floor;
    for (int r = 0; r < options.repeat; ++r) {
      if (Measure(floor, [&] { return FloorDiscovery(server); }) != expectedMarks)
        throw std::runtime_error("floor: wrong number of marked stores");
      if (Measure(ours, [&] { return OurDiscovery(server); }) != expectedMarks)
        throw std::runtime_error("ours: wrong number of marked stores");
    }
    std::printf("discovery of a customer with %d partner stores (%d round trips plus two connects), best of %d\n",
                options.stores, options.stores + 3, options.repeat);
    std::printf("                 wall        client CPU\n");
    std::printf("  ours    %9.2f ms  %9.2f ms\n", ours.wall * 1e3, ours.cpu * 1e3);
    std::printf("  floor   %9.2f ms  %9.2f ms   (the same statements, stock client library)\n", floor.wall * 1e3,
                floor.cpu * 1e3);
    std::printf("  ratio ours/floor: wall %.3f (target <= 1.10), client CPU %.3f\n", ours.wall / floor.wall,
                ours.cpu / floor.cpu);
    PeerSession(server, {}).Exec(std::string("DROP DATABASE ") + kCentral);
    PeerSession(server, {}).Exec(std::string("DROP DATABASE ") + kCustomer);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "discovery_bench: %s\n", e.what());
    return 1;
  }
}
