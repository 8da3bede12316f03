#include "driver/CommittedArenas.h"

#include <sys/mman.h>

#include <new>

namespace da {

void TCommittedArenas::Unmap::operator()(char* p) const { munmap(p, kArenaBytes); }

char* TCommittedArenas::Take(size_t bytes) {
  bytes = (bytes + 15) & ~size_t{15};
  if (bytes > kArenaBytes) throw std::bad_alloc();
  if (kArenaBytes - used_ < bytes) {
    arenas_.reserve(arenas_.size() + 1);
    void* memory =
        mmap(nullptr, kArenaBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    arenas_.emplace_back(static_cast<char*>(memory));
    used_ = 0;
  }
  char* p = arenas_.back().get() + used_;
  used_ += bytes;
  return p;
}

void TCommittedArenas::Release() {
  arenas_.clear();
  used_ = kArenaBytes;
}

}  // namespace da
