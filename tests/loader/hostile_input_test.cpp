// Bad input never crashes, hangs or leaks: truncations, random bytes and
// random single-byte changes of generated modules either load (with the
// model's invariants intact) or return false. Meant for the sanitizer build
// too: every input is copied into a block of exactly its size. The real
// modules get the same treatment, with rendering, in corpus_sweep_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "loader/module_loader.h"
#include "loader/song_memory.h"
#include "loader_test_support.h"
#include "support/module_writer.h"
#include "support/sample_modules.h"

namespace zv::test {
namespace {

// Loads `size` bytes of `bytes` from an exactly sized copy; returns what is
// wrong, or "" when the load failed cleanly or produced a sound song.
std::string feed(const uint8_t* bytes, size_t size) {
  std::vector<uint8_t> copy(bytes, bytes + size);
  bool loaded = loadModuleFromMemory(engine, copy.empty() ? nullptr : copy.data(), static_cast<uint32_t>(size));
  if (!loaded) return song.songLoaded == 0 ? "" : "failed load left songLoaded set";
  if (song.songLoaded != 1) return "load without songLoaded";
  return songInvariantViolation(song);
}

#define EXPECT_SOUND(bytes, size, what)                          \
  do {                                                           \
    std::string problem = feed((bytes), (size));                 \
    ASSERT_EQ(problem, "") << what;                              \
  } while (0)

std::vector<std::vector<uint8_t>> generatedModules() {
  return {writeXm(generatedXm(0x0102)), writeXm(generatedXm(0x0103)), writeXm(generatedXm(0x0104)),
          writeMod(generatedMod(false)), writeMod(generatedMod(true))};
}

TEST(HostileInput, EveryTruncationOfGeneratedModules) {
  for (const std::vector<uint8_t>& bytes : generatedModules()) {
    ASSERT_TRUE(loadBytes(engine, bytes));
    for (size_t n = 0; n <= bytes.size(); ++n) EXPECT_SOUND(bytes.data(), n, "length " << n << " of " << bytes.size());
  }
  freeSong(engine);
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
  freeSong(engine);
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
  freeSong(engine);
}

// Counts that promise more than the file holds fail at the first thing missing.
TEST(HostileInput, ClaimsBeyondTheFileFail) {
  XmModulePlan plan;
  plan.cell(0, 0, 0) = {1, 0, 0, 0, 0};
  plan.patternCountOverride = 256;
  EXPECT_FALSE(loadBytes(engine, writeXm(plan)));
  plan.patternCountOverride.reset();
  plan.instrumentCountOverride = 128;
  EXPECT_FALSE(loadBytes(engine, writeXm(plan)));

  // Every pattern at the largest block with a byte or two of data each: the
  // cells no byte can fill pass their allowance, and nothing is left behind.
  plan = XmModulePlan{};
  plan.channelCount = 32;
  for (int p = 0; p < 256; ++p) {
    XmPatternPlan pattern;
    pattern.rows = 1024;
    pattern.rawPackedData = std::vector<uint8_t>{0x81, 1};
    plan.patterns.push_back(pattern);
  }
  plan.instrumentCountOverride = 1;  // and then no instrument
  EXPECT_FALSE(loadBytes(engine, writeXm(plan)));
  for (const NoteCell* p : song.patterns) EXPECT_EQ(p, nullptr);
  freeSong(engine);
}

}  // namespace
}  // namespace zv::test
