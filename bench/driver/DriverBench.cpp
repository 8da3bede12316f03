// Driver benchmark: single-row INSERTs with two parameters through the
// driver command (markers replaced by literals, one round trip each) beside
// the stock client library building the same statement with its own
// escaping and sending it with mysql_real_query.
//
//   driver_bench --env <build>/testserver/server.env [--inserts N] [--rounds N]
//
// The inserts are split into interleaved rounds (peer, ours, ours, peer …)
// so that both sides see the same server conditions; each round gives a time
// per insert. Printed: the median of the rounds of each side, their spread
// (lowest and highest round), and the ratio of the medians ours/peer; then
// the same inserts alternating statement by statement, as quantiles. A
// plain round-trip measure ("DO 1", no parameters, through the same driver
// command beside mysql_real_query) shows what the statement text costs.
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
#include <vector>

#include "BenchArgs.h"
#include "BenchSide.h"

namespace driverbench {
namespace {

struct Options {
  std::string envFile;
  int inserts = 20000;
  int rounds = 40;
};

// Client CPU (user + system) of this thread.
double CpuNow() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return secs(u.ru_utime) + secs(u.ru_stime);
}

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct Figures {
  std::vector<double> peer, ours;  // wall seconds per operation, one per round
  double peerCpu = 0, oursCpu = 0;  // client CPU seconds, all rounds
  int perSide = 0;                  // operations per side, all rounds
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void Print(const char* what, const Figures& f) {
  const double peer = Median(f.peer), ours = Median(f.ours);
  auto [pLow, pHigh] = std::minmax_element(f.peer.begin(), f.peer.end());
  auto [oLow, oHigh] = std::minmax_element(f.ours.begin(), f.ours.end());
  std::printf("%-22s %8.2f us [%6.2f..%6.2f] %8.2f us [%6.2f..%6.2f] %8.3f\n", what, peer * 1e6, *pLow * 1e6,
              *pHigh * 1e6, ours * 1e6, *oLow * 1e6, *oHigh * 1e6, ours / peer);
  const double pc = f.peerCpu / f.perSide, oc = f.oursCpu / f.perSide;
  std::printf("%-22s %8.2f us %15s %8.2f us %15s %8.3f\n", "  client cpu", pc * 1e6, "", oc * 1e6, "", oc / pc);
}

// Runs `work(side, n)` in interleaved rounds and records seconds per item.
void Interleave(const Options& o, Side& peer, Side& ours, int total, Figures& f,
                const std::function<void(Side&, int first, int count)>& work) {
  const int perRound = std::max(1, total / o.rounds);
  int next = 0;
  for (int r = 0; r < o.rounds; ++r) {
    // peer-ours, ours-peer, …: neither side always goes first.
    Side* order[2] = {&peer, &ours};
    if (r % 2) std::swap(order[0], order[1]);
    for (Side* s : order) {
      const double c0 = CpuNow();
      const double t0 = Now();
      work(*s, next, perRound);
      const double dt = (Now() - t0) / perRound;
      (s == &peer ? f.peer : f.ours).push_back(dt);
      (s == &peer ? f.peerCpu : f.oursCpu) += CpuNow() - c0;
      next += perRound;
    }
    f.perSide += perRound;
  }
}

double Quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(static_cast<double>(v.size()) * q))];
}

// Statement by statement, alternating the sides: a load on the machine
// falls on both alike, so the lower quantiles show the clients' own cost.
void Alternate(Side& peer, Side& ours, int first, int total) {
  std::vector<double> p, u;
  for (int i = 0; i < total; ++i) {
    Side& s = i % 2 ? ours : peer;
    const double t0 = Now();
    s.Insert(first + i, 1);
    (i % 2 ? u : p).push_back(Now() - t0);
  }
  for (double q : {0.1, 0.5}) {
    char what[40];
    std::snprintf(what, sizeof what, "  alternating, p%02.0f", q * 100);
    const double a = Quantile(p, q), b = Quantile(u, q);
    std::printf("%-22s %8.2f us %15s %8.2f us %15s %8.3f\n", what, a * 1e6, "", b * 1e6, "", b / a);
  }
}

int Run(const Options& o) {
  const Server server = bench::ReadServer(o.envFile);
  std::unique_ptr<Side> peer = MakePeerSide(server);
  std::unique_ptr<Side> ours = MakeOurSide(server);
  peer->Run("CREATE TABLE IF NOT EXISTS bench_drv (id INT NOT NULL, v VARCHAR(40) NOT NULL) ENGINE=MEMORY");
  peer->Run("TRUNCATE TABLE bench_drv");

  // Warm both sides up (connections, server caches).
  peer->RoundTrips(200);
  ours->RoundTrips(200);

  Figures inserts, trips;
  Interleave(o, *peer, *ours, o.inserts, inserts, [](Side& s, int first, int count) { s.Insert(first, count); });
  Interleave(o, *peer, *ours, o.inserts, trips, [](Side& s, int, int count) { s.RoundTrips(count); });

  std::printf("driver benchmark: %d inserts per side in %d interleaved rounds (median per statement)\n",
              std::max(1, o.inserts / o.rounds) * o.rounds, o.rounds);
  std::printf("%-22s %11s %15s %11s %15s %8s\n", "", "peer", "spread", "ours", "spread", "ours/peer");
  Print("insert, 2 parameters", inserts);
  const int rounded = std::max(1, o.inserts / o.rounds) * o.rounds;
  Alternate(*peer, *ours, 2 * rounded, 2 * rounded);
  Print("round trip (DO 1)", trips);

  // Every insert arrived, with its value intact.
  const int expected = rounded * 4;
  const std::string count = ours->Scalar("SELECT COUNT(*) FROM bench_drv");
  const std::string intact = ours->Scalar(
      "SELECT COUNT(DISTINCT id) FROM bench_drv WHERE v = CONCAT(IF(id % 7 = 0, 'it''s row ', 'row '), id)");
  if (count != std::to_string(expected) || intact != count)
    throw std::runtime_error("rows lost or changed: " + count + " rows, " + intact + " intact");

  peer->Run("DROP TABLE bench_drv");
  return 0;
}

}  // namespace
}  // namespace driverbench

int main(int argc, char** argv) {
  driverbench::Options o;
  const bool parsed = bench::ParseOptions(argc, argv, "driver_bench", [&](const std::string& a, auto next) {
    if (a == "--env") o.envFile = next();
    else if (a == "--inserts") o.inserts = std::max(1, std::stoi(next()));
    else if (a == "--rounds") o.rounds = std::max(1, std::stoi(next()));
    else return false;
    return true;
  });
  if (!parsed) return 2;
  try {
    return driverbench::Run(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "driver_bench: %s\n", e.what());
    return 1;
  }
}
