#include "replayer/envelopes.h"

#include "replayer/notes.h"

namespace zv {

const int8_t autoVibratoSineTable[256] = {
    0, -2, -3, -5, -6, -8, -9, -11, -12, -14, -16, -17, -19, -20, -22, -23,
    -24, -26, -27, -29, -30, -32, -33, -34, -36, -37, -38, -39, -41, -42, -43, -44,
    -45, -46, -47, -48, -49, -50, -51, -52, -53, -54, -55, -56, -56, -57, -58, -59,
    -59, -60, -60, -61, -61, -62, -62, -62, -63, -63, -63, -64, -64, -64, -64, -64,
    -64, -64, -64, -64, -64, -64, -63, -63, -63, -62, -62, -62, -61, -61, -60, -60,
    -59, -59, -58, -57, -56, -56, -55, -54, -53, -52, -51, -50, -49, -48, -47, -46,
    -45, -44, -43, -42, -41, -39, -38, -37, -36, -34, -33, -32, -30, -29, -27, -26,
    -24, -23, -22, -20, -19, -17, -16, -14, -12, -11, -9, -8, -6, -5, -3, -2,
    0, 2, 3, 5, 6, 8, 9, 11, 12, 14, 16, 17, 19, 20, 22, 23,
    24, 26, 27, 29, 30, 32, 33, 34, 36, 37, 38, 39, 41, 42, 43, 44,
    45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 56, 57, 58, 59,
    59, 60, 60, 61, 61, 62, 62, 62, 63, 63, 63, 64, 64, 64, 64, 64,
    64, 64, 64, 64, 64, 64, 63, 63, 63, 62, 62, 62, 61, 61, 60, 60,
    59, 59, 58, 57, 56, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46,
    45, 44, 43, 42, 41, 39, 38, 37, 36, 34, 33, 32, 30, 29, 27, 26,
    24, 23, 22, 20, 19, 17, 16, 14, 12, 11, 9, 8, 6, 5, 3, 2,
};

namespace {

// One envelope's channel-side position.
struct EnvelopeState {
  uint16_t& tick;
  uint8_t& point;
  uint16_t& value;
  int16_t& delta;
};

// Advances one envelope by a tick and returns its output (8.8, 0..16384 for
// well-formed envelopes). `keyOn` is the channel's key state on entry.
//
// Counts and indices come from the file unchecked, so every point read stays
// inside the 12 points: a count above 12 counts as 12, a point index of 12 or
// more is the envelope's end (the value holds), and a loop whose start index
// is 12 or more is not taken.
uint16_t stepEnvelope(const Envelope& env, const EnvelopeState& st, uint8_t keyOn) {
  const uint8_t count = env.pointCount < kEnvelopePoints ? env.pointCount : kEnvelopePoints;
  const bool sustain = (env.flags & kEnvelopeSustain) != 0;
  const bool loop = (env.flags & kEnvelopeLoop) != 0;

  uint16_t tick = static_cast<uint16_t>(st.tick + 1);
  uint16_t value = st.value;
  int16_t delta = st.delta;
  uint8_t point = st.point;
  uint8_t e = point;
  bool limit = true;

  if (e >= kEnvelopePoints) {
    delta = 0;
  } else if (tick == static_cast<int16_t>(env.points[e].tick)) {  // a point tick of 32768+ is never met
    value = static_cast<uint16_t>(env.points[e].value * 256);
    if (loop && e == env.loopEndPoint && !(sustain && e == env.sustainPoint && keyOn == 0) &&
        env.loopStartPoint < kEnvelopePoints) {
      e = env.loopStartPoint;
      tick = env.points[e].tick;
      value = static_cast<uint16_t>(env.points[e].value * 256);
    }
    const uint8_t n = static_cast<uint8_t>(e + 1);
    if (n >= count) {
      delta = 0;
    } else if (sustain && keyOn == 1 && e == env.sustainPoint) {
      delta = 0;  // held at the sustain point
    } else {
      point = n;
      const int16_t tickN = static_cast<int16_t>(env.points[n].tick);
      const int16_t tickE = static_cast<int16_t>(env.points[e].tick);
      if (tickN > tickE) {
        const int rise = (env.points[n].value - env.points[e].value) * 256;
        delta = static_cast<int16_t>(rise / (tickN - tickE));
        limit = false;
      } else {
        delta = 0;
      }
    }
  } else {
    value = static_cast<uint16_t>(value + delta);
  }

  uint16_t output = value;
  if (limit && value > 16384) {
    delta = 0;
    output = value <= 32768 ? 0 : 16384;
  }
  st.tick = tick;
  st.point = point;
  st.value = value;
  st.delta = delta;
  return output;
}

void fadeOut(Channel& ch) {
  ch.status |= Channel::volumeChanged;
  if (ch.fadeoutVolume < ch.fadeoutSpeed) {
    ch.fadeoutVolume = 0;
    ch.fadeoutSpeed = 0;
  } else {
    ch.fadeoutVolume = static_cast<uint16_t>(ch.fadeoutVolume - ch.fadeoutSpeed);
  }
}

void updateVolume(uint16_t globalVolume, Channel& ch, const Instrument& ins, uint8_t keyOn) {
  if (ch.instrumentMuted != 0) {
    ch.finalVolume = 0;
    return;
  }
  const uint32_t fade = ch.fadeoutVolume;
  const uint32_t volume = ch.outputVolume;
  const uint32_t global = globalVolume;
  if ((ins.volumeEnvelopeFlags & kEnvelopeOn) == 0) {
    ch.finalVolume = static_cast<uint16_t>((((fade * volume) >> 12) * global) >> 7);
    return;
  }
  uint32_t e =
      stepEnvelope(volumeEnvelopeOf(ins),
                   {ch.volumeEnvelopeTick, ch.volumeEnvelopePoint, ch.volumeEnvelopeValue,
                    ch.volumeEnvelopeDelta},
                   keyOn) >> 8;
  // A point value above 64 (only a damaged file has one) would go out
  // unlimited on the tick it is reached and push finalVolume past 256.
  if (e > 64) e = 64;
  ch.finalVolume = static_cast<uint16_t>((((fade * volume * e) >> 18) * global) >> 7);
  ch.status |= Channel::volumeChanged;
}

void updatePanning(Channel& ch, const Instrument& ins, uint8_t keyOn) {
  if ((ins.panningEnvelopeFlags & kEnvelopeOn) == 0) {
    ch.finalPanning = ch.panning;
    return;
  }
  const uint16_t v =
      stepEnvelope(panningEnvelopeOf(ins),
                   {ch.panningEnvelopeTick, ch.panningEnvelopePoint, ch.panningEnvelopeValue,
                    ch.panningEnvelopeDelta},
                   keyOn);
  // Toward the nearer edge, by at most the distance to it.
  const int32_t distance = ch.panning <= 128 ? ch.panning : 256 - ch.panning;
  const int32_t s = static_cast<int16_t>(v - 8192);
  const int32_t offset = (8 * distance * s) >> 16;  // floor
  int32_t p = ch.panning + offset;
  if (p > 255) p = 255;
  if (p < 0) p = 0;  // a point value above 128 wraps s negative
  ch.finalPanning = static_cast<uint8_t>(p);
  ch.status |= Channel::panningChanged;
}

int32_t autoVibratoWave(uint8_t type, uint8_t p) {
  switch (type) {
    case 1:
      return p < 128 ? -64 : 64;
    case 2:
      return ((p >> 1) ^ 64) - 64;
    case 3:
      return ((64 - (p >> 1)) & 127) - 64;
    default:
      return autoVibratoSineTable[p];
  }
}

void updatePeriod(Channel& ch, const Instrument& ins, uint8_t keyOn) {
  if (ins.vibratoDepth == 0) {
    ch.finalPeriod = ch.outputPeriod;
    return;
  }
  uint16_t a;
  if (ch.autoVibratoSweep == 0) {
    a = ch.autoVibratoDepth;
  } else if (keyOn == 0) {
    a = ch.autoVibratoSweep;  // a sweep cut short by the key-off stays at its step
  } else {
    a = static_cast<uint16_t>(ch.autoVibratoSweep + ch.autoVibratoDepth);
    if ((a >> 8) > ins.vibratoDepth) {
      a = static_cast<uint16_t>(ins.vibratoDepth * 256);
      ch.autoVibratoSweep = 0;
    }
    ch.autoVibratoDepth = a;
  }
  const uint8_t p = static_cast<uint8_t>(ch.autoVibratoPosition + ins.vibratoRate);
  ch.autoVibratoPosition = p;
  const int32_t w = autoVibratoWave(ins.vibratoType, p);
  const int32_t swing = (w * static_cast<int16_t>(a)) >> 14;  // floor
  uint16_t q = static_cast<uint16_t>(ch.outputPeriod + swing);
  if (q >= 32000) q = 0;
  ch.finalPeriod = q;
  ch.status |= Channel::periodChanged;
}

}  // namespace

void updateChannelOutput(const Engine& e, Channel& ch) {
  const Instrument& ins = instrumentOf(ch);
  const uint8_t keyOn = ch.keyOn;
  if (keyOn == 0) fadeOut(ch);
  updateVolume(e.song.globalVolume, ch, ins, keyOn);
  updatePanning(ch, ins, keyOn);
  updatePeriod(ch, ins, keyOn);
}

}  // namespace zv
