// The TCP transport's blocking connect when a signal interrupts it, as POSIX
// specifies the case: the connect goes on by itself, and a second connect on
// the socket fails with EALREADY while it is under way. Linux lets a second
// blocking connect wait instead, so this program puts the POSIX behaviour in
// front of the system's connect (its own definition of `connect`, which the
// transport linked into it calls); the socket and the connection are real.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>

#include "ScriptedServer.h"
#include "mysql/CRVioTcp.h"

namespace {

std::atomic<bool> interruptNextConnect{false};
std::atomic<int> interruptedSocket{-1};
std::atomic<int> connectCalls{0};

using ConnectFn = int (*)(int, const sockaddr*, socklen_t);

ConnectFn SystemConnect() {
  static ConnectFn fn = reinterpret_cast<ConnectFn>(dlsym(RTLD_NEXT, "connect"));
  return fn;
}

}  // namespace

extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
  ++connectCalls;
  if (interruptNextConnect.exchange(false)) {
    // Start the connection without waiting, then answer as an interrupted
    // blocking connect does.
    int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = SystemConnect()(fd, address, length);
    int error = errno;
    ::fcntl(fd, F_SETFL, flags);
    if (rc != 0 && error != EINPROGRESS) {
      errno = error;
      return -1;
    }
    interruptedSocket = fd;
    errno = EINTR;
    return -1;
  }
  if (fd == interruptedSocket) {
    pollfd p{fd, POLLOUT, 0};
    errno = ::poll(&p, 1, 0) == 1 ? EISCONN : EALREADY;
    return -1;
  }
  return SystemConnect()(fd, address, length);
}

namespace da::mysql {
namespace {

using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;

TEST(CRVioTcpSignal, InterruptedBlockingConnectIsWaitedFor) {
  ScriptedServer server([](ScriptedConnection& c) {
    testsupport::Bytes hello = c.Read(2);
    c.Send(hello);
  });
  TCRVioTcp vio("127.0.0.1", server.port());
  vio.SetIoTimeout(0);  // blocking connect without limit
  connectCalls = 0;
  interruptNextConnect = true;
  try {
    vio.Connect();
  } catch (const SocketException& e) {
    ADD_FAILURE() << e.Message() << " (" << vio.ErrorText() << ")";
  }
  interruptedSocket = -1;
  EXPECT_EQ(connectCalls, 1);
  const uint8_t hello[] = {'h', 'i'};
  ASSERT_EQ(vio.Write(hello, 0, 2), 2);
  uint8_t answer[2] = {};
  EXPECT_EQ(vio.Read(answer, 0, 2), 2);
  EXPECT_EQ(answer[1], 'i');
  EXPECT_EQ(server.Finish(), "");
}

}  // namespace
}  // namespace da::mysql
