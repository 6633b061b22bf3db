// The mixing routines on hand-made voices: exact values, stretch ends, loop
// turns, the accumulator's carry, and the choice of routine in mixVoice.
#include "mixer/mix_routines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <span>
#include <string>
#include <vector>

#include "mixer_test_support.h"

namespace zv::test {
namespace {

constexpr uint32_t kStepOne = 0x10000;

// A 16-bit block whose element i holds `first + i`, so an output at unit gain names the frame read.
SampleBlock numberedBlock(int32_t frames, int32_t first = 1) {
  SampleBlock block(frames, true);
  for (int32_t i = 0; i < frames; ++i) block.set(i, first + i);
  return block;
}

// The frames read by `count` outputs of an uninterpolated unit-gain voice, one call.
std::vector<int32_t> framesRead(Voice& v, int32_t count) {
  MixBufferScope buffer(count);
  mixRoutines[routineIndex(true, false, false, false)](v, count, mixBufferAt(0));
  std::vector<int32_t> read;
  for (int32_t i = 0; i < count; ++i) read.push_back(buffer.left(i) - 1);
  return read;
}

TEST(MixValues, EightBitValueAtTheCentreGain) {
  SampleBlock block(4, false);
  for (int i = 0; i < 4; ++i) block.set(i, 100);
  for (int centred = 0; centred < 2; ++centred) {
    Voice v = playingVoice(block, 0, 0, 0, 0, 0, kStepOne);
    setGains(v, 59084775, 59084775);
    MixBufferScope buffer(1);
    mixRoutines[routineIndex(false, false, false, centred)](v, 1, mixBufferAt(0));
    EXPECT_EQ(buffer.left(0), 1442499);
    EXPECT_EQ(buffer.right(0), 1442499);
  }
}

TEST(MixValues, NegativeProductsRoundDown) {
  SampleBlock block(4, false);
  block.set(0, -1);
  Voice v = playingVoice(block, 0, 0, 0, 0, 0, 0);
  setGains(v, 4095, 4096);  // floor(-256 x 4095 / 2^20) = -1, floor(-256 x 4096 / 2^20) = -1
  MixBufferScope buffer(1);
  mixRoutines[routineIndex(false, false, false, false)](v, 1, mixBufferAt(0));
  EXPECT_EQ(buffer.left(0), -1);
  EXPECT_EQ(buffer.right(0), -1);
}

TEST(MixValues, InterpolationHalfway) {
  SampleBlock eight(4, false);
  eight.set(0, 0);
  eight.set(1, 1);
  SampleBlock sixteen(4, true);
  sixteen.set(0, 0);
  sixteen.set(1, 1);
  for (const SampleBlock* block : {&eight, &sixteen}) {
    Voice v = playingVoice(*block, 0, 0, 0, 0, 0x8000, 0);
    setGains(v, kUnitGain, kUnitGain);
    MixBufferScope buffer(1);
    mixRoutines[routineIndex(block->sixteenBit(), true, false, false)](v, 1, mixBufferAt(0));
    EXPECT_EQ(buffer.left(0), block->sixteenBit() ? 0 : 128);
  }
}

TEST(MixValues, RoutinesAddIntoTheBufferAndLeaveOtherFramesAlone) {
  SampleBlock block(8, false);
  for (int i = 0; i < 8; ++i) block.set(i, 10);
  Voice v = playingVoice(block, 0, 0, 0, 0, 0, 0);
  setGains(v, kUnitGain, 2 * kUnitGain);
  MixBufferScope buffer(6);
  buffer.sums().assign(12, 7);
  mixRoutines[routineIndex(false, false, false, false)](v, 3, mixBufferAt(2));
  for (int f = 0; f < 6; ++f) {
    const bool mixed = f >= 2 && f < 5;
    EXPECT_EQ(buffer.left(f), mixed ? 7 + 2560 : 7) << f;
    EXPECT_EQ(buffer.right(f), mixed ? 7 + 5120 : 7) << f;
  }
}

TEST(MixValues, CentredEqualsStereoForEqualSides) {
  for (int base = 0; base < 8; ++base) {
    SampleBlock block(3000, base & 4);
    for (int i = 0; i < 3000; ++i) block.set(i, (i * 37) % 256 - 128);
    Voice stereo = playingVoice(block, 2, 500, 700, 10, 0x1234, 0x17654);
    stereo.mixRoutine = base;
    setGains(stereo, 12345678, 12345678);
    stereo.targetLeft = stereo.targetRight = 23456789;
    stereo.rampDeltaLeft = stereo.rampDeltaRight = -1000;
    stereo.rampSamplesLeft = 1500;
    Voice centred = stereo;
    MixBufferScope a(5000);
    mixRoutines[base](stereo, 5000, mixBufferAt(0));
    std::vector<int32_t> stereoSums = a.sums();
    a.clear();
    mixRoutines[base + 8](centred, 5000, mixBufferAt(0));
    EXPECT_EQ(a.sums(), stereoSums) << base;
    EXPECT_EQ(centred.currentLeft, stereo.currentLeft);
    EXPECT_EQ(centred.currentRight, stereo.currentRight);
    EXPECT_EQ(centred.position, stereo.position);
    EXPECT_EQ(centred.fraction, stereo.fraction);
    EXPECT_EQ(centred.flags, stereo.flags);
  }
}

TEST(MixEnds, UnloopedSampleStopsAfterItsLastFrame) {
  SampleBlock block = numberedBlock(1000);
  Voice v = playingVoice(block, 0, 0, 0, 0, 0, kStepOne);
  setGains(v, kUnitGain, kUnitGain);
  MixBufferScope buffer(1500);
  mixRoutines[routineIndex(true, false, false, false)](v, 1500, mixBufferAt(0));
  for (int32_t i = 0; i < 1000; ++i) ASSERT_EQ(buffer.left(i), i + 1) << i;
  for (int32_t i = 1000; i < 1500; ++i) ASSERT_EQ(buffer.left(i), 0) << i;
  EXPECT_EQ(v.flags, Voice::stopped);
}

TEST(MixEnds, StretchToTheEndIsTheSmallestNumberOfStepsReachingIt) {
  // 990.5 + 1.5 k reaches 1000 first at k = 7: seven outputs, then the voice stops.
  SampleBlock block = numberedBlock(1000);
  Voice v = playingVoice(block, 0, 0, 0, 990, 0x8000, 0x18000);
  setGains(v, kUnitGain, kUnitGain);
  EXPECT_EQ(framesRead(v, 10), (std::vector<int32_t>{990, 992, 993, 995, 996, 998, 999, -1, -1, -1}));
  EXPECT_EQ(v.flags, Voice::stopped);
}

TEST(MixEnds, StoppedVoiceKeepsItsPositionOfTheLastStretchStart) {
  SampleBlock block = numberedBlock(100);
  Voice v = playingVoice(block, 0, 0, 0, 95, 0, kStepOne);
  setGains(v, kUnitGain, kUnitGain);
  framesRead(v, 20);
  EXPECT_EQ(v.flags, Voice::stopped);
  EXPECT_EQ(v.position, 95);
}

TEST(MixLoops, ForwardLoopRepeatsItsFrames) {
  SampleBlock block = numberedBlock(200);
  Voice v = playingVoice(block, 1, 100, 50, 0, 0, kStepOne);
  setGains(v, kUnitGain, kUnitGain);
  const std::vector<int32_t> read = framesRead(v, 400);
  for (int32_t i = 0; i < 400; ++i) {
    const int32_t expected = i < 150 ? i : 100 + (i - 150) % 50;
    ASSERT_EQ(read[i], expected) << i;
  }
  EXPECT_EQ(v.position, 100 + (400 - 150) % 50);
}

TEST(MixLoops, PingPongTurnFramesSoundTwiceAndBackwardsToggles) {
  SampleBlock block = numberedBlock(200);
  Voice v = playingVoice(block, 2, 100, 50, 0, 0, kStepOne);
  setGains(v, kUnitGain, kUnitGain);
  std::vector<int32_t> expected;
  for (int32_t i = 0; i < 150; ++i) expected.push_back(i);
  for (int pass = 0; pass < 4; ++pass)
    for (int32_t i = 0; i < 50; ++i) expected.push_back(pass % 2 == 0 ? 149 - i : 100 + i);
  // Calls of 50 samples end exactly at each turn.
  std::vector<int32_t> read = framesRead(v, 150);
  EXPECT_TRUE(v.flags & Voice::backwards);  // wrapped after the 150th sample
  for (int pass = 0; pass < 4; ++pass) {
    const bool backwardsBefore = v.flags & Voice::backwards;
    const std::vector<int32_t> more = framesRead(v, 50);
    read.insert(read.end(), more.begin(), more.end());
    EXPECT_NE(static_cast<bool>(v.flags & Voice::backwards), backwardsBefore) << pass;
    EXPECT_EQ(v.position, 100);
  }
  EXPECT_EQ(read, expected);
  EXPECT_EQ(read[149], read[150]);
  EXPECT_EQ(read[199], read[200]);
}

TEST(MixLoops, BackwardPassStartsBetweenTheLoopEndAndItsGuard) {
  SampleBlock block(200, true);
  block.set(149, 1000);
  block.set(150, 3000);  // a guard unlike the ping-pong guard, to see the interpolation
  Voice v = playingVoice(block, 2, 100, 50, 100, 0, kStepOne);
  v.flags |= Voice::backwards;
  setGains(v, kUnitGain, kUnitGain);
  MixBufferScope buffer(1);
  mixRoutines[routineIndex(true, true, false, false)](v, 1, mixBufferAt(0));
  // F = 0xFFFF8058: 1000 + 2 x floor(2000 x F / 2^33) = 2998.
  EXPECT_EQ(buffer.left(0), 2998);
}

TEST(MixLoops, OvershootAtAPingPongEndContinuesBackFromTheLoopEnd) {
  SampleBlock block = numberedBlock(200);
  Voice v = playingVoice(block, 2, 100, 50, 149, 0, 0x18000);
  setGains(v, kUnitGain, kUnitGain);
  EXPECT_EQ(framesRead(v, 1), std::vector<int32_t>{149});
  // 150.5 lies 0.5 past the end: 0.5 into the backward pass.
  EXPECT_EQ(v.position, 100);
  EXPECT_EQ(v.fraction, 0x80000000u);
  EXPECT_TRUE(v.flags & Voice::backwards);
  // Mirrored, 100.5 is 149.49998, then 147.99998, 146.49998, 144.99998.
  EXPECT_EQ(framesRead(v, 4), (std::vector<int32_t>{149, 147, 146, 144}));
}

TEST(MixLoops, StepsLongerThanTheLoopWrapSeveralTimes) {
  SampleBlock block = numberedBlock(200);
  Voice forward = playingVoice(block, 1, 100, 3, 100, 0, 7 * kStepOne);
  setGains(forward, kUnitGain, kUnitGain);
  EXPECT_EQ(framesRead(forward, 6), (std::vector<int32_t>{100, 101, 102, 100, 101, 102}));

  // 106 takes two subtractions to get below 103: two toggles, still forward. 109: three, backwards.
  Voice even = playingVoice(block, 2, 100, 3, 100, 0, 6 * kStepOne);
  setGains(even, kUnitGain, kUnitGain);
  framesRead(even, 1);
  EXPECT_EQ(even.position, 100);
  EXPECT_FALSE(even.flags & Voice::backwards);
  Voice odd = playingVoice(block, 2, 100, 3, 100, 0, 9 * kStepOne);
  setGains(odd, kUnitGain, kUnitGain);
  framesRead(odd, 1);
  EXPECT_EQ(odd.position, 100);
  EXPECT_TRUE(odd.flags & Voice::backwards);
}

TEST(MixLoops, LargestStepOnATinyLoopNeitherHangsNorLeavesTheLoop) {
  SampleBlock block = numberedBlock(20);
  for (uint8_t kind : {uint8_t{1}, uint8_t{2}, uint8_t{3}}) {
    Voice v = playingVoice(block, kind, 5, 1, 0, 0xFFFF, 0xFFFFFFFFu);
    setGains(v, kUnitGain, kUnitGain);
    const std::vector<int32_t> read = framesRead(v, 100000);
    EXPECT_EQ(read[0], 0);
    for (size_t i = 1; i < read.size(); ++i) ASSERT_EQ(read[i], 5) << i;
    EXPECT_EQ(v.position, 5);
  }
}

TEST(MixLoops, EmptyLoopStopsInsteadOfSpinning) {
  SampleBlock block = numberedBlock(20);
  Voice v = playingVoice(block, 1, 10, 0, 0, 0, kStepOne);
  setGains(v, kUnitGain, kUnitGain);
  const std::vector<int32_t> read = framesRead(v, 30);
  EXPECT_EQ(read[9], 9);
  EXPECT_EQ(read[10], -1);
  EXPECT_EQ(v.flags, Voice::stopped);
}

TEST(MixAccumulator, CarryAtThe4085thSampleSkipsAFrameForwards) {
  SampleBlock block = numberedBlock(10000);
  Voice v = playingVoice(block, 0, 0, 0, 0, 0xFFFF, kStepOne);
  setGains(v, kUnitGain, kUnitGain);
  const std::vector<int32_t> read = framesRead(v, 5000);
  for (int32_t i = 0; i < 5000; ++i) ASSERT_EQ(read[i], i < 4085 ? i : i + 1) << i;
  // The lower half is dropped at the end of the call: 0xFFFF8058 + 5000 x 8 wraps to fraction 0.
  EXPECT_EQ(v.position, 5001);
  EXPECT_EQ(v.fraction, 0u);
}

TEST(MixAccumulator, CarryInABackwardPassRepeatsAFrame) {
  SampleBlock block = numberedBlock(9000);
  Voice v = playingVoice(block, 2, 0, 8000, 0, 0, kStepOne);
  v.flags |= Voice::backwards;
  setGains(v, kUnitGain, kUnitGain);
  const std::vector<int32_t> read = framesRead(v, 5000);
  for (int32_t i = 0; i < 5000; ++i) ASSERT_EQ(read[i], i <= 4084 ? 7999 - i : 8000 - i) << i;
  EXPECT_EQ(read[4084], read[4085]);
}

TEST(MixAccumulator, LowerHalfCarriesAcrossStretchesWithinOneCall) {
  // A forward loop of 1000 frames wraps every 1000 samples; the carry still
  // comes at the 4085th sample of the call.
  // The carry brings the last sample of the fifth stretch onto the guard
  // element, which repeats the loop's first frame.
  SampleBlock block = numberedBlock(1100);
  block.set(1000, block.get(0));
  Voice v = playingVoice(block, 1, 0, 1000, 0, 0xFFFF, kStepOne);
  setGains(v, kUnitGain, kUnitGain);
  const std::vector<int32_t> read = framesRead(v, 5000);
  for (int32_t i = 0; i < 5000; ++i) ASSERT_EQ(read[i], (i < 4085 ? i : i + 1) % 1000) << i;
}

TEST(MixAccumulator, ZeroStepHoldsThePosition) {
  SampleBlock block = numberedBlock(50);
  Voice v = playingVoice(block, 0, 0, 0, 20, 0x4000, 0);
  setGains(v, kUnitGain, kUnitGain);
  const std::vector<int32_t> read = framesRead(v, 3000);
  for (int32_t r : read) ASSERT_EQ(r, 20);
  EXPECT_EQ(v.position, 20);
  EXPECT_EQ(v.fraction, 0x40000000u);
}

TEST(MixAccumulator, ZeroStepOnABackwardPassStaysInsideTheLoop) {
  // The carries of long calls creep a zero-step backward voice towards the
  // loop start; it is held there, never reading past the loop end's guard.
  SampleBlock block = numberedBlock(10);
  block.set(10, 11);  // a guard that shows when it is read
  Voice v = playingVoice(block, 2, 0, 10, 0, 0, 0);
  v.flags |= Voice::backwards;
  setGains(v, kUnitGain, kUnitGain);
  for (int call = 0; call < 5; ++call) {
    const std::vector<int32_t> read = framesRead(v, 60000);
    for (int32_t r : read) ASSERT_TRUE(r == 9 || r == 10) << r;
    EXPECT_EQ(v.position, 0);
    EXPECT_EQ(v.fraction, 0u);
    EXPECT_TRUE(v.flags & Voice::backwards);
  }
}

TEST(MixRamps, RampStepsTheGainsAndEndsAtItsLength) {
  SampleBlock block(100, true);
  for (int i = 0; i < 100; ++i) block.set(i, 16);
  Voice v = playingVoice(block, 0, 0, 0, 0, 0, kStepOne);
  setGains(v, 0, kUnitGain);
  v.targetLeft = 10 * kUnitGain;
  v.rampDeltaLeft = kUnitGain;
  v.rampDeltaRight = -kUnitGain / 16;
  v.rampSamplesLeft = 10;
  MixBufferScope buffer(20);
  mixRoutines[routineIndex(true, false, true, false)](v, 20, mixBufferAt(0));
  for (int i = 0; i < 20; ++i) {
    const int32_t steps = i < 10 ? i : 10;
    EXPECT_EQ(buffer.left(i), 16 * steps) << i;
    EXPECT_EQ(buffer.right(i), 16 - steps) << i;
  }
  EXPECT_EQ(v.currentLeft, 10 * kUnitGain);
  EXPECT_EQ(v.currentRight, kUnitGain - 10 * (kUnitGain / 16));
  EXPECT_EQ(v.rampSamplesLeft, 0);
}

TEST(MixVoice, StoppedVoiceIsLeftAlone) {
  SampleBlock block = numberedBlock(10);
  Voice v = playingVoice(block, 0, 0, 0, 3, 0, kStepOne);
  setGains(v, kUnitGain, kUnitGain);
  v.flags |= Voice::stopped;
  const Voice before = v;
  MixBufferScope buffer(5);
  mixVoice(engine.player, v, 5, 0);
  EXPECT_EQ(v.position, before.position);
  for (int32_t s : buffer.sums()) EXPECT_EQ(s, 0);
}

TEST(MixVoice, SilentVoiceAdvancesExactlyWithRampingOn) {
  MixSettingsScope settings(true, true);
  SampleBlock block = numberedBlock(1000);
  MixBufferScope buffer(4096);

  Voice unlooped = playingVoice(block, 0, 0, 0, 0, 0, 0x18000);
  setGains(unlooped, 0, 0);
  unlooped.rampSamplesLeft = 77;
  mixVoice(engine.player, unlooped, 4096, 0);  // no accumulator nudge: 4096 x 1.5 = 6144 exactly
  EXPECT_EQ(unlooped.flags, Voice::stopped);
  EXPECT_EQ(unlooped.position, 0);

  Voice moving = playingVoice(block, 0, 0, 0, 10, 0xC000, 0x18000);
  setGains(moving, 0, 0);
  moving.rampSamplesLeft = 77;
  mixVoice(engine.player, moving, 100, 0);  // 10.75 + 150 = 160.75
  EXPECT_EQ(moving.position, 160);
  EXPECT_EQ(moving.fraction, 0xC0000000u);
  EXPECT_EQ(moving.rampSamplesLeft, 77);

  Voice looped = playingVoice(block, 2, 100, 50, 140, 0x8000, 0x28000);
  setGains(looped, 0, 0);
  mixVoice(engine.player, looped, 100, 0);  // 140.5 + 250 = 390.5: five loop lengths back, toggled five times
  EXPECT_EQ(looped.position, 140);
  EXPECT_EQ(looped.fraction, 0x80000000u);
  EXPECT_TRUE(looped.flags & Voice::backwards);
  for (int32_t s : buffer.sums()) ASSERT_EQ(s, 0);
}

TEST(MixVoice, SilentAdvanceStopsAtAnEmptyLoop) {
  MixSettingsScope settings(true, false);
  SampleBlock block = numberedBlock(100);
  Voice v = playingVoice(block, 2, 40, 0, 30, 0, 0x20000);
  setGains(v, 0, 0);
  mixVoice(engine.player, v, 4, 0);
  EXPECT_EQ(v.position, 38);
  mixVoice(engine.player, v, 4, 0);
  EXPECT_EQ(v.flags, Voice::stopped);
}

TEST(MixVoice, SilentAdvanceOfTheLargestStepStaysInsideTheLoop) {
  MixSettingsScope settings(true, false);
  SampleBlock block = numberedBlock(100);
  Voice v = playingVoice(block, 1, 10, 7, 12, 0, 0xFFFFFFFFu);
  setGains(v, 0, 0);
  mixVoice(engine.player, v, 2000000000, 0);
  EXPECT_GE(v.position, 10);
  EXPECT_LT(v.position, 17);
}

TEST(MixVoice, RampingVoiceWithCurrentGainIsMixed) {
  MixSettingsScope settings(true, true);
  SampleBlock block(10, false);
  for (int i = 0; i < 10; ++i) block.set(i, 1);
  Voice v = playingVoice(block, 0, 0, 0, 0, 0, 0);
  setGains(v, 0, 0);
  v.currentLeft = kUnitGain;  // fading towards 0
  MixBufferScope buffer(1);
  mixVoice(engine.player, v, 1, 0);
  EXPECT_EQ(buffer.left(0), 256);
  EXPECT_EQ(buffer.right(0), 0);
}

TEST(MixVoice, ChoosesTheCentredRoutineOnlyForEqualSides) {
  // Centred routines use the left gain for both sides, so a centred choice
  // on unequal sides would show as equal sums.
  for (bool ramping : {false, true}) {
    MixSettingsScope settings(false, ramping);
    SampleBlock block(10, false);
    for (int i = 0; i < 10; ++i) block.set(i, 1);
    Voice v = playingVoice(block, 0, 0, 0, 0, 0, 0);
    setGains(v, kUnitGain, kUnitGain);
    if (ramping) v.rampDeltaRight = kUnitGain;  // sides differ only in their ramp
    else v.targetRight = 2 * kUnitGain;
    v.rampSamplesLeft = ramping ? 5 : 0;
    MixBufferScope buffer(2);
    mixVoice(engine.player, v, 2, 0);
    EXPECT_EQ(buffer.left(1), 256);
    EXPECT_EQ(buffer.right(1), 512);
  }
}

TEST(MixVoice, NeverAddsOutsideTheMixBuffer) {
  SampleBlock block(10, false);
  for (int i = 0; i < 10; ++i) block.set(i, 1);
  Voice v = playingVoice(block, 0, 0, 0, 0, 0, 0);
  setGains(v, kUnitGain, kUnitGain);
  MixBufferScope buffer(4);
  mixVoice(engine.player, v, 3, 2);
  mixVoice(engine.player, v, 1, -1);
  mixVoice(engine.player, v, 0, 0);
  mixVoice(engine.player, v, -5, 0);
  for (int32_t s : buffer.sums()) EXPECT_EQ(s, 0);
  mixVoice(engine.player, v, 2, 2);
  EXPECT_EQ(buffer.left(3), 256);
}

TEST(MixTargets, TheVariableNamesASetOrLeavesTheChoiceAutomatic) {
  const std::span<const MixTarget> targets = mixTargets();
  ASSERT_FALSE(targets.empty());
  EXPECT_STREQ(targets.back().name, "scalar");
  for (const MixTarget& target : targets) {
    EXPECT_EQ(&mixTargetFor(target.name), &target);
    std::string upper = target.name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(&mixTargetFor(upper.c_str()), &target);
  }
  // Not set, empty, unknown, or a set of another processor: the best one.
  for (const char* value : {static_cast<const char*>(nullptr), "", "fastest", "avx512 ", "neon", "avx2"}) {
    const bool listed = value != nullptr && std::any_of(targets.begin(), targets.end(), [&](const MixTarget& t) {
                          return std::string(t.name) == value;
                        });
    if (!listed) {
      EXPECT_EQ(&mixTargetFor(value), &targets.front()) << (value ? value : "(not set)");
    }
  }
}

}  // namespace
}  // namespace zv::test
