// The string heap: size classes, pages, individual large items, reference
// marks and their misuse, Clear.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "common/Exception.h"
#include "driver/StringHeap.h"

namespace da {
namespace {

std::string AssertionText(const std::function<void()>& f) {
  try {
    f();
  } catch (const EAssertionFailed& e) {
    return e.Message();
  }
  return "no error";
}

TEST(StringHeapTest, SizeClasses) {
  struct Case {
    size_t request;
    size_t itemSize;
    bool individual;
  };
  const Case cases[] = {
      {0, 8, false}, {1, 8, false}, {8, 8, false}, {9, 16, false}, {1999, 2000, false}, {2000, 2000, false},
      {2001, 2001, true}, {70000, 70000, true},
  };
  for (const Case& c : cases) {
    TStringHeap heap;
    THeapRef ref = heap.NewBuf(c.request);
    ASSERT_NE(ref, 0u);
    EXPECT_EQ(heap.ItemSize(ref), c.itemSize) << c.request;
    EXPECT_EQ(heap.HasIndividualAllocations(), c.individual) << c.request;
    EXPECT_EQ(heap.PageCount(), c.individual ? 0u : 1u) << c.request;
    EXPECT_EQ(heap.RefMark(ref), TStringHeap::kMarkOneRef);
    std::memset(heap.Data(ref), 'x', c.request);  // the whole request is usable
    heap.DisposeBuf(ref);
    EXPECT_EQ(heap.HasIndividualAllocations(), false) << c.request;
  }
}

TEST(StringHeapTest, FreedItemsAreReusedByClass) {
  TStringHeap heap;
  THeapRef a = heap.NewBuf(20);
  THeapRef b = heap.NewBuf(100);
  heap.DisposeBuf(a);
  EXPECT_EQ(heap.RefMark(a), TStringHeap::kMarkFree);
  EXPECT_NE(heap.NewBuf(30), a);  // another class
  EXPECT_EQ(heap.NewBuf(17), a);  // class 3 again
  EXPECT_NE(heap.NewBuf(24), a);  // the free list of class 3 is empty now
  EXPECT_EQ(heap.RefMark(b), TStringHeap::kMarkOneRef);
}

TEST(StringHeapTest, PageRests) {
  TStringHeap heap;
  // Eight items of class 250 fill a page up to 332 bytes.
  for (int i = 0; i < 8; ++i) heap.NewBuf(2000);
  EXPECT_EQ(heap.PageCount(), 1u);
  // 80 + 72 + 72 + 72 bytes (with headers 86 + 3 * 78) leave 12 bytes: too
  // few for an item, so the last item takes 8 of them.
  heap.NewBuf(80);
  heap.NewBuf(72);
  heap.NewBuf(72);
  THeapRef last = heap.NewBuf(72);
  EXPECT_EQ(heap.ItemSize(last), 80u);
  EXPECT_EQ(heap.PageCount(), 1u);
  heap.NewBuf(8);
  EXPECT_EQ(heap.PageCount(), 2u);

  // A request larger than the rest of a page: the rest becomes a free item
  // of the largest class that fits and a new page starts.
  TStringHeap other;
  THeapRef first = 0;
  for (int i = 0; i < 8; ++i) {
    THeapRef r = other.NewBuf(2000);
    if (i == 0) first = r;
  }
  THeapRef big = other.NewBuf(2000);  // does not fit into the 332 bytes left
  EXPECT_EQ(other.PageCount(), 2u);
  THeapRef rest = other.NewBuf(320);  // class 40 = (332 - 6) / 8, from the first page
  EXPECT_EQ(other.ItemSize(rest), 320u);
  EXPECT_EQ(rest >> 14, first >> 14);
  EXPECT_NE(rest >> 14, big >> 14);
  EXPECT_EQ(other.PageCount(), 2u);
}

TEST(StringHeapTest, ReferenceMarks) {
  TStringHeap heap;
  THeapRef ref = heap.AllocStr("abc");
  heap.AddReference(ref);
  EXPECT_EQ(heap.RefMark(ref), 102);
  heap.DisposeBuf(ref);
  EXPECT_EQ(heap.RefMark(ref), 101);
  EXPECT_STREQ(heap.Data(ref), "abc");
  heap.DisposeBuf(ref);
  EXPECT_EQ(heap.RefMark(ref), 100);
  EXPECT_EQ(AssertionText([&] { heap.DisposeBuf(ref); }), "DisposeBuf failed");
  EXPECT_EQ(AssertionText([&] { heap.AddReference(ref); }), "AddRefStr failed");
  EXPECT_EQ(AssertionText([&] { heap.AddReference(12345678); }), "AddRefStr failed");
  EXPECT_EQ(AssertionText([&] { heap.DisposeBuf(0x80000005u); }), "DisposeBuf failed");

  // A corrupt size in a small item's header.
  THeapRef other = heap.NewBuf(16);
  std::memset(heap.Data(other) - 6, 0, 4);
  EXPECT_EQ(AssertionText([&] { heap.DisposeBuf(other); }), "SmallTab in DisposeBuf failed");

  heap.DisposeBuf(0);  // no item: nothing
}

TEST(StringHeapTest, MarksDoNotWrapAround) {
  TStringHeap heap;
  THeapRef ref = heap.NewBuf(8);
  for (int mark = TStringHeap::kMarkOneRef; mark < UINT16_MAX; ++mark) heap.AddReference(ref);
  EXPECT_EQ(heap.RefMark(ref), UINT16_MAX);
  EXPECT_EQ(AssertionText([&] { heap.AddReference(ref); }), "AddRefStr failed");
  EXPECT_EQ(heap.RefMark(ref), UINT16_MAX);
}

TEST(StringHeapTest, StringsAndTrimming) {
  TStringHeap heap;
  THeapRef s = heap.AllocStr("ab  ", true);
  EXPECT_STREQ(heap.Data(s), "ab");
  THeapRef w = heap.AllocWideStr(u"x y ", true);
  std::u16string back(3, u'?');
  std::memcpy(back.data(), heap.Data(w), 6);
  EXPECT_EQ(back, std::u16string(u"x y", 3));
  EXPECT_EQ(heap.Data(w)[6], 0);
  EXPECT_EQ(heap.Data(w)[7], 0);
  std::string long_(3000, 'z');
  THeapRef l = heap.AllocStr(long_);
  EXPECT_EQ(heap.ItemSize(l), 3001u);
  EXPECT_EQ(std::string(heap.Data(l)), long_);
}

TEST(StringHeapTest, ClearReleasesPagesButNotLargeItems) {
  TStringHeap heap;
  THeapRef small = heap.AllocStr("small");
  THeapRef large = heap.AllocStr(std::string(5000, 'L'));
  heap.Clear();
  EXPECT_EQ(heap.PageCount(), 0u);
  EXPECT_FALSE(heap.Empty());
  EXPECT_EQ(AssertionText([&] { heap.Data(small); }), "Invalid string heap reference");
  EXPECT_EQ(heap.Data(large)[4999], 'L');
  heap.DisposeBuf(large);
  EXPECT_TRUE(heap.Empty());
  // A fresh start after Clear.
  THeapRef again = heap.AllocStr("again");
  EXPECT_STREQ(heap.Data(again), "again");
}

// Past its first pages a heap takes pages from committed arenas: a few MiB
// of strings read back whole, through a Clear, and a reference from before
// the Clear is refused, not followed into an unmapped arena.
TEST(StringHeapTest, LargeHeapsKeepEveryValueAcrossClears) {
  TStringHeap heap;
  auto text = [](int i) { return "value " + std::to_string(i) + std::string(static_cast<size_t>(i % 50), 'x'); };
  constexpr int kCount = 100000;  // about 6 MiB of items, far past the first 64 pages
  for (int round = 0; round < 2; ++round) {
    std::vector<THeapRef> refs;
    for (int i = 0; i < kCount; ++i) refs.push_back(heap.AllocStr(text(i + round)));
    ASSERT_GT(heap.PageCount(), 256u);
    for (int i = 0; i < kCount; ++i) ASSERT_EQ(heap.Data(refs[static_cast<size_t>(i)]), text(i + round)) << i;
    // Freed items of arena pages are reused like any others.
    for (int i = 0; i < kCount; i += 2) heap.DisposeBuf(refs[static_cast<size_t>(i)]);
    for (int i = 0; i < kCount; i += 2) refs[static_cast<size_t>(i)] = heap.AllocStr(text(i + round));
    for (int i = 0; i < kCount; ++i) ASSERT_EQ(heap.Data(refs[static_cast<size_t>(i)]), text(i + round)) << i;
    const THeapRef last = refs.back();
    heap.Clear();
    EXPECT_EQ(AssertionText([&] { heap.Data(last); }), "Invalid string heap reference");
  }
}

TEST(StringHeapTest, ThreadSafeHeapWorksFromSeveralThreads) {
  TStringHeap heap;
  heap.SetThreadSafe(true);
  auto work = [&heap] {
    for (int i = 0; i < 2000; ++i) {
      THeapRef r = heap.AllocStr(std::string(static_cast<size_t>(i % 300), 'q'));
      heap.DisposeBuf(r);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(heap.HasIndividualAllocations(), false);
}

}  // namespace
}  // namespace da
