// The volume column's commands, played in songs, and the result cell that
// the multi-retrigger set-up reads.
#include "replayer/volume_column.h"

#include <gtest/gtest.h>

#include "effect_song.h"

namespace zv::test {
namespace {

class VolumeColumn : public EffectSong {
 protected:
  // Row 0 plays the note on both channels, with `volume` set on channel 0
  // and `panning` on channel 1; row 1 holds `byte` on both. Leaves playback
  // after row 1's tick 0.
  void playAfter(uint8_t volume, uint8_t byte, uint8_t panning = 128) {
    put(0, 0, c(kNote, 1, 0, 0xC, volume));
    put(0, 1, c(kNote, 1, 0, 0x8, panning));
    put(1, 0, c(0, 0, byte));
    put(1, 1, c(0, 0, byte));
    load();
    ticks(7);
  }
};

TEST_F(VolumeColumn, BytesBelow0x10DoNothing) {
  for (uint8_t byte : {0x01, 0x05, 0x0F}) {
    playAfter(20, byte, 77);
    for (int t = 0; t < 6; t++) {
      EXPECT_EQ(ch().volume, 20) << std::hex << int{byte};
      EXPECT_EQ(ch(1).panning, 77);
      EXPECT_EQ(ch().status & (Channel::volumeChanged | Channel::panningChanged), 0);
      tick();
    }
  }
}

TEST_F(VolumeColumn, SetVolumeWithAQuickRamp) {
  for (auto [byte, expected] : {std::pair{0x10, 0}, {0x30, 32}, {0x50, 64}, {0x5F, 64}}) {
    playAfter(20, static_cast<uint8_t>(byte));
    EXPECT_EQ(ch().volume, expected) << std::hex << byte;
    EXPECT_EQ(ch().outputVolume, expected);
    EXPECT_TRUE(ch().status & Channel::volumeChanged);
    EXPECT_TRUE(ch().status & Channel::quickRamp);
    ticks(5);
    EXPECT_EQ(ch().volume, expected);
  }
}

TEST_F(VolumeColumn, SlidesActOnLaterTicksAndClamp) {
  playAfter(10, 0x6F);
  EXPECT_EQ(ch().volume, 10);
  tick();
  EXPECT_EQ(ch().volume, 0);
  EXPECT_EQ(ch().outputVolume, 0);
  EXPECT_TRUE(ch().status & Channel::volumeChanged);
  EXPECT_FALSE(ch().status & Channel::quickRamp);
  ticks(4);
  EXPECT_EQ(ch().volume, 0);

  playAfter(60, 0x7F);
  EXPECT_EQ(ch().volume, 60);
  tick();
  EXPECT_EQ(ch().volume, 64);

  playAfter(20, 0x63);
  ticks(5);
  EXPECT_EQ(ch().volume, 5);
}

TEST_F(VolumeColumn, FineSlidesActOnceOnTickZero) {
  playAfter(20, 0x85);
  EXPECT_EQ(ch().volume, 15);
  ticks(5);
  EXPECT_EQ(ch().volume, 15);
  playAfter(62, 0x95);
  EXPECT_EQ(ch().volume, 64);
  playAfter(3, 0x8F);
  EXPECT_EQ(ch().volume, 0);
}

TEST_F(VolumeColumn, ZeroFineSlidesChangeNothingButStillMarkTheVolume) {
  for (uint8_t byte : {0x80, 0x90}) {
    playAfter(20, byte);
    EXPECT_EQ(ch().volume, 20);
    EXPECT_TRUE(ch().status & Channel::volumeChanged);
  }
}

TEST_F(VolumeColumn, VibratoSpeedAndVibrato) {
  put(0, 0, c(kNote, 1, 0, 0x4, 0x8F));  // vibrato speed 32, depth 15
  put(1, 0, c(0, 0, 0xA0));
  put(2, 0, c(0, 0, 0xA5));
  put(3, 0, c(0, 0, 0xB0));  // keeps depth 15
  put(4, 0, c(0, 0, 0xB4));
  load();
  ticks(7);
  EXPECT_EQ(ch().vibratoSpeed, 32);
  ticks(6);
  EXPECT_EQ(ch().vibratoSpeed, 20);
  ticks(5);
  tick();  // row 3
  const uint8_t position = ch().vibratoPosition;
  EXPECT_EQ(ch().outputPeriod, kPeriod);
  tick();
  EXPECT_EQ(ch().vibratoPosition, static_cast<uint8_t>(position + 20));
  EXPECT_TRUE(ch().status & Channel::periodChanged);
  EXPECT_EQ(ch().vibratoDepth, 15);
  ticks(5);
  tick();
  EXPECT_EQ(ch().vibratoDepth, 4);
}

TEST_F(VolumeColumn, VibratoMovesThePeriodLikeTheEffect) {
  put(0, 0, c(kNote, 1, 0xA8, 0xE, 0x42));  // speed 32, square
  put(1, 0, c(0, 0, 0xBF));
  load();
  ticks(7);
  for (uint16_t expected : {4727, 4727, 4727, 4727, 4489}) {
    tick();
    EXPECT_EQ(ch().outputPeriod, expected);
  }
}

TEST_F(VolumeColumn, SetPanning) {
  playAfter(20, 0xC8, 0);
  EXPECT_EQ(ch(1).panning, 128);
  EXPECT_TRUE(ch(1).status & Channel::panningChanged);
  playAfter(20, 0xCF);
  EXPECT_EQ(ch(1).panning, 240);
  EXPECT_EQ(ch(1).finalPanning, 240);
  playAfter(20, 0xC0);
  EXPECT_EQ(ch(1).panning, 0);
}

TEST_F(VolumeColumn, PanningSlides) {
  playAfter(20, 0xD0, 200);
  EXPECT_EQ(ch(1).panning, 200);
  tick();
  EXPECT_EQ(ch(1).panning, 0);  // slide left by 0 goes hard left
  EXPECT_TRUE(ch(1).status & Channel::panningChanged);

  playAfter(20, 0xD3, 2);
  tick();
  EXPECT_EQ(ch(1).panning, 0);

  playAfter(20, 0xE5, 252);
  tick();
  EXPECT_EQ(ch(1).panning, 255);

  playAfter(20, 0xE0, 100);
  ticks(5);
  EXPECT_EQ(ch(1).panning, 100);
  playAfter(20, 0xD2, 100);
  ticks(5);
  EXPECT_EQ(ch(1).panning, 90);
}

TEST_F(VolumeColumn, TonePortamentoSpeedAndSteps) {
  put(0, 0, c(kNote, 1));
  put(1, 0, fx(0x3, 0x20));           // portaSpeed 128
  put(2, 0, c(kNote - 12, 0, 0xF0));  // keeps 128
  put(3, 0, c(kNote, 0, 0xF1));       // 64
  load();
  ticks(13);
  EXPECT_EQ(ch().portaSpeed, 128);
  EXPECT_EQ(ch().realPeriod, kPeriod);
  for (int i = 1; i <= 5; i++) {
    tick();
    EXPECT_EQ(ch().realPeriod, kPeriod + 128 * i);
    EXPECT_TRUE(ch().status & Channel::periodChanged);
  }
  tick();
  EXPECT_EQ(ch().portaSpeed, 64);
  EXPECT_EQ(ch().portaDirection, 2);
  tick();
  EXPECT_EQ(ch().realPeriod, kPeriod + 640 - 64);
}

TEST_F(VolumeColumn, LaterTicksDuringAPatternDelayRunOnEveryRepeatTick) {
  put(0, 0, c(kNote, 1, 0x61));
  put(0, 1, fx(0xE, 0xE1));
  load();
  ticks(12);
  EXPECT_EQ(ch().volume, 64 - 5 - 6);
}

TEST_F(VolumeColumn, ResultCellHoldsWhatTheCommandSet) {
  Channel& channel = ch();
  channel.volume = 40;
  channel.vibratoSpeed = 8;
  const std::pair<int, int> cases[] = {
      {0x00, 0x00}, {0x0F, 0x0F}, {0x10, 0}, {0x38, 40}, {0x5F, 64}, {0x65, 0x65},
      {0x75, 0x75}, {0x83, 37},   {0x93, 43}, {0xA0, 0},  {0xA5, 20}, {0xB3, 0xB3},
      {0xC8, 128},  {0xD3, 0xD3}, {0xE3, 0xE3}, {0xF3, 0xF3},
  };
  for (auto [byte, expected] : cases) {
    channel.volume = 40;
    uint8_t cell = static_cast<uint8_t>(byte);
    firstTickVolumeColumn[byte >> 4](engine, channel, cell);
    EXPECT_EQ(cell, expected) << std::hex << byte;
  }
  EXPECT_EQ(channel.vibratoSpeed, 20);
}

}  // namespace
}  // namespace zv::test
