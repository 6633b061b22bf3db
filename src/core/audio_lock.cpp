#include "core/audio_lock.h"

#include <atomic>

namespace zv {

namespace {
// Written by the main thread; a render thread may read it while it runs.
std::atomic<const AudioLockImplementation*> installed{nullptr};
}  // namespace

void installAudioLock(const AudioLockImplementation* implementation) { installed = implementation; }

void lockAudio() {
  if (const AudioLockImplementation* lock = installed) lock->lock();
}

void unlockAudio() {
  if (const AudioLockImplementation* lock = installed) lock->unlock();
}

}  // namespace zv
