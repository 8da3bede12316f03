#pragma once
// A first-in first-out byte queue made of equal chunks, so that appending
// never moves the bytes already queued. The HTTP client keeps received
// bytes and request bodies in it.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace da::transports {

class TDataBuffer {
 public:
  // `chunkSize` bytes per chunk (at least 1).
  explicit TDataBuffer(size_t chunkSize);

  // Appends `count` bytes; a new chunk starts when the last one is full.
  void Write(const uint8_t* bytes, size_t count);
  // Takes `count` bytes from the front into `destination`. Raises
  // da::Exception "There is no enough data to read" (taking nothing) when
  // fewer are queued.
  void Read(uint8_t* destination, size_t count);
  // Number of bytes queued.
  size_t DataLength() const { return length_; }
  // Offset from the front of the first byte equal to `value` at or after
  // `offset`; -1 when there is none.
  int64_t IndexOf(uint8_t value, size_t offset = 0) const;
  // Empties the queue (back to one empty chunk).
  void Clear();

 private:
  size_t chunkSize_;
  std::deque<std::vector<uint8_t>> chunks_;  // each holds chunkSize_ bytes
  size_t head_ = 0;  // read position in the first chunk
  size_t tail_ = 0;  // fill of the last chunk
  size_t length_ = 0;
};

}  // namespace da::transports
