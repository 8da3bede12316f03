// The chunked byte queue and the Base64 encoder of the HTTP client.
#include <gtest/gtest.h>

#include <string>

#include "common/Exception.h"
#include "transports/CRBase64.h"
#include "transports/CRDataBuffer.h"

namespace da::transports {
namespace {

std::string Take(TDataBuffer& b, size_t n) {
  std::string out(n, '\0');
  b.Read(reinterpret_cast<uint8_t*>(out.data()), n);
  return out;
}

void Put(TDataBuffer& b, const std::string& s) { b.Write(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

TEST(DataBuffer, BytesComeOutInOrderAcrossChunks) {
  TDataBuffer b(4);
  Put(b, "abcdefghij");  // three chunks
  Put(b, "klm");
  EXPECT_EQ(b.DataLength(), 13u);
  EXPECT_EQ(Take(b, 3), "abc");
  EXPECT_EQ(Take(b, 6), "defghi");
  Put(b, "nopqrs");
  EXPECT_EQ(Take(b, 10), "jklmnopqrs");
  EXPECT_EQ(b.DataLength(), 0u);
  Put(b, "tu");
  EXPECT_EQ(Take(b, 2), "tu");
}

TEST(DataBuffer, ReadingMoreThanQueuedFailsAndTakesNothing) {
  TDataBuffer b(4);
  Put(b, "abcde");
  uint8_t out[8];
  try {
    b.Read(out, 6);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "There is no enough data to read");
  }
  EXPECT_EQ(b.DataLength(), 5u);
  EXPECT_EQ(Take(b, 5), "abcde");
}

TEST(DataBuffer, IndexOfLooksAcrossChunksFromAnOffset) {
  TDataBuffer b(4);
  Put(b, "xx");
  Take(b, 2);  // the first chunk now starts at its third byte
  Put(b, "ab\ncdefg\nh");
  EXPECT_EQ(b.IndexOf('\n'), 2);
  EXPECT_EQ(b.IndexOf('\n', 3), 8);
  EXPECT_EQ(b.IndexOf('\n', 9), -1);
  EXPECT_EQ(b.IndexOf('h'), 9);
  EXPECT_EQ(b.IndexOf('z'), -1);
  b.Clear();
  EXPECT_EQ(b.DataLength(), 0u);
  EXPECT_EQ(b.IndexOf('a'), -1);
}

TEST(Base64, KnownAnswers) {
  const struct {
    const char* plain;
    const char* encoded;
  } cases[] = {{"", ""},
               {"f", "Zg=="},
               {"fo", "Zm8="},
               {"foo", "Zm9v"},
               {"foob", "Zm9vYg=="},
               {"fooba", "Zm9vYmE="},
               {"foobar", "Zm9vYmFy"},
               {"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
               {"\xE7\xE3o:\xFF", "5+NvOv8="}};
  for (const auto& c : cases) {
    EXPECT_EQ(TBase64::Encode(c.plain), c.encoded) << c.plain;
    EXPECT_EQ(TBase64::Decode(c.encoded), c.plain) << c.encoded;
  }
}

TEST(Base64, MalformedTextIsRefused) {
  for (const char* text : {"Zg=", "Z!==", "abc"}) EXPECT_THROW(TBase64::Decode(text), Exception) << text;
}

}  // namespace
}  // namespace da::transports
