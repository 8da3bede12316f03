// The local-socket transport against a socket of the test's own: where it
// connects, how it writes, what it reports when it cannot connect.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "mysql/MySqlErrors.h"
#include "transports/MySqlVioPipe.h"

namespace da::transports {
namespace {

// A listening Unix socket in a fresh temporary folder.
class LocalListener {
 public:
  LocalListener() {
    char folder[] = "/tmp/da-pipe-XXXXXX";
    dir_ = ::mkdtemp(folder);
    path_ = dir_ + "/server.sock";
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, path_.c_str());
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 4);
  }
  ~LocalListener() {
    ::close(fd_);
    ::unlink(path_.c_str());
    ::rmdir(dir_.c_str());
  }
  const std::string& path() const { return path_; }
  int Accept() { return ::accept(fd_, nullptr, nullptr); }

 private:
  std::string dir_, path_;
  int fd_;
};

TEST(LocalSocketVio, LocalHostNamesReachTheSocket) {
  LocalListener listener;
  for (const char* host : {"", ".", "localhost", "LOCALHOST"}) {
    TMySqlVioPipe pipe(host, 3306, listener.path());
    pipe.SetIoTimeout(5);
    ASSERT_NO_THROW(pipe.Connect()) << host << ": " << pipe.ErrorText();
    int peer = listener.Accept();
    ASSERT_GE(peer, 0);
    const uint8_t hello[] = {'h', 'i'};
    EXPECT_EQ(pipe.Write(hello, 0, 2), 2);
    char got[2] = {};
    EXPECT_EQ(::recv(peer, got, 2, MSG_WAITALL), 2);
    EXPECT_EQ(std::string(got, 2), "hi");
    ::send(peer, "ok", 2, 0);
    uint8_t answer[2] = {};
    EXPECT_EQ(pipe.Read(answer, 0, 2), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(answer), 2), "ok");
    ::close(peer);
    // The peer is gone: the stream ends.
    EXPECT_EQ(pipe.Read(answer, 0, 1), 0);
    pipe.Close();
    pipe.Close();  // harmless
  }
}

TEST(LocalSocketVio, OneSendTakesAtMost65535Bytes) {
  LocalListener listener;
  TMySqlVioPipe pipe("", 0, listener.path());
  pipe.Connect();
  int peer = listener.Accept();
  std::string received;
  std::thread reader([&] {
    char buffer[65536];
    ssize_t n;
    while ((n = ::recv(peer, buffer, sizeof buffer, 0)) > 0) received.append(buffer, static_cast<size_t>(n));
  });
  std::string data(100000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(data.data());
  EXPECT_EQ(pipe.SendOnce(bytes, 0, 100000), 65535);
  EXPECT_EQ(pipe.Write(bytes, 65535, 34465), 34465);
  pipe.Close();
  reader.join();
  ::close(peer);
  EXPECT_TRUE(received == data) << received.size();
}

TEST(LocalSocketVio, FailuresNameTheHostThePathAndTheReason) {
  const struct {
    const char* host;
    const char* path;
    const char* message;
  } cases[] = {
      {"db.example", "/tmp/x.sock",
       "Can't open named pipe to host: db.example  pipe: /tmp/x.sock (a local socket reaches only this machine)"},
      {"localhost", "/nonexistent/da.sock",
       "Can't open named pipe to host: localhost  pipe: /nonexistent/da.sock (No such file or directory)"},
  };
  for (const auto& c : cases) {
    TMySqlVioPipe pipe(c.host, 3306, c.path);
    try {
      pipe.Connect();
      ADD_FAILURE() << "connected to " << c.path;
    } catch (const mysql::EMySqlException& e) {
      EXPECT_EQ(e.ErrorCode(), mysql::CR_NAMEDPIPEOPEN_ERROR);
      EXPECT_EQ(e.Message(), c.message);
      EXPECT_EQ(pipe.ErrorText(), c.message);
    }
    EXPECT_FALSE(pipe.IsOpen());
  }
}

TEST(LocalSocketVio, AnEmptyNameIsTheServersUsualSocket) {
  TMySqlVioPipe pipe("", 3306, "");
  EXPECT_EQ(pipe.SocketPath(), "/run/mysqld/mysqld.sock");
  TMySqlVioPipe named("", 3306, "/tmp/s.sock");
  EXPECT_EQ(named.SocketPath(), "/tmp/s.sock");
}

}  // namespace
}  // namespace da::transports
