#include "transports/CRDataBuffer.h"

#include <algorithm>
#include <cstring>

#include "common/Exception.h"

namespace da::transports {

TDataBuffer::TDataBuffer(size_t chunkSize) : chunkSize_(std::max<size_t>(chunkSize, 1)) { Clear(); }

void TDataBuffer::Clear() {
  chunks_.clear();
  chunks_.emplace_back(chunkSize_);
  head_ = 0;
  tail_ = 0;
  length_ = 0;
}

void TDataBuffer::Write(const uint8_t* bytes, size_t count) {
  while (count > 0) {
    if (tail_ == chunkSize_) {
      chunks_.emplace_back(chunkSize_);
      tail_ = 0;
    }
    size_t n = std::min(count, chunkSize_ - tail_);
    std::memcpy(chunks_.back().data() + tail_, bytes, n);
    tail_ += n;
    bytes += n;
    count -= n;
    length_ += n;
  }
}

void TDataBuffer::Read(uint8_t* destination, size_t count) {
  if (count > length_) throw Exception("There is no enough data to read");
  while (count > 0) {
    size_t end = chunks_.size() == 1 ? tail_ : chunkSize_;
    size_t n = std::min(count, end - head_);
    std::memcpy(destination, chunks_.front().data() + head_, n);
    destination += n;
    count -= n;
    head_ += n;
    length_ -= n;
    if (head_ == end) {
      if (chunks_.size() == 1) {
        // The only chunk is drained: start it over instead of freeing it.
        head_ = 0;
        tail_ = 0;
      } else {
        chunks_.pop_front();
        head_ = 0;
      }
    }
  }
}

int64_t TDataBuffer::IndexOf(uint8_t value, size_t offset) const {
  size_t base = 0;  // offset of the current chunk's first queued byte
  for (size_t i = 0; i < chunks_.size(); ++i) {
    size_t begin = i == 0 ? head_ : 0;
    size_t end = i + 1 == chunks_.size() ? tail_ : chunkSize_;
    size_t size = end - begin;
    if (offset < base + size) {
      const uint8_t* data = chunks_[i].data() + begin;
      size_t from = offset > base ? offset - base : 0;
      if (const void* hit = std::memchr(data + from, value, size - from))
        return static_cast<int64_t>(base + (static_cast<const uint8_t*>(hit) - data));
    }
    base += size;
  }
  return -1;
}

}  // namespace da::transports
