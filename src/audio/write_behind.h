// Writing a render's blocks of data on a thread of their own, so that the
// mixing goes on while the system copies the last blocks: four buffers, one
// being filled while the others wait or are written, in order, one write at
// a time. Two were too few: a writer that shares its processor with the
// replayer can be a block late, and the mixing then waited for it.
// A side that waits naps and looks again, so the mixing never pays for
// waking the writer. Where no thread can be started the blocks are written
// at once instead.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zv {

class WriteBehind {
 public:
  // Writes a block of `bytes`; false when it failed (what the system took is
  // the writer's to count). Called on the writing thread only.
  using WriteBlock = bool (*)(void* context, const void* bytes, size_t count);

  // Four buffers of `bufferBytes` each, zeroed. False when out of memory.
  bool start(WriteBlock write, void* context, size_t bufferBytes);
  // The buffer to fill next. Its bytes are zero up to where the caller
  // wrote since it was last handed back: the writer clears each block once
  // written, so a caller that adds into the buffer need not clear it first
  // (the render's sums are cleared on the writer's thread, not the mixing's).
  void* buffer() { return buffers_[filling_]; }
  // Hands the first `bytes` of buffer() to the writer and waits until the
  // next buffer's last block is written. False once a write failed: nothing more is written.
  bool submit(size_t bytes);
  // Waits for the last block and ends the thread; true when every write succeeded.
  bool finish();
  ~WriteBehind();

 private:
  static void* threadEntry(void* self);
  void writeBlocks();

  WriteBlock write_ = nullptr;
  void* context_ = nullptr;
  static constexpr uint32_t kBuffers = 4;  // a power of two: block numbers wrap
  void* buffers_[kBuffers] = {};
  int filling_ = 0;
  bool threadStarted_ = false;
  pthread_t thread_{};
  // Block n is in buffer n % kBuffers, of blockBytes_[n % kBuffers] bytes.
  size_t blockBytes_[kBuffers] = {};
  std::atomic<uint32_t> submitted_{0};
  std::atomic<uint32_t> written_{0};  // after a failure: skipped
  std::atomic<bool> failed_{false};
  std::atomic<bool> finishing_{false};
};

}  // namespace zv
