// The one lock between the main thread and the thread that makes sound: the
// sound device's lock. The device installs its implementation while it is
// open; with none installed, locking does nothing.
#pragma once

namespace zv {

// What the open device locks with: both wait for a running callback and keep
// the next one from starting until the unlock.
struct AudioLockImplementation {
  void (*lock)();
  void (*unlock)();
};

// Installs `implementation` (which must outlive its use), or removes it with
// null. Called by the device as it opens and closes, on the main thread.
void installAudioLock(const AudioLockImplementation* implementation);

// Take and release the device lock; both do nothing while none is installed.
void lockAudio();
void unlockAudio();

// Holds the audio lock for the lifetime of the guard.
class AudioLock {
 public:
  AudioLock() { lockAudio(); }
  ~AudioLock() { unlockAudio(); }
  AudioLock(const AudioLock&) = delete;
  AudioLock& operator=(const AudioLock&) = delete;
};

}  // namespace zv
