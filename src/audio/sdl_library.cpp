#include "audio/sdl_library.h"

#include <dlfcn.h>

#include <cstdlib>

namespace zv {

namespace {

constexpr char kVersionedName[] = "libSDL2-2.0.so.0";

SdlLibrary library{};
bool loaded = false;

// Stores the address of `name` in `slot`; false when the library lacks it.
template <typename Function>
bool resolve(void* handle, const char* name, Function& slot) {
  void* address = dlsym(handle, name);
  if (address == nullptr) return false;
  slot = reinterpret_cast<Function>(address);
  return true;
}

}  // namespace

const char* sdlLibraryName() {
  const char* chosen = std::getenv("ZELVIX_SDL_LIBRARY");
  return chosen != nullptr && chosen[0] != '\0' ? chosen : kVersionedName;
}

const SdlLibrary* loadSdlLibrary() {
  if (loaded) return &library;
  void* handle = dlopen(sdlLibraryName(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  SdlLibrary resolved{};
  bool complete = true;
#define ZV_SDL_RESOLVE(name) complete = complete && resolve(handle, #name, resolved.name);
  ZV_SDL_ENTRY_POINTS(ZV_SDL_RESOLVE)
#undef ZV_SDL_RESOLVE
  if (!complete) {
    dlclose(handle);
    return nullptr;
  }
  library = resolved;
  loaded = true;
  return &library;
}

}  // namespace zv
