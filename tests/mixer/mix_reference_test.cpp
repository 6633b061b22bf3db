// Every mixing routine against the per-sample reference, over many random
// voices: all loop kinds and passes, steps from 0 to far beyond a loop,
// ramps on and off, call lengths from 1 to beyond 8192.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "mixer/mix_routines.h"
#include "mixer_test_support.h"

namespace zv::test {
namespace {

constexpr int32_t kMaxGain = 267386880;

class RandomVoices {
 public:
  explicit RandomVoices(uint32_t seed) : rng_(seed) {}

  int32_t uniform(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng_); }
  uint32_t uniformU(uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng_); }
  bool chance(int percent) { return uniform(0, 99) < percent; }

  int32_t frames() {
    const int kind = uniform(0, 9);
    if (kind < 2) return uniform(1, 4);
    if (kind < 4) return uniform(5, 64);
    if (kind < 8) return uniform(65, 5000);
    return uniform(60000, 70000);  // longer than the 65535-frame cap of a stretch
  }

  uint32_t step(bool& huge) {
    huge = false;
    const int kind = uniform(0, 19);
    if (kind == 0) return 0;
    if (kind == 1) return uniformU(1, 0xFF);
    if (kind == 2) return 0x10000;
    if (kind < 8) return uniformU(0x100, 0xFFFF);
    if (kind < 11) return uniformU(0xF000, 0x11000);
    if (kind < 16) return uniformU(0x10000, 0x40000);
    if (kind < 19) return uniformU(0x40000, 0x400000);
    huge = true;
    return uniformU(0x400000, 0xFFFFFFFFu);
  }

  int32_t count(bool huge) {
    if (huge) return uniform(1, 200);  // the reference subtracts one loop length at a time
    const int kind = uniform(0, 9);
    if (kind < 2) return uniform(1, 8);
    if (kind < 5) return uniform(9, 1000);
    if (kind < 8) return uniform(1000, 8192);
    return uniform(8193, 20000);
  }

  int32_t gain() { return chance(10) ? 0 : uniform(0, kMaxGain); }

  void fill(SampleBlock& block) {
    const int32_t limit = block.sixteenBit() ? 32767 : 127;
    for (int32_t i = 0; i < block.frames(); ++i) block.set(i, uniform(-limit - 1, limit));
  }

 private:
  std::mt19937 rng_;
};

// Writes the guard element as the loader does.
void writeGuard(SampleBlock& block, uint8_t loopKind, int32_t loopStart, int32_t loopEnd) {
  if (loopKind & 1) block.set(loopEnd, block.get(loopStart));
  else if (loopKind & 2) block.set(loopEnd, block.get(loopEnd - 1));
  else block.set(block.frames(), 0);
}

std::string describe(const Voice& v, int routine, int32_t count, int32_t offset) {
  return "routine " + std::to_string(routine) + " count " + std::to_string(count) + " offset " +
         std::to_string(offset) + " position " + std::to_string(v.position) + " fraction " +
         std::to_string(v.fraction >> 16) + " step " + std::to_string(v.step) + " end " + std::to_string(v.end) +
         " loop " + std::to_string(v.loopStart) + "+" + std::to_string(v.loopLength) + " flags " +
         std::to_string(v.flags) + " ramp " + std::to_string(v.rampSamplesLeft);
}

void expectSameVoice(const Voice& actual, const Voice& expected, const std::string& where) {
  EXPECT_EQ(actual.flags, expected.flags) << where;
  EXPECT_EQ(actual.position, expected.position) << where;
  EXPECT_EQ(actual.fraction, expected.fraction) << where;
  EXPECT_EQ(actual.currentLeft, expected.currentLeft) << where;
  EXPECT_EQ(actual.currentRight, expected.currentRight) << where;
  EXPECT_EQ(actual.rampSamplesLeft, expected.rampSamplesLeft) << where;
  EXPECT_EQ(actual.targetLeft, expected.targetLeft) << where;
  EXPECT_EQ(actual.targetRight, expected.targetRight) << where;
}

// Mixes random voices through routine `routine` and the reference; false
// after the first difference.
bool compareRoutine(int routine, int voiceCount, uint32_t seed) {
  RandomVoices random(seed);
  const bool sixteenBit = routine & 4;
  const bool ramping = routine & 2;
  const bool centred = routine & 8;
  for (int n = 0; n < voiceCount; ++n) {
    SampleBlock block(random.frames(), sixteenBit);
    random.fill(block);
    const uint8_t loopKind = static_cast<uint8_t>(random.uniform(0, 3));
    int32_t loopStart = 0, loopLength = 0;
    if (loopKind) {
      loopStart = random.uniform(0, block.frames() - 1);
      const int32_t room = block.frames() - loopStart;
      loopLength = random.chance(25) ? random.uniform(1, std::min(room, 4)) : random.uniform(1, room);
    }
    const int32_t end = loopKind ? loopStart + loopLength : block.frames();
    writeGuard(block, loopKind, loopStart, end);
    const bool backwards = loopKind && random.chance(50);
    const int32_t position =
        backwards && (loopKind & 2) ? random.uniform(loopStart, end - 1) : random.uniform(0, end - 1);
    const int fractionKind = random.uniform(0, 9);
    const uint32_t fraction = fractionKind == 0 ? 0 : fractionKind == 1 ? 0xFFFF : random.uniformU(0, 0xFFFF);
    bool huge = false;
    const uint32_t step = random.step(huge);

    Voice v = playingVoice(block, loopKind, loopStart, loopLength, position, fraction, step);
    if (backwards) v.flags |= Voice::backwards;
    v.mixRoutine = routine & 7;
    v.targetLeft = random.gain();
    v.targetRight = centred ? v.targetLeft : random.gain();
    v.currentLeft = random.gain();
    v.currentRight = centred ? v.currentLeft : random.gain();
    if (ramping && random.chance(70)) {
      const int32_t frames = random.uniform(1, 20000);
      v.rampDeltaLeft = (v.targetLeft - v.currentLeft) / frames;
      v.rampDeltaRight = centred ? v.rampDeltaLeft : (v.targetRight - v.currentRight) / frames;
      v.rampSamplesLeft = random.chance(80) ? frames : random.uniform(1, 50);
    }

    Voice expected = v;
    const int calls = random.uniform(1, 3);
    for (int call = 0; call < calls && !(v.flags & Voice::stopped); ++call) {
      const int32_t count = random.count(huge);
      const int32_t offset = random.uniform(0, 64);
      MixBufferScope buffer(offset + count + 64);
      std::vector<int32_t> expectedSums = buffer.sums();
      const std::string where = describe(v, routine, count, offset);
      bool outOfBounds = false;
      referenceMix(routine, expected, count, offset, expectedSums, block, outOfBounds);
      mixRoutines[routine](v, count, mixBufferAt(offset));
      EXPECT_FALSE(outOfBounds) << where;
      if (buffer.sums() != expectedSums) {
        const auto first = std::mismatch(buffer.sums().begin(), buffer.sums().end(), expectedSums.begin());
        ADD_FAILURE() << where << ": sums differ first at value " << (first.first - buffer.sums().begin());
        return false;
      }
      expectSameVoice(v, expected, where);
      if (::testing::Test::HasFailure()) return false;
    }
  }
  return true;
}

// Every instruction set the processor runs, each routine with its own voices.
std::vector<std::string> targetNames() {
  std::vector<std::string> names;
  for (const MixTarget& target : mixTargets()) names.push_back(target.name);
  return names;
}

class EveryRoutine : public ::testing::TestWithParam<std::tuple<std::string, int>> {};

TEST_P(EveryRoutine, MatchesThePerSampleReference) {
  const auto& [name, routine] = GetParam();
  MixTargetScope target(name);
  uint32_t seed = 1000u + static_cast<uint32_t>(routine);
  for (char c : name) seed = seed * 31u + static_cast<unsigned char>(c);
  EXPECT_TRUE(compareRoutine(routine, 160, seed));
}

INSTANTIATE_TEST_SUITE_P(Routines, EveryRoutine,
                         ::testing::Combine(::testing::ValuesIn(targetNames()), ::testing::Range(0, 16)),
                         [](const auto& info) {
                           return std::get<0>(info.param) + "_" + std::to_string(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace zv::test
