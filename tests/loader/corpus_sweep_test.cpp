// Every real module, cut short at every 1/256 of its length and at each of
// its last 64 lengths, and with 1000 random single-byte changes, loads or
// fails cleanly and then renders 200 ticks without fault. The ticks mix only
// a few frames each at 8 kHz, so the replayer and the voice updates see every
// tick while the sweep stays quick in the sanitizer build.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "loader_test_support.h"
#include "support/hostile_input.h"
#include "support/module_writer.h"
#include "support/test_engine.h"

namespace zv::test {
namespace {

constexpr RenderBudget kSweepBudget{200, int64_t{1} << 40, 24};

RenderOptions sweepOptions(unsigned variant) {
  RenderOptions options;
  options.frequency = 8000;
  options.interpolation = (variant & 1) != 0;
  options.volumeRamping = (variant & 2) != 0;
  return options;
}

std::vector<std::string> corpusNames() {
  std::vector<std::string> names;
  for (const std::string& path : corpusFiles()) names.push_back(path.substr(path.rfind('/') + 1));
  return names;
}

class CorpusSweep : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    bytes_ = readFile(std::string(ZELVIX_CORPUS_DIR) + "/" + GetParam());
    ASSERT_FALSE(bytes_.empty());
  }
  std::vector<uint8_t> bytes_;
};

TEST_P(CorpusSweep, EveryTruncationLoadsOrFailsAndRenders) {
  const size_t size = bytes_.size();
  std::set<size_t> lengths;
  for (size_t k = 0; k < 256; ++k) lengths.insert(size * k / 256);
  for (size_t n = size > 64 ? size - 64 : 0; n <= size; ++n) lengths.insert(n);
  unsigned variant = 0;
  for (size_t n : lengths) {
    ASSERT_EQ(loadAndRender(engine, bytes_.data(), n, sweepOptions(variant++), kSweepBudget), "") << "length " << n;
  }
}

TEST_P(CorpusSweep, SingleByteChangesLoadOrFailAndRender) {
  std::seed_seq seed(GetParam().begin(), GetParam().end());
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes = bytes_;
  const size_t headerRegion = std::min<size_t>(bytes.size(), 8192);
  for (unsigned round = 0; round < 1000; ++round) {
    // Half the changes land in the first 8 KiB, where most of the structure is.
    const size_t at = random() % (round % 2 ? bytes.size() : headerRegion);
    const uint8_t before = bytes[at];
    const uint8_t values[] = {0, 0xFF, 0x80, 0x7F, 1, static_cast<uint8_t>(random())};
    bytes[at] = values[random() % std::size(values)];
    ASSERT_EQ(loadAndRender(engine, bytes.data(), bytes.size(), sweepOptions(round), kSweepBudget), "")
        << "byte " << at << " = " << int{bytes[at]} << " (was " << int{before} << ")";
    bytes[at] = before;
  }
}

std::string testName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusSweep, ::testing::ValuesIn(corpusNames()), testName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusSweep);

TEST(CorpusSweepSet, CorpusPresent) {
  if (corpusNames().empty()) GTEST_SKIP() << "no corpus at " << ZELVIX_CORPUS_DIR;
  SUCCEED();
}

}  // namespace
}  // namespace zv::test
