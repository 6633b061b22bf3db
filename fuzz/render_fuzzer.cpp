// Arbitrary bytes as a module file, the last eight choosing the output
// settings: load, then render a bounded stretch through the ticks path, the
// live output path or the WAV renderer.
#include <cstdio>
#include <cstdlib>

#include "support/hostile_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zv::Engine engine;  // each input on a fresh engine: a run depends on its input alone
  const std::string problem = zv::test::runRenderInput(engine, data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "render_fuzzer: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
