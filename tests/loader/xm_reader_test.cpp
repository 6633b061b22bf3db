// The XM reader, through loadModuleFromMemory, with modules built by the
// test module writer.
#include <gtest/gtest.h>

#include <cstring>

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

bool sameCell(const NoteCell& a, const NoteCell& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// After a failed load past the header: nothing of the song's blocks remains.
void expectReleasedAfterFailure() {
  EXPECT_EQ(song.songLoaded, 0);
  for (const Instrument* ins : song.instruments) EXPECT_EQ(ins, nullptr);
  for (int n = 0; n < kPatternSlots; ++n) {
    EXPECT_EQ(song.patterns[n], nullptr);
    EXPECT_EQ(song.patternRows[n], 64);
  }
}

// After a rejected header: released by freeSong, only the empty instrument 0 left.
void expectRejectedHeader() {
  EXPECT_EQ(song.songLoaded, 0);
  ASSERT_NE(song.instruments[0], nullptr);
  EXPECT_EQ(song.instruments[0]->samples[0].volume, 0);
  for (int i = 1; i < kInstrumentSlots; ++i) EXPECT_EQ(song.instruments[i], nullptr);
  for (const NoteCell* p : song.patterns) EXPECT_EQ(p, nullptr);
}

XmModulePlan oneNoteSong(uint16_t version = 0x0104) {
  XmModulePlan plan;
  plan.version = version;
  plan.cell(0, 0, 0) = {49, 1, 0x40, 0x0F, 3};
  plan.instruments.push_back(instrumentWith(squareSample(64)));
  return plan;
}

// ------------------------------------------------------------------ header

TEST(XmHeader, A336ByteFileIsRejectedAndOneMoreByteLoads) {
  XmModulePlan plan;  // no patterns, no instruments: exactly the header
  std::vector<uint8_t> bytes = writeXm(plan);
  ASSERT_EQ(bytes.size(), 336u);
  EXPECT_FALSE(loadBytes(engine, bytes));
  expectRejectedHeader();

  bytes.push_back(0);
  ASSERT_TRUE(loadBytes(engine, bytes));
  EXPECT_EQ(song.songLoaded, 1);
  EXPECT_EQ(song.instrumentCount, 0);
  for (const NoteCell* p : song.patterns) EXPECT_EQ(p, nullptr);
  ASSERT_NE(song.instruments[0], nullptr);
  EXPECT_EQ(song.instruments[0]->samples[0].volume, 0);

  // A header size of 277 puts the body at the end of a 337-byte file.
  plan.headerSize = 277;
  bytes = writeXm(plan);
  bytes.resize(337);
  EXPECT_FALSE(loadBytes(engine, bytes));
}

TEST(XmHeader, EachInvalidFieldRejectsTheFile) {
  struct Case {
    const char* what;
    void (*edit)(XmModulePlan&);
  };
  const Case cases[] = {
      {"version 0x0101", [](XmModulePlan& s) { s.version = 0x0101; }},
      {"version 0x0105", [](XmModulePlan& s) { s.version = 0x0105; }},
      {"0 channels", [](XmModulePlan& s) { s.channelCount = 0; }},
      {"1 channel", [](XmModulePlan& s) { s.channelCount = 1; }},
      {"3 channels", [](XmModulePlan& s) { s.channelCount = 3; }},
      {"33 channels", [](XmModulePlan& s) { s.channelCount = 33; }},
      {"34 channels", [](XmModulePlan& s) { s.channelCount = 34; }},
      {"257 patterns", [](XmModulePlan& s) { s.patternCountOverride = 257; }},
      {"129 instruments", [](XmModulePlan& s) { s.instrumentCountOverride = 129; }},
      {"signature without its space", [](XmModulePlan& s) { s.signature = "Extended Module:!"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    XmModulePlan plan = oneNoteSong();
    c.edit(plan);
    EXPECT_FALSE(loadBytes(engine, writeXm(plan)));
    expectRejectedHeader();
  }
  // Header sizes written into a complete file, which the writer would otherwise pad.
  std::vector<uint8_t> bytes = writeXm(oneNoteSong());
  for (int64_t headerSize : {static_cast<int64_t>(bytes.size()) - 60, int64_t{INT32_MAX}, int64_t{-61}, int64_t{INT32_MIN}}) {
    SCOPED_TRACE(headerSize);
    std::vector<uint8_t> edited = bytes;
    for (int i = 0; i < 4; ++i) edited[60 + i] = static_cast<uint8_t>(static_cast<uint64_t>(headerSize) >> (8 * i));
    EXPECT_FALSE(loadBytes(engine, edited));
    expectRejectedHeader();
  }
}

TEST(XmHeader, BoundaryValuesAreAccepted) {
  for (uint16_t version : {0x0102, 0x0103, 0x0104}) {
    for (uint16_t channels : {2, 32}) {
      XmModulePlan plan = oneNoteSong(version);
      plan.channelCount = channels;
      plan.patterns.clear();
      plan.cell(0, 63, channels - 1) = {1, 1, 0, 0, 0};
      ASSERT_TRUE(loadBytes(engine, writeXm(plan))) << version << " " << channels;
      EXPECT_EQ(song.channelCount, channels);
      EXPECT_EQ(song.formatVersion, version);
      EXPECT_EQ(cellAt(0, 63, channels - 1).note, 1);
    }
  }
  XmModulePlan plan;
  plan.patterns.resize(256);
  plan.patterns[255].rows = 2;
  plan.cell(255, 1, 3) = {5, 0, 0, 0, 0};
  for (int i = 0; i < 128; ++i) plan.instruments.push_back(XmInstrumentPlan{});
  plan.instruments[127] = instrumentWith(squareSample(10));
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.instrumentCount, 128);
  EXPECT_EQ(song.patternRows[255], 2);
  EXPECT_EQ(cellAt(255, 1, 3).note, 5);
  ASSERT_NE(song.instruments[128], nullptr);
  EXPECT_EQ(song.instruments[128]->samples[0].length, 10);
}

TEST(XmHeader, FieldsAreStored) {
  XmModulePlan plan = oneNoteSong();
  plan.name = "abcdefghijklmnopqrstUVW";  // only 20 bytes are in the file
  plan.songLength = 300;                   // counts as 256, the order list's size
  plan.restartPosition = 7;
  plan.flags = 0xFFFE;                     // bit 0 clear: Amiga frequencies
  plan.orderList[0] = 0;
  plan.orderList[255] = 9;
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_STREQ(song.name, "abcdefghijklmnopqrst");
  EXPECT_EQ(song.songLength, 256);
  EXPECT_EQ(song.restartPosition, 7);
  EXPECT_EQ(song.linearFrequencies, 0);
  EXPECT_EQ(song.periodTable, amigaPeriodTable);
  EXPECT_EQ(song.orderList[255], 9);
  EXPECT_EQ(song.instrumentCount, 1);
  EXPECT_EQ(song.speed, 6);
  EXPECT_EQ(song.tempo, 125);

  plan.flags = 1;
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.linearFrequencies, 1);
  EXPECT_EQ(song.periodTable, linearPeriodTable);
}

TEST(XmHeader, SpeedAndTempoZeroGetDefaults) {
  XmModulePlan plan = oneNoteSong();
  plan.speed = 0;
  plan.tempo = 0;
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.speed, 1);
  EXPECT_EQ(song.tempo, 125);
  plan.speed = 31;
  plan.tempo = 255;
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.speed, 31);
  EXPECT_EQ(song.tempo, 255);
}

TEST(XmHeader, RestartPositionAboveSongLengthBecomesZero) {
  XmModulePlan plan = oneNoteSong();
  plan.songLength = 5;
  plan.restartPosition = 6;
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.restartPosition, 0);
  plan.restartPosition = 5;
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.restartPosition, 5);
  plan.songLength = 300;  // counts as 256
  plan.restartPosition = 280;
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.restartPosition, 0);
}

TEST(XmHeader, LongerHeaderMovesTheBody) {
  XmModulePlan plan = oneNoteSong();
  plan.headerSize = 400;
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(cellAt(0, 0, 0).note, 49);
  EXPECT_EQ(song.instruments[1]->samples[0].length, 64);
}

TEST(XmHeader, LoadRewindsToTheFirstOrderEntry) {
  XmModulePlan plan = oneNoteSong();
  plan.orderList[0] = 1;
  plan.patterns.resize(2);
  plan.patterns[1].rows = 20;
  plan.cell(1, 0, 0) = {2, 0, 0, 0, 0};
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.songPosition, 0);
  EXPECT_EQ(song.patternNumber, 1);
  EXPECT_EQ(song.patternLength, 20);
  EXPECT_EQ(song.row, 0);
  EXPECT_EQ(song.tickCounter, 1);
}

// ------------------------------------------------------------------ patterns

TEST(XmPatterns, PackingsAndVersionsGiveTheSameCells) {
  for (uint16_t version : {0x0102, 0x0103, 0x0104}) {
    for (XmPacking packing : {XmPacking::packed, XmPacking::unpacked, XmPacking::alternating}) {
      SCOPED_TRACE(testing::Message() << version << " packing " << static_cast<int>(packing));
      XmModulePlan plan = oneNoteSong(version);
      plan.patterns[0].rows = 8;
      plan.patterns[0].packing = packing;
      plan.cell(0, 3, 2) = {97, 0, 0, 0, 0};
      plan.cell(0, 7, 3) = {0, 0, 0, 0x0E, 0xC1};
      plan.cell(0, 5, 1) = {96, 128, 0xFF, 35, 0xFF};
      ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
      ASSERT_NE(song.patterns[0], nullptr);
      EXPECT_EQ(song.patternRows[0], 8);
      for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 4; ++c) {
          EXPECT_TRUE(sameCell(cellAt(0, r, c), plan.patterns[0].cells[r * 4 + c])) << r << "," << c;
        }
      }
    }
  }
}

TEST(XmPatterns, HeaderLengthDecidesWhereThePackedDataStart) {
  for (uint16_t version : {0x0102, 0x0104}) {
    for (int32_t headerLength : {0, 5, 20}) {
      SCOPED_TRACE(testing::Message() << version << " header length " << headerLength);
      XmModulePlan plan = oneNoteSong(version);
      plan.patterns[0].headerLength = headerLength;
      ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
      EXPECT_TRUE(sameCell(cellAt(0, 0, 0), NoteCell{49, 1, 0x40, 0x0F, 3}));
      EXPECT_EQ(song.instruments[1]->samples[0].length, 64);
    }
  }
}

// An empty pattern (a pause) plays the rows its header gives.
TEST(XmPatterns, PackedSizeZeroGivesAnAbsentPatternOfItsRows) {
  for (uint16_t rows : {32, 1, 1024}) {
    XmModulePlan plan = oneNoteSong();
    plan.patterns.resize(2);
    plan.patterns[0].rows = rows;
    plan.patterns[0].rawPackedData = std::vector<uint8_t>{};
    plan.cell(1, 0, 1) = {3, 0, 0, 0, 0};
    ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
    EXPECT_EQ(song.patterns[0], nullptr);
    EXPECT_EQ(song.patternRows[0], rows);
    EXPECT_EQ(cellAt(1, 0, 1).note, 3);
    EXPECT_EQ(song.patternRows[2], 64);  // not in the file
  }
}

TEST(XmPatterns, AllZeroCellsAreNotKept) {
  XmModulePlan plan = oneNoteSong();
  plan.patterns.resize(2);
  plan.patterns[1].rows = 10;
  plan.patterns[1].packing = XmPacking::unpacked;
  plan.patterns[1].cells.assign(40, NoteCell{});
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.patterns[1], nullptr);
  EXPECT_EQ(song.patternRows[1], 10);
}

TEST(XmPatterns, FlagBytesConsumeOnlyTheirFields) {
  XmModulePlan plan = oneNoteSong();
  plan.patterns[0].rows = 2;
  plan.patterns[0].rawPackedData = std::vector<uint8_t>{
      0x80,                    // empty, one byte
      0x9F, 1, 2, 3, 4, 5,     // all five fields, six bytes
      0x83, 10, 11,            // note and instrument
      0x90, 0x33,              // parameter only
      0xE0,                    // bits 5 and 6 ignored: empty
      0xE4, 0x20,              // volume column, bits 5 and 6 ignored
      60, 1, 0, 0, 0,          // unpacked
      0x88, 0x0F};             // effect only
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  const NoteCell expected[8] = {{0, 0, 0, 0, 0},  {1, 2, 3, 4, 5},  {10, 11, 0, 0, 0}, {0, 0, 0, 0, 0x33},
                                {0, 0, 0, 0, 0},  {0, 0, 0x20, 0, 0}, {60, 1, 0, 0, 0},  {0, 0, 0, 0x0F, 0}};
  for (int i = 0; i < 8; ++i) EXPECT_TRUE(sameCell(song.patterns[0][i], expected[i])) << i;
}

TEST(XmPatterns, NotesAbove97LoadAsNoNote) {
  XmModulePlan plan = oneNoteSong();
  plan.channelCount = 2;
  plan.patterns[0].rows = 256 - 96;
  std::vector<uint8_t> raw;
  for (int note = 96; note <= 255; ++note) {
    raw.insert(raw.end(), {0x81, static_cast<uint8_t>(note)});                  // packed note field
    raw.insert(raw.end(), {static_cast<uint8_t>(note < 128 ? note : 0), 1, 0, 0, 0});  // unpacked
  }
  plan.patterns[0].rawPackedData = raw;
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  for (int note = 96; note <= 255; ++note) {
    int row = note - 96;
    uint8_t expected = note <= 97 ? static_cast<uint8_t>(note) : 0;
    EXPECT_EQ(cellAt(0, row, 0).note, expected) << note;
    if (note < 128) {
      EXPECT_EQ(cellAt(0, row, 1).note, expected) << note;
    }
    EXPECT_EQ(cellAt(0, row, 1).instrument, 1);
  }
}

// Decoding in place inside the cell block would overwrite packed bytes not
// yet read once six-byte cells follow one-byte cells: the cells must be what
// the packed bytes say.
TEST(XmPatterns, CellsEqualThePackedBytesWhateverTheirMix) {
  XmModulePlan plan = oneNoteSong();
  plan.channelCount = 2;
  plan.patterns[0].rows = 4;
  plan.patterns[0].cells.assign(8, NoteCell{});
  for (int i = 4; i < 8; ++i) {
    plan.patterns[0].cells[i] = {static_cast<uint8_t>(10 + i), static_cast<uint8_t>(i), static_cast<uint8_t>(0x10 + i),
                                 static_cast<uint8_t>(i), static_cast<uint8_t>(0xA0 + i)};
  }
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  for (int i = 0; i < 8; ++i) EXPECT_TRUE(sameCell(song.patterns[0][i], plan.patterns[0].cells[i])) << i;

  // Packed data longer than the whole cell block (two six-byte cells, ten bytes of cells).
  plan.patterns[0].rows = 1;
  plan.patterns[0].cells = {{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}};
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_TRUE(sameCell(song.patterns[0][0], NoteCell{1, 2, 3, 4, 5}));
  EXPECT_TRUE(sameCell(song.patterns[0][1], NoteCell{6, 7, 8, 9, 10}));
}

TEST(XmPatterns, DecodingStopsWhenTheBlockIsFull) {
  XmModulePlan plan = oneNoteSong();
  plan.channelCount = 2;
  plan.patterns.resize(2);
  plan.patterns[0].rows = 1;
  plan.patterns[0].rawPackedData = std::vector<uint8_t>{0x81, 5, 0x81, 6, 0x81, 7, 0x9F, 1, 1, 1, 1, 1};
  plan.cell(1, 0, 0) = {8, 0, 0, 0, 0};
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.patternRows[0], 1);
  EXPECT_EQ(cellAt(0, 0, 0).note, 5);
  EXPECT_EQ(cellAt(0, 0, 1).note, 6);
  // The next pattern starts after the declared packed size.
  EXPECT_EQ(cellAt(1, 0, 0).note, 8);
  EXPECT_EQ(song.instruments[1]->samples[0].length, 64);
}

TEST(XmPatterns, PackedDataCutByTheEndReadAsZeroBytes) {
  XmModulePlan plan;
  plan.patterns.resize(1);
  plan.patterns[0].rows = 2;
  plan.patterns[0].rawPackedData = std::vector<uint8_t>{0x81, 7, 0x9F, 1, 2};
  plan.patterns[0].packedSizeOverride = 40;
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));  // no instruments follow
  EXPECT_TRUE(sameCell(cellAt(0, 0, 0), NoteCell{7, 0, 0, 0, 0}));
  EXPECT_TRUE(sameCell(cellAt(0, 0, 1), NoteCell{1, 2, 0, 0, 0}));
  for (int i = 2; i < 8; ++i) EXPECT_TRUE(sameCell(song.patterns[0][i], NoteCell{})) << i;

  // An unpacked cell cut after its note.
  plan.patterns[0].rawPackedData = std::vector<uint8_t>{0x80, 0x80, 0x80, 50};
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_TRUE(sameCell(cellAt(0, 0, 3), NoteCell{50, 0, 0, 0, 0}));
}

TEST(XmPatterns, RowCountsUpTo1024LoadWithTheirWholeBlock) {
  XmModulePlan plan = oneNoteSong();
  plan.channelCount = 32;
  plan.patterns.clear();
  plan.patterns.resize(2);
  plan.patterns[0].rows = 1024;  // 163840 bytes of cells: more than 16 bits can count
  plan.cell(0, 1023, 31) = {12, 1, 0, 0, 0};
  plan.cell(0, 300, 0) = {13, 1, 0, 0, 0};
  plan.cell(1, 0, 0) = {14, 0, 0, 0, 0};
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.patternRows[0], 1024);
  EXPECT_EQ(cellAt(0, 1023, 31).note, 12);
  EXPECT_EQ(cellAt(0, 300, 0).note, 13);
  EXPECT_EQ(cellAt(1, 0, 0).note, 14);
}

TEST(XmPatterns, RowCountsAbove1024FailUnlessThePatternIsEmpty) {
  XmModulePlan plan = oneNoteSong();
  plan.channelCount = 2;
  plan.patterns[0].rows = 1025;
  plan.patterns[0].rawPackedData = std::vector<uint8_t>{0x81, 1};
  EXPECT_FALSE(loadBytes(engine, writeXm(plan)));
  expectReleasedAfterFailure();

  plan.patterns[0].rows = 65535;
  EXPECT_FALSE(loadBytes(engine, writeXm(plan)));

  plan.patterns[0].rawPackedData = std::vector<uint8_t>{};
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.patterns[0], nullptr);
  EXPECT_EQ(song.patternRows[0], 64);
}

// A few packed bytes may not make the loader allocate whole blocks of empty
// cells without limit: 25 patterns of 1024 rows x 32 channels with two bytes
// each stay within the allowance, a 26th fails the load before its block.
TEST(XmPatterns, CellsNoPackedByteCanFillAreLimited) {
  XmModulePlan plan;
  plan.channelCount = 32;
  XmPatternPlan sparse;
  sparse.rows = 1024;
  sparse.rawPackedData = std::vector<uint8_t>{0x81, 1};
  const uint64_t unfilled = (1024 * 32 - 2) * sizeof(NoteCell);
  const int fitting = static_cast<int>(kUnsuppliedCellBytesLimit / unfilled);
  ASSERT_EQ(fitting, 25);
  plan.patterns.assign(static_cast<size_t>(fitting), sparse);
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(cellAt(24, 0, 0).note, 1);
  plan.patterns.push_back(sparse);
  EXPECT_FALSE(loadBytes(engine, writeXm(plan)));
  expectReleasedAfterFailure();

  // Complete patterns of the same size cost nothing from the allowance.
  XmPatternPlan full;
  full.rows = 1024;
  full.packing = XmPacking::packed;
  full.cells.assign(1024 * 32, NoteCell{});
  full.cells[0].note = 2;
  plan.patterns.assign(40, full);
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(cellAt(39, 0, 0).note, 2);
}

TEST(XmPatterns, ZeroRowsGiveAnAbsentPatternAndTheNextOneStillReads) {
  XmModulePlan plan = oneNoteSong(0x0103);
  plan.patterns.resize(2);
  plan.patterns[0].rows = 0;
  plan.patterns[0].rawPackedData = std::vector<uint8_t>{0x81, 1, 0x81, 2};
  plan.cell(1, 0, 0) = {9, 0, 0, 0, 0};
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.patterns[0], nullptr);
  EXPECT_EQ(song.patternRows[0], 64);
  EXPECT_EQ(cellAt(1, 0, 0).note, 9);
}

TEST(XmPatterns, TheEndInsideOrRightAfterAPatternHeaderFails) {
  XmModulePlan plan;
  plan.patterns.resize(1);
  plan.patterns[0].rawPackedData = std::vector<uint8_t>{};
  std::vector<uint8_t> bytes = writeXm(plan);  // 336 + 9 header bytes
  ASSERT_EQ(bytes.size(), 345u);
  EXPECT_FALSE(loadBytes(engine, bytes));
  expectReleasedAfterFailure();
  bytes.resize(340);
  EXPECT_FALSE(loadBytes(engine, bytes));
  bytes = writeXm(plan);
  bytes.push_back(0);
  EXPECT_TRUE(loadBytes(engine, bytes));

  // A header length reaching past the end.
  plan.patterns[0].headerLength = 1000;
  bytes = writeXm(plan);
  bytes.resize(700);
  EXPECT_FALSE(loadBytes(engine, bytes));
}

// ------------------------------------------------------------------ instruments

TEST(XmInstruments, AllHeaderFieldsAreCopied) {
  XmModulePlan plan = oneNoteSong();
  XmInstrumentPlan& ins = plan.instruments[0];
  ins.name = "0123456789012345678901XYZ";
  for (int i = 0; i < 96; ++i) ins.sampleMap[i] = static_cast<uint8_t>(i % 3);
  ins.samples.push_back(squareSample(8));
  ins.samples.push_back(squareSample(8));
  ins.volumeEnvelope = {{{0, 64}, {10, 32}, {20, 0}}, 1, 0, 2, kEnvelopeOn | kEnvelopeSustain, std::nullopt};
  ins.panningEnvelope = {{{0, 32}, {5, 60}}, 0, 0, 1, kEnvelopeOn | kEnvelopeLoop, uint8_t{14}};
  ins.vibratoType = 2;
  ins.vibratoSweep = 3;
  ins.vibratoDepth = 4;
  ins.vibratoRate = 5;
  ins.fadeout = 0x1234;
  ins.muteByte = 1;
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  const Instrument& got = *song.instruments[1];
  EXPECT_STREQ(got.name, "0123456789012345678901");
  EXPECT_EQ(got.sampleCount, 3);
  for (int i = 0; i < 96; ++i) EXPECT_EQ(got.sampleMap[i], i % 3);
  EXPECT_EQ(got.volumeEnvelopePoints[1].tick, 10);
  EXPECT_EQ(got.volumeEnvelopePoints[1].value, 32);
  EXPECT_EQ(got.panningEnvelopePoints[1].value, 60);
  EXPECT_EQ(got.volumeEnvelopePointCount, 3);
  EXPECT_EQ(got.panningEnvelopePointCount, 14);  // stored as given
  EXPECT_EQ(got.volumeSustainPoint, 1);
  EXPECT_EQ(got.volumeLoopEndPoint, 2);
  EXPECT_EQ(got.panningLoopEndPoint, 1);
  EXPECT_EQ(got.volumeEnvelopeFlags, kEnvelopeOn | kEnvelopeSustain);
  EXPECT_EQ(got.panningEnvelopeFlags, kEnvelopeOn | kEnvelopeLoop);
  EXPECT_EQ(got.vibratoType, 2);
  EXPECT_EQ(got.vibratoSweep, 3);
  EXPECT_EQ(got.vibratoDepth, 4);
  EXPECT_EQ(got.vibratoRate, 5);
  EXPECT_EQ(got.fadeout, 0x1234);
  EXPECT_EQ(got.muted, 1);
  // Samples past the count keep a new instrument's defaults.
  EXPECT_EQ(got.samples[3].volume, 64);
  EXPECT_EQ(got.samples[3].panning, 128);
  EXPECT_EQ(got.samples[15].data, nullptr);

  plan.instruments[0].muteByte = 2;
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.instruments[1]->muted, 0);
}

TEST(XmInstruments, NoSamplesLeaveTheSlotEmpty) {
  for (uint16_t version : {0x0103, 0x0104}) {
    XmModulePlan plan = oneNoteSong(version);
    XmInstrumentPlan named;
    named.name = "has a name";
    named.volumeEnvelope = {{{0, 64}, {10, 0}}, 0, 0, 1, kEnvelopeOn, std::nullopt};
    named.fadeout = 100;
    plan.instruments.insert(plan.instruments.begin(), named);
    ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
    EXPECT_EQ(song.instruments[1], nullptr);
    ASSERT_NE(song.instruments[2], nullptr);
    EXPECT_EQ(song.instruments[2]->samples[0].length, 64);
  }
}

TEST(XmInstruments, HeaderSizesFrom263UpReadExactly263BytesThenSkip) {
  for (int32_t headerSize : {263, 264, 303, 1000}) {
    for (uint16_t version : {0x0103, 0x0104}) {
      SCOPED_TRACE(testing::Message() << "header size " << headerSize << " version " << version);
      XmModulePlan plan = oneNoteSong(version);
      plan.instruments[0].headerSize = headerSize;
      plan.instruments[0].fadeout = 77;
      plan.instruments[0].muteByte = 1;
      plan.instruments.push_back(instrumentWith(squareSample(30)));
      plan.instruments[1].headerSize = headerSize;
      ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
      EXPECT_EQ(song.instruments[1]->fadeout, 77);
      EXPECT_EQ(song.instruments[1]->muted, 1);
      EXPECT_EQ(song.instruments[1]->samples[0].length, 64);
      ASSERT_NE(song.instruments[2], nullptr);
      EXPECT_EQ(song.instruments[2]->samples[0].length, 30);
      EXPECT_EQ(song.instruments[2]->samples[0].data[1], 100);
    }
  }
}

TEST(XmInstruments, ShortHeadersReadWhatTheyHold) {
  // 29 bytes: name, type and sample count, no sample map or envelopes.
  XmModulePlan plan = oneNoteSong();
  plan.instruments[0].headerSize = 29;
  plan.instruments[0].name = "short";
  plan.instruments[0].fadeout = 500;
  plan.instruments[0].volumeEnvelope.flags = kEnvelopeOn;
  plan.instruments[0].sampleMap.fill(1);
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  const Instrument& got = *song.instruments[1];
  EXPECT_STREQ(got.name, "short");
  EXPECT_EQ(got.fadeout, 0);
  EXPECT_EQ(got.volumeEnvelopeFlags, 0);
  EXPECT_EQ(got.sampleMap[0], 0);
  EXPECT_EQ(got.samples[0].length, 64);

  // 4 bytes: nothing but the size, so no samples, and the next instrument
  // follows at once.
  plan = oneNoteSong();
  XmInstrumentPlan tiny;
  tiny.headerSize = 4;
  plan.instruments.insert(plan.instruments.begin(), tiny);
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.instruments[1], nullptr);
  EXPECT_EQ(song.instruments[2]->samples[0].length, 64);
}

TEST(XmInstruments, InvalidHeadersFailTheLoad) {
  struct Case {
    const char* what;
    void (*edit)(XmInstrumentPlan&);
  };
  const Case cases[] = {
      {"header size 3", [](XmInstrumentPlan& i) { i.headerSize = 3; }},
      {"header size 0", [](XmInstrumentPlan& i) { i.headerSize = 0; }},
      {"header size -1", [](XmInstrumentPlan& i) { i.headerSize = -1; }},
      {"17 samples", [](XmInstrumentPlan& i) { i.sampleCountOverride = 17; }},
      {"65535 samples", [](XmInstrumentPlan& i) { i.sampleCountOverride = 65535; }},
  };
  for (const Case& c : cases) {
    for (uint16_t version : {0x0103, 0x0104}) {
      SCOPED_TRACE(testing::Message() << c.what << " version " << version);
      XmModulePlan plan = oneNoteSong(version);
      plan.songLength = 3;
      c.edit(plan.instruments[0]);
      EXPECT_FALSE(loadBytes(engine, writeXm(plan)));
      expectReleasedAfterFailure();
      EXPECT_EQ(song.songLength, 3);  // header fields already stored stay
    }
  }
  // 16 samples are fine.
  XmModulePlan plan = oneNoteSong();
  for (int s = 1; s < 16; ++s) plan.instruments[0].samples.push_back(squareSample(s));
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.instruments[1]->sampleCount, 16);
  EXPECT_EQ(song.instruments[1]->samples[15].length, 15);
}

TEST(XmInstruments, SampleHeadersCutShortFail) {
  XmModulePlan plan;
  plan.instruments.push_back(instrumentWith(squareSample(0)));
  plan.instruments[0].samples.push_back(squareSample(0));
  std::vector<uint8_t> bytes = writeXm(plan);  // ends right after the two sample headers
  ASSERT_TRUE(loadBytes(engine, bytes));
  bytes.pop_back();
  EXPECT_FALSE(loadBytes(engine, bytes));
  expectReleasedAfterFailure();
  bytes.resize(336 + 263);  // the header is all there, the sample headers are not
  EXPECT_FALSE(loadBytes(engine, bytes));
}

TEST(XmInstruments, SampleHeaderFieldsAreStoredWithVolumeAndTypeLimited) {
  XmModulePlan plan = oneNoteSong();
  XmSamplePlan& s = plan.instruments[0].samples[0];
  s.name = "abcdefghijklmnopqrstuvwxyz";
  s.volume = 200;
  s.finetune = -5;
  s.panning = 17;
  s.relativeNote = -12;
  s.loopKind = 1;
  s.loopStart = 8;
  s.loopLength = 16;
  s.extraTypeBits = 0xEC;  // every meaningless bit
  plan.instruments[0].samples.push_back(squareSample(10));
  plan.instruments[0].samples[1].volume = 64;
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  const Sample& got = song.instruments[1]->samples[0];
  EXPECT_STREQ(got.name, "abcdefghijklmnopqrstuv");
  EXPECT_EQ(got.length, 64);
  EXPECT_EQ(got.loopStart, 8);
  EXPECT_EQ(got.loopLength, 16);
  EXPECT_EQ(got.volume, 64);
  EXPECT_EQ(got.finetune, -5);
  EXPECT_EQ(got.type, kLoopForward);
  EXPECT_EQ(got.panning, 17);
  EXPECT_EQ(got.relativeNote, -12);
  EXPECT_EQ(song.instruments[1]->samples[1].volume, 64);
}

// ------------------------------------------------------------------ sample data

TEST(XmSampleData, DeltaCodingIsUndoneForBothWidths) {
  XmModulePlan plan = oneNoteSong(0x0103);
  XmSamplePlan wide;
  wide.sixteenBit = true;
  wide.pcm = {0, 1000, -1000, 32767, -32768, 5};
  XmSamplePlan narrow;
  narrow.pcm = {0, 127, -128, 1, -1, 60};
  plan.instruments[0].samples = {narrow, wide};
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  const Sample& n = song.instruments[1]->samples[0];
  const Sample& w = song.instruments[1]->samples[1];
  ASSERT_EQ(n.length, 6);
  ASSERT_EQ(w.length, 12);
  EXPECT_EQ(w.type, kSample16Bit);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(n.data[i], narrow.pcm[i]);
    int16_t word;
    std::memcpy(&word, w.data + 2 * i, 2);
    EXPECT_EQ(word, wide.pcm[i]);
  }
}

TEST(XmSampleData, OddSixteenBitLengthLeavesTheLastByteAsRead) {
  XmModulePlan plan = oneNoteSong();
  XmSamplePlan s;
  s.sixteenBit = true;
  s.lengthBytes = 5;
  s.rawData = std::vector<uint8_t>{0x10, 0x00, 0x10, 0x00, 0x7F};  // +16, +16, odd byte
  s.loopKind = 1;  // a loop over word 0 keeps the guard (word 1) off the odd byte
  s.loopLengthBytes = 2;
  XmSamplePlan one = s;
  one.lengthBytes = 1;
  one.rawData = std::vector<uint8_t>{0x55};
  plan.instruments[0].samples = {s, one};
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  const Sample& got = song.instruments[1]->samples[0];
  int16_t words[2];
  std::memcpy(words, got.data, 4);
  EXPECT_EQ(words[0], 16);
  EXPECT_EQ(words[1], 16);  // the guard: the loop's first word
  EXPECT_EQ(static_cast<uint8_t>(got.data[4]), 0x7F);
  const Sample& single = song.instruments[1]->samples[1];
  EXPECT_EQ(single.length, 1);
  EXPECT_EQ(static_cast<uint8_t>(single.data[0]), 0x55);  // no frames, no guard
}

TEST(XmSampleData, NonPositiveLengthsHaveNoData) {
  XmModulePlan plan = oneNoteSong();
  XmSamplePlan negative;
  negative.lengthBytes = -100;
  negative.loopStartBytes = 5;
  negative.loopLengthBytes = 5;
  negative.loopKind = 1;
  plan.instruments[0].samples.insert(plan.instruments[0].samples.begin(), negative);
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  const Sample& got = song.instruments[1]->samples[0];
  EXPECT_EQ(got.data, nullptr);
  EXPECT_EQ(got.length, 0);
  EXPECT_EQ(got.loopStart, 0);
  EXPECT_EQ(got.loopLength, 0);
  EXPECT_EQ(song.instruments[1]->samples[1].length, 64);
}

TEST(XmSampleData, SampleCutByTheEndHoldsItsLastValue) {
  for (bool sixteenBit : {false, true}) {
    SCOPED_TRACE(sixteenBit ? "16-bit" : "8-bit");
    XmModulePlan plan = oneNoteSong();
    XmSamplePlan s;
    s.sixteenBit = sixteenBit;
    for (int i = 0; i < 100; ++i) s.pcm.push_back(static_cast<int16_t>(i));
    plan.instruments[0].samples = {s, s};
    std::vector<uint8_t> bytes = writeXm(plan);
    int unit = sixteenBit ? 2 : 1;
    bytes.resize(bytes.size() - 100 * unit - 60 * unit);  // 40 frames of the first sample remain
    ASSERT_TRUE(loadBytes(engine, bytes));
    const Sample& first = song.instruments[1]->samples[0];
    const Sample& second = song.instruments[1]->samples[1];
    ASSERT_EQ(first.length, 100 * unit);
    ASSERT_NE(second.data, nullptr);
    for (int i = 0; i < 100; ++i) {
      int16_t v = sixteenBit ? static_cast<int16_t>((first.data[2 * i] & 0xFF) | (first.data[2 * i + 1] << 8))
                             : first.data[i];
      EXPECT_EQ(v, i < 40 ? i : 39) << i;
      int16_t w = sixteenBit ? static_cast<int16_t>((second.data[2 * i] & 0xFF) | (second.data[2 * i + 1] << 8))
                             : second.data[i];
      EXPECT_EQ(w, 0) << i;
    }
  }
}

TEST(XmSampleData, ClaimedLengthsNoFileCanJustifyFail) {
  XmModulePlan plan = oneNoteSong();
  XmSamplePlan huge;
  huge.lengthBytes = INT32_MAX;
  plan.instruments[0].samples = {huge};
  EXPECT_FALSE(loadBytes(engine, writeXm(plan)));
  expectReleasedAfterFailure();

  // Many samples, each within the limit, together beyond it.
  plan = oneNoteSong();
  XmSamplePlan large;
  large.lengthBytes = static_cast<int32_t>(kUnsuppliedSampleBytesLimit / 4);
  plan.instruments[0].samples.assign(16, large);
  EXPECT_FALSE(loadBytes(engine, writeXm(plan)));

  // A truncated file missing less than that loads.
  plan.instruments[0].samples.assign(3, large);
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(song.instruments[1]->samples[2].length, large.lengthBytes);
}

TEST(XmSampleData, EndRightAfterTheLastPatternFailsOnlyWithInstruments) {
  XmModulePlan plan = oneNoteSong(0x0104);
  std::vector<uint8_t> bytes = writeXm(plan);
  XmModulePlan noInstruments = plan;
  noInstruments.instruments.clear();
  std::vector<uint8_t> patternsOnly = writeXm(noInstruments);
  ASSERT_TRUE(loadBytes(engine, patternsOnly));
  bytes.resize(patternsOnly.size());
  EXPECT_FALSE(loadBytes(engine, bytes));
  expectReleasedAfterFailure();
}

TEST(XmSampleData, FileOrdersOfBothVersionsReadTheSameSong) {
  for (uint16_t version : {0x0102, 0x0103, 0x0104}) {
    SCOPED_TRACE(version);
    XmModulePlan plan = oneNoteSong(version);
    plan.patterns.resize(3);
    plan.cell(2, 5, 1) = {20, 2, 0, 0, 0};
    XmSamplePlan wide = squareSample(50, 10, 3000);
    wide.sixteenBit = true;
    plan.instruments.push_back(instrumentWith(wide));
    plan.instruments.push_back(XmInstrumentPlan{});
    plan.instruments.push_back(instrumentWith(squareSample(7, 2, -5)));
    ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
    EXPECT_EQ(cellAt(0, 0, 0).note, 49);
    EXPECT_EQ(cellAt(2, 5, 1).note, 20);
    EXPECT_EQ(song.instruments[1]->samples[0].data[0], 100);
    int16_t word;
    std::memcpy(&word, song.instruments[2]->samples[0].data + 10, 2);
    EXPECT_EQ(word, -3000);
    EXPECT_EQ(song.instruments[3], nullptr);
    EXPECT_EQ(song.instruments[4]->samples[0].data[0], -5);
    EXPECT_EQ(song.instruments[4]->samples[0].data[1], 5);
    EXPECT_EQ(songInvariantViolation(song), "");
  }
}

TEST(XmLoad, ANewLoadReplacesThePreviousSong) {
  XmModulePlan plan = oneNoteSong();
  plan.instruments.push_back(instrumentWith(squareSample(5)));
  plan.patterns.resize(4);
  plan.cell(3, 0, 0) = {1, 0, 0, 0, 0};
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  ASSERT_NE(song.patterns[3], nullptr);
  ASSERT_TRUE(loadBytes(engine, writeXm(oneNoteSong())));
  EXPECT_EQ(song.patterns[3], nullptr);
  EXPECT_EQ(song.instruments[2], nullptr);
  EXPECT_EQ(song.instrumentCount, 1);

  EXPECT_FALSE(loadModuleFromMemory(engine, nullptr, 1000));
  EXPECT_EQ(song.songLoaded, 0);
  std::vector<uint8_t> bytes = writeXm(oneNoteSong());
  EXPECT_FALSE(loadModuleFromMemory(engine, bytes.data(), 0));
  EXPECT_EQ(song.instruments[1], nullptr);
  EXPECT_EQ(song.songLoaded, 0);
}

}  // namespace
}  // namespace zv::test
