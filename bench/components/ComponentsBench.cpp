// The full stack against the peer client library, in one run:
//   (a) TMyQuery Open with FetchAll of N rows (INT, VARCHAR(40), DATETIME,
//       DOUBLE) and a typed walk through the fields FieldNamed gives,
//       beside mysql_store_result plus the same conversions (strtol, a
//       std::string, a date parse into the same day count, strtod);
//       client CPU and peak memory, each side measured in a child process
//       of its own so that neither inherits the other's heap;
//   (b) M TMyQuery Execute INSERTs with two parameters beside the peer's
//       mysql_real_escape_string + mysql_real_query, the sides alternating
//       statement by statement over K rounds, each round on a new pair of
//       connections; total wall time and per-statement quantiles (p10, p50,
//       p90), which a loaded machine disturbs less. When the server runs on
//       this machine, (b) runs with this process and every server thread on
//       one CPU (given back after), so that both sides hand each statement
//       over alike; --any-cpu leaves the placement to the scheduler.
//
//   components_bench --env <build>/testserver/server.env [--rows N] [--inserts M] [--rounds K] [--repeat R]
//                    [--any-cpu]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchArgs.h"
#include "BenchClock.h"
#include "BenchSides.h"
#include "OneCpu.h"

namespace bench {
namespace {

struct Options {
  std::string envFile;
  uint64_t rows = 1000000;
  int inserts = 20000;
  // A statement's round trip depends on the server thread serving the
  // connection and where it runs (on two cores: beside the client or not),
  // which stays for the connection's life; new connections each round
  // spread that luck over both sides alike.
  int rounds = 40;
  int repeat = 3;
  // (b) with this process and a local server on one CPU (see OneCpu.h).
  bool oneCpu = true;
};

// The process of the server `s` names when it runs on this machine, else 0.
pid_t LocalServerPid(const ServerAddress& s) {
  if (s.host != "127.0.0.1" && s.host != "localhost" && s.host != "::1") return 0;
  const pid_t pid = PidFromFile(PeerText(s, "SELECT @@pid_file"));
  if (pid == 0) return 0;
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  comm >> name;
  return name == "mariadbd" || name == "mysqld" ? pid : 0;
}

long CurrentRssKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// --- Measuring in a child ----------------------------------------------------------

struct ReadCost {
  double cpu = 0;       // seconds of client CPU for the open and the walk
  long peakKiB = 0;     // peak resident growth over the child's start
  Sums sums;
};

ReadCost InChild(const std::function<Sums()>& work) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    close(fds[0]);
    ReadCost c;
    int status = 0;
    try {
      const long base = CurrentRssKiB();
      const double c0 = CpuSeconds();
      c.sums = work();
      c.cpu = CpuSeconds() - c0;
      rusage ru{};
      getrusage(RUSAGE_SELF, &ru);
      c.peakKiB = ru.ru_maxrss - base;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "child: %s\n", e.what());
      status = 1;
    }
    if (write(fds[1], &c, sizeof c) != static_cast<ssize_t>(sizeof c)) status = 1;
    close(fds[1]);
    _exit(status);
  }
  close(fds[1]);
  ReadCost c;
  ssize_t got = read(fds[0], &c, sizeof c);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (got != static_cast<ssize_t>(sizeof c) || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("a measuring child failed");
  return c;
}

int Run(const Options& o) {
  const ServerAddress s = ReadServer(o.envFile);
  PeerExec(s,
           "CREATE TABLE IF NOT EXISTS bench_comp_rows (id INT PRIMARY KEY, name VARCHAR(40) NOT NULL, "
           "created DATETIME NOT NULL, amount DOUBLE NOT NULL) ENGINE=InnoDB");
  PeerExec(s, "TRUNCATE TABLE bench_comp_rows");
  PeerExec(s,
           "INSERT INTO bench_comp_rows SELECT seq, LPAD(CONCAT('name-', seq), 40, 'x'), "
           "'2026-01-01 00:00:00' + INTERVAL seq SECOND, seq * 1.25 FROM seq_1_to_" +
               std::to_string(o.rows));
  PeerExec(s, "CREATE TABLE IF NOT EXISTS bench_comp_ins (id INT NOT NULL, v VARCHAR(40) NOT NULL) ENGINE=MEMORY");
  PeerExec(s, "TRUNCATE TABLE bench_comp_ins");
  const char* select = "SELECT id, name, created, amount FROM bench_comp_rows";

  // (a) Open and walk.
  ReadCost peerBest, ourBest;
  peerBest.cpu = ourBest.cpu = 1e300;
  for (int r = 0; r < o.repeat; ++r) {
    for (int side = 0; side < 2; ++side) {
      const bool peerFirst = r % 2 == 0;
      const bool isPeer = (side == 0) == peerFirst;
      ReadCost c = InChild([&] { return isPeer ? PeerRead(s, select) : OurRead(s, select); });
      if (c.sums.rows != o.rows) throw std::runtime_error("a side read " + std::to_string(c.sums.rows) + " rows");
      ReadCost& best = isPeer ? peerBest : ourBest;
      if (c.cpu < best.cpu) {
        best.cpu = c.cpu;
        best.sums = c.sums;
      }
      best.peakKiB = best.peakKiB ? std::min(best.peakKiB, c.peakKiB) : c.peakKiB;
    }
  }
  if (peerBest.sums.ids != ourBest.sums.ids || peerBest.sums.nameBytes != ourBest.sums.nameBytes ||
      std::fabs(peerBest.sums.dates - ourBest.sums.dates) > 1e-6 * std::fabs(peerBest.sums.dates) ||
      std::fabs(peerBest.sums.amounts - ourBest.sums.amounts) > 1e-9 * std::fabs(peerBest.sums.amounts))
    throw std::runtime_error("the two sides read different values");

  // (b) Parameterised inserts, the two sides alternating statement by
  // statement, so that a change of load on the machine hits both alike.
  std::vector<double> peerTimes, ourTimes;
  peerTimes.reserve(static_cast<size_t>(o.inserts));
  ourTimes.reserve(static_cast<size_t>(o.inserts));
  int counter = 0;
  const int rounds = std::min(o.rounds, o.inserts);
  std::unique_ptr<OneCpuScope> oneCpu;
  if (o.oneCpu) oneCpu = std::make_unique<OneCpuScope>(LocalServerPid(s));
  for (int r = 0; r < rounds; ++r) {
    // The server hands a new connection a thread from its cache: which
    // side connects first alternates, so that neither keeps one thread.
    std::unique_ptr<Inserter> peer, ours;
    if (r % 2 == 0) {
      peer = PeerInserter(s);
      ours = OurInserter(s);
    } else {
      ours = OurInserter(s);
      peer = PeerInserter(s);
    }
    for (int i = o.inserts * r / rounds; i < o.inserts * (r + 1) / rounds; ++i) {
      for (int side = 0; side < 2; ++side) {
        const bool isPeer = (side == 0) == (i % 2 == 0);
        Inserter& ins = isPeer ? *peer : *ours;
        const double w0 = WallSeconds();
        ins.Insert(counter, "value-'" + std::to_string(counter));
        (isPeer ? peerTimes : ourTimes).push_back(WallSeconds() - w0);
        ++counter;
      }
    }
  }
  std::string placement = "CPUs as the scheduler gives them";
  if (oneCpu && oneCpu->Active())
    placement = "client and server on CPU " + std::to_string(oneCpu->Cpu());
  else if (oneCpu)
    placement += " (" + oneCpu->Why() + ")";
  oneCpu.reset();
  const long stored = PeerScalar(s, "SELECT COUNT(*) FROM bench_comp_ins");
  if (stored != counter) throw std::runtime_error("inserts lost: " + std::to_string(stored));
  double peerWall = 0, ourWall = 0;
  for (double t : peerTimes) peerWall += t;
  for (double t : ourTimes) ourWall += t;
  auto quantile = [](std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1))];
  };

  std::printf("components benchmark: %llu rows read, %d inserts per side\n",
              static_cast<unsigned long long>(o.rows), o.inserts);
  std::printf("%-34s %12s %12s %10s\n", "", "peer", "ours", "ours/peer");
  std::printf("%-34s %10.3f s %10.3f s %10.2f\n", "(a) open + walk, client cpu", peerBest.cpu, ourBest.cpu,
              ourBest.cpu / peerBest.cpu);
  std::printf("%-34s %8ld KiB %8ld KiB %10.2f\n", "(a) open + walk, peak memory", peerBest.peakKiB, ourBest.peakKiB,
              peerBest.peakKiB > 0 ? static_cast<double>(ourBest.peakKiB) / static_cast<double>(peerBest.peakKiB) : 0.0);
  std::printf("%-34s %10.3f s %10.3f s %10.2f\n", "(b) inserts, wall", peerWall, ourWall, ourWall / peerWall);
  for (double q : {0.1, 0.5, 0.9, 0.99}) {
    const double p = quantile(peerTimes, q) * 1e6, u = quantile(ourTimes, q) * 1e6;
    std::printf("(b) inserts, p%-2d per statement      %9.1f us %9.1f us %10.2f\n", static_cast<int>(q * 100), p, u,
                u / p);
  }
  std::printf("(b) ran with %s\n", placement.c_str());
  return 0;
}

}  // namespace

}  // namespace bench

int main(int argc, char** argv) {
  bench::Options o;
  const bool parsed = bench::ParseOptions(argc, argv, "components_bench", [&](const std::string& a, auto next) {
    if (a == "--env") o.envFile = next();
    else if (a == "--rows") o.rows = std::stoull(next());
    else if (a == "--inserts") o.inserts = std::max(1, std::stoi(next()));
    else if (a == "--rounds") o.rounds = std::max(1, std::stoi(next()));
    else if (a == "--repeat") o.repeat = std::max(1, std::stoi(next()));
    else if (a == "--any-cpu") o.oneCpu = false;
    else return false;
    return true;
  });
  if (!parsed) return 2;
  try {
    return bench::Run(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "components_bench: %s\n", e.what());
    return 1;
  }
}
