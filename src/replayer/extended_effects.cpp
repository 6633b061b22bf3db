// The extended command Exy: two tables of 16 sub-operations, given y.
// E5y (finetune) is done by the note start, E90 and ED1..EDF on the first
// tick by the tick engine.
#include "replayer/effects.h"
#include "replayer/notes.h"

namespace zv {

namespace {

void none(Engine&, Channel&, uint8_t) {}

uint8_t withMemory(uint8_t y, uint8_t& memory) {
  if (y == 0) y = memory;
  memory = y;
  return y;
}

void cut(Channel& ch) {
  ch.volume = 0;
  ch.outputVolume = 0;
  ch.status |= Channel::volumeChanged | Channel::quickRamp;
}

void finePortamentoUp(Engine&, Channel& ch, uint8_t y) {
  portamentoUp(ch, static_cast<uint16_t>(4 * withMemory(y, ch.finePortaUpMemory)));
}

void finePortamentoDown(Engine&, Channel& ch, uint8_t y) {
  portamentoDown(ch, static_cast<uint16_t>(4 * withMemory(y, ch.finePortaDownMemory)));
}

void glissandoControl(Engine&, Channel& ch, uint8_t y) { ch.glissando = y; }

void vibratoControl(Engine&, Channel& ch, uint8_t y) {
  ch.waveControl = static_cast<uint8_t>((ch.waveControl & 0xF0) | y);
}

// y = 0 marks the loop start; y > 0 jumps back there y times.
void patternLoop(Engine& e, Channel& ch, uint8_t y) {
  if (y == 0) {
    ch.patternLoopRow = static_cast<uint16_t>(e.song.row);
    return;
  }
  if (ch.patternLoopCount == 0) {
    ch.patternLoopCount = y;
  } else if (--ch.patternLoopCount == 0) {
    return;
  }
  e.song.breakRow = ch.patternLoopRow;
  e.song.patternLoopJump = 1;
}

void tremoloControl(Engine&, Channel& ch, uint8_t y) {
  ch.waveControl = static_cast<uint8_t>((ch.waveControl & 0x0F) | (y << 4));
}

void retriggerLater(Engine& e, Channel& ch, uint8_t y) {
  if (y == 0 || tickInRow(e) % y != 0) return;
  startNote(e, 0, 0, 0, ch);
  retriggerInstrument(ch);
}

void fineVolumeUp(Engine&, Channel& ch, uint8_t y) {
  const int v = ch.volume + withMemory(y, ch.fineVolumeUpMemory);
  ch.volume = static_cast<uint8_t>(v < 64 ? v : 64);
  ch.outputVolume = ch.volume;
  ch.status |= Channel::volumeChanged;
}

void fineVolumeDown(Engine&, Channel& ch, uint8_t y) {
  const int v = ch.volume - withMemory(y, ch.fineVolumeDownMemory);
  ch.volume = static_cast<uint8_t>(v > 0 ? v : 0);
  ch.outputVolume = ch.volume;
  ch.status |= Channel::volumeChanged;
}

void noteCutFirst(Engine&, Channel& ch, uint8_t y) {
  if (y == 0) cut(ch);
}

void noteCutLater(Engine& e, Channel& ch, uint8_t y) {
  if (tickInRow(e) == y) cut(ch);
}

// The row left for later by the note delay, played now. The instrument is
// retriggered whatever the note was: a delayed key-off (97) is followed by the
// retrigger too, which holds the key again and restarts the envelopes, so it
// only silences an instrument without a volume envelope.
void noteDelayLater(Engine& e, Channel& ch, uint8_t y) {
  if (tickInRow(e) != y) return;
  startNote(e, ch.noteAndInstrument & 0xFF, 0, 0, ch);
  if ((ch.noteAndInstrument >> 8) != 0) restoreSampleVolumes(ch);
  retriggerInstrument(ch);
  reapplyVolumeColumn(ch);
}

void patternDelay(Engine& e, Channel&, uint8_t y) {
  if (e.song.patternDelayCounter == 0) e.song.patternDelay = static_cast<uint8_t>(y + 1);
}

}  // namespace

const EffectOperation firstTickExtended[16] = {
    none,                // 0
    finePortamentoUp,    // 1
    finePortamentoDown,  // 2
    glissandoControl,    // 3
    vibratoControl,      // 4
    none,                // 5 set finetune
    patternLoop,         // 6
    tremoloControl,      // 7
    none,                // 8
    none,                // 9 retrigger
    fineVolumeUp,        // A
    fineVolumeDown,      // B
    noteCutFirst,        // C
    none,                // D note delay
    patternDelay,        // E
    none,                // F
};

const EffectOperation laterTickExtended[16] = {
    none,            // 0
    none,            // 1
    none,            // 2
    none,            // 3
    none,            // 4
    none,            // 5
    none,            // 6
    none,            // 7
    none,            // 8
    retriggerLater,  // 9
    none,            // A
    none,            // B
    noteCutLater,    // C
    noteDelayLater,  // D
    none,            // E
    none,            // F
};

}  // namespace zv
