#include "audio/lock_timing.h"

#if defined(ZELVIX_LOCK_TIMING)

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>

namespace zv::lockTiming {

namespace {
// Lock times: main thread only (nested holds count once). Callback times:
// the sound thread, read when the device closes.
int depth = 0;
int64_t taken = 0, holds = 0, longestWait = 0, longestHold = 0;
std::atomic<int64_t> callbacks{0}, lastCallbackStart{0}, longestInterval{0}, longestCallback{0};
}  // namespace

int64_t now() {
  static const auto start = std::chrono::steady_clock::now();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
}
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

}  // namespace zv::lockTiming

#endif
