// The WAV render: the end test, the file it writes, and how it fails.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "audio/audio_support.h"
#include "audio/player.h"
#include "audio/wav_render.h"
#include "replayer/pitch.h"
#include "replayer/song.h"
#include "support/test_engine.h"

namespace zv {
namespace {

using test::engine;
using test::song;
using test::player;
using test::renderActive;
using test::parseWav;
using test::readFile;
using test::resetPlayer;
using test::TempDir;

class RenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetPlayer();
    ASSERT_FALSE(dir.path().empty());
  }
  void TearDown() override { resetPlayer(); }

  TempDir dir;
};

// ---------------------------------------------------------------- end test

// The state songEndReached sees after a tick.
void placeAt(int16_t position, int16_t row, uint16_t tickCounter, uint16_t speed = 6, uint8_t delay = 0) {
  song.songPosition = position;
  song.row = row;
  song.tickCounter = tickCounter;
  song.speed = speed;
  song.patternDelayCounter = delay;
}

class SongEndTest : public RenderTest {
 protected:
  void SetUp() override {
    RenderTest::SetUp();
    prepareRender(engine, 44100, 4, 0);  // clears the rows started
  }
  void TearDown() override {
    finishRender(engine);
    RenderTest::TearDown();
  }
};

// A row 0 of the last order entry ends nothing by itself: only a move to a
// song position that lands on a row already started does.
TEST_F(SongEndTest, RowZeroOfTheLastOrderEndsOnlyWhenReachedByAMove) {
  placeAt(2, 0, 1);
  EXPECT_FALSE(songEndReached(engine));
  placeAt(2, 1, 1);
  EXPECT_FALSE(songEndReached(engine));
  placeAt(2, 0, 1);  // a pattern loop back to row 0 of the last entry
  EXPECT_FALSE(songEndReached(engine));
  placeAt(3, 0, 1);  // a row 0 never started before, whatever position
  song.positionEntered = 1;
  EXPECT_FALSE(songEndReached(engine));
  placeAt(2, 0, 1);  // a jump back to it
  song.positionEntered = 1;
  EXPECT_TRUE(songEndReached(engine));
}

TEST_F(SongEndTest, SpeedZeroEndsAtOnceUnlessADelayRepeats) {
  placeAt(0, 7, 0, 0);
  EXPECT_TRUE(songEndReached(engine));
  prepareRender(engine, 44100, 4, 0);
  placeAt(0, 7, 0, 0, 2);
  EXPECT_FALSE(songEndReached(engine));
}

TEST_F(SongEndTest, PatternDelayKeepsTheEndBack) {
  placeAt(0, 0, 1);
  EXPECT_FALSE(songEndReached(engine));
  song.positionEntered = 1;
  placeAt(0, 0, 1, 6, 1);
  EXPECT_FALSE(songEndReached(engine));
  placeAt(0, 0, 1, 6, 0);
  EXPECT_TRUE(songEndReached(engine));
}

TEST_F(SongEndTest, PrepareClearsTheRowsStarted) {
  placeAt(0, 0, 1);
  EXPECT_FALSE(songEndReached(engine));
  song.positionEntered = 1;
  prepareRender(engine, 44100, 4, 0);
  EXPECT_EQ(song.positionEntered, 0);
  song.positionEntered = 1;
  placeAt(0, 0, 1);
  EXPECT_FALSE(songEndReached(engine));
}

// The second test: a row start reached by a move to a song position, at a
// (position, row) that already started in this render.
TEST_F(SongEndTest, RowStartedAgainAfterAMoveEnds) {
  placeAt(0, 0, 1);
  EXPECT_FALSE(songEndReached(engine));  // the first row start is recorded too
  placeAt(0, 1, 1);
  EXPECT_FALSE(songEndReached(engine));
  placeAt(0, 0, 1);  // again, without a move (a pattern loop)
  EXPECT_FALSE(songEndReached(engine));
  song.positionEntered = 1;
  placeAt(1, 0, 1);  // a move to a row not started before
  EXPECT_FALSE(songEndReached(engine));
  EXPECT_EQ(song.positionEntered, 0);  // cleared at every row start
  placeAt(0, 1, 1);  // started before, but no move since the last row start
  EXPECT_FALSE(songEndReached(engine));
  song.positionEntered = 1;
  placeAt(0, 1, 3);  // not a row start
  EXPECT_FALSE(songEndReached(engine));
  placeAt(0, 1, 1, 6, 2);  // a pattern delay repeating the row
  EXPECT_FALSE(songEndReached(engine));
  EXPECT_EQ(song.positionEntered, 1);  // neither tested nor cleared
  placeAt(0, 1, 1);
  EXPECT_TRUE(songEndReached(engine));
  // Rows past the table are never recorded.
  for (int i = 0; i < 2; ++i) {
    song.positionEntered = 1;
    placeAt(2, 1024, 1);
    EXPECT_FALSE(songEndReached(engine));
  }
}

// ---------------------------------------------------------------- render state

TEST_F(RenderTest, PrepareAndFinishKeepTheMixingFrequency) {
  setupReplayer(engine, 48000, 1024, true, true);
  computeFrequencyFactors(engine);
  const int32_t amiga = player.amigaStepFactor;
  const int32_t linear = player.linearStepFactor;
  song.tempo = 125;
  setAmp(engine, 7);
  prepareRender(engine, 96000, 3, 0);
  EXPECT_EQ(player.mixingFrequency, 96000);
  EXPECT_EQ(player.ampFactor, 24);
  EXPECT_EQ(song.samplesPerTick, 1920);
  EXPECT_EQ(player.rampLength, 480);
  EXPECT_EQ(song.globalVolume, 64);
  finishRender(engine);
  EXPECT_EQ(player.mixingFrequency, 48000);
  EXPECT_EQ(player.amigaStepFactor, amiga);
  EXPECT_EQ(player.linearStepFactor, linear);
}

// ---------------------------------------------------------------- failures

TEST_F(RenderTest, MissingFolderCannotBeCreated) {
  const std::string path = dir.file("no/such/folder/song.xm.wav");
  renderActive = true;
  EXPECT_EQ(renderSongToWav(engine, path.c_str()), RenderResult::cannotCreateFile);
  EXPECT_FALSE(renderActive);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(RenderTest, PathThroughARegularFileCannotBeCreated) {
  ASSERT_TRUE(test::writeFile(dir.file("plain"), {1, 2, 3}));
  EXPECT_EQ(renderSongToWav(engine, dir.file("plain/song.xm.wav").c_str()), RenderResult::cannotCreateFile);
}

TEST_F(RenderTest, ReadOnlyFolderCannotBeCreated) {
  if (geteuid() == 0) GTEST_SKIP() << "the superuser may write into read-only folders";
  const std::string folder = dir.file("locked");
  ASSERT_EQ(mkdir(folder.c_str(), 0555), 0);
  EXPECT_EQ(renderSongToWav(engine, (folder + "/song.xm.wav").c_str()), RenderResult::cannotCreateFile);
  EXPECT_FALSE(std::filesystem::exists(folder + "/song.xm.wav"));
}

TEST_F(RenderTest, ReadOnlyFileSystemCannotBeCreated) {
  if (!std::filesystem::is_directory("/proc/self")) GTEST_SKIP() << "no /proc";
  EXPECT_EQ(renderSongToWav(engine, "/proc/zelvix-render-test.wav"), RenderResult::cannotCreateFile);
}

TEST_F(RenderTest, FullDeviceIsAWriteError) {
  const std::string path = dir.file("song.xm.wav");
  ASSERT_EQ(symlink("/dev/full", path.c_str()), 0);
  renderActive = true;
  EXPECT_EQ(renderSongToWav(engine, path.c_str(), 1 << 20), RenderResult::writeError);
  EXPECT_FALSE(renderActive);
  EXPECT_EQ(player.mixBuffer, nullptr);
}

// A file-size limit makes a write fail halfway through the data, leaving part
// of a frame: the file is cut back to whole frames and its header counts them.
TEST_F(RenderTest, WriteErrorInTheDataLeavesAMatchingHeader) {
  const std::string path = dir.file("limited.wav");
  const rlim_t limit = 44 + 10002;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit r{limit, limit};
    setrlimit(RLIMIT_FSIZE, &r);
    // No song: 64 absent rows of silent ticks, far more than the limit lets through.
    renderActive = true;
    const RenderResult result = renderSongToWav(engine, path.c_str(), 4000000);
    _exit(static_cast<int>(result));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(RenderResult::writeError));
  const test::WavInfo wav = parseWav(readFile(path));
  EXPECT_TRUE(wav.wellFormed);
  EXPECT_EQ(wav.dataSize, 10000u);
}

// ---------------------------------------------------------------- stopping

// Over a longer file left by an earlier render, written in place: nothing of it may remain.
TEST_F(RenderTest, DataBoundStopsALongRenderAtAWholeTick) {
  const std::string path = dir.file("bounded.wav");
  ASSERT_TRUE(test::writeFile(path, std::vector<uint8_t>(100000, 0xA5)));
  song.tempo = 125;
  // 882-frame ticks: 3528 bytes; the bound lies inside the 11th tick.
  renderActive = true;
  EXPECT_EQ(renderSongToWav(engine, path.c_str(), 3528 * 10 + 1000), RenderResult::ok);
  const test::WavInfo wav = parseWav(readFile(path));
  EXPECT_TRUE(wav.wellFormed);
  EXPECT_EQ(wav.dataSize, 3528u * 10);
  EXPECT_EQ(player.mixingFrequency, 44100);
  EXPECT_EQ(player.mixBuffer, nullptr);
}

// A key or SIGTERM before the render loop starts is not lost: the render
// writes its header and stops without data.
TEST_F(RenderTest, FlagClearedBeforeTheStartIsKept) {
  const std::string path = dir.file("early.wav");
  renderActive = false;
  EXPECT_EQ(renderSongToWav(engine, path.c_str(), 1 << 20), RenderResult::ok);
  const test::WavInfo wav = parseWav(readFile(path));
  EXPECT_TRUE(wav.wellFormed);
  EXPECT_EQ(wav.dataSize, 0u);
}

TEST_F(RenderTest, ClearedFlagStopsTheRenderThreadWithAValidFile) {
  const std::string path = dir.file("stopped.wav");
  // Hours of song: 256 entries of 64 rows at speed 31, tempo 125.
  test::XmModulePlan plan = test::toneSong(64, 2, 256);
  plan.speed = 31;
  ASSERT_TRUE(test::loadBytes(engine, test::writeXm(plan)));
  renderActive = true;
  RenderThread thread;
  ASSERT_TRUE(startRenderThread(thread, engine, path.c_str()));
  EXPECT_FALSE(startRenderThread(thread, engine, path.c_str()));  // one at a time
  // Wait until data reach the file, so the render has passed its start.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::error_code ignored;
  auto dataReached = [&] {
    const auto size = std::filesystem::file_size(path, ignored);
    return !ignored && size > 44;
  };
  while (!dataReached() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  clearRenderFlag(engine);
  EXPECT_EQ(joinRenderThread(thread), RenderResult::ok);
  EXPECT_EQ(joinRenderThread(thread), RenderResult::ok);  // harmless once forgotten
  EXPECT_FALSE(renderActive);
  const test::WavInfo wav = parseWav(readFile(path));
  EXPECT_TRUE(wav.wellFormed);
  EXPECT_GT(wav.dataSize, 0u);
  EXPECT_EQ(wav.dataSize % (882 * 4), 0u);
  // A new thread may be started after the join.
  const std::string unreachable = dir.file("missing/x.wav");
  renderActive = true;
  ASSERT_TRUE(startRenderThread(thread, engine, unreachable.c_str()));
  EXPECT_EQ(joinRenderThread(thread), RenderResult::cannotCreateFile);
}

}  // namespace
}  // namespace zv
