// The engine: one playing song and everything its loading, ticks, voice
// updates, mixing and output read and write. A program makes one per song it
// plays and hands it to every operation; two engines share nothing but
// constant tables, so any number may play on any number of threads.
//
// An engine is used by one thread at a time, apart from its own sound
// thread (the device callback of live play, or a render's threads): the
// audio lock and the atomic fields keep those apart, as each operation's
// contract says.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/audio_lock.h"
#include "core/limits.h"
#include "core/player_settings.h"
#include "mixer/voices.h"
#include "replayer/channel.h"
#include "replayer/song.h"

namespace zv {

struct Engine;

// Where a note start sends its voice trigger: the engine's voices when
// `send` is null, else `send` (a render's queue for its mixing thread, or a
// test's record).
struct VoiceUpdateSink {
  void (*send)(void* context, int channelIndex, const VoiceUpdate& update) = nullptr;
  void* context = nullptr;
};

// The sound device the engine plays through in live play, as the device
// (audio/device.h) keeps it.
struct OutputDevice {
  std::atomic<uint32_t> id{0};              // 0: none open
  std::atomic<bool> threadRaised{false};  // the callback thread asked for its priority
};

// What a render keeps between its ticks.
struct RenderState {
  // Every (song position, row) at which a row started, one bit each.
  // Positions above 255 share the order entry they play; rows from 1024 on
  // are not recorded.
  static constexpr int kTrackedPositions = 256;
  static constexpr int kTrackedRows = 1024;

  int32_t savedFrequency = 0;  // the mixing frequency before the render
  uint8_t rowsStarted[kTrackedPositions * kTrackedRows / 8] = {};
};

static_assert(std::atomic<bool>::is_always_lock_free);

struct Engine {
  // Releases the song's blocks and the MixBuffer, after stopping the output
  // (stopOutput). Nothing else may use the engine by then: no render
  // thread runs on it.
  ~Engine();

  Song song{};
  Channel channels[kMaxChannels]{};
  Mixer mixer;
  PlayerSettings player;
  AudioLock audioLock;
  VoiceUpdateSink noteStartSink;
  // Whether playerTick runs each channel's output stage (fade-out,
  // envelopes, auto-vibrato: finalVolume, finalPanning, finalPeriod). A look
  // ahead that only follows the song's course (rows, positions, speed and
  // tempo, which never depend on that stage) turns it off.
  bool channelOutputs = true;
  // Stops the engine's sound output (no callback runs afterwards, no
  // MixBuffer exists); releasing the song calls it first, so no voice reads
  // freed sample data. Installed by the player once output exists.
  void (*stopOutput)(Engine& engine) = nullptr;
  OutputDevice device;
  // Set while a render runs; cleared by the render when it ends, or by the
  // program to stop it. While set, live output is silent.
  std::atomic<bool> renderActive{false};
  RenderState render;
};

// Hands `update` for channel `channelIndex` to `sink`, or to the engine's
// voices when its send is null.
inline void sendVoiceUpdate(Engine& e, const VoiceUpdateSink& sink, int channelIndex, const VoiceUpdate& update) {
  if (sink.send != nullptr) {
    sink.send(sink.context, channelIndex, update);
  } else {
    updateVoice(e.mixer, e.player, channelIndex, update);
  }
}

}  // namespace zv
