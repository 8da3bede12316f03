// Fills a record store with rows of (Int32, ExtString of 40 bytes,
// DateTime, Float) in blocks of 25 the way the record set does, walks it
// reading every field in the dataset's forms, and clears it. Prints time
// and memory, and the memory per row against the raw bytes of the values
// plus the fixed per-record overhead of the storage. Exits with 1 when
// the memory goal is missed.
//
//   storage_bench [--rows N] [--block N]

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CountingAllocator.h"
#include "common/DateTime.h"
#include "driver/MemData.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long MaxRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

size_t MallocInUse() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
  struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;
#else
  return 0;
#endif
}

constexpr size_t kNameLength = 40;

class BenchStore : public da::TMemData {
 public:
  BenchStore() { InitFields(); }
  ~BenchStore() override { Close(); }

 protected:
  void InternalInitFields() override {
    Add("id", da::dtInt32, 0, 4);
    Add("name", da::dtExtString, kNameLength, 4);
    Add("when", da::dtDateTime, 0, 8);
    Add("rate", da::dtFloat, 0, 8);
  }

 private:
  void Add(const char* name, da::TDataType type, int length, size_t size) {
    auto f = CreateFieldDesc();
    f->SetName(name);
    f->SetDataType(type);
    f->SetLength(length);
    f->SetSize(size);
    Fields().Add(std::move(f));
  }
};

}  // namespace

int main(int argc, char** argv) {
  long rows = 1000000;
  long blockSize = 25;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rows") == 0)
      rows = std::strtol(argv[i + 1], nullptr, 10);
    else if (std::strcmp(argv[i], "--block") == 0)
      blockSize = std::strtol(argv[i + 1], nullptr, 10);
  }
  if (rows <= 0 || blockSize <= 0 || blockSize > 65535) {
    std::fprintf(stderr, "usage: storage_bench [--rows N>0] [--block 1..65535]\n");
    return 2;
  }

  const long rssStart = MaxRssKiB();
  BenchStore store;
  const size_t fieldOffsets[4] = {store.Fields()[0].Offset(), store.Fields()[1].Offset(),
                                  store.Fields()[2].Offset(), store.Fields()[3].Offset()};
  const bench::AllocationCounts before = bench::CurrentAllocations();
  const size_t mallocBefore = MallocInUse();
  bench::ResetPeak();

  // Fill: blocks of `blockSize` records written in place, then handed over.
  const da::TDateTime base = da::EncodeDate(2024, 1, 1);
  // 40 bytes per name: a fixed text with the row number in front.
  char name[kNameLength + 1] = "0000000000 Loja - Avenida da Liberdade..";
  auto start = Clock::now();
  for (long done = 0; done < rows;) {
    const long n = rows - done < blockSize ? rows - done : blockSize;
    da::TBlockHeader* block = store.BlockManager().AllocBlock(static_cast<uint16_t>(blockSize));
    for (long i = 0; i < n; ++i) {
      const long row = done + i;
      uint8_t* rec = da::TBlockManager::RecordOf(store.BlockManager().ItemAt(block, static_cast<size_t>(i)));
      int32_t id = static_cast<int32_t>(row);
      for (long v = row, k = 9; k >= 0; --k, v /= 10) name[k] = static_cast<char>('0' + v % 10);
      double when = base + static_cast<double>(row % 100000) / 1440.0;
      double rate = 23.0 - static_cast<double>(row % 7);
      std::memcpy(rec + fieldOffsets[0], &id, 4);
      store.PutExtString(2, rec, std::string_view(name, kNameLength));
      std::memcpy(rec + fieldOffsets[2], &when, 8);
      std::memcpy(rec + fieldOffsets[3], &rate, 8);
    }
    store.AppendBlock(block, static_cast<int>(n));
    done += n;
  }
  const double fillMs = MsSince(start);
  const bench::AllocationCounts filled = bench::CurrentAllocations();
  const size_t mallocFilled = MallocInUse();

  // Walk: every record into a buffer, every field in the dataset's form.
  da::TRecBuf rec = store.AllocRecBuf();
  int32_t id = 0;
  char text[kNameLength + 8];
  double msecs = 0, rate = 0;
  bool blank = false;
  uint64_t checksum = 0;  // keeps the reads from being optimised away
  long walked = 0;
  start = Clock::now();
  store.SetToBegin();
  for (store.StepNextRecord(rec.get()); !store.Eof(); store.StepNextRecord(rec.get())) {
    store.ReadFieldValue(1, rec.get(), &id, sizeof id, blank);
    store.ReadFieldValue(2, rec.get(), text, sizeof text, blank);
    store.ReadFieldValue(3, rec.get(), &msecs, sizeof msecs, blank);
    store.ReadFieldValue(4, rec.get(), &rate, sizeof rate, blank);
    checksum += static_cast<uint64_t>(id) + static_cast<uint8_t>(text[15]) + static_cast<uint64_t>(msecs) +
                static_cast<uint64_t>(rate);
    ++walked;
  }
  const double walkMs = MsSince(start);

  // Clear: everything stored goes at once.
  start = Clock::now();
  store.Close();
  const double clearMs = MsSince(start);
  const bench::AllocationCounts cleared = bench::CurrentAllocations();

  const double perRow = static_cast<double>(filled.bytesInUse - before.bytesInUse) / static_cast<double>(rows);
  const double mallocPerRow =
      mallocBefore ? static_cast<double>(mallocFilled - mallocBefore) / static_cast<double>(rows) : 0;
  const size_t raw = 4 + kNameLength + 8 + 8;
  // What the storage adds to every record by design: the item header, the
  // null flags with the odd rounding, and the heap item header and
  // terminating zero of the string.
  const size_t flags = store.RecordSize() - store.DataSize();
  const size_t overhead = sizeof(da::TItemHeader) + flags + da::TStringHeap::kItemHeader + 1;
  const double goal = 1.5 * static_cast<double>(raw) + static_cast<double>(overhead);

  std::printf("storage_bench: %ld rows of (Int32, ExtString(%zu), DateTime, Float), blocks of %ld\n", rows,
              kNameLength, blockSize);
  std::printf("  fill   %9.1f ms  %7.1f ns/row\n", fillMs, fillMs * 1e6 / static_cast<double>(rows));
  std::printf("  walk   %9.1f ms  %7.1f ns/row  (%ld rows, checksum %llu)\n", walkMs,
              walkMs * 1e6 / static_cast<double>(rows), walked, static_cast<unsigned long long>(checksum));
  std::printf("  clear  %9.1f ms\n", clearMs);
  std::printf("  memory held after fill  %10.1f MiB  (%.1f bytes/row; malloc-level %.1f bytes/row)\n",
              static_cast<double>(filled.bytesInUse - before.bytesInUse) / 1048576.0, perRow, mallocPerRow);
  std::printf("  peak during the run     %10.1f MiB requested, max RSS %.1f MiB (start %.1f MiB)\n",
              static_cast<double>(filled.peakBytes - before.bytesInUse) / 1048576.0,
              static_cast<double>(MaxRssKiB()) / 1024.0, static_cast<double>(rssStart) / 1024.0);
  // Negative when Close also dropped the field descriptions made before the fill.
  std::printf("  held after clear        %10lld bytes (against before the fill)\n",
              static_cast<long long>(cleared.bytesInUse) - static_cast<long long>(before.bytesInUse));
  std::printf("  raw bytes/row %zu, fixed overhead/row %zu (item header %zu, null flags + rounding %zu, "
              "heap item header %zu + terminator 1)\n",
              raw, overhead, sizeof(da::TItemHeader), flags, da::TStringHeap::kItemHeader);
  std::printf("  per row %.1f bytes = %.2f x raw; goal 1.5 x raw + overhead = %.1f bytes: %s\n", perRow,
              perRow / static_cast<double>(raw), goal, perRow <= goal ? "met" : "MISSED");
  if (walked != rows) {
    std::printf("  walked %ld rows instead of %ld\n", walked, rows);
    return 1;
  }
  return perRow <= goal ? 0 : 1;
}
