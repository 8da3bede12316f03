#pragma once
// Runs this thread and every thread of a local server on one CPU for a
// scope. On a small machine a statement's round trip otherwise depends on
// where the scheduler puts the server thread that serves the connection
// (on the client's CPU, or on another one that has to be woken), and that
// placement differs from connection to connection and from run to run; on
// one CPU each side's hand-off to the server and back is the same.

#include <sched.h>
#include <sys/types.h>

#include <string>

namespace bench {

class OneCpuScope {
 public:
  // Pins this thread and each thread of `serverPid` to the CPU this thread
  // runs on. When that cannot be done nothing stays pinned and Why() says
  // what failed.
  explicit OneCpuScope(pid_t serverPid);
  // Gives this thread and the server's threads their CPU sets back.
  ~OneCpuScope();
  OneCpuScope(const OneCpuScope&) = delete;
  OneCpuScope& operator=(const OneCpuScope&) = delete;

  bool Active() const { return active_; }
  int Cpu() const { return cpu_; }
  const std::string& Why() const { return why_; }

 private:
  void Restore();

  pid_t serverPid_;
  cpu_set_t ownSet_{};
  cpu_set_t serverSet_{};
  bool active_ = false;
  int cpu_ = -1;
  std::string why_;
};

// The process a server's pid file names, or 0 when the file cannot be read
// or names no running process.
pid_t PidFromFile(const std::string& path);

}  // namespace bench
