// Songs built in code for replayer tests: the fixture owns every pattern and
// instrument it hands to the song and detaches them when it ends. Note starts
// are recorded instead of reaching the voice layer.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "mixer/voices.h"
#include "replayer/channel.h"
#include "replayer/song.h"
#include "support/test_engine.h"

namespace zv::test {

struct RecordedTrigger {
  int channel;
  VoiceUpdate update;
};

class CodeSong : public ::testing::Test {
 protected:
  // Four channels, linear frequencies, speed 6, tempo 125, one order entry
  // naming pattern 0, no patterns, instrument 0 only; rewound.
  void SetUp() override;
  void TearDown() override;

  // The cell of `pattern` at (row, channel); creates the pattern with `rows`
  // rows on first use.
  NoteCell& cell(int pattern, int row, int channel, int rows = 64);
  // Creates instrument `number` (1..128) like a loader would: sample volumes
  // 64, panning 128, every note mapped to sample 0.
  Instrument& instrument(int number);
  void setOrder(std::vector<uint8_t> order, uint16_t restartPosition = 0);
  // rewindSong and the playback start's global volume.
  void start();
  void ticks(int n);

  const std::vector<RecordedTrigger>& triggers() const;
  void clearTriggers();

 private:
  std::vector<std::unique_ptr<NoteCell[]>> patternBlocks_;
  std::vector<std::unique_ptr<Instrument>> instrumentBlocks_;
};

}  // namespace zv::test
