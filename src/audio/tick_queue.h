// The ticks of a render on their way from the replayer thread to the mixing
// thread. A record carries voice updates in the order the tick sent them and,
// in the tick's last record, the tick's frame count; a tick that sends more
// updates than a record holds goes on in the next one. One producer, one
// consumer. A side that must wait naps and looks again: waking a sleeper
// would cost the other side a system call, and the consumer (the mixing, the
// render's slowest part) should not pay one per tick. The ring holds enough
// ticks that the consumer seldom finds it empty.
#pragma once

#include <atomic>
#include <cstdint>

#include "mixer/voices.h"

namespace zv {

struct QueuedUpdate {
  int32_t channel;
  VoiceUpdate update;
};

struct TickRecord {
  static constexpr int32_t kCapacity = 24;
  bool startsTick;  // the first record of its tick
  int32_t frames;   // the tick's length in its last record; 0 while updates go on
  int32_t count;
  QueuedUpdate updates[kCapacity];
};

class TickQueue {
 public:
  static constexpr uint32_t kRecords = 256;  // a power of two

  // Producer. The record to fill next, waiting while the ring is full;
  // nullptr once stopped. publish() hands the claimed record over.
  TickRecord* claim();
  void publish();
  // Producer: no records follow.
  void finish();

  // Consumer. The oldest record, waiting while none is there; nullptr once
  // the producer finished and every record was released, or once stopped.
  // release() gives the record's slot back.
  const TickRecord* next();
  void release();

  // Either side: both give up at their next call, a napping side within a nap.
  void stop() { stopped_ = true; }

 private:
  TickRecord records_[kRecords];
  std::atomic<uint32_t> head_{0};  // records published
  std::atomic<uint32_t> tail_{0};  // records released
  std::atomic<bool> finished_{false};
  std::atomic<bool> stopped_{false};
};


}  // namespace zv
