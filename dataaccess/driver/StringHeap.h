#pragma once
// The string heap of the record storage: variable-length values of the
// "Ext" types live here and records hold a 4-byte reference to them.
//
// Requests up to 2000 bytes are served from 16 KiB pages in size classes of
// 8 bytes, each class with its own free list, so that clearing a result
// releases a few pages instead of thousands of strings. Larger requests are
// individual allocations. Every item carries a 6-byte header: its size
// (4 bytes) and a reference mark (2 bytes: 100 free, 101 one reference,
// each further reference one more).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "driver/CommittedArenas.h"

namespace da {

// A reference to a heap item as a record holds it; 0 is no item.
using THeapRef = uint32_t;

class TStringHeap {
 public:
  static constexpr size_t kPageSize = 16384;
  static constexpr size_t kPageLink = 4;  // the number of the previous page
  static constexpr size_t kPageUsable = kPageSize - kPageLink;
  static constexpr size_t kItemHeader = 6;
  static constexpr size_t kMaxSmall = 2000;
  static constexpr unsigned kClassCount = 250;
  static constexpr size_t kMinItem = kItemHeader + 8;  // the smallest carvable item
  static constexpr uint16_t kMarkFree = 100;
  static constexpr uint16_t kMarkOneRef = 101;
  // Small items are addressed by page and offset; 2 GiB of pages at most.
  static constexpr size_t kMaxPages = size_t{1} << 17;

  TStringHeap();
  ~TStringHeap();
  TStringHeap(const TStringHeap&) = delete;
  TStringHeap& operator=(const TStringHeap&) = delete;

  // A new item of at least `size` bytes (contents undefined) with one
  // reference. Raises std::bad_alloc when memory (or the page space) runs out.
  THeapRef NewBuf(size_t size);
  // Copies `text` (without its trailing blanks when asked) and a
  // terminating zero into a new item.
  THeapRef AllocStr(std::string_view text, bool trimTrailingBlanks = false);
  THeapRef AllocWideStr(std::u16string_view text, bool trimTrailingBlanks = false);

  // Drops one reference; the last one frees the item. A reference to a
  // free item raises EAssertionFailed "DisposeBuf failed", a corrupt size
  // "SmallTab in DisposeBuf failed". 0 is ignored.
  void DisposeBuf(THeapRef ref);
  // Adds a reference; a free item raises EAssertionFailed "AddRefStr failed".
  void AddReference(THeapRef ref);

  // The item's bytes and its size as the header holds it. REQUIRES a
  // reference to a live item of this heap: anything else (a position that
  // is not the start of an item, a freed item, a large item whose slot was
  // reused) raises EAssertionFailed. The pointer stays good until the item
  // is freed or the heap cleared.
  char* Data(THeapRef ref) const;
  size_t ItemSize(THeapRef ref) const;
  // Data and ItemSize with one check of the reference.
  char* Data(THeapRef ref, size_t& itemSize) const;
  uint16_t RefMark(THeapRef ref) const;
  // Whether `ref` names a live item (the checks of Data, without raising).
  bool IsLive(THeapRef ref) const;

  // Releases every page at once and resets the free lists. Individual
  // large allocations stay (records may still refer to them); they go with
  // DisposeBuf or with the heap.
  void Clear();

  // No pages and no individual allocations.
  bool Empty() const;
  bool HasIndividualAllocations() const { return largeCount_ != 0; }
  size_t PageCount() const { return pages_.size(); }

  // Serialises every operation through a lock; off by default.
  void SetThreadSafe(bool value) { threadSafe_ = value; }
  bool ThreadSafe() const { return threadSafe_; }

 private:
  // A page of its own (freed with it) or one of an arena's (freed with the
  // arena).
  struct Page {
    bool own = true;
    void operator()(char* p) const;
  };
  using PagePtr = std::unique_ptr<char, Page>;
  // Pages beyond the first kArenaPages come from committed arenas.
  static constexpr size_t kArenaPages = 64;
  PagePtr TakePage();

  // NewBuf, answering the new item's bytes as well.
  char* NewItem(size_t size, THeapRef& ref);
  THeapRef AllocSmall(size_t size);
  THeapRef AllocLarge(size_t size);
  void NewPage();
  // The item's header, or null when `ref` names no item of this heap.
  char* Header(THeapRef ref) const;
  char* CheckedHeader(THeapRef ref, const char* failure) const;
  // The header of a live item; raises EAssertionFailed otherwise.
  char* LiveHeader(THeapRef ref) const;
  bool IsItemStart(size_t page, size_t offset) const;
  void MarkItemStart(size_t page, size_t offset);
  void PushFree(unsigned cls, THeapRef ref);

  static constexpr size_t kStartWords = kPageSize / 2 / 64;
  TCommittedArenas arenas_;
  std::vector<PagePtr> pages_;
  std::vector<std::unique_ptr<uint64_t[]>> starts_;  // per page: item starts, one bit per even offset
  size_t pagePos_ = kPageSize;  // carving position in the last page
  THeapRef freeLists_[kClassCount + 1] = {};
  std::vector<char*> large_;            // owned; null where freed
  std::vector<uint8_t> largeGen_;       // per slot; moves on when the slot is freed
  std::vector<uint32_t> freeLargeSlots_;
  size_t largeCount_ = 0;

  bool threadSafe_ = false;
  mutable std::mutex mutex_;
};

}  // namespace da
