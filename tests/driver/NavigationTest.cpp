// Items and blocks, and navigation over 0, 1 and many records, across
// blocks, with record numbers and GoToRecNo fetching as it walks.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "StoreFixture.h"
#include "common/Exception.h"

namespace da {
namespace {

using testutil::TestStore;

int32_t FieldValue(TestStore& store, uint8_t* rec) { return store.GetFieldAsVariant(1, rec).AsInt32(); }

// Values met walking forwards (and backwards) over the whole store.
std::vector<int32_t> WalkForward(TestStore& store) {
  std::vector<int32_t> seen;
  TRecBuf rec = store.AllocRecBuf();
  store.SetToBegin();
  for (store.StepNextRecord(rec.get()); !store.Eof(); store.StepNextRecord(rec.get())) {
    seen.push_back(FieldValue(store, rec.get()));
    EXPECT_EQ(store.RecNo(), static_cast<int>(seen.size()));
  }
  return seen;
}

std::vector<int32_t> WalkBackward(TestStore& store) {
  std::vector<int32_t> seen;
  TRecBuf rec = store.AllocRecBuf();
  store.SetToEnd();
  for (store.StepPriorRecord(rec.get()); !store.Bof(); store.StepPriorRecord(rec.get()))
    seen.push_back(FieldValue(store, rec.get()));
  return seen;
}

std::vector<int32_t> Range(int from, int to) {
  std::vector<int32_t> v;
  for (int i = from; i <= to; ++i) v.push_back(i);
  return v;
}

TEST(NavigationTest, WalksOverZeroOneAndManyRecordsInBlocks) {
  struct Case {
    const char* what;
    std::vector<int> blocks;  // records per block of 25
  };
  const Case cases[] = {
      {"empty", {}},
      {"one", {1}},
      {"one full block", {25}},
      {"60 records in blocks of 25", {25, 25, 10}},
      {"an empty block between", {25, 0, 3}},
  };
  for (const Case& c : cases) {
    TestStore store({{"n", dtInt32}});
    int total = 0;
    for (int n : c.blocks) {
      store.AddInt32Block(total + 1, n, 25);
      total += n;
    }
    EXPECT_EQ(store.RecordCount(), total) << c.what;
    EXPECT_EQ(WalkForward(store), Range(1, total)) << c.what;
    std::vector<int32_t> back = Range(1, total);
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(WalkBackward(store), back) << c.what;
    size_t expectedBlocks = 0;
    for (int n : c.blocks) expectedBlocks += n > 0;
    EXPECT_EQ(store.BlockManager().BlockCount(), expectedBlocks) << c.what;
  }
}

TEST(NavigationTest, EmptyStore) {
  TestStore store({{"n", dtInt32}});
  store.SetToBegin();
  EXPECT_TRUE(store.Bof());
  store.StepNextRecord(nullptr);
  EXPECT_TRUE(store.Eof());
  EXPECT_EQ(store.RecNo(), 0);
  store.GoToRecNo(1);
  EXPECT_EQ(store.CurrentItem(), nullptr);
  TRecBuf rec = store.AllocRecBuf();
  store.GetRecord(rec.get());  // nothing to copy
}

TEST(NavigationTest, BofAndEofAtTheEnds) {
  TestStore store({{"n", dtInt32}});
  store.AddInt32Block(1, 2, 25);
  TRecBuf rec = store.AllocRecBuf();
  store.SetToBegin();
  EXPECT_TRUE(store.Bof());
  EXPECT_FALSE(store.Eof());
  store.StepPriorRecord(rec.get());  // nothing before the first
  EXPECT_TRUE(store.Bof());
  store.StepNextRecord(rec.get());
  EXPECT_FALSE(store.Bof());
  EXPECT_EQ(FieldValue(store, rec.get()), 1);
  store.StepNextRecord(rec.get());
  store.StepNextRecord(rec.get());
  EXPECT_TRUE(store.Eof());
  EXPECT_EQ(store.RecNo(), 0);
  EXPECT_EQ(FieldValue(store, rec.get()), 2);  // the buffer keeps the last record
  store.StepNextRecord(rec.get());
  EXPECT_TRUE(store.Eof());
  store.StepPriorRecord(rec.get());  // from the end: the last record
  EXPECT_EQ(store.RecNo(), 2);
}

TEST(NavigationTest, GoToRecNo) {
  TestStore store({{"n", dtInt32}});
  store.AddInt32Block(1, 25, 25);
  store.AddInt32Block(26, 25, 25);
  store.AddInt32Block(51, 10, 25);
  TRecBuf rec = store.AllocRecBuf();
  for (int n : {1, 60, 26, 25, 59, 2, 60, 1}) {
    store.GoToRecNo(n);
    EXPECT_EQ(store.RecNo(), n);
    store.GetRecord(rec.get());
    EXPECT_EQ(FieldValue(store, rec.get()), n);
  }
  store.GoToRecNo(30);
  store.GoToRecNo(61);  // no such record: the position stays
  EXPECT_EQ(store.RecNo(), 30);
  store.GoToRecNo(0);
  EXPECT_EQ(store.RecNo(), 30);
  store.StepNextRecord(rec.get());
  EXPECT_EQ(FieldValue(store, rec.get()), 31);
}

TEST(NavigationTest, GoToRecNoFetchesWhileWalking) {
  TestStore store({{"n", dtInt32}});
  store.fetchLimit = 100;
  store.AddInt32Block(1, 25, 25);
  store.GoToRecNo(100);
  EXPECT_EQ(store.RecNo(), 100);
  EXPECT_EQ(store.RecordCount(), 100);
  EXPECT_EQ(store.fetchCalls, 3);
  store.GoToRecNo(101);  // the store is exhausted: one more Fetch that adds nothing
  EXPECT_EQ(store.RecNo(), 100);
  EXPECT_EQ(store.fetchCalls, 4);
}

TEST(NavigationTest, PrependedRecordsNumberFromOne) {
  TestStore store({{"n", dtInt32}});
  store.AddInt32Block(10, 3, 5);  // 10 11 12
  TBlockHeader* block = store.BlockManager().AllocBlock(4);
  for (int i = 0; i < 2; ++i) {
    int32_t v = 9 - i;  // fetched backwards: 9 then 8
    store.PutField(1, TBlockManager::RecordOf(store.BlockManager().ItemAt(block, static_cast<size_t>(i))), &v, 4);
  }
  store.PrependBlock(block, 2);
  EXPECT_EQ(WalkForward(store), Range(8, 12));
  store.GoToRecNo(1);
  TRecBuf rec = store.AllocRecBuf();
  store.GetRecord(rec.get());
  EXPECT_EQ(FieldValue(store, rec.get()), 8);
}

TEST(BlockManagerTest, ItemsBlocksAndTheFreeList) {
  TBlockManager bm;
  bm.SetRecordSize(5);
  TItemHeader* a = bm.AllocItem();
  EXPECT_EQ(bm.BlockCount(), 1u);
  EXPECT_EQ(bm.FreeItemCount(), 9u);
  EXPECT_EQ(a->allocMark, kItemUsed);
  EXPECT_EQ(a->updateAction, kUpdateActionNone);
  EXPECT_EQ(a->block->usedItems, 1);
  TItemHeader* b = bm.AllocItem();
  EXPECT_EQ(b->block, a->block);
  EXPECT_EQ(b->block->usedItems, 2);

  bm.FreeItem(a);
  EXPECT_EQ(a->allocMark, kItemFree);
  EXPECT_EQ(bm.FreeItemCount(), 9u);
  EXPECT_EQ(bm.AllocItem(), a);  // reused first
  bm.FreeItem(a);
  EXPECT_THROW(bm.FreeItem(a), EAssertionFailed);
  bm.FreeItem(b);  // the block's last used item: the block goes
  EXPECT_EQ(bm.BlockCount(), 0u);
  EXPECT_EQ(bm.FreeItemCount(), 0u);

  TBlockHeader* full = bm.AllocBlock(3);
  EXPECT_EQ(full->usedItems, 3);
  TBlockHeader* other = bm.AllocBlock(2);
  EXPECT_EQ(bm.FirstBlock(), other);  // new blocks go first
  bm.FreeItem(bm.ItemAt(full, 0));
  bm.ClearFreeList();
  bm.FreeBlock(full);  // an orphaned free item must not upset anything
  EXPECT_EQ(bm.BlockCount(), 1u);
  EXPECT_THROW(bm.SetRecordSize(9), EAssertionFailed);
  bm.FreeAllBlocks();
  bm.SetRecordSize(9);
}

TEST(BlockManagerTest, UnusedItemsOfAFetchedBlockAreReused) {
  TestStore store({{"n", dtInt32}});
  store.AddInt32Block(1, 10, 25);
  EXPECT_EQ(store.BlockManager().FreeItemCount(), 15u);
  TRecBuf rec = store.AllocRecBuf();
  store.AppendRecord(rec.get());
  EXPECT_EQ(store.BlockManager().BlockCount(), 1u);
  EXPECT_EQ(store.RecordCount(), 11);
}

}  // namespace
}  // namespace da
