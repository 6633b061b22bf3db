// Never run. Links every SDL2 entry point that live play resolves at run
// time, so that dpkg-shlibdeps, given this program beside zelvix, finds the
// package and the lowest version of libSDL2 that live play needs; zelvix
// itself names no sound library.
#include "audio/sdl_library.h"

int main() {
#define ZV_SDL_REFERENCE(name) reinterpret_cast<const void*>(&::name),
  const void* volatile used[] = {ZV_SDL_ENTRY_POINTS(ZV_SDL_REFERENCE)};
#undef ZV_SDL_REFERENCE
  return used[0] == nullptr ? 1 : 0;
}
