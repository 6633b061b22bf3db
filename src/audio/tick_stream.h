// A song's render as a stream that hands out any number of frames at a
// time, for programs that pull their sound (a library caller, an audio
// callback): the render's ticks, each mixed whole into the MixBuffer and
// handed out from there, so that the frames never depend on how many are
// asked for at once. One thread at a time; nothing here allocates but
// startTickStream and tickStreamLength.
#pragma once

#include <cstddef>
#include <cstdint>

#include "replayer/engine.h"

namespace zv {

struct TickStream {
  // Stop where a render stops (its end test and the WAV size bound); else
  // play on through the song's wrap, as live play does.
  bool stopAtEnd = true;
  // 0..256, applied to the 16-bit samples from the next tick on.
  int32_t masterVolume = 256;

  // The tick in the MixBuffer: its frames, how many were handed out, the
  // master volume it is converted with.
  int32_t tickFrames = 0;
  int32_t tickRead = 0;
  int32_t tickMasterVolume = 256;
  uint64_t dataBytes = 0;  // of the ticks made, against the WAV bound
  bool ended = false;      // a stopping stream reached its end: no more frames

  // The song and channels as the stream began, for tickStreamLength. The
  // copy shares the song's blocks and never releases them.
  Song startSong{};
  Channel startChannels[kMaxChannels]{};
};

// Puts `e`, with a song loaded, into render state at its mixing frequency
// and amp, as renderSongToWav does before its first tick: output stopped, a
// MixBuffer for the longest tick, prepareRender. Resets `s` to the song's
// start. False when out of memory.
bool startTickStream(Engine& e, TickStream& s);

// Up to `frames` frames (2 x frames samples, left then right) into `out`;
// returns how many. Fewer than asked only once a stopping stream has ended.
size_t readTickStream(Engine& e, TickStream& s, int16_t* out, size_t frames);

// The frames a stopping stream gives from its start to its end: the ticks
// run without mixing on a copy of the start, so neither `e` nor `s` changes.
// 0 when out of memory.
uint64_t tickStreamLength(const Engine& e, const TickStream& s);

}  // namespace zv
