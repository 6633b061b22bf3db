#include "mixer_test_support.h"

#include <algorithm>
#include <cstring>

#include "replayer/song.h"

namespace zv::test {

SampleBlock::SampleBlock(int32_t frames, bool sixteenBit)
    : frames_(frames), sixteenBit_(sixteenBit), bytes_(static_cast<size_t>(lengthBytes()) + 2 + 2, 0) {}

void SampleBlock::set(int32_t i, int32_t value) {
  if (sixteenBit_) {
    const int16_t v = static_cast<int16_t>(value);
    std::memcpy(&bytes_[2 * static_cast<size_t>(i)], &v, 2);
  } else {
    bytes_[i] = static_cast<int8_t>(value);
  }
}

int32_t SampleBlock::get(int32_t i) const {
  if (!sixteenBit_) return bytes_[i];
  int16_t v;
  std::memcpy(&v, &bytes_[2 * static_cast<size_t>(i)], 2);
  return v;
}

MixBufferScope::MixBufferScope(int32_t frames)
    : sums_(2 * static_cast<size_t>(frames), 0), savedBuffer_(player.mixBuffer), savedFrames_(player.mixBufferFrames) {
  player.mixBuffer = sums_.data();
  player.mixBufferFrames = frames;
}

MixBufferScope::~MixBufferScope() {
  player.mixBuffer = savedBuffer_;
  player.mixBufferFrames = savedFrames_;
}

void MixBufferScope::clear() { std::fill(sums_.begin(), sums_.end(), 0); }

MixSettingsScope::MixSettingsScope(bool interpolation, bool volumeRamping)
    : interpolation_(player.interpolation),
      volumeRamping_(player.volumeRamping),
      ampFactor_(player.ampFactor),
      rampLength_(player.rampLength),
      samplesPerTick_(song.samplesPerTick) {
  player.interpolation = interpolation;
  player.volumeRamping = volumeRamping;
}

MixSettingsScope::~MixSettingsScope() {
  player.interpolation = interpolation_;
  player.volumeRamping = volumeRamping_;
  player.ampFactor = ampFactor_;
  player.rampLength = rampLength_;
  song.samplesPerTick = samplesPerTick_;
}

MixTargetScope::MixTargetScope(const std::string& name) : saved_(mixTargetInUse()) {
  useMixTarget(mixTargetFor(name.c_str()));
}

MixTargetScope::~MixTargetScope() { useMixTarget(saved_); }

Voice playingVoice(const SampleBlock& block, uint8_t loopKind, int32_t loopStart, int32_t loopLength,
                   int32_t position, uint32_t fraction16, uint32_t step) {
  Voice v{};
  v.sampleData = block.data();
  v.flags = static_cast<uint8_t>(loopKind | (block.sixteenBit() ? Voice::sixteenBit : 0));
  v.panning = 128;
  v.volume = 255;
  v.loopStart = loopStart;
  v.loopLength = loopLength;
  v.end = loopKind ? loopStart + loopLength : block.frames();
  v.reverseBase = block.data() + (2 * loopStart + loopLength) * (block.sixteenBit() ? 2 : 1);
  v.position = position;
  v.fraction = fraction16 << 16;
  v.step = step;
  v.mixRoutine = (block.sixteenBit() ? 4 : 0) + (player.volumeRamping ? 2 : 0) + (player.interpolation ? 1 : 0);
  return v;
}

void setGains(Voice& v, int32_t left, int32_t right) {
  v.targetLeft = v.currentLeft = left;
  v.targetRight = v.currentRight = right;
  v.rampDeltaLeft = v.rampDeltaRight = 0;
  v.rampSamplesLeft = 0;
}

int routineIndex(bool sixteenBit, bool interpolation, bool ramping, bool centred) {
  return (interpolation ? 1 : 0) + (ramping ? 2 : 0) + (sixteenBit ? 4 : 0) + (centred ? 8 : 0);
}

namespace {

// Floor division written out, independent of shift semantics.
int64_t floorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if (a % b != 0 && ((a < 0) != (b < 0))) --q;
  return q;
}

int32_t wrap32(int64_t x) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(x))); }

}  // namespace

void referenceMix(int routine, Voice& v, int32_t count, int32_t offset, std::vector<int32_t>& sums,
                  const SampleBlock& block, bool& outOfBounds) {
  const bool interpolation = routine & 1;
  const bool ramping = routine & 2;
  const bool centred = routine & 8;
  const int64_t elementBytes = block.sixteenBit() ? 2 : 1;
  auto read = [&](int64_t i) -> int64_t {  // on the 16-bit scale
    if (i < 0 || i >= block.readableElements()) {
      outOfBounds = true;
      return 0;
    }
    const int32_t e = block.get(static_cast<int32_t>(i));
    return block.sixteenBit() ? e : e * 256;
  };
  if (count <= 0) return;
  int64_t frame = offset;
  int32_t deltaLeft = 0, deltaRight = 0, left = 0, right = 0;
  if (ramping) {
    deltaLeft = v.rampDeltaLeft;
    deltaRight = v.rampDeltaRight;
  } else {
    left = v.targetLeft;
    right = v.targetRight;
  }
  uint32_t lower = 32856;
  int64_t remaining = count;
  const int64_t reverseIndex = (v.reverseBase - v.sampleData) / elementBytes;
  while (remaining > 0) {
    const uint32_t fraction16 = v.fraction >> 16;
    int64_t bound;
    if (v.step == 0) {
      bound = 65535;
    } else {
      const int64_t d = std::min<int64_t>(int64_t{v.end} - v.position - 1, 65535);
      const uint32_t q = static_cast<uint32_t>(d * 65536 + (65535 - fraction16));
      bound = q / v.step + int64_t{1};
    }
    int64_t m = std::min(bound, remaining);
    if (ramping) {
      if (v.rampSamplesLeft != 0) {
        m = std::min<int64_t>(m, v.rampSamplesLeft);
        v.rampSamplesLeft -= static_cast<int32_t>(m);
      } else {
        deltaLeft = deltaRight = 0;
      }
      left = v.currentLeft;
      right = v.currentRight;
    }
    const bool mirrored = (v.flags & 0x06) == 0x06;
    int64_t pointer;
    uint32_t f;
    int64_t displacement;  // 16.16 frames per sample in the direction of the data
    if (mirrored) {
      pointer = reverseIndex - 1 - v.position;
      f = (fraction16 << 16) ^ 0xFFFF0000u;
      displacement = -int64_t{v.step};
    } else {
      pointer = v.position;
      f = fraction16 << 16;
      displacement = v.step;
    }
    f += lower;
    const int64_t integerPart = floorDiv(displacement, 65536);
    const uint32_t fractionalIncrement = static_cast<uint32_t>((displacement - integerPart * 65536) << 16) + 8;
    for (int64_t k = 0; k < m; ++k) {
      const int64_t s0 = read(pointer);
      int64_t value = s0;
      if (interpolation) value = s0 + 2 * floorDiv((read(pointer + 1) - s0) * int64_t{f}, int64_t{1} << 33);
      const int64_t addLeft = floorDiv(value * left, int64_t{1} << 20);
      const int64_t addRight = centred ? addLeft : floorDiv(value * right, int64_t{1} << 20);
      sums[2 * frame] = wrap32(int64_t{sums[2 * frame]} + wrap32(addLeft));
      sums[2 * frame + 1] = wrap32(int64_t{sums[2 * frame + 1]} + wrap32(addRight));
      ++frame;
      const uint64_t sum = uint64_t{f} + fractionalIncrement;
      f = static_cast<uint32_t>(sum);
      pointer += integerPart + static_cast<int64_t>(sum >> 32);
      if (ramping) {
        left = wrap32(int64_t{left} + deltaLeft);
        if (!centred) right = wrap32(int64_t{right} + deltaRight);
      }
    }
    int64_t position;
    if (mirrored) {
      position = reverseIndex - 1 - pointer;
      f ^= 0xFFFF0000u;
    } else {
      position = pointer;
    }
    lower = f & 0xFFFF;
    uint32_t fraction = f & 0xFFFF0000u;
    if (ramping) {
      v.currentLeft = left;
      v.currentRight = centred ? wrap32(int64_t{v.currentRight} + m * deltaRight) : right;
    }
    remaining -= m;
    if (position >= v.end) {
      if ((v.flags & 0x03) == 0 || v.loopLength <= 0) {
        v.flags = 0x08;
        return;
      }
      while (position >= v.end) {
        position -= v.loopLength;
        v.flags ^= 0x04;
      }
    } else if (mirrored && position < v.loopStart) {
      position = v.loopStart;  // a zero step creeping backwards is held at the loop start
      fraction = 0;
    }
    v.position = static_cast<int32_t>(position);
    v.fraction = fraction;
  }
}

}  // namespace zv::test
