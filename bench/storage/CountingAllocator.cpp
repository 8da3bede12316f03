#include "CountingAllocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace bench {
namespace {

std::atomic<size_t> g_inUse{0};
std::atomic<size_t> g_peak{0};
std::atomic<size_t> g_count{0};

// The size sits in front of each block; 16 bytes keep the alignment that
// operator new promises.
constexpr size_t kHeader = 16;

void* Allocate(size_t size) {
  void* raw = std::malloc(size + kHeader);
  if (!raw) throw std::bad_alloc();
  *static_cast<size_t*>(raw) = size;
  size_t now = g_inUse.fetch_add(size) + size;
  size_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
  g_count.fetch_add(1);
  return static_cast<char*>(raw) + kHeader;
}

void Deallocate(void* p) noexcept {
  if (!p) return;
  void* raw = static_cast<char*>(p) - kHeader;
  g_inUse.fetch_sub(*static_cast<size_t*>(raw));
  std::free(raw);
}

}  // namespace

AllocationCounts CurrentAllocations() { return {g_inUse.load(), g_peak.load(), g_count.load()}; }

void ResetPeak() { g_peak.store(g_inUse.load()); }

}  // namespace bench

void* operator new(size_t size) { return bench::Allocate(size); }
void* operator new[](size_t size) { return bench::Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return bench::Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  try {
    return bench::Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { bench::Deallocate(p); }
void operator delete[](void* p) noexcept { bench::Deallocate(p); }
void operator delete(void* p, size_t) noexcept { bench::Deallocate(p); }
void operator delete[](void* p, size_t) noexcept { bench::Deallocate(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { bench::Deallocate(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { bench::Deallocate(p); }
