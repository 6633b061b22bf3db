// Arbitrary bytes as a module file: load (or fail), check the song, release.
// The heap taken while the input runs is watched: its peak may not pass the
// input's copy plus the song's bound for a file of that size, so a header
// that makes the loader allocate more than the file can justify is a finding
// even when the load then fails and releases everything.
#include <sanitizer/allocator_interface.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "support/hostile_input.h"

namespace {

bool watching = false;
int64_t liveBytes = 0;
int64_t peakBytes = 0;

void onMalloc(const volatile void*, size_t size) {
  if (!watching) return;
  liveBytes += static_cast<int64_t>(size);
  if (liveBytes > peakBytes) peakBytes = liveBytes;
}

void onFree(const volatile void* block) {
  if (!watching || block == nullptr) return;
  liveBytes -= static_cast<int64_t>(__sanitizer_get_allocated_size(const_cast<const void*>(block)));
}

// Strings and other small blocks of the harness itself.
constexpr int64_t kHarnessSlack = 64 * 1024;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Each input on a fresh engine, made before the heap is watched: only the
  // song's blocks count.
  const std::unique_ptr<zv::Engine> engine(new zv::Engine());
  liveBytes = 0;
  peakBytes = 0;
  watching = true;
  const std::string problem = zv::test::runLoadInput(*engine, data, size);
  watching = false;
  if (!problem.empty()) {
    std::fprintf(stderr, "load_fuzzer: %s\n", problem.c_str());
    std::abort();
  }
  const auto limit = static_cast<int64_t>(size + zv::test::songHeapBound(size)) + kHarnessSlack;
  if (peakBytes > limit) {
    std::fprintf(stderr, "load_fuzzer: %lld bytes of heap for a %zu-byte file (bound %lld)\n",
                 static_cast<long long>(peakBytes), size, static_cast<long long>(limit));
    std::abort();
  }
  return 0;
}
