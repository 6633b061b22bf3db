// The measuring build (-DZELVIX_LOCK_TIMING=ON): how long the main thread
// waits for the audio lock and holds it, and how the sound callbacks are
// spaced and how long they run, reported on standard error when the device
// closes. In every other build these hooks are empty and cost nothing.
#pragma once

#include <cstdint>

namespace zv::lockTiming {

#if defined(ZELVIX_LOCK_TIMING)
int64_t now();                     // nanoseconds on a monotonic clock
void reset();                      // at every device open
void lockTaken(int64_t requested);  // the lock was asked for at `requested`
void lockReleasing();
void callbackStarted(int64_t start);
void callbackEnded(int64_t start);
void report();
#else
inline int64_t now() { return 0; }
inline void reset() {}
inline void lockTaken(int64_t) {}
inline void lockReleasing() {}
inline void callbackStarted(int64_t) {}
inline void callbackEnded(int64_t) {}
inline void report() {}
#endif

}  // namespace zv::lockTiming
