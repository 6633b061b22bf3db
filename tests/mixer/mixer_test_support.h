// Helpers for the mixer tests: sample blocks laid out as the loader lays them
// out, a MixBuffer installed for the duration of a test, voice set-up, and a
// plain per-sample implementation of the mixing routines to compare against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/player_settings.h"
#include "mixer/mix_routines.h"
#include "mixer/voices.h"
#include "support/test_engine.h"

namespace zv::test {

// A sample data block: `frames` elements, the guard element behind them and
// a zero tail of two bytes, the smallest the loader guarantees.
class SampleBlock {
 public:
  SampleBlock(int32_t frames, bool sixteenBit);
  bool sixteenBit() const { return sixteenBit_; }
  int32_t frames() const { return frames_; }
  int32_t lengthBytes() const { return frames_ * (sixteenBit_ ? 2 : 1); }
  const int8_t* data() const { return bytes_.data(); }
  // Element i on its own scale (-128..127 or -32768..32767); i may be the guard.
  void set(int32_t i, int32_t value);
  int32_t get(int32_t i) const;
  // Elements that a voice may read: the frames, the guard and one element behind it.
  int32_t readableElements() const { return frames_ + 2; }

 private:
  int32_t frames_;
  bool sixteenBit_;
  std::vector<int8_t> bytes_;
};

// Points player.mixBuffer at a zeroed buffer of `frames` frames; restores it after.
class MixBufferScope {
 public:
  explicit MixBufferScope(int32_t frames);
  ~MixBufferScope();
  MixBufferScope(const MixBufferScope&) = delete;
  MixBufferScope& operator=(const MixBufferScope&) = delete;
  int32_t left(int32_t frame) const { return sums_[2 * frame]; }
  int32_t right(int32_t frame) const { return sums_[2 * frame + 1]; }
  std::vector<int32_t>& sums() { return sums_; }
  void clear();

 private:
  std::vector<int32_t> sums_;
  int32_t* savedBuffer_;
  int32_t savedFrames_;
};

// Where a routine called directly adds frame `frame`: in the test engine's
// MixBuffer (as a MixBufferScope installs it).
inline int32_t* mixBufferAt(int32_t frame) { return player.mixBuffer + 2 * static_cast<int64_t>(frame); }

// Sets interpolation and volume ramping for a test; restores them after.
class MixSettingsScope {
 public:
  MixSettingsScope(bool interpolation, bool volumeRamping);
  ~MixSettingsScope();
  MixSettingsScope(const MixSettingsScope&) = delete;
  MixSettingsScope& operator=(const MixSettingsScope&) = delete;

 private:
  bool interpolation_;
  bool volumeRamping_;
  int32_t ampFactor_;
  int32_t rampLength_;
  int32_t samplesPerTick_;
};

// Mixes with the routines of the named instruction set for a test (it must
// be one of mixTargets()); restores the set in use before.
class MixTargetScope {
 public:
  explicit MixTargetScope(const std::string& name);
  ~MixTargetScope();
  MixTargetScope(const MixTargetScope&) = delete;
  MixTargetScope& operator=(const MixTargetScope&) = delete;

 private:
  const MixTarget& saved_;
};

// A playing voice on `block`: loop kind 0 (unlooped, end = frames), 1 or 2
// (end = loopStart + loopLength), at `position` with a 16-bit `fraction`.
Voice playingVoice(const SampleBlock& block, uint8_t loopKind, int32_t loopStart, int32_t loopLength,
                   int32_t position, uint32_t fraction16, uint32_t step);

// A gain that passes an element through unchanged: floor(I x 2^20 / 2^20) = I.
constexpr int32_t kUnitGain = 1 << 20;

// Sets both target and current gains (so ramping and fixed routines agree).
void setGains(Voice& v, int32_t left, int32_t right);

// The routine's table index for a voice on `block`.
int routineIndex(bool sixteenBit, bool interpolation, bool ramping, bool centred);

// The mixing routine of table index `routine`, written sample by sample from
// the formulas with a separate pointer and 32-bit accumulator, repeated loop
// subtraction and exact floor divisions. Adds into `sums` (interleaved
// stereo). Sets `outOfBounds` when it would read an element outside
// 0 .. readableElements - 1 of `block`.
void referenceMix(int routine, Voice& v, int32_t count, int32_t offset, std::vector<int32_t>& sums,
                  const SampleBlock& block, bool& outOfBounds);

}  // namespace zv::test
