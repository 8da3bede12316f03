#pragma once
// The two clocks every benchmark reads: the process's CPU time (user and
// system) and a steady wall clock, both in seconds.

#include <sys/resource.h>

#include <chrono>

namespace bench {

inline double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return secs(u.ru_utime) + secs(u.ru_stime);
}

inline double WallSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace bench
