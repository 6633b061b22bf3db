// The volume column's twelve commands, x = the byte's low nibble. There is no
// parameter memory here: x = 0 means 0. Tone portamento (0xF0..0xFF) is set
// up by the tick engine before the first-tick table runs.
#include "replayer/volume_column.h"

#include "replayer/effects.h"

namespace zv {

namespace {

void setVolumes(Channel& ch, uint8_t v, uint8_t flags) {
  ch.volume = v;
  ch.outputVolume = v;
  ch.status |= flags;
}

uint8_t lowered(uint8_t value, uint8_t x) { return value > x ? static_cast<uint8_t>(value - x) : 0; }

uint8_t raised(uint8_t value, uint8_t x, int highest) {
  const int v = value + x;
  return static_cast<uint8_t>(v < highest ? v : highest);
}

// ---------------------------------------------------------------- first tick

void noneFirst(Engine&, Channel&, uint8_t&) {}

// 0x10..0x5F; 0x51..0x5F act as 0x50.
void setVolume(Engine&, Channel& ch, uint8_t& cell) {
  const int v = cell - 0x10;
  cell = static_cast<uint8_t>(v < 64 ? v : 64);
  setVolumes(ch, cell, Channel::volumeChanged | Channel::quickRamp);
}

void fineVolumeDown(Engine&, Channel& ch, uint8_t& cell) {
  cell = lowered(ch.volume, cell & 0x0F);
  setVolumes(ch, cell, Channel::volumeChanged);
}

void fineVolumeUp(Engine&, Channel& ch, uint8_t& cell) {
  cell = raised(ch.volume, cell & 0x0F, 64);
  setVolumes(ch, cell, Channel::volumeChanged);
}

void setVibratoSpeed(Engine&, Channel& ch, uint8_t& cell) {
  cell = static_cast<uint8_t>(4 * (cell & 0x0F));
  if (cell != 0) ch.vibratoSpeed = cell;
}

void setPanning(Engine&, Channel& ch, uint8_t& cell) {
  cell = static_cast<uint8_t>(16 * (cell & 0x0F));
  ch.panning = cell;
  ch.status |= Channel::panningChanged;
}

// ---------------------------------------------------------------- later ticks

void noneLater(Engine&, Channel&) {}

uint8_t lowNibble(const Channel& ch) { return ch.volumeColumn & 0x0F; }

void volumeSlideDown(Engine&, Channel& ch) {
  setVolumes(ch, lowered(ch.volume, lowNibble(ch)), Channel::volumeChanged);
}

void volumeSlideUp(Engine&, Channel& ch) {
  setVolumes(ch, raised(ch.volume, lowNibble(ch), 64), Channel::volumeChanged);
}

void vibrato(Engine&, Channel& ch) {
  const uint8_t depth = lowNibble(ch);
  if (depth != 0) ch.vibratoDepth = depth;
  vibratoStep(ch);
}

// x = 0 is not a no-operation: it moves the panning hard left.
void panningSlideLeft(Engine&, Channel& ch) {
  ch.panning = lowNibble(ch) == 0 ? 0 : lowered(ch.panning, lowNibble(ch));
  ch.status |= Channel::panningChanged;
}

void panningSlideRight(Engine&, Channel& ch) {
  ch.panning = raised(ch.panning, lowNibble(ch), 255);
  ch.status |= Channel::panningChanged;
}

void tonePortamento(Engine& e, Channel& ch) { tonePortamentoStep(e, ch); }

}  // namespace

const VolumeColumnFirstTick firstTickVolumeColumn[16] = {
    noneFirst,        // 0x00 nothing
    setVolume,        // 0x10
    setVolume,        // 0x20
    setVolume,        // 0x30
    setVolume,        // 0x40
    setVolume,        // 0x50
    noneFirst,        // 0x60 volume slide down
    noneFirst,        // 0x70 volume slide up
    fineVolumeDown,   // 0x80
    fineVolumeUp,     // 0x90
    setVibratoSpeed,  // 0xA0
    noneFirst,        // 0xB0 vibrato
    setPanning,       // 0xC0
    noneFirst,        // 0xD0 panning slide left
    noneFirst,        // 0xE0 panning slide right
    noneFirst,        // 0xF0 tone portamento
};

const VolumeColumnLaterTick laterTickVolumeColumn[16] = {
    noneLater,          // 0x00 (never called)
    noneLater,          // 0x10 set volume
    noneLater,          // 0x20
    noneLater,          // 0x30
    noneLater,          // 0x40
    noneLater,          // 0x50
    volumeSlideDown,    // 0x60
    volumeSlideUp,      // 0x70
    noneLater,          // 0x80 fine volume slide down
    noneLater,          // 0x90 fine volume slide up
    noneLater,          // 0xA0 set vibrato speed
    vibrato,            // 0xB0
    noneLater,          // 0xC0 set panning
    panningSlideLeft,   // 0xD0
    panningSlideRight,  // 0xE0
    tonePortamento,     // 0xF0
};

}  // namespace zv
