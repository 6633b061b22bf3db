// The routines never read outside a sample block of the smallest size the
// loader makes (data, the guard element, two zero bytes): blocks are placed
// against an inaccessible page, before or after them, and random voices are
// mixed through every routine of every instruction set the processor runs.
// A stray read ends the test program.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "mixer/mix_routines.h"
#include "mixer_test_support.h"

namespace zv::test {
namespace {

class GuardedBlock {
 public:
  // `bytes` bytes touching an inaccessible page behind them (or before them).
  GuardedBlock(size_t bytes, bool againstTheEnd) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t pages = (bytes + page - 1) / page;
    size_ = (pages + 2) * page;
    void* m = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return;
    base_ = static_cast<int8_t*>(m);
    mprotect(base_, page, PROT_NONE);
    mprotect(base_ + (pages + 1) * page, page, PROT_NONE);
    data_ = againstTheEnd ? base_ + (pages + 1) * page - bytes : base_ + page;
  }
  ~GuardedBlock() {
    if (base_) munmap(base_, size_);
  }
  GuardedBlock(const GuardedBlock&) = delete;
  GuardedBlock& operator=(const GuardedBlock&) = delete;
  int8_t* data() const { return data_; }

 private:
  int8_t* base_ = nullptr;
  int8_t* data_ = nullptr;
  size_t size_ = 0;
};

void mixRandomVoices(uint32_t seed, bool againstTheEnd) {
  std::mt19937 rng(seed);
  auto uniform = [&](int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng); };
  MixBufferScope buffer(20000);
  for (int n = 0; n < 400; ++n) {
    const int routine = static_cast<int>(uniform(0, 15));
    const bool sixteenBit = routine & 4;
    const int32_t frames = static_cast<int32_t>(uniform(0, 3) == 0 ? uniform(1, 8) : uniform(9, 3000));
    const int32_t lengthBytes = frames * (sixteenBit ? 2 : 1) + static_cast<int32_t>(sixteenBit ? uniform(0, 1) : 0);
    // 16-bit data start at an even address, as heap blocks do.
    GuardedBlock block(static_cast<size_t>(lengthBytes) + 4 + (lengthBytes & 1), againstTheEnd);
    ASSERT_NE(block.data(), nullptr);
    for (int32_t i = 0; i < lengthBytes + 4; ++i) block.data()[i] = static_cast<int8_t>(uniform(-128, 127));

    Voice v{};
    v.sampleData = block.data();
    const uint8_t loopKind = static_cast<uint8_t>(uniform(0, 3));
    v.flags = static_cast<uint8_t>(loopKind | (sixteenBit ? Voice::sixteenBit : 0));
    if (loopKind) {
      v.loopStart = static_cast<int32_t>(uniform(0, frames - 1));
      v.loopLength = static_cast<int32_t>(uniform(1, frames - v.loopStart));
      v.end = v.loopStart + v.loopLength;
      if (uniform(0, 1)) v.flags |= Voice::backwards;
    } else {
      v.end = frames;
    }
    v.reverseBase = block.data() + (2 * v.loopStart + v.loopLength) * (sixteenBit ? 2 : 1);
    // Backward passes start at or after the loop start; zero steps creep through the carries.
    v.position = static_cast<int32_t>((v.flags & Voice::backwards) ? uniform(v.loopStart, v.end - 1) : uniform(0, v.end - 1));
    v.fraction = static_cast<uint32_t>(uniform(0, 0xFFFF)) << 16;
    const int stepKind = static_cast<int>(uniform(0, 5));
    v.step = static_cast<uint32_t>(stepKind == 0   ? 0
                                   : stepKind == 1 ? uniform(1, 0xFFFF)
                                   : stepKind == 2 ? uniform(0x10000, 0x80000)
                                   : stepKind == 3 ? uniform(0x80000, 0xFFFFFFFFll)
                                                   : uniform(0xC000, 0x14000));
    v.mixRoutine = routine & 7;
    v.targetLeft = v.currentLeft = 1 << 22;
    v.targetRight = v.currentRight = (routine & 8) ? 1 << 22 : 1 << 21;
    for (int call = 0; call < 4 && !(v.flags & Voice::stopped); ++call) {
      const int32_t count = static_cast<int32_t>(uniform(0, 1) ? uniform(1, 64) : uniform(65, 20000));
      mixRoutines[routine](v, count, mixBufferAt(0));
    }
  }
}

// The two ways a voice reads the element behind the guard, on a loop that
// ends with the data: a forward pass that the accumulator's carry brings onto
// the guard in the last sample of a stretch, and a zero step creeping back
// from the loop start on a backward pass.
void mixAtTheLimit(int routine) {
  const bool sixteenBit = routine & 4;
  const int32_t frames = 1000;
  MixBufferScope buffer(5000);
  for (int pass = 0; pass < 2; ++pass) {
    GuardedBlock block(static_cast<size_t>(frames) * (sixteenBit ? 2 : 1) + 4, true);
    ASSERT_NE(block.data(), nullptr);
    Voice v{};
    v.sampleData = block.data();
    v.flags = static_cast<uint8_t>((pass == 0 ? 1 : 2 | Voice::backwards) | (sixteenBit ? Voice::sixteenBit : 0));
    v.loopStart = 0;
    v.loopLength = frames;
    v.end = frames;
    v.reverseBase = block.data() + frames * (sixteenBit ? 2 : 1);
    v.fraction = pass == 0 ? 0xFFFF0000u : 0;
    v.step = pass == 0 ? 0x10000 : 0;
    v.mixRoutine = routine & 7;
    v.targetLeft = v.currentLeft = v.targetRight = v.currentRight = 1 << 22;
    for (int call = 0; call < 3; ++call) mixRoutines[routine](v, 5000, mixBufferAt(0));
  }
}

TEST(MixBounds, ReadsStayInsideTheSmallestBlock) {
  for (const MixTarget& target : mixTargets()) {
    MixTargetScope scope(target.name);
    for (int routine = 0; routine < 16; ++routine) mixAtTheLimit(routine);
    mixRandomVoices(11, true);
    mixRandomVoices(12, false);
  }
}

}  // namespace
}  // namespace zv::test
