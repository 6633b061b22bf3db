#include "audio/player.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "audio/device.h"
#include "loader/song_memory.h"
#include "mixer/mix_routines.h"
#include "mixer/voices.h"
#include "replayer/pitch.h"
#include "replayer/tick_engine.h"

namespace zv {

namespace {

constexpr int32_t kMinFrequency = 8000;
constexpr int32_t kMaxFrequency = 96000;
constexpr uint16_t kDefaultTempo = 125;

int32_t clampFrequency(int32_t frequency) {
  if (frequency < kMinFrequency + 1) return kMinFrequency;
  if (frequency >= kMaxFrequency) return kMaxFrequency;
  return frequency;
}

// The tick lengths of a start: samplesPerTick from the tempo, rampLength as
// 5 ms. Neither is ever 0.
void setTickLengths(Engine& e) {
  e.song.samplesPerTick = tickFrames(e.player.mixingFrequency, e.song.tempo);
  e.player.rampLength = std::max<int32_t>(1, e.player.mixingFrequency / 200);
}

// Steps 3 and 4 of the generator for at most the MixBuffer's capacity:
// ticks at their exact frames, every voice mixed in stretches that never
// cross a tick boundary.
void generateFrames(Engine& e, int32_t frames) {
  PlayerSettings& player = e.player;
  std::memset(player.mixBuffer, 0, static_cast<size_t>(frames) * 2 * sizeof(int32_t));
  int32_t offset = 0;
  int32_t remaining = frames;
  while (remaining > 0) {
    if (player.samplesLeftInTick <= 0) player.samplesLeftInTick = runTick(e);
    const int32_t n = std::min(remaining, player.samplesLeftInTick);
    mixAllVoices(e, n, offset);
    offset += n;
    player.samplesLeftInTick -= n;
    remaining -= n;
  }
}

}  // namespace

int32_t maxTickFrames(int32_t frequency) { return (5 * frequency) / 2; }

int32_t tickFrames(int32_t frequency, uint16_t tempo) {
  if (tempo == 0) tempo = kDefaultTempo;
  return std::max<int32_t>(1, maxTickFrames(frequency) / tempo);
}

bool setupReplayer(Engine& e, int32_t frequency, int32_t bufferSize, bool interpolation, bool volumeRamping) {
  e.stopOutput = stopPlayback;  // releasing the song must stop the output first
  closeAudioDevice(e);
  freeSong(e);
  for (Channel& ch : e.channels) ch = Channel{};
  e.player.mixingFrequency = clampFrequency(frequency);
  computeFrequencyFactors(e);
  e.player.bufferSize = bufferSize;
  e.player.interpolation = interpolation;
  e.player.volumeRamping = volumeRamping;
  e.song.tempo = kDefaultTempo;
  e.song.speed = 6;
  e.song.linearFrequencies = 1;
  e.song.periodTable = linearPeriodTable;
  e.song.tickCounter = 1;
  rewindSong(e);
  return true;
}

bool startPlayback(Engine& e) {
  if (!e.song.songLoaded || e.song.tempo == 0) return false;
  resetVoices(e.mixer, e.audioLock);
  resetChannels(e);
  e.song.globalVolume = 64;
  setTickLengths(e);
  if (!allocateMixBuffer(e, e.player.bufferSize)) return false;
  if (!openAudioDevice(e, e.player.mixingFrequency, e.player.bufferSize)) return false;
  e.song.paused = 0;
  return true;
}

void stopPlayback(Engine& e) {
  e.song.paused = 1;
  closeAudioDevice(e);  // no callback runs after this
  freeMixBuffer(e);
  e.song.globalVolume = 64;
  e.song.paused = 0;
}

bool restartPlayback(Engine& e) {
  stopPlayback(e);
  e.song.patternDelay = 0;
  e.song.patternDelayCounter = 0;
  setPosition(e, 0, 0);  // the rewind's position step, without its channel reset
  return startPlayback(e);
}

void stopAndResetChannels(Engine& e) {
  stopPlayback(e);
  resetChannels(e);
}

void togglePause(Engine& e) { e.song.paused ^= 1; }
void pausePlayback(Engine& e) { e.song.paused = 1; }
void resumePlayback(Engine& e) { e.song.paused = 0; }

void setInterpolation(Engine& e, bool on) {
  {
    AudioLockHold hold(e.audioLock);
    e.player.interpolation = on;
  }
  resetVoices(e.mixer, e.audioLock);
}

void setVolumeRamping(Engine& e, bool on) {
  {
    AudioLockHold hold(e.audioLock);
    e.player.volumeRamping = on;
  }
  resetVoices(e.mixer, e.audioLock);
}

void setAmp(Engine& e, int32_t amp) {
  if (amp < 2) amp = 1;
  if (amp >= 32) amp = 32;
  e.player.amp = static_cast<int16_t>(amp);
  e.player.ampFactor = amp * 8;
}

void setMasterVolume(Engine& e, int32_t volume) {
  if (volume < 1) volume = 0;
  if (volume >= 256) volume = 256;
  e.player.masterVolume = volume;
  // The sound thread reads and clears the status bits: mark between buffers.
  AudioLockHold hold(e.audioLock);
  for (Channel& ch : e.channels) ch.status |= Channel::volumeChanged;
}

int32_t getAmp(const Engine& e) { return e.player.amp; }
int32_t getMasterVolume(const Engine& e) { return e.player.masterVolume; }

bool allocateMixBuffer(Engine& e, int32_t frames) {
  if (frames < 1) return false;
  auto* block = static_cast<int32_t*>(std::malloc(static_cast<size_t>(frames) * 2 * sizeof(int32_t)));
  if (block == nullptr) return false;
  e.stopOutput = stopPlayback;  // releasing the song must stop the output first
  int32_t* old;
  {
    AudioLockHold hold(e.audioLock);
    old = e.player.mixBuffer;
    e.player.mixBuffer = block;
    e.player.mixBufferFrames = frames;
    e.player.samplesLeftInTick = 0;
  }
  std::free(old);
  return true;
}

void freeMixBuffer(Engine& e) {
  int32_t* old;
  {
    AudioLockHold hold(e.audioLock);
    old = e.player.mixBuffer;
    e.player.mixBuffer = nullptr;
    e.player.mixBufferFrames = 0;
  }
  std::free(old);
}

void finishVoiceRamps(Engine& e) {
  const int voiceCount = 2 * e.song.channelCount;
  for (int v = 0; v < voiceCount; ++v) {
    Voice& voice = e.mixer.voices[v];
    // Most voices have nothing to finish: skipped, which also keeps the
    // compiler from turning the loop into slow gathers across the records.
    if (voice.rampSamplesLeft == 0 && voice.currentLeft == voice.targetLeft &&
        voice.currentRight == voice.targetRight && !(voice.flags & Voice::fadingOut)) {
      continue;
    }
    if (voice.flags & Voice::fadingOut) voice.flags = Voice::stopped;
    voice.currentLeft = voice.targetLeft;
    voice.currentRight = voice.targetRight;
    voice.rampSamplesLeft = 0;
  }
}

void sendChannelUpdates(Engine& e, const VoiceUpdateSink& sink) {
  VoiceUpdate update{};
  update.tickFrames = e.song.samplesPerTick;
  for (int i = 0; i < e.song.channelCount; ++i) {
    Channel& ch = e.channels[i];
    const uint8_t status = ch.status;
    ch.status = 0;
    if (status == 0) continue;
    update.flags = (status & Channel::quickRamp) ? VoiceUpdate::quickRamp : 0;
    if (status & Channel::volumeChanged) {
      update.flags |= VoiceUpdate::updateVolume;
      update.volume = ch.finalVolume;
    }
    if (status & Channel::panningChanged) {
      update.flags |= VoiceUpdate::updatePanning;
      update.panning = ch.finalPanning;
    }
    if (status & Channel::periodChanged) {
      update.flags |= VoiceUpdate::updateStep;
      update.step = periodToStep(e, ch.finalPeriod);
    }
    sendVoiceUpdate(e, sink, i, update);
  }
}

int32_t runTick(Engine& e) {
  finishVoiceRamps(e);
  playerTick(e);
  const int32_t frames = holdTickFrames(e);
  sendChannelUpdates(e);
  return frames;
}

int32_t holdTickFrames(Engine& e) {
  // Read after the tick, so a tempo change sets the length of the tick that made it.
  e.song.samplesPerTick = std::clamp(e.song.samplesPerTick, 1, maxTickFrames(e.player.mixingFrequency));
  return e.song.samplesPerTick;
}

void mixAllVoices(Engine& e, int32_t frames, int32_t offset) {
  const int voiceCount = 2 * e.song.channelCount;
  for (int v = 0; v < voiceCount; ++v) mixVoice(e.player, e.mixer.voices[v], frames, offset);
}

int16_t convertSample(int32_t sum, int32_t masterVolume) {
  int32_t v = std::clamp(sum >> 8, -32768, 32767);
  if (masterVolume != 256) v = (v * masterVolume) >> 8;
  return static_cast<int16_t>(v);
}

void convertMixBuffer(const Engine& e, int16_t* out, int32_t frames, int32_t masterVolume) {
  convertSums(out, e.player.mixBuffer, frames, masterVolume);
}

void convertSums(int16_t* out, const int32_t* sums, int32_t frames, int32_t masterVolume) {
  const int32_t count = 2 * frames;
  if (masterVolume == 256) {
    int32_t i = 0;
#if defined(__SSE2__)
    // The signed-saturating pack is exactly the clamp to 16 bits.
    for (; i + 8 <= count; i += 8) {
      const __m128i low = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + i)), 8);
      const __m128i high = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + i + 4)), 8);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(low, high));
    }
#endif
    for (; i < count; ++i) out[i] = static_cast<int16_t>(std::clamp(sums[i] >> 8, -32768, 32767));
  } else {
    for (int32_t i = 0; i < count; ++i) {
      const int32_t v = std::clamp(sums[i] >> 8, -32768, 32767);
      out[i] = static_cast<int16_t>((v * masterVolume) >> 8);
    }
  }
}

void fillOutputBuffer(Engine& e, int16_t* out, int32_t frames) {
  if (frames < 1) return;
  if (e.song.paused != 0 || e.renderActive || e.player.mixBuffer == nullptr) {
    std::memset(out, 0, static_cast<size_t>(frames) * 2 * sizeof(int16_t));
    return;
  }
  const int32_t masterVolume = e.player.masterVolume;
  while (frames > 0) {
    const int32_t chunk = std::min(frames, e.player.mixBufferFrames);
    generateFrames(e, chunk);
    convertMixBuffer(e, out, chunk, masterVolume);
    out += 2 * chunk;
    frames -= chunk;
  }
}

}  // namespace zv
