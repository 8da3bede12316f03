#include "driver/BlockManager.h"

#include <cstring>
#include <new>

#include "common/Exception.h"

namespace da {
namespace {

constexpr size_t kAlign = alignof(TItemHeader);
constexpr size_t Align(size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }
constexpr size_t kBlockHeaderSize = Align(sizeof(TBlockHeader));

}  // namespace

TBlockManager::~TBlockManager() { FreeAllBlocks(); }

void TBlockManager::SetRecordSize(size_t recordSize) {
  if (firstBlock_ && recordSize != recordSize_)
    throw EAssertionFailed("The record size cannot change while records are stored");
  recordSize_ = recordSize;
  itemStride_ = Align(sizeof(TItemHeader) + recordSize);
}

TItemHeader* TBlockManager::ItemAt(TBlockHeader* block, size_t index) const {
  return reinterpret_cast<TItemHeader*>(reinterpret_cast<char*>(block) + kBlockHeaderSize + index * itemStride_);
}

TBlockHeader* TBlockManager::AllocBlock(size_t itemCount) {
  if (itemCount == 0) throw EAssertionFailed("A block needs at least one item");
  // The counts in the header are 16-bit: a larger block could not be walked.
  if (itemCount > kMaxItemCount) throw EAssertionFailed("A block holds at most 65535 items");
  if (itemStride_ == 0) SetRecordSize(recordSize_);
  const size_t bytes = kBlockHeaderSize + itemCount * itemStride_;
  bool inArena = false;
  void* memory = BlockMemory(bytes, inArena);
  std::memset(memory, 0, bytes);
  blockBytes_ += bytes;
  auto* block = static_cast<TBlockHeader*>(memory);
  block->inArena = inArena;
  block->itemCount = static_cast<uint16_t>(itemCount);
  block->usedItems = static_cast<uint16_t>(itemCount);
  block->prev = nullptr;
  block->next = firstBlock_;
  if (firstBlock_) firstBlock_->prev = block;
  firstBlock_ = block;
  ++blockCount_;
  for (size_t i = 0; i < itemCount; ++i) {
    TItemHeader* item = ItemAt(block, i);
    item->block = block;
    item->allocMark = kItemUsed;
    item->updateAction = kUpdateActionNone;
  }
  return block;
}

void* TBlockManager::BlockMemory(size_t bytes, bool& inArena) {
  if (!TCommittedArenas::kEnabled || blockBytes_ < kArenaThreshold || bytes > TCommittedArenas::kArenaBytes / 4)
    return ::operator new(bytes);
  inArena = true;
  if (auto it = freeArenaBlocks_.find(bytes); it != freeArenaBlocks_.end() && !it->second.empty()) {
    TBlockHeader* block = it->second.back();
    it->second.pop_back();
    return block;
  }
  return arenas_.Take(bytes);
}

void TBlockManager::UnlinkFree(TItemHeader* item) {
  if (item->prev)
    item->prev->next = item->next;
  else if (freeFirst_ == item)
    freeFirst_ = item->next;
  if (item->next) item->next->prev = item->prev;
  item->prev = item->next = nullptr;
}

void TBlockManager::Release(TBlockHeader* block) {
  if (block->prev)
    block->prev->next = block->next;
  else
    firstBlock_ = block->next;
  if (block->next) block->next->prev = block->prev;
  --blockCount_;
  const size_t bytes = kBlockHeaderSize + block->itemCount * itemStride_;
  blockBytes_ -= bytes;
  if (block->inArena)
    freeArenaBlocks_[bytes].push_back(block);  // kept for the next block of its size
  else
    ::operator delete(block);
  // The arenas go with the last block, whichever kind of block that is.
  if (!firstBlock_ && !arenas_.Empty()) {
    freeArenaBlocks_.clear();
    arenas_.Release();
  }
}

void TBlockManager::FreeBlock(TBlockHeader* block) {
  for (size_t i = 0; i < block->itemCount; ++i) {
    TItemHeader* item = ItemAt(block, i);
    if (item->allocMark == kItemFree) UnlinkFree(item);
  }
  Release(block);
}

void TBlockManager::FreeAllBlocks() {
  // Oldest first: the newest block (usually nearest the top of the system
  // heap) goes last, so that the allocator gives memory back in one piece
  // rather than once per block.
  TBlockHeader* block = firstBlock_;
  while (block && block->next) block = block->next;
  while (block) {
    TBlockHeader* newer = block->prev;
    Release(block);
    block = newer;
  }
  freeFirst_ = nullptr;
}

TItemHeader* TBlockManager::AllocItem() {
  if (!freeFirst_) {
    TBlockHeader* block = AllocBlock(kDefaultItemCount);
    block->usedItems = 0;
    for (size_t i = kDefaultItemCount; i-- > 0;) {
      TItemHeader* item = ItemAt(block, i);
      item->allocMark = kItemFree;
      item->prev = nullptr;
      item->next = freeFirst_;
      if (freeFirst_) freeFirst_->prev = item;
      freeFirst_ = item;
    }
  }
  TItemHeader* item = freeFirst_;
  if (item->allocMark != kItemFree) throw EAssertionFailed("AllocItem failed");
  UnlinkFree(item);
  item->allocMark = kItemUsed;
  item->rollback = nullptr;
  item->updateState = 0;
  item->filterState = kFilterUnknown;
  item->order = 0;
  item->updateAction = kUpdateActionNone;
  std::memset(RecordOf(item), 0, recordSize_);
  ++item->block->usedItems;
  return item;
}

void TBlockManager::FreeItem(TItemHeader* item) {
  if (!item || item->allocMark != kItemUsed) throw EAssertionFailed("FreeItem failed");
  item->allocMark = kItemFree;
  TBlockHeader* block = item->block;
  if (block->usedItems > 1) {
    --block->usedItems;
    item->prev = nullptr;
    item->next = freeFirst_;
    if (freeFirst_) freeFirst_->prev = item;
    freeFirst_ = item;
    return;
  }
  // The item is on no list now; the block's other items leave the free list.
  item->prev = item->next = nullptr;
  FreeBlock(block);
}

void TBlockManager::ClearFreeList() {
  // Orphaned items keep no links, so that freeing their block later does
  // not touch the list.
  while (freeFirst_) {
    TItemHeader* item = freeFirst_;
    freeFirst_ = item->next;
    item->prev = item->next = nullptr;
  }
}

size_t TBlockManager::FreeItemCount() const {
  size_t n = 0;
  for (const TItemHeader* item = freeFirst_; item; item = item->next) ++n;
  return n;
}

void TBlockManager::PutRecord(const void* recBuf, TItemHeader* item) const {
  std::memcpy(RecordOf(item), recBuf, recordSize_);
}

void TBlockManager::GetRecord(const TItemHeader* item, void* recBuf) const {
  std::memcpy(recBuf, RecordOf(item), recordSize_);
}

void TBlockManager::CopyRecord(const TItemHeader* source, TItemHeader* dest) const {
  std::memcpy(RecordOf(dest), RecordOf(source), recordSize_);
}

}  // namespace da
