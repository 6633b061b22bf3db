#include "audio/device.h"

#include <atomic>
#include <cstring>

#include "audio/player.h"
#include "audio/sdl_library.h"

namespace zv {

namespace {
// Set by the first open that loads the library, before deviceId; null while
// SDL has never been loaded, so that closing then touches nothing.
const SdlLibrary* sdl = nullptr;
// Written only by the main thread; read by lock callers on that thread.
std::atomic<SDL_AudioDeviceID> deviceId{0};

void lockDevice() { sdl->SDL_LockAudioDevice(deviceId); }
void unlockDevice() { sdl->SDL_UnlockAudioDevice(deviceId); }
const AudioLockImplementation deviceLock{lockDevice, unlockDevice};
}  // namespace

bool openAudioDevice(int32_t frequency, int32_t bufferSize) {
  if (deviceId != 0) return true;
  if (sdl == nullptr) sdl = loadSdlLibrary();
  if (sdl == nullptr) return false;
  if (sdl->SDL_Init(SDL_INIT_AUDIO) != 0) return false;
  SDL_AudioSpec want;
  SDL_AudioSpec have;
  std::memset(&want, 0, sizeof want);
  std::memset(&have, 0, sizeof have);
  want.freq = frequency;
  want.format = AUDIO_S16LSB;
  want.channels = 2;
  want.samples = static_cast<Uint16>(bufferSize);
  want.callback = audioCallback;
  deviceId = sdl->SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (deviceId == 0) return false;
  installAudioLock(&deviceLock);
  sdl->SDL_PauseAudioDevice(deviceId, 0);
  return true;
}

void closeAudioDevice() {
  if (sdl == nullptr) return;
  SDL_AudioDeviceID id = deviceId;
  if (id != 0) {
    sdl->SDL_PauseAudioDevice(id, 1);
    installAudioLock(nullptr);
    sdl->SDL_CloseAudioDevice(id);
    deviceId = 0;
  }
  sdl->SDL_Quit();
}

bool audioDeviceOpen() { return deviceId != 0; }

bool audioDeviceLost() {
  SDL_AudioDeviceID id = deviceId;
  return id != 0 && sdl->SDL_GetAudioDeviceStatus(id) == SDL_AUDIO_STOPPED;
}

void audioCallback(void*, uint8_t* stream, int byteCount) {
  fillOutputBuffer(reinterpret_cast<int16_t*>(stream), byteCount / 4);
}

}  // namespace zv
