// The bytes drive the module writer, so every input is a well-formed XM or
// MOD that passes the header checks and reaches the replayer: any command and
// parameter, envelopes with wild point counts and indices, loops of every
// shape, 16-bit samples of odd lengths. Loaded and rendered like render_fuzzer.
#include <cstdio>
#include <cstdlib>

#include "support/hostile_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zv::Engine engine;  // each input on a fresh engine: a run depends on its input alone
  const std::string problem = zv::test::runStructuredInput(engine, data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "structured_fuzzer: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
