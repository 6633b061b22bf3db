#include <gtest/gtest.h>

#include "core/player_settings.h"
#include "code_song.h"
#include "replayer/tick_engine.h"

namespace zv::test {
namespace {

class TickEngine : public CodeSong {
 protected:
  // Channel 0 of every row of `pattern` plays a note that names the row
  // (row + 1 + base), so each row read shows as a trigger and as lastNote.
  void numberRows(int pattern, int rows, int base = 0) {
    for (int r = 0; r < rows; r++) cell(pattern, r, 0, rows).note = static_cast<uint8_t>(r % 90 + 1 + base);
  }
  // Ticks until the next row read (a new trigger); returns the ticks taken.
  int ticksToNextRead(int limit = 1000) {
    const size_t before = triggers().size();
    for (int n = 1; n <= limit; n++) {
      playerTick(engine);
      if (triggers().size() != before) return n;
    }
    return -1;
  }
  uint8_t lastReadNote() const { return channels[0].lastNote; }
};

TEST_F(TickEngine, RowIsReadOnItsFirstTickAndSteppedOnItsLast) {
  numberRows(0, 64);
  start();
  playerTick(engine);
  EXPECT_EQ(triggers().size(), 1u);
  EXPECT_EQ(lastReadNote(), 1);
  EXPECT_EQ(song.tickCounter, 6);
  ticks(4);
  EXPECT_EQ(song.row, 0);
  EXPECT_EQ(song.tickCounter, 2);
  playerTick(engine);
  EXPECT_EQ(song.tickCounter, 1);
  EXPECT_EQ(song.row, 1);
  EXPECT_EQ(triggers().size(), 1u);
  playerTick(engine);
  EXPECT_EQ(lastReadNote(), 2);
}

TEST_F(TickEngine, SpeedOneReadsAndStepsOnEveryTick) {
  numberRows(0, 64);
  song.speed = 1;
  start();
  for (int r = 0; r < 10; r++) {
    playerTick(engine);
    EXPECT_EQ(lastReadNote(), r + 1);
    EXPECT_EQ(song.row, r + 1);
    EXPECT_EQ(song.tickCounter, 1);
  }
  EXPECT_EQ(triggers().size(), 10u);
}

TEST_F(TickEngine, SpeedZeroMakesRowsOf65536Ticks) {
  numberRows(0, 64);
  start();
  playerTick(engine);
  song.speed = 0;  // what F00 does on the row's first tick
  song.tickCounter = 0;
  EXPECT_EQ(ticksToNextRead(70000), 65536);
  EXPECT_EQ(lastReadNote(), 2);
  EXPECT_EQ(song.tickCounter, 0);
  EXPECT_EQ(ticksToNextRead(70000), 65536);
  EXPECT_EQ(lastReadNote(), 3);
}

TEST_F(TickEngine, PatternDelayRepeatsRowWithoutReadingIt) {
  numberRows(0, 64);
  start();
  playerTick(engine);
  song.patternDelay = 3;  // EE2: the row plays three times
  ticks(5);
  EXPECT_EQ(song.row, 0);
  EXPECT_EQ(song.patternDelay, 0);
  EXPECT_EQ(song.patternDelayCounter, 2);
  ticks(12);
  EXPECT_EQ(triggers().size(), 1u);
  EXPECT_EQ(song.row, 1);
  EXPECT_EQ(song.patternDelayCounter, 0);
  playerTick(engine);
  EXPECT_EQ(lastReadNote(), 2);
}

TEST_F(TickEngine, PatternDelayWithBreakSkipsTheRowItEnters) {
  setOrder({0, 1});
  numberRows(0, 64);
  numberRows(1, 64, 40);
  start();
  playerTick(engine);
  song.patternDelay = 2;  // EE1 and D04 on the same row
  song.breakRow = 4;
  song.positionJump = 1;
  ticks(5);
  EXPECT_EQ(song.songPosition, 1);
  EXPECT_EQ(song.row, 4);
  EXPECT_EQ(song.patternDelayCounter, 1);
  // The repetition runs as later ticks; row 4 of the new pattern is never read.
  ticks(6);
  EXPECT_EQ(triggers().size(), 1u);
  EXPECT_EQ(song.row, 5);
  playerTick(engine);
  EXPECT_EQ(lastReadNote(), 46);
}

TEST_F(TickEngine, PatternLoopJumpLeavesBreakRowForTheNextPattern) {
  setOrder({0, 1});
  numberRows(0, 8);
  numberRows(1, 64, 40);
  song.speed = 2;
  start();
  ticks(2 * 5 + 1);
  ASSERT_EQ(song.row, 5);
  song.patternLoopJump = 1;  // E6x on row 5 jumps back to row 2
  song.breakRow = 2;
  playerTick(engine);
  EXPECT_EQ(song.row, 2);
  EXPECT_EQ(song.patternLoopJump, 0);
  EXPECT_EQ(song.breakRow, 2);
  ticks(2 * 6);  // rows 2..7, then the pattern ends on its own
  EXPECT_EQ(song.songPosition, 1);
  EXPECT_EQ(song.row, 2);
  EXPECT_EQ(song.breakRow, 0);
  playerTick(engine);
  EXPECT_EQ(lastReadNote(), 43);
}

TEST_F(TickEngine, PositionJumpToZeroAndPastTheSongLength) {
  setOrder({0, 1, 2}, 1);
  numberRows(0, 64);
  numberRows(1, 64, 20);
  numberRows(2, 64, 40);
  song.speed = 1;
  setPosition(engine, 1, 3);
  playerTick(engine);
  song.songPosition = -1;  // B00
  song.breakRow = 0;
  song.positionJump = 1;
  song.tickCounter = 2;
  playerTick(engine);
  EXPECT_EQ(song.songPosition, 0);
  EXPECT_EQ(song.patternNumber, 0);
  EXPECT_EQ(song.row, 0);
  playerTick(engine);
  song.songPosition = 4;  // B05 in a three-entry song
  song.positionJump = 1;
  song.tickCounter = 2;
  playerTick(engine);
  EXPECT_EQ(song.songPosition, 1);
  EXPECT_EQ(song.patternNumber, 1);
  EXPECT_EQ(song.row, 0);
  EXPECT_EQ(song.positionJump, 0);
}

TEST_F(TickEngine, PatternBreakStartsTheNextPatternAtItsRow) {
  setOrder({0, 1, 2});
  numberRows(0, 64);
  numberRows(1, 64, 20);
  numberRows(2, 64);
  song.speed = 1;
  start();
  song.breakRow = 0;  // D00
  song.positionJump = 1;
  playerTick(engine);
  EXPECT_EQ(song.songPosition, 1);
  EXPECT_EQ(song.row, 0);
  song.breakRow = 63;  // D63
  song.positionJump = 1;
  playerTick(engine);
  EXPECT_EQ(song.songPosition, 2);
  EXPECT_EQ(song.row, 63);
  EXPECT_EQ(song.breakRow, 0);
  playerTick(engine);
  EXPECT_EQ(lastReadNote(), 64);
}

TEST_F(TickEngine, BreakAndLoopOnOneRowMoveOnAtBreakRow) {
  setOrder({0, 1});
  numberRows(0, 64);
  numberRows(1, 64);
  song.speed = 1;
  start();
  song.breakRow = 10;  // the later of the two writers in channel order
  song.patternLoopJump = 1;
  song.positionJump = 1;
  playerTick(engine);
  EXPECT_EQ(song.songPosition, 1);
  EXPECT_EQ(song.row, 10);
  EXPECT_EQ(song.patternLoopJump, 0);
  EXPECT_EQ(song.positionJump, 0);
  EXPECT_EQ(song.breakRow, 0);
}

TEST_F(TickEngine, RowPastAShorterPatternReadsEmptyAndMovesOn) {
  setOrder({0, 1, 2});
  numberRows(0, 64);
  numberRows(1, 32, 30);
  numberRows(2, 64, 60);
  song.speed = 1;
  start();
  song.breakRow = 40;  // D40 into a 32-row pattern
  song.positionJump = 1;
  playerTick(engine);
  EXPECT_EQ(song.songPosition, 1);
  EXPECT_EQ(song.row, 40);
  EXPECT_EQ(song.patternLength, 32);
  playerTick(engine);  // row 40 of 32: empty cells, never outside the block
  EXPECT_EQ(triggers().size(), 1u);
  EXPECT_EQ(channels[0].noteAndInstrument, 0);
  EXPECT_EQ(song.songPosition, 2);
  EXPECT_EQ(song.row, 0);
  playerTick(engine);
  EXPECT_EQ(lastReadNote(), 61);
}

TEST_F(TickEngine, RestartPositionWrap) {
  setOrder({0, 1, 2}, 1);
  for (int p = 0; p < 3; p++) cell(p, 0, 0, 1).note = static_cast<uint8_t>(p + 1);
  song.speed = 1;
  start();
  const int expected[] = {0, 1, 2, 1, 2, 1};
  for (int position : expected) {
    EXPECT_EQ(song.songPosition, position);
    playerTick(engine);
    EXPECT_EQ(lastReadNote(), position + 1);
  }
}

TEST_F(TickEngine, RestartPositionAtSongLengthPlaysTheEntryPastTheSong) {
  setOrder({0, 1}, 2);
  song.orderList[2] = 7;
  for (int p = 0; p < 2; p++) cell(p, 0, 0, 1).note = 1;
  song.speed = 1;
  start();
  ticks(2);
  EXPECT_EQ(song.songPosition, 2);
  EXPECT_EQ(song.patternNumber, 7);
  EXPECT_EQ(song.patternLength, 64);
}

TEST_F(TickEngine, AbsentPatternPlays64EmptyRows) {
  setOrder({5, 0});
  numberRows(0, 64);
  song.speed = 2;
  start();
  EXPECT_EQ(song.patternLength, 64);
  ticks(128);
  EXPECT_TRUE(triggers().empty());
  EXPECT_EQ(song.songPosition, 1);
  EXPECT_EQ(song.row, 0);
  playerTick(engine);
  EXPECT_EQ(lastReadNote(), 1);
}

TEST_F(TickEngine, SetPositionMinusOneKeepsThePositionAndRestartsTheRow) {
  setOrder({0, 1});
  numberRows(0, 64);
  numberRows(1, 64, 20);
  setPosition(engine, 1, 0);
  ticks(6 * 5 + 3);
  ASSERT_EQ(song.row, 5);
  setPosition(engine, -1, 0);
  EXPECT_EQ(song.songPosition, 1);
  EXPECT_EQ(song.row, 0);
  EXPECT_EQ(song.tickCounter, 1);
  playerTick(engine);
  EXPECT_EQ(lastReadNote(), 21);
}

TEST_F(TickEngine, SetPositionLimitsToTheSongAndThePattern) {
  setOrder({0, 1});
  cell(1, 0, 0, 16);
  setPosition(engine, 9, 40);
  EXPECT_EQ(song.songPosition, 1);
  EXPECT_EQ(song.patternNumber, 1);
  EXPECT_EQ(song.patternLength, 16);
  EXPECT_EQ(song.row, 15);
  setPosition(engine, 0, -1);
  EXPECT_EQ(song.songPosition, 0);
  EXPECT_EQ(song.row, 15);
}

TEST_F(TickEngine, PausedTickChangesNothing) {
  numberRows(0, 64);
  start();
  song.paused = 1;
  ticks(20);
  EXPECT_EQ(song.tickCounter, 1);
  EXPECT_TRUE(triggers().empty());
  song.paused = 0;
  playerTick(engine);
  EXPECT_EQ(triggers().size(), 1u);
}

TEST_F(TickEngine, InstrumentByteAbove128CountsAsNone) {
  Instrument& ins = instrument(1);
  ins.samples[0].volume = 40;
  cell(0, 0, 0) = {49, 1, 0, 0, 0};
  cell(0, 1, 0) = {0, 200, 0, 0, 0};
  cell(0, 2, 0) = {50, 129, 0, 0, 0};
  song.speed = 1;
  start();
  playerTick(engine);
  EXPECT_EQ(channels[0].volume, 40);
  channels[0].volume = 10;
  playerTick(engine);
  EXPECT_EQ(channels[0].instrumentNumber, 1);
  EXPECT_EQ(channels[0].noteAndInstrument, 200 * 256);
  EXPECT_EQ(channels[0].volume, 10);  // nothing restored
  playerTick(engine);
  EXPECT_EQ(channels[0].instrumentNumber, 1);
  EXPECT_EQ(channels[0].lastNote, 50);
  EXPECT_EQ(channels[0].volume, 10);
}

TEST_F(TickEngine, EffectNumbersAbove35DoNothing) {
  for (int r = 0; r < 64; r++) {
    cell(0, r, r % 4) = {0, 0, 0, static_cast<uint8_t>(36 + r * 3), static_cast<uint8_t>(r)};
  }
  song.speed = 3;
  start();
  ticks(64 * 3);
  EXPECT_EQ(song.songPosition, 0);
  EXPECT_EQ(song.row, 0);
  EXPECT_EQ(song.speed, 3);
  EXPECT_EQ(song.globalVolume, 64);
}

TEST_F(TickEngine, SetTempoGivesFramesPerTick) {
  player.mixingFrequency = 44100;
  setTempo(engine, 125);
  EXPECT_EQ(song.samplesPerTick, 882);
  setTempo(engine, 0);
  EXPECT_EQ(song.samplesPerTick, 882);
  setTempo(engine, 255);
  EXPECT_EQ(song.samplesPerTick, 432);
  player.mixingFrequency = 48001;
  setTempo(engine, 32);
  EXPECT_EQ(song.samplesPerTick, (2 * 48001 + 24000) / 32);
  player.mixingFrequency = 44100;
}

TEST_F(TickEngine, ResetChannelsSilencesAndCentresAll32) {
  Instrument& other = instrument(3);
  for (Channel& ch : channels) {
    ch.status = 0x1E;
    ch.relativeNote = 5;
    ch.instrumentNumber = 3;
    ch.volume = ch.sampleVolume = ch.outputVolume = 50;
    ch.finalVolume = 200;
    ch.noteAndInstrument = 0x0131;
    ch.vibratoDepth = 7;
    ch.samplePanning = ch.panning = ch.finalPanning = 10;
    ch.instrument = &other;
    ch.keyOn = 1;
    ch.fadeoutVolume = 1234;
    ch.realPeriod = 999;
  }
  resetChannels(engine);
  for (const Channel& ch : channels) {
    EXPECT_EQ(ch.status, Channel::volumeChanged);
    EXPECT_EQ(ch.relativeNote, 0);
    EXPECT_EQ(ch.instrumentNumber, 0);
    EXPECT_EQ(ch.volume + ch.sampleVolume + ch.outputVolume + ch.finalVolume, 0);
    EXPECT_EQ(ch.noteAndInstrument, 0);
    EXPECT_EQ(ch.vibratoDepth, 0);
    EXPECT_EQ(ch.samplePanning, 128);
    EXPECT_EQ(ch.panning, 128);
    EXPECT_EQ(ch.finalPanning, 128);
    EXPECT_EQ(ch.instrument, song.instruments[0]);
    EXPECT_EQ(ch.keyOn, 1);  // the rest keeps its values
    EXPECT_EQ(ch.fadeoutVolume, 1234);
    EXPECT_EQ(ch.realPeriod, 999);
  }
}

TEST_F(TickEngine, RewindGoesToTheFirstOrderEntry) {
  setOrder({3, 1});
  cell(3, 0, 0, 1).note = 1;
  song.songPosition = 1;
  song.row = 30;
  song.tickCounter = 4;
  rewindSong(engine);
  EXPECT_EQ(song.songPosition, 0);
  EXPECT_EQ(song.patternNumber, 3);
  EXPECT_EQ(song.patternLength, 1);
  EXPECT_EQ(song.row, 0);
  EXPECT_EQ(song.tickCounter, 1);
}

TEST_F(TickEngine, SongWithoutChannelsStillAdvances) {
  song.channelCount = 0;
  song.speed = 1;
  start();
  ticks(64);
  EXPECT_EQ(song.row, 0);
  EXPECT_EQ(song.songPosition, 0);
  ticks(3);
  EXPECT_EQ(song.row, 3);
}

// ---------------------------------------------------------------- reading a cell

class RowReading : public TickEngine {
 protected:
  void SetUp() override {
    TickEngine::SetUp();
    Instrument& ins = instrument(1);
    ins.samples[0].volume = 48;
    ins.samples[0].panning = 60;
    song.speed = 2;
  }
  // Plays row `row` of pattern 0 from its first tick.
  void playRow(int row) {
    setPosition(engine, -1, row);
    playerTick(engine);
  }
};

TEST_F(RowReading, PeriodComesBackWhenVibratoOrArpeggioEnds) {
  Channel& ch = channels[0];
  cell(0, 0, 0) = {49, 1, 0, 4, 0x44};
  cell(0, 1, 0) = {0, 0, 0, 6, 0x01};     // vibrato goes on: no restore
  cell(0, 2, 0) = {0, 0, 0, 0x0A, 0x01};  // ends: restore
  cell(0, 3, 0) = {0, 0, 0, 0, 0x37};     // arpeggio
  cell(0, 4, 0) = {0, 0, 0, 0, 0x37};     // after an arpeggio, always restored
  playRow(0);
  ch.outputPeriod = 1000;
  ch.status = 0;
  playRow(1);
  EXPECT_EQ(ch.outputPeriod, 1000);
  EXPECT_EQ(ch.status & Channel::periodChanged, 0);
  playRow(2);
  EXPECT_EQ(ch.outputPeriod, ch.realPeriod);
  EXPECT_NE(ch.status & Channel::periodChanged, 0);
  playRow(3);
  ch.outputPeriod = 1000;
  playRow(4);
  EXPECT_EQ(ch.outputPeriod, ch.realPeriod);
}

TEST_F(RowReading, NoteDelayLeavesTheCellForLater) {
  Channel& ch = channels[0];
  ch.volume = 5;
  cell(0, 0, 0) = {49, 1, 0x30, 14, 0xD3};
  playRow(0);
  EXPECT_TRUE(triggers().empty());
  EXPECT_EQ(ch.volume, 5);
  EXPECT_EQ(ch.keyOn, 0);
  EXPECT_EQ(ch.instrumentNumber, 1);
  EXPECT_EQ(ch.noteAndInstrument, 49 + 256);
  EXPECT_EQ(ch.volumeColumn, 0x30);
  EXPECT_EQ(ch.effect, 14);
  EXPECT_EQ(ch.effectParam, 0xD3);
}

TEST_F(RowReading, ZeroIntervalRetriggerStartsTheRowOrLastNote) {
  Channel& ch = channels[0];
  cell(0, 0, 0) = {49, 1, 0, 0, 0};
  cell(0, 1, 0) = {0, 0, 0xF0, 14, 0x90};  // no note, a tone portamento byte: still starts
  cell(0, 2, 0) = {0, 1, 0, 14, 0x90};
  cell(0, 3, 0) = {97, 1, 0, 14, 0x90};
  playRow(0);
  clearTriggers();
  ch.volume = 3;
  playRow(1);
  EXPECT_EQ(triggers().size(), 1u);
  EXPECT_EQ(ch.lastNote, 49);
  EXPECT_EQ(ch.volume, 3);
  ch.keyOn = 0;
  playRow(2);
  EXPECT_EQ(triggers().size(), 2u);
  EXPECT_EQ(ch.volume, 48);
  EXPECT_EQ(ch.keyOn, 1);
  ch.volume = 3;
  playRow(3);
  EXPECT_EQ(triggers().size(), 2u);
  EXPECT_EQ(ch.keyOn, 0);
  EXPECT_EQ(ch.volume, 48);  // restored after the key-off
}

TEST_F(RowReading, VolumeColumnTonePortamentoMakesTheNoteATarget) {
  Channel& ch = channels[0];
  cell(0, 0, 0) = {49, 1, 0, 0, 0};
  cell(0, 1, 0) = {61, 0, 0xF3, 0, 0};
  cell(0, 2, 0) = {37, 0, 0xF0, 0, 0};
  playRow(0);
  clearTriggers();
  playRow(1);
  EXPECT_TRUE(triggers().empty());
  EXPECT_EQ(ch.portaSpeed, 3 * 64);
  EXPECT_EQ(ch.portaTargetPeriod, 7744 - 4 * 16 * 61);
  EXPECT_EQ(ch.portaDirection, 2);
  playRow(2);
  EXPECT_EQ(ch.portaSpeed, 3 * 64);
  EXPECT_EQ(ch.portaTargetPeriod, 7744 - 4 * 16 * 37);
  EXPECT_EQ(ch.portaDirection, 1);
}

TEST_F(RowReading, TonePortamentoEffectsSetUpInsteadOfStarting) {
  Channel& ch = channels[0];
  cell(0, 0, 0) = {49, 1, 0, 0, 0};
  cell(0, 1, 0) = {50, 0, 0, 3, 0x10};
  cell(0, 2, 0) = {51, 0, 0, 3, 0x00};
  cell(0, 3, 0) = {52, 0, 0, 5, 0x20};
  playRow(0);
  clearTriggers();
  playRow(1);
  EXPECT_EQ(ch.portaSpeed, 64);
  EXPECT_EQ(ch.portaTargetPeriod, 7744 - 64 * 50);
  playRow(2);
  EXPECT_EQ(ch.portaSpeed, 64);
  EXPECT_EQ(ch.portaTargetPeriod, 7744 - 64 * 51);
  playRow(3);
  EXPECT_EQ(ch.portaSpeed, 64);
  EXPECT_EQ(ch.portaTargetPeriod, 7744 - 64 * 52);
  EXPECT_TRUE(triggers().empty());
  EXPECT_EQ(ch.lastNote, 49);
}

TEST_F(RowReading, KeyOffCommandWithZeroParameterReplacesTheNote) {
  Channel& ch = channels[0];
  cell(0, 0, 0) = {49, 1, 0, 0, 0};
  cell(0, 1, 0) = {50, 1, 0, 20, 0};
  cell(0, 2, 0) = {51, 0, 0, 20, 3};
  playRow(0);
  clearTriggers();
  ch.volume = 9;
  playRow(1);
  EXPECT_TRUE(triggers().empty());
  EXPECT_EQ(ch.keyOn, 0);
  EXPECT_EQ(ch.volume, 48);  // the instrument's volumes restored after the key-off
  playRow(2);
  EXPECT_EQ(triggers().size(), 1u);
  EXPECT_EQ(ch.lastNote, 51);
}

TEST_F(RowReading, InstrumentAloneRestoresAndRetriggers) {
  Channel& ch = channels[0];
  cell(0, 0, 0) = {49, 1, 0, 0, 0};
  cell(0, 1, 0) = {0, 1, 0, 0, 0};
  cell(0, 2, 0) = {97, 1, 0, 0, 0};
  cell(0, 3, 0) = {0, 2, 0, 0, 0};
  playRow(0);
  clearTriggers();
  ch.volume = 1;
  ch.panning = 1;
  ch.keyOn = 0;
  playRow(1);
  EXPECT_TRUE(triggers().empty());
  EXPECT_EQ(ch.volume, 48);
  EXPECT_EQ(ch.panning, 60);
  EXPECT_EQ(ch.keyOn, 1);
  ch.volume = 1;
  playRow(2);
  EXPECT_EQ(ch.volume, 48);
  EXPECT_EQ(ch.keyOn, 0);  // key-off, restored but not retriggered
  playRow(3);
  EXPECT_EQ(ch.instrumentNumber, 2);
  EXPECT_EQ(ch.instrument, song.instruments[1]);  // the next note takes the new one
}

TEST_F(RowReading, MultiRetrigSetUpKeepsUnsetHalves) {
  Channel& ch = channels[0];
  cell(0, 0, 0) = {0, 0, 0, 27, 0x53};
  cell(0, 1, 0) = {0, 0, 0, 27, 0x00};
  cell(0, 2, 0) = {0, 0, 0, 27, 0x0F};
  cell(0, 3, 0) = {0, 0, 0, 27, 0x90};
  playRow(0);
  EXPECT_EQ(ch.retrigSpeed, 3);
  EXPECT_EQ(ch.retrigVolumeCommand, 5);
  playRow(1);
  EXPECT_EQ(ch.retrigSpeed, 3);
  EXPECT_EQ(ch.retrigVolumeCommand, 5);
  playRow(2);
  EXPECT_EQ(ch.retrigSpeed, 15);
  EXPECT_EQ(ch.retrigVolumeCommand, 5);
  playRow(3);
  EXPECT_EQ(ch.retrigSpeed, 15);
  EXPECT_EQ(ch.retrigVolumeCommand, 9);
}

TEST_F(RowReading, EveryChannelOfTheRowIsReadInOrder) {
  cell(0, 0, 0) = {49, 1, 0, 0, 0};
  cell(0, 0, 2) = {50, 1, 0, 0, 0};
  cell(0, 0, 3) = {51, 1, 0, 0, 0};
  playRow(0);
  ASSERT_EQ(triggers().size(), 3u);
  EXPECT_EQ(triggers()[0].channel, 0);
  EXPECT_EQ(triggers()[1].channel, 2);
  EXPECT_EQ(triggers()[2].channel, 3);
  EXPECT_EQ(song.currentChannel, 3);
  for (int c : {0, 2, 3}) EXPECT_EQ(channels[c].finalVolume, 4 * 48) << c;  // output updated
}

}  // namespace
}  // namespace zv::test
