// Every real module of the corpus loads, and a few header fields match what
// the file's bytes say when read here independently.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "loader/module_loader.h"
#include "loader/song_memory.h"
#include "loader_test_support.h"
#include "support/module_writer.h"

namespace zv::test {
namespace {

bool isXm(const std::vector<uint8_t>& b) {
  return b.size() > 17 && std::memcmp(b.data(), "Extended Module: ", 17) == 0;
}

void expectXmHeader(const std::vector<uint8_t>& b) {
  EXPECT_EQ(0, std::memcmp(song.name, b.data() + 17, 20));
  EXPECT_EQ(song.formatVersion, le16(b, 58));
  EXPECT_EQ(song.songLength, std::min<uint16_t>(le16(b, 64), 256));
  uint16_t restart = le16(b, 66);
  EXPECT_EQ(song.restartPosition, restart > song.songLength ? 0 : restart);
  EXPECT_EQ(song.channelCount, le16(b, 68));
  EXPECT_EQ(song.instrumentCount, le16(b, 72));
  EXPECT_EQ(song.linearFrequencies, le16(b, 74) & 1);
  EXPECT_EQ(song.speed, std::max<uint16_t>(le16(b, 76), 1));
  EXPECT_EQ(song.tempo, le16(b, 78) == 0 ? 125 : le16(b, 78));
  EXPECT_EQ(0, std::memcmp(song.orderList, b.data() + 80, 256));
}

void expectModHeader(const std::vector<uint8_t>& b) {
  EXPECT_EQ(0, std::memcmp(song.name, b.data(), 20));
  std::string signature(reinterpret_cast<const char*>(b.data() + 1080), 4);
  int channels = signature == "M.K." || signature == "M!K!" || signature == "FLT4" ? 4
                 : signature == "OCTA"                                              ? 8
                 : signature[1] == 'C' && signature[2] == 'H' && signature[3] == 'N' ? signature[0] - '0'
                                                                                     : std::stoi(signature.substr(0, 2));
  EXPECT_EQ(song.channelCount, channels) << signature;
  EXPECT_EQ(song.instrumentCount, 31);
  EXPECT_EQ(song.songLength, b[950]);
  EXPECT_EQ(0, std::memcmp(song.orderList, b.data() + 952, 128));
  EXPECT_EQ(song.speed, 6);
  EXPECT_EQ(song.tempo, 125);
  EXPECT_EQ(song.linearFrequencies, 0);
  // Instrument k exists exactly when sample header k has a length.
  for (int k = 1; k <= 31; ++k) {
    uint16_t words = be16(b, 20 + 30 * (k - 1) + 22);
    EXPECT_EQ(song.instruments[k] != nullptr, words != 0) << "instrument " << k;
    if (words != 0) {
      EXPECT_EQ(song.instruments[k]->samples[0].length, words * 2);
    }
  }
}

TEST(Corpus, EveryModuleLoadsWithTheHeaderItsBytesGive) {
  std::vector<std::string> files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "no corpus at " << ZELVIX_CORPUS_DIR;
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    std::vector<uint8_t> bytes = readFile(path);
    ASSERT_FALSE(bytes.empty());
    ASSERT_TRUE(loadModuleFile(engine, path.c_str()));
    EXPECT_EQ(song.songLoaded, 1);
    EXPECT_EQ(songInvariantViolation(song), "");
    if (isXm(bytes)) {
      expectXmHeader(bytes);
    } else {
      expectModHeader(bytes);
    }
  }
  freeSong(engine);
}

// Content decides the format, never the name.
TEST(Corpus, ModNamedXmLoadsAsXm) {
  std::string path = std::string(ZELVIX_CORPUS_DIR) + "/tecnoballz__area1-game2.mod";
  std::vector<uint8_t> bytes = readFile(path);
  if (bytes.empty()) GTEST_SKIP() << "missing " << path;
  ASSERT_TRUE(isXm(bytes));
  ASSERT_TRUE(loadModuleFile(engine, path.c_str()));
  expectXmHeader(bytes);
  EXPECT_GE(song.formatVersion, 0x0102);
  freeSong(engine);
}

}  // namespace
}  // namespace zv::test
