// Preloaded into zelvix by the live-play tests (LD_PRELOAD): fails the Nth
// call of SDL_OpenAudioDevice, N given by ZELVIX_TEST_FAILING_OPEN, and
// passes every other call to the real library. The only way to make the
// device open fail exactly at the restart of live play.
#include <SDL.h>
#include <dlfcn.h>

#include <cstdlib>

extern "C" SDL_AudioDeviceID SDL_OpenAudioDevice(const char* device, int isCapture, const SDL_AudioSpec* desired,
                                                 SDL_AudioSpec* obtained, int allowedChanges) {
  using Open = SDL_AudioDeviceID (*)(const char*, int, const SDL_AudioSpec*, SDL_AudioSpec*, int);
  static int calls = 0;
  const char* failing = std::getenv("ZELVIX_TEST_FAILING_OPEN");
  if (failing != nullptr && std::atoi(failing) == ++calls) return 0;
  static const auto real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "SDL_OpenAudioDevice"));
  return real != nullptr ? real(device, isCapture, desired, obtained, allowedChanges) : 0;
}
