// What the record store offers the record set and the dataset beyond plain
// storage, and the misuse it refuses: values of calculated fields outside
// stored records, references that no longer name a live value, blocks
// larger than their header can count; forward-only block reuse, the sort
// order kept while blocks arrive, and exact numbers written from text.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "StoreFixture.h"
#include "common/DAErrors.h"
#include "common/Exception.h"
#include "common/Unaligned.h"
#include "driver/BcdText.h"
#include "driver/BlockManager.h"

namespace da {
namespace {

using testutil::TestStore;

int32_t IntOf(TestStore& store, TItemHeader* item) {
  int32_t v = 0;
  bool blank = false;
  store.ReadFieldValue(1, TBlockManager::RecordOf(item), &v, sizeof v, blank);
  return v;
}

TEST(StoreFaultsTest, CalculatedValuesAreNeverReadOrWrittenInStoredRecords) {
  TestStore store({{"a", dtInt32}, {"c", dtInt32, 0, fkCalculated}, {"l", dtExtString, 0, fkLookup}});
  store.Open();
  store.AddInt32Block(1, 3, 3);
  uint8_t* stored = TBlockManager::RecordOf(store.FirstItem());
  // Their offsets lie past the stored record.
  ASSERT_GE(store.Fields()[1].Offset(), store.RecordSize());
  int32_t v = 7;
  bool blank = false;
  EXPECT_THROW(store.PutField(2, stored, &v, sizeof v), EAssertionFailed);
  EXPECT_THROW(store.ReadFieldValue(2, stored, &v, sizeof v, blank), EAssertionFailed);
  EXPECT_THROW(store.GetFieldAsVariant(2, stored), EAssertionFailed);
  EXPECT_THROW(store.PutExtString(3, stored, "x"), EAssertionFailed);
  // Their null flags are in the record.
  EXPECT_FALSE(store.GetNull(2, stored));
  store.SetNull(2, stored, true);
  EXPECT_TRUE(store.GetNull(2, stored));
  // Nor do they order records.
  EXPECT_THROW(store.SetIndexFieldNames("c"), EDatabaseError);
  EXPECT_EQ(store.IndexFieldNames(), "");
  // A buffer with the calculated area has room for them.
  TRecBuf buf = store.AllocRecBuf(true);
  std::memset(buf.get(), 0xAB, store.RecordSize() + store.CalcRecordSize());
}

TEST(StoreFaultsTest, HeapReferencesMustNameTheStartOfALiveItem) {
  TStringHeap heap;
  THeapRef a = heap.AllocStr("first value");
  THeapRef b = heap.AllocStr("second value");
  // Inside an item, and on its header: no item starts there.
  for (THeapRef inside : {a + 2, a + 4, b - 2}) {
    EXPECT_FALSE(heap.IsLive(inside));
    EXPECT_THROW(heap.Data(inside), EAssertionFailed);
    EXPECT_THROW(heap.DisposeBuf(inside), EAssertionFailed);
    EXPECT_THROW(heap.AddReference(inside), EAssertionFailed);
  }
  // A freed item is no value any more.
  heap.DisposeBuf(a);
  EXPECT_FALSE(heap.IsLive(a));
  EXPECT_THROW(heap.Data(a), EAssertionFailed);
  EXPECT_STREQ(heap.Data(b), "second value");

  // A large item's slot is reused, its old reference names nothing.
  const std::string big(3000, 'x');
  THeapRef large = heap.AllocStr(big);
  heap.DisposeBuf(large);
  THeapRef again = heap.AllocStr(std::string(2500, 'y'));
  EXPECT_NE(again, large);
  EXPECT_FALSE(heap.IsLive(large));
  EXPECT_THROW(heap.DisposeBuf(large), EAssertionFailed);
  EXPECT_EQ(heap.RefMark(again), TStringHeap::kMarkOneRef);
  EXPECT_EQ(std::string(heap.Data(again)), std::string(2500, 'y'));
}

TEST(StoreFaultsTest, BlocksAreLimitedToWhatTheirHeaderCounts) {
  TBlockManager bm;
  bm.SetRecordSize(5);
  EXPECT_THROW(bm.AllocBlock(65536), EAssertionFailed);
  EXPECT_THROW(bm.AllocBlock(100000), EAssertionFailed);
  EXPECT_THROW(bm.AllocBlock(0), EAssertionFailed);
  TBlockHeader* block = bm.AllocBlock(65535);
  EXPECT_EQ(block->itemCount, 65535);
  EXPECT_EQ(bm.ItemAt(block, 65534)->block, block);
}

TEST(StoreGrowthTest, ForwardReadingReusesItsOneBlockAndReleasesTheValues) {
  TestStore store({{"n", dtInt32}, {"s", dtExtString}, {"m", dtMemo}});
  store.Open();
  auto fill = [&](TBlockHeader* block, int first, int n) {
    for (int i = 0; i < n; ++i) {
      uint8_t* rec = TBlockManager::RecordOf(store.BlockManager().ItemAt(block, static_cast<size_t>(i)));
      int32_t v = first + i;
      store.PutField(1, rec, &v, sizeof v);
      store.PutExtString(2, rec, "value " + std::to_string(first + i));
      store.CreateBlob(3, rec).SetAsString(std::string(100, 'm'));
    }
    store.AppendBlock(block, n);
  };
  fill(store.BlockManager().AllocBlock(4), 1, 4);
  // A reader still holds a copy of record 4.
  store.SetToEnd();
  store.StepPriorRecord(nullptr);
  TRecBuf held = store.AllocRecBuf();
  store.GetRecord(held.get());
  store.CopyComplexFields(held.get(), held.get());
  THeapRef heldRef = LoadUnaligned<uint32_t>(held.get() + store.Fields()[1].Offset());

  TBlockHeader* reused = store.ReleaseRecordsForReuse(4);
  ASSERT_NE(reused, nullptr);
  EXPECT_EQ(store.BlockManager().BlockCount(), 1u);
  EXPECT_EQ(store.FirstItem(), nullptr);
  EXPECT_EQ(store.Objects().LiveCount(), 1u);  // only the held copy's blob
  EXPECT_STREQ(store.StringHeap().Data(heldRef), "value 4");
  fill(reused, 5, 3);  // a last, shorter block

  // Numbering goes on, and the count includes the released records.
  EXPECT_EQ(store.RecordCount(), 7);
  store.SetToBegin();
  std::vector<int> seen;
  for (store.StepNextRecord(nullptr); !store.Eof(); store.StepNextRecord(nullptr)) {
    seen.push_back(store.RecNo());
    EXPECT_EQ(IntOf(store, store.CurrentItem()), store.RecNo());
  }
  EXPECT_EQ(seen, (std::vector<int>{5, 6, 7}));

  store.FreeComplexFields(held.get(), true);
  EXPECT_FALSE(store.StringHeap().IsLive(heldRef));
  // A block of another size cannot be reused: the blocks go.
  EXPECT_EQ(store.ReleaseRecordsForReuse(25), nullptr);
  EXPECT_EQ(store.BlockManager().BlockCount(), 0u);
  EXPECT_EQ(store.Objects().LiveCount(), 0u);
}

// Past its first MiB of blocks a store takes blocks from committed arenas:
// every block keeps its own records, a freed block serves the next block
// of its size zero-filled, and once the last block is gone the manager
// starts over.
TEST(StoreGrowthTest, ManyBlocksKeepTheirRecordsThroughFreesAndReuse) {
  constexpr size_t kRecord = 40, kItems = 25, kBlocks = 2000;  // about 2.5 MiB of blocks
  TBlockManager blocks;
  blocks.SetRecordSize(kRecord);
  auto pattern = [](size_t block, size_t item) { return static_cast<uint8_t>((block * kItems + item) % 251); };
  auto fill = [&](TBlockHeader* block, size_t b) {
    for (size_t i = 0; i < kItems; ++i) {
      uint8_t* record = TBlockManager::RecordOf(blocks.ItemAt(block, i));
      for (size_t k = 0; k < kRecord; ++k) ASSERT_EQ(record[k], 0) << "block " << b << " item " << i;
      std::memset(record, pattern(b, i), kRecord);
    }
  };
  for (int round = 0; round < 2; ++round) {
    std::vector<TBlockHeader*> list;
    for (size_t b = 0; b < kBlocks; ++b) {
      list.push_back(blocks.AllocBlock(kItems));
      fill(list.back(), b);
    }
    for (size_t b = 0; b < kBlocks; b += 2) blocks.FreeBlock(list[b]);
    for (size_t b = 0; b < kBlocks; b += 2) {
      list[b] = blocks.AllocBlock(kItems);
      fill(list[b], b);
    }
    ASSERT_EQ(blocks.BlockCount(), kBlocks);
    for (size_t b = 0; b < kBlocks; ++b)
      for (size_t i = 0; i < kItems; ++i) {
        const uint8_t* record = TBlockManager::RecordOf(blocks.ItemAt(list[b], i));
        ASSERT_EQ(record[0], pattern(b, i)) << "block " << b << " item " << i;
        ASSERT_EQ(record[kRecord - 1], pattern(b, i)) << "block " << b << " item " << i;
        ASSERT_EQ(blocks.ItemAt(list[b], i)->block, list[b]);
      }
    blocks.FreeAllBlocks();
    EXPECT_EQ(blocks.BlockCount(), 0u);
  }
}

// Blocks freed one by one, as editing frees them, in any order: the
// arenas are unmapped when the last block goes, also when that block is
// one of the first, which came from operator new.
TEST(StoreGrowthTest, ArenasGoWithTheLastBlockWhicheverItIs) {
  if (!TCommittedArenas::kEnabled) GTEST_SKIP() << "arenas are off in this build";
  TBlockManager blocks;
  blocks.SetRecordSize(40);
  std::vector<TBlockHeader*> list;
  for (int b = 0; b < 2000; ++b) list.push_back(blocks.AllocBlock(25));  // about 2.5 MiB
  ASSERT_TRUE(blocks.HoldsArenas());
  // Newest first: the arena blocks go before the first ones.
  for (auto it = list.rbegin(); it != list.rend(); ++it) blocks.FreeBlock(*it);
  EXPECT_EQ(blocks.BlockCount(), 0u);
  EXPECT_FALSE(blocks.HoldsArenas());
}

TEST(StoreGrowthTest, SortOrderIsKeptWhileBlocksArrive) {
  TestStore store({{"n", dtInt32}});
  store.Open();
  store.SetIndexFieldNames("n DESC");
  auto add = [&](std::vector<int> values) {
    TBlockHeader* block = store.BlockManager().AllocBlock(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      int32_t v = values[i];
      store.PutField(1, TBlockManager::RecordOf(store.BlockManager().ItemAt(block, i)), &v, sizeof v);
    }
    TItemHeader* before = store.LastItem();
    store.AppendBlock(block, static_cast<int>(values.size()));
    store.MergeSorted(before ? before->next : store.FirstItem());
  };
  add({5, 1, 9});
  add({7, 3, 10, 2});
  add({6});
  std::vector<int> order, numbers;
  store.SetToBegin();
  for (store.StepNextRecord(nullptr); !store.Eof(); store.StepNextRecord(nullptr)) {
    order.push_back(IntOf(store, store.CurrentItem()));
    numbers.push_back(store.RecNo());
  }
  EXPECT_EQ(order, (std::vector<int>{10, 9, 7, 6, 5, 3, 2, 1}));
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(StoreGrowthTest, ExactNumbersFromText) {
  TestStore store({{"c", dtBCD}, {"f", dtFmtBCD, 12}});
  store.Fields()[1].SetScale(3);
  TRecBuf rec = store.AllocRecBuf();
  struct Case {
    const char* text;
    int64_t scaled;
  };
  const Case currency[] = {{"12.5", 125000},           {"-0.00005", -1},          {"0.00004", 0},
                           {"922337203685477.5807", INT64_MAX}, {"-922337203685477.5808", INT64_MIN},
                           {"007", 70000},             {"1.23456", 12346}};
  for (const Case& c : currency) {
    store.PutBCDText(1, rec.get(), c.text);
    EXPECT_EQ(store.GetFieldAsVariant(1, rec.get()), Variant(Currency{c.scaled})) << c.text;
  }
  for (const char* bad : {"922337203685477.5808", "1e5", "abc", "", "1.2.3"})
    EXPECT_THROW(store.PutBCDText(1, rec.get(), bad), EConvertError) << bad;

  const std::pair<const char*, const char*> fmt[] = {
      {"123456789.125", "123456789.125"}, {"-0.5", "-0.5"}, {"42", "42"}, {"1.23456", "1.234"}, {"-0.000", "0"}};
  for (const auto& [text, expected] : fmt) {
    store.PutFmtBCDText(2, rec.get(), text);
    uint8_t bcd[kFmtBcdSize];
    bool blank = true;
    store.ReadFieldValue(2, rec.get(), bcd, sizeof bcd, blank);
    EXPECT_FALSE(blank);
    EXPECT_EQ(bcd[0], 12);
    EXPECT_EQ(bcd[1] & 0x3F, 3);
    EXPECT_EQ(FmtBcdToText(bcd), expected) << text;
  }
  EXPECT_THROW(store.PutFmtBCDText(2, rec.get(), "1234567890.5"), EConvertError);  // 10 digits before the point
  EXPECT_DOUBLE_EQ(store.GetFieldAsVariant(2, rec.get()).AsDouble(), -0.0);
}

}  // namespace
}  // namespace da
