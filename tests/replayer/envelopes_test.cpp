#include <gtest/gtest.h>

#include "code_song.h"
#include "loader/song_memory.h"
#include "replayer/envelopes.h"
#include "replayer/notes.h"
#include "replayer/tick_engine.h"
#include "support/module_writer.h"

namespace zv::test {
namespace {

class ChannelOutput : public CodeSong {
 protected:
  void SetUp() override {
    CodeSong::SetUp();
    ins = &instrument(1);
    Channel& c = ch();
    c.instrument = ins;
    c.outputVolume = 64;
    c.panning = 128;
    c.outputPeriod = 4608;
  }
  Channel& ch() { return channels[0]; }
  void setVolumeEnvelope(std::initializer_list<EnvelopePoint> points, uint8_t flags = kEnvelopeOn) {
    int i = 0;
    for (const EnvelopePoint& p : points) ins->volumeEnvelopePoints[i++] = p;
    ins->volumeEnvelopePointCount = static_cast<uint8_t>(i);
    ins->volumeEnvelopeFlags = flags;
  }
  void setPanningEnvelope(std::initializer_list<EnvelopePoint> points, uint8_t flags = kEnvelopeOn) {
    int i = 0;
    for (const EnvelopePoint& p : points) ins->panningEnvelopePoints[i++] = p;
    ins->panningEnvelopePointCount = static_cast<uint8_t>(i);
    ins->panningEnvelopeFlags = flags;
  }
  // finalVolume for envelope value `value` (8.8) at full fade, volume 64, global 64.
  static uint16_t volumeFor(uint32_t value) { return static_cast<uint16_t>((((32768u * 64 * (value >> 8)) >> 18) * 64) >> 7); }
  void tick() { updateChannelOutput(engine, ch()); }
  Instrument* ins = nullptr;
};

TEST_F(ChannelOutput, VolumeWithoutEnvelope) {
  retriggerInstrument(ch());
  ch().status = 0;
  tick();
  EXPECT_EQ(ch().finalVolume, 256);
  EXPECT_EQ(ch().status, 0);  // held key, no envelope: nothing to send
  ch().outputVolume = 1;
  tick();
  EXPECT_EQ(ch().finalVolume, 4);
  ch().outputVolume = 64;
  song.globalVolume = 32;
  tick();
  EXPECT_EQ(ch().finalVolume, 128);
  EXPECT_EQ(ch().finalPanning, 128);
  EXPECT_EQ(ch().finalPeriod, 4608);
}

TEST_F(ChannelOutput, SilentBeforeAnyInstrumentIsGiven) {
  tick();  // fadeoutVolume 0 after set-up
  EXPECT_EQ(ch().finalVolume, 0);
  EXPECT_NE(ch().status & Channel::volumeChanged, 0);
}

TEST_F(ChannelOutput, VolumeEnvelopeFallsToZeroAtTick10) {
  setVolumeEnvelope({{0, 64}, {10, 0}});
  retriggerInstrument(ch());
  tick();
  EXPECT_EQ(ch().volumeEnvelopeTick, 0);
  EXPECT_EQ(ch().volumeEnvelopeValue, 16384);
  EXPECT_EQ(ch().volumeEnvelopeDelta, -1638);
  EXPECT_EQ(ch().volumeEnvelopePoint, 1);
  EXPECT_EQ(ch().finalVolume, 256);
  for (int t = 1; t < 10; t++) {
    ch().status = 0;
    tick();
    EXPECT_EQ(ch().volumeEnvelopeValue, 16384 - 1638 * t) << t;
    EXPECT_EQ(ch().finalVolume, volumeFor(16384 - 1638 * t)) << t;
    EXPECT_EQ(ch().status, Channel::volumeChanged);
  }
  tick();
  EXPECT_EQ(ch().volumeEnvelopeValue, 0);
  EXPECT_EQ(ch().volumeEnvelopeDelta, 0);
  EXPECT_EQ(ch().finalVolume, 0);
  tick();  // the last point holds
  EXPECT_EQ(ch().volumeEnvelopeValue, 0);
}

TEST_F(ChannelOutput, VolumeEnvelopeScalesWithFadeAndGlobalVolume) {
  setVolumeEnvelope({{0, 32}});
  retriggerInstrument(ch());
  song.globalVolume = 64;
  tick();
  EXPECT_EQ(ch().finalVolume, 128);
  song.globalVolume = 16;
  ch().outputVolume = 32;
  tick();
  EXPECT_EQ(ch().finalVolume, 16);
}

TEST_F(ChannelOutput, PanningEnvelopeMovesTowardTheNearerEdge) {
  struct Case {
    uint16_t value;
    uint8_t panning;
    uint8_t expected;
  };
  const Case cases[] = {{32, 128, 128}, {64, 128, 255}, {0, 200, 144}, {0, 128, 0},
                        {64, 200, 255}, {32, 17, 17},   {0, 40, 0},    {48, 40, 60}};
  for (const Case& c : cases) {
    setPanningEnvelope({{0, c.value}});
    ch().panning = c.panning;
    retriggerInstrument(ch());
    ch().status = 0;
    tick();
    EXPECT_EQ(ch().finalPanning, c.expected) << c.value << " " << int{c.panning};
    EXPECT_EQ(ch().status & Channel::panningChanged, Channel::panningChanged);
  }
}

TEST_F(ChannelOutput, FadeOutStartsOnTheKeyOffTick) {
  ins->fadeout = 4096;
  ins->volumeEnvelopeFlags = kEnvelopeOn;  // so that the key-off only releases
  setVolumeEnvelope({{0, 64}});
  retriggerInstrument(ch());
  tick();
  keyOff(ch());
  for (int t = 1; t <= 7; t++) {
    tick();
    EXPECT_EQ(ch().fadeoutVolume, 32768 - 4096 * t) << t;
  }
  tick();
  EXPECT_EQ(ch().fadeoutVolume, 0);
  EXPECT_EQ(ch().finalVolume, 0);
  // A fade larger than what is left stops at 0 and stops fading.
  ch().fadeoutVolume = 1000;
  ch().fadeoutSpeed = 4096;
  tick();
  EXPECT_EQ(ch().fadeoutVolume, 0);
  EXPECT_EQ(ch().fadeoutSpeed, 0);
}

TEST_F(ChannelOutput, FadeOutZeroKeepsTheVolume) {
  setVolumeEnvelope({{0, 64}});
  retriggerInstrument(ch());
  keyOff(ch());
  for (int t = 0; t < 100; t++) tick();
  EXPECT_EQ(ch().finalVolume, 256);
}

TEST_F(ChannelOutput, MutedInstrumentIsSilentAndFreezesOnlyItsVolumeEnvelope) {
  setVolumeEnvelope({{0, 64}, {10, 0}});
  setPanningEnvelope({{0, 64}, {10, 0}});
  ins->vibratoDepth = 4;
  ins->vibratoRate = 64;
  ins->vibratoType = 1;
  retriggerInstrument(ch());
  ch().instrumentMuted = 1;
  tick();
  tick();
  EXPECT_EQ(ch().finalVolume, 0);
  EXPECT_EQ(ch().volumeEnvelopeTick, 65535);
  EXPECT_EQ(ch().volumeEnvelopePoint, 0);
  EXPECT_EQ(ch().panningEnvelopeTick, 1);
  EXPECT_EQ(ch().autoVibratoPosition, 128);
  EXPECT_NE(ch().finalPeriod, 4608);
}

TEST_F(ChannelOutput, SustainHoldsUntilKeyOffThenContinues) {
  setVolumeEnvelope({{0, 64}, {10, 32}, {20, 0}}, kEnvelopeOn | kEnvelopeSustain);
  ins->volumeSustainPoint = 1;
  retriggerInstrument(ch());
  for (int t = 0; t <= 30; t++) tick();
  EXPECT_EQ(ch().volumeEnvelopeTick, 30);  // the tick counts on
  EXPECT_EQ(ch().volumeEnvelopePoint, 1);
  EXPECT_EQ(ch().volumeEnvelopeValue, 32 * 256);
  EXPECT_EQ(ch().volumeEnvelopeDelta, 0);
  keyOff(ch());
  EXPECT_EQ(ch().volumeEnvelopeTick, 9);
  tick();
  EXPECT_EQ(ch().volumeEnvelopeTick, 10);
  EXPECT_EQ(ch().volumeEnvelopePoint, 2);
  EXPECT_EQ(ch().volumeEnvelopeDelta, -32 * 256 / 10);
  for (int t = 11; t <= 20; t++) tick();
  EXPECT_EQ(ch().volumeEnvelopeValue, 0);
  EXPECT_EQ(ch().finalVolume, 0);
}

TEST_F(ChannelOutput, LoopRepeatsWhileHeldWhenSustainIsTheLoopEnd) {
  setVolumeEnvelope({{0, 64}, {5, 32}, {10, 48}}, kEnvelopeOn | kEnvelopeSustain | kEnvelopeLoop);
  ins->volumeSustainPoint = 2;
  ins->volumeLoopStartPoint = 1;
  ins->volumeLoopEndPoint = 2;
  retriggerInstrument(ch());
  for (int t = 0; t <= 10; t++) tick();
  // At the loop end the envelope went back to the loop start.
  EXPECT_EQ(ch().volumeEnvelopeTick, 5);
  EXPECT_EQ(ch().volumeEnvelopeValue, 32 * 256);
  EXPECT_EQ(ch().volumeEnvelopePoint, 2);
  EXPECT_EQ(ch().volumeEnvelopeDelta, 16 * 256 / 5);
  for (int t = 0; t < 5 * 7; t++) tick();
  EXPECT_EQ(ch().volumeEnvelopeTick, 5);
  // Released between the loop points: the loop end is passed, the envelope ends there.
  tick();
  tick();
  keyOff(ch());
  EXPECT_EQ(ch().volumeEnvelopeTick, 7);
  for (int t = 0; t < 3; t++) tick();
  EXPECT_EQ(ch().volumeEnvelopeTick, 10);
  EXPECT_EQ(ch().volumeEnvelopeValue, 48 * 256);
  EXPECT_EQ(ch().volumeEnvelopeDelta, 0);
  for (int t = 0; t < 20; t++) tick();
  EXPECT_EQ(ch().volumeEnvelopeValue, 48 * 256);
}

TEST_F(ChannelOutput, LoopWithoutSustainGoesOnAfterKeyOff) {
  setVolumeEnvelope({{0, 0}, {4, 64}, {8, 0}}, kEnvelopeOn | kEnvelopeLoop);
  ins->volumeLoopStartPoint = 0;
  ins->volumeLoopEndPoint = 2;
  retriggerInstrument(ch());
  keyOff(ch());
  for (int t = 0; t <= 8; t++) tick();
  EXPECT_EQ(ch().volumeEnvelopeTick, 0);
  EXPECT_EQ(ch().volumeEnvelopePoint, 1);
  for (int t = 0; t < 4; t++) tick();
  EXPECT_EQ(ch().volumeEnvelopeValue, 64 * 256);
}

TEST_F(ChannelOutput, ValuesAbove64AreLimited) {
  // A lone point of 100: 25600 is above the limit and at most 32768, so 0.
  setVolumeEnvelope({{0, 100}});
  retriggerInstrument(ch());
  tick();
  EXPECT_EQ(ch().finalVolume, 0);
  EXPECT_EQ(ch().volumeEnvelopeValue, 25600);
  // Above 32768 the output is full scale.
  setVolumeEnvelope({{0, 200}});
  retriggerInstrument(ch());
  tick();
  EXPECT_EQ(ch().finalVolume, 256);
  // On the tick a segment starts, the point's value goes out without the
  // limit; finalVolume still never passes 256.
  setVolumeEnvelope({{0, 100}, {10, 100}});
  retriggerInstrument(ch());
  tick();
  EXPECT_EQ(ch().volumeEnvelopeValue, 25600);
  EXPECT_EQ(ch().finalVolume, 256);
  tick();
  EXPECT_EQ(ch().finalVolume, 0);
  // A panning point far above 64 wraps its offset negative: the panning
  // stays inside 0..255.
  setPanningEnvelope({{0, 200}, {10, 200}});
  retriggerInstrument(ch());
  tick();
  EXPECT_EQ(ch().finalPanning, 0);
}

TEST_F(ChannelOutput, TicksThatDoNotIncreaseGiveNoSlope) {
  setVolumeEnvelope({{0, 64}, {0, 10}, {5, 0}});
  retriggerInstrument(ch());
  tick();
  EXPECT_EQ(ch().volumeEnvelopePoint, 1);
  EXPECT_EQ(ch().volumeEnvelopeDelta, 0);
  EXPECT_EQ(ch().volumeEnvelopeValue, 64 * 256);
}

// Counts and indices are the file's: nothing outside the 12 points is read.
TEST_F(ChannelOutput, BadCountsAndIndicesStayInsideThePoints) {
  for (int i = 0; i < kEnvelopePoints; i++) {
    ins->volumeEnvelopePoints[i] = {static_cast<uint16_t>(i * 3), static_cast<uint16_t>(i * 5)};
    ins->panningEnvelopePoints[i] = {static_cast<uint16_t>(i * 2), static_cast<uint16_t>(64 - i * 5)};
  }
  ins->volumeEnvelopePointCount = 255;
  ins->volumeEnvelopeFlags = kEnvelopeOn | kEnvelopeSustain | kEnvelopeLoop;
  ins->volumeSustainPoint = 200;
  ins->volumeLoopStartPoint = 99;
  ins->volumeLoopEndPoint = 11;
  ins->panningEnvelopePointCount = 40;
  ins->panningEnvelopeFlags = kEnvelopeOn | kEnvelopeLoop;
  ins->panningLoopStartPoint = 3;
  ins->panningLoopEndPoint = 250;
  retriggerInstrument(ch());
  for (int t = 0; t < 100; t++) tick();
  // The count stops at 12: the last point holds.
  EXPECT_EQ(ch().volumeEnvelopePoint, 11);
  EXPECT_EQ(ch().volumeEnvelopeValue, 55 * 256);
  EXPECT_EQ(ch().panningEnvelopePoint, 11);
  keyOff(ch());
  for (int t = 0; t < 100; t++) tick();
  // A point index past the 12 points is the end: the value holds.
  ch().volumeEnvelopePoint = 12;
  ch().volumeEnvelopeDelta = 500;
  ch().panningEnvelopePoint = 255;
  const uint16_t value = ch().volumeEnvelopeValue;
  for (int t = 0; t < 100; t++) tick();
  EXPECT_EQ(ch().volumeEnvelopeValue, value);
  EXPECT_EQ(ch().volumeEnvelopeDelta, 0);
  keyOff(ch());
  // A count of 0 reads point 0 only.
  ins->volumeEnvelopePointCount = 0;
  retriggerInstrument(ch());
  tick();
  EXPECT_EQ(ch().volumeEnvelopeValue, 0);
  EXPECT_EQ(ch().volumeEnvelopePoint, 0);
}

// ---------------------------------------------------------------- auto-vibrato

TEST_F(ChannelOutput, AutoVibratoSineTable) {
  EXPECT_EQ(autoVibratoSineTable[0], 0);
  EXPECT_EQ(autoVibratoSineTable[1], -2);
  EXPECT_EQ(autoVibratoSineTable[2], -3);
  EXPECT_EQ(autoVibratoSineTable[3], -5);
  EXPECT_EQ(autoVibratoSineTable[64], -64);
  EXPECT_EQ(autoVibratoSineTable[128], 0);
  EXPECT_EQ(autoVibratoSineTable[192], 64);
  for (int i = 1; i < 128; i++) EXPECT_EQ(autoVibratoSineTable[i], -autoVibratoSineTable[256 - i]) << i;
}

TEST_F(ChannelOutput, WithoutDepthThePeriodPassesThrough) {
  ch().outputPeriod = 1234;
  ch().autoVibratoDepth = 5000;
  ch().status = 0;
  tick();
  EXPECT_EQ(ch().finalPeriod, 1234);
  EXPECT_EQ(ch().status & Channel::periodChanged, 0);
}

TEST_F(ChannelOutput, AutoVibratoWaveforms) {
  ins->vibratoDepth = 64;  // amplitude 16384: the swing is the waveform itself
  ins->vibratoRate = 2;
  retriggerInstrument(ch());
  struct Case {
    uint8_t type;
    uint8_t position;
    int expected;
  };
  const Case cases[] = {
      {0, 64, -64}, {0, 192, 64}, {0, 1, -2},   {1, 0, -64},  {1, 127, -64}, {1, 128, 64},
      {2, 0, 0},    {2, 2, 1},    {2, 126, 63}, {2, 128, -64}, {2, 254, -1},
      {3, 0, 0},    {3, 2, -1},   {3, 128, -64}, {3, 130, 63}, {3, 254, 1},  {7, 64, -64},
  };
  for (const Case& c : cases) {
    ins->vibratoType = c.type;
    ch().autoVibratoPosition = static_cast<uint8_t>(c.position - 2);
    tick();
    EXPECT_EQ(ch().autoVibratoPosition, c.position);
    EXPECT_EQ(ch().finalPeriod, 4608 + c.expected) << int{c.type} << " at " << int{c.position};
  }
}

TEST_F(ChannelOutput, AutoVibratoSquareAtRate128Alternates) {
  ins->vibratoDepth = 64;
  ins->vibratoRate = 128;
  ins->vibratoType = 1;
  retriggerInstrument(ch());
  for (int t = 0; t < 6; t++) {
    ch().status = 0;
    tick();
    EXPECT_EQ(ch().finalPeriod, t % 2 == 0 ? 4608 + 64 : 4608 - 64) << t;
    EXPECT_EQ(ch().status & Channel::periodChanged, Channel::periodChanged);
  }
}

TEST_F(ChannelOutput, AutoVibratoSweepsUpAndFreezesAtKeyOff) {
  ins->vibratoDepth = 8;
  ins->vibratoSweep = 3;
  ins->vibratoRate = 0;
  ins->vibratoType = 1;  // position 0: -64
  retriggerInstrument(ch());
  EXPECT_EQ(ch().autoVibratoSweep, 682);
  tick();
  EXPECT_EQ(ch().autoVibratoDepth, 682);
  EXPECT_EQ(ch().finalPeriod, 4608 + ((-64 * 682) >> 14));
  tick();
  EXPECT_EQ(ch().autoVibratoDepth, 1364);
  EXPECT_EQ(ch().finalPeriod, 4608 + ((-64 * 1364) >> 14));
  keyOff(ch());
  tick();
  EXPECT_EQ(ch().autoVibratoDepth, 1364);  // nothing stored
  EXPECT_EQ(ch().finalPeriod, 4608 + ((-64 * 682) >> 14));
  // Held to the end, the sweep reaches the depth and stops.
  retriggerInstrument(ch());
  for (int t = 0; t < 4; t++) tick();
  EXPECT_EQ(ch().autoVibratoDepth, 2048);
  EXPECT_EQ(ch().autoVibratoSweep, 0);
  EXPECT_EQ(ch().finalPeriod, 4608 - 8);
}

TEST_F(ChannelOutput, AutoVibratoOutOfRangeGivesPeriodZero) {
  ins->vibratoDepth = 64;
  ins->vibratoRate = 0;
  ins->vibratoType = 1;
  retriggerInstrument(ch());
  ch().outputPeriod = 10;  // 10 - 64 wraps
  tick();
  EXPECT_EQ(ch().finalPeriod, 0);
  ch().autoVibratoPosition = 128;  // +64
  ch().outputPeriod = 31936;
  tick();
  EXPECT_EQ(ch().finalPeriod, 0);
  ch().outputPeriod = 31935;
  tick();
  EXPECT_EQ(ch().finalPeriod, 31999);
}

// ---------------------------------------------------------------- a module with bad envelopes

TEST(BadEnvelopeModule, PlaysWithoutReadingOutsideThePoints) {
  XmModulePlan plan;
  plan.channelCount = 2;
  plan.speed = 2;
  XmInstrumentPlan ins = instrumentWith(squareSample(256));
  for (int i = 0; i < 12; i++) {
    ins.volumeEnvelope.points.push_back({static_cast<uint16_t>(i * 2), static_cast<uint16_t>(64 - i)});
    ins.panningEnvelope.points.push_back({static_cast<uint16_t>(i), static_cast<uint16_t>(i * 4)});
  }
  ins.volumeEnvelope.flags = kEnvelopeOn | kEnvelopeSustain | kEnvelopeLoop;
  ins.volumeEnvelope.pointCountOverride = 200;
  ins.volumeEnvelope.sustainPoint = 150;
  ins.volumeEnvelope.loopStartPoint = 77;
  ins.volumeEnvelope.loopEndPoint = 11;
  ins.panningEnvelope.flags = kEnvelopeOn | kEnvelopeLoop;
  ins.panningEnvelope.pointCountOverride = 13;
  ins.panningEnvelope.loopStartPoint = 2;
  ins.panningEnvelope.loopEndPoint = 12;
  ins.vibratoDepth = 15;
  ins.vibratoSweep = 1;
  ins.vibratoRate = 9;
  ins.fadeout = 100;
  plan.instruments.push_back(ins);
  plan.cell(0, 0, 0) = {49, 1, 0, 0, 0};
  plan.cell(0, 0, 1) = {61, 1, 0, 21, 40};  // set envelope position too
  plan.cell(0, 30, 0) = {97, 0, 0, 0, 0};
  plan.cell(0, 40, 1) = {0, 0, 0, 21, 255};
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  song.globalVolume = 64;
  for (int t = 0; t < 64 * 2 * 3; t++) {
    playerTick(engine);
    for (int c = 0; c < 2; c++) {
      ASSERT_LE(channels[c].finalVolume, 256);
      channels[c].status = 0;
    }
  }
  freeSong(engine);
}

}  // namespace
}  // namespace zv::test
