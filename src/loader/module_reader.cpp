// STUB
#include "loader/module_reader.h"

namespace zv {

size_t ModuleReader::read(void*, size_t) { return 0; }
void ModuleReader::seek(const uint8_t*) {}
ModuleReader makeModuleReader(const uint8_t* data, uint64_t size) { return {data, data, 0, size, size}; }

}  // namespace zv
