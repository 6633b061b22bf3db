// A clean player for one test or fuzz run.
#pragma once

#include <cstdint>

#include "audio/player.h"
#include "audio/wav_render.h"
#include "replayer/engine.h"

namespace zv::test {

// Stops any playback or render of `e`, sets its player up at the given settings
// with no song and no MixBuffer, and clears the flow requests (break, jump,
// loop jump, pattern delay) that a song left pending: they survive a reload,
// and one run of the program never loads twice, the tests do.
inline void cleanPlayer(Engine& e, int32_t frequency, int32_t bufferSize, bool interpolation, bool volumeRamping) {
  e.renderActive = false;
  stopPlayback(e);
  setupReplayer(e, frequency, bufferSize, interpolation, volumeRamping);
  e.song.paused = 0;
  e.song.breakRow = 0;
  e.song.positionJump = 0;
  e.song.patternLoopJump = 0;
  e.song.patternDelay = 0;
  e.song.patternDelayCounter = 0;
}

}  // namespace zv::test
