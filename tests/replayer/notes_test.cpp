#include <gtest/gtest.h>

#include "core/player_settings.h"
#include "code_song.h"
#include "replayer/notes.h"
#include "replayer/pitch.h"

namespace zv::test {
namespace {

class NoteStart : public CodeSong {
 protected:
  void SetUp() override {
    CodeSong::SetUp();
    Instrument& ins = instrument(1);
    ins.sampleMap[48] = 0x23;  // note 49: only the low four bits count -> sample 3
    Sample& s = ins.samples[3];
    s.volume = 40;
    s.panning = 200;
    s.finetune = 16;
    s.relativeNote = 2;
    s.type = kLoopForward | kSample16Bit;
    s.length = 5000;
    s.loopStart = 1000;
    s.loopLength = 2000;
    s.data = sampleBytes;
    ch().instrumentNumber = 1;
    ch().status = 0;
    song.currentChannel = 2;
  }
  Channel& ch() { return channels[2]; }
  int8_t sampleBytes[8] = {};
};

TEST_F(NoteStart, PicksSampleAndPeriodAndSendsTheTrigger) {
  startNote(engine, 49, 0, 0, ch());
  EXPECT_EQ(ch().lastNote, 49);
  EXPECT_EQ(ch().instrument, song.instruments[1]);
  EXPECT_EQ(ch().sampleIndex, 3);
  EXPECT_EQ(ch().relativeNote, 2);
  EXPECT_EQ(ch().sampleVolume, 40);
  EXPECT_EQ(ch().samplePanning, 200);
  EXPECT_EQ(ch().finetune, 16);
  const uint16_t period = linearPeriodTable[16 * 51 + 2];
  EXPECT_EQ(ch().realPeriod, period);
  EXPECT_EQ(ch().outputPeriod, period);
  EXPECT_EQ(ch().status, 0x1F);
  EXPECT_EQ(ch().volume, 0);  // volumes, envelopes and keyOn are the callers' business
  EXPECT_EQ(ch().keyOn, 0);
  ASSERT_EQ(triggers().size(), 1u);
  const RecordedTrigger& t = triggers()[0];
  EXPECT_EQ(t.channel, 2);
  EXPECT_EQ(t.update.flags, VoiceUpdate::triggerSample | VoiceUpdate::cutVoice);
  EXPECT_EQ(t.update.sampleData, sampleBytes);
  EXPECT_EQ(t.update.sampleType, kLoopForward | kSample16Bit);
  EXPECT_EQ(t.update.sampleLength, 5000);
  EXPECT_EQ(t.update.loopStart, 1000);
  EXPECT_EQ(t.update.loopLength, 2000);
  EXPECT_EQ(t.update.startPosition, 0);
}

TEST_F(NoteStart, AmigaModeReadsTheAmigaTable) {
  song.periodTable = amigaPeriodTable;
  song.instruments[1]->samples[3].relativeNote = 0;
  song.instruments[1]->samples[3].finetune = 0;
  startNote(engine, 49, 0, 0, ch());
  EXPECT_EQ(ch().realPeriod, 1712);
}

TEST_F(NoteStart, NoteAbove119WithRelativeNoteOnlySelects) {
  Sample& s = song.instruments[1]->samples[0];
  s.relativeNote = 30;  // note 90 + 30 = 120
  s.volume = 11;
  ch().realPeriod = 1234;
  ch().sampleVolume = 7;
  startNote(engine, 90, 0, 0, ch());
  EXPECT_EQ(ch().lastNote, 90);
  EXPECT_EQ(ch().sampleIndex, 0);
  EXPECT_EQ(ch().relativeNote, 30);
  EXPECT_EQ(ch().instrument, song.instruments[1]);
  EXPECT_EQ(ch().sampleVolume, 7);
  EXPECT_EQ(ch().realPeriod, 1234);
  EXPECT_EQ(ch().status, 0);
  EXPECT_TRUE(triggers().empty());
  // Below 0 wraps above 119 too.
  s.relativeNote = -5;
  startNote(engine, 3, 0, 0, ch());
  EXPECT_TRUE(triggers().empty());
}

TEST_F(NoteStart, NotePlusRelativeNoteZeroKeepsThePeriod) {
  song.instruments[1]->samples[0].relativeNote = -1;
  ch().realPeriod = 1234;
  ch().outputPeriod = 1200;
  startNote(engine, 1, 0, 0, ch());
  EXPECT_EQ(ch().realPeriod, 1234);
  EXPECT_EQ(ch().outputPeriod, 1200);
  EXPECT_EQ(ch().status, 0x1F);
  EXPECT_EQ(triggers().size(), 1u);
}

TEST_F(NoteStart, NoteZeroReplaysTheLastNoteOrDoesNothing) {
  startNote(engine, 0, 0, 0, ch());
  EXPECT_TRUE(triggers().empty());
  EXPECT_EQ(ch().status, 0);
  startNote(engine, 49, 0, 0, ch());
  ch().realPeriod = 1;
  startNote(engine, 0, 0, 0, ch());
  EXPECT_EQ(triggers().size(), 2u);
  EXPECT_EQ(ch().realPeriod, linearPeriodTable[16 * 51 + 2]);
}

TEST_F(NoteStart, KeyOffNoteReleasesInsteadOfStarting) {
  ch().keyOn = 1;
  ch().volume = 30;
  startNote(engine, 97, 0, 0, ch());
  EXPECT_EQ(ch().keyOn, 0);
  EXPECT_EQ(ch().volume, 0);
  EXPECT_EQ(ch().lastNote, 0);
  EXPECT_TRUE(triggers().empty());
}

TEST_F(NoteStart, MissingInstrumentPlaysTheEmptyInstrument) {
  ch().instrumentNumber = 77;
  startNote(engine, 49, 0, 0, ch());
  EXPECT_EQ(ch().instrument, song.instruments[0]);
  EXPECT_EQ(ch().sampleVolume, 0);
  ASSERT_EQ(triggers().size(), 1u);
  EXPECT_EQ(triggers()[0].update.sampleData, nullptr);
}

TEST_F(NoteStart, MutedInstrumentIsCopied) {
  song.instruments[1]->muted = 1;
  startNote(engine, 49, 0, 0, ch());
  EXPECT_EQ(ch().instrumentMuted, 1);
}

TEST_F(NoteStart, SetFinetuneOnTheNotesRow) {
  startNote(engine, 49, 14, 0x50, ch());
  EXPECT_EQ(ch().finetune, -128);
  EXPECT_EQ(ch().realPeriod, linearPeriodTable[16 * 51 - 16]);
  startNote(engine, 49, 14, 0x58, ch());
  EXPECT_EQ(ch().finetune, 0);
  startNote(engine, 49, 14, 0x5F, ch());
  EXPECT_EQ(ch().finetune, 112);
  EXPECT_EQ(ch().realPeriod, linearPeriodTable[16 * 51 + 14]);
  startNote(engine, 49, 14, 0x60, ch());  // another extended command: the sample's own
  EXPECT_EQ(ch().finetune, 16);
}

TEST_F(NoteStart, SampleOffsetUsesItsMemory) {
  ch().effectParam = 0x12;  // the row's parameter, as the tick engine leaves it
  startNote(engine, 49, 9, 0x12, ch());
  EXPECT_EQ(ch().sampleOffsetMemory, 0x12);
  EXPECT_EQ(ch().sampleOffset, 0x1200u);
  EXPECT_EQ(triggers().back().update.startPosition, 0x1200);
  ch().effectParam = 0;
  startNote(engine, 49, 9, 0, ch());
  EXPECT_EQ(triggers().back().update.startPosition, 0x1200);
  startNote(engine, 49, 10, 0x12, ch());  // another effect: from the start
  EXPECT_EQ(ch().sampleOffset, 0u);
  EXPECT_EQ(triggers().back().update.startPosition, 0);
  EXPECT_EQ(ch().sampleOffsetMemory, 0x12);
}

TEST_F(NoteStart, TriggerGoesToTheCurrentChannel) {
  song.currentChannel = 31;
  startNote(engine, 49, 0, 0, ch());
  song.currentChannel = 0;
  startNote(engine, 49, 0, 0, ch());
  ASSERT_EQ(triggers().size(), 2u);
  EXPECT_EQ(triggers()[0].channel, 31);
  EXPECT_EQ(triggers()[1].channel, 0);
}

TEST_F(NoteStart, WithoutAnObserverTheChannelsVoiceStarts) {
  engine.noteStartSink = VoiceUpdateSink{};  // the voices themselves
  player.volumeRamping = false;
  resetVoices(engine.mixer, engine.audioLock);
  int8_t data[64 + 2] = {};
  Sample& s = song.instruments[1]->samples[3];
  s.type = 0;
  s.length = 64;
  s.loopStart = s.loopLength = 0;
  s.data = data;
  startNote(engine, 49, 0, 0, ch());
  const Voice& v = voices[voiceOfChannel[2]];
  EXPECT_EQ(voiceOfChannel[2], 4);
  EXPECT_EQ(v.flags & Voice::stopped, 0);
  EXPECT_EQ(v.sampleData, data);
  EXPECT_EQ(v.end, 64);
  EXPECT_EQ(v.position, 0);
  resetVoices(engine.mixer, engine.audioLock);
  player.volumeRamping = true;
}

// ---------------------------------------------------------------- portamento set-up

TEST_F(NoteStart, PortamentoTargetUsesTheChannelsRelativeNoteAndFinetune) {
  ch().relativeNote = 2;
  ch().finetune = -128;
  ch().realPeriod = 5000;
  preparePortamento(engine, ch(), {49, 0, 0, 3, 0}, false);
  EXPECT_EQ(ch().portaTargetPeriod, linearPeriodTable[16 * 51 - 16]);
  EXPECT_EQ(ch().portaDirection, 2);
  EXPECT_TRUE(triggers().empty());
  EXPECT_EQ(ch().lastNote, 0);
}

TEST_F(NoteStart, PortamentoDirectionComparesWithTheRealPeriod) {
  const uint16_t target = linearPeriodTable[16 * 49];
  ch().realPeriod = target;
  preparePortamento(engine, ch(), {49, 0, 0, 3, 0}, false);
  EXPECT_EQ(ch().portaDirection, 0);
  ch().realPeriod = target - 1;
  preparePortamento(engine, ch(), {49, 0, 0, 3, 0}, false);
  EXPECT_EQ(ch().portaDirection, 1);
  ch().realPeriod = target + 1;
  preparePortamento(engine, ch(), {49, 0, 0, 3, 0}, false);
  EXPECT_EQ(ch().portaDirection, 2);
}

TEST_F(NoteStart, PortamentoTargetOutsideTheTableIsIgnored) {
  ch().portaTargetPeriod = 999;
  ch().portaDirection = 2;
  ch().relativeNote = 30;  // 96 + 30: index 2016
  preparePortamento(engine, ch(), {96, 0, 0, 3, 0}, false);
  EXPECT_EQ(ch().portaTargetPeriod, 999);
  ch().relativeNote = -5;  // negative index wraps past 1935
  preparePortamento(engine, ch(), {2, 0, 0, 3, 0}, false);
  EXPECT_EQ(ch().portaTargetPeriod, 999);
  EXPECT_EQ(ch().portaDirection, 2);
  // Note 120 at the top of the range reads the table's tail.
  song.periodTable = amigaPeriodTable;
  ch().relativeNote = 24;
  ch().finetune = 127;
  preparePortamento(engine, ch(), {96, 0, 0, 3, 0}, false);
  EXPECT_EQ(ch().portaTargetPeriod, amigaPeriodTable[1935]);
}

TEST_F(NoteStart, PortamentoWithInstrumentRestoresAndRetriggers) {
  ch().instrument = song.instruments[1];
  ch().sampleVolume = 33;
  ch().samplePanning = 99;
  ch().volume = 1;
  preparePortamento(engine, ch(), {49, 1, 0, 3, 0}, true);
  EXPECT_EQ(ch().volume, 33);
  EXPECT_EQ(ch().panning, 99);
  EXPECT_EQ(ch().keyOn, 1);
  EXPECT_EQ(ch().fadeoutVolume, 32768);
  // A key-off note releases; the instrument restores volumes but does not retrigger.
  ch().volume = 1;
  preparePortamento(engine, ch(), {97, 1, 0, 3, 0}, true);
  EXPECT_EQ(ch().keyOn, 0);
  EXPECT_EQ(ch().volume, 33);
}

// ---------------------------------------------------------------- key-off, restore, retrigger

TEST_F(NoteStart, KeyOffWithoutVolumeEnvelopeSilencesAtOnce) {
  ch().instrument = song.instruments[1];
  ch().keyOn = 1;
  ch().volume = ch().outputVolume = 50;
  keyOff(ch());
  EXPECT_EQ(ch().keyOn, 0);
  EXPECT_EQ(ch().volume, 0);
  EXPECT_EQ(ch().outputVolume, 0);
  EXPECT_EQ(ch().status, Channel::volumeChanged | Channel::quickRamp);
}

TEST_F(NoteStart, KeyOffWithVolumeEnvelopeStepsBackToItsPoint) {
  Instrument& ins = *song.instruments[1];
  ins.volumeEnvelopeFlags = kEnvelopeOn | kEnvelopeSustain;
  ins.volumeEnvelopePoints[2] = {20, 40};
  ch().instrument = &ins;
  ch().keyOn = 1;
  ch().volume = 50;
  ch().volumeEnvelopePoint = 2;
  ch().volumeEnvelopeTick = 35;  // held at the sustain point since tick 20
  keyOff(ch());
  EXPECT_EQ(ch().volumeEnvelopeTick, 19);
  EXPECT_EQ(ch().keyOn, 0);
  EXPECT_EQ(ch().volume, 50);
  EXPECT_EQ(ch().status, 0);
  // Not yet at the point's tick: unchanged.
  ch().volumeEnvelopeTick = 12;
  keyOff(ch());
  EXPECT_EQ(ch().volumeEnvelopeTick, 12);
  // A point index from a bad file stays outside the points.
  ch().volumeEnvelopePoint = 200;
  ch().volumeEnvelopeTick = 500;
  keyOff(ch());
  EXPECT_EQ(ch().volumeEnvelopeTick, 500);
}

TEST_F(NoteStart, KeyOffLeavesThePanningEnvelopeTick) {
  Instrument& ins = *song.instruments[1];
  ins.volumeEnvelopeFlags = kEnvelopeOn;
  ins.panningEnvelopeFlags = kEnvelopeOn | kEnvelopeSustain;
  ins.panningEnvelopePoints[1] = {10, 50};
  ch().instrument = &ins;
  ch().panningEnvelopePoint = 1;
  ch().panningEnvelopeTick = 30;
  keyOff(ch());
  EXPECT_EQ(ch().panningEnvelopeTick, 30);
}

TEST_F(NoteStart, RestoreSampleVolumes) {
  ch().sampleVolume = 21;
  ch().samplePanning = 220;
  restoreSampleVolumes(ch());
  EXPECT_EQ(ch().volume, 21);
  EXPECT_EQ(ch().outputVolume, 21);
  EXPECT_EQ(ch().panning, 220);
  EXPECT_EQ(ch().status, Channel::volumeChanged | Channel::panningChanged | Channel::quickRamp);
}

TEST_F(NoteStart, RetriggerRestartsEnvelopesFadeAndPhases) {
  Instrument& ins = *song.instruments[1];
  ins.volumeEnvelopeFlags = kEnvelopeOn;
  ins.fadeout = 300;
  ch().instrument = &ins;
  ch().volumeEnvelopeTick = 50;
  ch().volumeEnvelopePoint = 4;
  ch().panningEnvelopeTick = 60;  // panning envelope off: kept
  ch().panningEnvelopePoint = 5;
  ch().vibratoPosition = 10;
  ch().tremoloPosition = 20;
  ch().retrigCounter = 3;
  ch().tremorState = 0x85;
  retriggerInstrument(ch());
  EXPECT_EQ(ch().volumeEnvelopeTick, 65535);
  EXPECT_EQ(ch().volumeEnvelopePoint, 0);
  EXPECT_EQ(ch().panningEnvelopeTick, 60);
  EXPECT_EQ(ch().panningEnvelopePoint, 5);
  EXPECT_EQ(ch().vibratoPosition, 0);
  EXPECT_EQ(ch().tremoloPosition, 0);
  EXPECT_EQ(ch().retrigCounter, 0);
  EXPECT_EQ(ch().tremorState, 0);
  EXPECT_EQ(ch().keyOn, 1);
  EXPECT_EQ(ch().fadeoutSpeed, 300);
  EXPECT_EQ(ch().fadeoutVolume, 32768);
  // The no-retrigger bits keep the phases.
  ch().waveControl = 0x44;
  ch().vibratoPosition = 10;
  ch().tremoloPosition = 20;
  retriggerInstrument(ch());
  EXPECT_EQ(ch().vibratoPosition, 10);
  EXPECT_EQ(ch().tremoloPosition, 20);
}

TEST_F(NoteStart, RetriggerStartsTheAutoVibratoSweep) {
  Instrument& ins = *song.instruments[1];
  ch().instrument = &ins;
  ch().autoVibratoPosition = 77;
  ch().autoVibratoDepth = 5;
  retriggerInstrument(ch());  // depth 0: the fields keep their values
  EXPECT_EQ(ch().autoVibratoPosition, 77);
  EXPECT_EQ(ch().autoVibratoDepth, 5);
  ins.vibratoDepth = 8;
  ins.vibratoSweep = 3;
  retriggerInstrument(ch());
  EXPECT_EQ(ch().autoVibratoPosition, 0);
  EXPECT_EQ(ch().autoVibratoDepth, 0);
  EXPECT_EQ(ch().autoVibratoSweep, 682);
  ins.vibratoSweep = 0;
  retriggerInstrument(ch());
  EXPECT_EQ(ch().autoVibratoDepth, 8 * 256);
  EXPECT_EQ(ch().autoVibratoSweep, 0);
}

}  // namespace
}  // namespace zv::test
