// The bounded reader cursor and loading from a file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "loader/module_loader.h"
#include "loader/song_memory.h"
#include "support/module_writer.h"
#include "support/test_engine.h"

namespace zv::test {
namespace {

TEST(ModuleReader, ReadsUpToTheEndAndThenNothing) {
  const uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  ModuleReader r = makeModuleReader(data, 10);
  uint8_t out[16];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(r.read(out, 4), 4u);
  EXPECT_EQ(out[3], 3);
  EXPECT_EQ(r.atEnd, 0);
  EXPECT_EQ(r.remaining, 6u);
  // Reading exactly up to the last byte already sets atEnd.
  EXPECT_EQ(r.read(out, 6), 6u);
  EXPECT_EQ(out[5], 9);
  EXPECT_EQ(r.atEnd, 1);
  EXPECT_EQ(r.remaining, 0u);
  EXPECT_EQ(r.position, data + 10);
  // At the end nothing is copied and the destination keeps its content.
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(r.read(out, 4), 0u);
  EXPECT_EQ(out[0], 0xEE);

  // A read past the end copies what is there.
  r = makeModuleReader(data, 10);
  r.seekTo(7);
  EXPECT_EQ(r.read(out, 16), 3u);
  EXPECT_EQ(out[2], 9);
  EXPECT_EQ(out[3], 0xEE);
  EXPECT_EQ(r.atEnd, 1);

  ModuleReader none = makeModuleReader(nullptr, 0);
  EXPECT_EQ(none.read(out, 4), 0u);
}

TEST(ModuleReader, SeeksStayInsideTheData) {
  const uint8_t data[10] = {};
  ModuleReader r = makeModuleReader(data, 10);
  r.seekTo(10);
  EXPECT_EQ(r.atEnd, 1);
  EXPECT_EQ(r.remaining, 0u);
  r.seek(data + 3);
  EXPECT_EQ(r.atEnd, 0);
  EXPECT_EQ(r.remaining, 7u);
  r.seekTo(UINT64_MAX);
  EXPECT_EQ(r.position, data + 10);
  EXPECT_EQ(r.atEnd, 1);
  r.seekTo(9);
  EXPECT_EQ(r.atEnd, 0);
  r.skip(1);
  EXPECT_EQ(r.atEnd, 1);
  r.seekTo(2);
  r.skip(UINT64_MAX);
  EXPECT_EQ(r.position, data + 10);
  EXPECT_EQ(r.remaining, 0u);
  r.seekTo(2);
  r.skip(3);
  EXPECT_EQ(r.position, data + 5);
  // A target before the start goes to the end: nothing valid lies there.
  r.seek(reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(data) - 1));
  EXPECT_EQ(r.atEnd, 1);
  EXPECT_EQ(r.position, data + 10);
}

TEST(ModuleReader, TakeHandsOutTheBytesInPlace) {
  const uint8_t data[6] = {1, 2, 3, 4, 5, 6};
  ModuleReader r = makeModuleReader(data, 6);
  size_t available;
  EXPECT_EQ(r.take(2, available), data);
  EXPECT_EQ(available, 2u);
  EXPECT_EQ(r.take(10, available), data + 2);
  EXPECT_EQ(available, 4u);
  EXPECT_EQ(r.atEnd, 1);
  EXPECT_EQ(r.take(1, available), nullptr);
  EXPECT_EQ(available, 0u);
}

// ------------------------------------------------------------------ files

class ModuleFiles : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zelvix_loader_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    for (const std::string& f : files) unlink(f.c_str());
    rmdir(dir.c_str());
    freeSong(engine);
  }
  std::string path(const char* name) {
    files.push_back(dir + "/" + name);
    return files.back();
  }
  static std::vector<uint8_t> module() {
    XmModulePlan plan;
    plan.cell(0, 0, 0) = {1, 1, 0, 0, 0};
    plan.instruments.push_back(instrumentWith(squareSample(50)));
    return writeXm(plan);
  }
  // A loaded song to see whether a failed file load leaves it alone.
  static void loadSomething() {
    ASSERT_TRUE(loadBytes(engine, module()));
    ASSERT_EQ(song.songLoaded, 1);
  }
  static void expectStillLoaded() {
    EXPECT_EQ(song.songLoaded, 1);
    EXPECT_NE(song.instruments[1], nullptr);
    EXPECT_NE(song.patterns[0], nullptr);
  }
  std::string dir;
  std::vector<std::string> files;
};

TEST_F(ModuleFiles, ARegularFileLoads) {
  std::string p = path("song.xm");
  ASSERT_TRUE(writeFile(p, module()));
  ASSERT_TRUE(loadModuleFile(engine, p.c_str()));
  EXPECT_EQ(song.instruments[1]->samples[0].length, 50);
}

TEST_F(ModuleFiles, FilesThatCannotBeReadWholeFailAndLeaveTheSong) {
  loadSomething();
  EXPECT_FALSE(loadModuleFile(engine, (dir + "/missing.xm").c_str()));
  expectStillLoaded();
  EXPECT_FALSE(loadModuleFile(engine, dir.c_str()));  // a directory
  expectStillLoaded();
  EXPECT_FALSE(loadModuleFile(engine, nullptr));
  expectStillLoaded();
}

TEST_F(ModuleFiles, AnEmptyFileDoesNotLoad) {
  std::string p = path("empty.xm");
  ASSERT_TRUE(writeFile(p, {}));
  EXPECT_FALSE(loadModuleFile(engine, p.c_str()));
  EXPECT_EQ(song.songLoaded, 0);
}

// A size of 2^32 + n taken as 32 bits would read the first n bytes, which
// here form a valid module.
TEST_F(ModuleFiles, FilesOf4GiBOrMoreFail) {
  std::vector<uint8_t> bytes = module();
  for (uint64_t size : {uint64_t{1} << 32, (uint64_t{1} << 32) + bytes.size()}) {
    std::string p = path(size == (uint64_t{1} << 32) ? "exact.xm" : "over.xm");
    ASSERT_TRUE(writeFile(p, bytes));
    if (truncate(p.c_str(), static_cast<off_t>(size)) != 0) GTEST_SKIP() << "no sparse file of " << size << " bytes";
    loadSomething();
    EXPECT_FALSE(loadModuleFile(engine, p.c_str())) << size;
    expectStillLoaded();
    unlink(p.c_str());
  }
}

}  // namespace
}  // namespace zv::test
