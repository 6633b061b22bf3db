#include "mixer/voices.h"

#include <algorithm>


namespace zv {

namespace {

// round(sqrt(n)) for the table below; exact halves cannot occur for integers.
constexpr int32_t roundedSquareRoot(uint64_t n) {
  uint64_t r = 0;
  uint64_t bit = uint64_t{1} << 62;
  while (bit > n) bit >>= 2;
  while (bit != 0) {  // digit-by-digit integer square root
    if (n >= r + bit) {
      n -= r + bit;
      r = (r >> 1) + bit;
    } else {
      r >>= 1;
    }
    bit >>= 2;
  }
  // n now holds the remainder N - r^2; sqrt(N) >= r + 1/2 exactly when it exceeds r.
  return static_cast<int32_t>(n > r ? r + 1 : r);
}

void clearVoice(Voice& v) {
  v = Voice{};
  v.flags = Voice::stopped;
  v.panning = 128;
}

void clearVoices(Mixer& m) {
  for (Voice& v : m.voices) clearVoice(v);
  for (int c = 0; c < kMaxChannels; ++c) m.voiceOfChannel[c] = static_cast<int16_t>(2 * c);
}

// A ramp length that can be divided by: the audio engineer keeps both
// lengths at 1 or more, this only keeps a 0 from trapping.
int32_t rampFrames(int32_t frames) { return frames < 1 ? 1 : frames; }

}  // namespace

Mixer::Mixer() { clearVoices(*this); }

int32_t RampDivider::delta(int32_t target, int32_t current, int32_t length) {
  const int64_t difference = static_cast<int64_t>(target) - current;
  if (length <= 1) return length == 1 ? static_cast<int32_t>(difference) : 0;
  const auto divisor = static_cast<uint32_t>(length);
  if (divisor != frames) {
    frames = divisor;
    reciprocal = UINT64_MAX / divisor + 1;
  }
  // |difference| < 2^32 and frames < 2^32, so floor(a x ceil(2^64 / f) / 2^64)
  // is exactly floor(a / f): the error of the reciprocal adds less than a / 2^64 < 1 / f.
  const uint64_t a = static_cast<uint64_t>(difference < 0 ? -difference : difference);
  const auto quotient = static_cast<int64_t>((static_cast<unsigned __int128>(a) * reciprocal) >> 64);
  return static_cast<int32_t>(difference < 0 ? -quotient : quotient);
}

namespace {

void cutVoice(Mixer& m, const PlayerSettings& player, int channelIndex, Voice*& v) {
  if (player.volumeRamping) {
    const int32_t frames = rampFrames(player.rampLength);
    v->flags |= Voice::fadingOut;
    v->volume = 0;
    v->targetLeft = 0;
    v->targetRight = 0;
    v->rampDeltaLeft = m.rampDivider.delta(0, v->currentLeft, frames);
    v->rampDeltaRight = m.rampDivider.delta(0, v->currentRight, frames);
    v->rampSamplesLeft = frames;
    m.voiceOfChannel[channelIndex] = static_cast<int16_t>(m.voiceOfChannel[channelIndex] ^ 1);
    v = &m.voices[m.voiceOfChannel[channelIndex]];
  }
  v->flags = Voice::stopped;
}

// Gains from the stored volume and panning; unsigned products, logical shift.
void updateGains(Mixer& m, const PlayerSettings& player, Voice& v, bool quickRamp, int32_t tickFrames) {
  const uint32_t g = v.volume * static_cast<uint32_t>(player.ampFactor.load(std::memory_order_relaxed));
  v.targetLeft = static_cast<int32_t>((g * static_cast<uint32_t>(panTable[256 - v.panning])) >> 4);
  v.targetRight = static_cast<int32_t>((g * static_cast<uint32_t>(panTable[v.panning])) >> 4);
  if (!player.volumeRamping) return;
  const int32_t frames = rampFrames(quickRamp ? player.rampLength : tickFrames);
  v.rampDeltaLeft = m.rampDivider.delta(v.targetLeft, v.currentLeft, frames);
  v.rampDeltaRight = m.rampDivider.delta(v.targetRight, v.currentRight, frames);
  v.rampSamplesLeft = frames;
}

// Starts the sample of `u` on `v`. A start at or beyond the end, an empty
// sample, or a loop lying outside the sample leaves the voice stopped.
void triggerSample(const PlayerSettings& player, Voice& v, const VoiceUpdate& u) {
  const uint8_t type = u.sampleType & kSampleTypeMask;
  const bool sixteen = (type & kSample16Bit) != 0;
  const int shift = sixteen ? 1 : 0;
  if (u.sampleData == nullptr) return;
  int32_t end;
  if (type & kLoopKindMask) {
    const int32_t ls = u.loopStart >> shift;
    const int32_t ll = u.loopLength >> shift;
    const int64_t loopEnd = static_cast<int64_t>(ls) + ll;
    if (ls < 0 || ll < 0 || loopEnd > (u.sampleLength >> shift)) return;
    const int32_t elementBytes = sixteen ? 2 : 1;
    v.reverseBase = u.sampleData + (2 * static_cast<int64_t>(ls) + ll) * elementBytes;
    v.loopStart = ls;
    v.loopLength = ll;
    end = static_cast<int32_t>(loopEnd);
  } else {
    end = u.sampleLength >> shift;
    if (end <= 0) return;
  }
  // Unsigned: a negative start would read before the data.
  if (static_cast<uint32_t>(u.startPosition) >= static_cast<uint32_t>(end)) return;
  v.end = end;
  v.position = u.startPosition;
  v.fraction = 0;
  v.sampleData = u.sampleData;
  v.mixRoutine = (sixteen ? 4 : 0) + (player.volumeRamping ? 2 : 0) + (player.interpolation ? 1 : 0);
  v.flags = type;
}

}  // namespace

// Equal-power gains: panTable[i] = round(sqrt(i / 256) x 65536).
constexpr int32_t panTable[257] = {
    0, 4096, 5793, 7094, 8192, 9159, 10033, 10837, 11585, 12288, 12953, 13585,
    14189, 14768, 15326, 15864, 16384, 16888, 17378, 17854, 18318, 18770, 19212, 19644,
    20066, 20480, 20886, 21283, 21674, 22058, 22435, 22806, 23170, 23530, 23884, 24232,
    24576, 24915, 25249, 25580, 25905, 26227, 26545, 26859, 27170, 27477, 27780, 28081,
    28378, 28672, 28963, 29251, 29537, 29819, 30099, 30377, 30652, 30924, 31194, 31462,
    31727, 31991, 32252, 32511, 32768, 33023, 33276, 33527, 33776, 34024, 34270, 34514,
    34756, 34996, 35235, 35472, 35708, 35942, 36175, 36406, 36636, 36864, 37091, 37316,
    37540, 37763, 37985, 38205, 38424, 38642, 38858, 39073, 39287, 39500, 39712, 39923,
    40132, 40341, 40548, 40755, 40960, 41164, 41368, 41570, 41771, 41972, 42171, 42369,
    42567, 42763, 42959, 43154, 43348, 43541, 43733, 43925, 44115, 44305, 44494, 44682,
    44869, 45056, 45242, 45427, 45611, 45795, 45977, 46160, 46341, 46522, 46702, 46881,
    47059, 47237, 47415, 47591, 47767, 47942, 48117, 48291, 48465, 48637, 48809, 48981,
    49152, 49322, 49492, 49661, 49830, 49998, 50166, 50332, 50499, 50665, 50830, 50995,
    51159, 51323, 51486, 51649, 51811, 51972, 52134, 52294, 52454, 52614, 52773, 52932,
    53090, 53248, 53405, 53562, 53719, 53874, 54030, 54185, 54340, 54494, 54647, 54801,
    54954, 55106, 55258, 55410, 55561, 55712, 55862, 56012, 56162, 56311, 56459, 56608,
    56756, 56903, 57051, 57198, 57344, 57490, 57636, 57781, 57926, 58071, 58215, 58359,
    58503, 58646, 58789, 58931, 59073, 59215, 59357, 59498, 59639, 59779, 59919, 60059,
    60199, 60338, 60477, 60615, 60753, 60891, 61029, 61166, 61303, 61440, 61576, 61712,
    61848, 61984, 62119, 62254, 62388, 62523, 62657, 62790, 62924, 63057, 63190, 63323,
    63455, 63587, 63719, 63850, 63982, 64113, 64243, 64374, 64504, 64634, 64763, 64893,
    65022, 65151, 65279, 65408, 65536,
};

// The literal table equals round(sqrt(i x 2^24)) for every entry.
constexpr bool panTableIsExact() {
  for (int i = 0; i <= 256; ++i)
    if (panTable[i] != roundedSquareRoot(static_cast<uint64_t>(i) << 24)) return false;
  return true;
}
static_assert(panTableIsExact());

void updateVoice(Mixer& m, const PlayerSettings& player, int channelIndex, const VoiceUpdate& update) {
  if (channelIndex < 0 || channelIndex >= kMaxChannels) return;
  Voice* v = &m.voices[m.voiceOfChannel[channelIndex]];
  const uint8_t f = update.flags;
  if (f & VoiceUpdate::cutVoice) cutVoice(m, player, channelIndex, v);
  if (f & VoiceUpdate::updatePanning) v->panning = static_cast<uint8_t>(update.panning);
  if (f & VoiceUpdate::updateVolume) v->volume = static_cast<uint8_t>(update.volume == 0 ? 0 : update.volume - 1);
  if (f & (VoiceUpdate::updateVolume | VoiceUpdate::updatePanning))
    updateGains(m, player, *v, (f & VoiceUpdate::quickRamp) != 0, update.tickFrames);
  if (f & VoiceUpdate::updateStep) v->step = update.step;
  if (f & VoiceUpdate::triggerSample) triggerSample(player, *v, update);
}

void resetVoices(Mixer& m, const AudioLock& lock) {
  AudioLockHold hold(lock);
  clearVoices(m);
}

uint8_t countActiveVoices(const Mixer& m, int channelCount) {
  const int channels = std::min(channelCount, kMaxChannels);
  uint8_t active = 0;
  for (int c = 0; c < channels; ++c) {
    const Voice& v = m.voices[m.voiceOfChannel[c]];
    if (!(v.flags & Voice::stopped) && v.volume != 0) ++active;
  }
  return active;
}

}  // namespace zv
