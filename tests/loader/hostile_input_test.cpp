// Bad input never crashes, hangs or leaks: truncations, random bytes and
// random single-byte changes of generated and real modules either load (with
// the model's invariants intact) or return false. Meant for the sanitizer
// build too: every input is copied into a block of exactly its size.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "loader/module_loader.h"
#include "loader/song_memory.h"
#include "loader_test_support.h"
#include "support/module_writer.h"

namespace zv::test {
namespace {

// Loads `size` bytes of `bytes` from an exactly sized copy; returns what is
// wrong, or "" when the load failed cleanly or produced a sound song.
std::string feed(const uint8_t* bytes, size_t size) {
  std::vector<uint8_t> copy(bytes, bytes + size);
  bool loaded = loadModuleFromMemory(copy.empty() ? nullptr : copy.data(), static_cast<uint32_t>(size));
  if (!loaded) return song.songLoaded == 0 ? "" : "failed load left songLoaded set";
  if (song.songLoaded != 1) return "load without songLoaded";
  return songInvariantViolation();
}

#define EXPECT_SOUND(bytes, size, what)                          \
  do {                                                           \
    std::string problem = feed((bytes), (size));                 \
    ASSERT_EQ(problem, "") << what;                              \
  } while (0)

XmModulePlan generatedXm(uint16_t version) {
  XmModulePlan plan;
  plan.version = version;
  plan.songLength = 3;
  plan.orderList[1] = 1;
  plan.orderList[2] = 2;
  plan.patterns.resize(3);
  plan.patterns[0].rows = 16;
  plan.patterns[1].rows = 8;
  plan.patterns[1].packing = XmPacking::unpacked;
  plan.patterns[2].rows = 12;
  plan.patterns[2].packing = XmPacking::alternating;
  for (int p = 0; p < 3; ++p) {
    for (int r = 0; r < plan.patterns[p].rows; r += 3) {
      plan.cell(p, r, r % 4) = {static_cast<uint8_t>(1 + (r * 7) % 96), static_cast<uint8_t>(1 + r % 3),
                                static_cast<uint8_t>(0x10 + r), static_cast<uint8_t>(r % 36),
                                static_cast<uint8_t>(r * 17)};
    }
  }
  XmInstrumentPlan a = instrumentWith(squareSample(120, 16, 90));
  a.samples[0].loopKind = 1;
  a.samples[0].loopStart = 20;
  a.samples[0].loopLength = 60;
  a.volumeEnvelope = {{{0, 64}, {8, 40}, {30, 0}}, 1, 0, 2, kEnvelopeOn | kEnvelopeSustain, std::nullopt};
  a.vibratoDepth = 4;
  a.vibratoRate = 9;
  a.fadeout = 800;
  XmSamplePlan wide = squareSample(70, 10, 12000);
  wide.sixteenBit = true;
  wide.loopKind = 2;
  wide.loopStart = 10;
  wide.loopLength = 30;
  XmInstrumentPlan b = instrumentWith(wide);
  b.samples.push_back(squareSample(33, 4, 50));
  b.headerSize = 300;
  XmInstrumentPlan empty;
  empty.name = "no samples";
  plan.instruments = {a, b, empty};
  return plan;
}

ModModulePlan generatedMod(bool fifteenSamples) {
  ModModulePlan plan;
  plan.fifteenSamples = fifteenSamples;
  plan.songLength = 3;
  plan.orderList[1] = 1;
  plan.orderList[2] = 0;
  for (int r = 0; r < 64; r += 2) {
    plan.cell(0, r, r % 4) = {static_cast<uint16_t>(113 + r * 20), static_cast<uint8_t>(1 + r % 3),
                              static_cast<uint8_t>(r % 16), static_cast<uint8_t>(r * 5)};
    plan.cell(1, 63 - r, 3) = {428, 2, 0x0C, 80};
  }
  for (int k = 0; k < 3; ++k) {
    ModSamplePlan s;
    for (int i = 0; i < 80 + 20 * k; ++i) s.pcm.push_back(static_cast<int8_t>((i * 37) & 0xFF));
    s.loopStartWords = static_cast<uint16_t>(5 * k);
    s.loopLengthWords = static_cast<uint16_t>(k == 0 ? 0 : 10 * k);
    s.volume = static_cast<uint8_t>(20 * k);
    s.finetuneByte = static_cast<uint8_t>(k * 5);
    plan.samples.push_back(s);
  }
  return plan;
}

std::vector<std::vector<uint8_t>> generatedModules() {
  return {writeXm(generatedXm(0x0102)), writeXm(generatedXm(0x0103)), writeXm(generatedXm(0x0104)),
          writeMod(generatedMod(false)), writeMod(generatedMod(true))};
}

// A few real modules of each format, the smallest first, when the corpus is there.
std::vector<std::vector<uint8_t>> realModules(size_t perFormat) {
  std::vector<std::pair<size_t, std::vector<uint8_t>>> xm, mod;
  for (const std::string& path : corpusFiles()) {
    std::vector<uint8_t> bytes = readFile(path);
    if (bytes.size() < 17) continue;
    bool isXm = std::memcmp(bytes.data(), "Extended Module: ", 17) == 0;
    (isXm ? xm : mod).push_back({bytes.size(), std::move(bytes)});
  }
  std::vector<std::vector<uint8_t>> chosen;
  for (auto* list : {&xm, &mod}) {
    std::sort(list->begin(), list->end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < list->size() && i < perFormat; ++i) chosen.push_back((*list)[i].second);
  }
  return chosen;
}

TEST(HostileInput, EveryTruncationOfGeneratedModules) {
  for (const std::vector<uint8_t>& bytes : generatedModules()) {
    ASSERT_TRUE(loadBytes(bytes));
    for (size_t n = 0; n <= bytes.size(); ++n) EXPECT_SOUND(bytes.data(), n, "length " << n << " of " << bytes.size());
  }
  freeSong();
}

TEST(HostileInput, TruncationsOfRealModules) {
  std::vector<std::vector<uint8_t>> modules = realModules(3);
  if (modules.empty()) GTEST_SKIP() << "no corpus at " << ZELVIX_CORPUS_DIR;
  for (const std::vector<uint8_t>& bytes : modules) {
    // Densely through the headers and first patterns, then spread to the end.
    for (size_t n = 0; n < bytes.size() && n < 1500; n += 7) EXPECT_SOUND(bytes.data(), n, "length " << n);
    for (size_t n = 1500; n < bytes.size(); n += bytes.size() / 150 + 1) EXPECT_SOUND(bytes.data(), n, "length " << n);
    EXPECT_SOUND(bytes.data(), bytes.size() - 1, "one byte short");
  }
  freeSong();
}

TEST(HostileInput, RandomBytes) {
  std::mt19937 random(20240611);
  std::vector<uint8_t> bytes;
  for (int round = 0; round < 600; ++round) {
    bytes.resize(random() % 6000);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    // Give some inputs a way past the format recognition.
    if (round % 3 == 1 && bytes.size() > 80) {
      std::memcpy(bytes.data(), "Extended Module: ", 17);
      bytes[58] = static_cast<uint8_t>(2 + random() % 3);
      bytes[59] = 1;
      bytes[68] = static_cast<uint8_t>(2 * (1 + random() % 16));
      bytes[69] = 0;
      bytes[71] = 0;
      bytes[73] = 0;
    } else if (round % 3 == 2 && bytes.size() > 1084) {
      std::memcpy(bytes.data() + 1080, round % 2 ? "M.K." : "8CHN", 4);
    }
    EXPECT_SOUND(bytes.data(), bytes.size(), "round " << round);
  }
  freeSong();
}

void mutate(std::vector<uint8_t> bytes, std::mt19937& random, int rounds, size_t focus) {
  for (int round = 0; round < rounds; ++round) {
    // Half of the changes land in the first `focus` bytes, where the headers are.
    size_t limit = round % 2 ? bytes.size() : std::min(focus, bytes.size());
    size_t at = random() % limit;
    uint8_t before = bytes[at];
    uint8_t values[] = {0, 0xFF, 0x80, 0x7F, 1, static_cast<uint8_t>(random())};
    bytes[at] = values[random() % std::size(values)];
    EXPECT_SOUND(bytes.data(), bytes.size(), "byte " << at << " = " << int{bytes[at]});
    bytes[at] = before;
  }
}

TEST(HostileInput, SingleByteChangesOfGeneratedModules) {
  std::mt19937 random(7);
  for (const std::vector<uint8_t>& bytes : generatedModules()) mutate(bytes, random, 1500, 1100);
  freeSong();
}

TEST(HostileInput, SingleByteChangesOfRealModules) {
  std::vector<std::vector<uint8_t>> modules = realModules(2);
  if (modules.empty()) GTEST_SKIP() << "no corpus at " << ZELVIX_CORPUS_DIR;
  std::mt19937 random(11);
  for (const std::vector<uint8_t>& bytes : modules) mutate(bytes, random, 250, 1100);
  freeSong();
}

// Counts that promise more than the file holds fail at the first thing missing.
TEST(HostileInput, ClaimsBeyondTheFileFail) {
  XmModulePlan plan;
  plan.cell(0, 0, 0) = {1, 0, 0, 0, 0};
  plan.patternCountOverride = 256;
  EXPECT_FALSE(loadBytes(writeXm(plan)));
  plan.patternCountOverride.reset();
  plan.instrumentCountOverride = 128;
  EXPECT_FALSE(loadBytes(writeXm(plan)));

  // Every pattern at the largest block with a byte or two of data each.
  plan = XmModulePlan{};
  plan.channelCount = 32;
  for (int p = 0; p < 256; ++p) {
    XmPatternPlan pattern;
    pattern.rows = 1024;
    pattern.rawPackedData = std::vector<uint8_t>{0x81, 1};
    plan.patterns.push_back(pattern);
  }
  plan.instrumentCountOverride = 1;  // and then no instrument
  EXPECT_FALSE(loadBytes(writeXm(plan)));
  for (const NoteCell* p : song.patterns) EXPECT_EQ(p, nullptr);
  freeSong();
}

}  // namespace
}  // namespace zv::test
