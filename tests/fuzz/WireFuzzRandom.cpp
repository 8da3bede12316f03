// The bounded random run of the wire fuzz target, for compilers without
// libFuzzer: valid server conversations, mutated with a fixed seed for a
// fixed number of iterations, plus plain random inputs. Any read past a
// buffer shows under the sanitizers; a hang shows as the ctest time-out.
//
//   wire_fuzz_random [iterations]
//   wire_fuzz_random --seeds DIR    writes the seed conversations, a corpus for libFuzzer
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "WireFuzzTarget.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Le(Bytes& out, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void LenText(Bytes& out, const std::string& s) {
  if (s.size() < 251) {
    out.push_back(static_cast<uint8_t>(s.size()));
  } else {
    out.push_back(252);
    Le(out, s.size(), 2);
  }
  out.insert(out.end(), s.begin(), s.end());
}
void Packet(Bytes& out, uint8_t& seq, const Bytes& payload) {
  Le(out, payload.size(), 3);
  out.push_back(seq++);
  out.insert(out.end(), payload.begin(), payload.end());
}
Bytes Eof(uint16_t status = 2) {
  Bytes p{0xFE, 0, 0};
  Le(p, status, 2);
  return p;
}
Bytes Ok() { return Bytes{0, 1, 0, 2, 0, 0, 0}; }
Bytes Column(const std::string& name, uint8_t type) {
  Bytes p;
  for (const char* f : {"def", "db", "t", "t"}) LenText(p, f);
  LenText(p, name);
  LenText(p, name);
  p.push_back(12);
  Le(p, 8, 2);
  Le(p, 20, 4);
  p.push_back(type);
  Le(p, 0, 2);
  p.push_back(0);
  Le(p, 0, 2);
  return p;
}

const uint8_t kTypes[] = {1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 12, 13, 16, 246, 252, 253, 254, 255};

// A text result of `columns` columns and `rows` rows.
void TextResult(Bytes& out, uint8_t& seq, std::mt19937& rng, int columns, int rows, uint16_t endStatus = 2) {
  Packet(out, seq, Bytes{static_cast<uint8_t>(columns)});
  for (int c = 0; c < columns; ++c) Packet(out, seq, Column("c" + std::to_string(c), kTypes[rng() % sizeof kTypes]));
  Packet(out, seq, Eof());
  for (int r = 0; r < rows; ++r) {
    Bytes row;
    for (int c = 0; c < columns; ++c) {
      if (rng() % 7 == 0)
        row.push_back(0xFB);
      else
        LenText(row, std::string(rng() % (rng() % 5 == 0 ? 400 : 12), static_cast<char>('a' + c)));
    }
    Packet(out, seq, row);
  }
  Packet(out, seq, Eof(endStatus));
}

// A binary result of LONG and VAR_STRING columns.
void BinaryResult(Bytes& out, uint8_t& seq, int rows) {
  Packet(out, seq, Bytes{2});
  Packet(out, seq, Column("a", 3));
  Packet(out, seq, Column("b", 253));
  Packet(out, seq, Eof());
  for (int r = 0; r < rows; ++r) {
    Bytes row{0, static_cast<uint8_t>(r % 3 == 0 ? 0x08 : 0)};
    Le(row, static_cast<uint64_t>(r), 4);
    if (r % 3 != 0) LenText(row, "value " + std::to_string(r));
    Packet(out, seq, row);
  }
  Packet(out, seq, Eof());
}

Bytes Compressed(const Bytes& inner) {
  Bytes out;
  uint8_t seq = 1;  // the answer to a command sent as compressed packet 0
  for (size_t at = 0; at < inner.size(); at += 300) {
    Bytes piece(inner.begin() + at, inner.begin() + std::min(inner.size(), at + 300));
    uLongf n = compressBound(piece.size());
    Bytes packed(n);
    compress(packed.data(), &n, piece.data(), piece.size());
    packed.resize(n);
    Le(out, packed.size(), 3);
    out.push_back(seq++);
    Le(out, piece.size(), 3);
    out.insert(out.end(), packed.begin(), packed.end());
  }
  return out;
}

std::vector<Bytes> Seeds(std::mt19937& rng) {
  std::vector<Bytes> seeds;
  // Text results, one and two of them.
  for (int columns : {1, 3, 7}) {
    Bytes s{1};
    uint8_t seq = 1;
    TextResult(s, seq, rng, columns, 5);
    seeds.push_back(s);
  }
  {
    Bytes s{1};
    uint8_t seq = 1;
    TextResult(s, seq, rng, 2, 3, 2 | 8);
    TextResult(s, seq, rng, 1, 2);
    seeds.push_back(s);
  }
  // A compressed result.
  {
    Bytes inner;
    uint8_t seq = 1;
    TextResult(inner, seq, rng, 3, 20);
    Bytes s{1 | 2};
    Bytes c = Compressed(inner);
    s.insert(s.end(), c.begin(), c.end());
    seeds.push_back(s);
  }
  // A prepared statement: prepare answer, then an execute with binary rows,
  // then a procedure's further results.
  {
    Bytes s{1 | 4 | 8};
    uint8_t seq = 1;
    Bytes prepare{0, 9, 0, 0, 0, 2, 0, 2, 0, 0, 0, 0};
    Packet(s, seq, prepare);
    Packet(s, seq, Column("?", 253));
    Packet(s, seq, Column("?", 253));
    Packet(s, seq, Eof());
    Packet(s, seq, Column("a", 3));
    Packet(s, seq, Column("b", 253));
    Packet(s, seq, Eof());
    seq = 1;
    BinaryResult(s, seq, 6);
    seeds.push_back(s);
  }
  // Old handshakes: a 3.23 greeting, the single 0xFE answer, an error.
  {
    Bytes s{0};
    uint8_t seq = 0;
    Bytes g{10, '3', '.', '2', '3', 0, 5, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0, 0x0D, 0};
    Packet(s, seq, g);
    seq = 2;
    Packet(s, seq, Bytes{0, 0, 0});
    seq = 1;
    Packet(s, seq, Ok());
    seeds.push_back(s);
  }
  {
    Bytes s{0};
    uint8_t seq = 0;
    Bytes g{10, '5', 0, 5, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0, 0x0D, 0x82, 8, 2, 0};
    g.insert(g.end(), 13, 0);
    g.insert(g.end(), 12, 'z');
    g.push_back(0);
    Packet(s, seq, g);
    seq = 2;
    Packet(s, seq, Bytes{0xFE});
    seq = 4;
    Packet(s, seq, Ok());
    seq = 1;
    Bytes error{0xFF, 0x28, 0x04};
    for (char ch : std::string("#42000You have an error")) error.push_back(static_cast<uint8_t>(ch));
    Packet(s, seq, error);
    seeds.push_back(s);
  }
  // Plugin authentication: a greeting naming caching_sha2_password, then the
  // fast path; the full path with the server's public key; a switch to the
  // native plugin. Each ends with the query's OK packet.
  {
    Bytes g{10, '8', 0, 5, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0, 0x0D, 0x82, 8, 2, 0, 0x08, 0, 21};
    g.insert(g.end(), 10, 0);
    g.insert(g.end(), 12, 'z');
    g.push_back(0);
    for (char ch : std::string("caching_sha2_password")) g.push_back(static_cast<uint8_t>(ch));
    g.push_back(0);
    const std::string pem =
        "-----BEGIN PUBLIC KEY-----\n"
        "MIGfMA0GCSqGSIb3DQEBAQUAA4GNADCBiQKBgQC7ZjK86s4hsYeBGbfCmjK/nsq7\n"
        "jNnCpBJ9HzpPRr0fYvHYO/Lv8+MvcbyZrIoCjDc/iCNctXN6rYxtNOpcsRGcG3EE\n"
        "noUk4Z7p2mw0JZqLb7wZmHOt4biBczA9x97WCcwQCUL47FF166wCzucHitPAyHMG\n"
        "Ps5SJG/kHmGWvyEBVQIDAQAB\n"
        "-----END PUBLIC KEY-----\n";
    Bytes key{1};
    key.insert(key.end(), pem.begin(), pem.end());
    Bytes toNative{0xFE};
    for (char ch : std::string("mysql_native_password")) toNative.push_back(static_cast<uint8_t>(ch));
    toNative.push_back(0);
    toNative.insert(toNative.end(), 20, 'n');
    toNative.push_back(0);
    const std::vector<std::vector<Bytes>> exchanges = {
        {Bytes{1, 3}, Ok()}, {Bytes{1, 4}, key, Ok()}, {toNative, Ok()}};
    for (const std::vector<Bytes>& exchange : exchanges) {
      Bytes s{0};
      uint8_t seq = 0;
      Packet(s, seq, g);
      seq = 2;
      for (const Bytes& answer : exchange) {
        Packet(s, seq, answer);
        // The client's reply takes a number, except after "fast path passed".
        if (answer != Bytes{1, 3}) ++seq;
      }
      seq = 1;
      Packet(s, seq, Ok());
      seeds.push_back(s);
    }
  }
  // A LOCAL INFILE request (refused), then the server's answer.
  {
    Bytes s{1};
    uint8_t seq = 1;
    Bytes request{0xFB};
    for (char ch : std::string("/etc/passwd")) request.push_back(static_cast<uint8_t>(ch));
    Packet(s, seq, request);
    seq = 3;
    Packet(s, seq, Ok());
    seeds.push_back(s);
  }
  return seeds;
}

void Mutate(Bytes& b, std::mt19937& rng, const std::vector<Bytes>& seeds) {
  static const uint8_t interesting[] = {0, 1, 0x7F, 0x80, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
  int count = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < count; ++i) {
    size_t at = b.size() > 1 ? 1 + rng() % (b.size() - 1) : 0;
    switch (rng() % 7) {
      case 0:
        if (at < b.size()) b[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 1:
        if (at < b.size()) b[at] = interesting[rng() % sizeof interesting];
        break;
      case 2:
        if (at < b.size()) b.resize(at);
        break;
      case 3:
        b.insert(b.begin() + static_cast<long>(std::min(at, b.size())), 1 + rng() % 8, static_cast<uint8_t>(rng()));
        break;
      case 4:
        if (at + 2 < b.size()) b[at] = b[at + 1] = b[at + 2] = 0xFF;
        break;
      case 5: {
        const Bytes& other = seeds[rng() % seeds.size()];
        size_t from = other.size() > 1 ? 1 + rng() % (other.size() - 1) : 0;
        b.resize(std::min(at, b.size()));
        b.insert(b.end(), other.begin() + static_cast<long>(from), other.end());
        break;
      }
      default:
        if (!b.empty()) b[0] = static_cast<uint8_t>(rng());
        break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::mt19937 rng(20240506);
  std::vector<Bytes> seeds = Seeds(rng);
  if (argc > 2 && std::string(argv[1]) == "--seeds") {
    for (size_t i = 0; i < seeds.size(); ++i) {
      std::string path = std::string(argv[2]) + "/seed" + std::to_string(i);
      if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(seeds[i].data(), 1, seeds[i].size(), f);
        std::fclose(f);
      }
    }
    return 0;
  }
  long iterations = argc > 1 ? std::atol(argv[1]) : 20000;
  // The seeds are whole conversations: each must get past its login, or the
  // mutations would explore little beyond the handshake.
  const int expectedDepth[] = {7, 7, 7, 7, 22, 7, 2, 1, 2, 2, 2, 1};
  for (size_t i = 0; i < seeds.size(); ++i) {
    int depth = RunWireInput(seeds[i].data(), seeds[i].size());
    if (depth < expectedDepth[i]) {
      std::fprintf(stderr, "seed %zu reached depth %d, expected %d\n", i, depth, expectedDepth[i]);
      return 1;
    }
  }
  for (long i = 0; i < iterations; ++i) {
    Bytes input;
    if (i % 10 == 9) {
      input.resize(rng() % 200);
      for (uint8_t& b : input) b = static_cast<uint8_t>(rng());
    } else {
      input = seeds[rng() % seeds.size()];
      Mutate(input, rng, seeds);
    }
    RunWireInput(input.data(), input.size());
  }
  std::printf("wire_fuzz_random: %zu seeds, %ld mutated or random inputs, no fault\n", seeds.size(), iterations);
  return 0;
}
