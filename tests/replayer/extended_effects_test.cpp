// The extended command Exy, sub-command by sub-command, played in songs.
#include <gtest/gtest.h>

#include <vector>

#include "effect_song.h"
#include "replayer/effects.h"
#include "replayer/tick_engine.h"

namespace zv::test {
namespace {

constexpr uint8_t E = 0xE;

class ExtendedEffects : public EffectSong {
 protected:
  // At speed 1, the rows read by the next `n` ticks.
  std::vector<int> rowsRead(int n) {
    std::vector<int> rows;
    for (int i = 0; i < n; i++) {
      rows.push_back(song.row);
      tick();
    }
    return rows;
  }
  static std::vector<int> range(int from, int to) {
    std::vector<int> r;
    for (int i = from; i <= to; i++) r.push_back(i);
    return r;
  }
  static std::vector<int> join(std::vector<std::vector<int>> parts) {
    std::vector<int> all;
    for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  }
};

TEST_F(ExtendedEffects, FinePortamentosActOnceOnTickZeroWithTheirMemories) {
  put(0, 0, c(kNote, 1, 0, E, 0x12));
  put(1, 0, fx(E, 0x10));
  put(2, 0, fx(E, 0x23));
  put(3, 0, fx(E, 0x20));
  load();
  tick();
  EXPECT_EQ(ch().realPeriod, kPeriod - 8);
  EXPECT_EQ(ch().outputPeriod, kPeriod - 8);
  EXPECT_TRUE(ch().status & Channel::periodChanged);
  ticks(5);
  EXPECT_EQ(ch().realPeriod, kPeriod - 8);
  ticks(6);
  EXPECT_EQ(ch().realPeriod, kPeriod - 16);
  ticks(6);
  EXPECT_EQ(ch().realPeriod, kPeriod - 4);
  ticks(6);
  EXPECT_EQ(ch().realPeriod, kPeriod + 8);
  EXPECT_EQ(ch().finePortaUpMemory, 2);
  EXPECT_EQ(ch().finePortaDownMemory, 3);
}

TEST_F(ExtendedEffects, VibratoControlWithTheKeepBitKeepsThePhaseOnANewNote) {
  put(0, 0, c(kNote, 1, 0, E, 0x44));
  put(1, 0, fx(0x4, 0x8F));
  put(2, 0, c(kNote, 1));
  load();
  ticks(12);
  EXPECT_EQ(ch().waveControl, 0x04);
  EXPECT_EQ(ch().vibratoPosition, 160);
  tick();
  EXPECT_EQ(noteStarts(), 2);
  EXPECT_EQ(ch().vibratoPosition, 160);

  put(0, 0, c(kNote, 1, 0, E, 0x40));
  load();
  ticks(13);
  EXPECT_EQ(ch().vibratoPosition, 0);
}

TEST_F(ExtendedEffects, TremoloControlSetsTheHighNibble) {
  put(0, 0, c(kNote, 1, 0, E, 0x42));
  put(1, 0, fx(E, 0x72));
  put(2, 0, c(0, 0, 0x10, 0x7, 0x8F));
  load();
  ticks(7);
  EXPECT_EQ(ch().waveControl, 0x22);
  ticks(6);
  for (int expected : {59, 59, 59, 59, 0}) {  // square: 255 x 15 >> 6
    tick();
    EXPECT_EQ(ch().outputVolume, expected);
  }
}

TEST_F(ExtendedEffects, SetFinetuneAppliesToTheRowsNote) {
  put(0, 0, c(kNote, 1, 0, E, 0x50));
  put(1, 0, c(kNote, 0, 0, E, 0x58));
  put(2, 0, c(kNote, 0, 0, E, 0x5F));
  put(3, 0, fx(E, 0x50));  // without a note: nothing
  load();
  tick();
  EXPECT_EQ(ch().finetune, -128);
  EXPECT_EQ(ch().realPeriod, kPeriod + kSemitone);
  ticks(6);
  EXPECT_EQ(ch().finetune, 0);
  EXPECT_EQ(ch().realPeriod, kPeriod);
  ticks(6);
  EXPECT_EQ(ch().finetune, 112);
  EXPECT_EQ(ch().realPeriod, kPeriod - 4 * 14);
  ticks(6);
  EXPECT_EQ(ch().finetune, 112);
  EXPECT_EQ(ch().realPeriod, kPeriod - 4 * 14);
}

TEST_F(ExtendedEffects, PatternLoopE61PlaysItsRowsTwiceAndE62ThreeTimes) {
  plan.speed = 1;
  put(0, 0, c(kNote, 1));
  put(4, 0, fx(E, 0x60));
  put(10, 0, fx(E, 0x61));
  load();
  EXPECT_EQ(rowsRead(21), join({range(0, 10), range(4, 10), range(11, 13)}));
  EXPECT_EQ(ch().patternLoopCount, 0);

  put(10, 0, fx(E, 0x62));
  load();
  EXPECT_EQ(rowsRead(28), join({range(0, 10), range(4, 10), range(4, 10), range(11, 13)}));
}

TEST_F(ExtendedEffects, RetriggerEveryYTicks) {
  put(0, 0, c(kNote, 1, 0, E, 0x93));
  put(1, 0, fx(E, 0x92));
  load();
  ticks(3);
  EXPECT_EQ(noteStarts(), 1);
  tick();  // tick 3
  EXPECT_EQ(noteStarts(), 2);
  ticks(2);
  EXPECT_EQ(noteStarts(), 2);  // tick 6 never comes
  ticks(6);                    // ticks 2 and 4
  EXPECT_EQ(noteStarts(), 4);
  EXPECT_EQ(ch().keyOn, 1);
}

TEST_F(ExtendedEffects, RetriggerRestartsTheInstrument) {
  plan.instruments[0].fadeout = 1000;
  put(0, 0, c(kNote, 1));
  put(1, 0, c(97, 0, 0, 0, 0));  // key off: fade-out runs
  put(2, 0, fx(E, 0x92));
  load();
  ticks(12);
  EXPECT_EQ(ch().keyOn, 0);
  EXPECT_LT(ch().fadeoutVolume, 32768);
  tick();
  tick();
  tick();  // tick 2: startNote, then retriggerInstrument
  EXPECT_EQ(ch().keyOn, 1);
  EXPECT_EQ(ch().fadeoutVolume, 32768);
}

TEST_F(ExtendedEffects, RetriggerAndNoteDelayZeroActOnAPatternDelayRepeat) {
  put(0, 0, c(kNote, 1, 0, E, 0x93));
  put(0, 1, fx(E, 0xE1));
  load();
  ticks(6);
  EXPECT_EQ(noteStarts(), 2);
  tick();  // the repeat's first tick: tick number 0
  EXPECT_EQ(noteStarts(), 3);
  ticks(3);
  EXPECT_EQ(noteStarts(), 4);

  put(0, 0, c(kNote, 1, 0, E, 0xD0));
  load();
  ticks(6);
  EXPECT_EQ(noteStarts(), 1);  // ED0 plays on tick 0 as usual
  tick();
  EXPECT_EQ(noteStarts(), 2);
  ticks(5);
  EXPECT_EQ(noteStarts(), 2);
}

TEST_F(ExtendedEffects, FineVolumeSlidesWithMemoriesAndLimits) {
  put(0, 0, c(kNote, 1, 0x30, E, 0xA4));
  put(1, 0, fx(E, 0xA0));
  put(2, 0, fx(E, 0xB8));
  put(3, 0, fx(E, 0xB0));
  put(4, 0, fx(E, 0xBF));
  put(5, 0, fx(E, 0xBF));
  put(6, 0, fx(0xC, 0x3C));
  put(7, 0, fx(E, 0xAF));
  load();
  tick();
  EXPECT_EQ(ch().volume, 36);
  EXPECT_TRUE(ch().status & Channel::volumeChanged);
  ticks(5);
  EXPECT_EQ(ch().volume, 36);
  const int expected[] = {40, 32, 24, 9, 0, 60, 64};
  for (int e : expected) {
    ticks(6);
    EXPECT_EQ(ch().volume, e);
    EXPECT_EQ(ch().outputVolume, e);
  }
  EXPECT_EQ(ch().fineVolumeUpMemory, 0xF);
  EXPECT_EQ(ch().fineVolumeDownMemory, 0xF);
}

TEST_F(ExtendedEffects, NoteCutOnItsTick) {
  put(0, 0, c(kNote, 1, 0, E, 0xC3));
  put(1, 0, c(kNote, 1, 0, E, 0xC0));
  put(2, 0, c(kNote, 1, 0, E, 0xC6));
  load();
  ticks(3);
  EXPECT_EQ(ch().volume, 64);
  tick();
  EXPECT_EQ(ch().volume, 0);
  EXPECT_EQ(ch().outputVolume, 0);
  EXPECT_TRUE(ch().status & Channel::quickRamp);
  ticks(2);
  tick();
  EXPECT_EQ(ch().volume, 0);  // EC0: on tick 0
  ticks(5);
  ticks(6);
  EXPECT_EQ(ch().volume, 64);  // tick 6 never comes
}

TEST_F(ExtendedEffects, NoteCutZeroCutsAgainOnAPatternDelayRepeat) {
  put(0, 0, c(kNote, 1, 0x74, E, 0xC0));
  put(0, 1, fx(E, 0xE1));
  load();
  tick();
  EXPECT_EQ(ch().volume, 0);
  ticks(5);
  EXPECT_EQ(ch().volume, 20);
  tick();  // the slide runs first, then the cut
  EXPECT_EQ(ch().volume, 0);
  tick();
  EXPECT_EQ(ch().volume, 4);
}

TEST_F(ExtendedEffects, NoteDelayStartsTheRowOnItsTickWithTheSetVolumeByte) {
  put(0, 0, c(kNote, 1, 0x20, E, 0xD3));
  load();
  for (int i = 0; i < 3; i++) {
    tick();
    EXPECT_EQ(noteStarts(), 0);
    EXPECT_EQ(ch().volume, 0);
  }
  tick();
  EXPECT_EQ(noteStarts(), 1);
  EXPECT_EQ(ch().realPeriod, kPeriod);
  EXPECT_EQ(ch().volume, 16);  // restored to 64, then the byte
  EXPECT_EQ(ch().outputVolume, 16);
  EXPECT_EQ(ch().keyOn, 1);
}

TEST_F(ExtendedEffects, NoteDelayReappliesASetPanningByteButNoOtherCommand) {
  put(0, 0, c(kNote, 1, 0xC4, E, 0xD2));
  put(1, 0, c(kNote, 1, 0x84, E, 0xD2));  // fine volume down: not applied
  load();
  tick();
  EXPECT_EQ(ch().panning, 128);
  ticks(2);
  EXPECT_EQ(ch().panning, 64);
  EXPECT_TRUE(ch().status & Channel::panningChanged);
  ticks(3);
  ticks(3);
  EXPECT_EQ(ch().volume, 64);
}

TEST_F(ExtendedEffects, NoteDelayPastTheRowNeverPlays) {
  plan.speed = 3;
  put(0, 0, c(kNote, 1, 0, E, 0xD3));
  put(2, 0, c(kNote + 1, 1, 0, E, 0xD0));
  load();
  ticks(6);
  EXPECT_EQ(noteStarts(), 0);
  tick();
  EXPECT_EQ(noteStarts(), 1);  // ED0 plays normally on tick 0
  EXPECT_EQ(ch().lastNote, kNote + 1);
}

// A delayed key-off is a delayed note like any other: the key-off is followed
// by the instrument retrigger, which holds the key again and restarts the
// envelopes and the fade. Only an instrument without a volume envelope stays
// silent, because the key-off itself set its volume to 0.
TEST_F(ExtendedEffects, DelayedKeyOffIsFollowedByTheInstrumentRetrigger) {
  XmEnvelopePlan envelope;
  envelope.points = {{0, 64}, {10, 32}, {20, 64}};
  envelope.sustainPoint = 1;
  envelope.flags = kEnvelopeOn | kEnvelopeSustain;
  plan.instruments[0].volumeEnvelope = envelope;
  plan.instruments[0].fadeout = 512;
  put(0, 0, c(kNote, 1));
  put(1, 0, c(97, 0, 0, E, 0xD2));
  load();
  ticks(8);
  EXPECT_EQ(ch().keyOn, 1);
  EXPECT_EQ(ch().volumeEnvelopeTick, 7);
  tick();  // tick 2 of row 1: key-off, then the retrigger
  EXPECT_EQ(noteStarts(), 1);
  EXPECT_EQ(ch().keyOn, 1);
  EXPECT_EQ(ch().fadeoutVolume, 32768);
  EXPECT_EQ(ch().volumeEnvelopeTick, 0);
  EXPECT_EQ(ch().volumeEnvelopePoint, 1);
  EXPECT_EQ(ch().volumeEnvelopeValue, 64 * 256);
  EXPECT_EQ(ch().volumeEnvelopeDelta, (32 - 64) * 256 / 10);
  EXPECT_EQ(ch().finalVolume, 256);
  tick();
  EXPECT_EQ(ch().fadeoutVolume, 32768);
  EXPECT_EQ(ch().volumeEnvelopeValue, 64 * 256 + (32 - 64) * 256 / 10);

  plan.instruments[0].volumeEnvelope = XmEnvelopePlan{};
  load();
  ticks(9);
  EXPECT_EQ(ch().keyOn, 1);
  EXPECT_EQ(ch().fadeoutVolume, 32768);
  EXPECT_EQ(ch().volume, 0);
  EXPECT_EQ(ch().finalVolume, 0);
  EXPECT_TRUE(ch().status & Channel::quickRamp);
}

TEST_F(ExtendedEffects, PatternDelayRepeatsTheRowRunningOnlyLaterTickCommands) {
  put(0, 0, c(kNote, 1, 0, E, 0xE2));
  put(0, 1, c(0, 0, 0x71, E, 0xA4));  // fine slide +4 once, slide +1 on every later tick
  put(1, 0, c(kNote + 1, 1));
  load();
  tick();
  EXPECT_EQ(ch(1).volume, 4);
  ticks(16);
  EXPECT_EQ(song.row, 0);
  EXPECT_EQ(noteStarts(), 1);
  tick();
  EXPECT_EQ(song.row, 1);
  EXPECT_EQ(ch(1).volume, 4 + 5 + 6 + 6);
  tick();
  EXPECT_EQ(ch().lastNote, kNote + 1);
}

TEST_F(ExtendedEffects, PatternDelayIsIgnoredWhileADelayRuns) {
  song.patternDelay = 0;
  song.patternDelayCounter = 2;
  firstTickEffects[E](engine, ch(), 0xE5);
  EXPECT_EQ(song.patternDelay, 0);
  song.patternDelayCounter = 0;
  firstTickEffects[E](engine, ch(), 0xE5);
  EXPECT_EQ(song.patternDelay, 6);
  song.patternDelay = 0;
}

}  // namespace
}  // namespace zv::test
