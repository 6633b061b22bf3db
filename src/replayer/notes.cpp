#include "replayer/notes.h"

#include "replayer/pitch.h"

namespace zv {

namespace {

// Stands in for ch.instrument while no song was ever loaded.
const Instrument silentInstrument{};

bool envelopeOn(uint8_t flags) { return (flags & kEnvelopeOn) != 0; }

}  // namespace

const Instrument& instrumentOf(const Channel& ch) {
  return ch.instrument != nullptr ? *ch.instrument : silentInstrument;
}

void startNote(Engine& e, uint8_t note, uint8_t effect, uint8_t param, Channel& ch) {
  if (note == 0) {
    note = ch.lastNote;
    if (note == 0) return;
  }
  if (note == kKeyOffNote) {
    keyOff(ch);
    return;
  }
  if (note > kKeyOffNote) return;  // never stored by the readers
  ch.lastNote = note;

  const Instrument* ins = ch.instrumentNumber < kInstrumentSlots
                              ? e.song.instruments[ch.instrumentNumber]
                              : nullptr;
  if (ins == nullptr) ins = e.song.instruments[0];
  if (ins == nullptr) ins = &silentInstrument;
  ch.instrument = ins;
  ch.instrumentMuted = ins->muted;

  ch.sampleIndex = ins->sampleMap[note - 1] & 0x0F;
  const Sample& s = ins->samples[ch.sampleIndex];
  ch.relativeNote = s.relativeNote;

  const uint8_t n = static_cast<uint8_t>(note + ch.relativeNote);
  if (n > 119) return;

  ch.sampleVolume = s.volume;
  ch.samplePanning = s.panning;
  if (effect == 14 && (param >> 4) == 5) {
    ch.finetune = static_cast<int8_t>(16 * (param & 0x0F) - 128);
  } else {
    ch.finetune = s.finetune;
  }
  if (n != 0) {
    const uint16_t period = notePeriodTable(e)[16 * n + (ch.finetune >> 3)];
    ch.realPeriod = period;
    ch.outputPeriod = period;
  }
  ch.status |= Channel::volumeChanged | Channel::periodChanged | Channel::noteTriggered |
               Channel::panningChanged | Channel::quickRamp;

  uint32_t offset = 0;
  if (effect == 9) {
    if (param != 0) ch.sampleOffsetMemory = ch.effectParam;
    offset = ch.sampleOffsetMemory * 256u;
  }
  ch.sampleOffset = offset;
  startVoiceSample(e, s, static_cast<int32_t>(offset));
}

void startVoiceSample(Engine& e, const Sample& sample, int32_t offset) {
  if (e.song.currentChannel < 0 || e.song.currentChannel >= kMaxChannels) return;
  VoiceUpdate update{};
  update.flags = VoiceUpdate::triggerSample | VoiceUpdate::cutVoice;
  update.sampleData = sample.data;
  update.sampleType = sample.type;
  update.sampleLength = sample.length;
  update.loopStart = sample.loopStart;
  update.loopLength = sample.loopLength;
  update.startPosition = offset;
  sendVoiceUpdate(e, e.noteStartSink, e.song.currentChannel, update);
}

void preparePortamento(Engine& e, Channel& ch, const NoteCell& cell, bool instrumentGiven) {
  if (cell.note == kKeyOffNote) {
    keyOff(ch);
  } else if (cell.note != 0) {
    const uint16_t index =
        static_cast<uint16_t>(16 * (cell.note + ch.relativeNote) + (ch.finetune >> 3));
    if (index <= 1935) {
      const uint16_t target = notePeriodTable(e)[index];
      ch.portaTargetPeriod = target;
      if (target == ch.realPeriod) {
        ch.portaDirection = 0;
      } else if (target > ch.realPeriod) {
        ch.portaDirection = 1;
      } else {
        ch.portaDirection = 2;
      }
    }
  }
  if (instrumentGiven) {
    restoreSampleVolumes(ch);
    if (cell.note != kKeyOffNote) retriggerInstrument(ch);
  }
}

void keyOff(Channel& ch) {
  const Instrument& ins = instrumentOf(ch);
  if (envelopeOn(ins.volumeEnvelopeFlags)) {
    // Step back one tick so that an envelope held at its sustain point meets
    // that point again on the next tick, now released. A point index past the
    // 12 points is the envelope's end: nothing to release.
    if (ch.volumeEnvelopePoint < kEnvelopePoints) {
      const uint16_t pointTick = ins.volumeEnvelopePoints[ch.volumeEnvelopePoint].tick;
      if (ch.volumeEnvelopeTick >= pointTick) {
        ch.volumeEnvelopeTick = static_cast<uint16_t>(pointTick - 1);
      }
    }
  } else {
    ch.volume = 0;
    ch.outputVolume = 0;
    ch.status |= Channel::volumeChanged | Channel::quickRamp;
  }
  ch.keyOn = 0;
}

void restoreSampleVolumes(Channel& ch) {
  ch.volume = ch.sampleVolume;
  ch.outputVolume = ch.sampleVolume;
  ch.panning = ch.samplePanning;
  ch.status |= Channel::volumeChanged | Channel::panningChanged | Channel::quickRamp;
}

void retriggerInstrument(Channel& ch) {
  const Instrument& ins = instrumentOf(ch);
  if ((ch.waveControl & 0x04) == 0) ch.vibratoPosition = 0;
  if ((ch.waveControl & 0x40) == 0) ch.tremoloPosition = 0;
  ch.retrigCounter = 0;
  ch.tremorState = 0;
  ch.keyOn = 1;
  // Tick 65535 so that the next step's increment lands on tick 0.
  if (envelopeOn(ins.volumeEnvelopeFlags)) {
    ch.volumeEnvelopeTick = 65535;
    ch.volumeEnvelopePoint = 0;
  }
  if (envelopeOn(ins.panningEnvelopeFlags)) {
    ch.panningEnvelopeTick = 65535;
    ch.panningEnvelopePoint = 0;
  }
  ch.fadeoutSpeed = ins.fadeout;
  ch.fadeoutVolume = 32768;
  if (ins.vibratoDepth != 0) {
    ch.autoVibratoPosition = 0;
    if (ins.vibratoSweep != 0) {
      ch.autoVibratoDepth = 0;
      ch.autoVibratoSweep = static_cast<uint16_t>((ins.vibratoDepth * 256u) / ins.vibratoSweep);
    } else {
      ch.autoVibratoDepth = static_cast<uint16_t>(ins.vibratoDepth * 256);
      ch.autoVibratoSweep = 0;
    }
  }
}

}  // namespace zv
