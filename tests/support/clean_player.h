// A clean player for one test or fuzz run.
#pragma once

#include <cstdint>

#include "audio/player.h"
#include "audio/wav_render.h"
#include "replayer/song.h"

namespace zv::test {

// Stops any playback or render, sets the player up at the given settings
// with no song and no MixBuffer, and clears the flow requests (break, jump,
// loop jump, pattern delay) that a song left pending: they survive a reload,
// and one run of the program never loads twice, the tests do.
inline void cleanPlayer(int32_t frequency, int32_t bufferSize, bool interpolation, bool volumeRamping) {
  renderActive = false;
  stopPlayback();
  setupReplayer(frequency, bufferSize, interpolation, volumeRamping);
  song.paused = 0;
  song.breakRow = 0;
  song.positionJump = 0;
  song.patternLoopJump = 0;
  song.patternDelay = 0;
  song.patternDelayCounter = 0;
}

}  // namespace zv::test
