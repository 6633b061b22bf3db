#include "audio/player.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "audio/device.h"
#include "audio/wav_render.h"
#include "core/output_stop.h"
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

// Releasing a song (freeSong, below this layer) stops the output through this.
[[maybe_unused]] const bool outputStopInstalled = (setOutputStop(stopPlayback), true);

int32_t clampFrequency(int32_t frequency) {
  if (frequency < kMinFrequency + 1) return kMinFrequency;
  if (frequency >= kMaxFrequency) return kMaxFrequency;
  return frequency;
}

// The tick lengths of a start: samplesPerTick from the tempo, rampLength as
// 5 ms. Neither is ever 0.
void setTickLengths() {
  song.samplesPerTick = tickFrames(player.mixingFrequency, song.tempo);
  player.rampLength = std::max<int32_t>(1, player.mixingFrequency / 200);
}

// Steps 3 and 4 of the generator for at most the MixBuffer's capacity:
// ticks at their exact frames, every voice mixed in stretches that never
// cross a tick boundary.
void generateFrames(int32_t frames) {
  std::memset(player.mixBuffer, 0, static_cast<size_t>(frames) * 2 * sizeof(int32_t));
  int32_t offset = 0;
  int32_t remaining = frames;
  while (remaining > 0) {
    if (player.samplesLeftInTick <= 0) player.samplesLeftInTick = runTick();
    const int32_t n = std::min(remaining, player.samplesLeftInTick);
    mixAllVoices(n, offset);
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

bool setupReplayer(int32_t frequency, int32_t bufferSize, bool interpolation, bool volumeRamping) {
  closeAudioDevice();
  freeSong();
  for (Channel& ch : channels) ch = Channel{};
  player.mixingFrequency = clampFrequency(frequency);
  computeFrequencyFactors();
  player.bufferSize = bufferSize;
  player.interpolation = interpolation;
  player.volumeRamping = volumeRamping;
  song.tempo = kDefaultTempo;
  song.speed = 6;
  song.linearFrequencies = 1;
  song.periodTable = linearPeriodTable;
  song.tickCounter = 1;
  rewindSong();
  return true;
}

bool startPlayback() {
  if (!song.songLoaded || song.tempo == 0) return false;
  resetVoices();
  resetChannels();
  song.globalVolume = 64;
  setTickLengths();
  if (!allocateMixBuffer(player.bufferSize)) return false;
  if (!openAudioDevice(player.mixingFrequency, player.bufferSize)) return false;
  song.paused = 0;
  return true;
}

void stopPlayback() {
  song.paused = 1;
  closeAudioDevice();  // no callback runs after this
  freeMixBuffer();
  song.globalVolume = 64;
  song.paused = 0;
}

bool restartPlayback() {
  stopPlayback();
  song.patternDelay = 0;
  song.patternDelayCounter = 0;
  setPosition(0, 0);  // the rewind's position step, without its channel reset
  return startPlayback();
}

void stopAndResetChannels() {
  stopPlayback();
  resetChannels();
}

void togglePause() { song.paused ^= 1; }
void pausePlayback() { song.paused = 1; }
void resumePlayback() { song.paused = 0; }

void setInterpolation(bool on) {
  {
    AudioLock lock;
    player.interpolation = on;
  }
  resetVoices();
}

void setVolumeRamping(bool on) {
  {
    AudioLock lock;
    player.volumeRamping = on;
  }
  resetVoices();
}

void setAmp(int32_t amp) {
  if (amp < 2) amp = 1;
  if (amp >= 32) amp = 32;
  player.amp = static_cast<int16_t>(amp);
  player.ampFactor = amp * 8;
}

void setMasterVolume(int32_t volume) {
  if (volume < 1) volume = 0;
  if (volume >= 256) volume = 256;
  player.masterVolume = volume;
  // The sound thread reads and clears the status bits: mark between buffers.
  AudioLock lock;
  for (Channel& ch : channels) ch.status |= Channel::volumeChanged;
}

int32_t getAmp() { return player.amp; }
int32_t getMasterVolume() { return player.masterVolume; }

bool allocateMixBuffer(int32_t frames) {
  if (frames < 1) return false;
  auto* block = static_cast<int32_t*>(std::malloc(static_cast<size_t>(frames) * 2 * sizeof(int32_t)));
  if (block == nullptr) return false;
  int32_t* old;
  {
    AudioLock lock;
    old = player.mixBuffer;
    player.mixBuffer = block;
    player.mixBufferFrames = frames;
    player.samplesLeftInTick = 0;
  }
  std::free(old);
  return true;
}

void freeMixBuffer() {
  int32_t* old;
  {
    AudioLock lock;
    old = player.mixBuffer;
    player.mixBuffer = nullptr;
    player.mixBufferFrames = 0;
  }
  std::free(old);
}

void finishVoiceRamps() {
  const int voiceCount = 2 * song.channelCount;
  for (int v = 0; v < voiceCount; ++v) {
    Voice& voice = voices[v];
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

void sendChannelUpdates(NoteStartSink sink) {
  VoiceUpdate update{};
  update.tickFrames = song.samplesPerTick;
  for (int i = 0; i < song.channelCount; ++i) {
    Channel& ch = channels[i];
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
      update.step = periodToStep(ch.finalPeriod);
    }
    sink(i, update);
  }
}

int32_t runTick() {
  finishVoiceRamps();
  playerTick();
  const int32_t frames = holdTickFrames();
  sendChannelUpdates();
  return frames;
}

int32_t holdTickFrames() {
  // Read after the tick, so a tempo change sets the length of the tick that made it.
  song.samplesPerTick = std::clamp(song.samplesPerTick, 1, maxTickFrames(player.mixingFrequency));
  return song.samplesPerTick;
}

void mixAllVoices(int32_t frames, int32_t offset) {
  const int voiceCount = 2 * song.channelCount;
  for (int v = 0; v < voiceCount; ++v) mixVoice(voices[v], frames, offset);
}

int16_t convertSample(int32_t sum, int32_t masterVolume) {
  int32_t v = std::clamp(sum >> 8, -32768, 32767);
  if (masterVolume != 256) v = (v * masterVolume) >> 8;
  return static_cast<int16_t>(v);
}

void convertMixBuffer(int16_t* out, int32_t frames, int32_t masterVolume) {
  convertSums(out, player.mixBuffer, frames, masterVolume);
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

void fillOutputBuffer(int16_t* out, int32_t frames) {
  if (frames < 1) return;
  if (song.paused != 0 || renderActive || player.mixBuffer == nullptr) {
    std::memset(out, 0, static_cast<size_t>(frames) * 2 * sizeof(int16_t));
    return;
  }
  const int32_t masterVolume = player.masterVolume;
  while (frames > 0) {
    const int32_t chunk = std::min(frames, player.mixBufferFrames);
    generateFrames(chunk);
    convertMixBuffer(out, chunk, masterVolume);
    out += 2 * chunk;
    frames -= chunk;
  }
}

}  // namespace zv
