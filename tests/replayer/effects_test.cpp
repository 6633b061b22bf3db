// The effect column's commands 0..35, played in songs written as XM files.
#include <gtest/gtest.h>

#include <vector>

#include "effect_song.h"
#include "replayer/effects.h"
#include "replayer/tick_engine.h"

namespace zv::test {
namespace {

// Effect numbers past F.
constexpr uint8_t G = 16, H = 17, K = 20, L = 21, P = 25, R = 27, T = 29, X = 33;

class Effects : public EffectSong {};

// ---------------------------------------------------------------- pitch

TEST_F(Effects, ArpeggioAtSpeedSixPlaysLowHighBaseAndRestoresOnTheNextRow) {
  put(0, 0, c(kNote, 1, 0, 0x0, 0x37));
  load();
  tick();
  EXPECT_EQ(ch().outputPeriod, kPeriod);
  const uint16_t low = kPeriod - 7 * kSemitone, high = kPeriod - 3 * kSemitone;
  for (uint16_t expected : {low, high, kPeriod, low, high}) {
    tick();
    EXPECT_EQ(ch().outputPeriod, expected);
    EXPECT_TRUE(ch().status & Channel::periodChanged);
  }
  EXPECT_EQ(ch().realPeriod, kPeriod);
  tick();  // an empty row after an arpeggio
  EXPECT_EQ(ch().outputPeriod, kPeriod);
  EXPECT_TRUE(ch().status & Channel::periodChanged);
}

TEST_F(Effects, ArpeggioAboveSpeedSixteenUsesTheTableTailAndTheBaseNoteAbove31) {
  const uint16_t low = kPeriod - 7 * kSemitone, high = kPeriod - 3 * kSemitone;
  plan.speed = 20;
  put(0, 0, c(kNote, 1, 0, 0x0, 0x37));
  load();
  tick();
  // Counters 19..13: table entries 74, 49, 24 (low nibble), 0, 0, 2, 1.
  for (uint16_t expected : {low, low, low, kPeriod, kPeriod, low, high}) {
    tick();
    EXPECT_EQ(ch().outputPeriod, expected) << "counter " << song.tickCounter;
  }

  plan.speed = 40;
  load();
  tick();
  for (int counter = 39; counter >= 32; counter--) {
    tick();
    EXPECT_EQ(ch().outputPeriod, kPeriod) << "counter " << counter;
  }
  tick();  // counter 31: entry 253 chooses the low nibble
  EXPECT_EQ(ch().outputPeriod, low);
}

TEST_F(Effects, PortamentoUpStopsAtOneAndItsMemoryKeepsItThere) {
  put(0, 0, c(kNote, 1, 0, 0x1, 0xFF));
  put(1, 0, fx(0x1, 0x00));
  load();
  tick();
  EXPECT_EQ(ch().realPeriod, kPeriod);
  for (uint16_t expected : {3588, 2568, 1548, 528, 1}) {
    tick();
    EXPECT_EQ(ch().realPeriod, expected);
    EXPECT_EQ(ch().outputPeriod, expected);
    EXPECT_TRUE(ch().status & Channel::periodChanged);
  }
  tick();
  EXPECT_FALSE(ch().status & Channel::periodChanged);  // nothing on tick 0
  for (int i = 0; i < 5; i++) {
    tick();
    EXPECT_EQ(ch().realPeriod, 1);
  }
  EXPECT_EQ(ch().portaUpMemory, 0xFF);
}

TEST_F(Effects, PortamentoDownStopsAt31999) {
  plan.speed = 31;
  put(0, 0, c(1, 1, 0, 0x2, 0xFF));  // note 1: period 7680
  load();
  tick();
  ticks(23);
  EXPECT_EQ(ch().realPeriod, 7680 + 23 * 1020);  // 859 below the limit
  for (int i = 0; i < 7; i++) {
    tick();
    EXPECT_EQ(ch().realPeriod, 31999);
    EXPECT_EQ(ch().outputPeriod, 31999);
  }
}

TEST_F(Effects, TonePortamentoRisesToItsTargetThenKeepsWritingIt) {
  put(0, 0, c(kNote, 1));
  put(1, 0, c(kNote - 12, 0, 0, 0x3, 0x40));  // an octave down: 5376, speed 256
  load();
  ticks(6);
  tick();
  EXPECT_EQ(ch().realPeriod, kPeriod);  // the note became the target
  EXPECT_EQ(ch().portaTargetPeriod, 5376);
  EXPECT_EQ(ch().portaSpeed, 256);
  EXPECT_EQ(noteStarts(), 1);
  for (uint16_t expected : {4864, 5120, 5376, 5376, 5376}) {
    tick();
    EXPECT_EQ(ch().realPeriod, expected);
    EXPECT_EQ(ch().outputPeriod, expected);
    EXPECT_TRUE(ch().status & Channel::periodChanged);
    EXPECT_EQ(ch().portaDirection, 1);
  }
}

TEST_F(Effects, TonePortamentoFallingSwitchesToDirectionOneAtTheTarget) {
  put(0, 0, c(kNote, 1));
  put(1, 0, c(kNote + 12, 0, 0, 0x3, 0x40));  // an octave up: 3840
  put(2, 0, fx(0x3, 0x00));
  load();
  ticks(7);
  EXPECT_EQ(ch().portaDirection, 2);
  for (uint16_t expected : {4352, 4096, 3840, 3840, 3840}) {
    tick();
    EXPECT_EQ(ch().realPeriod, expected);
  }
  EXPECT_EQ(ch().portaDirection, 1);
  ticks(6);  // 300 on the next row: speed kept, still at the target
  EXPECT_EQ(ch().realPeriod, 3840);
  EXPECT_TRUE(ch().status & Channel::periodChanged);
}

TEST_F(Effects, GlissandoRoundsTonePortamentoToSemitones) {
  put(0, 0, c(kNote, 1, 0, 0xE, 0x31));
  put(1, 0, c(kNote - 12, 0, 0, 0x3, 0x05));  // speed 20
  load();
  ticks(7);
  EXPECT_EQ(ch().glissando, 1);
  const uint16_t reals[] = {4628, 4648, 4668, 4688, 4708};
  const uint16_t outputs[] = {4608, 4672, 4672, 4672, 4736};
  for (int i = 0; i < 5; i++) {
    tick();
    EXPECT_EQ(ch().realPeriod, reals[i]);
    EXPECT_EQ(ch().outputPeriod, outputs[i]);
  }
}

TEST_F(Effects, SquareVibratoDepth15Moves119AndContinuesIntoTheNextRow) {
  put(0, 0, c(kNote, 1, 0, 0xE, 0x42));  // square waveform
  put(1, 0, fx(0x4, 0x8F));              // speed 32, depth 15
  put(2, 0, fx(0x4, 0x00));
  load();
  ticks(7);
  EXPECT_EQ(ch().outputPeriod, kPeriod);
  for (uint16_t expected : {4727, 4727, 4727, 4727, 4489}) {  // positions 0..128
    tick();
    EXPECT_EQ(ch().outputPeriod, expected);
    EXPECT_EQ(ch().realPeriod, kPeriod);
  }
  EXPECT_EQ(ch().vibratoPosition, 160);
  tick();  // a vibrato row after a vibrato row keeps the offset on tick 0
  EXPECT_EQ(ch().outputPeriod, 4489);
  for (uint16_t expected : {4489, 4489, 4489, 4727, 4727}) {  // 160, 192, 224, 0, 32
    tick();
    EXPECT_EQ(ch().outputPeriod, expected);
  }
  EXPECT_EQ(ch().vibratoSpeed, 32);
  EXPECT_EQ(ch().vibratoDepth, 15);
  tick();  // a row without vibrato restores the period
  EXPECT_EQ(ch().outputPeriod, kPeriod);
  EXPECT_TRUE(ch().status & Channel::periodChanged);
}

TEST_F(Effects, VibratoSineAndRampWaveforms) {
  put(0, 0, c(kNote, 1, 0, 0xE, 0x40));
  put(1, 0, fx(0x4, 0x8F));
  load();
  ticks(7);
  for (uint16_t expected : {4608, 4692, 4727, 4692, 4608}) {  // sine 0, 180, 255, 180, 0
    tick();
    EXPECT_EQ(ch().outputPeriod, expected);
  }

  put(0, 0, c(kNote, 1, 0, 0xE, 0x41));
  load();
  ticks(7);
  for (uint16_t expected : {4608, 4638, 4668, 4698, 4489}) {  // ramp 0, 64, 128, 192, 255
    tick();
    EXPECT_EQ(ch().outputPeriod, expected);
  }
}

TEST_F(Effects, VibratoWithVolumeSlideAfterVibratoKeepsTheOffset) {
  put(0, 0, c(kNote, 1, 0x30, 0xE, 0x42));
  put(1, 0, fx(0x4, 0x8F));
  put(2, 0, fx(0x6, 0x10));
  load();
  ticks(12);
  EXPECT_EQ(ch().outputPeriod, 4489);
  tick();
  EXPECT_EQ(ch().outputPeriod, 4489);  // 6 after 4: no restore
  EXPECT_EQ(ch().volume, 32);
  for (int i = 1; i <= 5; i++) {
    tick();
    EXPECT_EQ(ch().volume, 32 + i);
  }
  EXPECT_EQ(ch().outputPeriod, 4727);  // position 32 again
}

TEST_F(Effects, VolumeSlidesShareOneMemoryAcrossFiveSixAndA) {
  put(0, 0, c(kNote, 1));
  put(1, 0, c(kNote - 12, 0, 0, 0x3, 0x10));  // speed 64
  put(2, 0, fx(0x5, 0x02));
  put(3, 0, fx(0xA, 0x00));
  put(4, 0, fx(0x6, 0x00));
  load();
  ticks(12);
  EXPECT_EQ(ch().realPeriod, 4928);
  tick();
  for (int i = 1; i <= 5; i++) {
    tick();
    EXPECT_EQ(ch().realPeriod, 4928 + 64 * i);
    EXPECT_EQ(ch().volume, 64 - 2 * i);
    EXPECT_EQ(ch().outputVolume, ch().volume);
  }
  EXPECT_EQ(ch().volumeSlideMemory, 0x02);
  ticks(6);
  EXPECT_EQ(ch().volume, 44);
  ticks(6);
  EXPECT_EQ(ch().volume, 34);
}

TEST_F(Effects, ExtraFinePortamentoActsOnTickZeroWithItsMemories) {
  put(0, 0, c(kNote, 1, 0, X, 0x12));
  put(1, 0, fx(X, 0x10));
  put(2, 0, fx(X, 0x23));
  put(3, 0, fx(X, 0x20));
  put(4, 0, fx(X, 0x35));
  load();
  tick();
  EXPECT_EQ(ch().realPeriod, kPeriod - 2);
  EXPECT_TRUE(ch().status & Channel::periodChanged);
  ticks(5);
  EXPECT_EQ(ch().realPeriod, kPeriod - 2);
  ticks(6);
  EXPECT_EQ(ch().realPeriod, kPeriod - 4);
  ticks(6);
  EXPECT_EQ(ch().realPeriod, kPeriod - 1);
  ticks(6);
  EXPECT_EQ(ch().realPeriod, kPeriod + 2);
  EXPECT_EQ(ch().extraFinePortaUpMemory, 2);
  EXPECT_EQ(ch().extraFinePortaDownMemory, 3);
  ticks(6);  // X with another high nibble does nothing
  EXPECT_EQ(ch().realPeriod, kPeriod + 2);
}

// ---------------------------------------------------------------- volume and panning

TEST_F(Effects, TremoloRampTakesItsSignFromTheVibratoPhase) {
  put(0, 0, c(kNote, 1, 0, 0xE, 0x71));           // ramp tremolo
  put(1, 0, c(0, 0, 0x10, 0x7, 0x8F));            // volume 0, speed 32, depth 15
  load();
  ticks(7);
  for (int expected : {0, 15, 30, 45, 0}) {  // never inverted with vibrato phase 0
    tick();
    EXPECT_EQ(ch().outputVolume, expected);
    EXPECT_EQ(ch().volume, 0);
    EXPECT_TRUE(ch().status & Channel::volumeChanged);
  }

  put(1, 0, fx(0x4, 0x8F));  // leaves the vibrato phase at 160
  put(2, 0, c(0, 0, 0x10, 0x7, 0x8F));
  load();
  ticks(13);
  EXPECT_EQ(ch().vibratoPosition, 160);
  for (int expected : {59, 44, 29, 14, 0}) {
    tick();
    EXPECT_EQ(ch().outputVolume, expected);
  }
}

TEST_F(Effects, TremoloSineMovesOutputVolumeAroundTheVolume) {
  put(0, 0, c(kNote, 1, 0x30));
  put(1, 0, fx(0x7, 0x88));
  put(2, 0, fx(0x7, 0x00));
  load();
  ticks(7);
  for (int expected : {32, 54, 63, 54, 32, 32, 10}) {  // the row's tick 0 between
    tick();
    EXPECT_EQ(ch().outputVolume, expected);
    EXPECT_EQ(ch().volume, 32);
  }
}

TEST_F(Effects, SetPanningAndSampleOffset) {
  put(0, 0, c(kNote, 1, 0, 0x8, 0x40));
  put(1, 0, c(kNote, 0, 0, 0x9, 0x02));
  put(2, 0, c(kNote, 0, 0, 0x9, 0x00));
  put(3, 0, c(kNote, 0, 0, 0xC, 0x40));
  load();
  tick();
  EXPECT_EQ(ch().panning, 0x40);
  EXPECT_EQ(ch().finalPanning, 0x40);
  EXPECT_TRUE(ch().status & Channel::panningChanged);
  ticks(6);
  EXPECT_EQ(lastStartPosition(), 512);
  ticks(6);
  EXPECT_EQ(lastStartPosition(), 512);  // memory
  ticks(6);
  EXPECT_EQ(lastStartPosition(), 0);
}

TEST_F(Effects, VolumeSlideA10AfterA05AndA00RepeatsTheLastSlide) {
  put(0, 0, c(kNote, 1, 0, 0xA, 0x05));
  put(1, 0, fx(0xA, 0x10));
  put(2, 0, fx(0xA, 0x00));
  load();
  tick();
  EXPECT_EQ(ch().volume, 64);
  for (int expected : {59, 54, 49, 44, 39}) {
    tick();
    EXPECT_EQ(ch().volume, expected);
    EXPECT_TRUE(ch().status & Channel::volumeChanged);
  }
  tick();
  for (int expected : {40, 41, 42, 43, 44}) {
    tick();
    EXPECT_EQ(ch().volume, expected);
  }
  ticks(6);
  EXPECT_EQ(ch().volume, 49);
}

TEST_F(Effects, VolumeSlideWithBothNibblesSlidesUpByTheHighOne) {
  put(0, 0, c(kNote, 1, 0x30, 0xA, 0x35));
  load();
  ticks(6);
  EXPECT_EQ(ch().volume, 32 + 5 * 3);
  EXPECT_EQ(ch().outputVolume, 32 + 5 * 3);
}

TEST_F(Effects, SetVolumeIsLimitedTo64WithAQuickRamp) {
  put(0, 0, c(kNote, 1, 0, 0xC, 0x20));
  put(1, 0, fx(0xC, 0x50));
  load();
  tick();
  EXPECT_EQ(ch().volume, 32);
  EXPECT_EQ(ch().outputVolume, 32);
  ticks(6);
  EXPECT_EQ(ch().volume, 64);
  EXPECT_TRUE(ch().status & Channel::volumeChanged);
  EXPECT_TRUE(ch().status & Channel::quickRamp);
}

TEST_F(Effects, PanningSlideClampsAndRemembers) {
  put(0, 0, c(kNote, 1, 0, 0x8, 0xFA));
  put(1, 0, fx(P, 0x20));
  put(2, 0, fx(P, 0x03));
  put(3, 0, fx(P, 0x00));
  load();
  ticks(7);
  for (int expected : {252, 254, 255, 255, 255}) {
    tick();
    EXPECT_EQ(ch().panning, expected);
    EXPECT_TRUE(ch().status & Channel::panningChanged);
  }
  ticks(6);
  EXPECT_EQ(ch().panning, 240);
  ticks(6);
  EXPECT_EQ(ch().panning, 225);
  EXPECT_EQ(ch().panningSlideMemory, 0x03);
}

TEST_F(Effects, TremorT21PlaysThreeTicksOnAndTwoOff) {
  plan.speed = 16;
  put(0, 0, c(kNote, 1, 0, T, 0x21));
  load();
  tick();
  std::vector<int> heard;
  for (int i = 0; i < 15; i++) {
    tick();
    heard.push_back(ch().outputVolume);
    EXPECT_TRUE(ch().status & Channel::quickRamp);
  }
  EXPECT_EQ(heard, (std::vector<int>{64, 64, 64, 0, 0, 64, 64, 64, 0, 0, 64, 64, 64, 0, 0}));
  EXPECT_EQ(ch().volume, 64);
  EXPECT_EQ(ch().tremorMemory, 0x21);
}

// ---------------------------------------------------------------- global volume

TEST_F(Effects, SetGlobalVolumeMarksEveryChannelOfTheSong) {
  put(0, 0, c(kNote, 1));
  put(0, 1, c(kNote, 1));
  put(1, 0, fx(G, 0x20));
  put(3, 0, fx(G, 0x50));
  load();
  ticks(6);
  tick();
  EXPECT_EQ(song.globalVolume, 32);
  EXPECT_TRUE(ch(1).status & Channel::volumeChanged);
  EXPECT_EQ(ch(1).finalVolume, 128);
  ticks(5);
  tick();  // row 2: nothing marks channel 1
  EXPECT_FALSE(ch(1).status & Channel::volumeChanged);
  ticks(5);
  tick();
  EXPECT_EQ(song.globalVolume, 64);
  EXPECT_EQ(ch(1).finalVolume, 256);
}

TEST_F(Effects, GlobalVolumeSlideClampsRemembersAndMarksEveryChannel) {
  put(0, 0, c(kNote, 1, 0, H, 0x0F));
  put(0, 1, c(kNote, 1));
  put(1, 0, fx(H, 0x00));
  put(2, 0, fx(H, 0x30));
  load();
  tick();
  for (int expected : {49, 34, 19, 4, 0}) {
    tick();
    EXPECT_EQ(song.globalVolume, expected);
    EXPECT_TRUE(ch(1).status & Channel::volumeChanged);
  }
  ticks(6);
  EXPECT_EQ(song.globalVolume, 0);
  EXPECT_EQ(ch().globalVolumeSlideMemory, 0x0F);
  ticks(6);
  EXPECT_EQ(song.globalVolume, 15);
  ticks(6);  // the song goes on at row 3: no slide
  EXPECT_EQ(song.globalVolume, 15);
}

// ---------------------------------------------------------------- song flow

TEST_F(Effects, PositionJumpGoesToItsOrderAndB00RestartsTheSong) {
  plan.songLength = 2;
  plan.orderList[1] = 1;
  put(0, 0, c(kNote, 1, 0, 0xB, 0x01));
  put(0, 0, fx(0xB, 0x00), 1);
  load();
  tick();
  EXPECT_EQ(song.songPosition, 0);
  EXPECT_EQ(song.positionJump, 1);
  ticks(5);
  EXPECT_EQ(song.songPosition, 1);
  EXPECT_EQ(song.patternNumber, 1);
  EXPECT_EQ(song.row, 0);
  tick();
  EXPECT_EQ(song.songPosition, -1);
  EXPECT_EQ(song.breakRow, 0);
  ticks(5);
  EXPECT_EQ(song.songPosition, 0);
  EXPECT_EQ(song.row, 0);
}

TEST_F(Effects, PatternBreakReadsDecimalDigitsAndSends64AndAboveToRowZero) {
  plan.songLength = 3;
  plan.orderList[1] = 1;
  plan.orderList[2] = 1;
  put(0, 0, c(kNote, 1, 0, 0xD, 0x15));
  put(15, 0, fx(0xD, 0x63), 1);
  put(63, 0, fx(0xD, 0x64), 1);
  load();
  ticks(6);
  EXPECT_EQ(song.songPosition, 1);
  EXPECT_EQ(song.row, 15);
  ticks(6);
  EXPECT_EQ(song.songPosition, 2);
  EXPECT_EQ(song.row, 63);
  ticks(6);
  EXPECT_EQ(song.songPosition, 0);
  EXPECT_EQ(song.row, 0);
}

TEST_F(Effects, SetSpeedAndTempo) {
  put(0, 0, c(kNote, 1, 0, 0xF, 0x03));
  put(1, 0, fx(0xF, 0x80));
  put(2, 0, fx(0xF, 0x00));
  load();
  tick();
  EXPECT_EQ(song.speed, 3);
  EXPECT_EQ(song.tickCounter, 3);
  ticks(2);
  EXPECT_EQ(song.row, 1);
  tick();
  EXPECT_EQ(song.tempo, 0x80);
  EXPECT_EQ(song.samplesPerTick, (2 * 44100 + 44100 / 2) / 0x80);
  EXPECT_EQ(song.speed, 3);
  ticks(2);
  tick();  // F00: speed 0, the row lasts 65536 ticks
  EXPECT_EQ(song.speed, 0);
  EXPECT_EQ(song.tickCounter, 0);
  tick();
  EXPECT_EQ(song.tickCounter, 65535);
  EXPECT_EQ(song.row, 2);
}

// ---------------------------------------------------------------- notes

TEST_F(Effects, KeyOffAtTickThreeOfTheRow) {
  put(0, 0, c(kNote, 1));
  put(1, 0, fx(K, 0x03));
  load();
  ticks(6);
  for (int i = 0; i < 3; i++) {
    tick();
    EXPECT_EQ(ch().keyOn, 1);
  }
  tick();
  EXPECT_EQ(ch().keyOn, 0);
  EXPECT_EQ(ch().volume, 0);  // no volume envelope: silenced at once
  EXPECT_TRUE(ch().status & Channel::quickRamp);
}

TEST_F(Effects, KeyOffWithTickZeroReleasesOnAPatternDelayRepeat) {
  put(0, 0, c(kNote, 1));
  put(1, 0, fx(K, 0x20));  // 0x20 & 31 = 0
  put(1, 1, fx(0xE, 0xE1));
  load();
  ticks(6);
  for (int i = 0; i < 6; i++) {
    tick();
    EXPECT_EQ(ch().keyOn, 1);
  }
  tick();  // the repeat's first tick has tick number 0
  EXPECT_EQ(ch().keyOn, 0);
}

TEST_F(Effects, MultiRetrigCountsToItsIntervalAndChangesTheVolume) {
  put(0, 0, c(kNote, 1));
  put(1, 0, fx(R, 0x63));  // command 6, every third tick
  load();
  ticks(6);
  EXPECT_EQ(noteStarts(), 1);
  tick();
  EXPECT_EQ(ch().retrigCounter, 1);
  tick();
  EXPECT_EQ(noteStarts(), 1);
  tick();
  EXPECT_EQ(noteStarts(), 2);
  EXPECT_EQ(ch().volume, 44);
  EXPECT_EQ(ch().outputVolume, 44);
  ticks(3);
  EXPECT_EQ(noteStarts(), 3);
  EXPECT_EQ(ch().volume, 22 + 5 + 2);
  EXPECT_EQ(ch().retrigSpeed, 3);
  EXPECT_EQ(ch().retrigVolumeCommand, 6);
}

TEST_F(Effects, MultiRetrigWithAnEmptyVolumeColumnRetriggersOnTickZero) {
  put(0, 0, c(kNote, 1, 0x38));  // volume 40
  put(1, 0, fx(R, 0xE1));        // command 14: v + v/2
  put(2, 0, fx(0xC, 0x28));
  put(3, 0, fx(R, 0xF1));  // command 15: 2v
  load();
  ticks(6);
  tick();
  EXPECT_EQ(noteStarts(), 2);
  EXPECT_EQ(ch().volume, 60);
  tick();
  EXPECT_EQ(ch().volume, 64);
  ticks(4);
  ticks(6);
  EXPECT_EQ(ch().volume, 40);
  tick();
  EXPECT_EQ(ch().volume, 64);
}

TEST_F(Effects, MultiRetrigWithASetVolumeByte) {
  put(0, 0, c(kNote, 1));
  put(1, 0, c(0, 0, 0x10, R, 0x91));  // volume byte 0: the step runs on tick 0 too
  put(2, 0, c(0, 0, 0x30, R, 0x91));  // any other set volume: not on tick 0
  load();
  ticks(6);
  tick();
  EXPECT_EQ(noteStarts(), 2);
  EXPECT_EQ(ch().volume, 0);  // 0 + 1, then the byte again
  tick();
  EXPECT_EQ(noteStarts(), 3);
  EXPECT_EQ(ch().volume, 0);
  ticks(4);
  const int before = noteStarts();
  tick();
  EXPECT_EQ(noteStarts(), before);
  EXPECT_EQ(ch().volume, 32);
  tick();
  EXPECT_EQ(noteStarts(), before + 1);
  EXPECT_EQ(ch().volume, 32);  // 33, then the byte again
}

// ---------------------------------------------------------------- no command

std::vector<int> observable(const Channel& c) {
  return {c.status, c.relativeNote, c.finetune, c.sampleIndex, c.instrumentNumber,
          c.sampleOffsetMemory, c.tremorMemory, c.tremorState, c.globalVolumeSlideMemory,
          c.panningSlideMemory, c.instrumentMuted, c.waveControl, c.portaDirection, c.glissando,
          c.vibratoPosition, c.tremoloPosition, c.vibratoSpeed, c.vibratoDepth, c.tremoloSpeed,
          c.tremoloDepth, c.patternLoopRow, c.patternLoopCount, c.volumeSlideMemory,
          c.fineVolumeUpMemory, c.fineVolumeDownMemory, c.finePortaUpMemory,
          c.finePortaDownMemory, c.extraFinePortaUpMemory, c.extraFinePortaDownMemory,
          c.portaUpMemory, c.portaDownMemory, c.retrigSpeed, c.retrigCounter,
          c.retrigVolumeCommand, c.volumeColumn, c.lastNote, c.panningEnvelopePoint,
          c.autoVibratoPosition, c.volumeEnvelopePoint, c.volume, c.sampleVolume, c.outputVolume,
          c.samplePanning, c.panning, c.finalPanning, c.keyOn, c.volumeEnvelopeDelta,
          c.panningEnvelopeDelta, c.outputPeriod, c.realPeriod, c.finalPeriod, c.finalVolume,
          c.noteAndInstrument, c.portaTargetPeriod, c.portaSpeed, c.volumeEnvelopeTick,
          c.volumeEnvelopeValue, c.panningEnvelopeTick, c.panningEnvelopeValue,
          c.autoVibratoDepth, c.autoVibratoSweep, c.fadeoutVolume, c.fadeoutSpeed,
          static_cast<int>(c.sampleOffset), song.speed, song.tempo, song.globalVolume, song.row,
          song.songPosition, song.breakRow, song.positionJump, song.patternLoopJump,
          song.patternDelay};
}

TEST_F(Effects, NumbersWithoutACommandChangeNothingOnAnyTick) {
  auto run = [&](uint8_t effect, uint8_t param) {
    put(0, 0, c(kNote, 1, 0x30, effect, param));
    put(1, 0, fx(effect, param));
    load();
    std::vector<std::vector<int>> states;
    for (int i = 0; i < 14; i++) {
      tick();
      states.push_back(observable(ch()));
    }
    return states;
  };
  const auto baseline = run(0, 0);
  for (uint8_t effect : {18, 19, 22, 23, 24, 26, 28, 30, 31, 32, 34, 35}) {
    EXPECT_EQ(run(effect, 0x5A), baseline) << "effect " << int{effect};
    EXPECT_EQ(run(effect, 0x00), baseline) << "effect " << int{effect};
  }
  for (uint8_t param : {0x00, 0x0A, 0x8A, 0xFA}) {  // E0y, E8y, EFy
    EXPECT_EQ(run(0xE, param), baseline) << "E" << std::hex << int{param};
  }
}

// ---------------------------------------------------------------- timing

TEST_F(Effects, LaterTickEffectsDoNothingAtSpeedOneAndKeepTheirMemories) {
  plan.speed = 1;
  const NoteCell rows[] = {
      c(kNote, 1, 0, 0xA, 0x10), fx(0x1, 0x10), fx(0x2, 0x10), fx(0x4, 0x8F), fx(0x7, 0x8F),
      fx(T, 0x21),  fx(H, 0x01),    fx(P, 0x10),    fx(0x0, 0x37), fx(0x5, 0x02), fx(0x6, 0x02),
      fx(0x3, 0x10), fx(0xE, 0x93), fx(0xE, 0xC1), fx(K, 0x01),
  };
  for (int r = 0; r < 15; r++) put(r, 0, rows[r]);
  load();
  for (int r = 0; r < 15; r++) {
    tick();
    EXPECT_EQ(ch().volume, 64) << "row " << r;
    EXPECT_EQ(ch().outputVolume, 64) << "row " << r;
    EXPECT_EQ(ch().realPeriod, kPeriod) << "row " << r;
    EXPECT_EQ(ch().outputPeriod, kPeriod) << "row " << r;
    EXPECT_EQ(ch().panning, 128) << "row " << r;
    EXPECT_EQ(ch().keyOn, 1) << "row " << r;
    EXPECT_EQ(song.globalVolume, 64) << "row " << r;
  }
  EXPECT_EQ(noteStarts(), 1);
  EXPECT_EQ(ch().volumeSlideMemory, 0);
  EXPECT_EQ(ch().portaUpMemory, 0);
  EXPECT_EQ(ch().portaDownMemory, 0);
  EXPECT_EQ(ch().vibratoDepth, 0);
  EXPECT_EQ(ch().vibratoSpeed, 0);
  EXPECT_EQ(ch().tremoloDepth, 0);
  EXPECT_EQ(ch().tremorMemory, 0);
  EXPECT_EQ(ch().globalVolumeSlideMemory, 0);
  EXPECT_EQ(ch().panningSlideMemory, 0);
}

TEST_F(Effects, TickNumberIsSpeedMinusCounterInEightBits) {
  song.speed = 6;
  song.tickCounter = 5;
  EXPECT_EQ(tickInRow(engine), 1);
  song.tickCounter = 6;
  EXPECT_EQ(tickInRow(engine), 0);
  song.speed = 260;
  song.tickCounter = 4;
  EXPECT_EQ(tickInRow(engine), 0);
  song.tickCounter = 259;
  EXPECT_EQ(tickInRow(engine), 1);
}

}  // namespace
}  // namespace zv::test
