// The one lock between the thread that changes an engine's playing state
// (the main thread) and the thread that makes its sound: the lock of the
// sound device the engine plays through. Each engine has one. The device
// installs its implementation while it is open; with none installed, locking
// does nothing (renders, and engines that never play through a device).
#pragma once

#include <atomic>

namespace zv {

// What an open device locks with: both wait for a running callback and keep
// the next one from starting until the unlock. `device` is what the device
// installed with them.
struct AudioLockImplementation {
  void (*lock)(void* device);
  void (*unlock)(void* device);
};

class AudioLock {
 public:
  // Installs `implementation` (which must outlive its use) for `device`, or
  // removes it with null. Called by the device as it opens and closes, on
  // the thread that owns the engine; a render thread may lock meanwhile.
  void install(const AudioLockImplementation* implementation, void* device) {
    device_.store(device, std::memory_order_relaxed);
    installed_.store(implementation, std::memory_order_release);
  }

  // Take and release the device's lock; both do nothing while none is installed.
  void lock() const {
    if (const AudioLockImplementation* l = installed_.load(std::memory_order_acquire)) {
      l->lock(device_.load(std::memory_order_relaxed));
    }
  }
  void unlock() const {
    if (const AudioLockImplementation* l = installed_.load(std::memory_order_acquire)) {
      l->unlock(device_.load(std::memory_order_relaxed));
    }
  }

 private:
  std::atomic<const AudioLockImplementation*> installed_{nullptr};
  std::atomic<void*> device_{nullptr};
};

// Holds an engine's audio lock for the lifetime of the guard.
class AudioLockHold {
 public:
  explicit AudioLockHold(const AudioLock& lock) : lock_(lock) { lock_.lock(); }
  ~AudioLockHold() { lock_.unlock(); }
  AudioLockHold(const AudioLockHold&) = delete;
  AudioLockHold& operator=(const AudioLockHold&) = delete;

 private:
  const AudioLock& lock_;
};

}  // namespace zv
