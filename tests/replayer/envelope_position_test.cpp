// Lxx, set envelope position: on channel records, then in a song.
#include <gtest/gtest.h>

#include <initializer_list>

#include "effect_song.h"
#include "replayer/effects.h"

namespace zv::test {
namespace {

constexpr uint8_t L = 21;

class EnvelopePosition : public ::testing::Test {
 protected:
  void SetUp() override {
    ins = Instrument{};
    chan = Channel{};
    chan.instrument = &ins;
    volume({{0, 64}, {10, 0}, {20, 32}});
    ins.volumeEnvelopeFlags = kEnvelopeOn;
  }
  void volume(std::initializer_list<EnvelopePoint> points) {
    int i = 0;
    for (const EnvelopePoint& p : points) ins.volumeEnvelopePoints[i++] = p;
    ins.volumeEnvelopePointCount = static_cast<uint8_t>(points.size());
  }
  void panning(std::initializer_list<EnvelopePoint> points) {
    int i = 0;
    for (const EnvelopePoint& p : points) ins.panningEnvelopePoints[i++] = p;
    ins.panningEnvelopePointCount = static_cast<uint8_t>(points.size());
  }
  void preset() {
    chan.volumeEnvelopeTick = 999;
    chan.volumeEnvelopePoint = 7;
    chan.volumeEnvelopeValue = 1234;
    chan.volumeEnvelopeDelta = 77;
    chan.panningEnvelopeTick = 888;
    chan.panningEnvelopePoint = 6;
    chan.panningEnvelopeValue = 4321;
    chan.panningEnvelopeDelta = 55;
  }
  Instrument ins;
  Channel chan;
};

TEST_F(EnvelopePosition, BetweenTwoPointsPlacesTheEnvelopeOneTickBefore) {
  setEnvelopePosition(chan, 5);
  EXPECT_EQ(chan.volumeEnvelopeTick, 4);
  EXPECT_EQ(chan.volumeEnvelopePoint, 1);
  EXPECT_EQ(chan.volumeEnvelopeDelta, -1638);
  EXPECT_EQ(chan.volumeEnvelopeValue, 16384 - 4 * 1638);
}

TEST_F(EnvelopePosition, AtAPointsTickOnlyThePointIndexIsSet) {
  preset();
  setEnvelopePosition(chan, 10);
  EXPECT_EQ(chan.volumeEnvelopeTick, 9);
  EXPECT_EQ(chan.volumeEnvelopePoint, 1);
  EXPECT_EQ(chan.volumeEnvelopeValue, 1234);
  EXPECT_EQ(chan.volumeEnvelopeDelta, 77);
  setEnvelopePosition(chan, 0);
  EXPECT_EQ(chan.volumeEnvelopeTick, 65535);
  EXPECT_EQ(chan.volumeEnvelopePoint, 0);
  EXPECT_EQ(chan.volumeEnvelopeValue, 1234);
}

TEST_F(EnvelopePosition, PastTheLastPointHoldsItsValue) {
  setEnvelopePosition(chan, 48);
  EXPECT_EQ(chan.volumeEnvelopeTick, 47);
  EXPECT_EQ(chan.volumeEnvelopePoint, 2);
  EXPECT_EQ(chan.volumeEnvelopeDelta, 0);
  EXPECT_EQ(chan.volumeEnvelopeValue, 32 * 256);
}

TEST_F(EnvelopePosition, FewerThanTwoPointsStandAtPointZero) {
  volume({{3, 40}});
  preset();
  setEnvelopePosition(chan, 9);
  EXPECT_EQ(chan.volumeEnvelopePoint, 0);
  EXPECT_EQ(chan.volumeEnvelopeDelta, 0);
  EXPECT_EQ(chan.volumeEnvelopeValue, 40 * 256);
  ins.volumeEnvelopePointCount = 0;
  preset();
  setEnvelopePosition(chan, 9);
  EXPECT_EQ(chan.volumeEnvelopePoint, 0);
  EXPECT_EQ(chan.volumeEnvelopeValue, 40 * 256);
}

// A second point not after the first: the branch that would read the point
// before point 0 stands at point 0 with its value instead.
TEST_F(EnvelopePosition, MalformedEnvelopeAtTheFirstPointStandsAtPointZero) {
  volume({{5, 64}, {5, 0}, {20, 32}});
  preset();
  setEnvelopePosition(chan, 2);
  EXPECT_EQ(chan.volumeEnvelopeTick, 1);
  EXPECT_EQ(chan.volumeEnvelopePoint, 0);
  EXPECT_EQ(chan.volumeEnvelopeDelta, 0);
  EXPECT_EQ(chan.volumeEnvelopeValue, 64 * 256);
}

TEST_F(EnvelopePosition, ACountAboveTwelveCountsAsTwelve) {
  for (int i = 0; i < kEnvelopePoints; i++) {
    ins.volumeEnvelopePoints[i] = {static_cast<uint16_t>(10 * i), static_cast<uint16_t>(i)};
  }
  // What lies behind the 12 points must never be read as a 13th.
  for (EnvelopePoint& p : ins.panningEnvelopePoints) p = {65535, 60};
  ins.volumeEnvelopePointCount = 200;
  setEnvelopePosition(chan, 255);
  EXPECT_EQ(chan.volumeEnvelopePoint, 11);
  EXPECT_EQ(chan.volumeEnvelopeDelta, 0);
  EXPECT_EQ(chan.volumeEnvelopeValue, 11 * 256);
  setEnvelopePosition(chan, 55);
  EXPECT_EQ(chan.volumeEnvelopePoint, 6);
  EXPECT_EQ(chan.volumeEnvelopeDelta, 25);
  EXPECT_EQ(chan.volumeEnvelopeValue, 5 * 256 + 4 * 25);
}

TEST_F(EnvelopePosition, PointTicksCompareAsSigned) {
  volume({{0, 64}, {40000, 0}});  // -25536: never after t
  setEnvelopePosition(chan, 5);
  EXPECT_EQ(chan.volumeEnvelopePoint, 1);
  EXPECT_EQ(chan.volumeEnvelopeValue, 0);
  EXPECT_EQ(chan.volumeEnvelopeDelta, 0);
}

TEST_F(EnvelopePosition, ThePanningEnvelopeFollowsTheVolumeEnvelopesSustainBit) {
  panning({{0, 32}, {20, 0}});
  ins.panningEnvelopeFlags = 0;  // its own flags are not consulted

  ins.volumeEnvelopeFlags = kEnvelopeOn;
  preset();
  setEnvelopePosition(chan, 5);
  EXPECT_EQ(chan.volumeEnvelopePoint, 1);
  EXPECT_EQ(chan.panningEnvelopeTick, 888);
  EXPECT_EQ(chan.panningEnvelopePoint, 6);

  ins.volumeEnvelopeFlags = kEnvelopeOn | kEnvelopeSustain;
  preset();
  setEnvelopePosition(chan, 5);
  EXPECT_EQ(chan.volumeEnvelopePoint, 1);
  EXPECT_EQ(chan.panningEnvelopeTick, 4);
  EXPECT_EQ(chan.panningEnvelopePoint, 1);
  EXPECT_EQ(chan.panningEnvelopeDelta, -409);
  EXPECT_EQ(chan.panningEnvelopeValue, 8192 - 4 * 409);

  ins.volumeEnvelopeFlags = kEnvelopeSustain;  // volume envelope off
  preset();
  setEnvelopePosition(chan, 5);
  EXPECT_EQ(chan.volumeEnvelopeTick, 999);
  EXPECT_EQ(chan.volumeEnvelopePoint, 7);
  EXPECT_EQ(chan.panningEnvelopeTick, 4);
  EXPECT_EQ(chan.panningEnvelopePoint, 1);
}

class EnvelopePositionSong : public EffectSong {
 protected:
  void SetUp() override {
    EffectSong::SetUp();
    XmEnvelopePlan envelope;
    envelope.points = {{0, 64}, {10, 0}, {20, 32}};
    envelope.flags = kEnvelopeOn;
    plan.instruments[0].volumeEnvelope = envelope;
  }
};

TEST_F(EnvelopePositionSong, TheEnvelopeStepOfTheSameTickLandsOnThePosition) {
  put(0, 0, c(kNote, 1));
  put(1, 0, fx(L, 0x05));
  load();
  ticks(7);
  EXPECT_EQ(ch().volumeEnvelopeTick, 5);
  EXPECT_EQ(ch().volumeEnvelopeValue, 16384 - 5 * 1638);
  EXPECT_EQ(ch().finalVolume, 128);
  tick();
  EXPECT_EQ(ch().finalVolume, 100);
}

TEST_F(EnvelopePositionSong, AtAPointsTickTheEnvelopeMeetsThatPoint) {
  put(0, 0, c(kNote, 1));
  put(1, 0, fx(L, 0x0A));
  load();
  ticks(7);
  EXPECT_EQ(ch().volumeEnvelopeTick, 10);
  EXPECT_EQ(ch().volumeEnvelopePoint, 2);
  EXPECT_EQ(ch().volumeEnvelopeValue, 0);
  EXPECT_EQ(ch().volumeEnvelopeDelta, 32 * 256 / 10);
  EXPECT_EQ(ch().finalVolume, 0);
}

}  // namespace
}  // namespace zv::test
