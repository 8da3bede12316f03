// Blobs: pieces of at most 65514 bytes, reading and writing across them,
// truncation, UTF-16 text read as 8-bit text, and the shared-object table.

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "common/Exception.h"
#include "driver/Blob.h"

namespace da {
namespace {

constexpr size_t kPiece = TBlob::kPieceSize;

std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 0) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + seed);
  return v;
}

std::vector<std::pair<size_t, size_t>> Pieces(const TBlob& b) {
  std::vector<std::pair<size_t, size_t>> out;
  for (size_t i = 0; i < b.PieceCount(); ++i) out.emplace_back(b.PieceCapacity(i), b.PieceUsed(i));
  return out;
}

std::vector<uint8_t> Contents(const TBlob& b) {
  std::vector<uint8_t> out(b.Size());
  EXPECT_EQ(b.Read(0, 0, out.data()), out.size());
  return out;
}

TEST(BlobTest, PieceBoundaries) {
  struct Case {
    std::vector<size_t> appends;  // successive writes at the end
    std::vector<std::pair<size_t, size_t>> pieces;
  };
  const Case cases[] = {
      {{}, {}},
      {{1}, {{1, 1}}},
      {{kPiece}, {{kPiece, kPiece}}},
      {{kPiece + 1}, {{kPiece, kPiece}, {1, 1}}},
      {{2 * kPiece + 5}, {{kPiece, kPiece}, {kPiece, kPiece}, {5, 5}}},
      {{10, 100}, {{10, 10}, {100, 100}}},
      {{kPiece - 1, 2}, {{kPiece - 1, kPiece - 1}, {2, 2}}},
  };
  for (const Case& c : cases) {
    TBlob blob;
    std::vector<uint8_t> expected;
    for (size_t n : c.appends) {
      std::vector<uint8_t> data = Pattern(n, static_cast<uint8_t>(expected.size()));
      blob.Write(blob.Size() + 1000, n, data.data());  // past the end: taken as the end
      expected.insert(expected.end(), data.begin(), data.end());
    }
    EXPECT_EQ(Pieces(blob), c.pieces);
    EXPECT_EQ(blob.Size(), expected.size());
    EXPECT_EQ(Contents(blob), expected);
  }
}

TEST(BlobTest, ReadsAndOverwritesAcrossPieces) {
  TBlob blob;
  std::vector<uint8_t> data = Pattern(2 * kPiece + 100);
  blob.Write(0, data.size(), data.data());

  std::vector<uint8_t> part(300);
  EXPECT_EQ(blob.Read(kPiece - 150, 300, part.data()), 300u);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), data.begin() + (kPiece - 150)));
  EXPECT_EQ(blob.Read(data.size() - 10, 300, part.data()), 10u);
  EXPECT_EQ(blob.Read(data.size(), 1, part.data()), 0u);
  EXPECT_EQ(blob.Read(data.size() + 5, 0, part.data()), 0u);

  // An overwrite spanning a piece boundary and running past the end.
  std::vector<uint8_t> patch = Pattern(kPiece + 200, 99);
  blob.Write(kPiece + 10, patch.size(), patch.data());
  data.resize(2 * kPiece + 210);
  std::copy(patch.begin(), patch.end(), data.begin() + static_cast<long>(kPiece + 10));
  EXPECT_EQ(blob.Size(), 2 * kPiece + 210);
  EXPECT_EQ(Contents(blob), data);
  EXPECT_EQ(Pieces(blob),
            (std::vector<std::pair<size_t, size_t>>{{kPiece, kPiece}, {kPiece, kPiece}, {100, 100}, {110, 110}}));
}

TEST(BlobTest, Truncate) {
  TBlob blob;
  std::vector<uint8_t> data = Pattern(kPiece + 50);
  blob.Write(0, data.size(), data.data());

  blob.Truncate(kPiece + 20);
  EXPECT_EQ(Pieces(blob), (std::vector<std::pair<size_t, size_t>>{{kPiece, kPiece}, {50, 20}}));
  blob.Truncate(kPiece);
  EXPECT_EQ(Pieces(blob), (std::vector<std::pair<size_t, size_t>>{{kPiece, kPiece}}));
  blob.Truncate(5);
  EXPECT_EQ(Pieces(blob), (std::vector<std::pair<size_t, size_t>>{{kPiece, 5}}));

  // Growing appends zero bytes (into the free room first).
  blob.Truncate(kPiece + 3);
  std::vector<uint8_t> expected(data.begin(), data.begin() + 5);
  expected.resize(kPiece + 3, 0);
  EXPECT_EQ(Contents(blob), expected);
  EXPECT_EQ(Pieces(blob), (std::vector<std::pair<size_t, size_t>>{{kPiece, kPiece}, {3, 3}}));

  blob.Truncate(0);
  EXPECT_EQ(blob.PieceCount(), 0u);
  EXPECT_TRUE(blob.IsEmpty());
}

TEST(BlobTest, UnicodeTextReadAsEightBit) {
  TBlob blob;
  blob.SetAsWideString(u"a\u00E7\u20AC\u4E2Dz");  // a ç € (not in the code page) z
  EXPECT_TRUE(blob.IsUnicode());
  EXPECT_EQ(blob.Size(), 10u);
  EXPECT_EQ(blob.AnsiSize(), 5u);
  EXPECT_EQ(blob.AsString(), "a\xE7\x80?z");
  char text[8] = {};
  EXPECT_EQ(blob.ReadAsAnsi(1, 2, text), 2u);
  EXPECT_EQ(std::string(text, 2), "\xE7\x80");
  EXPECT_EQ(blob.ReadAsAnsi(5, 0, text), 0u);

  TBlob plain;
  plain.SetAsString("ol\xE1");
  EXPECT_EQ(plain.AsWideString(), u"ol\u00E1");
  EXPECT_EQ(plain.ReadAsAnsi(0, 0, text), 3u);
}

TEST(BlobTest, SharedObjectTableCountsRecordReferences) {
  TSharedObjectTable table;
  auto blob = std::make_shared<TBlob>();
  std::weak_ptr<TSharedObject> watch = blob;
  TObjectRef ref = table.Add(blob);
  blob.reset();
  table.AddRef(ref);
  EXPECT_EQ(table.RefCount(ref), 2u);
  EXPECT_FALSE(table.Release(ref));
  std::shared_ptr<TSharedObject> held = table.Share(ref);  // another holder
  EXPECT_TRUE(table.Release(ref));
  EXPECT_EQ(table.Get(ref), nullptr);
  EXPECT_FALSE(watch.expired());
  held.reset();
  EXPECT_TRUE(watch.expired());
  EXPECT_THROW(table.Release(ref), EAssertionFailed);
  EXPECT_THROW(table.AddRef(0), EAssertionFailed);

  TObjectRef again = table.Add(std::make_shared<TVariantObject>(Variant(int32_t{5})));
  // The slot is reused, but the released reference does not name its new
  // object: a stale holder can neither read nor release it.
  EXPECT_NE(again, ref);
  EXPECT_EQ(table.Get(ref), nullptr);
  EXPECT_THROW(table.Release(ref), EAssertionFailed);
  EXPECT_EQ(table.RefCount(again), 1u);
  EXPECT_EQ(table.LiveCount(), 1u);

  // After Clear no earlier reference names a new object either.
  table.Clear();
  TObjectRef third = table.Add(std::make_shared<TBlob>());
  EXPECT_NE(third, again);
  EXPECT_EQ(table.Get(again), nullptr);
}

}  // namespace
}  // namespace da
