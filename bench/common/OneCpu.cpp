#include "OneCpu.h"

#include <dirent.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace bench {
namespace {

// The threads of `pid` as /proc lists them now.
std::vector<pid_t> ThreadsOf(pid_t pid) {
  std::vector<pid_t> threads;
  const std::string dir = "/proc/" + std::to_string(pid) + "/task";
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d))
      if (const pid_t tid = static_cast<pid_t>(std::atol(e->d_name)); tid > 0) threads.push_back(tid);
    closedir(d);
  }
  return threads;
}

// Sets the CPU set of every thread of `pid`; answers the first failure's
// text, or empty. A thread that ended meanwhile is no failure.
std::string SetThreads(pid_t pid, const cpu_set_t& set) {
  const std::vector<pid_t> threads = ThreadsOf(pid);
  if (threads.empty()) return "no threads of process " + std::to_string(pid) + " in /proc";
  for (pid_t tid : threads)
    if (sched_setaffinity(tid, sizeof set, &set) != 0 && errno != ESRCH)
      return "cannot pin thread " + std::to_string(tid) + ": " + std::strerror(errno);
  return {};
}

}  // namespace

OneCpuScope::OneCpuScope(pid_t serverPid) : serverPid_(serverPid) {
  if (serverPid_ <= 0) {
    why_ = "no local server process";
    return;
  }
  cpu_ = sched_getcpu();
  if (cpu_ < 0 || sched_getaffinity(0, sizeof ownSet_, &ownSet_) != 0 ||
      sched_getaffinity(serverPid_, sizeof serverSet_, &serverSet_) != 0) {
    why_ = std::string("cannot read the CPU sets: ") + std::strerror(errno);
    return;
  }
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu_, &one);
  if (sched_setaffinity(0, sizeof one, &one) != 0) {
    why_ = std::string("cannot pin this thread: ") + std::strerror(errno);
    return;
  }
  why_ = SetThreads(serverPid_, one);
  active_ = why_.empty();
  if (!active_) Restore();
}

OneCpuScope::~OneCpuScope() {
  if (active_) Restore();
}

void OneCpuScope::Restore() {
  sched_setaffinity(0, sizeof ownSet_, &ownSet_);
  SetThreads(serverPid_, serverSet_);
}

pid_t PidFromFile(const std::string& path) {
  std::ifstream in(path);
  long pid = 0;
  if (!(in >> pid) || pid <= 0) return 0;
  return kill(static_cast<pid_t>(pid), 0) == 0 ? static_cast<pid_t>(pid) : 0;
}

}  // namespace bench
