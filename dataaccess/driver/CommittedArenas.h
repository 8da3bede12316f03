#pragma once
// Memory for stores that grow large: arenas of a fixed size, mapped with
// their pages committed at once. Writing a large result into memory from
// the system allocator takes a page fault for every 4 KiB as it is first
// touched; an arena takes one page-in for all of its pages.
//
// Off under AddressSanitizer, whose checks of bounds cover memory from
// operator new and not a mapping of our own: there the stores allocate as
// usual.

#include <cstddef>
#include <memory>
#include <vector>

namespace da {

class TCommittedArenas {
 public:
#if defined(__SANITIZE_ADDRESS__)
  static constexpr bool kEnabled = false;
#else
  static constexpr bool kEnabled = true;
#endif
  static constexpr size_t kArenaBytes = size_t{1} << 20;

  TCommittedArenas() = default;
  TCommittedArenas(const TCommittedArenas&) = delete;
  TCommittedArenas& operator=(const TCommittedArenas&) = delete;

  // `bytes` (at most kArenaBytes) from the last arena, or from a new one
  // when the last has less room; 16-byte aligned, zero-filled when first
  // taken. Raises std::bad_alloc when no arena can be mapped.
  char* Take(size_t bytes);
  // Unmaps every arena: what was taken from them is gone.
  void Release();
  bool Empty() const { return arenas_.empty(); }

 private:
  struct Unmap {
    void operator()(char* p) const;
  };
  std::vector<std::unique_ptr<char, Unmap>> arenas_;
  size_t used_ = kArenaBytes;  // of the last arena
};

}  // namespace da
