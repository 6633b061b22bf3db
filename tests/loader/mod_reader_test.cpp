// The MOD reader: both forms, signatures, cell conversion, sample headers
// and the checks that keep arbitrary files from loading as 15-sample modules.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "loader/module_loader.h"
#include "loader/song_memory.h"
#include "loader_test_support.h"
#include "replayer/pitch.h"
#include "support/module_writer.h"

namespace zv::test {
namespace {

const NoteCell& cellAt(int pattern, int row, int channel) {
  return song.patterns[pattern][row * song.channelCount + channel];
}

ModSamplePlan rampSample(size_t bytes) {
  ModSamplePlan s;
  s.name = "ramp";
  for (size_t i = 0; i < bytes; ++i) s.pcm.push_back(static_cast<int8_t>(i + 1));
  return s;
}

ModModulePlan oneNoteMod(bool fifteenSamples = false) {
  ModModulePlan plan;
  plan.fifteenSamples = fifteenSamples;
  plan.cell(0, 0, 0) = {428, 1, 0, 0};
  plan.samples.push_back(rampSample(100));
  return plan;
}

TEST(ModSignatures, EachSignatureGivesItsChannelsAnd31Samples) {
  const std::pair<const char*, int> signatures[] = {
      {"2CHN", 2},  {"M.K.", 4},  {"6CHN", 6},  {"8CHN", 8},  {"10CH", 10}, {"12CH", 12}, {"14CH", 14},
      {"16CH", 16}, {"18CH", 18}, {"20CH", 20}, {"22CH", 22}, {"24CH", 24}, {"26CH", 26}, {"28CH", 28},
      {"30CH", 30}, {"32CH", 32}, {"FLT4", 4},  {"M!K!", 4},  {"OCTA", 8}};
  for (auto [signature, channels] : signatures) {
    SCOPED_TRACE(signature);
    ModModulePlan plan = oneNoteMod();
    plan.signature = signature;
    plan.channels = channels;
    plan.patterns.clear();
    plan.cell(0, 63, channels - 1) = {214, 31, 0x0F, 0x06};
    plan.samples.resize(31);
    plan.samples[30] = rampSample(10);
    ASSERT_TRUE(loadBytes(engine, writeMod(plan)));
    EXPECT_EQ(song.channelCount, channels);
    EXPECT_EQ(song.instrumentCount, 31);
    EXPECT_EQ(cellAt(0, 63, channels - 1).note, 61);
    EXPECT_EQ(cellAt(0, 63, channels - 1).instrument, 31);
    ASSERT_NE(song.instruments[31], nullptr);
    EXPECT_EQ(song.instruments[31]->samples[0].data[9], 10);  // data found after the patterns
  }
}

TEST(ModSignatures, UnlistedSignaturesMeanThe15SampleForm) {
  // A 31-sample file with an unlisted signature is read as a 15-sample one;
  // its bytes there make no sense (song length 0), so it fails.
  for (const char* signature : {"4CHN", "3CHN", "m.k.", "33CH", "1CHN"}) {
    ModModulePlan plan = oneNoteMod();
    plan.signature = signature;
    EXPECT_FALSE(loadBytes(engine, writeMod(plan))) << signature;
  }
  // A 15-sample module whose pattern data happen to spell "4CHN" at offset 1080.
  ModModulePlan plan = oneNoteMod(true);
  std::vector<uint8_t> bytes = writeMod(plan);
  std::memcpy(bytes.data() + 1080, "4CHN", 4);
  ASSERT_TRUE(loadBytes(engine, bytes));
  EXPECT_EQ(song.instrumentCount, 15);
  EXPECT_EQ(song.channelCount, 4);
  const NoteCell& spelled = cellAt(0, 30, 0);  // (1080 - 600) / 4 = cell 120
  EXPECT_EQ(spelled.instrument, 0x34);
  EXPECT_EQ(spelled.note, 33);  // period 0x443 = 1091
  EXPECT_EQ(spelled.effect, 8);
  EXPECT_EQ(spelled.effectParam, 0x4E);
}

TEST(ModFifteenSamples, AValidModuleLoads) {
  ModModulePlan plan = oneNoteMod(true);
  plan.name = "old school";
  plan.songLength = 3;
  plan.restartByte = 2;
  plan.orderList[1] = 1;
  plan.orderList[2] = 0;
  plan.cell(1, 10, 3) = {856, 15, 0x0C, 20};
  plan.samples.resize(15);
  plan.samples[14] = rampSample(20);
  plan.samples[14].volume = 64;
  plan.samples[14].finetuneByte = 15;
  ASSERT_TRUE(loadBytes(engine, writeMod(plan)));
  EXPECT_STREQ(song.name, "old school");
  EXPECT_EQ(song.instrumentCount, 15);
  EXPECT_EQ(song.channelCount, 4);
  EXPECT_EQ(song.songLength, 3);
  EXPECT_EQ(song.restartPosition, 2);
  EXPECT_EQ(song.orderList[1], 1);
  EXPECT_EQ(cellAt(1, 10, 3).note, 37);
  EXPECT_EQ(cellAt(1, 10, 3).instrument, 15);
  EXPECT_EQ(song.instruments[1]->samples[0].data[99], 100);
  EXPECT_EQ(song.instruments[15]->samples[0].data[19], 20);
  EXPECT_EQ(song.instruments[15]->samples[0].finetune, -16);
  EXPECT_EQ(songInvariantViolation(song), "");
}

TEST(ModFifteenSamples, FilesThatDoNotLookLikeOneAreRejected) {
  struct Case {
    const char* what;
    void (*edit)(ModModulePlan&);
  };
  const Case cases[] = {
      {"song length 0", [](ModModulePlan& s) { s.songLength = 0; }},
      {"song length 129", [](ModModulePlan& s) { s.songLength = 129; }},
      {"order byte 128", [](ModModulePlan& s) { s.orderList[127] = 128; }},
      {"volume 65", [](ModModulePlan& s) { s.samples[0].volume = 65; }},
      {"finetune 16", [](ModModulePlan& s) { s.samples[0].finetuneByte = 16; }},
      {"volume 65 in an empty slot", [](ModModulePlan& s) {
         s.samples.resize(15);
         s.samples[14].volume = 65;
       }},
  };
  for (const Case& c : cases) {
    ModModulePlan plan = oneNoteMod(true);
    c.edit(plan);
    EXPECT_FALSE(loadBytes(engine, writeMod(plan))) << c.what;
    EXPECT_EQ(song.songLoaded, 0);
    ASSERT_NE(song.instruments[0], nullptr);  // as freeSong and the first load step left it
    for (int i = 1; i < kInstrumentSlots; ++i) EXPECT_EQ(song.instruments[i], nullptr) << c.what;
  }
  // The limits themselves are accepted.
  ModModulePlan plan = oneNoteMod(true);
  plan.songLength = 128;
  plan.orderList[127] = 127;
  plan.samples[0].volume = 64;
  plan.samples[0].finetuneByte = 15;
  plan.trailingBytes = 1;
  EXPECT_TRUE(loadBytes(engine, writeMod(plan)));
}

TEST(ModFifteenSamples, OtherFilesAreNotModules) {
  std::mt19937 random(1234);
  std::vector<uint8_t> noise(300 * 1024);
  for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
  EXPECT_FALSE(loadBytes(engine, noise));

  std::vector<uint8_t> elf = {0x7F, 'E', 'L', 'F', 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0x3E, 0, 1, 0, 0, 0};
  elf.resize(20000);
  for (size_t i = 64; i < elf.size(); ++i) elf[i] = static_cast<uint8_t>(random() & 0x7F);  // code-like bytes
  EXPECT_FALSE(loadBytes(engine, elf));

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                              0, 0, 1, 0, 0, 0, 1, 0, 8, 6, 0, 0, 0};
  png.resize(300 * 1024);
  EXPECT_FALSE(loadBytes(engine, png));
  EXPECT_EQ(song.songLoaded, 0);
}

TEST(ModHeader, ModulesOf1084BytesOrLessAreRejected) {
  for (bool fifteen : {false, true}) {
    std::vector<uint8_t> bytes = writeMod(oneNoteMod(fifteen));
    bytes.resize(1084);
    if (!fifteen) std::memcpy(bytes.data() + 1080, "M.K.", 4);
    EXPECT_FALSE(loadBytes(engine, bytes)) << fifteen;
    EXPECT_EQ(song.songLoaded, 0);
    ASSERT_NE(song.instruments[0], nullptr);
    EXPECT_EQ(song.instruments[1], nullptr);
  }
}

TEST(ModHeader, SongFieldsAndModeDefaults) {
  ModModulePlan plan = oneNoteMod();
  plan.name = "12345678901234567890abc";
  plan.songLength = 1;
  plan.restartByte = 127;  // above the song length
  ASSERT_TRUE(loadBytes(engine, writeMod(plan)));
  EXPECT_STREQ(song.name, "12345678901234567890");
  EXPECT_EQ(song.restartPosition, 0);
  EXPECT_EQ(song.speed, 6);
  EXPECT_EQ(song.tempo, 125);
  EXPECT_EQ(song.linearFrequencies, 0);
  EXPECT_EQ(song.periodTable, amigaPeriodTable);

  plan.songLength = 127;
  ASSERT_TRUE(loadBytes(engine, writeMod(plan)));
  EXPECT_EQ(song.restartPosition, 127);
}

TEST(ModHeader, OrderEntriesPast127AreClearedFromTheLastSong) {
  XmModulePlan xm;
  xm.orderList[200] = 7;
  xm.orderList[255] = 3;
  xm.cell(0, 0, 0) = {1, 0, 0, 0, 0};
  ASSERT_TRUE(loadBytes(engine, writeXm(xm)));
  ASSERT_EQ(song.orderList[200], 7);
  ModModulePlan plan = oneNoteMod();
  plan.songLength = 200;  // reaches entries 128 and up
  ASSERT_TRUE(loadBytes(engine, writeMod(plan)));
  for (int i = 128; i < 256; ++i) EXPECT_EQ(song.orderList[i], 0) << i;
}

// ------------------------------------------------------------------ patterns

TEST(ModPatterns, TheHighestOfAll128OrderBytesGivesThePatternCount) {
  ModModulePlan plan = oneNoteMod();
  plan.songLength = 0;
  ASSERT_TRUE(loadBytes(engine, writeMod(plan)));  // all orders 0: exactly one pattern
  EXPECT_EQ(song.instruments[1]->samples[0].data[0], 1);
  EXPECT_EQ(song.instruments[1]->samples[0].data[99], 100);

  plan.songLength = 1;
  plan.orderList[100] = 3;  // beyond the song length, still counted
  plan.cell(3, 1, 2) = {113, 2, 0, 0};
  ASSERT_TRUE(loadBytes(engine, writeMod(plan)));
  EXPECT_EQ(cellAt(3, 1, 2).note, 72);
  EXPECT_EQ(song.patterns[1], nullptr);  // all-zero patterns are released
  EXPECT_EQ(song.patternRows[1], 64);
  EXPECT_EQ(song.patternRows[3], 64);
  EXPECT_EQ(song.instruments[1]->samples[0].data[99], 100);
}

TEST(ModPatterns, PeriodsBecomeNotesOfTheFirstEntryAtOrBelow) {
  const std::pair<uint16_t, uint8_t> periods[] = {{428, 49}, {429, 49}, {427, 50}, {0, 0},   {27, 0},
                                                  {4095, 10}, {28, 96}, {3840, 11}, {453, 48}, {29, 96}, {30, 95}};
  ModModulePlan plan = oneNoteMod();
  for (size_t i = 0; i < std::size(periods); ++i) plan.cell(0, static_cast<int>(i), 1) = {periods[i].first, 0, 0, 0};
  ASSERT_TRUE(loadBytes(engine, writeMod(plan)));
  for (size_t i = 0; i < std::size(periods); ++i) {
    EXPECT_EQ(cellAt(0, static_cast<int>(i), 1).note, periods[i].second) << periods[i].first;
  }
}

TEST(ModPatterns, InstrumentNumbersUseBothNibbles) {
  ModModulePlan plan = oneNoteMod();
  plan.cell(0, 1, 0) = {0, 0x1F, 0, 0};
  plan.cell(0, 2, 0) = {0, 0x10, 0, 0};
  plan.cell(0, 3, 0) = {0, 0xF0, 0, 0};  // beyond 31 as the file says
  ASSERT_TRUE(loadBytes(engine, writeMod(plan)));
  EXPECT_EQ(cellAt(0, 1, 0).instrument, 0x1F);
  EXPECT_EQ(cellAt(0, 2, 0).instrument, 0x10);
  EXPECT_EQ(cellAt(0, 3, 0).instrument, 0xF0);
  EXPECT_EQ(cellAt(0, 1, 0).volumeColumn, 0);
}

TEST(ModPatterns, EffectsWhoseZeroMeansNothingAreRewritten) {
  struct Case {
    uint8_t effect, param, wantEffect, wantParam;
  };
  const Case cases[] = {{1, 0, 0, 0},    {2, 0, 0, 0},     {10, 0, 0, 0},   {5, 0, 3, 0},    {6, 0, 4, 0},
                        {12, 80, 12, 64}, {12, 64, 12, 64}, {12, 255, 12, 64}, {5, 1, 5, 1},  {6, 0x10, 6, 0x10},
                        {1, 3, 1, 3},    {10, 0x0F, 10, 0x0F}, {3, 0, 3, 0},  {4, 0, 4, 0},    {15, 0, 15, 0},
                        {14, 0, 14, 0},  {0, 0x37, 0, 0x37}};
  ModModulePlan plan = oneNoteMod();
  for (size_t i = 0; i < std::size(cases); ++i) {
    plan.cell(0, static_cast<int>(i) + 1, 3) = {0, 0, cases[i].effect, cases[i].param};
  }
  ASSERT_TRUE(loadBytes(engine, writeMod(plan)));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const NoteCell& got = cellAt(0, static_cast<int>(i) + 1, 3);
    EXPECT_EQ(got.effect, cases[i].wantEffect) << int{cases[i].effect} << " " << int{cases[i].param};
    EXPECT_EQ(got.effectParam, cases[i].wantParam) << int{cases[i].effect} << " " << int{cases[i].param};
  }
}

TEST(ModPatterns, AFileEndingRightAfterItsLastPatternFails) {
  ModModulePlan plan;
  plan.cell(0, 0, 0) = {428, 1, 0, 0};
  std::vector<uint8_t> bytes = writeMod(plan);  // all samples empty
  ASSERT_EQ(bytes.size(), 1084u + 1024u);
  EXPECT_FALSE(loadBytes(engine, bytes));
  EXPECT_EQ(song.songLoaded, 0);
  for (const Instrument* ins : song.instruments) EXPECT_EQ(ins, nullptr);
  for (const NoteCell* p : song.patterns) EXPECT_EQ(p, nullptr);
  bytes.pop_back();
  EXPECT_FALSE(loadBytes(engine, bytes));
  plan.trailingBytes = 1;
  EXPECT_TRUE(loadBytes(engine, writeMod(plan)));
}

// ------------------------------------------------------------------ samples

TEST(ModSamples, HeaderFieldsBecomeSampleZeroOfTheInstrument) {
  ModModulePlan plan = oneNoteMod();
  plan.samples[0].name = "abcdefghijklmnopqrstuvwxyz";
  plan.samples[0].volume = 99;
  plan.samples[0].finetuneByte = 0xF7;  // high nibble ignored
  plan.samples.push_back(ModSamplePlan{});  // length 0: no instrument
  plan.samples.push_back(rampSample(6));
  plan.samples[2].finetuneByte = 8;
  plan.samples[2].volume = 64;
  ASSERT_TRUE(loadBytes(engine, writeMod(plan)));
  const Instrument& ins = *song.instruments[1];
  const Sample& s = ins.samples[0];
  EXPECT_STREQ(s.name, "abcdefghijklmnopqrstuv");
  EXPECT_EQ(s.length, 100);
  EXPECT_EQ(s.volume, 64);
  EXPECT_EQ(s.finetune, 112);
  EXPECT_EQ(s.panning, 128);
  EXPECT_EQ(s.relativeNote, 0);
  EXPECT_EQ(s.type, 0);
  EXPECT_EQ(ins.sampleCount, 0);
  EXPECT_EQ(ins.volumeEnvelopeFlags, 0);
  EXPECT_EQ(ins.sampleMap[95], 0);
  EXPECT_EQ(song.instruments[2], nullptr);
  EXPECT_EQ(song.instruments[3]->samples[0].finetune, -128);
  EXPECT_EQ(song.instruments[3]->samples[0].data[5], 6);
  for (int k = 4; k < kInstrumentSlots; ++k) EXPECT_EQ(song.instruments[k], nullptr);
}

TEST(ModSamples, LoopsInWords) {
  struct Case {
    uint16_t startWords, lengthWords;
    int32_t wantStart, wantLength;
    uint8_t wantType;
  };
  const Case cases[] = {
      {10, 1, 0, 0, 0},    // one word: no loop
      {10, 2, 20, 4, 1},   // two words inside the sample
      {0, 50, 0, 100, 1},  // the whole sample
      {50, 2, 0, 0, 0},    // starts exactly at the end
      {60, 4, 0, 0, 0},    // starts past the end
      {40, 20, 80, 20, 1}, // reaches past the end: cut there
      {49, 4, 98, 2, 0},   // cut to one word: too short to loop
  };
  for (const Case& c : cases) {
    ModModulePlan plan = oneNoteMod();
    plan.samples[0].loopStartWords = c.startWords;
    plan.samples[0].loopLengthWords = c.lengthWords;
    ASSERT_TRUE(loadBytes(engine, writeMod(plan)));
    const Sample& s = song.instruments[1]->samples[0];
    SCOPED_TRACE(testing::Message() << c.startWords << "+" << c.lengthWords);
    EXPECT_EQ(s.loopStart, c.wantStart);
    EXPECT_EQ(s.loopLength, c.wantLength);
    EXPECT_EQ(s.type, c.wantType);
    if (c.wantType) {
      EXPECT_EQ(s.data[c.wantStart + c.wantLength], s.data[c.wantStart]);  // forward guard
    } else {
      EXPECT_EQ(s.data[100], 0);
    }
  }
}

TEST(ModSamples, DataCutByTheEndAreZeroAndLaterSamplesStillGetTheirBlocks) {
  ModModulePlan plan = oneNoteMod();
  plan.samples.push_back(rampSample(40));
  std::vector<uint8_t> bytes = writeMod(plan);
  bytes.resize(bytes.size() - 40 - 70);  // 30 bytes of the first sample remain
  ASSERT_TRUE(loadBytes(engine, bytes));
  const Sample& first = song.instruments[1]->samples[0];
  for (int i = 0; i < 100; ++i) EXPECT_EQ(first.data[i], i < 30 ? i + 1 : 0) << i;
  const Sample& second = song.instruments[2]->samples[0];
  ASSERT_NE(second.data, nullptr);
  EXPECT_EQ(second.length, 40);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(second.data[i], 0);
  EXPECT_EQ(songInvariantViolation(song), "");
}

}  // namespace
}  // namespace zv::test
