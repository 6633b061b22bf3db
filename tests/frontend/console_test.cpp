// The key actions, the status line and the key poll, in process: no device is
// open, so the audio lock does nothing and the replayer can be inspected.
#include "frontend/console.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>

#include "audio/player.h"
#include "frontend/test_songs.h"
#include "loader/song_memory.h"
#include "replayer/channel.h"
#include "replayer/song.h"
#include "replayer/tick_engine.h"
#include "support/test_engine.h"

namespace zv {
namespace {

using test::engine;
using test::song;
using test::channels;
using test::player;
using test::voices;
class Keys : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(setupReplayer(engine, 44100, 1024, true, true));
    ASSERT_TRUE(test::loadBytes(engine, test::writeXm(test::liveTestSong())));
  }
  void TearDown() override { freeSong(engine); }

  // Somewhere inside a pattern, with sound state that a move must reset.
  void placeAt(int position, int row) {
    setPosition(engine, position, row);
    song.tickCounter = 2;
    song.globalVolume = 20;
    channels[3].volume = 50;
    channels[3].finalVolume = 200;
    channels[3].panning = 10;
  }
  void expectMovedTo(int position, int pattern) {
    EXPECT_EQ(song.songPosition, position);
    EXPECT_EQ(song.patternNumber, pattern);
    EXPECT_EQ(song.row, 0);
    EXPECT_EQ(song.tickCounter, 1);  // the next tick reads row 0
    EXPECT_EQ(song.globalVolume, 64);
    EXPECT_EQ(channels[3].volume, 0);
    EXPECT_EQ(channels[3].finalVolume, 0);
    EXPECT_EQ(channels[3].panning, 128);
  }
};

TEST_F(Keys, PlusMovesToTheNextEntryAndStaysOnTheLast) {
  placeAt(0, 17);
  handleKey(engine, '+');
  expectMovedTo(1, 2);
  placeAt(2, 30);
  handleKey(engine, '+');
  expectMovedTo(2, 0);
}

TEST_F(Keys, MinusMovesToThePreviousEntryAndRestartsEntryZero) {
  placeAt(2, 9);
  handleKey(engine, '-');
  expectMovedTo(1, 2);
  placeAt(0, 40);
  handleKey(engine, '-');
  expectMovedTo(0, 1);
}

TEST_F(Keys, SpaceTogglesPauseEscQuitsOthersDoNothing) {
  running = true;
  placeAt(1, 5);
  handleKey(engine, ' ');
  EXPECT_NE(song.paused, 0);
  handleKey(engine, ' ');
  EXPECT_EQ(song.paused, 0);
  for (int key : {int{'='}, int{'\r'}, int{'\n'}, int{'a'}, int{'['}, int{'A'}, 3, 0, -27, -1, 127}) {
    handleKey(engine, key);
    EXPECT_EQ(song.paused, 0) << key;
    EXPECT_EQ(song.songPosition, 1) << key;
    EXPECT_EQ(song.row, 5) << key;
    EXPECT_EQ(song.globalVolume, 20) << key;
    EXPECT_TRUE(running) << key;
  }
  handleKey(engine, 27);
  EXPECT_FALSE(running);
}

// Standard output captured into a pipe for one call on the test engine.
std::string captureStdout(void (*print)(const Engine&)) {
  fflush(stdout);
  int fds[2];
  if (pipe(fds) != 0) return "";
  int saved = dup(1);
  dup2(fds[1], 1);
  print(engine);
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(fds[1]);
  std::string out;
  char buffer[256];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  return out;
}

TEST_F(Keys, StatusLineIsExact) {
  setPosition(engine, 2, 5);
  EXPECT_EQ(captureStdout(printStatusLine),
            " Pos: 002/003 - Pattern: 000 - Row: 005/064 - Active voices: 00/04         \r");
  song.paused = 1;
  setPosition(engine, 1, 63);
  EXPECT_EQ(captureStdout(printStatusLine),
            " Pos: 001/003 - Pattern: 002 - Row: 063/064 - Active voices: 00/04 (PAUSED)\r");
  song.paused = 0;
}

// ---------------------------------------------------------------- key poll

// Standard input replaced by a pipe for the test's lifetime.
class KeyPollOnAPipe : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe(fds), 0);
    saved = dup(0);
    dup2(fds[0], 0);
    close(fds[0]);
  }
  void TearDown() override {
    if (fds[1] != -1) close(fds[1]);
    dup2(saved, 0);
    close(saved);
  }
  void send(const std::string& bytes) { ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }

  // keyPressed on another thread: a poll that waits would never return.
  bool pollReturnsAtOnce(bool* result) {
    auto poll = std::async(std::launch::async, [] { return keyPressed(); });
    if (poll.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      send("!");  // set the stuck read free so that the test can end
      poll.wait();
      return false;
    }
    *result = poll.get();
    return true;
  }

  int fds[2] = {-1, -1};
  int saved = -1;
};

TEST_F(KeyPollOnAPipe, OpenPipeWithoutDataIsNoKey) {
  bool pressed = true;
  ASSERT_TRUE(pollReturnsAtOnce(&pressed));
  EXPECT_FALSE(pressed);
}

TEST_F(KeyPollOnAPipe, BytesAreKeysOneAtATime) {
  send("+\xe9");
  bool pressed = false;
  ASSERT_TRUE(pollReturnsAtOnce(&pressed));
  EXPECT_TRUE(pressed);
  EXPECT_TRUE(keyPressed());  // the byte read ahead is still pending
  EXPECT_EQ(readKey(), '+');
  ASSERT_TRUE(pollReturnsAtOnce(&pressed));
  EXPECT_TRUE(pressed);
  EXPECT_EQ(readKey(), static_cast<int8_t>(0xe9));
  EXPECT_LT(static_cast<int8_t>(0xe9), 0);
  ASSERT_TRUE(pollReturnsAtOnce(&pressed));
  EXPECT_FALSE(pressed);
}

TEST_F(KeyPollOnAPipe, EndOfInputIsNoKey) {
  close(fds[1]);
  fds[1] = -1;
  for (int i = 0; i < 3; ++i) {
    bool pressed = true;
    ASSERT_TRUE(pollReturnsAtOnce(&pressed));
    EXPECT_FALSE(pressed);
  }
}

TEST_F(KeyPollOnAPipe, RawModeWithoutATerminalChangesNothing) {
  enterRawMode();
  send("x");
  bool pressed = false;
  ASSERT_TRUE(pollReturnsAtOnce(&pressed));
  EXPECT_TRUE(pressed);
  EXPECT_EQ(readKey(), 'x');
  restoreTerminal();
}

}  // namespace
}  // namespace zv
