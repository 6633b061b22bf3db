// Songs for the effect and volume-column tests, written as XM files by the
// module writer and loaded through the loader, then played tick by tick
// with playerTick. Note starts are recorded instead of reaching the voices.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "replayer/channel.h"
#include "support/module_writer.h"
#include "support/test_engine.h"

namespace zv::test {

// Note 49 at finetune 0: the reference period of linear mode.
constexpr uint8_t kNote = 49;
constexpr uint16_t kPeriod = 4608;
constexpr uint16_t kSemitone = 64;  // linear periods per semitone

class EffectSong : public ::testing::Test {
 protected:
  // Two channels, linear frequencies, speed 6, tempo 125, orders {0};
  // instrument 1 plays a looped square wave at volume 64 for every note.
  void SetUp() override;
  void TearDown() override;

  // Writes a cell of pattern 0 (or `pattern`), 64 rows.
  void put(int row, int channel, NoteCell cell, int pattern = 0);
  // Sets the replayer up afresh (channels cleared), writes and loads the
  // song, sets global volume 64 as a playback start does.
  void load();
  // One tick; every channel's status is cleared first, so after it status
  // holds what this tick marked.
  void tick();
  void ticks(int n);

  Channel& ch(int i = 0) { return channels[i]; }
  // Note starts sent to channel `channel`'s voice since load().
  int noteStarts(int channel = 0) const;
  int32_t lastStartPosition(int channel = 0) const;

  XmModulePlan plan;
};

// A cell: note, instrument, volume column, effect, parameter.
inline NoteCell c(uint8_t note, uint8_t instrument = 0, uint8_t volume = 0, uint8_t effect = 0,
                  uint8_t param = 0) {
  return NoteCell{note, instrument, volume, effect, param};
}
// A cell with only an effect.
inline NoteCell fx(uint8_t effect, uint8_t param) { return NoteCell{0, 0, 0, effect, param}; }

}  // namespace zv::test
