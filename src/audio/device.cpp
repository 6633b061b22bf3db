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
// Set by the first open that loads the library, before any device id; null
// while SDL has never been loaded, so that closing then touches nothing.
const SdlLibrary* sdl = nullptr;

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

// The lock of the device of the engine `device`.
void lockDevice(void* device) {
  const int64_t requested = lockTiming::now();
  sdl->SDL_LockAudioDevice(static_cast<Engine*>(device)->device.id);
  lockTiming::lockTaken(requested);
}
void unlockDevice(void* device) {
  lockTiming::lockReleasing();
  sdl->SDL_UnlockAudioDevice(static_cast<Engine*>(device)->device.id);
}
const AudioLockImplementation deviceLock{lockDevice, unlockDevice};
}  // namespace

bool openAudioDevice(Engine& e, int32_t frequency, int32_t bufferSize) {
  if (e.device.id != 0) return true;
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
  want.userdata = &e;
  lockTiming::reset();
  e.device.threadRaised = false;
  const SDL_AudioDeviceID id = sdl->SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (id == 0) return false;
  // The device is paused until the start below, so no callback runs before
  // the lock is installed.
  e.device.id = id;
  e.audioLock.install(&deviceLock, &e);
  sdl->SDL_PauseAudioDevice(id, 0);
  return true;
}

void closeAudioDevice(Engine& e) {
  if (sdl == nullptr) return;
  const SDL_AudioDeviceID id = e.device.id;
  if (id != 0) {
    sdl->SDL_PauseAudioDevice(id, 1);
    e.audioLock.install(nullptr, nullptr);
    sdl->SDL_CloseAudioDevice(id);
    e.device.id = 0;
    lockTiming::report();
  }
  sdl->SDL_Quit();
}

bool audioDeviceOpen(const Engine& e) { return e.device.id != 0; }

bool audioDeviceLost(const Engine& e) {
  const SDL_AudioDeviceID id = e.device.id;
  return id != 0 && sdl->SDL_GetAudioDeviceStatus(id) == SDL_AUDIO_STOPPED;
}

void audioCallback(void* userData, uint8_t* stream, int byteCount) {
  Engine& e = *static_cast<Engine*>(userData);
  if (!e.device.threadRaised.exchange(true)) raiseSoundThreadPriority();
  const int64_t start = lockTiming::now();
  lockTiming::callbackStarted(start);
  fillOutputBuffer(e, reinterpret_cast<int16_t*>(stream), byteCount / 4);
  lockTiming::callbackEnded(start);
}

}  // namespace zv
