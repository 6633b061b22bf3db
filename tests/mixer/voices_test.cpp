// The voice layer: equal-power gains, volume and panning updates, ramps,
// cuts with the fade-out on the spare voice, triggers, reset and counting.
#include "mixer/voices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "mixer/mix_routines.h"
#include "mixer_test_support.h"
#include "replayer/song.h"

namespace zv::test {
namespace {

class VoiceLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    resetVoices(engine.mixer, engine.audioLock);
    player.ampFactor = 80;  // amp 10
    player.rampLength = 220;
    song.samplesPerTick = 882;
    song.channelCount = 8;
  }
  void TearDown() override {
    resetVoices(engine.mixer, engine.audioLock);
    song.channelCount = savedChannels_;
  }

  static VoiceUpdate volumePan(uint16_t volume, uint16_t panning, uint8_t extra = 0) {
    VoiceUpdate u{};
    u.flags = VoiceUpdate::updateVolume | VoiceUpdate::updatePanning | extra;
    u.volume = volume;
    u.panning = panning;
    u.tickFrames = song.samplesPerTick;
    return u;
  }

  static VoiceUpdate trigger(const SampleBlock& block, uint8_t type, int32_t loopStartBytes, int32_t loopLengthBytes,
                             int32_t start) {
    VoiceUpdate u{};
    u.flags = VoiceUpdate::cutVoice | VoiceUpdate::triggerSample;
    u.sampleData = block.data();
    u.sampleType = type;
    u.sampleLength = block.lengthBytes();
    u.loopStart = loopStartBytes;
    u.loopLength = loopLengthBytes;
    u.startPosition = start;
    return u;
  }

  Voice& active(int channel) { return voices[voiceOfChannel[channel]]; }

  MixSettingsScope settings_{true, true};
  uint8_t savedChannels_ = song.channelCount;
};

TEST(PanTable, EqualPowerEntries) {
  EXPECT_EQ(panTable[0], 0);
  EXPECT_EQ(panTable[1], 4096);
  EXPECT_EQ(panTable[2], 5793);
  EXPECT_EQ(panTable[64], 32768);
  EXPECT_EQ(panTable[128], 46341);
  EXPECT_EQ(panTable[255], 65408);
  EXPECT_EQ(panTable[256], 65536);
  for (int i = 0; i <= 256; ++i) {
    EXPECT_EQ(panTable[i], std::lround(std::sqrt(i / 256.0) * 65536.0)) << i;
    const double power = double(panTable[i]) * panTable[i] + double(panTable[256 - i]) * panTable[256 - i];
    EXPECT_NEAR(power / (65536.0 * 65536.0), 1.0, 1e-4) << i;
  }
}

TEST_F(VoiceLayer, CentreGainsAtAmpTen) {
  updateVoice(engine.mixer, engine.player, 0, volumePan(256, 128));
  EXPECT_EQ(active(0).volume, 255);
  EXPECT_EQ(active(0).targetLeft, 59084775);
  EXPECT_EQ(active(0).targetRight, 59084775);
}

TEST_F(VoiceLayer, HardLeftAndTheLargestGainUseUnsignedProducts) {
  updateVoice(engine.mixer, engine.player, 0, volumePan(256, 0));
  EXPECT_EQ(active(0).targetLeft, (255 * 80 * 65536) >> 4);
  EXPECT_EQ(active(0).targetRight, 0);
  player.ampFactor = 256;  // 255 x 256 x 65536 overflows a signed product
  updateVoice(engine.mixer, engine.player, 0, volumePan(256, 0));
  EXPECT_EQ(active(0).targetLeft, 267386880);
  updateVoice(engine.mixer, engine.player, 0, volumePan(256, 255));
  EXPECT_EQ(active(0).targetLeft, int32_t((255u * 256u * 4096u) >> 4));
  EXPECT_EQ(active(0).targetRight, int32_t((255u * 256u * 65408u) >> 4));
}

TEST_F(VoiceLayer, VolumeIsOneLessDownToZero) {
  updateVoice(engine.mixer, engine.player, 0, volumePan(1, 128));
  EXPECT_EQ(active(0).volume, 0);
  EXPECT_EQ(active(0).targetLeft, 0);
  updateVoice(engine.mixer, engine.player, 0, volumePan(0, 128));
  EXPECT_EQ(active(0).volume, 0);
  updateVoice(engine.mixer, engine.player, 0, volumePan(2, 128));
  EXPECT_EQ(active(0).volume, 1);
}

TEST_F(VoiceLayer, PanningOnlyKeepsTheVolumeAndTheOtherWayRound) {
  updateVoice(engine.mixer, engine.player, 0, volumePan(129, 128));
  VoiceUpdate pan{};
  pan.flags = VoiceUpdate::updatePanning;
  pan.panning = 0x100 | 64;  // the low 8 bits are taken
  pan.volume = 7;            // stale, not read
  updateVoice(engine.mixer, engine.player, 0, pan);
  EXPECT_EQ(active(0).panning, 64);
  EXPECT_EQ(active(0).volume, 128);
  EXPECT_EQ(active(0).targetLeft, int32_t((128u * 80u * 56756u) >> 4));
  EXPECT_EQ(active(0).targetRight, int32_t((128u * 80u * 32768u) >> 4));
  VoiceUpdate vol{};
  vol.flags = VoiceUpdate::updateVolume;
  vol.volume = 65;
  updateVoice(engine.mixer, engine.player, 0, vol);
  EXPECT_EQ(active(0).panning, 64);
  EXPECT_EQ(active(0).targetRight, int32_t((64u * 80u * 32768u) >> 4));
}

TEST_F(VoiceLayer, NoFlagsChangeNothing) {
  updateVoice(engine.mixer, engine.player, 0, volumePan(200, 30));
  const Voice before = active(0);
  VoiceUpdate none{};
  none.volume = 3;
  none.step = 99;
  updateVoice(engine.mixer, engine.player, 0, none);
  EXPECT_EQ(active(0).volume, before.volume);
  EXPECT_EQ(active(0).step, before.step);
  EXPECT_EQ(active(0).rampSamplesLeft, before.rampSamplesLeft);
}

TEST_F(VoiceLayer, RampsOverTheTickOrQuicklyAndTruncateTowardsZero) {
  Voice& v = active(0);
  v.currentLeft = 1000;
  v.currentRight = 1000;
  updateVoice(engine.mixer, engine.player, 0, volumePan(256, 128));
  EXPECT_EQ(v.rampSamplesLeft, 882);
  EXPECT_EQ(v.rampDeltaLeft, (59084775 - 1000) / 882);
  EXPECT_EQ(v.currentLeft, 1000);  // not changed until mixed
  v.currentLeft = 59084775;
  v.currentRight = 1000;
  updateVoice(engine.mixer, engine.player, 0, volumePan(1, 128, VoiceUpdate::quickRamp));
  EXPECT_EQ(v.rampSamplesLeft, 220);
  EXPECT_EQ(v.rampDeltaLeft, -(59084775 / 220));  // towards zero, not down
  EXPECT_EQ(v.rampDeltaRight, -(1000 / 220));
}

// The reciprocal it multiplies by gives the division's quotient for every
// pair of 32-bit gains and every length, alternating lengths included.
TEST(RampDelta, EqualsTruncatingDivision) {
  const int32_t lengths[] = {1, 2, 3, 7, 220, 240, 882, 1102, 65536, 99999, 110250, INT32_MAX - 1, INT32_MAX};
  const int32_t gains[] = {INT32_MIN, INT32_MIN + 1, -267386880, -59084775, -882, -1, 0, 1, 881, 882, 883,
                           59084775, 267386880, INT32_MAX - 1, INT32_MAX};
  RampDivider divider;
  uint64_t random = 88172645463325252ull;
  const auto next = [&] {
    random ^= random << 13, random ^= random >> 7, random ^= random << 17;
    return static_cast<int32_t>(random);
  };
  for (int round = 0; round < 2000; ++round) {
    for (const int32_t frames : lengths) {
      const int32_t f = round % 3 == 0 ? frames : round % 3 == 1 ? (next() & 0xFFFF) + 1 : std::max(1, next() & INT32_MAX);
      const int32_t target = round < 15 ? gains[round] : next();
      for (const int32_t current : gains) {
        ASSERT_EQ(divider.delta(target, current, f), static_cast<int32_t>((int64_t{target} - current) / f))
            << target << " " << current << " " << f;
      }
      const int32_t current = next();
      ASSERT_EQ(divider.delta(target, current, f), static_cast<int32_t>((int64_t{target} - current) / f))
          << target << " " << current << " " << f;
    }
  }
}

TEST_F(VoiceLayer, NoRampWithoutRamping) {
  MixSettingsScope off(true, false);
  updateVoice(engine.mixer, engine.player, 0, volumePan(256, 128));
  EXPECT_EQ(active(0).rampSamplesLeft, 0);
  EXPECT_EQ(active(0).rampDeltaLeft, 0);
}

TEST_F(VoiceLayer, ZeroRampLengthsDoNotTrap) {
  player.rampLength = 0;
  song.samplesPerTick = 0;
  active(0).currentLeft = 5000;
  updateVoice(engine.mixer, engine.player, 0, volumePan(256, 128));
  EXPECT_EQ(active(0).rampSamplesLeft, 1);
  updateVoice(engine.mixer, engine.player, 0, volumePan(256, 128, VoiceUpdate::quickRamp));
  EXPECT_EQ(active(0).rampSamplesLeft, 1);
  VoiceUpdate cut{};
  cut.flags = VoiceUpdate::cutVoice;
  updateVoice(engine.mixer, engine.player, 0, cut);
  EXPECT_EQ(voices[0].rampSamplesLeft, 1);
  EXPECT_EQ(voices[0].rampDeltaLeft, -5000);
}

TEST_F(VoiceLayer, CutWithRampingFadesTheOldVoiceAndFlipsThePair) {
  SampleBlock block(1000, false);
  updateVoice(engine.mixer, engine.player, 3, trigger(block, 0, 0, 0, 0));
  EXPECT_EQ(voiceOfChannel[3], 7);
  Voice& old = voices[7];
  updateVoice(engine.mixer, engine.player, 3, volumePan(256, 128));
  old.currentLeft = 59084775;
  old.currentRight = 100;
  updateVoice(engine.mixer, engine.player, 3, trigger(block, 0, 0, 0, 0));
  EXPECT_EQ(voiceOfChannel[3], 6);
  EXPECT_EQ(old.flags, Voice::fadingOut);  // the playing voice's flags (0) plus fadingOut
  EXPECT_EQ(old.volume, 0);
  EXPECT_EQ(old.targetLeft, 0);
  EXPECT_EQ(old.targetRight, 0);
  EXPECT_EQ(old.rampDeltaLeft, -(59084775 / 220));
  EXPECT_EQ(old.rampDeltaRight, 0);
  EXPECT_EQ(old.rampSamplesLeft, 220);
  EXPECT_EQ(voices[6].flags, 0);  // triggered, unlooped 8-bit
  updateVoice(engine.mixer, engine.player, 3, trigger(block, 0, 0, 0, 0));
  EXPECT_EQ(voiceOfChannel[3], 7);
}

TEST_F(VoiceLayer, FadeOutLeavesTheRemainderOfTheDivision) {
  SampleBlock block(1000, false);
  for (int i = 0; i < 1000; ++i) block.set(i, 50);
  updateVoice(engine.mixer, engine.player, 0, trigger(block, 0, 0, 0, 0));
  Voice& old = active(0);
  updateVoice(engine.mixer, engine.player, 0, volumePan(256, 128));
  old.currentLeft = old.targetLeft;
  old.currentRight = old.targetRight;
  old.rampSamplesLeft = 0;
  VoiceUpdate cut{};
  cut.flags = VoiceUpdate::cutVoice;
  updateVoice(engine.mixer, engine.player, 0, cut);
  MixBufferScope buffer(300);
  mixVoice(engine.player, old, 300, 0);
  EXPECT_EQ(old.currentLeft, 59084775 % 220);
  EXPECT_EQ(old.currentRight, 59084775 % 220);
  EXPECT_EQ(buffer.left(299), 0);
}

TEST_F(VoiceLayer, CutWithoutRampingStopsOnTheSpot) {
  MixSettingsScope off(true, false);
  SampleBlock block(1000, false);
  updateVoice(engine.mixer, engine.player, 2, trigger(block, 0, 0, 0, 0));
  updateVoice(engine.mixer, engine.player, 2, trigger(block, 0, 0, 0, 0));
  EXPECT_EQ(voiceOfChannel[2], 4);
  VoiceUpdate cut{};
  cut.flags = VoiceUpdate::cutVoice;
  updateVoice(engine.mixer, engine.player, 2, cut);
  EXPECT_EQ(voiceOfChannel[2], 4);
  EXPECT_EQ(voices[4].flags, Voice::stopped);
  EXPECT_EQ(voices[5].flags, Voice::stopped);
}

TEST_F(VoiceLayer, TriggerUnlooped) {
  SampleBlock block(1000, false);
  VoiceUpdate u = trigger(block, 0, 0, 0, 17);
  u.flags |= VoiceUpdate::updateStep;
  u.step = 0x12345;
  updateVoice(engine.mixer, engine.player, 0, u);
  const Voice& v = active(0);
  EXPECT_EQ(v.flags, 0);
  EXPECT_EQ(v.end, 1000);
  EXPECT_EQ(v.position, 17);
  EXPECT_EQ(v.fraction, 0u);
  EXPECT_EQ(v.step, 0x12345u);
  EXPECT_EQ(v.sampleData, block.data());
  EXPECT_EQ(v.mixRoutine, 3);
  MixSettingsScope plain(false, true);
  updateVoice(engine.mixer, engine.player, 0, trigger(block, 0, 0, 0, 0));
  EXPECT_EQ(active(0).mixRoutine, 2);
}

TEST_F(VoiceLayer, TriggerSixteenBitLoopsInFrames) {
  SampleBlock block(500, true);
  // Odd byte values are halved, rounded down: start 101 -> 50, length 61 -> 30.
  updateVoice(engine.mixer, engine.player, 0, trigger(block, kSample16Bit | kLoopPingPong, 101, 61, 10));
  const Voice& v = active(0);
  EXPECT_EQ(v.flags, kSample16Bit | kLoopPingPong);
  EXPECT_EQ(v.loopStart, 50);
  EXPECT_EQ(v.loopLength, 30);
  EXPECT_EQ(v.end, 80);
  EXPECT_EQ(v.reverseBase, block.data() + 2 * (2 * 50 + 30));
  EXPECT_EQ(v.mixRoutine, 7);
  updateVoice(engine.mixer, engine.player, 1, trigger(block, kSample16Bit, 0, 0, 0));
  EXPECT_EQ(active(1).end, 500);
}

TEST_F(VoiceLayer, UnloopedTriggerKeepsTheOldLoopFields) {
  SampleBlock block(100, false);
  updateVoice(engine.mixer, engine.player, 0, trigger(block, kLoopForward, 10, 20, 0));
  updateVoice(engine.mixer, engine.player, 0, trigger(block, kLoopForward, 10, 20, 0));  // both voices of the pair get the loop
  updateVoice(engine.mixer, engine.player, 0, trigger(block, 0, 0, 0, 0));
  EXPECT_EQ(active(0).loopStart, 10);
  EXPECT_EQ(active(0).loopLength, 20);
  EXPECT_EQ(active(0).end, 100);
}

TEST_F(VoiceLayer, LoopedSamplePlaysOnlyToItsLoopEnd) {
  SampleBlock block(100, false);
  updateVoice(engine.mixer, engine.player, 0, trigger(block, kLoopForward, 10, 20, 29));
  EXPECT_EQ(active(0).end, 30);
  EXPECT_EQ(active(0).position, 29);
  updateVoice(engine.mixer, engine.player, 0, trigger(block, kLoopForward, 10, 20, 30));
  EXPECT_EQ(active(0).flags, Voice::stopped);
}

TEST_F(VoiceLayer, SilentTriggersLeaveTheVoiceStopped) {
  SampleBlock block(100, false);
  SampleBlock empty(0, false);
  updateVoice(engine.mixer, engine.player, 0, trigger(block, 0, 0, 0, 100));   // at the end
  EXPECT_EQ(active(0).flags, Voice::stopped);
  updateVoice(engine.mixer, engine.player, 0, trigger(empty, 0, 0, 0, 0));     // no frames
  EXPECT_EQ(active(0).flags, Voice::stopped);
  updateVoice(engine.mixer, engine.player, 0, trigger(block, 0, 0, 0, -1));    // before the data
  EXPECT_EQ(active(0).flags, Voice::stopped);
  updateVoice(engine.mixer, engine.player, 0, trigger(block, kLoopForward, 90, 20, 0));  // loop past the sample's end
  EXPECT_EQ(active(0).flags, Voice::stopped);
  updateVoice(engine.mixer, engine.player, 0, trigger(block, kLoopForward, -4, 20, 0));
  EXPECT_EQ(active(0).flags, Voice::stopped);
  VoiceUpdate none = trigger(block, 0, 0, 0, 0);
  none.sampleData = nullptr;
  updateVoice(engine.mixer, engine.player, 0, none);
  EXPECT_EQ(active(0).flags, Voice::stopped);
  // A 16-bit sample of one byte has no frame.
  SampleBlock sixteen(1, true);
  VoiceUpdate oneByte = trigger(sixteen, kSample16Bit, 0, 0, 0);
  oneByte.sampleLength = 1;
  updateVoice(engine.mixer, engine.player, 0, oneByte);
  EXPECT_EQ(active(0).flags, Voice::stopped);
}

TEST_F(VoiceLayer, PingPongStartsForwardsAndMeaninglessTypeBitsAreDropped) {
  SampleBlock block(100, false);
  updateVoice(engine.mixer, engine.player, 0, trigger(block, kLoopPingPong, 10, 20, 0));
  active(0).flags |= Voice::backwards;
  updateVoice(engine.mixer, engine.player, 0, trigger(block, kLoopPingPong, 10, 20, 0));
  updateVoice(engine.mixer, engine.player, 0, trigger(block, kLoopPingPong | 0x04 | 0x08 | 0x20 | 0x40, 10, 20, 0));
  EXPECT_EQ(active(0).flags, kLoopPingPong);
}

TEST_F(VoiceLayer, ResetStopsAndCentresEveryVoice) {
  SampleBlock block(100, false);
  updateVoice(engine.mixer, engine.player, 5, trigger(block, 0, 0, 0, 0));
  updateVoice(engine.mixer, engine.player, 5, volumePan(256, 3));
  resetVoices(engine.mixer, engine.audioLock);
  for (int c = 0; c < kMaxChannels; ++c) EXPECT_EQ(voiceOfChannel[c], 2 * c);
  for (const Voice& v : voices) {
    EXPECT_EQ(v.flags, Voice::stopped);
    EXPECT_EQ(v.panning, 128);
    EXPECT_EQ(v.volume, 0);
    EXPECT_EQ(v.sampleData, nullptr);
    EXPECT_EQ(v.targetLeft, 0);
    EXPECT_EQ(v.currentRight, 0);
    EXPECT_EQ(v.step, 0u);
    EXPECT_EQ(v.position, 0);
  }
}

TEST_F(VoiceLayer, CountsPlayingAudibleActiveVoicesOfTheSongsChannels) {
  SampleBlock block(100, false);
  updateVoice(engine.mixer, engine.player, 0, trigger(block, 0, 0, 0, 0));
  updateVoice(engine.mixer, engine.player, 0, volumePan(256, 128));
  updateVoice(engine.mixer, engine.player, 1, trigger(block, 0, 0, 0, 0));  // volume 0
  updateVoice(engine.mixer, engine.player, 2, trigger(block, 0, 0, 0, 0));
  updateVoice(engine.mixer, engine.player, 2, volumePan(100, 128));
  EXPECT_EQ(countActiveVoices(engine.mixer, song.channelCount), 2);
  updateVoice(engine.mixer, engine.player, 2, trigger(block, 0, 0, 0, 0));  // the fading spare is not counted
  EXPECT_EQ(countActiveVoices(engine.mixer, song.channelCount), 1);
  updateVoice(engine.mixer, engine.player, 7, trigger(block, 0, 0, 0, 0));
  updateVoice(engine.mixer, engine.player, 7, volumePan(100, 128));
  updateVoice(engine.mixer, engine.player, 8, trigger(block, 0, 0, 0, 0));
  updateVoice(engine.mixer, engine.player, 8, volumePan(100, 128));
  EXPECT_EQ(countActiveVoices(engine.mixer, song.channelCount), 2);  // channel 8 lies beyond the song's 8 channels
  song.channelCount = 0;
  EXPECT_EQ(countActiveVoices(engine.mixer, song.channelCount), 0);
}

}  // namespace
}  // namespace zv::test
