// The byte-stream transport: the buffered read and retrying write of the
// base, and the TCP transport against sockets of our own.
#include "mysql/CRVioTcp.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "ScriptedServer.h"
#include "WireTestSupport.h"

namespace da::mysql {
namespace {

using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;
using wiretest::Bytes;
using wiretest::SilentListener;
using wiretest::TMemoryVio;

Bytes Sequence(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7);
  return b;
}

TEST(CRVioRead, SmallReadsShareOneReceive) {
  TMemoryVio vio(Sequence(104));
  vio.Connect();
  uint8_t buffer[200];
  EXPECT_EQ(vio.Read(buffer, 0, 4), 4);
  EXPECT_EQ(vio.Read(buffer, 4, 100), 100);
  EXPECT_EQ(vio.receives, 1);
  EXPECT_EQ(Bytes(buffer, buffer + 104), Sequence(104));
}

TEST(CRVioRead, LargeReadGoesStraightToTheCaller) {
  // A read of 2048 bytes or more bypasses the read-ahead buffer: the
  // receives are sized by the caller's count.
  TMemoryVio vio(Sequence(5000), 1000);
  vio.Connect();
  Bytes buffer(5000);
  EXPECT_EQ(vio.Read(buffer.data(), 0, 5000), 5000);
  EXPECT_EQ(buffer, Sequence(5000));
  EXPECT_EQ(vio.receives, 5);
}

TEST(CRVioRead, PartialReceivesAreJoined) {
  TMemoryVio vio(Sequence(300), 7);
  vio.Connect();
  Bytes buffer(300);
  EXPECT_EQ(vio.Read(buffer.data(), 0, 300), 300);
  EXPECT_EQ(buffer, Sequence(300));
}

TEST(CRVioRead, EndOfStreamGivesAShortCount) {
  TMemoryVio vio(Sequence(3));
  vio.Connect();
  uint8_t buffer[10];
  EXPECT_EQ(vio.Read(buffer, 0, 10), 3);
  EXPECT_EQ(vio.pauses, 1);
  EXPECT_EQ(vio.Read(buffer, 0, 4), 0);
  EXPECT_EQ(vio.pauses, 2);
}

TEST(CRVioRead, BufferedBytesCanBeUsedInPlace) {
  TMemoryVio vio(Sequence(10));
  vio.Connect();
  int32_t count = -1;
  vio.Buffered(count);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(vio.FillReadAhead(), 10);
  const uint8_t* p = vio.Buffered(count);
  EXPECT_EQ(Bytes(p, p + count), Sequence(10));
  vio.Consume(4);
  uint8_t rest[6];
  EXPECT_EQ(vio.Read(rest, 0, 6), 6);
  const Bytes all = Sequence(10);
  EXPECT_EQ(Bytes(rest, rest + 6), Bytes(all.begin() + 4, all.end()));
  EXPECT_EQ(vio.receives, 1);
  TMemoryVio unconnected;
  EXPECT_EQ(unconnected.FillReadAhead(), -1);
}

TEST(CRVioWrite, GivesUpAfterThreeEmptySends) {
  Bytes data = Sequence(12);
  // 5 bytes, then three sends that accept nothing, though a success came
  // between: the count is over the whole call.
  struct Flaky : TMemoryVio {
    int call = 0;
    int32_t SendOnce(const uint8_t* b, int32_t o, int32_t c) override {
      ++call;
      if (call == 2 || call == 4 || call == 5) return 0;
      return TMemoryVio::SendOnce(b, o, std::min(c, 5));
    }
  } flaky;
  EXPECT_EQ(flaky.Write(data.data(), 0, 12), 10);
  EXPECT_EQ(flaky.call, 5);
  EXPECT_EQ(flaky.output, Bytes(data.begin(), data.begin() + 10));
}

// --- TCP ------------------------------------------------------------------

TEST(CRVioTcp, TalksToAPeer) {
  ScriptedServer server([](ScriptedConnection& c) {
    Bytes got = c.Read(5);
    got.push_back('!');
    c.Send(got);
  });
  TCRVioTcp vio("127.0.0.1", server.port());
  vio.Connect();
  EXPECT_GE(vio.GetSocketHandle(), 0);
  const uint8_t hello[] = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(vio.Write(hello, 0, 5), 5);
  uint8_t answer[6];
  EXPECT_EQ(vio.Read(answer, 0, 6), 6);
  EXPECT_EQ(std::string(answer, answer + 6), "hello!");
  vio.Close();
  vio.Close();  // harmless
  EXPECT_EQ(vio.GetSocketHandle(), -1);
  EXPECT_EQ(vio.Write(hello, 0, 5), 0);
}

TEST(CRVioTcp, PeerClosingGivesShortReadWithoutError) {
  ScriptedServer server([](ScriptedConnection& c) { c.Close(); });
  TCRVioTcp vio("127.0.0.1", server.port());
  vio.Connect();
  uint8_t buffer[4];
  EXPECT_EQ(vio.Read(buffer, 0, 4), 0);
  EXPECT_EQ(vio.ErrorText(), "");
}

TEST(CRVioTcp, ClosedPortIsRefused) {
  TCRVioTcp vio("127.0.0.1", testsupport::UnusedPort());
  try {
    vio.Connect();
    FAIL() << "connected to a closed port";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.ErrorCode(), 2003);
    EXPECT_EQ(e.Message(), "Socket error " + std::to_string(ECONNREFUSED));
  }
  EXPECT_EQ(vio.ErrorText(), "Socket error on connect. WSAGetLastError return 111($6F)");
  EXPECT_EQ(vio.GetSocketHandle(), -1);
}

TEST(CRVioTcp, ConnectIsBoundedByTheConnectionTimeout) {
  SilentListener silent;
  TCRVioTcp vio("127.0.0.1", silent.port());
  vio.SetIoTimeout(1);
  try {
    vio.Connect();
    FAIL() << "connected to a listener that cannot accept";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.ErrorCode(), 2003);
  }
  EXPECT_EQ(vio.ErrorText(), "Connection timed out");
  EXPECT_EQ(vio.GetSocketHandle(), -1);
}

TEST(CRVioTcp, NameLookupTimesOutAndTheAbandonedThreadTouchesNothing) {
  // The lookup outlives its transport: under the sanitizers any touch of the
  // freed transport by the resolver thread is reported.
  auto finished = std::make_shared<std::atomic<bool>>(false);
  {
    auto vio = std::make_unique<TCRVioTcp>("slow.example", 3306);
    vio->SetNameLookup([finished](const std::string&, uint32_t& address, int&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      address = htonl(INADDR_LOOPBACK);
      finished->store(true);
      return true;
    });
    vio->SetConnectionTimeoutSeconds(1);
    try {
      vio->Connect();
      FAIL() << "the lookup did not time out";
    } catch (const SocketException& e) {
      EXPECT_EQ(e.ErrorCode(), 2005);
    }
    EXPECT_EQ(vio->ErrorText(), "Connection timed out");
  }
  for (int i = 0; i < 300 && !finished->load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(finished->load());
}

TEST(CRVioTcp, NameLookupWithoutLimitRunsOnTheCaller) {
  ScriptedServer server([](ScriptedConnection& c) { c.Close(); });
  TCRVioTcp vio("some.name", server.port());
  std::thread::id caller = std::this_thread::get_id(), lookedUpOn;
  vio.SetNameLookup([&](const std::string& host, uint32_t& address, int&) {
    EXPECT_EQ(host, "some.name");
    lookedUpOn = std::this_thread::get_id();
    address = htonl(INADDR_LOOPBACK);
    return true;
  });
  vio.Connect();
  EXPECT_EQ(lookedUpOn, caller);
}

TEST(CRVioTcp, UnknownHostFailsWithTheLookupError) {
  TCRVioTcp vio("no.such.host", 3306);
  vio.SetNameLookup([](const std::string&, uint32_t&, int& error) {
    error = 2;
    return false;
  });
  try {
    vio.Connect();
    FAIL();
  } catch (const SocketException& e) {
    EXPECT_EQ(e.ErrorCode(), 2005);
    EXPECT_EQ(e.Message(), "Socket error 2");
  }
  EXPECT_EQ(vio.ErrorText(), "Socket error on connect. WSAGetLastError return 2($2)");
}

TEST(CRVioTcp, EmptyHostIsLocalhostAndDottedAddressesAreNotLookedUp) {
  ScriptedServer server([](ScriptedConnection& c) { c.Close(); }, 2);
  std::string looked;
  TCRVioTcp a("", server.port());
  a.SetNameLookup([&](const std::string& host, uint32_t& address, int&) {
    looked = host;
    address = htonl(INADDR_LOOPBACK);
    return true;
  });
  a.Connect();
  EXPECT_EQ(a.Host(), "localhost");
  EXPECT_EQ(looked, "localhost");

  TCRVioTcp b("127.0.0.1", server.port());
  b.SetNameLookup([&](const std::string&, uint32_t&, int&) -> bool { throw std::logic_error("looked up"); });
  EXPECT_NO_THROW(b.Connect());
}

TEST(CRVioTcp, HostAndPortAreFixedWhileOpen) {
  ScriptedServer server([](ScriptedConnection& c) { c.WaitForClose(); });
  TCRVioTcp vio("127.0.0.1", server.port());
  vio.Connect();
  try {
    vio.SetHost("other");
    FAIL();
  } catch (const SocketException& e) {
    EXPECT_EQ(e.ErrorCode(), 2007);
    EXPECT_EQ(e.Message(), "Cannot change Host for open socket.");
  }
  try {
    vio.SetPort(1);
    FAIL();
  } catch (const SocketException& e) {
    EXPECT_EQ(e.Message(), "Cannot change Port for open socket.");
  }
  vio.Close();
  vio.SetHost("other");
  EXPECT_EQ(vio.Host(), "other");
}

timeval SocketOption(int fd, int option) {
  timeval tv{};
  socklen_t len = sizeof tv;
  ::getsockopt(fd, SOL_SOCKET, option, &tv, &len);
  return tv;
}

TEST(CRVioTcp, TimeoutsFollowTheReceiveTimeout) {
  ScriptedServer server([](ScriptedConnection& c) { c.WaitForClose(); }, 2);
  TCRVioTcp vio("127.0.0.1", server.port());
  EXPECT_EQ(vio.GetIoTimeout(), 30);
  vio.SetIoTimeout(7);
  EXPECT_EQ(vio.ConnectionTimeoutSeconds(), 7);
  vio.Connect();
  EXPECT_EQ(SocketOption(vio.GetSocketHandle(), SO_RCVTIMEO).tv_sec, 7);
  EXPECT_EQ(SocketOption(vio.GetSocketHandle(), SO_SNDTIMEO).tv_sec, 7);
  EXPECT_EQ(vio.SendTimeoutSeconds(), 7);
  vio.SetIoTimeout(0);
  EXPECT_EQ(SocketOption(vio.GetSocketHandle(), SO_RCVTIMEO).tv_sec, 0);
  vio.Close();

  // A send time-out of 0 is stored but leaves the socket's default.
  vio.Connect();
  EXPECT_EQ(vio.SendTimeoutSeconds(), 0);
  EXPECT_EQ(SocketOption(vio.GetSocketHandle(), SO_SNDTIMEO).tv_sec, 0);
}

TEST(CRVioTcp, WaitForReadable) {
  ScriptedServer server([](ScriptedConnection& c) {
    c.Read(1);
    c.Send(Bytes{42});
    c.WaitForClose();
  });
  TCRVioTcp vio("127.0.0.1", server.port());
  vio.Connect();
  EXPECT_FALSE(vio.WaitForReadable(0));
  const uint8_t go = 1;
  vio.Write(&go, 0, 1);
  EXPECT_TRUE(vio.WaitForReadable(-1));
  uint8_t got = 0;
  EXPECT_EQ(vio.Read(&got, 0, 1), 1);
  EXPECT_EQ(got, 42);
}

TEST(CRVioTcp, WaitForReadableWaitsAsLongAsAsked) {
  // 4294968 seconds are 704 ms once their milliseconds wrap in 32 bits; one
  // year is the command time-out of "no limit".
  for (int32_t seconds : {4294968, 31536000}) {
    ScriptedServer server([](ScriptedConnection& c) {
      c.Read(1);
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      c.Send(Bytes{42});
      c.WaitForClose();
    });
    TCRVioTcp vio("127.0.0.1", server.port());
    vio.Connect();
    const uint8_t go = 1;
    ASSERT_EQ(vio.Write(&go, 0, 1), 1);
    EXPECT_TRUE(vio.WaitForReadable(seconds)) << seconds;
    vio.Close();
    EXPECT_EQ(server.Finish(), "");
  }
}

TEST(CRVioTcp, BlockingConnectInterruptedByASignalFinishes) {
  // A handler without SA_RESTART makes a blocking connect return EINTR
  // while the connection is still being made.
  struct sigaction action {}, saved {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &saved), 0);

  SilentListener silent;  // the first SYN is dropped: the connect blocks
  TCRVioTcp vio("127.0.0.1", silent.port());
  vio.SetIoTimeout(0);    // blocking connect without limit
  std::string failure = "not finished";
  std::thread connector([&] {
    try {
      vio.Connect();
      failure.clear();
    } catch (const SocketException& e) {
      failure = e.Message() + " (" + vio.ErrorText() + ")";
    }
  });
  for (int i = 0; i < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pthread_kill(connector.native_handle(), SIGUSR1);
  }
  silent.MakeRoom();
  connector.join();
  sigaction(SIGUSR1, &saved, nullptr);
  EXPECT_EQ(failure, "");
  EXPECT_GE(vio.GetSocketHandle(), 0);
}

TEST(CRVio, BaseWaitForReadableIsAnAssertion) {
  TMemoryVio vio;
  EXPECT_THROW(vio.WaitForReadable(0), EAssertionFailed);
}

}  // namespace
}  // namespace da::mysql
