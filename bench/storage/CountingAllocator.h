#pragma once
// Counts the bytes the program asks for through operator new, so that a
// benchmark can measure what a data structure holds independently of the
// system allocator (and also under the sanitizers).

#include <cstddef>

namespace bench {

struct AllocationCounts {
  size_t bytesInUse;
  size_t peakBytes;
  size_t allocations;
};

AllocationCounts CurrentAllocations();
// Restarts the peak at the current level.
void ResetPeak();

}  // namespace bench
