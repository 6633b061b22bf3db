#include "audio/tick_queue.h"

#include "audio/nap.h"

namespace zv {

TickRecord* TickQueue::claim() {
  // Acquire: the consumer is done with the slot before it is filled again.
  while (!stopped_ && head_.load(std::memory_order_relaxed) - tail_.load(std::memory_order_acquire) == kRecords) {
    napBriefly();
  }
  if (stopped_) return nullptr;
  return &records_[head_.load(std::memory_order_relaxed) % kRecords];
}

void TickQueue::publish() { head_.fetch_add(1, std::memory_order_release); }

void TickQueue::finish() { finished_.store(true, std::memory_order_release); }

const TickRecord* TickQueue::next() {
  for (;;) {
    if (stopped_) return nullptr;
    // The finished flag first: records published before it are then seen.
    const bool finished = finished_.load(std::memory_order_acquire);
    const uint32_t tail = tail_.load(std::memory_order_relaxed);
    if (head_.load(std::memory_order_acquire) != tail) return &records_[tail % kRecords];
    if (finished) return nullptr;
    napBriefly();
  }
}

void TickQueue::release() { tail_.fetch_add(1, std::memory_order_release); }

}  // namespace zv
