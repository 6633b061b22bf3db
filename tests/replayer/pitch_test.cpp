#include <gtest/gtest.h>

#include <cmath>

#include "core/player_settings.h"
#include "code_song.h"
#include "replayer/pitch.h"

namespace zv::test {
namespace {

TEST(PeriodTables, LinearTableFallsBy4PerEntry) {
  EXPECT_EQ(linearPeriodTable[0], 7744);
  EXPECT_EQ(linearPeriodTable[784], 4608);  // note 49
  EXPECT_EQ(linearPeriodTable[1935], 4);
  for (int i = 0; i < kPeriodTableSize; i++) ASSERT_EQ(linearPeriodTable[i], 7744 - 4 * i) << i;
}

TEST(PeriodTables, AmigaTellingEntries) {
  EXPECT_EQ(amigaPeriodTable[0], 29024);
  EXPECT_EQ(amigaPeriodTable[16], 27392);
  EXPECT_EQ(amigaPeriodTable[784], 1712);
  EXPECT_EQ(amigaPeriodTable[1344], 227);
  EXPECT_EQ(amigaPeriodTable[1920], 16);
  // The octave exceptions below the reference octave.
  EXPECT_EQ(amigaPeriodTable[191], 14568);
  EXPECT_EQ(amigaPeriodTable[383], 7284);
  EXPECT_EQ(amigaPeriodTable[575], 3642);
  EXPECT_EQ(amigaPeriodTable[767], 1821);
  EXPECT_EQ(amigaPeriodTable[190], 914 * 16);
  EXPECT_EQ(amigaPeriodTable[768], 1814);
  EXPECT_EQ(amigaPeriodTable[959], 910);
  // Halved and truncated, one more at a listed entry, one less at another.
  EXPECT_EQ(amigaPeriodTable[961], 1807 / 2);
  EXPECT_EQ(amigaPeriodTable[1345], 1807 / 8 + 1);
  EXPECT_EQ(amigaPeriodTable[1159], 1768 / 4 - 1);
  EXPECT_EQ(amigaPeriodTable[1918], 910 / 32 + 1);
}

TEST(PeriodTables, AmigaSemitonesOfTheUpperOctaves) {
  const uint16_t expected[60] = {
      907, 856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453, 428, 404, 381, 360, 339, 320, 302,
      285, 269, 254, 240, 227, 214, 202, 190, 180, 169, 160, 151, 142, 134, 127, 120, 113, 107, 101, 95,
      90,  85,  80,  75,  71,  67,  63,  60,  57,  53,  50,  48,  45,  42,  40,  38,  36,  34,  32,  30};
  for (int n = 60; n < 120; n++) EXPECT_EQ(amigaPeriodTable[16 * n], expected[n - 60]) << "note " << n;
}

TEST(PeriodTables, AmigaTailAndOrder) {
  const uint16_t tail[17] = {22, 16, 8, 0, 16, 32, 24, 16, 8, 0, 16, 32, 24, 16, 8, 0, 0};
  for (int i = 0; i < 17; i++) EXPECT_EQ(amigaPeriodTable[1919 + i], tail[i]) << 1919 + i;
  for (int i = 0; i < 1922; i++) ASSERT_GE(amigaPeriodTable[i], amigaPeriodTable[i + 1]) << i;
  // Octaves below the reference are exact doublings apart from the four exceptions.
  for (int i = 0; i < 768; i++) {
    if (i % 192 == 191) continue;
    ASSERT_EQ(amigaPeriodTable[i], amigaPeriodTable[768 + i % 192] << (4 - i / 192)) << i;
  }
}

TEST(PeriodTables, PitchTableIsTwoToTheIOver768) {
  EXPECT_EQ(pitchTable[0], 0x1000000u);
  EXPECT_EQ(pitchTable[767], 0x1FF89C2u);
  for (int i = 0; i < 768; i++) {
    const long double exact = 16777216.0L * std::exp2(static_cast<long double>(i) / 768.0L);
    ASSERT_EQ(pitchTable[i], static_cast<uint32_t>(std::llround(exact))) << i;
  }
}

TEST(PeriodTables, ArpeggioTickTable) {
  const uint8_t expected[32] = {0, 1,  2,  0,  1,  2,   0,   1,   2,   0,   1,   2,   0,   1,   2,   0,
                                0, 24, 49, 74, 97, 120, 141, 161, 180, 197, 212, 224, 235, 244, 250, 253};
  for (int i = 0; i < 32; i++) EXPECT_EQ(arpeggioTickTable[i], expected[i]) << i;
}

class Pitch : public CodeSong {};

TEST_F(Pitch, FrequencyFactors) {
  player.mixingFrequency = 44100;
  computeFrequencyFactors(engine);
  EXPECT_EQ(player.linearStepFactor, 3181584);
  EXPECT_EQ(player.amigaStepFactor, 21276843);
  player.mixingFrequency = 48000;
  computeFrequencyFactors(engine);
  EXPECT_EQ(player.linearStepFactor, 2923080);
  EXPECT_EQ(player.amigaStepFactor, 19548100);
  player.mixingFrequency = 44100;
  computeFrequencyFactors(engine);
}

TEST_F(Pitch, Note49PlaysAt8363HzInBothModes) {
  song.linearFrequencies = 1;
  EXPECT_EQ(periodToStep(engine, linearPeriodTable[784]), 12428u);
  song.linearFrequencies = 0;
  EXPECT_EQ(periodToStep(engine, amigaPeriodTable[784]), 12428u);
}

TEST_F(Pitch, LinearStepsAcrossTheRange) {
  song.linearFrequencies = 1;
  EXPECT_EQ(periodToStep(engine, 7744), 733u);
  EXPECT_EQ(periodToStep(engine, 4), 792529u);
  EXPECT_EQ(periodToStep(engine, 3840), 24856u);  // an octave up doubles
  EXPECT_EQ(periodToStep(engine, 4608 + 768), 12428u / 2);
  EXPECT_EQ(periodToStep(engine, 0), 0u);
}

TEST_F(Pitch, LinearPeriodsBelowTheLowestNoteGiveSmallNonZeroSteps) {
  song.linearFrequencies = 1;
  // The exponential goes on past 9216: never silent, never higher than at
  // 9216, falling with the period (a slide down fades into a crawl).
  const uint32_t at9216 = periodToStep(engine, 9216);
  EXPECT_EQ(at9216, 3181584u >> 14);
  EXPECT_EQ(periodToStep(engine, 9216 + 768), at9216 / 2);
  EXPECT_EQ(periodToStep(engine, 9217), static_cast<uint32_t>((int64_t{pitchTable[767]} * 3181584) >> 24) >> 15);
  uint32_t previous = at9216;
  for (int period = 9217; period <= 65535; period++) {
    const uint32_t step = periodToStep(engine, static_cast<uint16_t>(period));
    ASSERT_GE(step, 1u) << period;
    ASSERT_LE(step, previous) << period;
    previous = step;
  }
  EXPECT_EQ(periodToStep(engine, 31999), 1u);
}

TEST_F(Pitch, AmigaStepIsAFactorDivision) {
  song.linearFrequencies = 0;
  EXPECT_EQ(periodToStep(engine, 0), 0u);
  EXPECT_EQ(periodToStep(engine, 1), 21276843u);
  EXPECT_EQ(periodToStep(engine, 856), 21276843u / 856);
  EXPECT_EQ(periodToStep(engine, 31999), 21276843u / 31999);
}

TEST_F(Pitch, NearestNoteOnAndBetweenSemitones) {
  song.periodTable = linearPeriodTable;
  // On a semitone: that semitone, then moved up.
  EXPECT_EQ(nearestNotePeriod(engine, 4608, 0, 0), 4608);
  EXPECT_EQ(nearestNotePeriod(engine, 4608, 0, 3), 4608 - 3 * 64);
  EXPECT_EQ(nearestNotePeriod(engine, 4608, 0, 12), 4608 - 768);
  // Between: the nearer in index terms (the probe is half a semitone lower).
  EXPECT_EQ(nearestNotePeriod(engine, 4608 - 31, 0, 0), 4608);
  EXPECT_EQ(nearestNotePeriod(engine, 4608 - 33, 0, 0), 4608 - 64);
  EXPECT_EQ(nearestNotePeriod(engine, 4608 + 31, 0, 0), 4608);
  EXPECT_EQ(nearestNotePeriod(engine, 4608 + 32, 0, 0), 4608 + 64);  // half-way goes down
  EXPECT_EQ(nearestNotePeriod(engine, 4608 + 33, 0, 0), 4608 + 64);
  // Finetune keeps the channel's fraction of a semitone.
  EXPECT_EQ(nearestNotePeriod(engine, 4608 - 32, 64, 0), 4608 - 32);
  EXPECT_EQ(nearestNotePeriod(engine, 4608 + 4 * 16, -128, 0), 4608 + 64);
  // Beyond the ends.
  EXPECT_EQ(nearestNotePeriod(engine, 65535, 0, 0), linearPeriodTable[16]);
  EXPECT_EQ(nearestNotePeriod(engine, 0, 0, 0), linearPeriodTable[1536]);
}

TEST_F(Pitch, NearestNoteIndexFrom1550Reads1551) {
  song.periodTable = linearPeriodTable;
  // lo = 1520 + 16: index 1536 + 16k.
  EXPECT_EQ(nearestNotePeriod(engine, 0, 0, 0), linearPeriodTable[1536]);
  EXPECT_EQ(nearestNotePeriod(engine, 0, -24, 1), linearPeriodTable[1549]);  // 1520 + 13 + 16
  EXPECT_EQ(nearestNotePeriod(engine, 0, -16, 1), linearPeriodTable[1551]);  // 1550 reads 1551
  EXPECT_EQ(nearestNotePeriod(engine, 0, 0, 1), linearPeriodTable[1551]);    // 1552 too
  EXPECT_EQ(nearestNotePeriod(engine, 0, 127, 15), linearPeriodTable[1551]);
  EXPECT_EQ(linearPeriodTable[1551], 1540);
}

TEST_F(Pitch, NearestNoteInAmigaMode) {
  song.periodTable = amigaPeriodTable;
  EXPECT_EQ(nearestNotePeriod(engine, 1712, 0, 0), 1712);
  EXPECT_EQ(nearestNotePeriod(engine, 1712, 0, 12), 856);
  EXPECT_EQ(nearestNotePeriod(engine, 1700, 0, 0), 1712);
  EXPECT_EQ(nearestNotePeriod(engine, 1630, 0, 0), 1616);
}

TEST_F(Pitch, ArpeggioFollowsTheTickCounter) {
  Channel ch{};
  ch.realPeriod = 4608;
  const uint16_t expected[] = {4608, 4608 - 4 * 64, 4608 - 7 * 64};  // choice 0, 1 (x = 4), 2 (y = 7)
  for (int counter = 0; counter < 32; counter++) {
    song.tickCounter = static_cast<uint16_t>(counter);
    ch.status = 0;
    arpeggio(engine, ch, 0x47);
    const uint8_t c = arpeggioTickTable[counter];
    EXPECT_EQ(ch.outputPeriod, expected[c == 0 ? 0 : c == 1 ? 1 : 2]) << counter;
    EXPECT_EQ(ch.status, Channel::periodChanged);
  }
  // Counters above 31 (speeds above 31) play the base note; the low byte counts.
  for (int counter : {32, 100, 255, 65535}) {
    song.tickCounter = static_cast<uint16_t>(counter);
    ch.outputPeriod = 1;
    arpeggio(engine, ch, 0x47);
    EXPECT_EQ(ch.outputPeriod, 4608) << counter;
  }
  song.tickCounter = 256 + 1;
  arpeggio(engine, ch, 0x47);
  EXPECT_EQ(ch.outputPeriod, 4608 - 4 * 64);
}

}  // namespace
}  // namespace zv::test
