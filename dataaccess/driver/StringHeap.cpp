#include "driver/StringHeap.h"

#include <cstring>
#include <new>

#include "common/Exception.h"

namespace da {
namespace {

// References: small items are (page << 14) | offset of their data in the
// page; large items have the top bit set, their slot's generation in the
// next 8 bits and the slot number below.
constexpr uint32_t kLargeBit = 0x80000000u;
constexpr unsigned kOffsetBits = 14;
constexpr uint32_t kOffsetMask = (1u << kOffsetBits) - 1;
constexpr unsigned kSlotBits = 23;
constexpr uint32_t kSlotMask = (1u << kSlotBits) - 1;
static_assert(TStringHeap::kPageSize == (size_t{1} << kOffsetBits));

uint32_t ReadU32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void WriteU32(char* p, uint32_t v) { std::memcpy(p, &v, 4); }
uint16_t ReadU16(const char* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
void WriteU16(char* p, uint16_t v) { std::memcpy(p, &v, 2); }

unsigned ClassOf(size_t size) { return static_cast<unsigned>((size + 7) / 8); }

// Takes the lock only when the heap is thread-safe.
class MaybeLock {
 public:
  MaybeLock(std::mutex& m, bool on) : m_(on ? &m : nullptr) {
    if (m_) m_->lock();
  }
  ~MaybeLock() {
    if (m_) m_->unlock();
  }
  MaybeLock(const MaybeLock&) = delete;
  MaybeLock& operator=(const MaybeLock&) = delete;

 private:
  std::mutex* m_;
};

}  // namespace

void TStringHeap::Page::operator()(char* p) const {
  if (own) ::operator delete(p);
}

TStringHeap::PagePtr TStringHeap::TakePage() {
  if (!TCommittedArenas::kEnabled || pages_.size() < kArenaPages)
    return PagePtr(static_cast<char*>(::operator new(kPageSize)));
  return PagePtr(arenas_.Take(kPageSize), Page{false});
}

TStringHeap::TStringHeap() = default;

TStringHeap::~TStringHeap() {
  for (char* p : large_) ::operator delete(p);
}

bool TStringHeap::Empty() const {
  MaybeLock lock(mutex_, threadSafe_);
  return pages_.empty() && largeCount_ == 0;
}

// The steps every string stored or read takes are inlined into the
// routines that take them (all of them in this file).

// Data offsets in a page are even (pages start items at 4, items are 6
// plus a multiple of 8 bytes): one bit per even offset marks item starts.
[[gnu::always_inline]] inline bool TStringHeap::IsItemStart(size_t page, size_t offset) const {
  const size_t bit = offset / 2;
  return (starts_[page][bit / 64] >> (bit % 64)) & 1u;
}

[[gnu::always_inline]] inline void TStringHeap::MarkItemStart(size_t page, size_t offset) {
  const size_t bit = offset / 2;
  starts_[page][bit / 64] |= uint64_t{1} << (bit % 64);
}

[[gnu::always_inline]] inline char* TStringHeap::Header(THeapRef ref) const {
  if (ref == 0) return nullptr;
  if (ref & kLargeBit) {
    const uint32_t slot = ref & kSlotMask;
    if (slot >= large_.size() || largeGen_[slot] != ((ref & ~kLargeBit) >> kSlotBits)) return nullptr;
    return large_[slot];
  }
  const size_t page = ref >> kOffsetBits;
  const size_t offset = ref & kOffsetMask;
  // Only the start of an item carved from a page names one.
  if (page >= pages_.size() || offset < kPageLink + kItemHeader || offset % 2 != 0 || !IsItemStart(page, offset))
    return nullptr;
  return pages_[page].get() + offset - kItemHeader;
}

char* TStringHeap::CheckedHeader(THeapRef ref, const char* failure) const {
  char* h = Header(ref);
  if (!h) throw EAssertionFailed(failure);
  return h;
}

[[gnu::always_inline]] inline char* TStringHeap::LiveHeader(THeapRef ref) const {
  char* h = Header(ref);
  // A free item's data holds the free list's link, not a value.
  if (!h || ReadU16(h + 4) <= kMarkFree) throw EAssertionFailed("Invalid string heap reference");
  return h;
}

void TStringHeap::NewPage() {
  if (pages_.size() >= kMaxPages) throw std::bad_alloc();
  PagePtr page = TakePage();
  WriteU32(page.get(), static_cast<uint32_t>(pages_.size()));  // 1-based number of the previous page
  starts_.emplace_back(new uint64_t[kStartWords]());
  try {
    pages_.push_back(std::move(page));
  } catch (...) {
    starts_.pop_back();
    throw;
  }
  pagePos_ = kPageLink;
}

void TStringHeap::PushFree(unsigned cls, THeapRef ref) {
  char* h = Header(ref);
  WriteU16(h + 4, kMarkFree);
  WriteU32(h + kItemHeader, freeLists_[cls]);  // the link lives in the free item's data
  freeLists_[cls] = ref;
}

[[gnu::always_inline]] inline THeapRef TStringHeap::AllocSmall(size_t size) {
  unsigned cls = ClassOf(size == 0 ? 1 : size);
  if (THeapRef ref = freeLists_[cls]) {
    char* h = Header(ref);
    freeLists_[cls] = ReadU32(h + kItemHeader);
    WriteU16(h + 4, kMarkOneRef);
    return ref;
  }

  const size_t need = kItemHeader + size_t{cls} * 8;
  size_t rest = kPageSize - pagePos_;
  if (pages_.empty() || rest < need) {
    // The rest of the page becomes a free item of the largest class it holds.
    if (!pages_.empty() && rest >= kMinItem) {
      unsigned restClass = static_cast<unsigned>((rest - kItemHeader) / 8);
      if (restClass > kClassCount) restClass = kClassCount;
      char* h = pages_.back().get() + pagePos_;
      WriteU32(h, restClass * 8);
      MarkItemStart(pages_.size() - 1, pagePos_ + kItemHeader);
      PushFree(restClass, static_cast<THeapRef>(((pages_.size() - 1) << kOffsetBits) | (pagePos_ + kItemHeader)));
    }
    NewPage();
  }

  char* page = pages_.back().get();
  const size_t itemPos = pagePos_;
  uint32_t itemSize = cls * 8;
  pagePos_ += need;
  rest = kPageSize - pagePos_;
  if (rest < kMinItem) {
    // Too little for another item: give it to this one when it stays small.
    size_t extra = rest & ~size_t{7};
    if (itemSize + extra <= kMaxSmall) itemSize += static_cast<uint32_t>(extra);
    pagePos_ = kPageSize;
  }
  WriteU32(page + itemPos, itemSize);
  WriteU16(page + itemPos + 4, kMarkOneRef);
  MarkItemStart(pages_.size() - 1, itemPos + kItemHeader);
  return static_cast<THeapRef>(((pages_.size() - 1) << kOffsetBits) | (itemPos + kItemHeader));
}

THeapRef TStringHeap::AllocLarge(size_t size) {
  if (size > UINT32_MAX - kItemHeader) throw std::bad_alloc();
  if (freeLargeSlots_.empty() && large_.size() >= kSlotMask) throw std::bad_alloc();
  char* h = static_cast<char*>(::operator new(kItemHeader + size));
  WriteU32(h, static_cast<uint32_t>(size));
  WriteU16(h + 4, kMarkOneRef);
  uint32_t slot;
  if (!freeLargeSlots_.empty()) {
    slot = freeLargeSlots_.back();
    freeLargeSlots_.pop_back();
    large_[slot] = h;
  } else {
    try {
      largeGen_.reserve(large_.size() + 1);
      large_.push_back(h);
      largeGen_.push_back(0);
    } catch (...) {
      ::operator delete(h);
      throw;
    }
    slot = static_cast<uint32_t>(large_.size() - 1);
  }
  ++largeCount_;
  return kLargeBit | (static_cast<uint32_t>(largeGen_[slot]) << kSlotBits) | slot;
}

THeapRef TStringHeap::NewBuf(size_t size) {
  MaybeLock lock(mutex_, threadSafe_);
  return size <= kMaxSmall ? AllocSmall(size) : AllocLarge(size);
}

char* TStringHeap::NewItem(size_t size, THeapRef& ref) {
  MaybeLock lock(mutex_, threadSafe_);
  ref = size <= kMaxSmall ? AllocSmall(size) : AllocLarge(size);
  // Just made: no need to check the reference.
  if (ref & kLargeBit) return large_[ref & kSlotMask] + kItemHeader;
  return pages_[ref >> kOffsetBits].get() + (ref & kOffsetMask);
}

THeapRef TStringHeap::AllocStr(std::string_view text, bool trimTrailingBlanks) {
  if (trimTrailingBlanks)
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  THeapRef ref;
  char* d = NewItem(text.size() + 1, ref);
  std::memcpy(d, text.data(), text.size());
  d[text.size()] = '\0';
  return ref;
}

THeapRef TStringHeap::AllocWideStr(std::u16string_view text, bool trimTrailingBlanks) {
  if (trimTrailingBlanks)
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  const size_t bytes = text.size() * 2;
  THeapRef ref;
  char* d = NewItem(bytes + 2, ref);
  std::memcpy(d, text.data(), bytes);
  d[bytes] = d[bytes + 1] = '\0';
  return ref;
}

void TStringHeap::DisposeBuf(THeapRef ref) {
  if (ref == 0) return;
  MaybeLock lock(mutex_, threadSafe_);
  char* h = CheckedHeader(ref, "DisposeBuf failed");
  uint16_t mark = ReadU16(h + 4);
  if (mark < kMarkOneRef) throw EAssertionFailed("DisposeBuf failed");
  if (mark > kMarkOneRef) {
    WriteU16(h + 4, static_cast<uint16_t>(mark - 1));
    return;
  }
  const uint32_t size = ReadU32(h);
  const bool large = (ref & kLargeBit) != 0;
  // The size tells the kinds apart; it must agree with the reference.
  if (ClassOf(size) > kClassCount) {
    if (!large) throw EAssertionFailed("DisposeBuf failed");
    const uint32_t slot = ref & kSlotMask;
    large_[slot] = nullptr;
    ++largeGen_[slot];  // the reference names nothing from now on
    freeLargeSlots_.push_back(slot);
    --largeCount_;
    ::operator delete(h);
    return;
  }
  if (large || size == 0 || size % 8 != 0) throw EAssertionFailed("SmallTab in DisposeBuf failed");
  PushFree(size / 8, ref);
}

void TStringHeap::AddReference(THeapRef ref) {
  MaybeLock lock(mutex_, threadSafe_);
  char* h = CheckedHeader(ref, "AddRefStr failed");
  uint16_t mark = ReadU16(h + 4);
  // A mark that would wrap around would make a live item look free.
  if (mark <= kMarkFree || mark == UINT16_MAX) throw EAssertionFailed("AddRefStr failed");
  WriteU16(h + 4, static_cast<uint16_t>(mark + 1));
}

char* TStringHeap::Data(THeapRef ref) const {
  MaybeLock lock(mutex_, threadSafe_);
  return LiveHeader(ref) + kItemHeader;
}

char* TStringHeap::Data(THeapRef ref, size_t& itemSize) const {
  MaybeLock lock(mutex_, threadSafe_);
  char* h = LiveHeader(ref);
  itemSize = ReadU32(h);
  return h + kItemHeader;
}

size_t TStringHeap::ItemSize(THeapRef ref) const {
  MaybeLock lock(mutex_, threadSafe_);
  return ReadU32(LiveHeader(ref));
}

bool TStringHeap::IsLive(THeapRef ref) const {
  MaybeLock lock(mutex_, threadSafe_);
  const char* h = Header(ref);
  return h && ReadU16(h + 4) > kMarkFree;
}

uint16_t TStringHeap::RefMark(THeapRef ref) const {
  MaybeLock lock(mutex_, threadSafe_);
  return ReadU16(CheckedHeader(ref, "Invalid string heap reference") + 4);
}

void TStringHeap::Clear() {
  MaybeLock lock(mutex_, threadSafe_);
  std::vector<PagePtr>().swap(pages_);
  arenas_.Release();
  std::vector<std::unique_ptr<uint64_t[]>>().swap(starts_);
  pagePos_ = kPageSize;
  for (THeapRef& head : freeLists_) head = 0;
}

}  // namespace da
