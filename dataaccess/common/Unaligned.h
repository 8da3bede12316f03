#pragma once
// Reads and writes of plain values at byte addresses that need not be
// aligned for the type (record buffers, packet bodies).

#include <cstdint>
#include <cstring>

namespace da {

template <typename T>
T LoadUnaligned(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
void StoreUnaligned(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

}  // namespace da
