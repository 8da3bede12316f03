// Wire client benchmark: our call table beside the stock client library, on
// the same statements against the same server, in one run.
//
//   wire_bench --env <build>/testserver/server.env [--rows N] [--inserts N] [--repeat N]
//              [--tunnel-env <build>/httptunnel/tunnel.env] [--round-trips N]
//
// Prints, for each measure, the best of --repeat runs of each client and the
// ratio ours/peer:
//   (a) SELECT of N rows (INT, VARCHAR(40), DATETIME, DOUBLE) read row by row,
//       every column's bytes touched: client CPU (user+sys) and wall time;
//   (b) single-row INSERT round trips: wall time;
//   (c) the read of (a) with the compressed protocol: client CPU;
//   (d) the read of (a) over TLS (both clients verify the server against
//       its CA and negotiate the same protocol and cipher, printed): client CPU;
//   (e) the read of (a) through the server's local socket: client CPU;
//   (f) our client only: the cost of one round trip (DO 1) through the HTTP
//       tunnel beside plain TCP, when a tunnel script is given.
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
#include "BenchClient.h"

namespace bench {
namespace {

struct Options {
  std::string envFile;
  std::string tunnelEnvFile;
  int roundTrips = 2000;
  uint64_t rows = 1000000;
  int inserts = 20000;
  int repeat = 3;
};

struct Cost {
  double cpu = 1e300;
  double wall = 1e300;
};

// Runs `work` once and keeps the best CPU and wall time seen so far.
void Measure(Cost& best, const std::function<void()>& work) {
  double c0 = CpuSeconds(), w0 = WallSeconds();
  work();
  best.cpu = std::min(best.cpu, CpuSeconds() - c0);
  best.wall = std::min(best.wall, WallSeconds() - w0);
}

void PrepareTables(BenchClient& client, const ServerAddress& server, uint64_t rows) {
  client.Connect(server, false);
  client.Execute(
      "CREATE TABLE IF NOT EXISTS bench_rows (id INT PRIMARY KEY, name VARCHAR(40) NOT NULL, "
      "created DATETIME NOT NULL, amount DOUBLE NOT NULL) ENGINE=InnoDB");
  client.Execute("TRUNCATE TABLE bench_rows");
  client.Execute("INSERT INTO bench_rows SELECT seq, LPAD(CONCAT('name-', seq), 40, 'x'), "
                 "'2026-01-01 00:00:00' + INTERVAL seq SECOND, seq * 1.25 FROM seq_1_to_" +
                 std::to_string(rows));
  client.Execute("CREATE TABLE IF NOT EXISTS bench_ins (id INT NOT NULL, v VARCHAR(40) NOT NULL) ENGINE=MEMORY");
  client.Close();
}

const char* kSelect = "SELECT id, name, created, amount FROM bench_rows";

uint64_t ReadOnce(BenchClient& client, const ServerAddress& server, bool compress, uint64_t expectedRows,
                  Cost& cost) {
  client.Connect(server, compress);
  uint64_t sum = 0, rows = 0;
  Measure(cost, [&] { sum = client.ReadRows(kSelect, rows); });
  client.Close();
  if (rows != expectedRows)
    throw std::runtime_error(std::string(client.Name()) + " read " + std::to_string(rows) + " rows");
  return sum;
}

uint64_t ReadOnceVia(BenchClient& client, const ServerAddress& server, Via via, uint64_t expectedRows, Cost& cost) {
  client.ConnectVia(server, via);
  uint64_t sum = 0, rows = 0;
  Measure(cost, [&] { sum = client.ReadRows(kSelect, rows); });
  client.Close();
  if (rows != expectedRows)
    throw std::runtime_error(std::string(client.Name()) + " read " + std::to_string(rows) + " rows");
  return sum;
}

// The TLS protocol and cipher a client negotiates.
std::string Negotiated(BenchClient& client, const ServerAddress& server) {
  client.ConnectVia(server, Via::kSsl);
  std::string text = client.Scalar("SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS "
                                   "WHERE VARIABLE_NAME = 'Ssl_version'") +
                     " " +
                     client.Scalar("SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS "
                                   "WHERE VARIABLE_NAME = 'Ssl_cipher'");
  client.Close();
  return text;
}

// Seconds per round trip of `trips` statements without rows.
double RoundTrip(BenchClient& client, int trips) {
  Cost cost;
  Measure(cost, [&] {
    for (int i = 0; i < trips; ++i) client.Execute("DO 1");
  });
  client.Close();
  return cost.wall / trips;
}

void InsertOnce(BenchClient& client, const ServerAddress& server, int inserts, Cost& cost) {
  client.Connect(server, false);
  client.Execute("TRUNCATE TABLE bench_ins");
  Measure(cost, [&] {
    for (int i = 0; i < inserts; ++i)
      client.Execute("INSERT INTO bench_ins VALUES (" + std::to_string(i) + ", 'value-" + std::to_string(i) + "')");
  });
  uint64_t rows = 0;
  client.ReadRows("SELECT * FROM bench_ins", rows);
  client.Close();
  if (rows != static_cast<uint64_t>(inserts)) throw std::runtime_error(std::string(client.Name()) + " lost inserts");
}

void PrintLine(const char* what, double peer, double ours) {
  std::printf("%-28s %10.3f s %10.3f s %10.2f\n", what, peer, ours, peer > 0 ? ours / peer : 0.0);
}

int Run(const Options& o) {
  ServerAddress server = ReadServer(o.envFile);
  auto peer = MakePeerClient();
  auto ours = MakeOurClient();
  PrepareTables(*peer, server, o.rows);

  Cost peerRead, ourRead, peerInsert, ourInsert, peerZip, ourZip, peerSsl, ourSsl, peerSocket, ourSocket;
  for (int r = 0; r < o.repeat; ++r) {
    // Alternate the order so that neither side always runs on a warm server.
    BenchClient* first = r % 2 ? ours.get() : peer.get();
    BenchClient* second = r % 2 ? peer.get() : ours.get();
    for (BenchClient* c : {first, second}) {
      bool isPeer = c == peer.get();
      uint64_t plain = ReadOnce(*c, server, false, o.rows, isPeer ? peerRead : ourRead);
      uint64_t zipped = ReadOnce(*c, server, true, o.rows, isPeer ? peerZip : ourZip);
      if (plain != zipped) throw std::runtime_error(std::string(c->Name()) + ": compressed rows differ");
      static uint64_t reference = plain;
      if (plain != reference) throw std::runtime_error("the clients read different bytes");
      InsertOnce(*c, server, o.inserts, isPeer ? peerInsert : ourInsert);
      uint64_t tls = ReadOnceVia(*c, server, Via::kSsl, o.rows, isPeer ? peerSsl : ourSsl);
      uint64_t local = ReadOnceVia(*c, server, Via::kSocket, o.rows, isPeer ? peerSocket : ourSocket);
      if (tls != reference || local != reference)
        throw std::runtime_error(std::string(c->Name()) + ": rows over TLS or the socket differ");
    }
  }
  std::string peerTls = Negotiated(*peer, server);
  std::string ourTls = Negotiated(*ours, server);

  std::printf("wire benchmark: %llu rows, %d inserts, best of %d\n", static_cast<unsigned long long>(o.rows),
              o.inserts, o.repeat);
  std::printf("%-28s %12s %12s %10s\n", "", "peer", "ours", "ours/peer");
  PrintLine("(a) select, client cpu", peerRead.cpu, ourRead.cpu);
  PrintLine("(a) select, wall", peerRead.wall, ourRead.wall);
  PrintLine("(b) inserts, wall", peerInsert.wall, ourInsert.wall);
  PrintLine("(c) compressed, client cpu", peerZip.cpu, ourZip.cpu);
  PrintLine("(d) TLS, client cpu", peerSsl.cpu, ourSsl.cpu);
  std::printf("    TLS negotiated: peer %s, ours %s\n", peerTls.c_str(), ourTls.c_str());
  PrintLine("(e) local socket, client cpu", peerSocket.cpu, ourSocket.cpu);
  PrintLine("(e) local socket, wall", peerSocket.wall, ourSocket.wall);

  if (!o.tunnelEnvFile.empty()) {
    std::string url = ReadEnvFile(o.tunnelEnvFile)["DATEST_TUNNEL_URL"];
    if (url.empty()) throw std::runtime_error("no tunnel script in " + o.tunnelEnvFile);
    ours->Connect(server, false);
    double tcp = RoundTrip(*ours, o.roundTrips);
    ours->ConnectTunnel(server, url + "/tunnel/");
    double tunnel = RoundTrip(*ours, o.roundTrips);
    std::printf("(f) round trip (ours), %d x DO 1: TCP %.3f ms, HTTP tunnel %.3f ms (%.1fx)\n", o.roundTrips,
                tcp * 1e3, tunnel * 1e3, tcp > 0 ? tunnel / tcp : 0.0);
  } else {
    std::printf("(f) round trip through the HTTP tunnel: no --tunnel-env given\n");
  }
  return 0;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  bench::Options o;
  const bool parsed = bench::ParseOptions(argc, argv, "wire_bench", [&](const std::string& a, auto next) {
    if (a == "--env") o.envFile = next();
    else if (a == "--rows") o.rows = std::stoull(next());
    else if (a == "--inserts") o.inserts = std::stoi(next());
    else if (a == "--repeat") o.repeat = std::max(1, std::stoi(next()));
    else if (a == "--tunnel-env") o.tunnelEnvFile = next();
    else if (a == "--round-trips") o.roundTrips = std::max(1, std::stoi(next()));
    else return false;
    return true;
  });
  if (!parsed) return 2;
  try {
    return bench::Run(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wire_bench: %s\n", e.what());
    return 1;
  }
}
