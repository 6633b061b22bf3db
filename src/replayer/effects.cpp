// The effect column's two tables of 36 operations and the steps they share
// with the volume column and the tick engine. The extended command's
// sub-operations are in extended_effects.cpp, Lxx in envelope_position.cpp.
#include "replayer/effects.h"

#include "replayer/notes.h"
#include "replayer/pitch.h"
#include "replayer/tick_engine.h"

namespace zv {

const uint8_t vibratoSineTable[32] = {
    0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212, 224, 235, 244, 250, 253,
    255, 253, 250, 244, 235, 224, 212, 197, 180, 161, 141, 120, 97,  74,  49,  24,
};

uint8_t tickInRow(const Engine& e) { return static_cast<uint8_t>(e.song.speed - e.song.tickCounter); }

namespace {

constexpr uint16_t kLowestPeriod = 1;
constexpr uint16_t kHighestPeriod = 31999;

// A parameter of 0 means the memory; the parameter used is remembered.
uint8_t withMemory(uint8_t param, uint8_t& memory) {
  if (param == 0) param = memory;
  memory = param;
  return param;
}

// The slide rule of A, H and P: a parameter up to 0x0F slides down by it,
// anything larger slides up by its high nibble (the low nibble is ignored).
int slid(int value, uint8_t param, int highest) {
  if (param <= 0x0F) {
    value -= param;
    return value > 0 ? value : 0;
  }
  value += param >> 4;
  return value < highest ? value : highest;
}

void markSongChannelsVolumeChanged(Engine& e) {
  const int count = e.song.channelCount < kMaxChannels ? e.song.channelCount : kMaxChannels;
  for (int i = 0; i < count; i++) e.channels[i].status |= Channel::volumeChanged;
}

void volumeSlide(Channel& ch, uint8_t param) {
  param = withMemory(param, ch.volumeSlideMemory);
  const uint8_t v = static_cast<uint8_t>(slid(ch.volume, param, 64));
  ch.volume = v;
  ch.outputVolume = v;
  ch.status |= Channel::volumeChanged;
}

// The waveform value 0..255 of a vibrato or tremolo at phase `pos`; the ramp
// takes its sign from `rampPhase` (for the tremolo, the vibrato's phase).
uint8_t waveform(uint8_t wave, uint8_t pos, uint8_t rampPhase) {
  const uint8_t i = (pos >> 2) & 31;
  switch (wave & 3) {
    case 0:
      return vibratoSineTable[i];
    case 1: {
      const uint8_t d = static_cast<uint8_t>(8 * i);
      return rampPhase >= 128 ? static_cast<uint8_t>(d ^ 255) : d;
    }
    default:
      return 255;
  }
}

void tremoloStep(Channel& ch) {
  const uint8_t pos = ch.tremoloPosition;
  const uint8_t d = waveform(ch.waveControl >> 4, pos, ch.vibratoPosition);
  const int delta = (d * ch.tremoloDepth) >> 6;
  int v;
  if (pos < 128) {
    v = ch.volume + delta;
    if (v > 64) v = 64;
  } else {
    v = ch.volume - delta;
    if (v < 0) v = 0;
  }
  ch.outputVolume = static_cast<uint8_t>(v);
  ch.status |= Channel::volumeChanged;
  ch.tremoloPosition = static_cast<uint8_t>(pos + ch.tremoloSpeed);
}

// The volume of a multi-retrigger, before clamping to 0..64.
int retrigVolume(uint8_t command, int v) {
  switch (command & 15) {
    case 1: return v - 1;
    case 2: return v - 2;
    case 3: return v - 4;
    case 4: return v - 8;
    case 5: return v - 16;
    case 6: return v / 2 + v / 8 + v / 16;
    case 7: return v / 2;
    case 9: return v + 1;
    case 10: return v + 2;
    case 11: return v + 4;
    case 12: return v + 8;
    case 13: return v + 16;
    case 14: return v + v / 2;
    case 15: return 2 * v;
    default: return v;  // 0 and 8: no change
  }
}

// ---------------------------------------------------------------- operations

void none(Engine&, Channel&, uint8_t) {}

void arpeggioLater(Engine& e, Channel& ch, uint8_t p) { arpeggio(e, ch, p); }

void portamentoUpLater(Engine&, Channel& ch, uint8_t p) {
  portamentoUp(ch, static_cast<uint16_t>(4 * withMemory(p, ch.portaUpMemory)));
}

void portamentoDownLater(Engine&, Channel& ch, uint8_t p) {
  portamentoDown(ch, static_cast<uint16_t>(4 * withMemory(p, ch.portaDownMemory)));
}

void tonePortamentoLater(Engine& e, Channel& ch, uint8_t) { tonePortamentoStep(e, ch); }

void vibratoLater(Engine&, Channel& ch, uint8_t p) {
  if (p != 0) {
    if ((p & 0x0F) != 0) ch.vibratoDepth = p & 0x0F;
    if ((p >> 4) != 0) ch.vibratoSpeed = static_cast<uint8_t>(4 * (p >> 4));
  }
  vibratoStep(ch);
}

void tonePortamentoVolumeSlideLater(Engine& e, Channel& ch, uint8_t p) {
  tonePortamentoStep(e, ch);
  volumeSlide(ch, p);
}

void vibratoVolumeSlideLater(Engine&, Channel& ch, uint8_t p) {
  vibratoStep(ch);
  volumeSlide(ch, p);
}

void tremoloLater(Engine&, Channel& ch, uint8_t p) {
  if (p != 0) {
    if ((p & 0x0F) != 0) ch.tremoloDepth = p & 0x0F;
    if ((p >> 4) != 0) ch.tremoloSpeed = static_cast<uint8_t>(4 * (p >> 4));
  }
  tremoloStep(ch);
}

void setPanning(Engine&, Channel& ch, uint8_t p) {
  ch.panning = p;
  ch.status |= Channel::panningChanged;
}

void volumeSlideLater(Engine&, Channel& ch, uint8_t p) { volumeSlide(ch, p); }

void positionJump(Engine& e, Channel&, uint8_t p) {
  e.song.songPosition = static_cast<int16_t>(p - 1);
  e.song.breakRow = 0;
  e.song.positionJump = 1;
}

void setVolume(Engine&, Channel& ch, uint8_t p) {
  const uint8_t v = p < 64 ? p : 64;
  ch.volume = v;
  ch.outputVolume = v;
  ch.status |= Channel::volumeChanged | Channel::quickRamp;
}

void patternBreak(Engine& e, Channel&, uint8_t p) {
  const int row = 10 * (p >> 4) + (p & 0x0F);
  e.song.breakRow = static_cast<uint16_t>(row < 64 ? row : 0);
  e.song.positionJump = 1;
}

void extendedFirst(Engine& e, Channel& ch, uint8_t p) { firstTickExtended[p >> 4](e, ch, p & 0x0F); }

void extendedLater(Engine& e, Channel& ch, uint8_t p) { laterTickExtended[p >> 4](e, ch, p & 0x0F); }

void setSpeedOrTempo(Engine& e, Channel&, uint8_t p) {
  if (p < 32) {
    e.song.speed = p;
    e.song.tickCounter = p;
  } else {
    e.song.tempo = p;
    setTempo(e, p);
  }
}

void setGlobalVolume(Engine& e, Channel&, uint8_t p) {
  e.song.globalVolume = p < 64 ? p : 64;
  markSongChannelsVolumeChanged(e);
}

void globalVolumeSlideLater(Engine& e, Channel& ch, uint8_t p) {
  p = withMemory(p, ch.globalVolumeSlideMemory);
  e.song.globalVolume = static_cast<uint16_t>(slid(e.song.globalVolume, p, 64));
  markSongChannelsVolumeChanged(e);
}

void keyOffLater(Engine& e, Channel& ch, uint8_t p) {
  if (tickInRow(e) == (p & 31)) keyOff(ch);
}

void envelopePositionFirst(Engine&, Channel& ch, uint8_t p) { setEnvelopePosition(ch, p); }

void panningSlideLater(Engine&, Channel& ch, uint8_t p) {
  p = withMemory(p, ch.panningSlideMemory);
  ch.panning = static_cast<uint8_t>(slid(ch.panning, p, 255));
  ch.status |= Channel::panningChanged;
}

void multiRetrigLater(Engine& e, Channel& ch, uint8_t) { multiRetrigStep(e, ch); }

void tremorLater(Engine&, Channel& ch, uint8_t p) {
  p = withMemory(p, ch.tremorMemory);
  const uint8_t left = ch.tremorState & 0x7F;
  const bool on = (ch.tremorState & 0x80) != 0;
  if (left > 0) {
    ch.tremorState = static_cast<uint8_t>((ch.tremorState & 0x80) | (left - 1));
    ch.outputVolume = on ? ch.volume : 0;
  } else if (on) {
    ch.tremorState = p & 0x0F;
    ch.outputVolume = 0;
  } else {
    ch.tremorState = static_cast<uint8_t>(0x80 + (p >> 4));
    ch.outputVolume = ch.volume;
  }
  ch.status |= Channel::volumeChanged | Channel::quickRamp;
}

void extraFinePortamento(Engine&, Channel& ch, uint8_t p) {
  const uint8_t y = p & 0x0F;
  switch (p >> 4) {
    case 1:
      portamentoUp(ch, withMemory(y, ch.extraFinePortaUpMemory));
      break;
    case 2:
      portamentoDown(ch, withMemory(y, ch.extraFinePortaDownMemory));
      break;
    default:
      break;
  }
}

}  // namespace

// Numbers 3, 5, 9, 20 and 27 have their tick-0 work done by the tick engine
// and the note start; 18, 19, 22-24, 26, 28, 30-32, 34 and 35 are no command.
const EffectOperation firstTickEffects[kEffectCount] = {
    none,                   // 0 arpeggio
    none,                   // 1 portamento up
    none,                   // 2 portamento down
    none,                   // 3 tone portamento
    none,                   // 4 vibrato
    none,                   // 5 tone portamento + volume slide
    none,                   // 6 vibrato + volume slide
    none,                   // 7 tremolo
    setPanning,             // 8
    none,                   // 9 sample offset
    none,                   // A volume slide
    positionJump,           // B
    setVolume,              // C
    patternBreak,           // D
    extendedFirst,          // E
    setSpeedOrTempo,        // F
    setGlobalVolume,        // G
    none,                   // H global volume slide
    none,                   // I
    none,                   // J
    none,                   // K key off
    envelopePositionFirst,  // L
    none,                   // M
    none,                   // N
    none,                   // O
    none,                   // P panning slide
    none,                   // Q
    none,                   // R multi retrig
    none,                   // S
    none,                   // T tremor
    none,                   // U
    none,                   // V
    none,                   // W
    extraFinePortamento,    // X
    none,                   // Y
    none,                   // Z
};

const EffectOperation laterTickEffects[kEffectCount] = {
    arpeggioLater,                   // 0
    portamentoUpLater,               // 1
    portamentoDownLater,             // 2
    tonePortamentoLater,             // 3
    vibratoLater,                    // 4
    tonePortamentoVolumeSlideLater,  // 5
    vibratoVolumeSlideLater,         // 6
    tremoloLater,                    // 7
    none,                            // 8 set panning
    none,                            // 9 sample offset
    volumeSlideLater,                // A
    none,                            // B position jump
    none,                            // C set volume
    none,                            // D pattern break
    extendedLater,                   // E
    none,                            // F set speed / tempo
    none,                            // G set global volume
    globalVolumeSlideLater,          // H
    none,                            // I
    none,                            // J
    keyOffLater,                     // K
    none,                            // L set envelope position
    none,                            // M
    none,                            // N
    none,                            // O
    panningSlideLater,               // P
    none,                            // Q
    multiRetrigLater,                // R
    none,                            // S
    tremorLater,                     // T
    none,                            // U
    none,                            // V
    none,                            // W
    none,                            // X extra fine portamento
    none,                            // Y
    none,                            // Z
};

void portamentoUp(Channel& ch, uint16_t amount) {
  const int16_t period = static_cast<int16_t>(ch.realPeriod - amount);
  ch.realPeriod = period < 2 ? kLowestPeriod : static_cast<uint16_t>(period);
  ch.outputPeriod = ch.realPeriod;
  ch.status |= Channel::periodChanged;
}

void portamentoDown(Channel& ch, uint16_t amount) {
  const uint32_t period = uint32_t{ch.realPeriod} + amount;
  ch.realPeriod = static_cast<uint16_t>(period < kHighestPeriod ? period : kHighestPeriod);
  ch.outputPeriod = ch.realPeriod;
  ch.status |= Channel::periodChanged;
}

void vibratoStep(Channel& ch) {
  const uint8_t pos = ch.vibratoPosition;
  const uint8_t d = waveform(ch.waveControl, pos, pos);
  const uint16_t delta = static_cast<uint16_t>((d * ch.vibratoDepth) >> 5);
  ch.outputPeriod = static_cast<uint16_t>(pos < 128 ? ch.realPeriod + delta : ch.realPeriod - delta);
  ch.status |= Channel::periodChanged;
  ch.vibratoPosition = static_cast<uint8_t>(pos + ch.vibratoSpeed);
}

void tonePortamentoStep(Engine& e, Channel& ch) {
  if (ch.portaDirection == 0) return;
  if (ch.portaDirection == 1) {
    // Formed wide: the sum is compared before it is stored.
    const uint32_t period = uint32_t{ch.realPeriod} + ch.portaSpeed;
    ch.realPeriod = period >= ch.portaTargetPeriod ? ch.portaTargetPeriod
                                                   : static_cast<uint16_t>(period);
  } else {
    const uint16_t period = static_cast<uint16_t>(ch.realPeriod - ch.portaSpeed);
    if (static_cast<int16_t>(period) <= static_cast<int16_t>(ch.portaTargetPeriod)) {
      ch.realPeriod = ch.portaTargetPeriod;
      ch.portaDirection = 1;
    } else {
      ch.realPeriod = period;
    }
  }
  ch.outputPeriod = ch.glissando != 0 ? nearestNotePeriod(e, ch.realPeriod, ch.finetune, 0)
                                      : ch.realPeriod;
  ch.status |= Channel::periodChanged;
}

void multiRetrigStep(Engine& e, Channel& ch) {
  const uint8_t count = static_cast<uint8_t>(ch.retrigCounter + 1);
  if (count < ch.retrigSpeed) {
    ch.retrigCounter = count;
    return;
  }
  ch.retrigCounter = 0;
  int v = retrigVolume(ch.retrigVolumeCommand, ch.volume);
  if (v < 0) v = 0;
  if (v > 64) v = 64;
  ch.volume = static_cast<uint8_t>(v);
  ch.outputVolume = static_cast<uint8_t>(v);
  ch.status |= Channel::volumeChanged;
  reapplyVolumeColumn(ch);
  startNote(e, 0, 0, 0, ch);
}

void reapplyVolumeColumn(Channel& ch) {
  const uint8_t byte = ch.volumeColumn;
  if (byte >= 0x10 && byte <= 0x50) {
    ch.volume = static_cast<uint8_t>(byte - 0x10);
    ch.outputVolume = ch.volume;
    ch.status |= Channel::volumeChanged;
  } else if ((byte >> 4) == 0x0C) {
    ch.panning = static_cast<uint8_t>(16 * (byte & 0x0F));
    ch.status |= Channel::panningChanged;
  }
}

}  // namespace zv
