// The packet layer: framing, the 16 MiB split, sequence numbers, the
// compressed framing, error packets and the bounded readers.
#include "mysql/MySqlNet.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "ScriptedServer.h"
#include "WireTestSupport.h"
#include "mysql/CRVioTcp.h"
#include "mysql/MySqlErrors.h"

namespace da::mysql {
namespace {

using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;
using wiretest::Bytes;
using wiretest::Framed;
using wiretest::TMemoryVio;

constexpr size_t kMax = 0xFFFFFF;

Bytes Pattern(size_t n, uint8_t seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 13));
  return b;
}

// A net reading `input` from memory; the transport stays reachable for its output.
struct MemoryNet {
  explicit MemoryNet(Bytes input, size_t chunk = 1 << 30) {
    auto owned = std::make_unique<TMemoryVio>(std::move(input), chunk);
    vio = owned.get();
    owned->Connect();
    net.SetTransport(std::move(owned));
  }
  TMySqlNet net;
  TMemoryVio* vio;
};

int32_t CodeOf(const std::function<void()>& f, std::string* message = nullptr) {
  try {
    f();
  } catch (const EMySqlException& e) {
    if (message) *message = e.Message();
    return e.ErrorCode();
  }
  return 0;
}

// --- 16 MiB boundaries, both directions, through a socket -------------------

struct SplitCase {
  size_t payload;
  std::vector<size_t> packets;  // the packet lengths on the wire
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.payload << " bytes"; }

class PacketSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(PacketSplit, RoundTripThroughTheScriptedServer) {
  const SplitCase& c = GetParam();
  const Bytes payload = Pattern(c.payload);
  ScriptedServer server([&](ScriptedConnection& conn) {
    // Receive: the client's packets must be exactly these, numbered 0, 1, …
    Bytes joined;
    for (size_t i = 0; i < c.packets.size(); ++i) {
      ScriptedConnection::Packet p = conn.ReadPacket();
      if (p.seq != i) throw testsupport::ScriptError("packet " + std::to_string(i) + " has seq " + std::to_string(p.seq));
      if (p.payload.size() != c.packets[i])
        throw testsupport::ScriptError("packet " + std::to_string(i) + " has " + std::to_string(p.payload.size()) +
                                       " bytes");
      joined.insert(joined.end(), p.payload.begin(), p.payload.end());
    }
    if (joined != payload) throw testsupport::ScriptError("payload differs");
    // Send it back the same way, numbered on.
    uint8_t seq = static_cast<uint8_t>(c.packets.size());
    size_t at = 0;
    for (size_t length : c.packets) {
      conn.SendPacket(seq++, Bytes(payload.begin() + at, payload.begin() + at + length));
      at += length;
    }
    conn.WaitForClose();
  });

  TMySqlNet net;
  net.SetTransport(std::make_unique<TCRVioTcp>("127.0.0.1", server.port()));
  net.Transport()->Connect();
  net.ResetSequence();
  net.WriteByte(payload[0]);
  net.WriteSplit(payload.data() + 1, payload.size() - 1);
  net.FlushPacket();
  net.ReceivePacket();
  ASSERT_EQ(net.Size(), payload.size());
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), net.Memory()));
  net.CloseNet();
}

INSTANTIATE_TEST_SUITE_P(Boundaries, PacketSplit,
                         ::testing::Values(SplitCase{kMax - 1, {kMax - 1}}, SplitCase{kMax, {kMax, 0}},
                                           SplitCase{kMax + 1, {kMax, 1}}, SplitCase{2 * kMax, {kMax, kMax, 0}},
                                           SplitCase{kMax + 10, {kMax, 10}}),
                         [](const ::testing::TestParamInfo<SplitCase>& info) {
                           return "Payload" + std::to_string(info.param.payload);
                         });

TEST(PacketSplit, BufferedBodyLongerThanAPacketIsSplitToo) {
  // A body appended with WriteBytes (a large parameter value) goes out in
  // 16 MiB packets as well, with the empty packet after an exact multiple.
  MemoryNet m({});
  const Bytes body = Pattern(2 * kMax);
  m.net.ResetSequence();
  m.net.WriteBytes(body.data(), body.size());
  m.net.FlushPacket();
  const Bytes& out = m.vio->output;
  ASSERT_EQ(out.size(), 2 * kMax + 12);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0xFF, 0xFF, 0xFF, 0}));
  EXPECT_EQ(Bytes(out.begin() + 4 + kMax, out.begin() + 8 + kMax), (Bytes{0xFF, 0xFF, 0xFF, 1}));
  EXPECT_EQ(Bytes(out.end() - 4, out.end()), (Bytes{0, 0, 0, 2}));
  EXPECT_TRUE(std::equal(body.begin(), body.begin() + kMax, out.begin() + 4));
  EXPECT_TRUE(std::equal(body.begin() + kMax, body.end(), out.begin() + 8 + kMax));
}

// --- Sequence numbers ---------------------------------------------------------

TEST(PacketSequence, WrapsFrom255To0) {
  Bytes input;
  for (int i = 0; i < 257; ++i) {
    Bytes f = Framed(static_cast<uint8_t>(i), Bytes{1, 2, 3});
    input.insert(input.end(), f.begin(), f.end());
  }
  MemoryNet m(input);
  for (int i = 0; i < 257; ++i) ASSERT_NO_THROW(m.net.ReceivePacket()) << i;
}

TEST(PacketSequence, OutOfOrderPacketIs1156) {
  MemoryNet m(Framed(5, Bytes{0}));
  std::string message;
  EXPECT_EQ(CodeOf([&] { m.net.ReceivePacket(); }, &message), 1156);
  EXPECT_EQ(message, "\r\nReceiveHeader: Net packets out of order: received[5], expected[0]");
}

TEST(PacketSequence, LoginPacketFollowsTheGreeting) {
  MemoryNet m(Framed(0, Bytes{10}));
  m.net.ReceivePacket();
  m.net.ResetWrite();
  m.net.WriteByte(7);
  m.net.FlushPacket();
  EXPECT_EQ(m.vio->output, (Bytes{1, 0, 0, 1, 7}));
}

// --- Error packets, lost connections ----------------------------------------

TEST(PacketErrors, ServerErrorWithSqlState) {
  MemoryNet m(Framed(0, wiretest::ErrorPacket(1064, "#42000You have an error in your SQL syntax")));
  std::string message;
  EXPECT_EQ(CodeOf([&] { m.net.ReceivePacket(); }, &message), 1064);
  EXPECT_EQ(message, "\r\n#42000You have an error in your SQL syntax");
}

TEST(PacketErrors, StreamEndingInsideAPacketIs2013) {
  Bytes input = Framed(0, Pattern(100));
  input.resize(50);
  MemoryNet m(input);
  std::string message;
  EXPECT_EQ(CodeOf([&] { m.net.ReceivePacket(); }, &message), 2013);
  EXPECT_EQ(message, "Lost connection to MySQL server during query");
}

TEST(PacketErrors, ShortWriteIs2013WithTheTransportText) {
  ScriptedServer server([](ScriptedConnection& c) { c.Close(); });
  TMySqlNet net;
  net.SetTransport(std::make_unique<TCRVioTcp>("127.0.0.1", server.port()));
  net.Transport()->Connect();
  EXPECT_EQ(server.Finish(), "");
  std::string message;
  int32_t code = CodeOf(
      [&] {
        for (int i = 0; i < 50; ++i) {
          net.ResetSequence();
          net.WriteFill('x', 100000);
          net.FlushPacket();
        }
      },
      &message);
  EXPECT_EQ(code, 2013);
  EXPECT_NE(message.find("Lost connection to MySQL server during query\r\nSocket error on write."), std::string::npos)
      << message;
}

TEST(PacketErrors, NoTransportIsGoneAway) {
  TMySqlNet net;
  EXPECT_EQ(CodeOf([&] { net.ReceivePacket(); }), 2006);
}

// --- Compressed framing -------------------------------------------------------

Bytes Inflate(const uint8_t* data, size_t size, size_t unpacked) {
  Bytes out(unpacked);
  uLongf n = unpacked;
  EXPECT_EQ(uncompress(out.data(), &n, data, size), Z_OK);
  EXPECT_EQ(n, unpacked);
  return out;
}

TEST(CompressedFraming, FiftyByteBlockTravelsStored) {
  MemoryNet m({});
  m.net.SetCompressed(true);
  m.net.ResetSequence();
  const Bytes payload = Pattern(46);
  m.net.WriteBytes(payload.data(), payload.size());
  m.net.FlushPacket();
  Bytes expected{0x32, 0, 0, 0, 0, 0, 0, 0x2E, 0, 0, 0};
  expected.insert(expected.end(), payload.begin(), payload.end());
  EXPECT_EQ(m.vio->output, expected);
}

TEST(CompressedFraming, FiftyOneByteBlockIsDeflated) {
  MemoryNet m({});
  m.net.SetCompressed(true);
  m.net.ResetSequence();
  const Bytes payload = Pattern(47);
  m.net.WriteBytes(payload.data(), payload.size());
  m.net.FlushPacket();
  const Bytes& out = m.vio->output;
  ASSERT_GE(out.size(), 7u);
  size_t packed = out[0] | out[1] << 8 | out[2] << 16;
  EXPECT_EQ(out[3], 0);
  EXPECT_EQ(out[4] | out[5] << 8 | out[6] << 16, 51);
  ASSERT_EQ(out.size(), 7 + packed);
  Bytes inner = Inflate(out.data() + 7, packed, 51);
  EXPECT_EQ(Bytes(inner.begin(), inner.begin() + 4), (Bytes{0x2F, 0, 0, 0}));
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), inner.begin() + 4));
  // The next packet of the command takes the compressed framing's number.
  EXPECT_EQ(m.net.SequenceNumber(), 1);
}

Bytes CompressedFrame(uint8_t seq, const Bytes& inner, bool deflate) {
  Bytes body = inner;
  uint32_t unpacked = 0;
  if (deflate) {
    uLongf n = compressBound(inner.size());
    body.resize(n);
    compress(body.data(), &n, inner.data(), inner.size());
    body.resize(n);
    unpacked = static_cast<uint32_t>(inner.size());
  }
  Bytes out;
  wiretest::PutLE(out, body.size(), 3);
  out.push_back(seq);
  wiretest::PutLE(out, unpacked, 3);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

TEST(CompressedFraming, ReadsInnerPacketsAcrossCompressedPackets) {
  // Two inner packets split over a deflated and a stored compressed packet.
  Bytes inner = Framed(0, Pattern(300));
  Bytes second = Framed(1, Pattern(20, 9));
  inner.insert(inner.end(), second.begin(), second.end());
  Bytes input = CompressedFrame(0, Bytes(inner.begin(), inner.begin() + 200), true);
  Bytes tail = CompressedFrame(1, Bytes(inner.begin() + 200, inner.end()), false);
  input.insert(input.end(), tail.begin(), tail.end());
  MemoryNet m(input, 37);
  m.net.SetCompressed(true);
  m.net.ReceivePacket();
  EXPECT_EQ(Bytes(m.net.Memory(), m.net.Memory() + m.net.Size()), Pattern(300));
  m.net.ReceivePacket();
  EXPECT_EQ(Bytes(m.net.Memory(), m.net.Memory() + m.net.Size()), Pattern(20, 9));
}

TEST(CompressedFraming, BrokenChunkIs1157AndOutOfOrderIs1156) {
  Bytes bad = CompressedFrame(0, Framed(0, Pattern(100)), true);
  bad[12] ^= 0x55;
  MemoryNet m(bad);
  m.net.SetCompressed(true);
  EXPECT_EQ(CodeOf([&] { m.net.ReceivePacket(); }), 1157);

  MemoryNet late(CompressedFrame(3, Framed(0, Pattern(10)), false));
  late.net.SetCompressed(true);
  std::string message;
  EXPECT_EQ(CodeOf([&] { late.net.ReceivePacket(); }, &message), 1156);
  EXPECT_EQ(message, "\r\nReceiveCompHeader: Net packets out of order: received[3], expected[0]");
}

TEST(CompressedFraming, LongerOutputThanAnnouncedIs1157) {
  Bytes frame = CompressedFrame(0, Framed(0, Pattern(100)), true);
  frame[4] = 50;  // announce fewer bytes than the chunk inflates to
  MemoryNet m(frame);
  m.net.SetCompressed(true);
  EXPECT_EQ(CodeOf([&] { m.net.ReceivePacket(); }), 1157);
}

// --- Readers ------------------------------------------------------------------

TEST(PacketReaders, LengthCodedIntegers) {
  struct Case {
    Bytes bytes;
    int64_t value;
  } cases[] = {
      {{0xFA}, 250},
      {{0xFB}, -1},
      {{0xFC, 0x10, 0x27}, 10000},
      {{0xFD, 1, 2, 3}, 0x030201},
      {{0xFE, 1, 0, 0, 0, 0, 0, 0, 1}, 0x0100000000000001},
  };
  for (const Case& c : cases) {
    MemoryNet m(Framed(0, c.bytes));
    m.net.ReceivePacket();
    EXPECT_EQ(m.net.ReadLengthCoded(), c.value);
    EXPECT_EQ(m.net.Remaining(), 0u);
  }
}

TEST(PacketReaders, UnsignedLengthCodedIntegersTakeTheFullRange) {
  struct Case {
    Bytes bytes;
    uint64_t value;
  } cases[] = {
      {{0xFA}, 250u},
      {{0xFC, 0x10, 0x27}, 10000u},
      {{0xFD, 1, 2, 3}, 0x030201u},
      {{0xFE, 0, 0, 0, 0, 0, 0, 0, 0x80}, 9223372036854775808u},
      {{0xFE, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 18446744073709551600u},
  };
  for (const Case& c : cases) {
    MemoryNet m(Framed(0, c.bytes));
    m.net.ReceivePacket();
    EXPECT_EQ(m.net.ReadLengthCodedUnsigned(), c.value);
    EXPECT_EQ(m.net.Remaining(), 0u);
  }
  // No NULL in a counter, and no integer cut short.
  for (const Bytes& c : {Bytes{0, 0xFB}, Bytes{0, 0xFF}, Bytes{0, 0xFE, 1, 2}}) {
    MemoryNet m(Framed(0, c));
    m.net.ReceivePacket();
    m.net.ReadByte();
    EXPECT_EQ(CodeOf([&] { m.net.ReadLengthCodedUnsigned(); }), 2027) << int{c[1]};
  }
}

TEST(PacketReaders, MalformedInputIs2027) {
  // After a leading 0 byte: a 0xFF prefix and integers cut short.
  const Bytes cases[] = {{0xFF}, {0xFC, 0x10}, {0xFD, 1}, {0xFE, 1, 2, 3}, {0xFE, 0, 0, 0, 0, 0, 0, 0, 0x80}};
  for (const Bytes& c : cases) {
    Bytes payload{0};
    payload.insert(payload.end(), c.begin(), c.end());
    MemoryNet m(Framed(0, payload));
    m.net.ReceivePacket();
    m.net.ReadByte();
    EXPECT_EQ(CodeOf([&] { m.net.ReadLengthCoded(); }), 2027) << int{c[0]};
  }
  MemoryNet tiny(Framed(0, Bytes{0xFF, 1}));
  EXPECT_EQ(CodeOf([&] { tiny.net.ReceivePacket(); }), 2027);

  MemoryNet past(Framed(0, Bytes{1, 2, 3}));
  past.net.ReceivePacket();
  EXPECT_EQ(CodeOf([&] { past.net.ReadLE32(); }), 2027);
  EXPECT_EQ(past.net.ReadLE16(), 0x0201);
  EXPECT_EQ(CodeOf([&] { past.net.ReadLE16(); }), 2027);
  EXPECT_EQ(past.net.ReadByte(), 3);
  EXPECT_EQ(CodeOf([&] { past.net.ReadByte(); }), 2027);
}

TEST(PacketReaders, ZStringWithoutTerminatorTakesTheRest) {
  MemoryNet m(Framed(0, Bytes{'a', 'b', 0, 'c', 'd'}));
  m.net.ReceivePacket();
  EXPECT_EQ(m.net.ReadZString(), "ab");
  EXPECT_EQ(m.net.ReadZString(), "cd");
  EXPECT_EQ(m.net.Remaining(), 0u);
  EXPECT_EQ(m.net.ReadZString(), "");
}

TEST(PacketReaders, ByteArraysRefuseEmptyAndHugePackets) {
  Bytes input = Framed(0, {});
  MemoryNet empty(input);
  Bytes bytes;
  std::string message;
  EXPECT_EQ(CodeOf([&] { empty.net.ReceivePacketBytes(bytes); }, &message), 2027);
  EXPECT_EQ(message, "Malformed packet\r\nTMySqlNet.ReceiveBuffer l = 0");

  Bytes huge{0xFF, 0xFF, 0xFF, 0};
  MemoryNet big(huge);
  EXPECT_EQ(CodeOf([&] { big.net.ReceivePacketBytes(bytes); }, &message), 2027);
  EXPECT_EQ(message, "Malformed packet\r\nCannot retrieve huge data in FetchAll mode");

  MemoryNet error(Framed(0, wiretest::ErrorPacket(1146, "#42S02Table 'x' doesn't exist")));
  EXPECT_EQ(CodeOf([&] { error.net.ReceivePacketBytes(bytes); }), 1146);
}

TEST(PacketReaders, SkipPacketReadsInPiecesAndKeepsTheFirstByte) {
  Bytes input = Framed(0, Pattern(1000, 0xFE));
  Bytes error = Framed(1, wiretest::ErrorPacket(1317, "#70100Query execution was interrupted"));
  input.insert(input.end(), error.begin(), error.end());
  MemoryNet m(input);
  Bytes piece;
  EXPECT_EQ(m.net.SkipPacket(64, true, piece), 1000u);
  EXPECT_EQ(piece[0], 0xFE);
  EXPECT_EQ(piece.size(), 64u);
  EXPECT_EQ(CodeOf([&] { m.net.SkipPacket(64, true, piece); }), 1317);
}

TEST(PacketWriters, LengthCodedWidths) {
  MemoryNet m({});
  m.net.ResetSequence();
  for (uint64_t v : {250ull, 251ull, 65535ull, 65536ull, 16777215ull, 16777216ull}) m.net.WriteLengthCoded(v);
  m.net.FlushPacket();
  Bytes expected{0xFA, 0xFC, 0xFB, 0, 0xFC, 0xFF, 0xFF, 0xFD, 0, 0, 1, 0xFD, 0xFF, 0xFF, 0xFF,
                 0xFE, 0, 0, 0, 1, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(m.vio->output.begin() + 4, m.vio->output.end()), expected);
}

}  // namespace
}  // namespace da::mysql
