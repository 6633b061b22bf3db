// A bounded cursor over a module held in memory; every read stays inside it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

struct ModuleReader {
  const uint8_t* position;  // next byte to read
  const uint8_t* start;
  uint8_t atEnd;            // set once a read or a seek reached the end
  uint64_t remaining;       // bytes from position to the end
  uint64_t size;
  // What the load has allocated beyond the file's bytes, held to the limits
  // of loader/module_loader.h: sample bytes the file does not supply, and
  // pattern cell bytes no packed byte can fill.
  uint64_t unsuppliedSampleBytes = 0;
  uint64_t unsuppliedCellBytes = 0;
  // Why a load failed: the format was recognised (an XM signature, a MOD
  // signature or the 15-sample form's header), memory ran out.
  bool recognised = false;
  bool outOfMemory = false;

  // Records that memory ran out; returns false, for `return reader.noMemory();`.
  bool noMemory() {
    outOfMemory = true;
    return false;
  }

  // Copies min(remaining, n) bytes unless atEnd is set (the destination then
  // keeps its content). Reading up to or past the last byte sets atEnd.
  // Returns the number of bytes copied.
  size_t read(void* destination, size_t n);

  // Moves to `target` (clamped to the end, which sets atEnd) and clears atEnd
  // otherwise. A target before the start moves to the end (nothing valid lies there).
  void seek(const uint8_t* target);

  // seek() by offset from the start, without forming a pointer outside the data.
  void seekTo(uint64_t offset);

  // seek() forward by n bytes from the current position.
  void skip(uint64_t n);

  // Like read(), but hands out the bytes in place instead of copying them:
  // returns a pointer to them and stores their count (min(remaining, n), 0
  // when atEnd is set) in `available`. The cursor advances as read() would.
  const uint8_t* take(size_t n, size_t& available);
};

ModuleReader makeModuleReader(const uint8_t* data, uint64_t size);

}  // namespace zv
