// Lxx: moves a channel's envelopes to a tick position.
#include "replayer/effects.h"
#include "replayer/notes.h"

namespace zv {

namespace {

// One envelope's channel-side position.
struct EnvelopePosition {
  uint16_t& tick;
  uint8_t& point;
  uint16_t& value;
  int16_t& delta;
};

uint16_t pointValue(const EnvelopePoint& p) { return static_cast<uint16_t>(p.value * 256); }

int16_t pointTick(const EnvelopePoint& p) { return static_cast<int16_t>(p.tick); }

// Places the envelope one tick before `t`, so that the next envelope step
// lands on t. The counts come from the file unchecked: a count above 12
// counts as 12. A malformed envelope whose second point does not lie after
// the first stands at point 0 with its value.
void place(const Envelope& env, uint8_t t, EnvelopePosition pos) {
  const uint8_t n = env.pointCount < kEnvelopePoints ? env.pointCount : kEnvelopePoints;
  const EnvelopePoint* p = env.points;
  pos.tick = static_cast<uint16_t>(t - 1);

  int point;
  if (n < 2) {
    point = 0;
    pos.delta = 0;
    pos.value = pointValue(p[0]);
  } else {
    int k = 0;
    while (k < n - 1 && !(t < pointTick(p[k + 1]))) k++;
    if (k == n - 1) {
      point = n - 1;
      pos.delta = 0;
      pos.value = pointValue(p[n - 1]);
    } else if (t == pointTick(p[k])) {
      point = k;  // value and delta as they are
    } else if (pointTick(p[k + 1]) <= pointTick(p[k])) {
      const int before = k > 0 ? k - 1 : 0;
      point = before;
      pos.delta = 0;
      pos.value = pointValue(p[before]);
    } else {
      point = k + 1;
      const int rise = (p[k + 1].value - p[k].value) * 256;
      pos.delta = static_cast<int16_t>(rise / (pointTick(p[k + 1]) - pointTick(p[k])));
      pos.value = static_cast<uint16_t>(pointValue(p[k]) + (t - pointTick(p[k]) - 1) * pos.delta);
    }
  }
  if (point >= n) point = n > 0 ? n - 1 : 0;
  pos.point = static_cast<uint8_t>(point);
}

}  // namespace

void setEnvelopePosition(Channel& ch, uint8_t tick) {
  const Instrument& ins = instrumentOf(ch);
  if ((ins.volumeEnvelopeFlags & kEnvelopeOn) != 0) {
    place(volumeEnvelopeOf(ins), tick,
          {ch.volumeEnvelopeTick, ch.volumeEnvelopePoint, ch.volumeEnvelopeValue,
           ch.volumeEnvelopeDelta});
  }
  // The panning envelope follows the volume envelope's sustain bit, not its own flags.
  if ((ins.volumeEnvelopeFlags & kEnvelopeSustain) != 0) {
    place(panningEnvelopeOf(ins), tick,
          {ch.panningEnvelopeTick, ch.panningEnvelopePoint, ch.panningEnvelopeValue,
           ch.panningEnvelopeDelta});
  }
}

}  // namespace zv
