// The player's settings and control operations and the output-buffer
// generator: tick pacing, pause, voice hand-over, 16-bit conversion.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "audio/audio_support.h"
#include "audio/player.h"
#include "audio/wav_render.h"
#include "mixer/voices.h"
#include "replayer/channel.h"
#include "replayer/pitch.h"
#include "support/test_engine.h"

namespace zv {
namespace {

using test::engine;
using test::song;
using test::channels;
using test::player;
using test::voices;
using test::renderActive;
using test::resetPlayer;

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override { resetPlayer(); }
  void TearDown() override { resetPlayer(); }
};

// ---------------------------------------------------------------- conversion

TEST(ConvertSample, ShiftRoundsTowardMinusInfinity) {
  EXPECT_EQ(convertSample(-1, 256), -1);
  EXPECT_EQ(convertSample(-256, 256), -1);
  EXPECT_EQ(convertSample(-257, 256), -2);
  EXPECT_EQ(convertSample(255, 256), 0);
  EXPECT_EQ(convertSample(74565, 256), 291);
}

TEST(ConvertSample, MasterVolumeScalesAfterTheShift) {
  EXPECT_EQ(convertSample(74565, 128), 145);
  EXPECT_EQ(convertSample(-1, 128), -1);  // (-1 x 128) >> 8 floors too
  EXPECT_EQ(convertSample(74565, 0), 0);
  EXPECT_EQ(convertSample(-74565, 0), 0);
}

TEST(ConvertSample, SaturatesBeyondSixteenBits) {
  EXPECT_EQ(convertSample(32767 * 256 + 255, 256), 32767);
  EXPECT_EQ(convertSample(32768 * 256, 256), 32767);
  EXPECT_EQ(convertSample(INT32_MAX, 256), 32767);
  EXPECT_EQ(convertSample(-32768 * 256, 256), -32768);
  EXPECT_EQ(convertSample(-32768 * 256 - 1, 256), -32768);
  EXPECT_EQ(convertSample(INT32_MIN, 256), -32768);
  EXPECT_EQ(convertSample(INT32_MAX, 128), 16383);
  EXPECT_EQ(convertSample(INT32_MIN, 128), -16384);
}

TEST_F(PlayerTest, BufferConversionMatchesTheSampleConversion) {
  std::vector<int32_t> sums = {0, -1, 74565, -74565, INT32_MAX, INT32_MIN, 8388607, -8388609, 511, -511};
  std::mt19937 random(5);
  std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX), near(-9000000, 9000000);
  for (int i = 0; i < 1000; ++i) sums.push_back(i % 2 ? any(random) : near(random));
  sums.push_back(3);  // an odd tail behind the groups of eight
  sums.push_back(-3);
  ASSERT_TRUE(allocateMixBuffer(engine, static_cast<int32_t>(sums.size() / 2)));
  for (int32_t volume : {256, 255, 128, 1, 0}) {
    std::copy(sums.begin(), sums.end(), player.mixBuffer);
    std::vector<int16_t> out(sums.size());
    convertMixBuffer(engine, out.data(), static_cast<int32_t>(sums.size() / 2), volume);
    for (size_t i = 0; i < sums.size(); ++i) {
      EXPECT_EQ(out[i], convertSample(sums[i], volume)) << "sum " << sums[i] << " volume " << volume;
    }
  }
}

// ---------------------------------------------------------------- settings

TEST_F(PlayerTest, SetupClampsTheFrequencyAndRestoresDefaults) {
  song.tempo = 90;
  song.speed = 3;
  song.linearFrequencies = 0;
  channels[31].volume = 40;
  setupReplayer(engine, 7999, 2048, false, false);
  EXPECT_EQ(player.mixingFrequency, 8000);
  EXPECT_EQ(player.bufferSize, 2048);
  EXPECT_FALSE(player.interpolation);
  EXPECT_FALSE(player.volumeRamping);
  EXPECT_EQ(song.tempo, 125);
  EXPECT_EQ(song.speed, 6);
  EXPECT_EQ(song.linearFrequencies, 1);
  EXPECT_EQ(song.periodTable, linearPeriodTable);
  EXPECT_EQ(song.tickCounter, 1);
  EXPECT_EQ(channels[31].volume, 0);
  setupReplayer(engine, 8001, 1024, true, true);
  EXPECT_EQ(player.mixingFrequency, 8001);
  setupReplayer(engine, 95999, 1024, true, true);
  EXPECT_EQ(player.mixingFrequency, 95999);
  setupReplayer(engine, 96000, 1024, true, true);
  EXPECT_EQ(player.mixingFrequency, 96000);
  setupReplayer(engine, 200000, 1024, true, true);
  EXPECT_EQ(player.mixingFrequency, 96000);
}

TEST_F(PlayerTest, AmpIsClampedAndKeepsItsFactor) {
  EXPECT_EQ(getAmp(engine), 4);
  EXPECT_EQ(player.ampFactor, 32);
  const int32_t cases[][2] = {{-5, 1}, {0, 1}, {1, 1}, {2, 2}, {10, 10}, {31, 31}, {32, 32}, {99, 32}};
  for (const auto& c : cases) {
    setAmp(engine, c[0]);
    EXPECT_EQ(getAmp(engine), c[1]) << c[0];
    EXPECT_EQ(player.ampFactor, c[1] * 8) << c[0];
  }
}

TEST_F(PlayerTest, MasterVolumeIsClampedAndMarksEveryChannel) {
  const int32_t cases[][2] = {{-5, 0}, {0, 0}, {1, 1}, {128, 128}, {255, 255}, {256, 256}, {300, 256}};
  for (const auto& c : cases) {
    for (Channel& ch : channels) ch.status = Channel::periodChanged;
    setMasterVolume(engine, c[0]);
    EXPECT_EQ(getMasterVolume(engine), c[1]) << c[0];
    for (const Channel& ch : channels) {
      EXPECT_EQ(ch.status, Channel::periodChanged | Channel::volumeChanged);
    }
  }
}

TEST_F(PlayerTest, PauseOperations) {
  EXPECT_EQ(song.paused, 0);
  togglePause(engine);
  EXPECT_EQ(song.paused, 1);
  togglePause(engine);
  EXPECT_EQ(song.paused, 0);
  pausePlayback(engine);
  pausePlayback(engine);
  EXPECT_EQ(song.paused, 1);
  resumePlayback(engine);
  EXPECT_EQ(song.paused, 0);
  pausePlayback(engine);
  stopPlayback(engine);  // always leaves playback unpaused
  EXPECT_EQ(song.paused, 0);
}

TEST_F(PlayerTest, StartFailsWithoutASongOrAtTempoZero) {
  song.songLoaded = 0;
  EXPECT_FALSE(startPlayback(engine));
  EXPECT_EQ(player.mixBuffer, nullptr);
  song.songLoaded = 1;
  song.tempo = 0;
  EXPECT_FALSE(startPlayback(engine));
  EXPECT_EQ(player.mixBuffer, nullptr);
  song.songLoaded = 0;
}

TEST_F(PlayerTest, StopFreesTheMixBufferAndResetsGlobalVolume) {
  ASSERT_TRUE(allocateMixBuffer(engine, 1024));
  song.globalVolume = 20;
  stopPlayback(engine);
  EXPECT_EQ(player.mixBuffer, nullptr);
  EXPECT_EQ(player.mixBufferFrames, 0);
  EXPECT_EQ(song.globalVolume, 64);
  stopPlayback(engine);  // twice is harmless
}

TEST_F(PlayerTest, MixBufferAllocation) {
  EXPECT_FALSE(allocateMixBuffer(engine, 0));
  EXPECT_FALSE(allocateMixBuffer(engine, -3));
  player.samplesLeftInTick = 77;
  ASSERT_TRUE(allocateMixBuffer(engine, 300));
  EXPECT_EQ(player.mixBufferFrames, 300);
  EXPECT_EQ(player.samplesLeftInTick, 0);  // the next output starts with a tick
  ASSERT_TRUE(allocateMixBuffer(engine, 600));     // replaces, no leak (asan)
  EXPECT_EQ(player.mixBufferFrames, 600);
  freeMixBuffer(engine);
  freeMixBuffer(engine);
  EXPECT_EQ(player.mixBuffer, nullptr);
}

TEST(TickFrames, FromFrequencyAndTempo) {
  EXPECT_EQ(tickFrames(44100, 125), 882);
  EXPECT_EQ(tickFrames(48000, 125), 960);
  EXPECT_EQ(tickFrames(44100, 1), 110250);
  EXPECT_EQ(maxTickFrames(44100), 110250);
  EXPECT_EQ(maxTickFrames(96000), 240000);
  EXPECT_EQ(tickFrames(44101, 125), 882);  // (5 x 44101) / 2 = 110252, then / 125
  EXPECT_EQ(tickFrames(44100, 0), 882);    // tempo 0 counts as 125
  // A crafted tempo that would give an empty tick gets one frame.
  EXPECT_EQ(tickFrames(8000, 20001), 1);
  EXPECT_EQ(tickFrames(8000, 65535), 1);
}

// ---------------------------------------------------------------- tick boundary

TEST_F(PlayerTest, FinishVoiceRampsEndsRampsOfTheSongsChannelsOnly) {
  song.channelCount = 2;
  for (Voice& v : voices) {
    v = Voice{};
    v.flags = Voice::fadingOut | Voice::loopKind;
    v.targetLeft = 100;
    v.targetRight = 200;
    v.currentLeft = 5;
    v.currentRight = 6;
    v.rampSamplesLeft = 9;
  }
  voices[1].flags = Voice::sixteenBit | Voice::backwards | 0x02;
  finishVoiceRamps(engine);
  for (int v = 0; v < 4; ++v) {
    EXPECT_EQ(voices[v].currentLeft, 100) << v;
    EXPECT_EQ(voices[v].currentRight, 200) << v;
    EXPECT_EQ(voices[v].rampSamplesLeft, 0) << v;
  }
  EXPECT_EQ(voices[0].flags, Voice::stopped);  // exactly stopped, the other bits gone
  EXPECT_EQ(voices[1].flags, Voice::sixteenBit | Voice::backwards | 0x02);
  EXPECT_EQ(voices[4].flags, Voice::fadingOut | Voice::loopKind);
  EXPECT_EQ(voices[4].currentLeft, 5);
  EXPECT_EQ(voices[4].rampSamplesLeft, 9);
  song.channelCount = 0;
}

// ---------------------------------------------------------------- generator

TEST_F(PlayerTest, ZeroFramesWriteNothing) {
  ASSERT_TRUE(allocateMixBuffer(engine, 1024));
  std::vector<int16_t> out(8, 0x5A5A);
  player.samplesLeftInTick = 5;
  fillOutputBuffer(engine, out.data(), 0);
  fillOutputBuffer(engine, out.data(), -4);
  for (int16_t s : out) EXPECT_EQ(s, 0x5A5A);
  EXPECT_EQ(player.samplesLeftInTick, 5);
}

TEST_F(PlayerTest, SilentWithoutRunningWhilePausedOrRendering) {
  ASSERT_TRUE(allocateMixBuffer(engine, 1024));
  song.speed = 100;
  song.tickCounter = 100;
  player.samplesLeftInTick = 500;
  std::vector<int16_t> out(2048, 0x5A5A);
  pausePlayback(engine);
  fillOutputBuffer(engine, out.data(), 1024);
  for (int16_t s : out) ASSERT_EQ(s, 0);
  EXPECT_EQ(player.samplesLeftInTick, 500);  // resumes at the same frame of the tick
  EXPECT_EQ(song.tickCounter, 100);
  resumePlayback(engine);
  renderActive = true;
  std::fill(out.begin(), out.end(), 0x5A5A);
  fillOutputBuffer(engine, out.data(), 1024);
  renderActive = false;
  for (int16_t s : out) ASSERT_EQ(s, 0);
  EXPECT_EQ(player.samplesLeftInTick, 500);
  EXPECT_EQ(song.tickCounter, 100);
}

TEST_F(PlayerTest, SilentWithoutAMixBuffer) {
  std::vector<int16_t> out(64, 0x5A5A);
  fillOutputBuffer(engine, out.data(), 32);
  for (int16_t s : out) ASSERT_EQ(s, 0);
}

}  // namespace
}  // namespace zv
