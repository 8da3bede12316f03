// libFuzzer entry over the lexer and the marker scan (clang, -DDA_FUZZ=ON).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "LexerChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string problem = da::testutil::CheckAll(text);
  if (!problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
