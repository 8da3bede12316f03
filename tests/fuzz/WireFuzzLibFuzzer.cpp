// libFuzzer entry point of the wire fuzz target (clang builds only).
#include <cstddef>
#include <cstdint>

#include "WireFuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RunWireInput(data, size);
  return 0;
}
