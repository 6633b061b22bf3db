// libSDL2, loaded at run time and only by live play, so that renders, the
// usage text and load errors run on machines without the sound libraries.
#pragma once

#include <SDL.h>

// Every SDL2 entry point the device uses, as X(name).
#define ZV_SDL_ENTRY_POINTS(X) \
  X(SDL_Init)                  \
  X(SDL_OpenAudioDevice)       \
  X(SDL_PauseAudioDevice)      \
  X(SDL_LockAudioDevice)       \
  X(SDL_UnlockAudioDevice)     \
  X(SDL_CloseAudioDevice)      \
  X(SDL_GetAudioDeviceStatus)  \
  X(SDL_Quit)

namespace zv {

// The resolved entry points, each named as in SDL2's headers.
struct SdlLibrary {
#define ZV_SDL_ENTRY_SLOT(name) decltype(&::name) name;
  ZV_SDL_ENTRY_POINTS(ZV_SDL_ENTRY_SLOT)
#undef ZV_SDL_ENTRY_SLOT
};

// The file dlopen is given: the environment variable ZELVIX_SDL_LIBRARY
// when set and not empty (for tests), else SDL2's versioned name.
const char* sdlLibraryName();

// Loads the library on the first call and resolves every entry point; null
// when the library or any entry point is missing (then tried again on the
// next call). Once loaded it stays loaded until the process ends, since SDL
// may leave threads and exit handlers behind. Main thread only.
const SdlLibrary* loadSdlLibrary();

}  // namespace zv
