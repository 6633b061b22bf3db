#include "audio/device.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cstring>

#include "audio/lock_timing.h"
#include "audio/player.h"
#include "audio/sdl_library.h"

namespace zv {

namespace {
// Set by the first open that loads the library, before deviceId; null while
// SDL has never been loaded, so that closing then touches nothing.
const SdlLibrary* sdl = nullptr;
// Written only by the main thread; read by lock callers on that thread.
std::atomic<SDL_AudioDeviceID> deviceId{0};

// Cleared at every open; the callback's first call on the new device's thread sets it.
std::atomic<bool> soundThreadRaised{false};

// A sound thread that waits behind other work for longer than the server's
// buffer lasts is a dropout, and a nice level counts only among the programs
// of one session. So the callback thread asks for real-time scheduling, at
// the lowest priority: ahead of every ordinary thread, behind the sound
// server's own real-time threads. Where that is not allowed (no privilege,
// no real-time limit) it keeps what SDL gave it.
void raiseSoundThreadPriority() {
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_RR);
  pthread_setschedparam(pthread_self(), SCHED_RR, &param);
}

void lockDevice() {
  const int64_t requested = lockTiming::now();
  sdl->SDL_LockAudioDevice(deviceId);
  lockTiming::lockTaken(requested);
}
void unlockDevice() {
  lockTiming::lockReleasing();
  sdl->SDL_UnlockAudioDevice(deviceId);
}
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
  lockTiming::reset();
  soundThreadRaised = false;
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
    lockTiming::report();
  }
  sdl->SDL_Quit();
}

bool audioDeviceOpen() { return deviceId != 0; }

bool audioDeviceLost() {
  SDL_AudioDeviceID id = deviceId;
  return id != 0 && sdl->SDL_GetAudioDeviceStatus(id) == SDL_AUDIO_STOPPED;
}

void audioCallback(void*, uint8_t* stream, int byteCount) {
  if (!soundThreadRaised.exchange(true)) raiseSoundThreadPriority();
  const int64_t start = lockTiming::now();
  lockTiming::callbackStarted(start);
  fillOutputBuffer(reinterpret_cast<int16_t*>(stream), byteCount / 4);
  lockTiming::callbackEnded(start);
}

}  // namespace zv
