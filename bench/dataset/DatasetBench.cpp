// Dataset benchmark: a million rows of (INT, VARCHAR(40), DATETIME, DOUBLE)
// opened with FetchAll through our record set and dataset and walked
// reading every field typed, beside the stock client library's
// mysql_store_result with the same conversions; then forward-only reading
// at two row counts, whose memory must not grow with the rows.
//
//   dataset_bench --env <build>/testserver/server.env [--rows N] [--repeat N]
//                 [--forward-rows A,B] [--only ours|peer]
//
// Each measured walk runs in a child process of its own, so that its peak
// memory (the growth of the resident set over the child's start) belongs
// to that walk alone. Prints client CPU, wall and peak memory, and the
// ratios ours/peer.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchArgs.h"
#include "BenchClock.h"
#include "DatasetSide.h"

namespace bench {
namespace {

struct Options {
  std::string envFile;
  uint64_t rows = 1000000;
  int repeat = 3;
  std::vector<uint64_t> forwardRows = {100000, 1000000};
  std::string only;  // "ours" or "peer": one walk in this process (for a profiler)
};

struct Result {
  double cpu = 0, wall = 0;
  long peakKiB = 0;
  WalkSums sums;
  char error[200] = {};
};

long StatusKiB(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
  return 0;
}

// Runs `walk` in a child process and answers what it measured there.
Result InChild(const std::function<WalkSums()>& walk) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    close(fds[0]);
    Result r;
    // The peak restarts at the resident set of now.
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
      std::fputs("5", f);
      std::fclose(f);
    }
    const long start = StatusKiB("VmRSS:");
    const double c0 = CpuSeconds(), w0 = WallSeconds();
    try {
      r.sums = walk();
    } catch (const std::exception& e) {
      std::snprintf(r.error, sizeof r.error, "%s", e.what());
    }
    r.cpu = CpuSeconds() - c0;
    r.wall = WallSeconds() - w0;
    r.peakKiB = StatusKiB("VmHWM:") - start;
    ssize_t written = write(fds[1], &r, sizeof r);
    _exit(written == static_cast<ssize_t>(sizeof r) ? 0 : 1);
  }
  close(fds[1]);
  Result r;
  ssize_t got = read(fds[0], &r, sizeof r);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (got != static_cast<ssize_t>(sizeof r)) throw std::runtime_error("a measured walk died");
  if (r.error[0]) throw std::runtime_error(r.error);
  return r;
}

void CheckSame(const WalkSums& a, const WalkSums& b, uint64_t rows) {
  auto near = [](double x, double y) { return std::fabs(x - y) <= 1e-9 * std::max(1.0, std::fabs(x)); };
  if (a.rows != rows || b.rows != rows || a.ints != b.ints || a.textBytes != b.textBytes || !near(a.days, b.days) ||
      !near(a.amounts, b.amounts))
    throw std::runtime_error("the two sides read different values");
}

void Line(const char* what, double peer, double ours, const char* unit) {
  std::printf("%-34s %12.3f %s %12.3f %s %10.2f\n", what, peer, unit, ours, unit, peer > 0 ? ours / peer : 0.0);
}

int Run(const Options& o) {
  const ServerAddress server = ReadServer(o.envFile);
  if (!o.only.empty()) {
    const WalkSums s = o.only == "peer" ? PeerWalk(server, o.rows) : OurWalk(server, false, o.rows);
    std::printf("%s: %llu rows\n", o.only.c_str(), static_cast<unsigned long long>(s.rows));
    return 0;
  }
  const uint64_t tableRows = std::max(o.rows, *std::max_element(o.forwardRows.begin(), o.forwardRows.end()));
  PrepareTable(server, tableRows);

  Result peerBest, ourBest;
  peerBest.cpu = peerBest.wall = ourBest.cpu = ourBest.wall = 1e300;
  peerBest.peakKiB = ourBest.peakKiB = 0;
  WalkSums reference;
  for (int r = 0; r < o.repeat; ++r) {
    // Alternate the order so that neither side always meets a warm server.
    for (int k = 0; k < 2; ++k) {
      const bool peer = (r + k) % 2 == 0;
      Result res = peer ? InChild([&] { return PeerWalk(server, o.rows); })
                        : InChild([&] { return OurWalk(server, false, o.rows); });
      Result& best = peer ? peerBest : ourBest;
      best.cpu = std::min(best.cpu, res.cpu);
      best.wall = std::min(best.wall, res.wall);
      best.peakKiB = best.peakKiB == 0 ? res.peakKiB : std::min(best.peakKiB, res.peakKiB);
      best.sums = res.sums;
    }
  }
  CheckSame(peerBest.sums, ourBest.sums, o.rows);

  std::printf("dataset benchmark: %llu rows of (INT, VARCHAR(40), DATETIME, DOUBLE), best of %d\n",
              static_cast<unsigned long long>(o.rows), o.repeat);
  std::printf("%-34s %14s %14s %10s\n", "", "peer", "ours", "ours/peer");
  Line("open with FetchAll + walk, cpu", peerBest.cpu, ourBest.cpu, "s");
  Line("open with FetchAll + walk, wall", peerBest.wall, ourBest.wall, "s");
  Line("peak memory", peerBest.peakKiB / 1024.0, ourBest.peakKiB / 1024.0, "MiB");

  std::printf("forward-only reading (UniDirectional, rows read on demand):\n");
  for (uint64_t rows : o.forwardRows) {
    Result res = InChild([&] { return OurWalk(server, true, rows); });
    if (res.sums.rows != rows) throw std::runtime_error("forward-only reading lost rows");
    std::printf("  %10llu rows: peak memory %8.2f MiB, cpu %7.3f s\n", static_cast<unsigned long long>(rows),
                res.peakKiB / 1024.0, res.cpu);
  }
  return 0;
}

std::vector<uint64_t> ParseList(const std::string& text) {
  std::vector<uint64_t> values;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) values.push_back(std::stoull(item));
  if (values.empty()) throw std::runtime_error("empty list");
  return values;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  bench::Options o;
  const bool parsed = bench::ParseOptions(argc, argv, "dataset_bench", [&](const std::string& a, auto next) {
    if (a == "--env") o.envFile = next();
    else if (a == "--rows") o.rows = std::stoull(next());
    else if (a == "--repeat") o.repeat = std::max(1, std::stoi(next()));
    else if (a == "--only") o.only = next();
    else if (a == "--forward-rows") o.forwardRows = bench::ParseList(next());
    else return false;
    return true;
  });
  if (!parsed) return 2;
  try {
    return bench::Run(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dataset_bench: %s\n", e.what());
    return 1;
  }
}
