#pragma once
// The option loop every benchmark program shares: `handle(name, next)` is
// called for each argument and returns false for a name it does not know;
// `next()` takes the value after the name.

#include <cstdio>
#include <stdexcept>
#include <string>

namespace bench {

// False (after a message on standard error) when an option is unknown,
// lacks its value or has a value that does not parse.
template <typename Handle>
bool ParseOptions(int argc, char** argv, const char* program, Handle handle) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) throw std::runtime_error("missing value after " + name);
      return argv[++i];
    };
    try {
      if (!handle(name, next)) throw std::runtime_error("unknown option " + name);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s\n", program, e.what());
      return false;
    }
  }
  return true;
}

}  // namespace bench
