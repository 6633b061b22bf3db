#include "audio/tick_stream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "audio/player.h"
#include "audio/wav_render.h"
#include "replayer/tick_engine.h"

namespace zv {

namespace {

// Makes the next tick and mixes it whole into the MixBuffer; false when a
// stopping stream ends instead: the end test fires (it runs, and records the
// row, in both modes), or the tick would pass the WAV size bound.
bool mixNextTick(Engine& e, TickStream& s) {
  if (s.ended) return false;
  const bool songEnded = songEndReached(e);
  if (songEnded && s.stopAtEnd) {
    s.ended = true;
    return false;
  }
  const int32_t frames = std::min(runTick(e), e.player.mixBufferFrames);
  const auto bytes = static_cast<uint64_t>(frames) * 4;
  if (s.stopAtEnd && s.dataBytes + bytes > kMaxWavDataBytes) {
    s.ended = true;
    return false;
  }
  s.dataBytes += bytes;
  std::memset(e.player.mixBuffer, 0, static_cast<size_t>(frames) * 2 * sizeof(int32_t));
  mixAllVoices(e, frames, 0);
  s.tickFrames = frames;
  s.tickRead = 0;
  s.tickMasterVolume = s.masterVolume;
  return true;
}

void discardUpdate(void*, int, const VoiceUpdate&) {}

}  // namespace

bool startTickStream(Engine& e, TickStream& s) {
  const int32_t frequency = e.player.mixingFrequency;
  stopPlayback(e);
  if (!allocateMixBuffer(e, maxTickFrames(frequency))) return false;
  prepareRender(e, frequency, e.player.amp, 0);
  s.tickFrames = 0;
  s.tickRead = 0;
  s.dataBytes = 0;
  s.ended = false;
  s.startSong = e.song;
  std::copy(std::begin(e.channels), std::end(e.channels), s.startChannels);
  return true;
}

size_t readTickStream(Engine& e, TickStream& s, int16_t* out, size_t frames) {
  size_t written = 0;
  while (written < frames) {
    if (s.tickRead == s.tickFrames && !mixNextTick(e, s)) break;
    const auto n = static_cast<int32_t>(std::min<size_t>(frames - written, static_cast<size_t>(s.tickFrames - s.tickRead)));
    convertSums(out + 2 * written, e.player.mixBuffer + 2 * static_cast<size_t>(s.tickRead), n, s.tickMasterVolume);
    s.tickRead += n;
    written += static_cast<size_t>(n);
  }
  return written;
}

uint64_t tickStreamLength(const Engine& e, const TickStream& s) {
  const std::unique_ptr<Engine> copy(new (std::nothrow) Engine());
  if (copy == nullptr) return 0;
  Engine& c = *copy;
  c.song = s.startSong;
  std::copy(std::begin(s.startChannels), std::end(s.startChannels), c.channels);
  c.player.mixingFrequency = e.player.mixingFrequency;
  // The render's ticks as its replayer thread makes them, but only the
  // song's course: the voices never feed back into the replayer, nor do the
  // channels' outputs and status into its rows and positions, so neither is
  // made.
  c.noteStartSink = VoiceUpdateSink{discardUpdate, nullptr};
  c.channelOutputs = false;
  uint64_t bytes = 0;
  while (!songEndReached(c)) {
    playerTick(c);
    const auto tick = static_cast<uint64_t>(holdTickFrames(c)) * 4;
    if (bytes + tick > kMaxWavDataBytes) break;
    bytes += tick;
  }
  // The blocks are the song's, not the copy's.
  for (NoteCell*& cells : c.song.patterns) cells = nullptr;
  for (Instrument*& instrument : c.song.instruments) instrument = nullptr;
  return bytes / 4;
}

}  // namespace zv
