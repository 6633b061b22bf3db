// An engine's 64 mixer voices, two per channel, and how a channel's changes
// reach its active voice. Runs on the engine's sound thread (device callback
// or render thread) except resetVoices, which takes the engine's audio lock.
#pragma once

#include <cstdint>

#include "core/audio_lock.h"
#include "core/limits.h"
#include "core/player_settings.h"

namespace zv {

struct Voice {
  // flags bits
  static constexpr uint8_t loopKind = 0x03;    // 0 none, 1 forward, bit 0x02 ping-pong
  static constexpr uint8_t backwards = 0x04;   // ping-pong voice on its backward pass
  static constexpr uint8_t stopped = 0x08;     // silent, not advanced
  static constexpr uint8_t sixteenBit = 0x10;
  static constexpr uint8_t fadingOut = 0x20;   // cut voice ramping down; stops at the tick boundary

  const int8_t* sampleData;   // first element of the sample (bytes or 16-bit words)
  const int8_t* reverseBase;  // element 2 x loopStart + loopLength (in elements)
  uint8_t flags;
  uint8_t panning;  // 0 left, 128 centre, 255 almost right
  uint8_t volume;   // 0..255
  int32_t targetLeft;
  int32_t targetRight;
  int32_t currentLeft;   // gains in use while ramping
  int32_t currentRight;
  int32_t rampDeltaLeft;
  int32_t rampDeltaRight;
  int32_t rampSamplesLeft;  // 0 = no ramp running
  int32_t end;         // frames: sample length, or loop end for a looped sample
  int32_t loopStart;   // frames
  int32_t loopLength;  // frames
  int32_t position;    // integer frame, forward coordinates
  int32_t mixRoutine;  // 0..7: bit 0 interpolation, bit 1 ramping, bit 2 16-bit
  uint32_t fraction;   // 16-bit fraction in the upper half; lower half 0 between calls
  uint32_t step;       // 16.16 frames per output frame
};

// What one channel asks of its active voice; only fields whose flag is set are read.
struct VoiceUpdate {
  static constexpr uint8_t updateVolume = 0x01;
  static constexpr uint8_t updatePanning = 0x02;
  static constexpr uint8_t updateStep = 0x04;
  static constexpr uint8_t triggerSample = 0x08;
  static constexpr uint8_t cutVoice = 0x10;
  static constexpr uint8_t quickRamp = 0x20;

  const int8_t* sampleData;
  uint8_t flags;
  uint8_t sampleType;  // the Sample's type byte
  uint16_t volume;     // 0..256
  uint16_t panning;    // low 8 bits taken
  uint32_t step;       // 16.16
  int32_t sampleLength;   // bytes
  int32_t loopStart;      // bytes
  int32_t loopLength;     // bytes
  int32_t startPosition;  // frames
  int32_t tickFrames;     // samplesPerTick: a volume or panning ramp's frames unless quickRamp
};

// (target - current) / frames with the last length's reciprocal kept:
// ramps divide by the tick's length or the short ramp's, the same for most
// updates, and a multiplication is several times faster than a division.
struct RampDivider {
  uint32_t frames = 0;      // the last length divided by
  uint64_t reciprocal = 0;  // ceil(2^64 / frames), for lengths of 2 and more

  // (target - current) / frames, truncating towards zero, for frames >= 1 (0
  // for smaller frames).
  int32_t delta(int32_t target, int32_t current, int32_t frames);
};

// The voices of one engine; every voice stopped and centred, channel c on
// voice 2c, as constructed and after resetVoices.
struct Mixer {
  Mixer();

  Voice voices[kMaxVoices];
  int16_t voiceOfChannel[kMaxChannels];  // active voice of channel c: 2c or 2c+1
  RampDivider rampDivider;               // sound thread only
};

// panTable[i] = round(sqrt(i / 256) x 65536): equal-power gains, i = 0..256.
extern const int32_t panTable[257];

// Applies `update` to the active voice of `channelIndex` (0..31): cut (with
// ramping: fade the old voice out and flip to the other voice), panning,
// volume, gains and ramp, step, trigger. Reads the ramping, interpolation,
// ramp length and amp factor of `player`. Sound thread only.
void updateVoice(Mixer& mixer, const PlayerSettings& player, int channelIndex, const VoiceUpdate& update);

// Under `lock`: every voice zeroed, stopped, centred; voiceOfChannel[c] = 2c.
void resetVoices(Mixer& mixer, const AudioLock& lock);

// Channels below `channelCount` (the song's) whose active voice is playing with
// a volume above 0. Reads without the lock; callers needing a consistent view lock.
uint8_t countActiveVoices(const Mixer& mixer, int channelCount);

}  // namespace zv
