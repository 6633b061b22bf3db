// Row stepping driven by the flow commands of the rows themselves.
#include <gtest/gtest.h>

#include <vector>

#include "code_song.h"
#include "replayer/tick_engine.h"

namespace zv::test {
namespace {

class RowStepping : public CodeSong {
 protected:
  void SetUp() override {
    CodeSong::SetUp();
    setOrder({0, 1, 2});
    for (int p = 0; p < 3; p++) {
      for (int r = 0; r < 64; r++) cell(p, r, 3).note = static_cast<uint8_t>(r % 90 + 1);
    }
  }
  // (position, row) of every row read over `count` ticks; channel 3 plays a
  // note on every row.
  std::vector<std::pair<int, int>> readRows(int count) {
    std::vector<std::pair<int, int>> rows;
    for (int i = 0; i < count; i++) {
      const int position = song.songPosition;
      const int row = song.row;
      const size_t before = triggers().size();
      playerTick(engine);
      if (triggers().size() != before) rows.emplace_back(position, row);
    }
    return rows;
  }
  static NoteCell command(uint8_t effect, uint8_t param) { return {0, 0, 0, effect, param}; }
};

using Rows = std::vector<std::pair<int, int>>;

TEST_F(RowStepping, BreakToRow63AndToRow0) {
  cell(0, 1, 0) = command(13, 0x63);
  cell(1, 63, 0) = command(13, 0x00);
  cell(2, 0, 1) = command(13, 0x64);  // 64 counts as 0
  song.speed = 1;
  start();
  EXPECT_EQ(readRows(5), (Rows{{0, 0}, {0, 1}, {1, 63}, {2, 0}, {0, 0}}));
}

TEST_F(RowStepping, JumpToZeroAndPastTheEnd) {
  cell(0, 1, 0) = command(11, 2);
  cell(2, 0, 0) = command(11, 0);
  song.restartPosition = 1;
  song.speed = 1;
  start();
  EXPECT_EQ(readRows(6), (Rows{{0, 0}, {0, 1}, {2, 0}, {0, 0}, {0, 1}, {2, 0}}));
  cell(0, 2, 0) = command(11, 9);
  start();
  EXPECT_EQ(readRows(4), (Rows{{0, 0}, {0, 1}, {2, 0}, {0, 0}}));
}

TEST_F(RowStepping, PatternDelayWithBreakOnTheSameRow) {
  cell(0, 0, 0) = command(14, 0xE2);
  cell(0, 0, 1) = command(13, 0x05);
  song.speed = 2;
  start();
  // Three passes of row 0; the break lands after the first, row 5 is never read.
  EXPECT_EQ(readRows(7), (Rows{{0, 0}, {1, 6}}));
  EXPECT_EQ(song.patternDelayCounter, 0);
}

TEST_F(RowStepping, PatternLoopPlaysTheRowsAgain) {
  cell(0, 2, 0) = command(14, 0x60);
  cell(0, 4, 0) = command(14, 0x62);
  song.speed = 1;
  start();
  EXPECT_EQ(readRows(12), (Rows{{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 2}, {0, 3}, {0, 4},
                                {0, 2}, {0, 3}, {0, 4}, {0, 5}}));
}

// Loop rows past 255 keep all their bits.
TEST_F(RowStepping, PatternLoopPastRow255ReturnsToItsRow) {
  for (int r = 0; r < 300; r++) cell(3, r, 3, 300).note = static_cast<uint8_t>(r % 90 + 1);
  cell(3, 260, 0) = command(14, 0x60);
  cell(3, 262, 0) = command(14, 0x61);
  setOrder({3, 0});
  song.speed = 1;
  start();
  const Rows rows = readRows(303);
  ASSERT_EQ(rows.size(), 303u);
  EXPECT_EQ(rows[262], (std::pair{0, 262}));
  EXPECT_EQ(rows[263], (std::pair{0, 260}));
  EXPECT_EQ(rows[302], (std::pair{0, 299}));
  // 303 rows played; the next entry starts at the loop row left in breakRow.
  EXPECT_EQ(song.songPosition, 1);
  EXPECT_EQ(song.row, 260);
}

TEST_F(RowStepping, BreakAndLoopOnOneRowStartAtTheLaterWrite) {
  cell(0, 2, 0) = command(14, 0x60);
  cell(0, 4, 0) = command(14, 0x61);
  cell(0, 4, 1) = command(13, 0x10);
  song.speed = 1;
  start();
  EXPECT_EQ(readRows(6), (Rows{{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 10}}));
  // The other way round the loop's row wins, and the jump still moves on.
  cell(0, 4, 0) = command(13, 0x10);
  cell(0, 4, 1) = command(14, 0x61);
  cell(0, 2, 1) = command(14, 0x60);
  cell(0, 2, 0) = {};
  for (Channel& ch : channels) ch.patternLoopCount = 0;
  start();
  EXPECT_EQ(readRows(6), (Rows{{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 2}}));
}

TEST_F(RowStepping, SpeedZeroFromTheSpeedCommand) {
  cell(0, 1, 0) = command(15, 0);
  song.speed = 1;
  start();
  EXPECT_EQ(readRows(2), (Rows{{0, 0}, {0, 1}}));
  EXPECT_EQ(song.speed, 0);
  EXPECT_EQ(song.tickCounter, 0);
  EXPECT_EQ(readRows(65536), (Rows{{0, 2}}));
}

}  // namespace
}  // namespace zv::test
