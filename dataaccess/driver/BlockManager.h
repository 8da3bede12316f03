#pragma once
// Items and blocks of the record storage. Every stored record lives in an
// item (a header followed by RecordSize bytes of record); items are
// allocated in blocks of equal-sized items so that a fetch allocates once
// per block rather than once per row. Freed items are reused through a free
// list, and a block is released as a whole with its last used item.

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "driver/CommittedArenas.h"

namespace da {

struct TBlockHeader;

inline constexpr uint8_t kItemUsed = 238;
inline constexpr uint8_t kItemFree = 221;
inline constexpr uint8_t kUpdateActionNone = 5;

// Filter states of an item.
inline constexpr uint8_t kFilterUnknown = 0;
inline constexpr uint8_t kFilterVisible = 1;
inline constexpr uint8_t kFilterHidden = 2;

struct TItemHeader {
  TBlockHeader* block;    // the block the item lives in
  TItemHeader* prev;      // record list (or free list while free)
  TItemHeader* next;
  TItemHeader* rollback;  // saved copy of the record while it is edited
  int32_t order;          // record number (before the store's offset)
  uint8_t updateState;    // cached updates
  uint8_t updateAction;   // cached updates; kUpdateActionNone
  uint8_t allocMark;      // kItemUsed or kItemFree
  uint8_t filterState;    // kFilterUnknown, kFilterVisible, kFilterHidden
};

struct TBlockHeader {
  uint16_t itemCount;
  uint16_t usedItems;
  bool inArena;  // taken from the manager's committed arenas
  TBlockHeader* prev;
  TBlockHeader* next;
};

class TBlockManager {
 public:
  // Items per block for single allocations.
  static constexpr uint16_t kDefaultItemCount = 10;

  TBlockManager() = default;
  ~TBlockManager();
  TBlockManager(const TBlockManager&) = delete;
  TBlockManager& operator=(const TBlockManager&) = delete;

  // REQUIRES: no blocks allocated (the item size follows it).
  void SetRecordSize(size_t recordSize);
  size_t RecordSize() const { return recordSize_; }
  // Bytes between the starts of two items of a block.
  size_t ItemStride() const { return itemStride_; }

  // The most items a block can count (its header keeps 16-bit counts).
  static constexpr size_t kMaxItemCount = UINT16_MAX;

  // A block of `itemCount` items, all in use, records zero-filled, linked
  // first in the block list. A count of 0 or above kMaxItemCount raises
  // EAssertionFailed; memory exhaustion std::bad_alloc.
  TBlockHeader* AllocBlock(size_t itemCount);
  // Unlinks and releases a block; its items on the free list leave it.
  void FreeBlock(TBlockHeader* block);
  void FreeAllBlocks();

  // An item from the free list (a block of kDefaultItemCount items when it
  // is empty), marked in use, header state reset, record zero-filled.
  TItemHeader* AllocItem();
  // Marks the item free; its block goes when it was the block's last used
  // item. A wrongly marked item raises EAssertionFailed "FreeItem failed".
  void FreeItem(TItemHeader* item);
  // Forgets the free list (the blocks stay; their free items are not
  // reused any more).
  void ClearFreeList();

  void PutRecord(const void* recBuf, TItemHeader* item) const;
  void GetRecord(const TItemHeader* item, void* recBuf) const;
  void CopyRecord(const TItemHeader* source, TItemHeader* dest) const;

  TItemHeader* ItemAt(TBlockHeader* block, size_t index) const;
  static uint8_t* RecordOf(TItemHeader* item) { return reinterpret_cast<uint8_t*>(item + 1); }
  static const uint8_t* RecordOf(const TItemHeader* item) { return reinterpret_cast<const uint8_t*>(item + 1); }

  TBlockHeader* FirstBlock() const { return firstBlock_; }
  size_t BlockCount() const { return blockCount_; }
  size_t FreeItemCount() const;
  // Whether memory is mapped for arena blocks (never once the last block
  // is gone).
  bool HoldsArenas() const { return !arenas_.Empty(); }

 private:
  void Release(TBlockHeader* block);
  void UnlinkFree(TItemHeader* item);
  // Memory for a block of `bytes`: from the committed arenas once the
  // blocks hold kArenaThreshold bytes (a block given back earlier when one
  // of the same size is free), else from operator new.
  void* BlockMemory(size_t bytes, bool& inArena);
  static constexpr size_t kArenaThreshold = TCommittedArenas::kArenaBytes;

  size_t recordSize_ = 0;
  size_t itemStride_ = 0;
  TBlockHeader* firstBlock_ = nullptr;  // owned, with its neighbours
  TItemHeader* freeFirst_ = nullptr;    // items of owned blocks
  size_t blockCount_ = 0;
  size_t blockBytes_ = 0;  // of the blocks in the list
  TCommittedArenas arenas_;
  // Arena blocks given back, by size, for the next block of that size.
  std::unordered_map<size_t, std::vector<TBlockHeader*>> freeArenaBlocks_;
};

}  // namespace da
