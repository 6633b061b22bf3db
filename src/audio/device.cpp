#include "audio/device.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cstring>

#include "audio/player.h"
#include "audio/sdl_library.h"

#if defined(ZELVIX_LOCK_TIMING)
#include <algorithm>
#include <chrono>
#include <cstdio>
#endif

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

// The measuring build (-DZELVIX_LOCK_TIMING=ON) times how long the lock
// callers wait for the lock and hold it, and how the callbacks are spaced,
// and reports it on standard error when the device closes. Otherwise these
// hooks are empty.
namespace timing {
#if defined(ZELVIX_LOCK_TIMING)
int64_t now() {
  static const auto start = std::chrono::steady_clock::now();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
}
int depth = 0;
int64_t taken = 0, holds = 0, longestWait = 0, longestHold = 0;
std::atomic<int64_t> callbacks{0}, lastCallbackStart{0}, longestInterval{0}, longestCallback{0};

void reset() {
  holds = longestWait = longestHold = 0;
  callbacks = 0;
  lastCallbackStart = 0;
  longestInterval = 0;
  longestCallback = 0;
}
void lockTaken(int64_t requested) {
  if (depth++ == 0) {
    taken = now();
    longestWait = std::max(longestWait, taken - requested);
  }
}
void lockReleasing() {
  if (--depth == 0) {
    ++holds;
    longestHold = std::max(longestHold, now() - taken);
  }
}
void callbackStarted(int64_t start) {
  const int64_t last = lastCallbackStart.exchange(start);
  if (last != 0) longestInterval = std::max(longestInterval.load(), start - last);
}
void callbackEnded(int64_t start) {
  ++callbacks;
  longestCallback = std::max(longestCallback.load(), now() - start);
}
void report() {
  std::fprintf(stderr,
               "audio lock: %lld holds, longest wait %.1f us, longest hold %.1f us; "
               "%lld callbacks, longest interval %.2f ms, longest callback %.1f us\n",
               static_cast<long long>(holds), longestWait / 1e3, longestHold / 1e3,
               static_cast<long long>(callbacks.load()), longestInterval / 1e6, longestCallback / 1e3);
}
#else
int64_t now() { return 0; }
void reset() {}
void lockTaken(int64_t) {}
void lockReleasing() {}
void callbackStarted(int64_t) {}
void callbackEnded(int64_t) {}
void report() {}
#endif
}  // namespace timing

void lockDevice() {
  const int64_t requested = timing::now();
  sdl->SDL_LockAudioDevice(deviceId);
  timing::lockTaken(requested);
}
void unlockDevice() {
  timing::lockReleasing();
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
  timing::reset();
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
    timing::report();
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
  const int64_t start = timing::now();
  timing::callbackStarted(start);
  fillOutputBuffer(reinterpret_cast<int16_t*>(stream), byteCount / 4);
  timing::callbackEnded(start);
}

}  // namespace zv
