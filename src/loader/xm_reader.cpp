// STUB
#include "loader/module_loader.h"

namespace zv {

bool loadModuleFile(const char*) { return false; }
bool loadModuleFromMemory(const uint8_t*, uint32_t) { return false; }
bool finishLoadedSong() { return false; }

}  // namespace zv
