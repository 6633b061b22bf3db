#include "loader/module_reader.h"

#include <cstring>

namespace zv {

const uint8_t* ModuleReader::take(size_t n, size_t& available) {
  available = 0;
  if (position == nullptr || atEnd) return nullptr;
  const uint8_t* bytes = position;
  if (remaining <= n) {
    available = static_cast<size_t>(remaining);
    position += remaining;
    remaining = 0;
    atEnd = 1;
  } else {
    available = n;
    position += n;
    remaining -= n;
  }
  return bytes;
}

size_t ModuleReader::read(void* destination, size_t n) {
  size_t available;
  const uint8_t* bytes = take(n, available);
  if (available > 0) std::memcpy(destination, bytes, available);
  return available;
}

void ModuleReader::seekTo(uint64_t offset) {
  atEnd = 0;
  if (start == nullptr) {
    atEnd = 1;
    remaining = 0;
    return;
  }
  if (offset >= size) {
    position = start + size;
    atEnd = 1;
  } else {
    position = start + offset;
  }
  remaining = size - static_cast<uint64_t>(position - start);
}

void ModuleReader::seek(const uint8_t* target) {
  // Compare as addresses so that no pointer outside the data is ever formed.
  uintptr_t first = reinterpret_cast<uintptr_t>(start);
  uintptr_t wanted = reinterpret_cast<uintptr_t>(target);
  seekTo(wanted < first ? size : static_cast<uint64_t>(wanted - first));
}

void ModuleReader::skip(uint64_t n) {
  if (position == nullptr) return seekTo(size);
  uint64_t offset = static_cast<uint64_t>(position - start);
  seekTo(n >= size - offset ? size : offset + n);
}

ModuleReader makeModuleReader(const uint8_t* data, uint64_t size) {
  return {data, data, 0, size, size};
}

}  // namespace zv
