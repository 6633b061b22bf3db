#include "audio/write_behind.h"

#include <cstdlib>
#include <cstring>

#include "audio/nap.h"

namespace zv {

bool WriteBehind::start(WriteBlock write, void* context, size_t bufferBytes) {
  write_ = write;
  context_ = context;
  for (void*& b : buffers_) {
    b = std::calloc(bufferBytes, 1);
    if (b == nullptr) return false;
  }
  threadStarted_ = pthread_create(&thread_, nullptr, threadEntry, this) == 0;
  return true;
}

void* WriteBehind::threadEntry(void* self) {
  static_cast<WriteBehind*>(self)->writeBlocks();
  return nullptr;
}

void WriteBehind::writeBlocks() {
  for (;;) {
    // The flag before the count: blocks submitted before finish() are seen.
    const bool finishing = finishing_.load(std::memory_order_acquire);
    const uint32_t n = written_.load(std::memory_order_relaxed);
    if (n == submitted_.load(std::memory_order_acquire)) {
      if (finishing) return;
      napBriefly();
      continue;
    }
    void* block = buffers_[n % kBuffers];
    if (!failed_ && !write_(context_, block, blockBytes_[n % kBuffers])) failed_ = true;
    std::memset(block, 0, blockBytes_[n % kBuffers]);
    written_.store(n + 1, std::memory_order_release);
  }
}

bool WriteBehind::submit(size_t bytes) {
  if (!threadStarted_) {
    if (failed_ || !write_(context_, buffers_[filling_], bytes)) failed_ = true;
    std::memset(buffers_[filling_], 0, bytes);
    return !failed_;
  }
  if (failed_) return false;
  blockBytes_[filling_] = bytes;
  const uint32_t n = submitted_.fetch_add(1, std::memory_order_release) + 1;
  // The next buffer is filled next: its last block must be written first.
  while (n - written_.load(std::memory_order_acquire) > kBuffers - 1) napBriefly();
  filling_ = (filling_ + 1) % kBuffers;
  return !failed_;
}

bool WriteBehind::finish() {
  if (threadStarted_) {
    finishing_.store(true, std::memory_order_release);
    pthread_join(thread_, nullptr);
    threadStarted_ = false;
  }
  return !failed_;
}

WriteBehind::~WriteBehind() {
  finish();
  for (void* b : buffers_) std::free(b);
}

}  // namespace zv
