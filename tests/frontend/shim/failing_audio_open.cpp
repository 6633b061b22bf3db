// A stand-in for libSDL2 that the live-play tests give zelvix through
// ZELVIX_SDL_LIBRARY: it fails the Nth call of SDL_OpenAudioDevice, N given
// by ZELVIX_TEST_FAILING_OPEN, and passes every other call on to the real
// library. The other entry points are the real library's, which this one
// links. The only way to make the device open fail exactly at the restart
// of live play.
#include <SDL.h>
#include <dlfcn.h>

#include <cstdlib>

extern "C" SDL_AudioDeviceID SDL_OpenAudioDevice(const char* device, int isCapture, const SDL_AudioSpec* desired,
                                                 SDL_AudioSpec* obtained, int allowedChanges) {
  using Open = SDL_AudioDeviceID (*)(const char*, int, const SDL_AudioSpec*, SDL_AudioSpec*, int);
  static int calls = 0;
  const char* failing = std::getenv("ZELVIX_TEST_FAILING_OPEN");
  if (failing != nullptr && std::atoi(failing) == ++calls) return 0;
  static void* const real = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  static const auto open = real != nullptr ? reinterpret_cast<Open>(dlsym(real, "SDL_OpenAudioDevice")) : nullptr;
  return open != nullptr ? open(device, isCapture, desired, obtained, allowedChanges) : 0;
}
