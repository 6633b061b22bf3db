// The engine the tests of one test program play on, one test after another
// (each sets it up afresh), and the names the tests read its records by:
// `song.row`, `channels[0]`, `player.mixBuffer`, `voices[1]` are this
// engine's. Tests that need engines of their own make them.
#pragma once

#include <atomic>

#include "replayer/engine.h"

namespace zv::test {

inline Engine engine;

inline Song& song = engine.song;
inline Channel (&channels)[kMaxChannels] = engine.channels;
inline PlayerSettings& player = engine.player;
inline Voice (&voices)[kMaxVoices] = engine.mixer.voices;
inline int16_t (&voiceOfChannel)[kMaxChannels] = engine.mixer.voiceOfChannel;
inline std::atomic<bool>& renderActive = engine.renderActive;

}  // namespace zv::test
