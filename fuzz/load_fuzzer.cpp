// Arbitrary bytes as a module file: load (or fail), check the song, release.
#include <cstdio>
#include <cstdlib>

#include "support/hostile_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem = zv::test::runLoadInput(data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "load_fuzzer: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
